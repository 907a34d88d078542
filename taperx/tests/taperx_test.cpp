// The window plug-in, called through the host's plug-in loader as the host
// calls it: known windows, argument errors, the edge cases of the length and
// the attenuation, agreement with the frequency-domain definition of the
// Dolph-Chebyshev window, the module's string table, and plxrun on it.
#include "childprocess.h"
#include "hosttest.h"
#include "plx.h"

#include <windows.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

// One argument for the plug-in: class, shape and the value of every real
// element (and of every imaginary one when complex).
struct Arg {
    kaClassID classID;
    int rows;
    int cols;
    double value;
    bool complex;
};

Arg Scalar(double value) { return {kaDOUBLE_CLASS, 1, 1, value, false}; }
Arg ComplexScalar(double value) { return {kaDOUBLE_CLASS, 1, 1, value, true}; }
Arg Shaped(int rows, int cols) { return {kaDOUBLE_CLASS, rows, cols, 5.0, false}; }
Arg OfClass(kaClassID c) { return {c, 1, 1, 5.0, false}; }

// Owns the host arrays of one argument list.
class ArgList {
public:
    explicit ArgList(const std::vector<Arg> &args) {
        for (const Arg &a : args) {
            kaArray *array = kaCreateNumericMatrix(a.rows, a.cols, a.classID, a.complex ? kaCOMPLEX : kaREAL);
            const int n = kaGetNumberOfElements(array);
            if (a.classID == kaDOUBLE_CLASS) {
                for (int i = 0; i < n; ++i) kaGetPr(array)[i] = a.value;
                if (a.complex)
                    for (int i = 0; i < n; ++i) static_cast<double *>(kaGetImagData(array))[i] = 99.0 - a.value;
            }
            owned_.emplace_back(array);
            pointers_.push_back(array);
        }
    }
    int count() const { return static_cast<int>(pointers_.size()); }
    const kaArray **data() { return pointers_.empty() ? nullptr : pointers_.data(); }

private:
    std::vector<HostArray> owned_;
    std::vector<const kaArray *> pointers_;
};

plxPlugin *g_plugin = nullptr;

// What one call through the loader gave.
struct Call {
    bool raised = false;
    std::string message;
    bool stored = false;
    int rows = -1;
    int cols = -1;
    bool real = false;
    std::vector<double> w;
};

Call CallPlugin(int nresults, const std::vector<Arg> &args) {
    ArgList list(args);
    kaArray *results[2] = {nullptr, nullptr};
    Call call;
    call.raised = plxHostCallPlugin(g_plugin, nresults, results, list.count(), list.data()) != 0;
    if (call.raised) call.message = kaHostLastError();
    HostArray result(results[0]);
    if (result.get()) {
        call.stored = true;
        call.rows = kaGetM(result);
        call.cols = kaGetN(result);
        call.real = kaIsDouble(result) && !kaHasImagPart(result);
        const double *pr = kaGetPr(result);
        call.w.assign(pr, pr + kaGetNumberOfElements(result));
    }
    return call;
}

Call Window(double count, double attenuation) { return CallPlugin(1, {Scalar(count), Scalar(attenuation)}); }

class TaperxEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        char why[300] = "";
        g_plugin = plxHostLoadPlugin("taperx.dll", why, sizeof why);
        ASSERT_NE(g_plugin, nullptr) << why;
    }
    void TearDown() override { plxHostUnloadPlugin(g_plugin); }
};
const ::testing::Environment *const kEnvironment = ::testing::AddGlobalTestEnvironment(new TaperxEnvironment);

class Taperx : public HostLeakCheck {};

// ---- known windows and edge cases ----

struct Example {
    const char *what;
    std::vector<Arg> args;
    std::vector<double> expected;  // NaN: the element must be NaN
    double tolerance;
};

const std::vector<Example> &Examples() {
    static const std::vector<Example> examples = {
        {"N=5 r=50", {Scalar(5), Scalar(50)}, {0.205494, 0.701046, 1, 0.701046, 0.205494}, 5e-7},
        {"N=6 r=50", {Scalar(6), Scalar(50)}, {0.155909, 0.575353, 1, 1, 0.575353, 0.155909}, 5e-7},
        {"N=2 is 1, 1", {Scalar(2), Scalar(50)}, {1, 1}, 0},
        {"N=2 with r=0", {Scalar(2), Scalar(0)}, {1, 1}, 0},
        {"N=2 with negative r", {Scalar(2), Scalar(-40)}, {1, 1}, 0},
        {"N=1 is NaN", {Scalar(1), Scalar(50)}, {kNaN}, 0},
        {"N=3, series value largest", {Scalar(3), Scalar(50)}, {0.503172, 1, 0.503172}, 5e-7},
        {"N=3, end values largest", {Scalar(3), Scalar(1)}, {1, 0.115002, 1}, 5e-7},
        {"N=4, series values largest", {Scalar(4), Scalar(50)}, {0.351931, 1, 1, 0.351931}, 5e-7},
        {"N=4 r=5, end values largest", {Scalar(4), Scalar(5)}, {1, 0.419032, 0.419032, 1}, 5e-7},
        {"r=0, odd N", {Scalar(5), Scalar(0)}, {1, 0, 0, 0, 1}, 0},
        {"r=0, even N", {Scalar(6), Scalar(0)}, {1, 0, 0, 0, 0, 1}, 0},
        {"negative r, N=3", {Scalar(3), Scalar(-10)}, {kNaN, kNaN, kNaN}, 0},
        {"negative r, N=6", {Scalar(6), Scalar(-1)}, {kNaN, kNaN, kNaN, kNaN, kNaN, kNaN}, 0},
        // pow overflows, t = 1 exactly: w = 1/4, 1, 1.5 before normalisation.
        {"saturated tanh", {Scalar(5), Scalar(1e4)}, {0.25 / 1.5, 1 / 1.5, 1, 1 / 1.5, 0.25 / 1.5}, 1e-16},
        {"7.9 gives 7 points",
         {Scalar(7.9), Scalar(50)},
         {0.111691, 0.419630, 0.813774, 1, 0.813774, 0.419630, 0.111691},
         5e-7},
        {"5.9 gives 5 points", {Scalar(5.9), Scalar(50)}, {0.205494, 0.701046, 1, 0.701046, 0.205494}, 5e-7},
        {"complex arguments: real parts only",
         {ComplexScalar(5), ComplexScalar(50)},
         {0.205494, 0.701046, 1, 0.701046, 0.205494},
         5e-7},
        // A count below 1, NaN or infinite: an empty 0-by-1 column.
        {"N=0", {Scalar(0), Scalar(50)}, {}, 0},
        {"N=0.99", {Scalar(0.99), Scalar(50)}, {}, 0},
        {"N=-0.5", {Scalar(-0.5), Scalar(50)}, {}, 0},
        {"N=-7", {Scalar(-7), Scalar(50)}, {}, 0},
        {"N=-2^31, the lowest count", {Scalar(-2147483648.9), Scalar(50)}, {}, 0},
        {"N=NaN", {Scalar(kNaN), Scalar(50)}, {}, 0},
        {"N=inf", {Scalar(kInf), Scalar(50)}, {}, 0},
        {"N=-inf", {Scalar(-kInf), Scalar(50)}, {}, 0},
    };
    return examples;
}

TEST_F(Taperx, KnownWindowsAndEdgeCases) {
    for (const Example &e : Examples()) {
        SCOPED_TRACE(e.what);
        const Call call = CallPlugin(1, e.args);
        ASSERT_FALSE(call.raised) << call.message;
        ASSERT_TRUE(call.stored);
        EXPECT_EQ(call.rows, static_cast<int>(e.expected.size()));
        EXPECT_EQ(call.cols, 1);
        EXPECT_TRUE(call.real) << "a real double column";
        ASSERT_EQ(call.w.size(), e.expected.size());
        for (size_t i = 0; i < e.expected.size(); ++i) {
            if (std::isnan(e.expected[i])) EXPECT_TRUE(std::isnan(call.w[i])) << "element " << i;
            else EXPECT_NEAR(call.w[i], e.expected[i], e.tolerance) << "element " << i;
        }
    }
}

TEST_F(Taperx, ResultIsStoredWhenNoResultIsAskedFor) {
    const Call call = CallPlugin(0, {Scalar(5), Scalar(50)});
    ASSERT_FALSE(call.raised) << call.message;
    ASSERT_TRUE(call.stored);
    EXPECT_EQ(call.w.size(), 5u);
}

TEST_F(Taperx, SmallWindowsAreEndValuesAndTheFirstTerm) {
    // N = 3 is c, T, c and N = 4 is c, T, T, c, divided by the larger of c
    // and T, with c = 1/(N-1) and T = tanh(acosh(10^(r/20)) / (N-1))^2.
    for (int n : {3, 4}) {
        for (double r : {0.5, 3.0, 9.5, 40.0, 200.0}) {
            SCOPED_TRACE("N=" + std::to_string(n) + " r=" + std::to_string(r));
            const double c = 1.0 / (n - 1);
            const double t = std::tanh(std::acosh(std::pow(10.0, r / 20)) / (n - 1));
            const double m = std::max(c, t * t);
            const Call call = Window(n, r);
            ASSERT_EQ(call.w.size(), static_cast<size_t>(n));
            EXPECT_NEAR(call.w[0], c / m, 1e-15);
            EXPECT_NEAR(call.w[1], t * t / m, 1e-15);
            EXPECT_EQ(call.w[n - 2], call.w[1]);
            EXPECT_EQ(call.w[n - 1], call.w[0]);
        }
    }
}

// ---- argument errors ----

struct ErrorCase {
    const char *what;
    int nresults;
    std::vector<Arg> args;
    const char *message;
};

const char kCountMessage[] = "Incorrect number of input arguments.";
const char kClassMessage[] = "Input arguments must be double-precision scalars.";
const char kScalarMessage[] = "Inputs must be scalars.";
const char kResultsMessage[] = "Too many return arguments.";
const char kRangeMessage[] =
    "Window length out of range: the first argument must lie within the signed 32-bit integer range.";

const std::vector<ErrorCase> &ErrorCases() {
    static const std::vector<ErrorCase> cases = {
        {"no arguments", 1, {}, kCountMessage},
        {"one argument", 1, {Scalar(5)}, kCountMessage},
        {"three arguments", 1, {Scalar(5), Scalar(50), Scalar(1)}, kCountMessage},
        {"three arguments, one of them text", 2, {OfClass(kaCHAR_CLASS), Scalar(50), Scalar(1)}, kCountMessage},
        {"text count", 1, {OfClass(kaCHAR_CLASS), Scalar(50)}, kClassMessage},
        {"single attenuation", 1, {Scalar(5), OfClass(kaSINGLE_CLASS)}, kClassMessage},
        {"int32 count", 1, {OfClass(kaINT32_CLASS), Scalar(50)}, kClassMessage},
        {"uint8 attenuation", 1, {Scalar(5), OfClass(kaUINT8_CLASS)}, kClassMessage},
        {"text and 1-by-2", 1, {OfClass(kaCHAR_CLASS), Shaped(1, 2)}, kClassMessage},
        {"1-by-2 count", 1, {Shaped(1, 2), Scalar(50)}, kScalarMessage},
        {"empty attenuation", 1, {Scalar(5), Shaped(0, 0)}, kScalarMessage},
        {"two results and a 1-by-2 argument", 2, {Scalar(5), Shaped(2, 1)}, kScalarMessage},
        {"two results", 2, {Scalar(5), Scalar(50)}, kResultsMessage},
        {"two results and a count out of range", 2, {Scalar(1e10), Scalar(50)}, kResultsMessage},
        {"count 2^31", 1, {Scalar(2147483648.0), Scalar(50)}, kRangeMessage},
        {"count 1e300", 1, {Scalar(1e300), Scalar(50)}, kRangeMessage},
        {"count -2^31-1", 1, {Scalar(-2147483649.0), Scalar(50)}, kRangeMessage},
        // Truncates to 2^31 - 1; its table does not fit the address space.
        {"count 2^31-1", 1, {Scalar(2147483647.9), Scalar(50)}, "Failed to allocate work array"},
    };
    return cases;
}

plxFunctionEntry Entry() {
    return reinterpret_cast<plxFunctionEntry>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("taperx.dll"), "plxFunction")));
}

TEST_F(Taperx, ArgumentErrorsRaiseTheirMessageAndStoreNothing) {
    const plxFunctionEntry entry = Entry();
    ASSERT_NE(entry, nullptr);
    for (const ErrorCase &e : ErrorCases()) {
        SCOPED_TRACE(e.what);
        // As the host calls it: the loader reports the error.
        const Call call = CallPlugin(e.nresults, e.args);
        EXPECT_TRUE(call.raised);
        EXPECT_EQ(call.message, e.message);

        // The entry called directly inside a trap, with a marker in the
        // slots: the loader would destroy anything stored, so only this
        // shows that the plug-in stored nothing.
        ArgList list(e.args);
        static int markerTarget;
        kaArray *const marker = reinterpret_cast<kaArray *>(&markerTarget);
        kaArray *results[2] = {marker, marker};
        const int nresults = e.nresults, nargs = list.count();
        const kaArray **args = list.data();
        const int arrays = kaHostLiveArrays();
        const auto raised = RaisedBy([&] { entry(nresults, results, nargs, args); });
        ASSERT_TRUE(raised.has_value());
        EXPECT_EQ(*raised, e.message);
        EXPECT_EQ(results[0], marker) << "the result slot was written";
        EXPECT_EQ(results[1], marker);
        EXPECT_EQ(kaHostLiveArrays(), arrays);
    }
}

// ---- the series, step by step ----

// The window exactly as the series is defined, one scalar step at a time:
// for k = 1 .. n-1, term = T, then for i = 0 .. k-2
// f = ((N-k-2-i)(k-1-i)) T / ((i+1)(i+2)), term = term f, sum = sum + term;
// the coefficient is sum + T; the ends are 1/(N-1); the running maximum is
// replaced by any value it is not at least as large as; then every element
// is divided by it in index order.
std::vector<double> SeriesStepByStep(int count, double attenuation) {
    const int half = count / 2 + count % 2;
    const double x0 = std::pow(10.0, attenuation * 0.05);
    const double t = std::tanh(std::log(x0 + std::sqrt(x0 * x0 - 1.0)) / (count - 1));
    const double ratio = t * t;
    std::vector<double> w(count);
    w[0] = w[count - 1] = 1.0 / (count - 1);
    double largest = w[0];
    for (int k = 1; k <= half - 1; ++k) {
        double term = ratio, sum = 0.0;
        for (int i = 0; i <= k - 2; ++i) {
            const double f = (double(count - k - 2 - i) * double(k - 1 - i)) * ratio / (double(i + 1) * double(i + 2));
            term = term * f;
            sum = sum + term;
        }
        const double v = sum + ratio;
        w[k] = w[count - 1 - k] = v;
        if (!(largest >= v)) largest = v;
    }
    for (double &x : w) x = x / largest;
    return w;
}

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b)); }

// The plug-in forms two factors at a time; the result must be the same, bit
// for bit, as forming the series one scalar step after another.
TEST_F(Taperx, EqualsTheSeriesStepByStepBitForBit) {
    std::vector<int> counts;
    for (int n = 1; n <= 40; ++n) counts.push_back(n);
    for (int n : {255, 256, 1001, 4096, 9999}) counts.push_back(n);
    for (int count : counts) {
        for (double attenuation : {-3.0, 0.0, 0.5, 20.0, 50.0, 100.0, 150.0, 300.0, 1e4}) {
            SCOPED_TRACE("N=" + std::to_string(count) + " r=" + std::to_string(attenuation));
            const Call call = Window(count, attenuation);
            const std::vector<double> expected = SeriesStepByStep(count, attenuation);
            ASSERT_EQ(call.w.size(), expected.size());
            for (int n = 0; n < count; ++n)
                ASSERT_TRUE(SameBits(call.w[n], expected[n])) << "element " << n << ": " << call.w[n] << " against "
                                                              << expected[n];
        }
    }
}

// ---- agreement with the frequency-domain definition ----

// The Dolph-Chebyshev window of length N and attenuation r (dB) from its
// spectrum: W(k) = T_{N-1}(x cos(pi k / N)) with x = cosh(acosh(10^(r/20)) /
// (N-1)), T_M the Chebyshev polynomial, sampled at N frequencies and
// transformed back by a direct sum, all in long double:
//   w[n] = sum over k of W(k) cos(pi k (2n - (N-1)) / N).
// (The common factor 1/N does not matter after normalisation.)
class Reference {
public:
    Reference(int count, double attenuation) : count_(count), cosines_(2 * count), spectrum_(count) {
        const long double pi = 3.141592653589793238462643383279502884L;
        for (int j = 0; j < 2 * count; ++j) cosines_[j] = cosl(pi * j / count);
        const int order = count - 1;
        const long double x0 = powl(10.0L, static_cast<long double>(attenuation) / 20);
        const long double x = coshl(acoshl(x0) / order);
        for (int k = 0; k < count; ++k) spectrum_[k] = Chebyshev(order, x * cosines_[k]);
    }

    // Element n before normalisation.
    long double Element(int n) const {
        const long long step = 2LL * n - (count_ - 1);
        const long long period = 2LL * count_;
        long double sum = 0;
        for (int k = 0; k < count_; ++k) {
            long long j = (k * step) % period;
            if (j < 0) j += period;
            sum += spectrum_[k] * cosines_[j];
        }
        return sum;
    }

private:
    static long double Chebyshev(int order, long double y) {
        if (fabsl(y) <= 1) return cosl(order * acosl(y));
        const long double value = coshl(order * acoshl(fabsl(y)));
        return y < 0 && order % 2 != 0 ? -value : value;
    }

    int count_;
    std::vector<long double> cosines_;  // cos(pi j / N), j = 0 .. 2N-1
    std::vector<long double> spectrum_;
};

TEST_F(Taperx, AgreesWithTheFrequencyDomainDefinition) {
    double largest = 0;
    std::string where;
    for (int count : {5, 6, 7, 8, 31, 32, 100, 101, 500, 999, 1000, 2047, 3000, 3001}) {
        for (double attenuation : {20.0, 30.0, 40.0, 50.0, 60.0, 80.0, 100.0, 120.0}) {
            SCOPED_TRACE("N=" + std::to_string(count) + " r=" + std::to_string(attenuation));
            const Call call = Window(count, attenuation);
            ASSERT_EQ(call.w.size(), static_cast<size_t>(count));
            const Reference reference(count, attenuation);
            std::vector<long double> ref(count);
            long double peak = 0;
            for (int n = 0; n < count; ++n) {
                ref[n] = reference.Element(n);
                if (ref[n] > peak) peak = ref[n];
            }
            double top = 0;
            for (int n = 0; n < count; ++n) {
                ASSERT_EQ(call.w[n], call.w[count - 1 - n]) << "symmetry at " << n;
                if (call.w[n] > top) top = call.w[n];
                const double difference = static_cast<double>(fabsl(call.w[n] - ref[n] / peak));
                if (difference > largest) {
                    largest = difference;
                    where = "N=" + std::to_string(count) + " r=" + std::to_string(attenuation) + " element " +
                            std::to_string(n);
                }
            }
            EXPECT_EQ(top, 1.0) << "the largest coefficient is exactly 1";
        }
    }
    std::printf("largest difference from the frequency-domain reference: %.3g (%s)\n", largest, where.c_str());
    EXPECT_LT(largest, 1e-12);
}

// Beyond 92,684 points the divisors (j+1)(j+2) and the products
// (N-k-2-i)(k-1-i) no longer fit 32 bits.
TEST_F(Taperx, WindowsBeyondThirtyTwoBitDivisorsStayExact) {
    const int count = 92687;
    const Call call = Window(count, 100);
    ASSERT_EQ(call.w.size(), static_cast<size_t>(count));
    const int centre = count / 2;
    EXPECT_EQ(call.w[centre], 1.0);
    const Reference reference(count, 100);
    const long double peak = reference.Element(centre);
    double largest = 0;
    for (int n : {0, 1, 2, 1000, count / 4, centre - 100, centre - 1}) {
        EXPECT_EQ(call.w[n], call.w[count - 1 - n]);
        largest = std::max(largest, static_cast<double>(fabsl(call.w[n] - reference.Element(n) / peak)));
    }
    std::printf("largest difference at N=%d, r=100: %.3g\n", count, largest);
    EXPECT_LT(largest, 1e-10);

    // With tanh saturated (t = 1) the series overflow to +inf; a divisor or
    // product that wrapped negative turns that into NaN and the running
    // maximum with it. Exact, the maximum is +inf: the ends are c/inf = 0
    // and every coefficient is 0 (finite) or NaN (inf/inf).
    const Call saturated = Window(count, 1e4);
    ASSERT_EQ(saturated.w.size(), static_cast<size_t>(count));
    EXPECT_EQ(saturated.w[0], 0.0);
    EXPECT_EQ(saturated.w[1], 0.0);
    for (int n = 0; n < count; ++n) {
        if (!(saturated.w[n] == 0.0 || std::isnan(saturated.w[n]))) {
            ADD_FAILURE() << "element " << n << " is " << saturated.w[n];
            break;
        }
    }
}

// ---- the module ----

TEST_F(Taperx, CarriesItsStringTable) {
    HMODULE module = GetModuleHandleA("taperx.dll");
    ASSERT_NE(module, nullptr);
    char text[64];
    ASSERT_GT(LoadStringA(module, 100, text, sizeof text), 0);
    EXPECT_STREQ(text, "CORVEX R11 native");
    ASSERT_GT(LoadStringA(module, 101, text, sizeof text), 0);
    EXPECT_STREQ(text, "not inlined");
}

// ---- plxrun on the plug-in ----

TEST_F(Taperx, PlxrunPrintsTheCoefficientsExactly) {
    const Call call = Window(5, 50);
    const ChildRun run = RunTestFolderProgram("plxrun.exe", "taperx.dll 5 50");
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 5u) << run.out;
    for (size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(std::strtod(lines[i].c_str(), nullptr), call.w[i]) << "line " << i << ": " << lines[i];

    const ChildRun single = RunTestFolderProgram("plxrun.exe", "taperx.dll 1 50");
    EXPECT_EQ(single.exitCode, 0u);
    EXPECT_EQ(single.out, "nan\n");

    const ChildRun empty = RunTestFolderProgram("plxrun.exe", "taperx.dll 0 50");
    EXPECT_EQ(empty.exitCode, 0u);
    EXPECT_EQ(empty.out, "");

    const ChildRun failed = RunTestFolderProgram("plxrun.exe", "taperx.dll 5");
    EXPECT_EQ(failed.exitCode, 1u);
    EXPECT_EQ(failed.out, "");
    EXPECT_EQ(failed.err, std::string(kCountMessage) + "\n");
}

}  // namespace
