// Stand-in for the application that the launchers start, used by the tests.
// The same program also stands in for the command interpreter (copied under
// the name CMD.EXE or named by "COMSPEC"), where a test needs to see the
// exact command line an interpreter receives.
//
// Each run appends one record to the log named by ZENDRA2_LOG:
//   exe=<its own file>
//   cmdline=<its command line as received>
//   argc=<number of arguments, the program name included>
//   cwd=<current directory>
//   handoff=<bytes of ini\zendra.txt in hex, blank-separated> or "absent"
// followed by an empty line. Then, as the test asks:
//   ZENDRA2_OUT     text written to standard output
//   ZENDRA2_HANDLE  a handle value (decimal) of a file that the test made
//                   inheritable: "zendra2" is written through it, which
//                   works only where the handle was inherited all the way
//   ZENDRA2_DELETE  "1": delete ini\zendra.txt after reading it
//   ZENDRA2_STATUS  exit status (decimal, default 0)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string HandOffBytes() {
    std::FILE *file = std::fopen("ini\\zendra.txt", "rb");
    if (file == nullptr) return "absent";
    std::string hex;
    int c;
    while ((c = std::fgetc(file)) != EOF) {
        char byte[4];
        std::snprintf(byte, sizeof byte, "%s%02X", hex.empty() ? "" : " ", c);
        hex += byte;
    }
    std::fclose(file);
    return hex;
}

void AppendRecord(const char *log, int argc) {
    char exe[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    char cwd[MAX_PATH] = "";
    GetCurrentDirectoryA(MAX_PATH, cwd);
    std::string record = std::string("exe=") + exe + "\ncmdline=" + GetCommandLineA() +
                         "\nargc=" + std::to_string(argc) + "\ncwd=" + cwd +
                         "\nhandoff=" + HandOffBytes() + "\n\n";
    std::FILE *file = std::fopen(log, "ab");
    if (file == nullptr) return;
    std::fwrite(record.data(), 1, record.size(), file);
    std::fclose(file);
}

}  // namespace

int main(int argc, char **argv) {
    if (const char *log = std::getenv("ZENDRA2_LOG")) AppendRecord(log, argc);
    if (const char *out = std::getenv("ZENDRA2_OUT")) {
        std::fputs(out, stdout);
        std::fflush(stdout);
    }
    if (const char *handle = std::getenv("ZENDRA2_HANDLE")) {
        DWORD written = 0;
        WriteFile(reinterpret_cast<HANDLE>(std::strtoul(handle, nullptr, 10)), "zendra2", 7, &written, nullptr);
    }
    if (const char *del = std::getenv("ZENDRA2_DELETE"); del && std::string(del) == "1") {
        DeleteFileA("ini\\zendra.txt");
    }
    const char *status = std::getenv("ZENDRA2_STATUS");
    return status ? std::atoi(status) : 0;
}
