// plxrun: calls a plug-in from the command line, the way users and scripts
// call one without writing a host program.
//
//   plxrun PLUGIN [ARG ...]
//
// Loads PLUGIN through the host's plug-in loader, passes each ARG as a real
// 1-by-1 double, asks for one result and prints every element of the
// result's real data with %.17g, one per line. The loader traps host errors
// raised inside the plug-in, so nothing here is jumped over by one.
#include "plx.h"

#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

const int kExitRaised = 1;
const int kExitUsage = 2;

const char kUsage[] =
    "usage: plxrun PLUGIN [ARG ...]\n"
    "\n"
    "Loads the plug-in PLUGIN (a DLL exporting plxFunction) through the host's\n"
    "loader, passes each ARG to it as a real 1-by-1 double, asks for one result\n"
    "and prints every element of the result's real data with %.17g, one per line;\n"
    "NaN prints as nan, infinities as inf and -inf. PLUGIN may be written with\n"
    "/ or \\; a bare file name is looked for as Windows looks for DLLs.\n"
    "\n"
    "ARG is a decimal number as C's strtod reads it (5, -0.5, 1e-3), or nan, inf,\n"
    "infinity, with an optional sign, in any case; nothing may follow the number.\n"
    "\n"
    "Exit status:\n"
    "  0  the plug-in returned; its result was printed\n"
    "  1  the plug-in raised a host error (its message is on standard error), or\n"
    "     it returned no result, or one that is not a full numeric array\n"
    "  2  wrong command line, an ARG that is not a number, or a PLUGIN that\n"
    "     cannot be loaded\n"
    "\n"
    "plxrun --help prints this text on standard output.\n";

// Standard output is fully buffered: under Wine each unbuffered write is a
// round trip to the Wine server, which would make a long column take seconds.
char g_outputBuffer[1 << 16];

bool SameWord(const char *a, const char *b) {
    for (; *a && *b; ++a, ++b) {
        char x = *a, y = *b;
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (x != y) return false;
    }
    return *a == *b;
}

// nan, inf and infinity with an optional sign, in any case: C runtimes
// differ in whether strtod reads them.
bool ParseSpecial(const char *text, double *value) {
    const char *word = text;
    double sign = 1.0;
    if (*word == '+' || *word == '-') {
        if (*word == '-') sign = -1.0;
        ++word;
    }
    if (SameWord(word, "nan")) {
        *value = NAN;
        return true;
    }
    if (SameWord(word, "inf") || SameWord(word, "infinity")) {
        *value = sign * INFINITY;
        return true;
    }
    return false;
}

// A number that overflows reads as an infinity and one that underflows as
// zero or a subnormal, as strtod gives them.
bool ParseNumber(const char *text, double *value) {
    if (ParseSpecial(text, value)) return true;
    if (*text == '\0') return false;
    char *end = nullptr;
    *value = strtod(text, &end);
    return end != text && *end == '\0';
}

// The plug-in path as Windows expects it: forward slashes become backslashes.
std::string WindowsPath(const char *path) {
    std::string p(path);
    for (char &c : p) {
        if (c == '/') c = '\\';
    }
    return p;
}

void PrintValue(double v) {
    if (isnan(v)) fputs("nan\n", stdout);
    else if (isinf(v)) fputs(v > 0 ? "inf\n" : "-inf\n", stdout);
    else printf("%.17g\n", v);
}

// Element i of the real data of a full numeric array, as a double.
double RealElement(const kaArray *a, int i) {
    const void *data = kaGetPr(a);
    switch (kaGetClassID(a)) {
    case kaDOUBLE_CLASS: return static_cast<const double *>(data)[i];
    case kaSINGLE_CLASS: return static_cast<const float *>(data)[i];
    case kaINT8_CLASS: return static_cast<const int8_t *>(data)[i];
    case kaUINT8_CLASS: return static_cast<const uint8_t *>(data)[i];
    case kaINT16_CLASS: return static_cast<const int16_t *>(data)[i];
    case kaUINT16_CLASS: return static_cast<const uint16_t *>(data)[i];
    case kaINT32_CLASS: return static_cast<const int32_t *>(data)[i];
    case kaUINT32_CLASS: return static_cast<const uint32_t *>(data)[i];
    case kaINT64_CLASS: return static_cast<double>(static_cast<const int64_t *>(data)[i]);
    case kaUINT64_CLASS: return static_cast<double>(static_cast<const uint64_t *>(data)[i]);
    default: return NAN;
    }
}

bool IsFullNumeric(const kaArray *a) {
    const kaClassID c = kaGetClassID(a);
    return c >= kaDOUBLE_CLASS && c <= kaUINT64_CLASS;
}

// Prints the result and answers the exit status.
int PrintResult(const kaArray *result) {
    if (!result) {
        fflush(stdout);
        fputs("plxrun: the plug-in returned no result\n", stderr);
        return kExitRaised;
    }
    if (!IsFullNumeric(result)) {
        fflush(stdout);
        fprintf(stderr, "plxrun: the plug-in returned an array of class %d, not a full numeric array\n",
                kaGetClassID(result));
        return kExitRaised;
    }
    const int n = kaGetNumberOfElements(result);
    for (int i = 0; i < n; ++i) PrintValue(RealElement(result, i));
    return 0;
}

// Creates the arguments, calls the plug-in and prints; answers the exit status.
int CallAndPrint(plxPlugin *plugin, const std::vector<double> &values) {
    std::vector<kaArray *> owned;
    int status = 0;
    for (double v : values) {
        kaArray *a = kaCreateDoubleMatrix(1, 1, kaREAL);
        if (!a) {
            fputs("plxrun: out of memory for the arguments\n", stderr);
            status = kExitUsage;
            break;
        }
        kaGetPr(a)[0] = v;
        owned.push_back(a);
    }
    if (status == 0) {
        std::vector<const kaArray *> args(owned.begin(), owned.end());
        kaArray *results[1] = {nullptr};
        if (plxHostCallPlugin(plugin, 1, results, static_cast<int>(args.size()), args.data()) != 0) {
            fflush(stdout);
            fprintf(stderr, "%s\n", kaHostLastError());
            status = kExitRaised;
        } else {
            status = PrintResult(results[0]);
        }
        kaDestroyArray(results[0]);
    }
    for (kaArray *a : owned) kaDestroyArray(a);
    return status;
}

}  // namespace

int main(int argc, char **argv) {
    setvbuf(stdout, g_outputBuffer, _IOFBF, sizeof g_outputBuffer);
    if (argc < 2 || SameWord(argv[1], "-h") || SameWord(argv[1], "--help") || SameWord(argv[1], "/?")) {
        fputs(kUsage, argc < 2 ? stderr : stdout);
        return argc < 2 ? kExitUsage : 0;
    }

    std::vector<double> values;
    for (int i = 2; i < argc; ++i) {
        double v = 0.0;
        if (!ParseNumber(argv[i], &v)) {
            fprintf(stderr, "plxrun: argument %d is not a number: \"%s\" (plxrun --help for usage)\n", i - 1,
                    argv[i]);
            return kExitUsage;
        }
        values.push_back(v);
    }

    char why[512];
    plxPlugin *plugin = plxHostLoadPlugin(WindowsPath(argv[1]).c_str(), why, sizeof why);
    if (!plugin) {
        fprintf(stderr, "plxrun: %s\n", why[0] ? why : "cannot load the plug-in");
        return kExitUsage;
    }
    const int status = CallAndPrint(plugin, values);
    fflush(stdout);
    plxHostUnloadPlugin(plugin);
    return status;
}
