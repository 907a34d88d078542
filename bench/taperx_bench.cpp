// Times the window plug-in through the host's loader for long windows at
// r = 100 dB, beside a plain loop of the same number of multiply-adds, both
// measured in this run so that their ratio shows what the series costs over
// the bare dependency chain of a running product and sum.
//
//   taperx_bench [REPEATS]     (default 3; the best time of the repeats counts)
#include "plx.h"

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

namespace {

const int kCounts[] = {1000, 10000, 50000, 92684};
const double kAttenuation = 100.0;

double Now() {
    static LARGE_INTEGER frequency = {};
    if (frequency.QuadPart == 0) QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Inner steps of the series over one half of an N-point window: k - 1 for
// each k = 1 .. n-1, n = N/2 rounded up.
double MultiplyAdds(int count) {
    const double half = count / 2 + count % 2;
    return (half - 1) * (half - 2) / 2;
}

// Seconds for one call of the plug-in; negative when it failed.
double TimePlugin(plxPlugin *plugin, int count) {
    kaArray *n = kaCreateDoubleMatrix(1, 1, kaREAL);
    kaArray *r = kaCreateDoubleMatrix(1, 1, kaREAL);
    kaGetPr(n)[0] = count;
    kaGetPr(r)[0] = kAttenuation;
    const kaArray *args[] = {n, r};
    kaArray *results[1] = {nullptr};
    const double start = Now();
    const int raised = plxHostCallPlugin(plugin, 1, results, 2, args);
    const double seconds = Now() - start;
    if (raised) fprintf(stderr, "taperx raised: %s\n", kaHostLastError());
    kaDestroyArray(results[0]);
    kaDestroyArray(n);
    kaDestroyArray(r);
    return raised ? -1.0 : seconds;
}

volatile double g_factor = 1.0;  // read at run time, so the loop cannot be folded
volatile double g_sink = 0.0;

// The same loop nest and count of multiply-adds, with the factor given:
// term = term * f; sum = sum + term.
double TimePlainLoop(int count) {
    const int half = count / 2 + count % 2;
    const double f = g_factor;
    const double start = Now();
    double total = 0.0;
    for (int k = 1; k <= half - 1; ++k) {
        double term = 1.0;
        double sum = 0.0;
        for (int i = 0; i <= k - 2; ++i) {
            term = term * f;
            sum = sum + term;
        }
        total = total + sum;
    }
    const double seconds = Now() - start;
    g_sink = total;
    return seconds;
}

}  // namespace

int main(int argc, char **argv) {
    const int repeats = argc > 1 ? atoi(argv[1]) : 3;
    char why[300];
    plxPlugin *plugin = plxHostLoadPlugin("taperx.dll", why, sizeof why);
    if (!plugin) {
        fprintf(stderr, "%s\n", why);
        return 1;
    }
    printf("taperx at r = %g dB, best of %d\n", kAttenuation, repeats < 1 ? 1 : repeats);
    printf("%8s %14s %11s %12s %11s %12s %7s\n", "N", "multiply-adds", "taperx s", "taperx M/s", "plain s",
           "plain M/s", "ratio");
    fflush(stdout);
    for (int count : kCounts) {
        double plugin_s = 1e300, plain_s = 1e300;
        for (int rep = 0; rep < (repeats < 1 ? 1 : repeats); ++rep) {
            const double p = TimePlugin(plugin, count);
            if (p < 0) {
                plxHostUnloadPlugin(plugin);
                return 1;
            }
            if (p < plugin_s) plugin_s = p;
            const double q = TimePlainLoop(count);
            if (q < plain_s) plain_s = q;
        }
        const double madds = MultiplyAdds(count);
        printf("%8d %14.0f %11.4f %12.1f %11.4f %12.1f %7.2f\n", count, madds, plugin_s, madds / plugin_s / 1e6,
               plain_s, madds / plain_s / 1e6, plugin_s / plain_s);
        fflush(stdout);
    }
    plxHostUnloadPlugin(plugin);
    return 0;
}
