// The host stand-ins, where the run-time files rely on them: array shapes
// and storage, deep copies, ownership of stored values, the error model,
// lifetime lists, the plug-in loader and the utility library.
#include "hosttest.h"
#include "plx.h"
#include "torun.h"
#include "yt.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

class HostArrays : public HostLeakCheck {};

TEST_F(HostArrays, ShapesFollowTheHostRules) {
    const int one[] = {5};
    HostArray column(kaCreateNumericArray(1, one, kaINT16_CLASS, kaREAL));
    EXPECT_EQ(kaGetDimCount(column), 2);
    EXPECT_EQ(kaGetM(column), 5);
    EXPECT_EQ(kaGetN(column), 1);
    EXPECT_EQ(kaGetElementSize(column), 2);

    const int trailing[] = {2, 3, 1, 1};
    HostArray matrix(kaCreateNumericArray(4, trailing, kaDOUBLE_CLASS, kaCOMPLEX));
    EXPECT_EQ(kaGetDimCount(matrix), 2);
    EXPECT_EQ(kaGetNumberOfElements(matrix), 6);
    ASSERT_NE(kaGetImagData(matrix), nullptr);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(kaGetPr(matrix)[i], 0.0);

    const int three[] = {2, 3, 4};
    HostArray cube(kaCreateNumericArray(3, three, kaUINT8_CLASS, kaREAL));
    EXPECT_EQ(kaGetDimCount(cube), 3);
    EXPECT_EQ(kaGetN(cube), 12);

    HostArray empty(kaCreateDoubleMatrix(0, 3, kaREAL));
    EXPECT_TRUE(kaIsEmpty(empty));
    EXPECT_EQ(kaGetPr(empty), nullptr);

    const int huge[] = {65536, 65536};
    EXPECT_EQ(kaCreateNumericArray(2, huge, kaUINT8_CLASS, kaREAL), nullptr);
}

TEST_F(HostArrays, NumericCreationTakesEveryClassItCanHold) {
    HostArray text(kaCreateNumericMatrix(1, 3, kaCHAR_CLASS, kaREAL));
    EXPECT_EQ(kaGetClassID(text), kaCHAR_CLASS);
    EXPECT_NE(kaGetPr(text), nullptr);
    for (kaClassID c : {int(kaUNKNOWN_CLASS), int(kaOBJECT_CLASS), int(kaFUNCTION_CLASS), int(kaOPAQUE_CLASS)}) {
        HostArray a(kaCreateNumericMatrix(2, 2, c, kaREAL));
        ASSERT_NE(a.get(), nullptr) << c;
        EXPECT_EQ(kaGetClassID(a), c);
        EXPECT_EQ(kaGetPr(a), nullptr);
    }
    for (kaClassID c : {int(kaCELL_CLASS), int(kaSTRUCT_CLASS), int(kaSPARSE_CLASS), 18, -1})
        EXPECT_EQ(kaCreateNumericMatrix(1, 1, c, kaREAL), nullptr) << c;
}

TEST_F(HostArrays, StringsAlwaysHaveDataAndReadBackCut) {
    HostArray empty(kaCreateString(""));
    EXPECT_EQ(kaGetM(empty), 1);
    EXPECT_EQ(kaGetN(empty), 0);
    EXPECT_NE(kaGetPr(empty), nullptr);

    HostArray hello(kaCreateString("hello"));
    char buffer[4];
    EXPECT_EQ(kaGetString(hello, buffer, sizeof buffer), 1);
    EXPECT_STREQ(buffer, "hel");
    char whole[16];
    EXPECT_EQ(kaGetString(hello, whole, sizeof whole), 0);
    EXPECT_STREQ(whole, "hello");
    HostArray number(kaCreateDoubleMatrix(1, 1, kaREAL));
    EXPECT_EQ(kaGetString(number, whole, sizeof whole), 1);
    EXPECT_STREQ(whole, "");
}

TEST_F(HostArrays, DuplicatesAreDeep) {
    const char *names[] = {"label", "values"};
    HostArray cell(kaCreateCellMatrix(1, 3));
    kaArray *record = kaCreateStructMatrix(1, 2, 2, names);
    kaSetFieldByNumber(record, 1, 0, kaCreateString("abc"));
    kaArray *values = kaCreateDoubleMatrix(1, 2, kaCOMPLEX);
    kaGetPr(values)[1] = 7;
    static_cast<double *>(kaGetImagData(values))[1] = -7;
    kaSetLogical(values, true);
    kaSetFieldByNumber(record, 0, 1, values);
    kaSetCell(cell, 0, record);
    kaArray *sparse = kaCreateSparse(4, 3, 2, kaREAL);
    kaGetPr(sparse)[1] = 2.5;
    kaGetIr(sparse)[1] = 3;
    kaGetJc(sparse)[3] = 2;
    kaSetCell(cell, 2, sparse);

    const int before = kaHostLiveArrays();
    HostArray copy(kaDuplicateArray(cell));
    ASSERT_NE(copy.get(), nullptr);
    EXPECT_EQ(kaHostLiveArrays() - before, 5) << "cell, struct, text, values, sparse";

    kaArray *copiedRecord = kaGetCell(copy, 0);
    ASSERT_NE(copiedRecord, record);
    EXPECT_EQ(kaGetCell(copy, 1), nullptr);
    EXPECT_STREQ(kaGetFieldNameByNumber(copiedRecord, 1), "values");
    kaArray *copiedValues = kaGetFieldByNumber(copiedRecord, 0, 1);
    ASSERT_NE(copiedValues, values);
    EXPECT_TRUE(kaIsLogical(copiedValues));
    EXPECT_EQ(kaGetPr(copiedValues)[1], 7);
    EXPECT_EQ(static_cast<double *>(kaGetImagData(copiedValues))[1], -7);
    kaGetPr(copiedValues)[1] = 8;
    EXPECT_EQ(kaGetPr(values)[1], 7);
    char text[8];
    kaGetString(kaGetFieldByNumber(copiedRecord, 1, 0), text, sizeof text);
    EXPECT_STREQ(text, "abc");

    kaArray *copiedSparse = kaGetCell(copy, 2);
    EXPECT_EQ(kaGetClassID(copiedSparse), kaSPARSE_CLASS);
    EXPECT_EQ(kaGetNzmax(copiedSparse), 2);
    EXPECT_EQ(kaGetPr(copiedSparse)[1], 2.5);
    EXPECT_EQ(kaGetIr(copiedSparse)[1], 3);
    EXPECT_EQ(kaGetJc(copiedSparse)[3], 2);
    EXPECT_NE(kaGetIr(copiedSparse), kaGetIr(sparse));
}

TEST_F(HostArrays, StoringMovesOwnershipAndKeepsTheOldValue) {
    HostArray cell(kaCreateCellMatrix(2, 1));
    kaArray *first = kaCreateString("first");
    kaSetCell(cell, 1, first);
    HostArray replaced(kaGetCell(cell, 1));
    kaSetCell(cell, 1, kaCreateString("second"));
    char text[16];
    kaGetString(replaced, text, sizeof text);
    EXPECT_STREQ(text, "first") << "the replaced value is still alive and the caller's";

    auto outside = RaisedBy([&] { kaSetCell(cell, 2, nullptr); });
    ASSERT_TRUE(outside);
    EXPECT_EQ(*outside, "kaSetCell: index outside the array");
}

class HostErrors : public HostLeakCheck {};

TEST_F(HostErrors, EveryLibraryRaisesThroughTheInnermostTrap) {
    EXPECT_EQ(RaisedBy([] { kaErrMsgTxt("from libka"); }), "from libka");
    EXPECT_EQ(RaisedBy([] { plxErrMsgTxt("from libplx"); }), "from libplx");
    HostArray message(kaCreateString("from libtorun"));
    kaArray *m = message.get();
    EXPECT_EQ(RaisedBy([m] { vfnError(m); }), "from libtorun");
    EXPECT_EQ(RaisedBy([] {}), std::nullopt);
}

TEST_F(HostErrors, NestedTrapsUnwindInnermostFirst) {
    static bool innerCaught;
    innerCaught = false;
    auto outerRaised = RaisedBy([] {
        innerCaught = RaisedBy([] { kaErrMsgTxt("inner"); }).has_value();
        kaErrMsgTxt("outer");
    });
    EXPECT_TRUE(innerCaught);
    EXPECT_EQ(outerRaised, "outer");
    EXPECT_STREQ(kaHostLastError(), "outer");
    EXPECT_EQ(kaHostTrapBuffer(-1), nullptr) << "every trap was left";
}

namespace trapped {
int routineCalls;
zrtTryCatchContext context;
jmp_buf buffer;
void Routine(void) {
    ++routineCalls;
    zrtCleanupProtectedItems();
    longjmp(*zrtGetSetjmpData(-1), -1);
}
}  // namespace trapped

TEST_F(HostErrors, RuntimeTrapRoutineIsCalledAndJumps) {
    trapped::routineCalls = 0;
    volatile int failed = 0;
    zrtEnterTryCatchContext(&trapped::context, &trapped::buffer, trapped::Routine);
    if (setjmp(trapped::buffer) == 0) {
        kaErrMsgTxt("runtime trap");
        zrtExitTryCatchContext(&trapped::context, 0);
    } else {
        failed = 1;
        zrtExitTryCatchContext(&trapped::context, 1);
    }
    EXPECT_EQ(failed, 1);
    EXPECT_EQ(trapped::routineCalls, 1);
    HostArray last(vfnLasterr(nullptr));
    char text[32];
    kaGetString(last, text, sizeof text);
    EXPECT_STREQ(text, "runtime trap");
}

// Runs a program of the test folder and answers its exit code and what it
// wrote on standard error.
DWORD RunProgram(const char *name, std::string *errorText) {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string command(path);
    command = command.substr(0, command.find_last_of('\\') + 1) + name;
    char tempDir[MAX_PATH], errFile[MAX_PATH];
    GetTempPathA(MAX_PATH, tempDir);
    GetTempFileNameA(tempDir, "err", 0, errFile);
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE err = CreateFileA(errFile, GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    si.hStdError = err;
    PROCESS_INFORMATION pi = {};
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    DWORD code = 0xDEAD;
    if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        WaitForSingleObject(pi.hProcess, INFINITE);
        GetExitCodeProcess(pi.hProcess, &code);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    CloseHandle(err);
    HANDLE in = CreateFileA(errFile, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    char text[512] = {};
    DWORD got = 0;
    ReadFile(in, text, sizeof text - 1, &got, nullptr);
    CloseHandle(in);
    DeleteFileA(errFile);
    errorText->assign(text, got);
    return code;
}

TEST_F(HostErrors, UntrappedErrorPrintsAndEndsTheProcess) {
    std::string errorText;
    EXPECT_EQ(RunProgram("raise_untrapped.exe", &errorText), 1u);
    EXPECT_EQ(errorText.substr(0, errorText.find_first_of("\r\n")), "nobody catches this");
}

class HostLists : public HostLeakCheck {};

TEST_F(HostLists, FreeingAListSparesProtectedAndScopedArrays) {
    HostArray before(kaCreateDoubleMatrix(1, 1, kaREAL));
    void *previous = kaEnterNewAllocListContext();
    const int live = kaHostLiveArrays();
    kaArray *temporary = kaCreateDoubleMatrix(2, 2, kaREAL);
    kaArray *stored = kaCreateCellMatrix(1, 1);
    kaSetCell(stored, 0, kaCreateString("inside"));
    HostArray protectedOne(kaCreateString("protected"));
    kaIncrementRefCount(protectedOne);
    HostArray global(kaCreateString("global"));
    kaSetArrayScope(global, 0);
    ASSERT_NE(temporary, nullptr);
    EXPECT_EQ(kaHostLiveArrays() - live, 5);

    kaFreeAllocListContext();
    EXPECT_EQ(kaHostLiveArrays() - live, 2) << "the temporary and the cell with its content are gone";
    kaRestorePreviousAllocListContext(previous);
    kaDecrementRefCount(protectedOne);
    EXPECT_EQ(kaGetRefCount(protectedOne), 0);

    // A later list's clean-up leaves the arrays of the restored list alone.
    previous = kaEnterNewAllocListContext();
    kaFreeAllocListContext();
    kaRestorePreviousAllocListContext(previous);
    EXPECT_EQ(kaGetNumberOfElements(before), 1);
    EXPECT_EQ(kaGetNumberOfElements(protectedOne), 9);
}

class HostPlugins : public HostLeakCheck {};

TEST_F(HostPlugins, LoaderCallsThePluginAndCleansUpAfterAnError) {
    char why[300];
    EXPECT_EQ(plxHostLoadPlugin("no-such-plugin.dll", why, sizeof why), nullptr);
    EXPECT_NE(std::string(why).find("no-such-plugin.dll"), std::string::npos);
    EXPECT_EQ(plxHostLoadPlugin("libka.dll", why, sizeof why), nullptr);
    EXPECT_NE(std::string(why).find("plxFunction"), std::string::npos);

    plxPlugin *plugin = plxHostLoadPlugin("testplugin.dll", why, sizeof why);
    ASSERT_NE(plugin, nullptr) << why;
    for (int mode : {0, 1}) {
        HostArray arg(kaCreateDoubleMatrix(1, 1, kaREAL));
        kaGetPr(arg)[0] = mode;
        const kaArray *args[] = {arg.get(), arg.get()};
        kaArray *results[1] = {reinterpret_cast<kaArray *>(1)};
        const int raised = plxHostCallPlugin(plugin, 1, results, 2, args);
        EXPECT_EQ(raised, mode);
        if (mode == 0) {
            ASSERT_NE(results[0], nullptr);
            EXPECT_EQ(kaGetPr(results[0])[0], 2);
            kaDestroyArray(results[0]);
        } else {
            EXPECT_EQ(results[0], nullptr) << "the loader destroys a result stored before the error";
            EXPECT_STREQ(kaHostLastError(), "plug-in failed");
        }
    }
    HostOutputCapture capture;
    HostArray arg(kaCreateDoubleMatrix(1, 1, kaREAL));
    kaGetPr(arg)[0] = 2;
    const kaArray *args[] = {arg.get()};
    kaArray *results[1];
    EXPECT_EQ(plxHostCallPlugin(plugin, 0, results, 1, args), 0);
    EXPECT_EQ(capture.text(), "plug-in says 0\n");
    plxHostUnloadPlugin(plugin);
}

TEST(HostUtility, RegistrationCallsAreRecordedAndAnswered) {
    ytHostSetRegistrationResult(0x80004005u);
    EXPECT_EQ(ytRegisterServer(1, 2, 3, 4, 5, 6, 7, 8, 9), 0x80004005u);
    char name[64];
    uint32_t args[9];
    ASSERT_EQ(ytHostLastRegistration(name, sizeof name, args), 9);
    EXPECT_STREQ(name, "ytRegisterServer");
    EXPECT_EQ(args[8], 9u);
    ytHostSetRegistrationResult(0);
}

TEST(HostUtility, LibrariesAllocatorAndOutput) {
    unsigned long error = 0;
    void *kernel = ytLoadLibrary("kernel32.dll", &error);
    ASSERT_NE(kernel, nullptr);
    EXPECT_NE(ytFindSymbolInLibrary(kernel, "GetTickCount"), nullptr);
    EXPECT_EQ(ytFindSymbolInLibrary(kernel, "NoSuchEntry"), nullptr);
    EXPECT_EQ(ytLoadLibrary("no-such-library.dll", &error), nullptr);
    EXPECT_NE(error, 0u);

    const int blocks = ytHostLiveBlocks();
    void *p = ytCalloc(4, 8);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(ytHostLiveBlocks(), blocks + 1);
    ytFree(p);
    EXPECT_EQ(ytHostLiveBlocks(), blocks);

    HostOutputCapture capture;
    std::string longLine(3000, 'x');
    ytPrintf("%s|%d\n", longLine.c_str(), 42);
    plxPrintf("%.3f\n", 1.5);
    EXPECT_EQ(capture.text(), longLine + "|42\n1.500\n");
}

}  // namespace
