// The run step: what the C run time's system("zendra2.exe") does, written
// out so that every part of it is fixed here rather than left to the C run
// time in use: which interpreter is taken, how its command line looks, and
// which handles and settings the started process gets.
#include "run_application.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// The command the interpreter runs: the application, found by the
// interpreter in the current directory or along "PATH". No arguments.
const char kCommand[] = "zendra2.exe";

// The interpreter searched for when "COMSPEC" is not set.
const char kInterpreterName[] = "CMD.EXE";

// Closes a kernel handle when it goes out of scope.
class HandleGuard {
public:
    explicit HandleGuard(HANDLE handle) : handle_(handle) {}
    ~HandleGuard() {
        if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    }
    HandleGuard(const HandleGuard &) = delete;
    HandleGuard &operator=(const HandleGuard &) = delete;
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

// Reads an environment variable. Answers false only when the variable is not
// set at all; a variable set to the empty string answers true with an empty
// value (an empty "COMSPEC" then names no file and the run step gives -1).
bool ReadEnvironment(const char *name, std::string *value) {
    std::vector<char> buffer(256);
    for (;;) {
        SetLastError(ERROR_SUCCESS);
        DWORD length = GetEnvironmentVariableA(name, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
            value->clear();
            return true;
        }
        if (length < buffer.size()) {
            value->assign(buffer.data(), length);
            return true;
        }
        buffer.resize(length);  // length counts the terminating zero here
    }
}

// True for an existing file; a folder is not an interpreter.
bool IsExistingFile(const std::string &path) {
    if (path.empty()) return false;
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The absolute form of a path that was found relative to a folder of the
// search (the current directory or a relative "PATH" entry).
std::string FullPathOf(const std::string &path) {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        DWORD length = GetFullPathNameA(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
        if (length == 0) return path;
        if (length < buffer.size()) return std::string(buffer.data(), length);
        buffer.resize(length);
    }
}

// Joins a search folder and the interpreter's file name. A separator is added
// unless the folder already ends in one or is a bare drive ("C:"), where
// adding one would change the folder meant.
std::string JoinFolder(const std::string &folder, const char *name) {
    if (folder.empty()) return name;
    char last = folder.back();
    if (last == '\\' || last == '/' || last == ':') return folder + name;
    return folder + '\\' + name;
}

// The folders of a "PATH" value: split at every ";", and every double quote
// inside an entry dropped, so that "C:\My Tools" names the folder C:\My Tools.
// A ";" is always a separator, between quotes too. Empty entries are
// skipped: the current directory they would stand for has been searched
// already.
std::vector<std::string> SplitSearchPath(const std::string &path) {
    std::vector<std::string> folders;
    std::string folder;
    for (char c : path) {
        if (c == ';') {
            if (!folder.empty()) folders.push_back(folder);
            folder.clear();
        } else if (c != '"') {
            folder += c;
        }
    }
    if (!folder.empty()) folders.push_back(folder);
    return folders;
}

// Step 1: the interpreter is the value of "COMSPEC"; where that variable is
// not set, "CMD.EXE" in the current directory, else in the first folder along
// "PATH" that has it, as a full path. Answers false when neither gives one.
// A "COMSPEC" that names no file is not replaced by the search: step 2
// rejects it.
bool FindInterpreter(std::string *interpreter) {
    if (ReadEnvironment("COMSPEC", interpreter)) return true;

    if (IsExistingFile(kInterpreterName)) {
        *interpreter = FullPathOf(kInterpreterName);
        return true;
    }
    std::string path;
    if (!ReadEnvironment("PATH", &path)) return false;
    for (const std::string &folder : SplitSearchPath(path)) {
        std::string candidate = JoinFolder(folder, kInterpreterName);
        if (IsExistingFile(candidate)) {
            *interpreter = FullPathOf(candidate);
            return true;
        }
    }
    return false;
}

// Step 3, first half: the short (8.3) form of the interpreter's path, so that
// a path with blanks stays one word on the command line. Where Windows gives
// no short form (the volume keeps none, or the call fails), the path as found.
std::string ShortFormOf(const std::string &path) {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        DWORD length = GetShortPathNameA(path.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return path;
        if (length < buffer.size()) return std::string(buffer.data(), length);
        buffer.resize(length);
    }
}

// Step 3: "<interpreter> /c zendra2.exe".
std::string BuildCommandLine(const std::string &interpreter) {
    return ShortFormOf(interpreter) + " /c " + kCommand;
}

// Step 4: nothing the launcher buffered may come out after, or mixed into,
// the output of the processes that share its console and handles.
void FlushOutputStreams() { std::fflush(nullptr); }

// Steps 5 and 6: start the interpreter as a plain child sharing everything
// (console, standard handles and other inheritable handles, environment,
// current directory), wait for it without a time limit and answer its exit
// status. -1 when it cannot be started or its status cannot be read.
int StartAndWait(const std::string &interpreter, std::string commandLine) {
    // The child's process and thread handles are made inheritable, so that
    // processes the launcher might start later could inherit them.
    SECURITY_ATTRIBUTES processAttributes = {sizeof processAttributes, nullptr, TRUE};
    SECURITY_ATTRIBUTES threadAttributes = {sizeof threadAttributes, nullptr, TRUE};
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};

    // CreateProcessA may write into the command line: hand it a private copy.
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    if (!CreateProcessA(interpreter.c_str(), line.data(), &processAttributes, &threadAttributes,
                        TRUE,     // inherit the launcher's inheritable handles
                        0,        // no creation flags: same console, normal priority
                        nullptr,  // the launcher's environment
                        nullptr,  // the launcher's current directory
                        &startup, &info)) {
        return -1;
    }
    HandleGuard process(info.hProcess);
    HandleGuard thread(info.hThread);

    if (WaitForSingleObject(process.get(), INFINITE) != WAIT_OBJECT_0) return -1;
    DWORD status = 0;
    if (!GetExitCodeProcess(process.get(), &status)) return -1;
    // A status of 0xFFFFFFFF is the interpreter's own -1 and is passed on so.
    return static_cast<int>(status);
}

}  // namespace

// The steps, in order: 1 find the interpreter, 2 check that it exists,
// 3 build its command line, 4 flush the launcher's output streams, 5 start
// it, 6 wait for it and take its exit status.
int RunApplication() {
    std::string interpreter;
    if (!FindInterpreter(&interpreter)) return -1;
    // Step 2: nothing is started for an interpreter that does not exist.
    if (!IsExistingFile(interpreter)) return -1;
    std::string commandLine = BuildCommandLine(interpreter);
    FlushOutputStreams();
    return StartAndWait(interpreter, commandLine);
}
