// The launchers vont and zendra, run as a user would start them: each case
// gets its own working folder with an "ini" folder and a copy of the
// stand-in application zendra2.exe, starts a launcher there with
// CreateProcess and a chosen environment, and then reads the launcher's exit
// status, its output and the records zendra2.exe left in the case's log.
//
// Copies of zendra2.exe also stand in for the command interpreter (named by
// "COMSPEC" or found as CMD.EXE), where a case needs the exact command line
// and process an interpreter gets; the other cases run Wine's real cmd.exe.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char kHandOff[] = "76 6F 6E 74 0D 0A";  // "vont" CR LF
const DWORD kFailed = 0xFFFFFFFF;               // exit status -1

std::string Folder(const std::string &path) { return path.substr(0, path.find_last_of('\\')); }

std::string ProgramFolder() {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    return Folder(self);
}

// The long, case-folded form of a path, for comparing paths that may be
// spelt in short or long form.
std::string Canonical(const std::string &path) {
    char buffer[MAX_PATH];
    DWORD length = GetLongPathNameA(path.c_str(), buffer, MAX_PATH);
    std::string result = (length > 0 && length < MAX_PATH) ? std::string(buffer, length) : path;
    CharUpperA(result.data());
    return result;
}

std::optional<std::string> ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::string &path, const std::string &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    ASSERT_TRUE(out.good()) << path;
}

bool Exists(const std::string &path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void RemoveTree(const std::string &folder) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            std::string path = folder + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path);
            } else {
                SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(path.c_str());
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
}

// One run of zendra2.exe, as it logged it.
struct Record {
    std::string exe, cmdline, cwd, handoff;
    int argc = 0;
};

// A launcher's run: its exit status and all it and its children wrote to
// standard output and standard error.
struct Outcome {
    DWORD status = 0;
    std::string output;
};

class Launch : public ::testing::Test {
protected:
    void SetUp() override {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        static int counter = 0;
        dir_ = std::string(temp) + "launchers-" + std::to_string(GetCurrentProcessId()) + "-" +
               std::to_string(++counter);
        log_ = Path("log.txt");
        Reset();
    }
    void TearDown() override { RemoveTree(dir_); }

    // A fresh case: the folder holding only "ini" and zendra2.exe, and the
    // test's own environment.
    void Reset() {
        RemoveTree(dir_);
        ASSERT_TRUE(CreateDirectoryA(dir_.c_str(), nullptr)) << dir_;
        ASSERT_TRUE(CreateDirectoryA(Path("ini").c_str(), nullptr));
        Install("zendra2.exe");
        env_.clear();
    }

    std::string Path(const std::string &relative) const { return dir_ + "\\" + relative; }
    std::string HandOffPath() const { return Path("ini\\zendra.txt"); }

    // Puts a copy of zendra2.exe at a path relative to the case folder,
    // making the folders on the way.
    std::string Install(const std::string &relative) {
        std::string target = Path(relative);
        for (size_t at = target.find('\\', dir_.size() + 1); at != std::string::npos;
             at = target.find('\\', at + 1)) {
            CreateDirectoryA(target.substr(0, at).c_str(), nullptr);
        }
        EXPECT_TRUE(CopyFileA((ProgramFolder() + "\\zendra2.exe").c_str(), target.c_str(), FALSE)) << target;
        return target;
    }

    void SetEnv(const std::string &name, const std::string &value) { env_[Upper(name)] = value; }
    void UnsetEnv(const std::string &name) { env_[Upper(name)] = std::nullopt; }

    // Starts bin\<program>.exe with the given arguments in the case folder,
    // standard output and error going to one file, and waits for it.
    Outcome Start(const std::string &program, const std::string &arguments = "") {
        Outcome run;
        std::string exe = ProgramFolder() + "\\" + program + ".exe";
        std::string line = "\"" + exe + "\"" + (arguments.empty() ? "" : " " + arguments);
        std::string outPath = Path("output.txt");

        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        HANDLE out = CreateFileA(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        HANDLE in = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING,
                                0, nullptr);
        EXPECT_NE(out, INVALID_HANDLE_VALUE);
        EXPECT_NE(in, INVALID_HANDLE_VALUE);

        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = in;
        startup.hStdOutput = out;
        startup.hStdError = out;
        PROCESS_INFORMATION info = {};
        std::vector<char> block = EnvironmentBlock();
        std::vector<char> commandLine(line.begin(), line.end());
        commandLine.push_back('\0');
        BOOL started = CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, block.data(),
                                      dir_.c_str(), &startup, &info);
        EXPECT_TRUE(started) << exe << " error " << GetLastError();
        if (started) {
            // Guards against a hang only; no case comes near it.
            if (WaitForSingleObject(info.hProcess, 60000) != WAIT_OBJECT_0) {
                ADD_FAILURE() << program << " did not end";
                TerminateProcess(info.hProcess, 1);
                WaitForSingleObject(info.hProcess, INFINITE);
            }
            GetExitCodeProcess(info.hProcess, &run.status);
            CloseHandle(info.hProcess);
            CloseHandle(info.hThread);
        }
        CloseHandle(out);
        CloseHandle(in);
        run.output = ReadFile(outPath).value_or("<no output file>");
        return run;
    }

    // The runs of zendra2.exe since the last call, oldest first.
    std::vector<Record> TakeRecords() {
        std::vector<Record> records;
        std::istringstream lines(ReadFile(log_).value_or(""));
        DeleteFileA(log_.c_str());
        Record record;
        std::string line;
        while (std::getline(lines, line)) {
            if (line.empty()) {
                records.push_back(record);
                record = Record();
                continue;
            }
            std::string key = line.substr(0, line.find('='));
            std::string value = line.substr(line.find('=') + 1);
            if (key == "exe") record.exe = value;
            if (key == "cmdline") record.cmdline = value;
            if (key == "argc") record.argc = std::stoi(value);
            if (key == "cwd") record.cwd = value;
            if (key == "handoff") record.handoff = value;
        }
        return records;
    }

    std::string dir_;
    std::string log_;

private:
    static std::string Upper(std::string text) {
        CharUpperA(text.data());
        return text;
    }

    // The test's own environment with the case's changes; ZENDRA2_LOG always
    // names the case's log, other ZENDRA2_ settings only where the case set
    // them.
    std::vector<char> EnvironmentBlock() {
        std::map<std::string, std::optional<std::string>> changes = env_;
        changes["ZENDRA2_LOG"] = log_;
        std::vector<std::string> entries;
        char *strings = GetEnvironmentStringsA();
        for (const char *entry = strings; *entry; entry += std::strlen(entry) + 1) {
            std::string text = entry;
            size_t equals = text.find('=', 1);  // "=C:=C:\..." entries start with '='
            std::string name = Upper(text.substr(0, equals));
            if (changes.count(name) || name.rfind("ZENDRA2_", 0) == 0) continue;
            entries.push_back(text);
        }
        FreeEnvironmentStringsA(strings);
        for (const auto &[name, value] : changes) {
            if (value) entries.push_back(name + "=" + *value);
        }
        std::vector<char> block;
        for (const std::string &entry : entries) {
            block.insert(block.end(), entry.begin(), entry.end());
            block.push_back('\0');
        }
        block.push_back('\0');
        return block;
    }

    std::map<std::string, std::optional<std::string>> env_;
};

// --- Normal runs through Wine's cmd.exe -------------------------------------

TEST_F(Launch, VontHoldsTheHandOffFileExactlyWhileTheApplicationRuns) {
    // A leftover file of any length is replaced, not appended to.
    const std::optional<std::string> leftovers[] = {std::nullopt, "", "zendra\r\nolder and longer content\r\n"};
    for (const auto &leftover : leftovers) {
        SCOPED_TRACE(leftover ? "leftover \"" + *leftover + "\"" : "no leftover");
        Reset();
        if (leftover) WriteFile(HandOffPath(), *leftover);
        SetEnv("ZENDRA2_OUT", "application output\n");
        Outcome run = Start("vont");
        EXPECT_EQ(run.status, 0u);
        // vont prints nothing itself; the application's output (text mode:
        // CR LF) reaches the standard output that vont was given.
        EXPECT_EQ(run.output, "application output\r\n");
        std::vector<Record> records = TakeRecords();
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].handoff, kHandOff);
        EXPECT_EQ(records[0].argc, 1);
        EXPECT_EQ(Canonical(records[0].cwd), Canonical(dir_));
        EXPECT_FALSE(Exists(HandOffPath()));
        EXPECT_TRUE(Exists(Path("ini")));
    }
}

TEST_F(Launch, ZendraLeavesAnyHandOffFileAlone) {
    const std::optional<std::string> leftovers[] = {std::nullopt, "vont\r\n"};
    for (const auto &leftover : leftovers) {
        SCOPED_TRACE(leftover ? "leftover file" : "no file");
        Reset();
        if (leftover) WriteFile(HandOffPath(), *leftover);
        SetEnv("ZENDRA2_OUT", "application output\n");
        Outcome run = Start("zendra");
        EXPECT_EQ(run.status, 0u);
        EXPECT_EQ(run.output, "application output\r\n");
        std::vector<Record> records = TakeRecords();
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].handoff, leftover ? kHandOff : "absent");
        EXPECT_EQ(ReadFile(HandOffPath()), leftover);
    }
}

TEST_F(Launch, TheApplicationsStatusPassesThroughZendraOnly) {
    const DWORD statuses[] = {0, 3, 1000, kFailed};
    for (DWORD status : statuses) {
        SCOPED_TRACE("application status " + std::to_string(status));
        Reset();
        SetEnv("ZENDRA2_STATUS", std::to_string(static_cast<int>(status)));
        EXPECT_EQ(Start("zendra").status, status);
        EXPECT_EQ(Start("vont").status, 0u);
        EXPECT_EQ(TakeRecords().size(), 2u);
    }
}

TEST_F(Launch, ArgumentsAreIgnoredAndNotPassedOn) {
    const char *arguments = "extra \"two words\" /c other.exe > redirected.txt";
    for (const char *program : {"vont", "zendra"}) {
        SCOPED_TRACE(program);
        Reset();
        SetEnv("ZENDRA2_STATUS", "5");
        Outcome plain = Start(program);
        Outcome given = Start(program, arguments);
        EXPECT_EQ(given.status, plain.status);
        EXPECT_EQ(given.output, plain.output);
        std::vector<Record> records = TakeRecords();
        ASSERT_EQ(records.size(), 2u);
        EXPECT_EQ(records[1].cmdline, records[0].cmdline);
        EXPECT_EQ(records[1].argc, 1);
        EXPECT_EQ(records[1].handoff, records[0].handoff);
        EXPECT_FALSE(Exists(Path("redirected.txt")));
    }
}

// --- Finding the command interpreter ----------------------------------------

// Where a copy of zendra2.exe stands in for the interpreter, its record
// shows the process the launcher started: the file, the full command line
// and what the hand-off file held.
struct InterpreterCase {
    const char *name;
    const char *comspec;       // nullptr: "COMSPEC" unset; "@" stands for the case folder
    const char *path;          // "PATH"; "@" stands for the case folder
    const char *installed[2];  // copies of zendra2.exe to make, relative to the case folder
    const char *expected;      // the interpreter that must run, relative to the case folder
};

std::string Expand(const char *text, const std::string &dir) {
    std::string result;
    for (const char *c = text; *c; ++c) result += (*c == '@') ? dir : std::string(1, *c);
    return result;
}

TEST_F(Launch, TheInterpreterIsComspecElseCmdExeInTheFolderElseAlongPath) {
    const InterpreterCase cases[] = {
        {"COMSPEC with blanks in its path", "@\\Long Folder Name\\my shell.exe", "@\\tools",
         {"Long Folder Name\\my shell.exe", "tools\\CMD.EXE"}, "Long Folder Name\\my shell.exe"},
        {"CMD.EXE in the current folder before PATH", nullptr, "@\\tools", {"CMD.EXE", "tools\\CMD.EXE"}, "CMD.EXE"},
        {"first PATH folder that has CMD.EXE", nullptr, "@\\missing;;@\\first;@\\second",
         {"first\\CMD.EXE", "second\\CMD.EXE"}, "first\\CMD.EXE"},
        {"quotes inside a PATH entry", nullptr, "\"@\\Quoted Folder\";@\\other",
         {"Quoted Folder\\CMD.EXE", "other\\CMD.EXE"}, "Quoted Folder\\CMD.EXE"},
        {"quotes in the middle of a PATH entry", nullptr, "@\\Mi\"xed\" Folder", {"Mixed Folder\\CMD.EXE"},
         "Mixed Folder\\CMD.EXE"},
        {"relative PATH entry and trailing separator", nullptr, "nowhere;tools\\", {"tools\\CMD.EXE"},
         "tools\\CMD.EXE"},
        {"lower-case cmd.exe", nullptr, "@\\tools", {"tools\\cmd.exe"}, "tools\\cmd.exe"},
    };
    for (const InterpreterCase &c : cases) {
        for (const char *program : {"vont", "zendra"}) {
            SCOPED_TRACE(std::string(c.name) + ", " + program);
            Reset();
            for (const char *copy : c.installed) {
                if (copy) Install(copy);
            }
            if (c.comspec) {
                SetEnv("COMSPEC", Expand(c.comspec, dir_));
            } else {
                UnsetEnv("COMSPEC");
            }
            SetEnv("PATH", Expand(c.path, dir_));
            SetEnv("ZENDRA2_STATUS", "7");

            Outcome run = Start(program, "ignored");
            EXPECT_EQ(run.status, std::string(program) == "zendra" ? 7u : 0u);
            EXPECT_EQ(run.output, "");
            std::vector<Record> records = TakeRecords();
            ASSERT_EQ(records.size(), 1u);
            const Record &shell = records[0];
            EXPECT_EQ(Canonical(shell.exe), Canonical(Path(c.expected)));
            // "<path> /c zendra2.exe", the path in a form without blanks
            // (the 8.3 one) that names the same file, always absolute.
            const std::string tail = " /c zendra2.exe";
            ASSERT_GT(shell.cmdline.size(), tail.size()) << shell.cmdline;
            EXPECT_EQ(shell.cmdline.substr(shell.cmdline.size() - tail.size()), tail);
            std::string named = shell.cmdline.substr(0, shell.cmdline.size() - tail.size());
            EXPECT_EQ(named.find(' '), std::string::npos) << named;
            EXPECT_EQ(Canonical(named), Canonical(Path(c.expected))) << named;
            EXPECT_EQ(Canonical(shell.cwd), Canonical(dir_));
            EXPECT_EQ(shell.handoff, std::string(program) == "vont" ? kHandOff : "absent");
            EXPECT_FALSE(Exists(HandOffPath()));
        }
    }
}

// The interpreter gets the launcher's inheritable handles, not only its
// standard ones: a handle the test made inheritable reaches the stand-in.
TEST_F(Launch, TheInterpreterInheritsTheLaunchersHandles) {
    for (const char *program : {"vont", "zendra"}) {
        SCOPED_TRACE(program);
        Reset();
        SetEnv("COMSPEC", Install("shell.exe"));
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        std::string path = Path("inherited.txt");
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        SetEnv("ZENDRA2_HANDLE", std::to_string(reinterpret_cast<ULONG_PTR>(file)));
        Start(program);
        CloseHandle(file);
        EXPECT_EQ(TakeRecords().size(), 1u);
        EXPECT_EQ(ReadFile(path), "zendra2");
    }
}

// The real interpreter, found along PATH when COMSPEC is unset.
TEST_F(Launch, CmdExeAlongPathRunsTheApplication) {
    char system[MAX_PATH];
    GetSystemDirectoryA(system, MAX_PATH);
    UnsetEnv("COMSPEC");
    SetEnv("PATH", Path("empty") + ";" + system);
    SetEnv("ZENDRA2_STATUS", "3");
    EXPECT_EQ(Start("zendra").status, 3u);
    EXPECT_EQ(Start("vont").status, 0u);
    std::vector<Record> records = TakeRecords();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].handoff, "absent");
    EXPECT_EQ(records[1].handoff, kHandOff);
}

// Nothing is started: zendra ends with -1, vont still writes and deletes the
// hand-off file and ends with 0.
TEST_F(Launch, NoInterpreterStartsNothing) {
    struct {
        const char *name;
        const char *comspec;  // nullptr: unset
        const char *path;     // nullptr: unset
    } const cases[] = {
        {"no COMSPEC, no CMD.EXE along PATH", nullptr, "@\\empty;@\\missing"},
        {"no COMSPEC, no PATH", nullptr, nullptr},
        // The search for CMD.EXE is not a fallback for a COMSPEC that names
        // no file: the CMD.EXE put in the folder below must not run.
        {"COMSPEC naming a missing file", "@\\missing.exe", "@"},
        {"COMSPEC naming a folder", "@\\folder.exe", "@"},
        {"COMSPEC set to nothing", "", "@"},
        {"COMSPEC naming a file that is no program", "@\\not a program.exe", "@"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        WriteFile(Path("not a program.exe"), "text, not a program\r\n");
        CreateDirectoryA(Path("folder.exe").c_str(), nullptr);
        CreateDirectoryA(Path("empty").c_str(), nullptr);
        CreateDirectoryA(Path("empty\\CMD.EXE").c_str(), nullptr);  // a folder is no interpreter
        if (c.comspec) {
            Install("CMD.EXE");  // found by a search, were there one: must stay unused
            SetEnv("COMSPEC", Expand(c.comspec, dir_));
        } else {
            UnsetEnv("COMSPEC");
        }
        if (c.path) {
            SetEnv("PATH", Expand(c.path, dir_));
        } else {
            UnsetEnv("PATH");
        }
        Outcome zendra = Start("zendra");
        EXPECT_EQ(zendra.status, kFailed);
        EXPECT_EQ(zendra.output, "");
        Outcome vont = Start("vont");
        EXPECT_EQ(vont.status, 0u);
        EXPECT_EQ(vont.output, "");
        EXPECT_FALSE(Exists(HandOffPath()));
        EXPECT_TRUE(TakeRecords().empty());
    }
}

// --- When the hand-off file cannot be used ----------------------------------

TEST_F(Launch, VontFailsWhenTheApplicationRemovedTheHandOffFile) {
    SetEnv("ZENDRA2_DELETE", "1");
    EXPECT_EQ(Start("vont").status, kFailed);
    std::vector<Record> records = TakeRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].handoff, kHandOff);
}

// The file cannot be created: vont writes nothing, still starts the
// application, and ends with -1 because there is nothing it may delete.
TEST_F(Launch, VontStillRunsTheApplicationWithoutAHandOffFile) {
    {
        SCOPED_TRACE("no ini folder");
        RemoveTree(Path("ini"));
        EXPECT_EQ(Start("vont").status, kFailed);
        std::vector<Record> records = TakeRecords();
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].handoff, "absent");
        EXPECT_FALSE(Exists(Path("ini")));  // the folder is not created
    }
    {
        SCOPED_TRACE("read-only hand-off file");
        Reset();
        WriteFile(HandOffPath(), "old\r\n");
        ASSERT_TRUE(SetFileAttributesA(HandOffPath().c_str(), FILE_ATTRIBUTE_READONLY));
        // Windows refuses to open a read-only file for writing. Wine run by
        // root does not: it keeps the attribute in the Unix permission bits,
        // which root's writes pass. Its deletion is refused on both, so vont
        // ends with -1 and the file stays, with what vont could write to it.
        HANDLE probe = CreateFileA(HandOffPath().c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   0, nullptr);
        const bool writable = probe != INVALID_HANDLE_VALUE;
        if (writable) CloseHandle(probe);
        const std::string seen = writable ? kHandOff : "6F 6C 64 0D 0A";
        const std::string left = writable ? "vont\r\n" : "old\r\n";

        EXPECT_EQ(Start("vont").status, kFailed);
        std::vector<Record> records = TakeRecords();
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].handoff, seen);
        EXPECT_EQ(ReadFile(HandOffPath()), left);
    }
}

}  // namespace

// --- The program files --------------------------------------------------------

namespace files {

std::string Bytes(const char *program) {
    return ReadFile(ProgramFolder() + "\\" + program + ".exe").value_or("");
}

template <class T>
const T *At(const std::string &file, size_t offset) {
    return offset + sizeof(T) <= file.size() ? reinterpret_cast<const T *>(file.data() + offset) : nullptr;
}

// The file offset of a relative virtual address, through the section table.
size_t OffsetOf(const std::string &file, const IMAGE_NT_HEADERS32 &nt, DWORD rva) {
    size_t first = reinterpret_cast<const char *>(IMAGE_FIRST_SECTION(&nt)) - file.data();
    for (int i = 0; i < nt.FileHeader.NumberOfSections; ++i) {
        const auto *section = At<IMAGE_SECTION_HEADER>(file, first + i * sizeof(IMAGE_SECTION_HEADER));
        if (section && rva >= section->VirtualAddress &&
            rva < section->VirtualAddress + std::max(section->Misc.VirtualSize, section->SizeOfRawData)) {
            return rva - section->VirtualAddress + section->PointerToRawData;
        }
    }
    return file.size();
}

std::string ResourceId(LPCSTR id) {
    return IS_INTRESOURCE(id) ? "#" + std::to_string(reinterpret_cast<ULONG_PTR>(id)) : id;
}

BOOL CALLBACK AddType(HMODULE, LPSTR type, LONG_PTR list) {
    reinterpret_cast<std::vector<std::string> *>(list)->push_back(ResourceId(type));
    return TRUE;
}

BOOL CALLBACK AddName(HMODULE, LPCSTR, LPSTR name, LONG_PTR list) {
    reinterpret_cast<std::vector<std::string> *>(list)->push_back(ResourceId(name));
    return TRUE;
}

std::vector<std::string> ResourceTypes(HMODULE module) {
    std::vector<std::string> types;
    EnumResourceTypesA(module, AddType, reinterpret_cast<LONG_PTR>(&types));
    return types;
}

std::vector<std::string> IconGroups(HMODULE module) {
    std::vector<std::string> names;
    EnumResourceNamesA(module, RT_GROUP_ICON, AddName, reinterpret_cast<LONG_PTR>(&names));
    return names;
}

std::string Resource(HMODULE module, LPCSTR name, LPCSTR type) {
    HRSRC found = FindResourceA(module, name, type);
    if (found == nullptr) return "";
    const char *data = static_cast<const char *>(LockResource(LoadResource(module, found)));
    return data ? std::string(data, SizeofResource(module, found)) : "";
}

#pragma pack(push, 2)
struct GroupHeader {
    WORD reserved, type, count;
};
struct GroupEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

}  // namespace files

// Console programs for 32-bit Windows that need only the system's own DLLs.
TEST(LauncherFiles, AreConsolePE32ProgramsImportingOnlySystemLibraries) {
    for (const char *program : {"vont", "zendra"}) {
        SCOPED_TRACE(program);
        std::string file = files::Bytes(program);
        const auto *dos = files::At<IMAGE_DOS_HEADER>(file, 0);
        ASSERT_TRUE(dos && dos->e_magic == IMAGE_DOS_SIGNATURE);
        const auto *nt = files::At<IMAGE_NT_HEADERS32>(file, dos->e_lfanew);
        ASSERT_TRUE(nt && nt->Signature == IMAGE_NT_SIGNATURE);
        EXPECT_EQ(nt->FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
        EXPECT_EQ(nt->OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR32_MAGIC);
        EXPECT_EQ(nt->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_CUI);

        std::vector<std::string> imports;
        DWORD table = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
        for (size_t at = files::OffsetOf(file, *nt, table);; at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
            const auto *import = files::At<IMAGE_IMPORT_DESCRIPTOR>(file, at);
            ASSERT_NE(import, nullptr);
            if (import->Name == 0) break;
            std::string name = file.c_str() + files::OffsetOf(file, *nt, import->Name);
            CharUpperA(name.data());
            imports.push_back(name);
        }
        EXPECT_EQ(imports, (std::vector<std::string>{"KERNEL32.DLL", "MSVCRT.DLL"}));
    }
}

// One icon group each, holding one 48x48 image with 32 bits per pixel and a
// real alpha channel; nothing else, no version block; the two images differ.
TEST(LauncherFiles, CarryOneIconOf48By48With32BitsEach) {
    std::string images[2];
    const char *programs[] = {"vont", "zendra"};
    const char *groups[] = {"VONT48", "ZENDRA48"};
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(programs[i]);
        std::string path = ProgramFolder() + "\\" + programs[i] + ".exe";
        HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module, nullptr) << GetLastError();
        EXPECT_EQ(files::ResourceTypes(module), (std::vector<std::string>{"#3", "#14"}));  // RT_ICON, RT_GROUP_ICON
        EXPECT_EQ(files::IconGroups(module), std::vector<std::string>{groups[i]});

        std::string group = files::Resource(module, groups[i], RT_GROUP_ICON);
        ASSERT_EQ(group.size(), sizeof(files::GroupHeader) + sizeof(files::GroupEntry));
        const auto *header = files::At<files::GroupHeader>(group, 0);
        EXPECT_EQ(header->type, 1);  // icons, not cursors
        EXPECT_EQ(header->count, 1);
        const auto *entry = files::At<files::GroupEntry>(group, sizeof(files::GroupHeader));
        EXPECT_EQ(entry->width, 48);
        EXPECT_EQ(entry->height, 48);
        EXPECT_EQ(entry->planes, 1);
        EXPECT_EQ(entry->bitCount, 32);

        images[i] = files::Resource(module, MAKEINTRESOURCEA(entry->id), RT_ICON);
        ASSERT_EQ(images[i].size(), entry->bytes);
        const auto *bitmap = files::At<BITMAPINFOHEADER>(images[i], 0);
        ASSERT_NE(bitmap, nullptr);
        EXPECT_EQ(bitmap->biWidth, 48);
        EXPECT_EQ(bitmap->biHeight, 96);  // colour image and mask
        EXPECT_EQ(bitmap->biBitCount, 32);
        EXPECT_EQ(bitmap->biCompression, static_cast<DWORD>(BI_RGB));
        const size_t pixels = sizeof(BITMAPINFOHEADER) + 48 * 48 * 4;
        ASSERT_EQ(images[i].size(), pixels + 48 * 8);  // AND mask rows of 8 bytes
        // Transparent corners and an opaque middle: the alpha channel is used.
        auto alpha = [&](int x, int y) {
            return static_cast<unsigned char>(images[i][sizeof(BITMAPINFOHEADER) + (y * 48 + x) * 4 + 3]);
        };
        EXPECT_EQ(alpha(0, 0), 0);
        EXPECT_EQ(alpha(24, 24), 255);

        // Windows itself makes an icon of it.
        HICON icon = CreateIconFromResourceEx(reinterpret_cast<BYTE *>(images[i].data()),
                                              static_cast<DWORD>(images[i].size()), TRUE, 0x00030000, 0, 0, 0);
        ASSERT_NE(icon, nullptr);
        ICONINFO info = {};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        BITMAP colour = {};
        ASSERT_TRUE(GetObjectA(info.hbmColor, sizeof colour, &colour));
        EXPECT_EQ(colour.bmWidth, 48);
        EXPECT_EQ(colour.bmHeight, 48);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        DestroyIcon(icon);
        FreeLibrary(module);
    }
    EXPECT_NE(images[0], images[1]);
}
