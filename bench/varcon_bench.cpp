// Throughput of the two conversion exports for real double arrays, beside
// memcpy of the same bytes into a freshly allocated buffer (the conversions
// allocate their targets too) and into a warm one, and the per-element cost
// of cell arrays of scalars. Prints figures; asserts nothing.
//
//   varcon_bench [--quick]
#include "ka.h"
#include "varcon.h"

#include <windows.h>
#include <oleauto.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>


namespace {

double Now() {
    static LARGE_INTEGER frequency = {};
    if (!frequency.QuadPart) QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

volatile unsigned char g_sink;

// Best of several runs of each measure, so that one-off stalls do not count.
struct Best {
    double seconds = 1e30;
    void Take(double s) {
        if (s < seconds) seconds = s;
    }
};

void DoubleArrays(bool quick) {
    ConversionFlags flags;
    zrtInitConversionFlags(&flags);
    printf("real double arrays: GB/s (ratio to memcpy into a fresh buffer | into a warm buffer)\n");
    printf("%10s %9s %9s %9s  %-22s %-22s\n", "elements", "memcpy", "memcpy", "", "array to VARIANT", "VARIANT to array");
    printf("%10s %9s %9s %9s\n", "", "fresh", "warm", "");
    const int sizes[] = {1000, 10000, 100000, 1000000, 10000000};
    for (int n : sizes) {
        if (quick && n > 1000000) break;
        const size_t bytes = sizeof(double) * static_cast<size_t>(n);
        kaArray *source = kaCreateDoubleMatrix(n, 1, kaREAL);
        double *pr = kaGetPr(source);
        for (int i = 0; i < n; ++i) pr[i] = i * 0.5;
        void *warm = malloc(bytes);
        memcpy(warm, pr, bytes);

        const int runs = n >= 1000000 ? 5 : 20;
        const int inner = n >= 1000000 ? 1 : 10000000 / n;
        Best fresh, hot, toVariant, toArray;
        for (int r = 0; r < runs; ++r) {
            double t0 = Now();
            for (int k = 0; k < inner; ++k) {
                void *p = malloc(bytes);
                memcpy(p, pr, bytes);
                g_sink = static_cast<unsigned char *>(p)[bytes - 1];
                free(p);
            }
            fresh.Take((Now() - t0) / inner);

            t0 = Now();
            for (int k = 0; k < inner; ++k) {
                memcpy(warm, pr, bytes);
                g_sink = static_cast<unsigned char *>(warm)[bytes - 1];
            }
            hot.Take((Now() - t0) / inner);

            VARIANT v;
            VariantInit(&v);
            double total = 0;
            for (int k = 0; k < inner; ++k) {
                t0 = Now();
                zrtkaArray2Variant(source, &v, &flags);
                total += Now() - t0;
                if (k + 1 < inner) VariantClear(&v);
            }
            toVariant.Take(total / inner);

            total = 0;
            for (int k = 0; k < inner; ++k) {
                kaArray *back = nullptr;
                t0 = Now();
                zrtVariant2kaArray(&v, &back, &flags);
                total += Now() - t0;
                kaDestroyArray(back);
            }
            toArray.Take(total / inner);
            VariantClear(&v);
        }
        const double gb = static_cast<double>(bytes) / 1e9;
        printf("%10d %9.2f %9.2f %9s  %5.2f (%4.2f | %4.2f)     %5.2f (%4.2f | %4.2f)\n", n, gb / fresh.seconds,
               gb / hot.seconds, "", gb / toVariant.seconds, fresh.seconds / toVariant.seconds,
               hot.seconds / toVariant.seconds, gb / toArray.seconds, fresh.seconds / toArray.seconds,
               hot.seconds / toArray.seconds);
        free(warm);
        kaDestroyArray(source);
    }
}

void CellArrays() {
    ConversionFlags flags;
    zrtInitConversionFlags(&flags);
    const int n = 100000;
    kaArray *cells = kaCreateCellMatrix(n, 1);
    for (int i = 0; i < n; ++i) {
        kaArray *scalar = kaCreateDoubleMatrix(1, 1, kaREAL);
        kaGetPr(scalar)[0] = i;
        kaSetCell(cells, i, scalar);
    }
    Best toVariant, toArray;
    for (int r = 0; r < 5; ++r) {
        VARIANT v;
        VariantInit(&v);
        double t0 = Now();
        zrtkaArray2Variant(cells, &v, &flags);
        toVariant.Take(Now() - t0);
        kaArray *back = nullptr;
        t0 = Now();
        zrtVariant2kaArray(&v, &back, &flags);
        toArray.Take(Now() - t0);
        kaDestroyArray(back);
        VariantClear(&v);
    }
    // What the host's own array creation costs of that: a 1-by-1 array made
    // and stored into a cell array for every element.
    Best hostOnly;
    for (int r = 0; r < 5; ++r) {
        const double t0 = Now();
        kaArray *made = kaCreateCellMatrix(n, 1);
        for (int i = 0; i < n; ++i) kaSetCell(made, i, kaCreateDoubleMatrix(1, 1, kaREAL));
        hostOnly.Take(Now() - t0);
        kaDestroyArray(made);
    }
    printf("\ncell array of %d double scalars, ns per element: array to VARIANT %.0f, VARIANT to array %.0f"
           " (of which the host's array creation %.0f)\n",
           n, toVariant.seconds * 1e9 / n, toArray.seconds * 1e9 / n, hostOnly.seconds * 1e9 / n);
    kaDestroyArray(cells);
}

}  // namespace

int main(int argc, char **argv) {
    const bool quick = argc > 1 && strcmp(argv[1], "--quick") == 0;
    DoubleArrays(quick);
    CellArrays();
    return 0;
}
