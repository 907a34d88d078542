// The small routines the conversions rest on: class and type tables,
// booleans, subscripts, dimension reversal and where a VARIANT's value
// lives.
#include "variant_support.h"
#include "varcon_internal.h"

#include <cstdint>

namespace {

TEST(ClassTable, EveryClassIdHasItsVarType) {
    struct Row {
        kaClassID classID;
        VARTYPE type;
        bool plain;
        int size;
    };
    const Row rows[] = {
        {kaUNKNOWN_CLASS, VT_EMPTY, false, 0}, {kaCELL_CLASS, VT_VARIANT, false, 0},
        {kaSTRUCT_CLASS, VT_EMPTY, false, 0},  {kaOBJECT_CLASS, VT_EMPTY, false, 0},
        {kaCHAR_CLASS, VT_BSTR, false, 0},     {kaSPARSE_CLASS, VT_EMPTY, false, 0},
        {kaDOUBLE_CLASS, VT_R8, true, 8},      {kaSINGLE_CLASS, VT_R4, true, 4},
        {kaINT8_CLASS, VT_I1, true, 1},        {kaUINT8_CLASS, VT_UI1, true, 1},
        {kaINT16_CLASS, VT_I2, true, 2},       {kaUINT16_CLASS, VT_UI2, true, 2},
        {kaINT32_CLASS, VT_I4, true, 4},       {kaUINT32_CLASS, VT_UI4, true, 4},
        {kaINT64_CLASS, VT_EMPTY, false, 0},   {kaUINT64_CLASS, VT_EMPTY, false, 0},
        {kaFUNCTION_CLASS, VT_EMPTY, false, 0}, {kaOPAQUE_CLASS, VT_EMPTY, false, 0},
        {18, VT_EMPTY, false, 0},              {-1, VT_EMPTY, false, 0},
    };
    for (const Row &r : rows) {
        bool plain = !r.plain;
        int size = -1;
        EXPECT_EQ(ClassToVarType(r.classID, &plain, &size), r.type) << r.classID;
        EXPECT_EQ(plain, r.plain) << r.classID;
        EXPECT_EQ(size, r.size) << r.classID;
    }
    int size = 99;
    EXPECT_EQ(ClassToVarType(kaDOUBLE_CLASS, nullptr, &size), VT_EMPTY);
    EXPECT_EQ(size, 99) << "nothing written";
}

TEST(NaturalClasses, EveryVarTypeHasItsHostClass) {
    struct Row {
        VARTYPE type;
        kaClassID classID;
        int size;
        bool direct;
    };
    const Row rows[] = {
        {VT_I2, kaINT16_CLASS, 2, true},      {VT_BOOL, kaINT16_CLASS, 2, true},
        {VT_I4, kaINT32_CLASS, 4, true},      {VT_ERROR, kaINT32_CLASS, 4, true},
        {VT_INT, kaINT32_CLASS, 4, true},     {VT_R4, kaSINGLE_CLASS, 4, true},
        {VT_R8, kaDOUBLE_CLASS, 8, true},     {VT_CY, kaDOUBLE_CLASS, 8, false},
        {VT_DATE, kaDOUBLE_CLASS, 8, false},  {VT_DECIMAL, kaDOUBLE_CLASS, 16, false},
        {VT_I1, kaINT8_CLASS, 1, true},       {VT_UI1, kaUINT8_CLASS, 1, true},
        {VT_UI2, kaUINT16_CLASS, 2, true},    {VT_UI4, kaUINT32_CLASS, 4, true},
        {VT_UINT, kaUINT32_CLASS, 4, true},   {VT_R8 | VT_ARRAY | VT_BYREF, kaDOUBLE_CLASS, 8, true},
        {VT_BSTR, 0, 0, false},               {VT_I8, 0, 0, false},
        {VT_UNKNOWN, 0, 0, false},            {VT_VARIANT, 0, 0, false},
    };
    for (const Row &r : rows) {
        bool direct = !r.direct;
        int size = -1;
        EXPECT_EQ(NaturalClassOf(r.type, &direct, &size), r.classID) << r.type;
        EXPECT_EQ(size, r.size) << r.type;
        EXPECT_EQ(direct, r.direct) << r.type;
    }
    int size = 99;
    EXPECT_EQ(NaturalClassOf(VT_R8, nullptr, &size), 0);
    EXPECT_EQ(size, 99);
}

TEST(Booleans, EveryNumericClassConvertsByItsOwnWidth) {
    const double d = -0.5;
    const float f = 0.0f;
    const int8_t i8 = -1;
    const uint8_t u8 = 0;
    const int16_t i16 = 256;
    const uint16_t u16 = 0;
    const int32_t i32 = 0x10000;
    const uint32_t u32 = 0;
    struct Row {
        kaClassID classID;
        const void *element;
        VARIANT_BOOL expected;
    };
    const Row rows[] = {
        {kaDOUBLE_CLASS, &d, VARIANT_TRUE}, {kaSINGLE_CLASS, &f, VARIANT_FALSE}, {kaINT8_CLASS, &i8, VARIANT_TRUE},
        {kaUINT8_CLASS, &u8, VARIANT_FALSE}, {kaINT16_CLASS, &i16, VARIANT_TRUE}, {kaUINT16_CLASS, &u16, VARIANT_FALSE},
        {kaINT32_CLASS, &i32, VARIANT_TRUE}, {kaUINT32_CLASS, &u32, VARIANT_FALSE},
    };
    for (const Row &r : rows) {
        VARIANT_BOOL b = 7;
        EXPECT_EQ(ElementToVariantBool(r.classID, r.element, &b), S_OK) << r.classID;
        EXPECT_EQ(b, r.expected) << r.classID;
    }
    VARIANT_BOOL b = 7;
    EXPECT_EQ(ElementToVariantBool(kaCHAR_CLASS, &u16, &b), E_INVALIDARG);
    EXPECT_EQ(ElementToVariantBool(kaINT64_CLASS, &d, &b), E_INVALIDARG);
    EXPECT_EQ(ElementToVariantBool(kaDOUBLE_CLASS, nullptr, &b), E_INVALIDARG);
    EXPECT_EQ(ElementToVariantBool(kaDOUBLE_CLASS, &d, nullptr), E_INVALIDARG);
}

TEST(Subscripts, IndexAndSubscriptsAreInverse) {
    const LONG lengths[] = {2, 3}, lower[] = {1, 1};
    LONG subscripts[2] = {};
    ASSERT_EQ(IndexToSubscripts(4, 2, lengths, lower, subscripts), 0);
    EXPECT_EQ(subscripts[0], 1);
    EXPECT_EQ(subscripts[1], 3);
    LONG index = -1;
    ASSERT_EQ(SubscriptsToIndex(&index, 2, lengths, lower, subscripts), 0);
    EXPECT_EQ(index, 4);

    const LONG lengths3[] = {4, 3, 5}, lower3[] = {0, -2, 7};
    for (LONG i = 0; i < 60; ++i) {
        LONG s[3], back = -1;
        ASSERT_EQ(IndexToSubscripts(i, 3, lengths3, lower3, s), 0);
        ASSERT_EQ(SubscriptsToIndex(&back, 3, lengths3, lower3, s), 0);
        EXPECT_EQ(back, i);
    }
    const LONG zero[] = {2, 0};
    LONG untouched[2] = {55, 55};
    EXPECT_EQ(IndexToSubscripts(1, 2, zero, lower, untouched), -1);
    EXPECT_EQ(untouched[0], 55);
    EXPECT_EQ(SubscriptsToIndex(&index, 2, zero, lower, subscripts), -1);
    EXPECT_EQ(IndexToSubscripts(1, 2, nullptr, lower, subscripts), -1);
    EXPECT_EQ(SubscriptsToIndex(nullptr, 2, lengths, lower, subscripts), -1);
}

TEST(DataPointer, WhereEachKindOfValueLives) {
    VARIANT v;
    VariantInit(&v);
    EXPECT_EQ(VariantDataPointer(nullptr), nullptr);
    V_VT(&v) = VT_EMPTY;
    EXPECT_EQ(VariantDataPointer(&v), &V_I4(&v));
    V_VT(&v) = VT_R8;
    EXPECT_EQ(VariantDataPointer(&v), &V_R8(&v));
    V_VT(&v) = VT_DECIMAL;
    EXPECT_EQ(VariantDataPointer(&v), &v);
    BSTR text = SysAllocString(L"x");
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = text;
    EXPECT_EQ(VariantDataPointer(&v), text);
    V_VT(&v) = VT_BSTR | VT_BYREF;
    V_BSTRREF(&v) = &text;
    EXPECT_EQ(VariantDataPointer(&v), text);
    V_BSTRREF(&v) = nullptr;
    EXPECT_EQ(VariantDataPointer(&v), nullptr);
    SysFreeString(text);

    double number = 1;
    for (VARTYPE t : {VT_I2, VT_I4, VT_R4, VT_R8, VT_CY, VT_DATE, VT_ERROR, VT_BOOL, VT_VARIANT, VT_DECIMAL, VT_I1,
                      VT_UI1, VT_UI2, VT_UI4, VT_INT, VT_UINT}) {
        V_VT(&v) = t | VT_BYREF;
        V_BYREF(&v) = &number;
        EXPECT_EQ(VariantDataPointer(&v), &number) << t;
    }
    for (int t : {int(VT_EMPTY), int(VT_NULL), 15, int(VT_I8), int(VT_UI8), int(VT_VOID), int(VT_RECORD)}) {
        V_VT(&v) = t | VT_BYREF;
        V_BYREF(&v) = &number;
        EXPECT_EQ(VariantDataPointer(&v), nullptr) << t;
    }
}

class ReverseTest : public HostLeakCheck {};

TEST_F(ReverseTest, VectorBecomesARowAndKeepsItsBounds) {
    Variant v;
    V_VT(&v.v) = VT_ARRAY | VT_I4;
    V_ARRAY(&v.v) = MakeSafeArray(VT_I4, {4}, {0});
    FillSafeArray(V_ARRAY(&v.v), std::vector<LONG>{1, 2, 3, 4});
    EXPECT_EQ(ReverseVariantDims(&v.v), 4);
    EXPECT_EQ(CountsOf(V_ARRAY(&v.v)), (std::vector<ULONG>{1, 4}));
    EXPECT_EQ(LowerBoundsOf(V_ARRAY(&v.v)), (std::vector<LONG>{1, 0}));
    EXPECT_EQ(ElementsOf<LONG>(V_ARRAY(&v.v)), (std::vector<LONG>{1, 2, 3, 4}));
}

TEST_F(ReverseTest, NothingToDoForSingleOrEmptyArrays) {
    struct Case {
        std::vector<ULONG> counts;
        int answer;
    };
    const Case cases[] = {{{1}, 1}, {{3, 0}, 0}, {{1, 1, 1}, 1}};
    for (const Case &c : cases) {
        Variant v;
        V_VT(&v.v) = VT_ARRAY | VT_R8;
        SAFEARRAY *sa = MakeSafeArray(VT_R8, c.counts);
        V_ARRAY(&v.v) = sa;
        EXPECT_EQ(ReverseVariantDims(&v.v), c.answer);
        EXPECT_EQ(V_ARRAY(&v.v), sa) << "unchanged";
    }
    Variant scalar;
    V_VT(&scalar.v) = VT_R8;
    EXPECT_EQ(ReverseVariantDims(&scalar.v), 0);
}

TEST_F(ReverseTest, ThreeDimensionsMoveEveryElementKind) {
    // (s1, s2, s3) -> (s3, s2, s1) for strings with embedded zeros, objects
    // and VARIANTs, and plain data of every width.
    Variant strings;
    V_VT(&strings.v) = VT_ARRAY | VT_BSTR;
    V_ARRAY(&strings.v) = MakeSafeArray(VT_BSTR, {2, 1, 3});
    BSTR *texts = nullptr;
    SafeArrayAccessData(V_ARRAY(&strings.v), reinterpret_cast<void **>(&texts));
    for (int i = 0; i < 6; ++i) {
        const OLECHAR text[] = {OLECHAR('a' + i), 0, OLECHAR('0' + i)};
        texts[i] = SysAllocStringLen(text, 3);
    }
    SafeArrayUnaccessData(V_ARRAY(&strings.v));
    EXPECT_EQ(ReverseVariantDims(&strings.v), 6);
    EXPECT_EQ(CountsOf(V_ARRAY(&strings.v)), (std::vector<ULONG>{3, 1, 2}));
    // Old index i = s1 + 2*s3 (s2 = 0); new index = s3 + 3*s1.
    std::vector<BSTR> moved = ElementsOf<BSTR>(V_ARRAY(&strings.v));
    const int expectedOld[] = {0, 2, 4, 1, 3, 5};
    for (int j = 0; j < 6; ++j) {
        const OLECHAR text[] = {OLECHAR('a' + expectedOld[j]), 0, OLECHAR('0' + expectedOld[j])};
        EXPECT_EQ(WideOf(moved[j]), std::wstring(text, 3)) << "the whole string, zero included";
    }

    Variant decimals;
    V_VT(&decimals.v) = VT_ARRAY | VT_DECIMAL;
    V_ARRAY(&decimals.v) = MakeSafeArray(VT_DECIMAL, {2, 3});
    std::vector<DECIMAL> values(6);
    for (int i = 0; i < 6; ++i) VarDecFromI4(i + 1, &values[i]);
    FillSafeArray(V_ARRAY(&decimals.v), values);
    EXPECT_EQ(ReverseVariantDims(&decimals.v), 6);
    std::vector<DECIMAL> reversed = ElementsOf<DECIMAL>(V_ARRAY(&decimals.v));
    LONG first = 0, second = 0;
    VarI4FromDec(&reversed[0], &first);
    VarI4FromDec(&reversed[1], &second);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 3) << "decimals are moved, not zeroed";
}

TEST_F(ReverseTest, RefusesWhatItCannotDoSafely) {
    Variant lying;
    V_VT(&lying.v) = VT_ARRAY | VT_R8;  // claims doubles
    SAFEARRAY *bytes = MakeSafeArray(VT_UI1, {2, 2});
    V_ARRAY(&lying.v) = bytes;
    EXPECT_EQ(ReverseVariantDims(&lying.v), -1);
    EXPECT_EQ(V_ARRAY(&lying.v), bytes);

    Variant locked;
    V_VT(&locked.v) = VT_ARRAY | VT_R8;
    SAFEARRAY *held = MakeSafeArray(VT_R8, {2, 2});
    V_ARRAY(&locked.v) = held;
    SafeArrayLock(held);
    EXPECT_EQ(ReverseVariantDims(&locked.v), -1);
    EXPECT_EQ(V_ARRAY(&locked.v), held) << "an array its owner holds locked stays";
    SafeArrayUnlock(held);

    SAFEARRAY *referenced = MakeSafeArray(VT_R8, {2, 2});
    VARIANT byRef;
    V_VT(&byRef) = VT_ARRAY | VT_R8 | VT_BYREF;
    V_ARRAYREF(&byRef) = &referenced;
    EXPECT_EQ(ReverseVariantDims(&byRef), 0);
    SafeArrayDestroy(referenced);
}

TEST(ElementCount, ZeroLengthDimensionsAreLeftOut) {
    EXPECT_EQ(SafeArrayElementCount(nullptr), 0);
    struct Case {
        std::vector<ULONG> counts;
        int expected;
    };
    const Case cases[] = {{{3, 4}, 12}, {{3, 0}, 3}, {{0, 0}, 1}, {{5}, 5}, {{2, 3, 4}, 24}};
    for (const Case &c : cases) {
        SAFEARRAY *sa = MakeSafeArray(VT_I4, c.counts);
        EXPECT_EQ(SafeArrayElementCount(sa), c.expected);
        SafeArrayDestroy(sa);
    }
}

class TextTest : public HostLeakCheck {};

// The text of a BSTR that the test made, freeing it.
std::wstring Taken(BSTR b) {
    std::wstring s = WideOf(b);
    SysFreeString(b);
    return s;
}

TEST_F(TextTest, ValuesBecomeTheLocalesText) {
    const LCID locale = GetUserDefaultLCID();
    const ULONG flags = LOCALE_NOUSEROVERRIDE;
    const double r8 = 2.5;
    const LONG i4 = -7;
    const VARIANT_BOOL b = VARIANT_TRUE;
    const DATE date = 36526.5;
    CY cy;
    cy.int64 = 123456;
    BSTR r8Text = nullptr, boolText = nullptr, dateText = nullptr, cyText = nullptr;
    VarBstrFromR8(r8, locale, flags, &r8Text);
    VarBstrFromBool(b, locale, flags, &boolText);
    VarBstrFromDate(date, locale, flags, &dateText);
    VarBstrFromCy(cy, locale, flags, &cyText);
    struct Case {
        VARTYPE type;
        const void *value;
        std::wstring expected;
    };
    const Case cases[] = {
        {VT_R8, &r8, Taken(r8Text)}, {VT_I4, &i4, L"-7"},        {VT_ERROR, &i4, L"-7"},
        {VT_BOOL, &b, Taken(boolText)}, {VT_DATE, &date, Taken(dateText)}, {VT_CY, &cy, Taken(cyText)},
    };
    for (const Case &c : cases) {
        HostArray a;
        ASSERT_EQ(VariantToCharArray(c.type, c.value, a.slot()), S_OK) << c.type;
        std::wstring got;
        for (int i = 0; i < kaGetNumberOfElements(a); ++i) got += reinterpret_cast<kaChar *>(kaGetPr(a))[i];
        EXPECT_FALSE(c.expected.empty()) << c.type;
        EXPECT_EQ(got, c.expected) << c.type;
    }
    HostArray none;
    EXPECT_EQ(VariantToCharArray(VT_UNKNOWN, &i4, none.slot()), DISP_E_BADVARTYPE);
    EXPECT_EQ(none.get(), nullptr);
    EXPECT_EQ(VariantToCharArray(VT_I4, nullptr, none.slot()), E_INVALIDARG);
}

}  // namespace
