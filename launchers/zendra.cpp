// zendra: starts the application "zendra2.exe" through the command
// interpreter, waits for it and ends with the interpreter's exit status
// (-1 when no interpreter could be found or started). Command-line
// arguments are accepted and ignored; nothing is printed.
#include "run_application.h"

int main() { return RunApplication(); }
