// Runs a program of the test folder as a child process and collects what it
// printed and its exit code, for tests of command-line programs.
#pragma once

#include <string>
#include <vector>

struct ChildRun {
    unsigned long exitCode = 0xDEADu;  // 0xDEAD as well when it could not be started
    std::string out;                   // standard output, CR LF turned into LF
    std::string err;                   // standard error, likewise
};

// Starts "<test folder>\program" with the command-line tail (already quoted
// as the program expects it) and waits for it.
ChildRun RunTestFolderProgram(const char *program, const std::string &arguments);

// The folder of the running test program, with a trailing backslash.
std::string TestFolder();

// Splits text at LF; a final LF ends the last line rather than starting one.
std::vector<std::string> Lines(const std::string &text);
