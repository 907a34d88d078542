// taperx: the Dolph-Chebyshev window plug-in.
//
// plxFunction(nresults, results, nargs, args) takes the window length N and
// the side-lobe attenuation r (dB) as two real double scalars and stores an
// N-by-1 column of coefficients, normalised so that the largest is 1, in the
// first result slot. Each coefficient is a finite series in T = tanh(beta)^2,
// beta being the inverse hyperbolic cosine of 10^(r/20) divided by N - 1,
// summed for one half of the window and mirrored to the other. All arithmetic
// is IEEE double, in the order written here; no transform is used.
//
// Counts outside what the window needs:
// - below 1 (after truncation), NaN or infinite: an empty 0-by-1 result;
// - finite with a truncation outside the signed 32-bit range: a host error;
// - above 92,684 points the divisors (j+1)(j+2) pass 2^31, so the table holds
//   doubles (8 bytes an entry), which stay exact up to 2^53 and never
//   overflow, and the two integer factors of each step are multiplied in
//   double; for shorter windows every value is the same as with 32-bit
//   integers.
// A result matrix the host cannot create is reported as "Failed to allocate
// result array", after the table has been freed.
//
// Host errors unwind by longjmp straight back to the host's trap, so no
// frame of this file owns anything that would need a destructor, and every
// error is raised before the divisor table is allocated or after it has
// been freed. Nothing is stored in the result slot before the last possible
// error has passed.
#include "plx.h"

#include <emmintrin.h>
#include <math.h>
#include <stddef.h>

namespace {

const char kMessageWorkArray[] = "Failed to allocate work array";
const char kMessageResultArray[] = "Failed to allocate result array";
const char kMessageCountRange[] =
    "Window length out of range: the first argument must lie within the signed 32-bit integer range.";

// ---- argument checks ----

bool WrongArgumentCount(int nresults, int nargs, const kaArray *args[]) { return nargs != 2; }

bool ArgumentNotDouble(int nresults, int nargs, const kaArray *args[]) {
    return !kaIsDouble(args[0]) || !kaIsDouble(args[1]);
}

bool ArgumentNotScalar(int nresults, int nargs, const kaArray *args[]) {
    return kaGetNumberOfElements(args[0]) != 1 || kaGetNumberOfElements(args[1]) != 1;
}

bool TooManyResults(int nresults, int nargs, const kaArray *args[]) { return nresults > 1; }

struct ArgumentCheck {
    bool (*fails)(int nresults, int nargs, const kaArray *args[]);
    const char *message;
};

// Applied in this order; the first that fails ends the call.
const ArgumentCheck kArgumentChecks[] = {
    {WrongArgumentCount, "Incorrect number of input arguments."},
    {ArgumentNotDouble, "Input arguments must be double-precision scalars."},
    {ArgumentNotScalar, "Inputs must be scalars."},
    {TooManyResults, "Too many return arguments."},
};

void CheckArguments(int nresults, int nargs, const kaArray *args[]) {
    for (const ArgumentCheck &check : kArgumentChecks) {
        if (check.fails(nresults, nargs, args)) plxErrMsgTxt(check.message);
    }
}

// ---- the window length ----

enum CountKind {
    COUNT_WINDOW,        // a count of 1 or more
    COUNT_EMPTY,         // below 1, NaN or infinite: an empty result
    COUNT_OUT_OF_RANGE,  // finite, but its truncation is not a 32-bit integer
};

// Reads N from the first argument, truncated toward zero (5.9 gives 5,
// -0.5 gives 0).
CountKind ReadCount(const kaArray *arg, int *count) {
    const double value = kaGetPr(arg)[0];
    *count = 0;
    if (isnan(value) || isinf(value)) return COUNT_EMPTY;
    // Truncation lies in [-2^31, 2^31 - 1] exactly when -2^31 - 1 < value < 2^31.
    if (value <= -2147483649.0 || value >= 2147483648.0) return COUNT_OUT_OF_RANGE;
    *count = static_cast<int>(value);
    return *count < 1 ? COUNT_EMPTY : COUNT_WINDOW;
}

// N/2 rounded up: the number of distinct coefficients of the symmetric window.
int HalfLength(int count) { return count / 2 + (count % 2 != 0 ? 1 : 0); }

// ---- the divisor table ----

// Entry j holds (j + 1)(j + 2). The entries are held as doubles: a divisor
// passes through double arithmetic anyway, every one up to 2^53 is exact
// (windows of up to about 1.9e8 points), and none overflows, whereas a 32-bit
// integer table overflows beyond 92,684 points. Both factors are exact doubles,
// so the product is the exact integer wherever that is representable.
void FillDivisors(double *table, int half) {
    for (int j = 0; j < half - 2; ++j) table[j] = double(j + 1) * double(j + 2);
}

// ---- the coefficients ----

// T = tanh(beta)^2 with beta = acosh(10^(r/20)) / (N - 1), the inverse
// hyperbolic cosine written out with the natural logarithm.
double SeriesRatio(int count, double attenuation) {
    const double x0 = pow(10.0, attenuation * 0.05);
    const double beta = log(x0 + sqrt(x0 * x0 - 1.0)) / (count - 1);
    const double t = tanh(beta);
    return t * t;
}

// Coefficient k (1 <= k < half) before normalisation: the series
// sum over i = 0 .. k-1 of T^(i+1) C(N-2-k, i) C(k-1, i) / (i+1),
// formed term by term in ascending i, the first term T added last:
//   f = ((N-k-2-i) (k-1-i)) T / divisor[i]; term = term f; sum = sum + term.
// The factors N-k-2-i and k-1-i are held as doubles (exact integers, stepped
// down by 1 or 2) and multiplied in double: their product exceeds 2^31 for
// windows beyond 92,684 points, and in double it is exact up to 2^53 and
// correctly rounded above.
//
// The factors f do not depend on one another, only the running product and
// sum do; so f is formed for two steps at once with SSE2 packed operations,
// which round each lane exactly as the scalar operations do, and the two are
// then applied one after the other. The division is the costly step, and a
// packed division does two of them for about the price of one.
double SeriesCoefficient(int count, int k, double ratio, const double *divisors) {
    const int steps = k - 1;
    double term = ratio;
    double sum = 0.0;
    int i = 0;
    if (steps >= 2) {
        const __m128d t = _mm_set1_pd(ratio);
        const __m128d two = _mm_set1_pd(2.0);
        // Low lane step i, high lane step i + 1.
        __m128d a = _mm_set_pd(double(count - k - 3), double(count - k - 2));
        __m128d b = _mm_set_pd(double(k - 2), double(k - 1));
        for (; i + 1 < steps; i += 2) {
            const __m128d f = _mm_div_pd(_mm_mul_pd(_mm_mul_pd(a, b), t), _mm_loadu_pd(divisors + i));
            a = _mm_sub_pd(a, two);
            b = _mm_sub_pd(b, two);
            term = term * _mm_cvtsd_f64(f);
            sum = sum + term;
            term = term * _mm_cvtsd_f64(_mm_unpackhi_pd(f, f));
            sum = sum + term;
        }
    }
    for (; i < steps; ++i) {
        const double f = (double(count - k - 2 - i) * double(k - 1 - i)) * ratio / divisors[i];
        term = term * f;
        sum = sum + term;
    }
    return sum + ratio;
}

// Fills w[0] .. w[N-1] with the window before normalisation and answers its
// largest value: the running maximum takes any value it is not at least as
// large as, so an equal value leaves it and a NaN always replaces it.
double WindowValues(double *w, int count, int half, double attenuation, const double *divisors) {
    const double c = 1.0 / (count - 1);
    const double ratio = SeriesRatio(count, attenuation);
    w[0] = c;
    w[count - 1] = c;
    double largest = c;
    for (int k = 1; k <= half - 1; ++k) {
        const double v = SeriesCoefficient(count, k, ratio, divisors);
        w[k] = v;
        w[count - 1 - k] = v;  // for odd N the last k is the centre itself
        if (!(largest >= v)) largest = v;
    }
    return largest;
}

void Normalise(double *w, int count, double largest) {
    for (int i = 0; i < count; ++i) w[i] = w[i] / largest;
}

// A count below 1: an empty 0-by-1 result, nothing written into it.
void StoreEmptyResult(kaArray *results[]) {
    kaArray *empty = kaCreateDoubleMatrix(0, 1, kaREAL);
    if (!empty) plxErrMsgTxt(kMessageResultArray);
    results[0] = empty;
}

}  // namespace

extern "C" void plxFunction(int nresults, kaArray *results[], int nargs, const kaArray *args[]) {
    CheckArguments(nresults, nargs, args);

    int count = 0;
    switch (ReadCount(args[0], &count)) {
    case COUNT_EMPTY:
        StoreEmptyResult(results);
        return;
    case COUNT_OUT_OF_RANGE:
        plxErrMsgTxt(kMessageCountRange);
    case COUNT_WINDOW:
        break;
    }
    const double attenuation = kaGetPr(args[1])[0];
    const int half = HalfLength(count);

    double *divisors = nullptr;
    if (half >= 3) {
        divisors = static_cast<double *>(kaCalloc(static_cast<size_t>(half - 2), sizeof(double)));
        if (!divisors) plxErrMsgTxt(kMessageWorkArray);
    }
    kaArray *result = kaCreateDoubleMatrix(count, 1, kaREAL);
    if (!result) {
        kaFree(divisors);
        plxErrMsgTxt(kMessageResultArray);
    }
    if (divisors) FillDivisors(divisors, half);

    results[0] = result;
    double *w = kaGetPr(result);
    const double largest = WindowValues(w, count, half, attenuation, divisors);
    Normalise(w, count, largest);

    if (divisors) kaFree(divisors);
}
