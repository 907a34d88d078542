// A plug-in for the loader's tests. The first argument picks what it does:
// 0 stores a 1-by-1 result holding nargs; 1 stores a result and then raises
// "plug-in failed" (the loader must destroy that result); 2 prints a line.
#include "plx.h"

extern "C" __declspec(dllexport) void plxFunction(int nresults, kaArray *results[], int nargs, const kaArray *args[]) {
    const int mode = nargs > 0 ? static_cast<int>(kaGetPr(args[0])[0]) : 0;
    if (mode == 2) {
        plxPrintf("plug-in says %d\n", nresults);
        return;
    }
    results[0] = kaCreateDoubleMatrix(1, 1, kaREAL);
    kaGetPr(results[0])[0] = nargs;
    if (mode == 1) plxErrMsgTxt("plug-in failed");
}
