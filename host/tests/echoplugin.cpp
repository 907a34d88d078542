// A plug-in for the tests of plxrun: answers an nargs-by-1 double column of
// the first real value of each argument, or the text "echo" when it is
// given no argument.
#include "plx.h"

extern "C" void plxFunction(int nresults, kaArray *results[], int nargs, const kaArray *args[]) {
    if (nargs == 0) {
        results[0] = kaCreateString("echo");
        return;
    }
    kaArray *column = kaCreateDoubleMatrix(nargs, 1, kaREAL);
    for (int i = 0; i < nargs; ++i) kaGetPr(column)[i] = kaGetPr(args[i])[0];
    results[0] = column;
}
