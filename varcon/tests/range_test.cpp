// Reading and writing the Value of Automation objects, and fitting a
// spreadsheet Range to an array written into it, against the Range double.
//
// Every case ends with the double's books in balance (no object, type
// information or type attribute left with a reference, nothing released
// too often or used after its release) and with every call made the way an
// Automation client must make it (user locale, IID_NULL, one name per
// lookup, property get and put in their proper forms).
#include "hosttest.h"
#include "range_double.h"
#include "varcon_internal.h"

#include <cmath>
#include <functional>
#include <string>
#include <vector>

namespace {

// One VARIANT owned by a test.
class Var {
public:
    Var() { VariantInit(&v_); }
    ~Var() { VariantClear(&v_); }
    Var(const Var &) = delete;
    Var &operator=(const Var &) = delete;
    VARIANT *get() { return &v_; }
    const VARIANT &value() const { return v_; }

private:
    VARIANT v_;
};

// A caller's object slot: its reference is released when the test is done.
class Slot {
public:
    explicit Slot(IDispatch *object) : p(object) {}
    ~Slot() {
        if (p) p->Release();
    }
    Slot(const Slot &) = delete;
    Slot &operator=(const Slot &) = delete;
    RangeDouble *object() const { return RangeDouble::From(p); }
    IDispatch *p;
};

VARIANT R8(double value) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_R8;
    V_R8(&v) = value;
    return v;
}

VARIANT Object(IDispatch *object) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_DISPATCH;
    V_DISPATCH(&v) = object;  // not owned: Answer takes its own copy
    return v;
}

VARIANT Ref(VARTYPE type, void *referenced) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = static_cast<VARTYPE>(type | VT_BYREF);
    V_BYREF(&v) = referenced;
    return v;
}

double R8Of(const VARIANT &v) { return V_VT(&v) == VT_R8 ? V_R8(&v) : NAN; }

// rows by columns of VT_VARIANT (or VT_R8), lower bounds 1, element
// (r, c) = 10r + c.
SAFEARRAY *Matrix(ULONG rows, ULONG columns, VARTYPE type = VT_VARIANT) {
    SAFEARRAYBOUND bounds[2] = {{rows, 1}, {columns, 1}};
    SAFEARRAY *array = SafeArrayCreate(type, 2, bounds);
    for (LONG r = 1; r <= static_cast<LONG>(rows); ++r) {
        for (LONG c = 1; c <= static_cast<LONG>(columns); ++c) {
            LONG indices[2] = {r, c};
            VARIANT v = R8(10 * r + c);
            SafeArrayPutElement(array, indices, type == VT_R8 ? static_cast<void *>(&V_R8(&v)) : &v);
        }
    }
    return array;
}

// n elements of VT_VARIANT, lower bound 0, element k = k + 1.
SAFEARRAY *Vector(ULONG n) {
    SAFEARRAY *array = SafeArrayCreateVector(VT_VARIANT, 0, n);
    for (LONG k = 0; k < static_cast<LONG>(n); ++k) {
        VARIANT v = R8(k + 1);
        SafeArrayPutElement(array, &k, &v);
    }
    return array;
}

std::string Narrow(const std::wstring &w) { return std::string(w.begin(), w.end()); }

// The double's log in short: "2:TypeInfo" a GetTypeInfo of object 2,
// "2:?Value" a lookup, "2:Value" a property get, "2:Value=" a put,
// "2:Resize(4,1)" with its VT_I4 arguments in DISPPARAMS order, and "!"
// after a call that failed.
std::string Trace() {
    std::string out;
    for (const RangeDouble::Call &c : RangeDouble::Calls()) {
        if (!out.empty()) out += ' ';
        out += std::to_string(c.object) + ':';
        if (c.type == RangeDouble::Call::TypeInfo) out += "TypeInfo";
        if (c.type == RangeDouble::Call::Lookup) out += '?' + Narrow(c.name);
        if (c.type == RangeDouble::Call::Invoke) {
            out += c.name.empty() ? "<unknown id>" : Narrow(c.name);
            if (c.flags == DISPATCH_PROPERTYPUT) out += '=';
            if (!c.argTypes.empty() && c.flags != DISPATCH_PROPERTYPUT) {
                out += '(';
                for (size_t i = 0; i < c.argValues.size(); ++i)
                    out += (i ? "," : "") + std::to_string(c.argValues[i]);
                out += ')';
            }
        }
        if (FAILED(c.hr)) out += '!';
    }
    return out;
}

// Every call in the log made as an Automation client makes it.
void ExpectClientConventions() {
    const LCID locale = GetUserDefaultLCID();
    for (const RangeDouble::Call &c : RangeDouble::Calls()) {
        SCOPED_TRACE("call on object " + std::to_string(c.object) + " " + Narrow(c.name));
        EXPECT_EQ(c.lcid, locale);
        if (c.type == RangeDouble::Call::Lookup) {
            EXPECT_EQ(c.names, 1u);
            EXPECT_TRUE(c.iidNull);
        }
        if (c.type != RangeDouble::Call::Invoke) continue;
        EXPECT_TRUE(c.iidNull);
        EXPECT_FALSE(c.name.empty()) << "an id this object does not have: " << c.dispid;
        EXPECT_FALSE(c.excepInfo);
        EXPECT_FALSE(c.argErr);
        if (c.flags == DISPATCH_PROPERTYPUT) {
            EXPECT_EQ(c.argTypes.size(), 1u);
            EXPECT_EQ(c.named, std::vector<DISPID>{DISPID_PROPERTYPUT});
            EXPECT_FALSE(c.result);
            continue;
        }
        EXPECT_EQ(c.flags, DISPATCH_PROPERTYGET);
        EXPECT_TRUE(c.result);
        EXPECT_TRUE(c.named.empty());
        if (c.name == L"Resize") {
            EXPECT_EQ(c.argTypes, (std::vector<VARTYPE>{VT_I4, VT_I4}));
        } else {
            EXPECT_TRUE(c.argTypes.empty());
        }
    }
}

class RangeTest : public HostLeakCheck {
protected:
    // The end of one case: the calls made properly, every reference
    // balanced, then a fresh start for the next case.
    static void EndCase() {
        ExpectClientConventions();
        EXPECT_EQ(RangeDouble::Problems(), "");
        RangeDouble::Reset();
    }
    void TearDown() override {
        EndCase();
        HostLeakCheck::TearDown();
    }
};

TEST_F(RangeTest, GuidEqualsComparesAllSixteenBytes) {
    const GUID range = IID_Range;
    EXPECT_TRUE(GuidEquals(&range, &RangeDouble::kRangeIid));
    EXPECT_FALSE(GuidEquals(nullptr, &range));
    EXPECT_FALSE(GuidEquals(&range, nullptr));
    EXPECT_FALSE(GuidEquals(nullptr, nullptr));
    for (size_t i = 0; i < sizeof(GUID); ++i) {
        GUID other = range;
        reinterpret_cast<unsigned char *>(&other)[i] ^= 0x01;
        EXPECT_FALSE(GuidEquals(&range, &other)) << "byte " << i;
    }
}

TEST_F(RangeTest, IsRangeObjectGoesByTheTypeInformation) {
    struct Case {
        const char *label;
        bool plain;
        std::function<void(RangeDouble *)> setUp;
        HRESULT hr;
        bool isRange;
        const char *trace;
    };
    const Case cases[] = {
        {"a Range", false, [](RangeDouble *) {}, S_OK, true, "1:TypeInfo"},
        {"another interface", true, [](RangeDouble *) {}, S_OK, false, "1:TypeInfo"},
        {"GetTypeInfo fails", false, [](RangeDouble *d) { d->FailTypeInfo(E_NOTIMPL); }, E_NOTIMPL, false,
         "1:TypeInfo!"},
        {"GetTypeInfo gives none", false, [](RangeDouble *d) { d->FailTypeInfo(S_OK); }, E_NOINTERFACE, false,
         "1:TypeInfo"},
        {"GetTypeAttr fails", false, [](RangeDouble *d) { d->FailTypeAttr(E_OUTOFMEMORY); }, E_OUTOFMEMORY, false,
         "1:TypeInfo"},
        {"GetTypeAttr gives none", false, [](RangeDouble *d) { d->FailTypeAttr(S_OK); }, E_NOINTERFACE, false,
         "1:TypeInfo"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        {
            Slot object(c.plain ? RangeDouble::CreatePlain() : RangeDouble::Create(2, 2));
            c.setUp(object.object());
            bool isRange = !c.isRange;
            EXPECT_EQ(IsRangeObject(object.p, &isRange), c.hr);
            EXPECT_EQ(isRange, c.isRange);
            EXPECT_EQ(Trace(), c.trace);
        }
        EndCase();
    }
    Slot object(RangeDouble::Create(1, 1));
    bool isRange = true;
    EXPECT_EQ(IsRangeObject(nullptr, &isRange), E_INVALIDARG);
    EXPECT_EQ(IsRangeObject(object.p, nullptr), E_INVALIDARG);
    EXPECT_EQ(Trace(), "");
}

TEST_F(RangeTest, ReadGivesTheArrayAMultiCellRangeAnswers) {
    Slot range(RangeDouble::Create(3, 2));
    for (int r = 1; r <= 3; ++r)
        for (int c = 1; c <= 2; ++c) range.object()->SetCell(r, c, 10 * r + c);
    // Whatever the result held before is released.
    RangeDouble *previous = RangeDouble::CreatePlain();
    Var result;
    *result.get() = Object(previous);

    ASSERT_EQ(RangeReadValue(range.p, result.get()), S_OK);
    EXPECT_EQ(previous->refs(), 0u);
    EXPECT_EQ(Trace(), "1:TypeInfo 1:?Value 1:Value");
    ASSERT_EQ(V_VT(result.get()), VT_ARRAY | VT_VARIANT);
    SAFEARRAY *array = V_ARRAY(result.get());
    ASSERT_EQ(SafeArrayGetDim(array), 2u);
    LONG lower = 0, upper = 0;
    SafeArrayGetLBound(array, 1, &lower);
    SafeArrayGetUBound(array, 1, &upper);
    EXPECT_EQ(upper - lower + 1, 3);
    SafeArrayGetLBound(array, 2, &lower);
    SafeArrayGetUBound(array, 2, &upper);
    EXPECT_EQ(upper - lower + 1, 2);
    for (LONG r = 1; r <= 3; ++r) {
        for (LONG c = 1; c <= 2; ++c) {
            LONG indices[2] = {r, c};
            Var element;
            ASSERT_EQ(SafeArrayGetElement(array, indices, element.get()), S_OK);
            EXPECT_EQ(R8Of(element.value()), 10 * r + c) << r << "," << c;
        }
    }
    EXPECT_EQ(array->cLocks, 0u);

    // Every read looks the name up again.
    Var again;
    EXPECT_EQ(RangeReadValue(range.p, again.get()), S_OK);
    EXPECT_EQ(range.object()->LookedUp(L"Value"), 2);
}

// What a read makes of the values a Value property may answer: references
// are followed, objects are read in turn, missing references never read.
TEST_F(RangeTest, ReadFollowsReferencesAndObjects) {
    // Storage that by-reference answers point into; it outlives each read.
    struct Referenced {
        double r8 = 0;
        Var variant;
        Var inner;
        BSTR text = nullptr;
        IDispatch *object = nullptr;  // one reference, released at the end of the case
        ~Referenced() {
            SysFreeString(text);
            if (object) object->Release();
        }
    };
    // A 1-by-1 Range holding 6, for answers that are objects.
    auto six = [](Referenced &s) {
        RangeDouble *d = RangeDouble::Create(1, 1);
        d->SetCell(1, 1, 6);
        s.object = d;
        return d;
    };
    struct Case {
        const char *label;
        std::function<void(RangeDouble *, Referenced &)> setUp;
        HRESULT hr;
        VARTYPE type;
        double r8;  // for VT_R8
    };
    const Case cases[] = {
        {"its own cell", [](RangeDouble *d, Referenced &) { d->SetCell(1, 1, 4); }, S_OK, VT_R8, 4},
        {"a number", [](RangeDouble *d, Referenced &) { d->Answer(L"Value", R8(2.5)); }, S_OK, VT_R8, 2.5},
        {"a number by reference",
         [](RangeDouble *d, Referenced &s) {
             s.r8 = 3;
             d->Answer(L"Value", Ref(VT_R8, &s.r8));
         },
         S_OK, VT_R8, 3},
        {"a text by reference",
         [](RangeDouble *d, Referenced &s) {
             s.text = SysAllocString(L"abc");
             d->Answer(L"Value", Ref(VT_BSTR, &s.text));
         },
         S_OK, VT_BSTR, 0},
        {"a VARIANT by reference",
         [](RangeDouble *d, Referenced &s) {
             *s.variant.get() = R8(5);
             d->Answer(L"Value", Ref(VT_VARIANT, s.variant.get()));
         },
         S_OK, VT_R8, 5},
        {"a VARIANT by reference holding a number by reference",
         [](RangeDouble *d, Referenced &s) {
             s.r8 = 7;
             *s.variant.get() = Ref(VT_R8, &s.r8);
             d->Answer(L"Value", Ref(VT_VARIANT, s.variant.get()));
         },
         S_OK, VT_R8, 7},
        {"a VARIANT by reference holding a VARIANT by reference",
         [](RangeDouble *d, Referenced &s) {
             *s.inner.get() = R8(1);
             *s.variant.get() = Ref(VT_VARIANT, s.inner.get());
             d->Answer(L"Value", Ref(VT_VARIANT, s.variant.get()));
         },
         E_INVALIDARG, VT_EMPTY, 0},
        {"an object", [&six](RangeDouble *d, Referenced &s) { d->AnswerObject(L"Value", six(s)); }, S_OK, VT_R8, 6},
        {"an object by reference",
         [&six](RangeDouble *d, Referenced &s) {
             six(s);
             d->Answer(L"Value", Ref(VT_DISPATCH, &s.object));
         },
         S_OK, VT_R8, 6},
        {"a VARIANT by reference holding an object",
         [&six](RangeDouble *d, Referenced &s) {
             *s.variant.get() = Object(six(s));
             V_DISPATCH(s.variant.get())->AddRef();  // the VARIANT's own reference
             d->Answer(L"Value", Ref(VT_VARIANT, s.variant.get()));
         },
         S_OK, VT_R8, 6},
        {"an object whose type information fails",
         [&six](RangeDouble *d, Referenced &s) {
             six(s);
             RangeDouble::From(s.object)->FailTypeInfo(E_NOTIMPL);
             d->AnswerObject(L"Value", s.object);
         },
         E_NOTIMPL, VT_EMPTY, 0},
        {"a null object", [](RangeDouble *d, Referenced &) { d->AnswerObject(L"Value", nullptr); }, E_INVALIDARG,
         VT_EMPTY, 0},
        {"a null object reference", [](RangeDouble *d, Referenced &) { d->Answer(L"Value", Ref(VT_DISPATCH, nullptr)); },
         S_OK, VT_EMPTY, 0},
        {"a reference to a null object",
         [](RangeDouble *d, Referenced &s) { d->Answer(L"Value", Ref(VT_DISPATCH, &s.object)); }, S_OK, VT_EMPTY, 0},
        {"a null number reference", [](RangeDouble *d, Referenced &) { d->Answer(L"Value", Ref(VT_R8, nullptr)); },
         E_POINTER, VT_EMPTY, 0},
        {"a null VARIANT reference", [](RangeDouble *d, Referenced &) { d->Answer(L"Value", Ref(VT_VARIANT, nullptr)); },
         E_POINTER, VT_EMPTY, 0},
        {"a VARIANT by reference holding a null reference",
         [](RangeDouble *d, Referenced &s) {
             *s.variant.get() = Ref(VT_R8, nullptr);
             d->Answer(L"Value", Ref(VT_VARIANT, s.variant.get()));
         },
         E_POINTER, VT_EMPTY, 0},
        {"the get failing", [](RangeDouble *d, Referenced &) { d->FailInvoke(L"Value", DISP_E_EXCEPTION); },
         DISP_E_EXCEPTION, VT_EMPTY, 0},
        {"the lookup failing", [](RangeDouble *d, Referenced &) { d->FailLookup(L"Value", DISP_E_UNKNOWNNAME); },
         DISP_E_UNKNOWNNAME, VT_EMPTY, 0},
        {"no type information", [](RangeDouble *d, Referenced &) { d->FailTypeInfo(E_NOTIMPL); }, E_NOTIMPL, VT_EMPTY,
         0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        {
            Referenced storage;
            Slot range(RangeDouble::Create(1, 1));
            c.setUp(range.object(), storage);
            Var result;
            EXPECT_EQ(RangeReadValue(range.p, result.get()), c.hr);
            EXPECT_EQ(V_VT(result.get()), c.type);
            if (c.type == VT_R8) {
                EXPECT_EQ(V_R8(result.get()), c.r8);
            }
            if (c.type == VT_BSTR) {
                EXPECT_STREQ(V_BSTR(result.get()), L"abc");
                EXPECT_NE(V_BSTR(result.get()), storage.text) << "a copy, not the caller's string";
            }
        }
        EndCase();
    }
    // The type information is asked for before anything else.
    {
        Slot range(RangeDouble::Create(1, 1));
        range.object()->FailTypeInfo(E_NOTIMPL);
        Var result;
        RangeReadValue(range.p, result.get());
        EXPECT_EQ(Trace(), "1:TypeInfo!");
    }
    EndCase();
    Slot range(RangeDouble::Create(1, 1));
    Var result;
    EXPECT_EQ(RangeReadValue(nullptr, result.get()), E_INVALIDARG);
    EXPECT_EQ(RangeReadValue(range.p, nullptr), E_INVALIDARG);
    EXPECT_EQ(Trace(), "");
}

// Objects whose Value is the next object: followed to the end of the chain
// as long as the chain is no longer than the bound; longer chains, and an
// object whose Value is itself, fail instead of exhausting the stack.
TEST_F(RangeTest, ChainOfObjectsIsFollowedUpToItsBound) {
    const HRESULT tooDeep = HRESULT_FROM_WIN32(ERROR_STACK_OVERFLOW);
    for (int length : {2, kRangeValueChainLimit, kRangeValueChainLimit + 1}) {
        SCOPED_TRACE(length);
        {
            std::vector<RangeDouble *> chain;
            for (int i = 0; i < length; ++i) chain.push_back(i % 2 ? RangeDouble::CreatePlain() : RangeDouble::Create(1, 1));
            for (int i = 0; i + 1 < length; ++i) chain[i]->AnswerObject(L"Value", chain[i + 1]);
            chain.back()->SetCell(1, 1, 9);
            Var result;
            const HRESULT hr = RangeReadValue(chain.front(), result.get());
            if (length <= kRangeValueChainLimit) {
                EXPECT_EQ(hr, S_OK);
                EXPECT_EQ(R8Of(result.value()), 9);
                EXPECT_EQ(chain.back()->Invoked(L"Value"), 1);
            } else {
                EXPECT_EQ(hr, tooDeep);
                EXPECT_EQ(V_VT(result.get()), VT_EMPTY);
                EXPECT_EQ(chain[kRangeValueChainLimit - 1]->Invoked(L"Value"), 1);
                EXPECT_EQ(chain.back()->Invoked(L"Value"), 0);
            }
            for (RangeDouble *d : chain) d->Release();
        }
        EndCase();
    }
    Slot self(RangeDouble::Create(1, 1));
    self.object()->AnswerSelf(L"Value");
    Var result;
    EXPECT_EQ(RangeReadValue(self.p, result.get()), tooDeep);
    EXPECT_EQ(self.object()->Invoked(L"Value"), kRangeValueChainLimit);
    EXPECT_EQ(self.object()->refs(), 1u);
}

// Writing with and without fitting. The caller's value is never changed;
// the slot holds the resized Range afterwards when there was a resize, with
// the old one released.
TEST_F(RangeTest, WriteFitsARangeToTheArrayWrittenIntoIt) {
    struct Value {
        Var direct;
        Var variant;  // what a VT_VARIANT reference refers to
        SAFEARRAY *referenced = nullptr;
        ~Value() { SafeArrayDestroy(referenced); }
    };
    using Make = std::function<void(Value &)>;
    const Make vector4 = [](Value &v) {
        V_VT(v.direct.get()) = VT_ARRAY | VT_VARIANT;
        V_ARRAY(v.direct.get()) = Vector(4);
    };
    const Make matrix3x2 = [](Value &v) {
        V_VT(v.direct.get()) = VT_ARRAY | VT_VARIANT;
        V_ARRAY(v.direct.get()) = Matrix(3, 2);
    };
    const Make scalar = [](Value &v) { *v.direct.get() = R8(8); };
    const Make vectorByRef = [](Value &v) {
        v.referenced = Vector(4);
        *v.direct.get() = Ref(VT_ARRAY | VT_VARIANT, &v.referenced);
    };
    const Make refToNullArray = [](Value &v) { *v.direct.get() = Ref(VT_ARRAY | VT_VARIANT, &v.referenced); };
    const Make nullArrayRef = [](Value &v) { *v.direct.get() = Ref(VT_ARRAY | VT_VARIANT, nullptr); };
    const Make nullArray = [](Value &v) { V_VT(v.direct.get()) = VT_ARRAY | VT_VARIANT; };
    const Make variantRefToVector = [](Value &v) {
        V_VT(v.variant.get()) = VT_ARRAY | VT_VARIANT;
        V_ARRAY(v.variant.get()) = Vector(4);
        *v.direct.get() = Ref(VT_VARIANT, v.variant.get());
    };
    const Make emptyVector = [](Value &v) {
        V_VT(v.direct.get()) = VT_ARRAY | VT_VARIANT;
        V_ARRAY(v.direct.get()) = Vector(0);
    };
    const auto none = [](RangeDouble *) {};
    // A put the double refuses answers DISP_E_EXCEPTION, as DispInvoke
    // reports any failure of the member it called.
    const char *sized = "1:TypeInfo 1:?Rows 1:?Columns 1:?Count 1:Rows 2:Count 1:Columns 3:Count";
    const std::string resized = std::string(sized) + " 1:?Resize";

    struct Case {
        const char *label;
        int rows, columns;  // 0: an object that is not a Range
        Make value;
        bool fit;
        std::function<void(RangeDouble *)> setUp;
        HRESULT hr;
        std::string trace;
        int finalRows, finalColumns;  // of the object in the slot afterwards
        double firstCell;             // cell (1, 1) afterwards, NAN: not a number
    };
    const Case cases[] = {
        {"1x4 into one cell, fit", 1, 1, vector4, true, none, S_OK, resized + " 1:Resize(4,1) 4:?Value 4:Value=", 1, 4,
         1},
        {"1x4 into one cell, no fit", 1, 1, vector4, false, none, S_OK, "1:TypeInfo 1:?Value 1:Value=", 1, 1, 1},
        {"3x2 into 2x2, fit", 2, 2, matrix3x2, true, none, S_OK, resized + " 1:Resize(2,3) 4:?Value 4:Value=", 3, 2,
         11},
        {"3x2 into 3x2, fit: no resize", 3, 2, matrix3x2, true, none, S_OK, std::string(sized) + " 1:?Value 1:Value=",
         3, 2, 11},
        {"a number, fit: no resize", 1, 1, scalar, true, none, S_OK, "1:TypeInfo 1:?Value 1:Value=", 1, 1, 8},
        {"not a Range, fit: no resize", 0, 0, vector4, true, none, S_OK, "1:TypeInfo 1:?Value 1:Value=", 1, 1, 1},
        {"an array by reference, fit: the array it refers to", 1, 1, vectorByRef, true, none, S_OK,
         resized + " 1:Resize(4,1) 4:?Value 4:Value=", 1, 4, 1},
        {"a VARIANT by reference holding an array, fit: not an array itself", 1, 1, variantRefToVector, true, none,
         S_OK, "1:TypeInfo 1:?Value 1:Value=", 1, 1, 1},
        {"a reference to no array, fit", 1, 1, refToNullArray, true, none, DISP_E_EXCEPTION,
         "1:TypeInfo 1:?Value 1:Value=!", 1, 1, NAN},
        {"a null array reference, fit", 1, 1, nullArrayRef, true, none, DISP_E_EXCEPTION, "1:TypeInfo 1:?Value 1:Value=!", 1,
         1, NAN},
        {"a null array, fit", 1, 1, nullArray, true, none, DISP_E_EXCEPTION, "1:TypeInfo 1:?Value 1:Value=!", 1, 1, NAN},
        {"an array without elements, fit: no size to fit", 2, 2, emptyVector, true, none, S_OK,
         "1:TypeInfo 1:?Value 1:Value=", 2, 2, NAN},
        {"the resize failing: written at the old size", 1, 1, vector4, true,
         [](RangeDouble *d) { d->FailInvoke(L"Resize", E_FAIL); }, S_OK, resized + " 1:Resize(4,1)! 1:?Value 1:Value=",
         1, 1, 1},
        {"the size query failing: written at the old size", 1, 1, vector4, true,
         [](RangeDouble *d) { d->FailLookup(L"Count", DISP_E_UNKNOWNNAME); }, S_OK,
         "1:TypeInfo 1:?Rows 1:?Columns 1:?Count! 1:?Value 1:Value=", 1, 1, 1},
        {"the resize answering no object", 1, 1, vector4, true,
         [](RangeDouble *d) {
             VARIANT n;
             VariantInit(&n);
             V_VT(&n) = VT_I4;
             d->Answer(L"Resize", n);
         },
         S_OK, resized + " 1:Resize(4,1) 1:?Value 1:Value=", 1, 1, 1},
        {"the resize answering the Range itself", 1, 1, vector4, true,
         [](RangeDouble *d) { d->AnswerSelf(L"Resize"); }, S_OK, resized + " 1:Resize(4,1) 1:?Value 1:Value=", 1, 1,
         1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        {
            Value value;
            c.value(value);
            const VARIANT before = value.direct.value();
            Slot slot(c.rows ? RangeDouble::Create(c.rows, c.columns) : RangeDouble::CreatePlain());
            RangeDouble *original = slot.object();
            c.setUp(original);

            EXPECT_EQ(RangeWriteValue(value.direct.get(), &slot.p, c.fit), c.hr);
            EXPECT_EQ(Trace(), c.trace);
            RangeDouble *now = slot.object();
            ASSERT_NE(now, nullptr);
            EXPECT_EQ(now->rows(), c.finalRows);
            EXPECT_EQ(now->columns(), c.finalColumns);
            if (std::isnan(c.firstCell)) {
                EXPECT_NE(V_VT(&now->Cell(1, 1)), VT_R8);
            } else {
                EXPECT_EQ(R8Of(now->Cell(1, 1)), c.firstCell);
            }
            // One reference in the slot, the old Range's released when it
            // was replaced.
            EXPECT_EQ(now->refs(), 1u);
            if (now != original) {
                EXPECT_EQ(original->refs(), 0u);
            }
            // The caller's value as it was.
            EXPECT_EQ(V_VT(value.direct.get()), V_VT(&before));
            EXPECT_EQ(V_BYREF(value.direct.get()), V_BYREF(&before));
            if ((V_VT(&before) & VT_ARRAY) && !(V_VT(&before) & VT_BYREF) && V_ARRAY(&before)) {
                EXPECT_EQ(V_ARRAY(&before)->cLocks, 0u);
            }
        }
        EndCase();
    }
}

// The cells of the resized Range hold the array, whether its elements are
// VARIANTs or plain numbers.
TEST_F(RangeTest, ResizedRangeHoldsTheWholeArray) {
    for (VARTYPE type : {VT_VARIANT, VT_R8}) {
        SCOPED_TRACE(type);
        {
            Var value;
            V_VT(value.get()) = VT_ARRAY | type;
            V_ARRAY(value.get()) = Matrix(3, 2, type);
            Slot slot(RangeDouble::Create(1, 1));
            ASSERT_EQ(RangeWriteValue(value.get(), &slot.p, true), S_OK);
            RangeDouble *range = slot.object();
            ASSERT_EQ(range->rows(), 3);
            ASSERT_EQ(range->columns(), 2);
            for (int r = 1; r <= 3; ++r)
                for (int c = 1; c <= 2; ++c) EXPECT_EQ(R8Of(range->Cell(r, c)), 10 * r + c) << r << "," << c;
        }
        EndCase();
    }
}

TEST_F(RangeTest, WriteFailuresAndMissingArguments) {
    struct Case {
        const char *label;
        std::function<void(RangeDouble *)> setUp;
        HRESULT hr;
        const char *trace;
    };
    const Case cases[] = {
        {"no type information", [](RangeDouble *d) { d->FailTypeInfo(E_NOTIMPL); }, E_NOTIMPL, "1:TypeInfo!"},
        {"no type attribute", [](RangeDouble *d) { d->FailTypeAttr(E_OUTOFMEMORY); }, E_OUTOFMEMORY, "1:TypeInfo"},
        {"the lookup failing", [](RangeDouble *d) { d->FailLookup(L"Value", DISP_E_UNKNOWNNAME); }, DISP_E_UNKNOWNNAME,
         "1:TypeInfo 1:?Value!"},
        {"the put failing", [](RangeDouble *d) { d->FailInvoke(L"Value", DISP_E_EXCEPTION); }, DISP_E_EXCEPTION,
         "1:TypeInfo 1:?Value 1:Value=!"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        {
            Var value;
            *value.get() = R8(1);
            Slot slot(RangeDouble::Create(1, 1));
            RangeDouble *range = slot.object();
            c.setUp(range);
            EXPECT_EQ(RangeWriteValue(value.get(), &slot.p, true), c.hr);
            EXPECT_EQ(Trace(), c.trace);
            EXPECT_EQ(slot.object(), range);
            EXPECT_EQ(V_VT(&range->Cell(1, 1)), VT_EMPTY);
        }
        EndCase();
    }
    Var value;
    *value.get() = R8(1);
    Slot slot(RangeDouble::Create(1, 1));
    IDispatch *nothing = nullptr;
    EXPECT_EQ(RangeWriteValue(value.get(), nullptr, true), E_INVALIDARG);
    EXPECT_EQ(RangeWriteValue(value.get(), &nothing, true), S_OK);
    EXPECT_EQ(RangeWriteValue(nullptr, &slot.p, true), S_OK);
    EXPECT_EQ(RangePutValue(nullptr, value.get()), E_INVALIDARG);
    EXPECT_EQ(RangePutValue(slot.p, nullptr), E_INVALIDARG);
    EXPECT_EQ(Trace(), "");
    EXPECT_EQ(nothing, nullptr);
}

TEST_F(RangeTest, ResizeChecksItsArgumentsAndKeepsTheSlotOwned) {
    const auto none = [](RangeDouble *) {};
    const std::string sized = "1:?Rows 1:?Columns 1:?Count 1:Rows 2:Count 1:Columns 3:Count";
    struct Case {
        const char *label;
        int rows, columns;
        std::function<void(RangeDouble *)> setUp;
        HRESULT hr;
        std::string trace;
        bool replaced;
    };
    const Case cases[] = {
        {"to 2x3", 2, 3, none, S_OK, sized + " 1:?Resize 1:Resize(3,2)", true},
        {"to its own size", 1, 1, none, S_OK, sized, false},
        {"no rows", 0, 3, none, E_INVALIDARG, "", false},
        {"no columns", 2, 0, none, E_INVALIDARG, "", false},
        {"negative", -1, -1, none, E_INVALIDARG, "", false},
        {"the size failing", 2, 3, [](RangeDouble *d) { d->FailInvoke(L"Rows", E_FAIL); }, E_FAIL,
         "1:?Rows 1:?Columns 1:?Count 1:Rows!", false},
        {"the lookup failing", 2, 3, [](RangeDouble *d) { d->FailLookup(L"Resize", DISP_E_UNKNOWNNAME); },
         DISP_E_UNKNOWNNAME, sized + " 1:?Resize!", false},
        {"the get failing", 2, 3, [](RangeDouble *d) { d->FailInvoke(L"Resize", DISP_E_EXCEPTION); },
         DISP_E_EXCEPTION, sized + " 1:?Resize 1:Resize(3,2)!", false},
        {"a null object answered", 2, 3, [](RangeDouble *d) { d->AnswerObject(L"Resize", nullptr); }, S_OK,
         sized + " 1:?Resize 1:Resize(3,2)", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        {
            Slot slot(RangeDouble::Create(1, 1));
            RangeDouble *original = slot.object();
            c.setUp(original);
            EXPECT_EQ(RangeResize(&slot.p, c.rows, c.columns), c.hr);
            EXPECT_EQ(Trace(), c.trace);
            RangeDouble *now = slot.object();
            EXPECT_EQ(now != original, c.replaced);
            EXPECT_EQ(now->refs(), 1u);
            if (c.replaced) {
                EXPECT_EQ(original->refs(), 0u);
                EXPECT_EQ(now->rows(), c.rows);
                EXPECT_EQ(now->columns(), c.columns);
            }
        }
        EndCase();
    }
    IDispatch *nothing = nullptr;
    EXPECT_EQ(RangeResize(nullptr, 1, 1), E_INVALIDARG);
    EXPECT_EQ(RangeResize(&nothing, 2, 2), S_OK);
    EXPECT_EQ(RangeResize(&nothing, 0, 2), E_INVALIDARG);
}

TEST_F(RangeTest, GetSizeCountsRowsAndColumnsObjects) {
    // An object to stand as Rows or Columns, whose Count answers the value.
    struct Part {
        IDispatch *object = nullptr;
        ~Part() {
            if (object) object->Release();
        }
    };
    auto countAnswering = [](Part &p, VARIANT count) {
        RangeDouble *d = RangeDouble::Create(1, 1);
        d->Answer(L"Count", count);
        VariantClear(&count);
        p.object = d;
        return d;
    };
    auto text = [](const wchar_t *s) {
        VARIANT v;
        VariantInit(&v);
        V_VT(&v) = VT_BSTR;
        V_BSTR(&v) = SysAllocString(s);
        return v;
    };
    VARIANT number;
    VariantInit(&number);
    V_VT(&number) = VT_I4;
    V_I4(&number) = 5;
    struct Case {
        const char *label;
        std::function<void(RangeDouble *, Part &)> setUp;
        HRESULT hr;
        int rows, columns;
        const char *trace;
    };
    const Case cases[] = {
        {"3x2", [](RangeDouble *, Part &) {}, S_OK, 3, 2,
         "1:?Rows 1:?Columns 1:?Count 1:Rows 2:Count 1:Columns 3:Count"},
        {"Rows not an object", [number](RangeDouble *d, Part &) { d->Answer(L"Rows", number); }, S_OK, 0, 0,
         "1:?Rows 1:?Columns 1:?Count 1:Rows"},
        {"Rows a null object", [](RangeDouble *d, Part &) { d->AnswerObject(L"Rows", nullptr); }, S_OK, 0, 0,
         "1:?Rows 1:?Columns 1:?Count 1:Rows"},
        {"Columns not an object", [](RangeDouble *d, Part &) { d->Answer(L"Columns", VARIANT{}); }, S_OK, 3, 0,
         "1:?Rows 1:?Columns 1:?Count 1:Rows 2:Count 1:Columns"},
        {"a Count that is a double",
         [&countAnswering](RangeDouble *d, Part &p) { d->AnswerObject(L"Rows", countAnswering(p, R8(4))); }, S_OK, 4,
         2, "1:?Rows 1:?Columns 1:?Count 1:Rows 2:Count 1:Columns 3:Count"},
        {"a Count that is a number in text",
         [&](RangeDouble *d, Part &p) { d->AnswerObject(L"Columns", countAnswering(p, text(L"7"))); }, S_OK, 3, 7,
         "1:?Rows 1:?Columns 1:?Count 1:Rows 3:Count 1:Columns 2:Count"},
        {"a Count that is no number",
         [&](RangeDouble *d, Part &p) { d->AnswerObject(L"Rows", countAnswering(p, text(L"many"))); },
         DISP_E_TYPEMISMATCH, 0, 0, "1:?Rows 1:?Columns 1:?Count 1:Rows 2:Count"},
        {"the Count lookup failing", [](RangeDouble *d, Part &) { d->FailLookup(L"Count", DISP_E_UNKNOWNNAME); },
         DISP_E_UNKNOWNNAME, 0, 0, "1:?Rows 1:?Columns 1:?Count!"},
        {"the Columns get failing", [](RangeDouble *d, Part &) { d->FailInvoke(L"Columns", E_FAIL); }, E_FAIL, 3, 0,
         "1:?Rows 1:?Columns 1:?Count 1:Rows 2:Count 1:Columns!"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        {
            Part part;
            Slot range(RangeDouble::Create(3, 2));
            c.setUp(range.object(), part);
            int rows = -5, columns = -5;
            EXPECT_EQ(RangeGetSize(range.p, &rows, &columns), c.hr);
            EXPECT_EQ(rows, c.rows);
            EXPECT_EQ(columns, c.columns);
            EXPECT_EQ(Trace(), c.trace);
        }
        EndCase();
    }
    Slot range(RangeDouble::Create(3, 2));
    int rows = -5, columns = -5;
    EXPECT_EQ(RangeGetSize(nullptr, &rows, &columns), E_INVALIDARG);
    EXPECT_EQ(RangeGetSize(range.p, nullptr, &columns), E_INVALIDARG);
    EXPECT_EQ(RangeGetSize(range.p, &rows, nullptr), E_INVALIDARG);
    EXPECT_EQ(rows, -5);
    EXPECT_EQ(columns, -5);
    EXPECT_EQ(Trace(), "");
}

TEST_F(RangeTest, ShapeComesOnlyFromAnArrayHeldDirectly) {
    SAFEARRAYBOUND cube[3] = {{2, 0}, {3, 0}, {4, 0}};
    SAFEARRAYBOUND flat[2] = {{0, 1}, {5, 1}};
    SAFEARRAY *arrays[] = {Vector(4), Matrix(3, 2), SafeArrayCreate(VT_VARIANT, 3, cube),
                           SafeArrayCreate(VT_VARIANT, 2, flat)};
    SAFEARRAY noDimensions = {};  // a record only: never created, accessed or destroyed
    struct Case {
        const char *label;
        VARTYPE type;
        void *pointer;
        bool shaped;
        int rows, columns;
    };
    const Case cases[] = {
        {"1-D of 4", VT_ARRAY | VT_VARIANT, arrays[0], true, 1, 4},
        {"3x2", VT_ARRAY | VT_VARIANT, arrays[1], true, 3, 2},
        {"2x3x4: the last two dimensions", VT_ARRAY | VT_VARIANT, arrays[2], true, 3, 4},
        {"0x5", VT_ARRAY | VT_VARIANT, arrays[3], true, 0, 5},
        {"no dimensions", VT_ARRAY | VT_R8, &noDimensions, true, 1, 1},
        {"by reference", VT_ARRAY | VT_VARIANT | VT_BYREF, &arrays[0], false, -5, -5},
        {"a null array", VT_ARRAY | VT_VARIANT, nullptr, false, -5, -5},
        {"not an array", VT_R8, nullptr, false, -5, -5},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        VARIANT v;
        VariantInit(&v);
        V_VT(&v) = c.type;
        V_BYREF(&v) = c.pointer;
        int rows = -5, columns = -5;
        EXPECT_EQ(RangeShapeOf(&v, &rows, &columns), c.shaped);
        EXPECT_EQ(rows, c.rows);
        EXPECT_EQ(columns, c.columns);
    }
    int rows = -5, columns = -5;
    VARIANT v;
    V_VT(&v) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(&v) = arrays[0];
    EXPECT_FALSE(RangeShapeOf(nullptr, &rows, &columns));
    EXPECT_FALSE(RangeShapeOf(&v, nullptr, &columns));
    EXPECT_FALSE(RangeShapeOf(&v, &rows, nullptr));
    for (SAFEARRAY *a : arrays) SafeArrayDestroy(a);
}

// An object that is not a Range but has a Value is read and written like
// one, and never asked for its size or resized.
TEST_F(RangeTest, ObjectWithValueIsReadAndWrittenNeverResized) {
    Slot plain(RangeDouble::CreatePlain());
    Var value;
    V_VT(value.get()) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(value.get()) = Matrix(3, 2);
    ASSERT_EQ(RangeWriteValue(value.get(), &plain.p, true), S_OK);
    Var result;
    ASSERT_EQ(RangeReadValue(plain.p, result.get()), S_OK);
    EXPECT_EQ(R8Of(result.value()), 11);
    EXPECT_EQ(Trace(), "1:TypeInfo 1:?Value 1:Value= 1:TypeInfo 1:?Value 1:Value");
}

}  // namespace
