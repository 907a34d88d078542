// The two conversion exports through varcon.dll, as a COM component calls
// them: host arrays to VARIANTs and back, options, shapes and every failure
// raised as a host error, with nothing leaked and no data access left.
#include "conversion_support.h"
#include "variant_support.h"
#include "varcon.h"

#include <cmath>
#include <cstdint>


namespace {

class ToVariantTest : public HostLeakCheck {};

TEST_F(ToVariantTest, ScalarsOfEveryNumericClass) {
    struct Case {
        kaClassID classID;
        VARTYPE type;
        std::vector<uint8_t> bytes;  // one element
    };
    const Case cases[] = {
        {kaDOUBLE_CLASS, VT_R8, {0, 0, 0, 0, 0, 0, 0x0C, 0x40}},  // 3.5
        {kaSINGLE_CLASS, VT_R4, {0, 0, 0x60, 0x40}},               // 3.5f
        {kaINT8_CLASS, VT_I1, {0xF9}},
        {kaUINT8_CLASS, VT_UI1, {0xF9}},
        {kaINT16_CLASS, VT_I2, {0x34, 0x92}},
        {kaUINT16_CLASS, VT_UI2, {0x34, 0x92}},
        {kaINT32_CLASS, VT_I4, {1, 2, 3, 0x84}},
        {kaUINT32_CLASS, VT_UI4, {1, 2, 3, 0x84}},
    };
    const ConversionFlags flags = Flags();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.type);
        HostArray a(MakeHost(c.classID, 1, 1, c.bytes));
        Variant v;
        ASSERT_EQ(ToVariant(a, &v, &flags), "");
        EXPECT_EQ(v.vt(), c.type);
        EXPECT_EQ(memcmp(&V_I4(&v.v), c.bytes.data(), c.bytes.size()), 0);
    }
}

TEST_F(ToVariantTest, ComplexGivesItsRealPartOnly) {
    HostArray a(MakeHost(kaDOUBLE_CLASS, 1, 1, std::vector<double>{3}, kaCOMPLEX));
    static_cast<double *>(kaGetImagData(a))[0] = 4;
    const ConversionFlags flags = Flags();
    Variant v;
    ASSERT_EQ(ToVariant(a, &v, &flags), "");
    EXPECT_EQ(v.vt(), VT_R8);
    EXPECT_EQ(V_R8(&v.v), 3.0);
}

TEST_F(ToVariantTest, MatricesKeepShapeOrderAndGetLowerBoundsOne) {
    HostArray a(MakeHost(kaINT16_CLASS, 2, 3, std::vector<short>{1, 2, 3, 4, 5, 6}));
    const ConversionFlags flags = Flags();
    Variant v;
    ASSERT_EQ(ToVariant(a, &v, &flags), "");
    ASSERT_EQ(v.vt(), VT_ARRAY | VT_I2);
    EXPECT_EQ(CountsOf(V_ARRAY(&v.v)), (std::vector<ULONG>{2, 3}));
    EXPECT_EQ(LowerBoundsOf(V_ARRAY(&v.v)), (std::vector<LONG>{1, 1}));
    EXPECT_EQ(ElementsOf<short>(V_ARRAY(&v.v)), (std::vector<short>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(V_ARRAY(&v.v)->cLocks, 0u);

    HostArray row(Doubles(1, 3, {7, 8, 9}));
    Variant r;
    ASSERT_EQ(ToVariant(row, &r, &flags), "");
    EXPECT_EQ(CountsOf(V_ARRAY(&r.v)), (std::vector<ULONG>{1, 3})) << "a row stays two-dimensional";

    const int dims[] = {2, 1, 3};
    HostArray cube(kaCreateNumericArray(3, dims, kaUINT8_CLASS, kaREAL));
    Variant c;
    ASSERT_EQ(ToVariant(cube, &c, &flags), "");
    EXPECT_EQ(CountsOf(V_ARRAY(&c.v)), (std::vector<ULONG>{2, 1, 3}));
}

TEST_F(ToVariantTest, LogicalsBecomeBooleans) {
    HostArray row(MakeHost(kaDOUBLE_CLASS, 1, 3, std::vector<double>{1, 0, 2}));
    kaSetLogical(row, true);
    const ConversionFlags flags = Flags();
    Variant v;
    ASSERT_EQ(ToVariant(row, &v, &flags), "");
    ASSERT_EQ(v.vt(), VT_ARRAY | VT_BOOL);
    EXPECT_EQ(ElementsOf<VARIANT_BOOL>(V_ARRAY(&v.v)),
              (std::vector<VARIANT_BOOL>{VARIANT_TRUE, VARIANT_FALSE, VARIANT_TRUE}));

    HostArray one(MakeHost(kaUINT8_CLASS, 1, 1, std::vector<uint8_t>{0}));
    kaSetLogical(one, true);
    Variant s;
    ASSERT_EQ(ToVariant(one, &s, &flags), "");
    EXPECT_EQ(s.vt(), VT_BOOL);
    EXPECT_EQ(V_BOOL(&s.v), VARIANT_FALSE);
}

TEST_F(ToVariantTest, TextRowsBecomeStringsAndOtherShapesStringArrays) {
    const ConversionFlags flags = Flags();
    HostArray hello(kaCreateString("hello"));
    Variant h;
    ASSERT_EQ(ToVariant(hello, &h, &flags), "");
    ASSERT_EQ(h.vt(), VT_BSTR);
    EXPECT_EQ(WideOf(V_BSTR(&h.v)), L"hello");

    HostArray empty(kaCreateString(""));
    Variant e;
    ASSERT_EQ(ToVariant(empty, &e, &flags), "");
    ASSERT_EQ(e.vt(), VT_BSTR) << "a 1-by-0 text with data";
    EXPECT_EQ(SysStringLen(V_BSTR(&e.v)), 0u);

    HostArray grid(MakeHost(kaCHAR_CLASS, 2, 3, std::vector<kaChar>{'a', 'b', 'c', 'd', 'e', 'f'}));
    Variant g;
    ASSERT_EQ(ToVariant(grid, &g, &flags), "");
    ASSERT_EQ(g.vt(), VT_ARRAY | VT_BSTR);
    EXPECT_EQ(CountsOf(V_ARRAY(&g.v)), (std::vector<ULONG>{2, 3}));
    std::vector<BSTR> strings = ElementsOf<BSTR>(V_ARRAY(&g.v));
    std::wstring joined;
    for (BSTR s : strings) {
        EXPECT_EQ(SysStringLen(s), 1u);
        joined += WideOf(s);
    }
    EXPECT_EQ(joined, L"abcdef") << "column order";
}

TEST_F(ToVariantTest, CellsBecomeVariantArraysElementByElement) {
    HostArray cell(kaCreateCellMatrix(1, 4));
    kaSetCell(cell, 1, kaCreateString("ab"));
    const char *names[] = {"f"};
    kaSetCell(cell, 2, kaCreateStructMatrix(1, 1, 1, names));  // no conversion: stays empty
    kaSetCell(cell, 3, Doubles(1, 1, {2.5}));
    const ConversionFlags flags = Flags();
    Variant v;
    ASSERT_EQ(ToVariant(cell, &v, &flags), "") << "element failures are not reported";
    ASSERT_EQ(v.vt(), VT_ARRAY | VT_VARIANT);
    EXPECT_EQ(CountsOf(V_ARRAY(&v.v)), (std::vector<ULONG>{1, 4}));
    VARIANT *elements = nullptr;
    ASSERT_EQ(SafeArrayAccessData(V_ARRAY(&v.v), reinterpret_cast<void **>(&elements)), S_OK);
    EXPECT_EQ(V_VT(&elements[0]), VT_EMPTY);
    EXPECT_EQ(V_VT(&elements[1]), VT_BSTR);
    EXPECT_EQ(WideOf(V_BSTR(&elements[1])), L"ab");
    EXPECT_EQ(V_VT(&elements[2]), VT_EMPTY);
    EXPECT_EQ(V_VT(&elements[3]), VT_R8);
    EXPECT_EQ(V_R8(&elements[3]), 2.5);
    SafeArrayUnaccessData(V_ARRAY(&v.v));

    HostArray single(kaCreateCellMatrix(1, 1));
    kaSetCell(single, 0, kaCreateString("xy"));
    Variant s;
    ASSERT_EQ(ToVariant(single, &s, &flags), "");
    EXPECT_EQ(s.vt(), VT_ARRAY | VT_VARIANT) << "a one-element cell stays an array";
}

TEST_F(ToVariantTest, ArraysWithoutDataOrConversion) {
    const ConversionFlags flags = Flags();
    HostArray empty(kaCreateDoubleMatrix(0, 0, kaREAL));
    Variant e;
    V_VT(&e.v) = VT_I4;
    ASSERT_EQ(ToVariant(empty, &e, &flags), "");
    EXPECT_EQ(e.vt(), VT_EMPTY);

    const char *names[] = {"a"};
    HostArray unsupported[] = {HostArray(kaCreateStructMatrix(1, 1, 1, names)), HostArray(kaCreateSparse(2, 2, 1, kaREAL)),
                               HostArray(kaCreateNumericMatrix(1, 1, kaINT64_CLASS, kaREAL)),
                               HostArray(kaCreateNumericMatrix(1, 1, kaFUNCTION_CLASS, kaREAL))};
    for (HostArray &a : unsupported) {
        Variant v;
        V_VT(&v.v) = VT_BSTR;
        V_BSTR(&v.v) = SysAllocString(L"held before");  // freed by the conversion
        EXPECT_EQ(ToVariant(a, &v, &flags), "Data conversion error: Unsupported CORVEX type");
        EXPECT_EQ(v.vt(), VT_EMPTY);
    }
}

TEST_F(ToVariantTest, NullArgumentsAndNullObjects) {
    const ConversionFlags flags = Flags();
    HostArray a(Doubles(1, 1, {1}));
    Variant v;
    EXPECT_EQ(ToVariant(a, &v, nullptr), "Data conversion error: Invalid input");
    EXPECT_EQ(ToVariant(a, nullptr, &flags), "Data conversion error: Invalid input");
    V_VT(&v.v) = VT_I4;
    V_I4(&v.v) = 17;
    EXPECT_EQ(ToVariant(nullptr, &v, &flags), "");
    EXPECT_EQ(v.vt(), VT_I4) << "a null array leaves the target as it was";
    EXPECT_EQ(V_I4(&v.v), 17);

    Variant object;
    V_VT(&object.v) = VT_DISPATCH;
    V_DISPATCH(&object.v) = nullptr;
    EXPECT_EQ(ToVariant(a, &object, &flags), "Data conversion error: Invalid VARIANT data");
    EXPECT_EQ(object.vt(), VT_DISPATCH);
    Variant objectRef;
    V_VT(&objectRef.v) = VT_DISPATCH | VT_BYREF;
    V_DISPATCHREF(&objectRef.v) = nullptr;
    EXPECT_EQ(ToVariant(a, &objectRef, &flags), "Data conversion error: Invalid VARIANT data");
}

TEST_F(ToVariantTest, ByReferenceTargetsDropTheirReference) {
    LONG referenced = 5;
    VARIANT v;
    V_VT(&v) = VT_I4 | VT_BYREF;
    V_I4REF(&v) = &referenced;
    HostArray a(Doubles(1, 1, {2}));
    const ConversionFlags flags = Flags();
    ASSERT_EQ(ToVariant(a, &v, &flags), "");
    EXPECT_EQ(V_VT(&v), VT_R8);
    EXPECT_EQ(V_R8(&v), 2.0);
    EXPECT_EQ(referenced, 5);
}

TEST_F(ToVariantTest, ReverseDimsTransposesArraysButNotScalarsOrTextRows) {
    ConversionFlags flags = Flags();
    flags.reverseDims = 1;
    HostArray m(Doubles(2, 3, {1, 2, 3, 4, 5, 6}));  // (r, c) = 1 + r + 2c
    Variant v;
    ASSERT_EQ(ToVariant(m, &v, &flags), "");
    EXPECT_EQ(CountsOf(V_ARRAY(&v.v)), (std::vector<ULONG>{3, 2}));
    EXPECT_EQ(ElementsOf<double>(V_ARRAY(&v.v)), (std::vector<double>{1, 3, 5, 2, 4, 6}));

    HostArray one(Doubles(1, 1, {4}));
    Variant s;
    ASSERT_EQ(ToVariant(one, &s, &flags), "");
    EXPECT_EQ(s.vt(), VT_R8);

    HostArray row(kaCreateString("abcd"));
    Variant r;
    ASSERT_EQ(ToVariant(row, &r, &flags), "");
    EXPECT_EQ(r.vt(), VT_BSTR);

    HostArray grid(MakeHost(kaCHAR_CLASS, 2, 3, std::vector<kaChar>{'a', 'b', 'c', 'd', 'e', 'f'}));
    Variant g;
    ASSERT_EQ(ToVariant(grid, &g, &flags), "");
    EXPECT_EQ(CountsOf(V_ARRAY(&g.v)), (std::vector<ULONG>{3, 2}));
    std::wstring joined;
    for (BSTR b : ElementsOf<BSTR>(V_ARRAY(&g.v))) joined += WideOf(b);
    EXPECT_EQ(joined, L"acebdf");
}

TEST_F(ToVariantTest, ReverseDepthChoosesTheCellLevel) {
    HostArray cell(kaCreateCellMatrix(1, 2));
    kaSetCell(cell, 0, Doubles(2, 1, {1, 2}));
    kaSetCell(cell, 1, Doubles(1, 2, {3, 4}));
    for (int depth : {0, 1}) {
        SCOPED_TRACE(depth);
        ConversionFlags flags = Flags();
        flags.reverseDims = 1;
        flags.reverseDepth = depth;
        Variant v;
        ASSERT_EQ(ToVariant(cell, &v, &flags), "");
        EXPECT_EQ(CountsOf(V_ARRAY(&v.v)), depth == 0 ? (std::vector<ULONG>{2, 1}) : (std::vector<ULONG>{1, 2}));
        std::vector<VARIANT> elements = ElementsOf<VARIANT>(V_ARRAY(&v.v));
        EXPECT_EQ(CountsOf(V_ARRAY(&elements[0])), depth == 0 ? (std::vector<ULONG>{2, 1}) : (std::vector<ULONG>{1, 2}));
    }
}

// ---- VARIANTs to arrays ----

class FromVariantTest : public HostLeakCheck {};

TEST_F(FromVariantTest, ScalarsOfEveryTypeByValueAndByReference) {
    struct Case {
        VARTYPE type;
        std::vector<uint8_t> bytes;  // the value as stored in the VARIANT
        kaClassID classID;
        double expected;  // the element, read as double
        bool logical;
    };
    const Case cases[] = {
        {VT_I2, {0xFE, 0xFF}, kaINT16_CLASS, -2, false},
        {VT_I4, {0xFE, 0xFF, 0xFF, 0xFF}, kaINT32_CLASS, -2, false},
        {VT_R4, {0, 0, 0x20, 0x40}, kaSINGLE_CLASS, 2.5, false},
        {VT_R8, {0, 0, 0, 0, 0, 0, 0x04, 0x40}, kaDOUBLE_CLASS, 2.5, false},
        {VT_CY, {0x39, 0x30, 0, 0, 0, 0, 0, 0}, kaDOUBLE_CLASS, 12345 * 0.0001, false},
        {VT_DATE, {0, 0, 0, 0, 0, 0, 0, 0}, kaDOUBLE_CLASS, 693960, false},
        {VT_ERROR, {5, 0x40, 0x00, 0x80}, kaINT32_CLASS, static_cast<double>(INT32_C(-2147467259)), false},
        {VT_BOOL, {0xFF, 0xFF}, kaINT16_CLASS, -1, true},
        {VT_I1, {0x80}, kaINT8_CLASS, -128, false},
        {VT_UI1, {0xFF}, kaUINT8_CLASS, 255, false},
        {VT_UI2, {0xFF, 0xFF}, kaUINT16_CLASS, 65535, false},
        {VT_UI4, {0xFF, 0xFF, 0xFF, 0xFF}, kaUINT32_CLASS, 4294967295.0, false},
        {VT_INT, {7, 0, 0, 0}, kaINT32_CLASS, 7, false},
        {VT_UINT, {7, 0, 0, 0}, kaUINT32_CLASS, 7, false},
    };
    const ConversionFlags flags = Flags();
    for (const Case &c : cases) {
        for (bool byRef : {false, true}) {
            SCOPED_TRACE(testing::Message() << c.type << (byRef ? " by reference" : ""));
            uint8_t storage[16] = {};
            memcpy(storage, c.bytes.data(), c.bytes.size());
            VARIANT v;
            VariantInit(&v);
            if (byRef) {
                V_VT(&v) = c.type | VT_BYREF;
                V_BYREF(&v) = storage;
            } else {
                V_VT(&v) = c.type;
                memcpy(&V_I4(&v), storage, 8);
            }
            HostArray a;
            ASSERT_EQ(FromVariant(&v, a.slot(), &flags), "");
            ASSERT_NE(a.get(), nullptr);
            EXPECT_EQ(kaGetClassID(a), c.classID);
            EXPECT_EQ(DimsOf(a), (std::vector<int>{1, 1}));
            EXPECT_EQ(kaIsLogical(a), c.logical);
            double got = 0;
            switch (c.classID) {
            case kaDOUBLE_CLASS: got = kaGetPr(a)[0]; break;
            case kaSINGLE_CLASS: got = reinterpret_cast<float *>(kaGetPr(a))[0]; break;
            case kaINT8_CLASS: got = reinterpret_cast<int8_t *>(kaGetPr(a))[0]; break;
            case kaUINT8_CLASS: got = reinterpret_cast<uint8_t *>(kaGetPr(a))[0]; break;
            case kaINT16_CLASS: got = reinterpret_cast<int16_t *>(kaGetPr(a))[0]; break;
            case kaUINT16_CLASS: got = reinterpret_cast<uint16_t *>(kaGetPr(a))[0]; break;
            case kaINT32_CLASS: got = reinterpret_cast<int32_t *>(kaGetPr(a))[0]; break;
            case kaUINT32_CLASS: got = reinterpret_cast<uint32_t *>(kaGetPr(a))[0]; break;
            }
            EXPECT_EQ(got, c.expected);
        }
    }
}

TEST_F(FromVariantTest, DecimalStringsAndEmptyValues) {
    const ConversionFlags flags = Flags();
    Variant d;
    V_VT(&d.v) = VT_R8;
    V_R8(&d.v) = -7.25;
    ASSERT_EQ(VariantChangeType(&d.v, &d.v, 0, VT_DECIMAL), S_OK);
    HostArray a;
    ASSERT_EQ(FromVariant(&d, a.slot(), &flags), "");
    EXPECT_EQ(kaGetPr(a)[0], -7.25);

    Variant s;
    V_VT(&s.v) = VT_BSTR;
    V_BSTR(&s.v) = SysAllocStringLen(L"a\0b", 3);
    ASSERT_EQ(FromVariant(&s, a.slot(), &flags), "");
    EXPECT_EQ(DimsOf(a), (std::vector<int>{1, 3}));
    EXPECT_EQ(std::string(TextOf(a)), std::string("a\0b", 3)) << "code units as they stand";

    Variant e;
    V_VT(&e.v) = VT_BSTR;
    V_BSTR(&e.v) = SysAllocString(L"");
    ASSERT_EQ(FromVariant(&e, a.slot(), &flags), "");
    EXPECT_EQ(DimsOf(a), (std::vector<int>{1, 0}));

    for (VARTYPE none : {VT_EMPTY, VT_NULL}) {
        VARIANT v;
        V_VT(&v) = none;
        a.reset(Doubles(1, 1, {1}));  // replaced by the conversion
        ASSERT_EQ(FromVariant(&v, a.slot(), &flags), "");
        EXPECT_EQ(a.get(), nullptr);
    }
}

TEST_F(FromVariantTest, InvalidAndUnsupportedValuesRaise) {
    const ConversionFlags flags = Flags();
    auto make = [](VARTYPE vt, void *pointer) {
        VARIANT v;
        VariantInit(&v);
        V_VT(&v) = vt;
        V_BYREF(&v) = pointer;
        return v;
    };
    LONGLONG big = 5;
    struct Case {
        const char *what;
        VARIANT v;
        const char *message;
    };
    const Case cases[] = {
        {"empty by reference", make(VT_EMPTY | VT_BYREF, &big), "Data conversion error: Invalid VARIANT data"},
        {"null string", make(VT_BSTR, nullptr), "Data conversion error: Invalid VARIANT data"},
        {"null string reference", make(VT_BSTR | VT_BYREF, nullptr), "Data conversion error: Invalid VARIANT data"},
        {"null object", make(VT_DISPATCH, nullptr), "Data conversion error: Invalid VARIANT data"},
        {"null variant reference", make(VT_VARIANT | VT_BYREF, nullptr), "Data conversion error: Invalid VARIANT data"},
        {"null array", make(VT_ARRAY | VT_R8, nullptr), "Data conversion error: Invalid input"},
        {"null array reference", make(VT_ARRAY | VT_R8 | VT_BYREF, nullptr), "Data conversion error: Invalid VARIANT data"},
        {"int64 by reference", make(VT_I8 | VT_BYREF, &big), "Data conversion error: Invalid VARIANT data"},
        {"int64", make(VT_I8, nullptr), "Data conversion error: Unsupported VARIANT type"},
        {"unknown", make(VT_UNKNOWN, &big), "Data conversion error: Unsupported VARIANT type"},
        {"variant by value", make(VT_VARIANT, &big), "Data conversion error: Unsupported VARIANT type"},
        {"type 15", make(15, nullptr), "Data conversion error: Unsupported VARIANT type"},
        {"vector flag", make(VT_VECTOR | VT_I4, nullptr), "Data conversion error: Unsupported VARIANT type"},
    };
    for (const Case &c : cases) {
        HostArray a(Doubles(1, 1, {1}));
        EXPECT_EQ(FromVariant(&c.v, a.slot(), &flags), c.message) << c.what;
        EXPECT_EQ(a.get(), nullptr) << c.what;
    }
    HostArray a;
    EXPECT_EQ(FromVariant(nullptr, a.slot(), &flags), "Data conversion error: Invalid input");
    VARIANT empty;
    V_VT(&empty) = VT_EMPTY;
    EXPECT_EQ(FromVariant(&empty, nullptr, &flags), "Data conversion error: Invalid input");
    EXPECT_EQ(FromVariant(&empty, a.slot(), nullptr), "Data conversion error: Invalid input");

    ConversionFlags text = Flags();
    text.targetClass = kaCHAR_CLASS;
    VARIANT unknown = make(VT_UNKNOWN, &big);
    EXPECT_EQ(FromVariant(&unknown, a.slot(), &text), "");
    EXPECT_EQ(a.get(), nullptr) << "a value without text gives no array";
}

TEST_F(FromVariantTest, TargetClassCoercesAndTextOptions) {
    ConversionFlags toInt = Flags();
    toInt.targetClass = kaINT32_CLASS;
    Variant v;
    V_VT(&v.v) = VT_R8;
    V_R8(&v.v) = 2.5;
    HostArray a;
    ASSERT_EQ(FromVariant(&v, a.slot(), &toInt), "");
    ASSERT_EQ(kaGetClassID(a), kaINT32_CLASS);
    LONG expected = 0;
    VarI4FromR8(2.5, &expected);
    EXPECT_EQ(reinterpret_cast<int32_t *>(kaGetPr(a))[0], expected);

    ConversionFlags dates = Flags();
    dates.dateForm = 1;
    Variant d;
    V_VT(&d.v) = VT_DATE;
    V_DATE(&d.v) = 0.0;
    ASSERT_EQ(FromVariant(&d, a.slot(), &dates), "");
    BSTR text = nullptr;
    ASSERT_EQ(VarBstrFromDate(0.0, GetUserDefaultLCID(), LOCALE_NOUSEROVERRIDE, &text), S_OK);
    EXPECT_EQ(TextOf(a), std::string(text, text + SysStringLen(text)));
    SysFreeString(text);

    ConversionFlags asText = Flags();
    asText.targetClass = kaCHAR_CLASS;
    V_VT(&v.v) = VT_I4;
    V_I4(&v.v) = -42;
    ASSERT_EQ(FromVariant(&v, a.slot(), &asText), "");
    EXPECT_EQ(TextOf(a), "-42");
}

TEST_F(FromVariantTest, TargetClassesWithoutConverterAreRefused) {
    Variant v;
    V_VT(&v.v) = VT_R8;
    V_R8(&v.v) = 2.5;
    for (int target : {1, 2, 3, 5, 14, 15, 16, 17, 18, -1}) {
        ConversionFlags f = Flags();
        f.targetClass = target;
        HostArray a;
        EXPECT_EQ(FromVariant(&v, a.slot(), &f), "Data conversion error: Unsupported CORVEX type") << target;
        EXPECT_EQ(a.get(), nullptr);
    }
    ConversionFlags f = Flags();
    f.targetClass = kaINT64_CLASS;
    Variant s;
    V_VT(&s.v) = VT_BSTR;
    V_BSTR(&s.v) = SysAllocString(L"text");
    HostArray a;
    EXPECT_EQ(FromVariant(&s, a.slot(), &f), "") << "strings are text whatever the target class";
    EXPECT_EQ(TextOf(a), "text");
}

TEST_F(FromVariantTest, SafeArraysKeepShapeIgnoreBoundsAndCopyDirectly) {
    const ConversionFlags flags = Flags();
    SAFEARRAY *vector = MakeSafeArray(VT_R8, {4}, {0});
    FillSafeArray(vector, std::vector<double>{1, 2, 3, 4});
    VARIANT v;
    V_VT(&v) = VT_ARRAY | VT_R8;
    V_ARRAY(&v) = vector;
    HostArray a;
    ASSERT_EQ(FromVariant(&v, a.slot(), &flags), "");
    EXPECT_EQ(DimsOf(a), (std::vector<int>{1, 4})) << "a vector becomes a row";
    EXPECT_EQ(std::vector<double>(kaGetPr(a), kaGetPr(a) + 4), (std::vector<double>{1, 2, 3, 4}));
    EXPECT_EQ(vector->cLocks, 0u);

    SAFEARRAY *matrix = MakeSafeArray(VT_I2, {3, 2}, {-5, 7});
    FillSafeArray(matrix, std::vector<short>{1, 2, 3, 4, 5, 6});
    VARIANT m;
    V_VT(&m) = VT_ARRAY | VT_I2 | VT_BYREF;
    V_ARRAYREF(&m) = &matrix;
    ASSERT_EQ(FromVariant(&m, a.slot(), &flags), "");
    EXPECT_EQ(kaGetClassID(a), kaINT16_CLASS);
    EXPECT_EQ(DimsOf(a), (std::vector<int>{3, 2}));
    EXPECT_EQ(reinterpret_cast<short *>(kaGetPr(a))[5], 6);
    EXPECT_EQ(matrix->cLocks, 0u);

    ConversionFlags toSingle = Flags();
    toSingle.targetClass = kaSINGLE_CLASS;
    ASSERT_EQ(FromVariant(&m, a.slot(), &toSingle), "");
    EXPECT_EQ(kaGetClassID(a), kaSINGLE_CLASS);
    EXPECT_EQ(reinterpret_cast<float *>(kaGetPr(a))[4], 5.0f);

    SafeArrayDestroy(vector);
    SafeArrayDestroy(matrix);
}

TEST_F(FromVariantTest, ArraysAsTextAndArraysWithoutConversion) {
    SAFEARRAY *dates = MakeSafeArray(VT_DATE, {1, 2});
    FillSafeArray(dates, std::vector<DATE>{0.0, 36526.0});
    VARIANT v;
    V_VT(&v) = VT_ARRAY | VT_DATE;
    V_ARRAY(&v) = dates;
    ConversionFlags asText = Flags();
    asText.dateForm = 1;
    HostArray a;
    ASSERT_EQ(FromVariant(&v, a.slot(), &asText), "");
    ASSERT_EQ(kaGetClassID(a), kaCELL_CLASS) << "one text per date";
    EXPECT_EQ(DimsOf(a), (std::vector<int>{1, 2}));
    BSTR text = nullptr;
    VarBstrFromDate(36526.0, GetUserDefaultLCID(), LOCALE_NOUSEROVERRIDE, &text);
    EXPECT_EQ(TextOf(kaGetCell(a, 1)), std::string(text, text + SysStringLen(text)));
    SysFreeString(text);
    const ConversionFlags numbers = Flags();
    ASSERT_EQ(FromVariant(&v, a.slot(), &numbers), "");
    EXPECT_EQ(kaGetPr(a)[1], 36526.0 + 693960.0) << "day numbers";
    SafeArrayDestroy(dates);

    SAFEARRAY *objects = MakeSafeArray(VT_UNKNOWN, {2});
    V_VT(&v) = VT_ARRAY | VT_UNKNOWN;
    V_ARRAY(&v) = objects;
    EXPECT_EQ(FromVariant(&v, a.slot(), &numbers), "Data conversion error: Unsupported VARIANT type");
    EXPECT_EQ(objects->cLocks, 0u);
    EXPECT_EQ(SafeArrayDestroy(objects), S_OK);
}

TEST_F(FromVariantTest, EmptyDimensionsGiveEmptyArraysWithoutTouchingData) {
    const ConversionFlags flags = Flags();
    struct Case {
        VARTYPE type;
        std::vector<ULONG> counts;
        kaClassID classID;
        std::vector<int> dims;
    };
    const Case cases[] = {
        {VT_R8, {0, 3}, kaDOUBLE_CLASS, {0, 3}},
        {VT_I4, {2, 0}, kaINT32_CLASS, {2, 0}},
        {VT_R8, {0}, kaDOUBLE_CLASS, {1, 0}},
        {VT_VARIANT, {3, 0, 2}, kaCELL_CLASS, {3, 0, 2}},
        {VT_BSTR, {0, 0}, kaCELL_CLASS, {0, 0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.type);
        SAFEARRAY *sa = MakeSafeArray(c.type, c.counts);
        ASSERT_NE(sa, nullptr);
        VARIANT v;
        V_VT(&v) = VT_ARRAY | c.type;
        V_ARRAY(&v) = sa;
        HostArray a;
        ASSERT_EQ(FromVariant(&v, a.slot(), &flags), "");
        ASSERT_NE(a.get(), nullptr);
        EXPECT_EQ(kaGetClassID(a), c.classID);
        EXPECT_EQ(DimsOf(a), c.dims);
        EXPECT_EQ(kaGetNumberOfElements(a), 0);
        SafeArrayDestroy(sa);
    }
}

TEST_F(FromVariantTest, ElementWidthMustMatchTheNamedType) {
    SAFEARRAY *bytes = MakeSafeArray(VT_UI1, {4});
    VARIANT v;
    V_VT(&v) = VT_ARRAY | VT_R8;  // claims doubles, holds bytes
    V_ARRAY(&v) = bytes;
    const ConversionFlags flags = Flags();
    HostArray a;
    EXPECT_EQ(FromVariant(&v, a.slot(), &flags), "Data conversion error: Invalid VARIANT data");
    EXPECT_EQ(bytes->cLocks, 0u);
    SafeArrayDestroy(bytes);
}

TEST_F(FromVariantTest, VariantAndStringArraysBecomeCells) {
    SAFEARRAY *sa = MakeSafeArray(VT_VARIANT, {1, 3});
    VARIANT *elements = nullptr;
    SafeArrayAccessData(sa, reinterpret_cast<void **>(&elements));
    V_VT(&elements[0]) = VT_BSTR;
    V_BSTR(&elements[0]) = SysAllocString(L"abc");
    V_VT(&elements[1]) = VT_R8;
    V_R8(&elements[1]) = 4;
    SafeArrayUnaccessData(sa);
    VARIANT v;
    V_VT(&v) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(&v) = sa;
    const ConversionFlags flags = Flags();
    HostArray a;
    ASSERT_EQ(FromVariant(&v, a.slot(), &flags), "");
    ASSERT_EQ(kaGetClassID(a), kaCELL_CLASS);
    EXPECT_EQ(TextOf(kaGetCell(a, 0)), "abc");
    EXPECT_EQ(kaGetPr(kaGetCell(a, 1))[0], 4);
    EXPECT_EQ(kaGetCell(a, 2), nullptr) << "an empty element leaves its cell empty";

    ConversionFlags join = Flags();
    join.inputRegroup = REGROUP_JOIN;
    SafeArrayAccessData(sa, reinterpret_cast<void **>(&elements));
    VariantClear(&elements[0]);
    V_VT(&elements[0]) = VT_R8;
    V_R8(&elements[0]) = 3;
    SafeArrayUnaccessData(sa);
    ASSERT_EQ(FromVariant(&v, a.slot(), &join), "");
    EXPECT_EQ(kaGetClassID(a), kaDOUBLE_CLASS) << "joined into one numeric array";
    EXPECT_EQ(std::vector<double>(kaGetPr(a), kaGetPr(a) + 3), (std::vector<double>{3, 4, 0}));
    SafeArrayDestroy(sa);

    SAFEARRAY *strings = MakeSafeArray(VT_BSTR, {2});
    BSTR *texts = nullptr;
    SafeArrayAccessData(strings, reinterpret_cast<void **>(&texts));
    texts[1] = SysAllocString(L"zz");
    SafeArrayUnaccessData(strings);
    V_VT(&v) = VT_ARRAY | VT_BSTR;
    V_ARRAY(&v) = strings;
    ASSERT_EQ(FromVariant(&v, a.slot(), &flags), "");
    EXPECT_EQ(DimsOf(a), (std::vector<int>{1, 2}));
    EXPECT_EQ(DimsOf(kaGetCell(a, 0)), (std::vector<int>{1, 0})) << "a null string is the empty string";
    EXPECT_EQ(TextOf(kaGetCell(a, 1)), "zz");
    SafeArrayDestroy(strings);
}

TEST_F(FromVariantTest, FailingElementRaisesAndLeavesNothingBehind) {
    SAFEARRAY *sa = MakeSafeArray(VT_VARIANT, {3});
    VARIANT *elements = nullptr;
    SafeArrayAccessData(sa, reinterpret_cast<void **>(&elements));
    V_VT(&elements[0]) = VT_R8;
    V_VT(&elements[1]) = VT_UNKNOWN;
    V_UNKNOWN(&elements[1]) = nullptr;
    SafeArrayUnaccessData(sa);
    VARIANT v;
    V_VT(&v) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(&v) = sa;
    const ConversionFlags flags = Flags();
    HostArray a;
    EXPECT_EQ(FromVariant(&v, a.slot(), &flags), "Data conversion error: Invalid VARIANT data");
    EXPECT_EQ(a.get(), nullptr) << "the partly filled cell array is not left to leak";
    EXPECT_EQ(sa->cLocks, 0u);
    EXPECT_EQ(SafeArrayDestroy(sa), S_OK);
}

TEST_F(FromVariantTest, SelfReferringVariantIsInvalidNotEndless) {
    VARIANT loop;
    V_VT(&loop) = VT_VARIANT | VT_BYREF;
    V_VARIANTREF(&loop) = &loop;
    const ConversionFlags flags = Flags();
    HostArray a;
    EXPECT_EQ(FromVariant(&loop, a.slot(), &flags), "Data conversion error: Invalid VARIANT data");
}

TEST_F(FromVariantTest, RoundTripKeepsValuesAndShapes) {
    const ConversionFlags flags = Flags();
    HostArray cell(kaCreateCellMatrix(2, 2));
    kaSetCell(cell, 0, Doubles(2, 3, {1, 2, 3, 4, 5, 6}));
    kaSetCell(cell, 1, kaCreateString("text"));
    kaSetCell(cell, 3, MakeHost(kaUINT16_CLASS, 1, 2, std::vector<uint16_t>{7, 65535}));
    Variant v;
    ASSERT_EQ(ToVariant(cell, &v, &flags), "");
    HostArray back;
    ASSERT_EQ(FromVariant(&v, back.slot(), &flags), "");
    ASSERT_EQ(kaGetClassID(back), kaCELL_CLASS);
    EXPECT_EQ(DimsOf(back), (std::vector<int>{2, 2}));
    EXPECT_EQ(DimsOf(kaGetCell(back, 0)), (std::vector<int>{2, 3}));
    EXPECT_EQ(kaGetPr(kaGetCell(back, 0))[4], 5);
    EXPECT_EQ(TextOf(kaGetCell(back, 1)), "text");
    EXPECT_EQ(kaGetCell(back, 2), nullptr);
    EXPECT_EQ(kaGetClassID(kaGetCell(back, 3)), kaUINT16_CLASS);
    EXPECT_EQ(reinterpret_cast<uint16_t *>(kaGetPr(kaGetCell(back, 3)))[1], 65535);
}

}  // namespace
