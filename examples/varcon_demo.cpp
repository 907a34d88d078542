// varcon_demo: what a COM component does with varcon, shown on the console.
// A host array goes to a VARIANT and back, and a matrix is written into a
// spreadsheet Range with fit-to-shape on. The spreadsheet is not needed:
// the Range here is a small Automation object with the Range interface's
// type information, as the tests use.
#include "ka.h"
#include "range_double.h"
#include "varcon.h"

#include <windows.h>
#include <oleauto.h>

#include <stdio.h>


namespace {

void PrintArray(const char *title, const kaArray *a) {
    printf("%s: %d-by-%d, class %d\n", title, kaGetM(a), kaGetN(a), kaGetClassID(a));
    if (kaGetClassID(a) == kaCELL_CLASS) {
        for (int i = 0; i < kaGetNumberOfElements(a); ++i) {
            const kaArray *cell = kaGetCell(a, i);
            char text[64] = "";
            if (kaGetClassID(cell) == kaCHAR_CLASS) kaGetString(cell, text, sizeof text);
            else if (kaGetClassID(cell) == kaDOUBLE_CLASS) snprintf(text, sizeof text, "%g", kaGetPr(cell)[0]);
            printf("  cell %d: %s\n", i + 1, cell ? text : "(empty)");
        }
        return;
    }
    for (int r = 0; r < kaGetM(a); ++r) {
        printf(" ");
        for (int c = 0; c < kaGetN(a); ++c) printf(" %6g", kaGetPr(a)[r + c * kaGetM(a)]);
        printf("\n");
    }
}

void PrintVariant(const char *title, const VARIANT *v) {
    printf("%s: VARTYPE 0x%04x", title, V_VT(v));
    if (V_VT(v) & VT_ARRAY) {
        SAFEARRAY *a = V_ARRAY(v);
        printf(", SAFEARRAY of %u dimensions:", a->cDims);
        for (int k = a->cDims - 1; k >= 0; --k)
            printf(" %ld..%ld", a->rgsabound[k].lLbound, a->rgsabound[k].lLbound + static_cast<LONG>(a->rgsabound[k].cElements) - 1);
    }
    printf("\n");
}

}  // namespace

int main() {
    CoInitialize(nullptr);
    ConversionFlags flags;
    zrtInitConversionFlags(&flags);

    kaArray *matrix = kaCreateDoubleMatrix(3, 2, kaREAL);
    for (int i = 0; i < 6; ++i) kaGetPr(matrix)[i] = (i + 1) * 1.5;
    PrintArray("host array", matrix);

    VARIANT v;
    VariantInit(&v);
    zrtkaArray2Variant(matrix, &v, &flags);
    PrintVariant("as a VARIANT", &v);
    kaArray *back = nullptr;
    zrtVariant2kaArray(&v, &back, &flags);
    PrintArray("and back", back);
    VariantClear(&v);
    kaDestroyArray(back);

    kaArray *mixed = kaCreateCellMatrix(1, 3);
    kaSetCell(mixed, 0, kaCreateString("north"));
    kaArray *number = kaCreateDoubleMatrix(1, 1, kaREAL);
    kaGetPr(number)[0] = 42;
    kaSetCell(mixed, 2, number);
    zrtkaArray2Variant(mixed, &v, &flags);
    PrintVariant("\na cell array as a VARIANT", &v);
    zrtVariant2kaArray(&v, &back, &flags);
    PrintArray("and back", back);
    VariantClear(&v);
    kaDestroyArray(back);
    kaDestroyArray(mixed);

    RangeDouble *range = RangeDouble::Create(1, 1);
    V_VT(&v) = VT_DISPATCH;
    V_DISPATCH(&v) = range;
    printf("\na Range of %d-by-%d cells; writing the 3-by-2 matrix with fitRange set\n", range->rows(), range->columns());
    flags.fitRange = 1;
    zrtkaArray2Variant(matrix, &v, &flags);
    RangeDouble *resized = RangeDouble::From(V_DISPATCH(&v));
    printf("the caller's Range is now %d-by-%d (a new Range object: %s); its cells:\n", resized->rows(),
           resized->columns(), resized != range ? "yes" : "no");
    for (int r = 1; r <= resized->rows(); ++r) {
        printf(" ");
        for (int c = 1; c <= resized->columns(); ++c) printf(" %6g", V_R8(&resized->Cell(r, c)));
        printf("\n");
    }
    VariantClear(&v);
    kaDestroyArray(matrix);

    const bool balanced = RangeDouble::LiveObjects() == 0 && RangeDouble::Problems().empty();
    printf("\nlive host arrays: %d, live Range objects: %d%s\n", kaHostLiveArrays(), RangeDouble::LiveObjects(),
           balanced ? "" : " (out of balance)");
    RangeDouble::Reset();
    CoUninitialize();
    return kaHostLiveArrays() == 0 && balanced ? 0 : 1;
}
