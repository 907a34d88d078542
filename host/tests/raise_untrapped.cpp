// Raises a host error with no trap registered: the host is to print the
// message on standard error and end the process with status 1.
#include "ka.h"

#include <stdio.h>

int main() {
    kaErrMsgTxt("nobody catches this");
    puts("not reached");
    return 0;
}
