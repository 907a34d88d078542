// The conversion exports with spreadsheet Ranges and other Automation
// objects standing where data is expected or where a result goes: reads,
// writes, fit to shape, and who owns which reference afterwards.
#include "range_double.h"
#include "conversion_support.h"
#include "variant_support.h"
#include "varcon.h"


namespace {

// Every test starts with no objects and ends with every reference returned.
class RangeConversion : public HostLeakCheck {
protected:
    void SetUp() override {
        HostLeakCheck::SetUp();
        RangeDouble::Reset();
    }
    void TearDown() override {
        EXPECT_EQ(RangeDouble::Problems(), "");
        EXPECT_EQ(RangeDouble::LiveObjects(), 0);
        RangeDouble::Reset();
        HostLeakCheck::TearDown();
    }
};

// A VT_DISPATCH VARIANT owning one reference to the object.
void HoldObject(VARIANT *v, IDispatch *object) {
    V_VT(v) = VT_DISPATCH;
    V_DISPATCH(v) = object;
}

TEST_F(RangeConversion, ReadingARangeGivesACellArrayOfItsShape) {
    RangeDouble *range = RangeDouble::Create(3, 2);
    for (int r = 1; r <= 3; ++r)
        for (int c = 1; c <= 2; ++c) range->SetCell(r, c, r * 10 + c);
    VARIANT text;
    V_VT(&text) = VT_BSTR;
    V_BSTR(&text) = SysAllocString(L"label");
    range->SetCell(1, 2, text);
    VariantClear(&text);
    Variant v;
    HoldObject(&v, range);
    const ConversionFlags flags = Flags();
    HostArray a;
    ASSERT_EQ(FromVariant(&v, a.slot(), &flags), "");
    ASSERT_EQ(kaGetClassID(a), kaCELL_CLASS);
    EXPECT_EQ(DimsOf(a), (std::vector<int>{3, 2}));
    EXPECT_EQ(kaGetPr(kaGetCell(a, 0))[0], 11);
    EXPECT_EQ(kaGetPr(kaGetCell(a, 2))[0], 31) << "column order";
    EXPECT_EQ(TextOf(kaGetCell(a, 3)), "label");
    EXPECT_EQ(range->Invoked(L"Value"), 1);

    ConversionFlags join = Flags();
    join.inputRegroup = REGROUP_JOIN;
    range->SetCell(1, 2, 12);
    ASSERT_EQ(FromVariant(&v, a.slot(), &join), "");
    ASSERT_EQ(kaGetClassID(a), kaDOUBLE_CLASS) << "a Range of numbers joined into a matrix";
    EXPECT_EQ(std::vector<double>(kaGetPr(a), kaGetPr(a) + 6), (std::vector<double>{11, 21, 31, 12, 22, 32}));
}

TEST_F(RangeConversion, AValueThatIsAnObjectIsReadInTurn) {
    RangeDouble *outer = RangeDouble::CreatePlain();
    RangeDouble *inner = RangeDouble::Create(1, 1);
    inner->SetCell(1, 1, 42);
    outer->AnswerObject(L"Value", inner);
    inner->Release();  // the outer object holds it now
    Variant v;
    HoldObject(&v, outer);
    const ConversionFlags flags = Flags();
    HostArray a;
    ASSERT_EQ(FromVariant(&v, a.slot(), &flags), "");
    EXPECT_EQ(kaGetPr(a)[0], 42);

    RangeDouble *mirror = RangeDouble::CreatePlain();
    mirror->AnswerSelf(L"Value");
    Variant m;
    HoldObject(&m, mirror);
    EXPECT_EQ(FromVariant(&m, a.slot(), &flags), "Data conversion error: Unable to copy array data from object")
        << "an object whose Value is itself";
}

TEST_F(RangeConversion, ObjectsWithoutTypeInformationCannotBeRead) {
    RangeDouble *range = RangeDouble::Create(1, 1);
    range->FailTypeInfo(E_NOTIMPL);
    Variant v;
    HoldObject(&v, range);
    const ConversionFlags flags = Flags();
    HostArray a;
    EXPECT_EQ(FromVariant(&v, a.slot(), &flags), "Data conversion error: Unable to copy array data from object");
    HostArray numbers(Doubles(1, 2, {1, 2}));
    EXPECT_EQ(ToVariant(numbers, &v, &flags), "Data conversion error: Unable to copy array data from object");
}

TEST_F(RangeConversion, FitToShapeResizesAndHandsTheCallerTheNewRange) {
    HostArray row(Doubles(1, 4, {1, 2, 3, 4}));
    ConversionFlags fit = Flags();
    fit.fitRange = 1;
    for (bool byReference : {false, true}) {
        SCOPED_TRACE(byReference ? "by reference" : "by value");
        RangeDouble *original = RangeDouble::Create(1, 1);
        IDispatch *held = original;  // the caller's reference
        Variant byValue;
        VARIANT reference;
        VARIANT *target = &byValue;
        if (byReference) {
            V_VT(&reference) = VT_DISPATCH | VT_BYREF;
            V_DISPATCHREF(&reference) = &held;
            target = &reference;
        } else {
            HoldObject(&byValue, original);
        }
        original->AddRef();  // kept by the test to look at it afterwards
        ASSERT_EQ(ToVariant(row, target, &fit), "");
        IDispatch *now = byReference ? held : V_DISPATCH(&byValue);
        EXPECT_EQ(V_VT(target), byReference ? VT_DISPATCH | VT_BYREF : VT_DISPATCH) << "the target keeps its type";
        ASSERT_NE(now, static_cast<IDispatch *>(original)) << "the caller's reference was replaced";
        RangeDouble *resized = RangeDouble::From(now);
        ASSERT_NE(resized, nullptr);
        EXPECT_EQ(resized->rows(), 1);
        EXPECT_EQ(resized->columns(), 4);
        EXPECT_EQ(V_R8(&resized->Cell(1, 3)), 3);
        EXPECT_EQ(resized->refs(), 1u) << "one reference, the caller's";
        EXPECT_EQ(original->refs(), 1u) << "the old reference was released";
        EXPECT_EQ(original->Invoked(L"Resize"), 1);
        original->Release();
        if (byReference) held->Release();
    }
}

TEST_F(RangeConversion, NoResizeWithoutFitForSameShapeOrForScalars) {
    struct Case {
        const char *what;
        int rows, columns;
        bool fit;
        kaArray *(*make)();
    };
    const Case cases[] = {
        {"fit off", 1, 1, false, [] { return Doubles(1, 4, {1, 2, 3, 4}); }},
        {"same shape", 2, 3, true, [] { return Doubles(2, 3, {1, 2, 3, 4, 5, 6}); }},
        {"scalar", 1, 1, true, [] { return Doubles(1, 1, {9}); }},
        {"text row", 1, 1, true, [] { return kaCreateString("one string"); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        RangeDouble *range = RangeDouble::Create(c.rows, c.columns);
        Variant v;
        HoldObject(&v, range);
        ConversionFlags flags = Flags();
        flags.fitRange = c.fit;
        HostArray a(c.make());
        ASSERT_EQ(ToVariant(a, &v, &flags), "");
        EXPECT_EQ(V_DISPATCH(&v.v), static_cast<IDispatch *>(range));
        EXPECT_EQ(range->Invoked(L"Resize"), 0);
        EXPECT_EQ(range->Invoked(L"Value"), 1);
    }
}

TEST_F(RangeConversion, PlainObjectsAreWrittenButNeverResized) {
    RangeDouble *plain = RangeDouble::CreatePlain();
    Variant v;
    HoldObject(&v, plain);
    ConversionFlags fit = Flags();
    fit.fitRange = 1;
    HostArray m(Doubles(2, 2, {1, 2, 3, 4}));
    ASSERT_EQ(ToVariant(m, &v, &fit), "");
    EXPECT_EQ(V_DISPATCH(&v.v), static_cast<IDispatch *>(plain));
    EXPECT_EQ(plain->LookedUp(L"Resize"), 0);
    EXPECT_EQ(plain->Invoked(L"Value"), 1);
    HostArray back;
    ASSERT_EQ(FromVariant(&v, back.slot(), &fit), "");
    EXPECT_EQ(DimsOf(back), (std::vector<int>{1, 1})) << "the object keeps its one value";
    EXPECT_EQ(kaGetPr(back)[0], 1);
}

TEST_F(RangeConversion, FailedWritesRaiseAndUnconvertibleArraysWriteNothing) {
    RangeDouble *range = RangeDouble::Create(2, 1);
    range->SetCell(1, 1, 5);
    Variant v;
    HoldObject(&v, range);
    const ConversionFlags flags = Flags();

    const char *names[] = {"f"};
    HostArray record(kaCreateStructMatrix(1, 1, 1, names));
    EXPECT_EQ(ToVariant(record, &v, &flags), "Data conversion error: Unable to copy array data from object");
    EXPECT_EQ(range->Invoked(L"Value"), 0) << "the cells are not cleared";
    EXPECT_EQ(V_R8(&range->Cell(1, 1)), 5);

    range->FailInvoke(L"Value", E_FAIL);
    HostArray numbers(Doubles(2, 1, {1, 2}));
    EXPECT_EQ(ToVariant(numbers, &v, &flags), "Data conversion error: Unable to copy array data from object");
}

TEST_F(RangeConversion, ReversedArraysFillTheTransposedShape) {
    RangeDouble *range = RangeDouble::Create(1, 1);
    Variant v;
    HoldObject(&v, range);
    ConversionFlags flags = Flags();
    flags.fitRange = 1;
    flags.reverseDims = 1;
    HostArray m(Doubles(2, 3, {1, 2, 3, 4, 5, 6}));
    ASSERT_EQ(ToVariant(m, &v, &flags), "");
    RangeDouble *resized = RangeDouble::From(V_DISPATCH(&v.v));
    ASSERT_NE(resized, nullptr);
    EXPECT_EQ(resized->rows(), 3);
    EXPECT_EQ(resized->columns(), 2);
    EXPECT_EQ(V_R8(&resized->Cell(3, 1)), 5);
    EXPECT_EQ(V_R8(&resized->Cell(1, 2)), 2);
}

TEST_F(RangeConversion, CellArraysRoundTripThroughARange) {
    HostArray cells(kaCreateCellMatrix(2, 2));
    kaSetCell(cells, 0, Doubles(1, 1, {1.5}));
    kaSetCell(cells, 1, kaCreateString("north"));
    kaSetCell(cells, 3, Doubles(1, 1, {-2}));
    RangeDouble *range = RangeDouble::Create(1, 1);
    Variant v;
    HoldObject(&v, range);
    ConversionFlags fit = Flags();
    fit.fitRange = 1;
    ASSERT_EQ(ToVariant(cells, &v, &fit), "");
    HostArray back;
    ASSERT_EQ(FromVariant(&v, back.slot(), &fit), "");
    ASSERT_EQ(DimsOf(back), (std::vector<int>{2, 2}));
    EXPECT_EQ(kaGetPr(kaGetCell(back, 0))[0], 1.5);
    EXPECT_EQ(TextOf(kaGetCell(back, 1)), "north");
    EXPECT_EQ(kaGetCell(back, 2), nullptr);
    EXPECT_EQ(kaGetPr(kaGetCell(back, 3))[0], -2);
}

}  // namespace
