// Randomized conversions with a fixed seed. Random host arrays of every
// class and shape go through zrtkaArray2Variant and back and must come out
// as the conversion rules say; random, malformed VARIANTs and random option
// records must give a status or a host error, never a crash, and leave
// nothing behind.
//
// VARCON_RANDOM_CASES sets the number of cases of each test (default 400);
// bench/varcon_random_long.sh runs a long series.
#include "options_double.h"
#include "variant_support.h"
#include "varcon.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <random>


namespace {

int CaseCount() {
    const char *text = getenv("VARCON_RANDOM_CASES");
    const int n = text ? atoi(text) : 0;
    return n > 0 ? n : 400;
}

typedef std::mt19937 Random;

int Pick(Random &rng, int below) { return static_cast<int>(rng() % static_cast<unsigned>(below)); }
bool Chance(Random &rng, int percent) { return Pick(rng, 100) < percent; }

// ---- random host arrays ----

std::vector<int> RandomDims(Random &rng, bool allowEmpty) {
    std::vector<int> dims(Chance(rng, 80) ? 2 : 3);
    for (int &d : dims) d = allowEmpty && Chance(rng, 15) ? 0 : 1 + Pick(rng, 3);
    if (Chance(rng, 25)) dims[0] = 1;  // rows, which text treats apart
    return dims;
}

void RandomBytes(Random &rng, void *data, size_t bytes) {
    unsigned char *p = static_cast<unsigned char *>(data);
    for (size_t i = 0; i < bytes; ++i) p[i] = static_cast<unsigned char>(rng());
}

kaArray *RandomArray(Random &rng, int depth);

kaArray *RandomNumeric(Random &rng) {
    const kaClassID classID = kaDOUBLE_CLASS + Pick(rng, 10);  // double .. uint64
    const std::vector<int> dims = RandomDims(rng, true);
    kaArray *a = kaCreateNumericArray(static_cast<int>(dims.size()), dims.data(), classID,
                                      Chance(rng, 25) ? kaCOMPLEX : kaREAL);
    const size_t bytes = static_cast<size_t>(kaGetNumberOfElements(a)) * kaGetElementSize(a);
    if (kaGetPr(a)) RandomBytes(rng, kaGetPr(a), bytes);
    if (kaGetImagData(a)) RandomBytes(rng, kaGetImagData(a), bytes);
    if (Chance(rng, 20)) kaSetLogical(a, true);
    return a;
}

kaArray *RandomText(Random &rng) {
    if (Chance(rng, 20)) return kaCreateString(Chance(rng, 50) ? "" : "some text");
    const std::vector<int> dims = RandomDims(rng, true);
    kaArray *a = kaCreateCharArray(static_cast<int>(dims.size()), dims.data());
    kaChar *c = reinterpret_cast<kaChar *>(kaGetPr(a));
    for (int i = 0; c && i < kaGetNumberOfElements(a); ++i) c[i] = Chance(rng, 10) ? 0 : static_cast<kaChar>(rng());
    return a;
}

kaArray *RandomCell(Random &rng, int depth) {
    const std::vector<int> dims = RandomDims(rng, true);
    kaArray *a = kaCreateCellArray(static_cast<int>(dims.size()), dims.data());
    for (int i = 0; i < kaGetNumberOfElements(a); ++i)
        if (!Chance(rng, 25)) kaSetCell(a, i, RandomArray(rng, depth + 1));
    return a;
}

kaArray *RandomStruct(Random &rng, int depth) {
    const char *names[] = {"alpha", "beta"};
    const int fields = Pick(rng, 3);
    kaArray *a = kaCreateStructMatrix(1 + Pick(rng, 2), 1, fields, names);
    for (int i = 0; i < kaGetNumberOfElements(a); ++i)
        for (int j = 0; j < fields; ++j)
            if (Chance(rng, 70)) kaSetFieldByNumber(a, i, j, RandomArray(rng, depth + 1));
    return a;
}

kaArray *RandomArray(Random &rng, int depth) {
    const int kind = Pick(rng, 100);
    if (kind < 45) return RandomNumeric(rng);
    if (kind < 62) return RandomText(rng);
    if (kind < 80 && depth < 3) return RandomCell(rng, depth);
    if (kind < 88 && depth < 3) return RandomStruct(rng, depth);
    if (kind < 94) return kaCreateSparse(1 + Pick(rng, 3), 1 + Pick(rng, 3), 1 + Pick(rng, 4), kaREAL);
    const kaClassID placeholders[] = {kaUNKNOWN_CLASS, kaOBJECT_CLASS, kaFUNCTION_CLASS, kaOPAQUE_CLASS};
    return kaCreateNumericMatrix(1, 1, placeholders[Pick(rng, 4)], kaREAL);
}

// ---- what a round trip gives ----

bool HasVarType(kaClassID c) { return c == kaCELL_CLASS || c == kaCHAR_CLASS || (c >= kaDOUBLE_CLASS && c <= kaUINT32_CLASS); }

kaArray *Expected(const kaArray *a);

// A logical array comes back as int16 holding -1 and 0, marked logical.
kaArray *ExpectedLogical(const kaArray *a) {
    const kaClassID c = kaGetClassID(a);
    kaArray *e = kaCreateNumericArray(kaGetDimCount(a), kaGetDimensions(a), kaINT16_CLASS, kaREAL);
    kaSetLogical(e, true);
    short *to = reinterpret_cast<short *>(kaGetPr(e));
    const unsigned char *from = reinterpret_cast<const unsigned char *>(kaGetPr(a));
    const int size = kaGetElementSize(a);
    for (int i = 0; i < kaGetNumberOfElements(a); ++i) {
        bool nonZero = false;
        if (c == kaDOUBLE_CLASS) nonZero = reinterpret_cast<const double *>(from)[i] != 0;
        else if (c == kaSINGLE_CLASS) nonZero = reinterpret_cast<const float *>(from)[i] != 0;
        else if (c != kaCHAR_CLASS)
            for (int b = 0; b < size; ++b) nonZero = nonZero || from[i * size + b] != 0;
        to[i] = nonZero ? -1 : 0;  // text marked logical converts to false
    }
    return e;
}

// The array a source array becomes after both conversions with default
// options, or null for no array.
kaArray *Expected(const kaArray *a) {
    const kaClassID c = kaGetClassID(a);
    if (!a || !HasVarType(c)) return nullptr;
    if (c != kaCELL_CLASS && !kaGetPr(a)) return nullptr;
    if (kaIsLogical(a)) return ExpectedLogical(a);
    const int *dims = kaGetDimensions(a);
    const int n = kaGetNumberOfElements(a);
    if (c == kaCELL_CLASS) {
        kaArray *e = kaCreateCellArray(kaGetDimCount(a), dims);
        for (int i = 0; i < n; ++i) kaSetCell(e, i, Expected(kaGetCell(a, i)));
        return e;
    }
    if (c == kaCHAR_CLASS && !(kaGetDimCount(a) == 2 && dims[0] == 1)) {
        kaArray *e = kaCreateCellArray(kaGetDimCount(a), dims);
        for (int i = 0; i < n; ++i) {
            kaArray *one = kaCreateCharArray(2, std::vector<int>{1, 1}.data());
            reinterpret_cast<kaChar *>(kaGetPr(one))[0] = reinterpret_cast<const kaChar *>(kaGetPr(a))[i];
            kaSetCell(e, i, one);
        }
        return e;
    }
    if (c == kaCHAR_CLASS && n == 0) return kaCreateString("");
    kaArray *e = kaCreateNumericArray(kaGetDimCount(a), dims, c, kaREAL);
    memcpy(kaGetPr(e), kaGetPr(a), static_cast<size_t>(n) * kaGetElementSize(a));
    return e;
}

// Why two arrays differ, or "" when they are the same.
std::string Difference(const kaArray *want, const kaArray *got) {
    if (!want || !got) return want == got ? "" : (want ? "missing array" : "unexpected array");
    if (kaGetClassID(want) != kaGetClassID(got)) return "class " + std::to_string(kaGetClassID(got));
    if (DimsOf(want) != DimsOf(got)) return "dimensions";
    if (kaIsLogical(want) != kaIsLogical(got)) return "logical mark";
    if (kaHasImagPart(got)) return "imaginary part";
    const int n = kaGetNumberOfElements(want);
    if (kaGetClassID(want) == kaCELL_CLASS) {
        for (int i = 0; i < n; ++i) {
            const std::string d = Difference(kaGetCell(want, i), kaGetCell(got, i));
            if (!d.empty()) return "cell " + std::to_string(i) + ": " + d;
        }
        return "";
    }
    const size_t bytes = static_cast<size_t>(n) * kaGetElementSize(want);
    if (bytes && memcmp(kaGetPr(want), kaGetPr(got), bytes) != 0) return "data";
    return "";
}

class RandomTest : public HostLeakCheck {};

TEST_F(RandomTest, HostArraysRoundTripAsTheRulesSay) {
    Random rng(20261211);
    ConversionFlags flags;
    zrtInitConversionFlags(&flags);
    const int cases = CaseCount();
    int converted = 0;
    for (int k = 0; k < cases; ++k) {
        HostArray source(RandomArray(rng, 0));
        const bool unsupported = !HasVarType(kaGetClassID(source));
        Variant v;
        kaArray *a = source.get();
        VARIANT *target = &v;
        auto raised = RaisedBy([=] { zrtkaArray2Variant(a, target, &flags); });
        if (unsupported) {
            EXPECT_EQ(raised, std::string("Data conversion error: Unsupported CORVEX type")) << "case " << k;
            EXPECT_EQ(v.vt(), VT_EMPTY);
            continue;
        }
        ASSERT_FALSE(raised) << "case " << k << ": " << *raised;
        if (v.vt() & VT_ARRAY) {
            ASSERT_EQ(V_ARRAY(&v.v)->cLocks, 0u);
        }
        HostArray back;
        kaArray **slot = back.slot();
        raised = RaisedBy([=] { zrtVariant2kaArray(target, slot, &flags); });
        ASSERT_FALSE(raised) << "case " << k << ": " << *raised;
        HostArray expected(Expected(source));
        EXPECT_EQ(Difference(expected, back), "") << "case " << k;
        ++converted;
    }
    EXPECT_GT(converted, cases / 2);
}

TEST_F(RandomTest, RandomOptionsNeverCrashOrLeak) {
    Random rng(7);
    const int cases = CaseCount();
    for (int k = 0; k < cases; ++k) {
        HostArray source(RandomArray(rng, 0));
        ConversionFlags flags;
        zrtInitConversionFlags(&flags);
        flags.outputRegroup = Pick(rng, 4);
        flags.outputRegroupDepth = Pick(rng, 4) - 1;
        flags.inputRegroup = Pick(rng, 4);
        flags.inputRegroupDepth = Pick(rng, 4) - 1;
        flags.reverseDims = static_cast<uint8_t>(Pick(rng, 2));
        flags.reverseDepth = Pick(rng, 4) - 1;
        const int targets[] = {0, 0, 4, 6, 7, 8, 9, 10, 11, 12, 13, 1, 14, -3, 99};
        flags.targetClass = targets[Pick(rng, 15)];
        flags.dateForm = Pick(rng, 3);
        Variant v;
        kaArray *a = source.get();
        VARIANT *target = &v;
        RaisedBy([=] { zrtkaArray2Variant(a, target, &flags); });
        HostArray back;
        kaArray **slot = back.slot();
        RaisedBy([=] { zrtVariant2kaArray(target, slot, &flags); });
        if (v.vt() & VT_ARRAY) {
            ASSERT_EQ(V_ARRAY(&v.v)->cLocks, 0u) << "case " << k;
        }
    }
}

// ---- malformed VARIANTs ----

// Owns everything the random VARIANTs point at, and releases it at the end.
struct Pool {
    std::vector<BSTR> strings;
    std::vector<SAFEARRAY *> arrays;
    std::vector<std::unique_ptr<VARIANT>> variants;
    std::vector<std::unique_ptr<unsigned char[]>> blocks;
    std::vector<std::unique_ptr<void *>> slots;
    OptionsDouble object;  // an object without type information
    int held = 0;          // references to it that the pool's arrays hold

    ~Pool() {
        for (SAFEARRAY *a : arrays) SafeArrayDestroy(a);
        for (BSTR s : strings) SysFreeString(s);
    }
    BSTR String(Random &rng) {
        if (Chance(rng, 20)) return nullptr;
        const OLECHAR text[] = {'v', 0, 'x', 'y'};
        strings.push_back(SysAllocStringLen(text, static_cast<UINT>(Pick(rng, 5))));
        return strings.back();
    }
    void *Block(Random &rng) {
        blocks.emplace_back(new unsigned char[32]);
        RandomBytes(rng, blocks.back().get(), 32);
        return blocks.back().get();
    }
    void **Slot(void *value) {
        slots.emplace_back(new void *(value));
        return slots.back().get();
    }
    VARIANT *NewVariant() {
        variants.emplace_back(new VARIANT);
        VariantInit(variants.back().get());
        return variants.back().get();
    }
};

const VARTYPE kElementTypes[] = {VT_I2, VT_I4, VT_R4, VT_R8, VT_CY, VT_DATE, VT_BSTR, VT_DISPATCH, VT_ERROR,
                                 VT_BOOL, VT_VARIANT, VT_UNKNOWN, VT_DECIMAL, VT_I1, VT_UI1, VT_UI2, VT_UI4,
                                 VT_I8, VT_UI8, VT_INT, VT_UINT};

// A well-formed VARIANT that owns its value, as SAFEARRAY elements must.
void RandomOwnedVariant(Random &rng, Pool &pool, VARIANT *v, int depth);

SAFEARRAY *RandomSafeArray(Random &rng, Pool &pool, int depth, bool track) {
    const VARTYPE type = kElementTypes[Pick(rng, sizeof kElementTypes / sizeof kElementTypes[0])];
    std::vector<ULONG> counts(1 + Pick(rng, 3));
    std::vector<LONG> lower(counts.size());
    for (size_t k = 0; k < counts.size(); ++k) {
        counts[k] = Chance(rng, 15) ? 0 : 1 + Pick(rng, 3);
        lower[k] = Pick(rng, 5) - 2;
    }
    SAFEARRAY *a = MakeSafeArray(type, counts, lower);
    if (!a) return nullptr;
    void *data = nullptr;
    if (SUCCEEDED(SafeArrayAccessData(a, &data))) {
        ULONG n = 1;
        for (ULONG c : counts) n *= c;
        for (ULONG i = 0; i < n; ++i) {
            char *element = static_cast<char *>(data) + static_cast<size_t>(a->cbElements) * i;
            if (type == VT_BSTR) *reinterpret_cast<BSTR *>(element) = Chance(rng, 30) ? nullptr : SysAllocString(L"e");
            else if (type == VT_DISPATCH || type == VT_UNKNOWN) {
                if (Chance(rng, 50)) {
                    pool.object.AddRef();
                    ++pool.held;
                    *reinterpret_cast<IDispatch **>(element) = &pool.object;
                }
            } else if (type == VT_VARIANT) RandomOwnedVariant(rng, pool, reinterpret_cast<VARIANT *>(element), depth + 1);
            else RandomBytes(rng, element, a->cbElements);
        }
        SafeArrayUnaccessData(a);
    }
    if (track) pool.arrays.push_back(a);
    return a;
}

void RandomOwnedVariant(Random &rng, Pool &pool, VARIANT *v, int depth) {
    VariantInit(v);
    const int kind = Pick(rng, 10);
    if (kind < 4) {
        V_VT(v) = VT_R8;
        V_R8(v) = Pick(rng, 1000) / 8.0;
    } else if (kind < 6) {
        V_VT(v) = VT_BSTR;
        V_BSTR(v) = SysAllocString(L"element");
    } else if (kind < 8 && depth < 3) {
        SAFEARRAY *a = RandomSafeArray(rng, pool, depth, false);
        if (a) {
            VARTYPE declared = VT_EMPTY;
            SafeArrayGetVartype(a, &declared);
            V_VT(v) = static_cast<VARTYPE>(VT_ARRAY | declared);
            V_ARRAY(v) = a;
        }
    } else if (kind < 9) {
        V_VT(v) = VT_BOOL;
        V_BOOL(v) = VARIANT_TRUE;
    }  // else empty
}

VARIANT RandomMalformedVariant(Random &rng, Pool &pool, int depth) {
    VARIANT v;
    VariantInit(&v);
    const int choice = Pick(rng, 100);
    VARTYPE base;
    if (choice < 80) base = kElementTypes[Pick(rng, sizeof kElementTypes / sizeof kElementTypes[0])];
    else if (choice < 90) base = static_cast<VARTYPE>(Pick(rng, 40));
    else base = static_cast<VARTYPE>(rng() & 0x0FFF);
    const bool byRef = Chance(rng, 35);
    const bool isArray = Chance(rng, 25);
    V_VT(&v) = static_cast<VARTYPE>(base | (byRef ? VT_BYREF : 0) | (isArray ? VT_ARRAY : 0));
    const bool null = Chance(rng, 15);
    if (isArray) {
        SAFEARRAY *a = null ? nullptr : RandomSafeArray(rng, pool, depth, true);
        if (byRef) V_ARRAYREF(&v) = Chance(rng, 15) ? nullptr : reinterpret_cast<SAFEARRAY **>(pool.Slot(a));
        else V_ARRAY(&v) = a;
    } else if (byRef) {
        if (null) V_BYREF(&v) = nullptr;
        else if (base == VT_BSTR) V_BSTRREF(&v) = reinterpret_cast<BSTR *>(pool.Slot(pool.String(rng)));
        else if (base == VT_DISPATCH || base == VT_UNKNOWN)
            V_BYREF(&v) = pool.Slot(Chance(rng, 50) ? static_cast<IDispatch *>(&pool.object) : nullptr);
        else if (base == VT_VARIANT) {
            VARIANT *inner = pool.NewVariant();
            if (depth < 4 && Chance(rng, 80)) {
                *inner = RandomMalformedVariant(rng, pool, depth + 1);
            } else {  // a VARIANT that refers to itself
                V_VT(inner) = VT_VARIANT | VT_BYREF;
                V_VARIANTREF(inner) = inner;
            }
            V_VARIANTREF(&v) = inner;
        } else V_BYREF(&v) = pool.Block(rng);
    } else if (base == VT_BSTR) {
        V_BSTR(&v) = pool.String(rng);
    } else if (base == VT_DISPATCH || base == VT_UNKNOWN) {
        V_DISPATCH(&v) = null ? nullptr : &pool.object;
    } else if (base == VT_DECIMAL) {
        RandomBytes(rng, &v, sizeof v);
        V_VT(&v) = base;
    } else {
        RandomBytes(rng, &V_I4(&v), 8);
    }
    return v;
}

TEST_F(RandomTest, MalformedVariantsGiveAStatusOrAnErrorNeverACrash) {
    Random rng(99);
    const int cases = CaseCount();
    Pool pool;
    int raised = 0;
    for (int k = 0; k < cases; ++k) {
        const VARIANT v = RandomMalformedVariant(rng, pool, 0);
        if (getenv("VARCON_RANDOM_TRACE")) fprintf(stderr, "case %d vt %04x\n", k, V_VT(&v));
        ConversionFlags flags;
        zrtInitConversionFlags(&flags);
        flags.targetClass = Chance(rng, 20) ? kaCHAR_CLASS : (Chance(rng, 20) ? kaINT16_CLASS : 0);
        flags.inputRegroup = Pick(rng, 3);
        flags.dateForm = Pick(rng, 2);
        HostArray result;
        kaArray **slot = result.slot();
        const VARIANT *source = &v;
        if (RaisedBy([=] { zrtVariant2kaArray(source, slot, &flags); })) {
            ++raised;
            EXPECT_EQ(result.get(), nullptr) << "case " << k;
        }
    }
    for (SAFEARRAY *a : pool.arrays) EXPECT_EQ(a->cLocks, 0u);
    EXPECT_GT(raised, 0);
    EXPECT_LT(raised, cases);
    EXPECT_EQ(pool.object.refs(), 1u + pool.held) << "no object reference is kept";
}

}  // namespace
