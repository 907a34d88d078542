// The library frame through varcon.dll as a client loads it: options read
// from COM objects, the process-wide lock across threads, the omitted
// argument test, registration forwarders and version texts.
#include "hosttest.h"
#include "options_double.h"
#include "varcon.h"
#include "yt.h"

#include <windows.h>

#include <cstring>
#include <string>

namespace {

const int kInputRegroup = 7, kInputRegroupDepth = 9, kOutputRegroup = 11, kOutputRegroupDepth = 13;
const int kFitRange = 15, kReverseDims = 17, kTargetClass = 7, kDateForm = 9;
const int kArrayOptions = 7, kDataOptions = 9;

// The three options objects a client hands over, with distinct values.
struct ClientOptions {
    OptionsDouble conversion, array, data;
    ClientOptions() {
        conversion.SetObject(kArrayOptions, &array);
        conversion.SetObject(kDataOptions, &data);
        array.SetInt(kInputRegroup, 1);
        array.SetInt(kInputRegroupDepth, 2);
        array.SetInt(kOutputRegroup, 2);
        array.SetInt(kOutputRegroupDepth, 3);
        array.SetBool(kFitRange, VARIANT_TRUE);
        array.SetBool(kReverseDims, VARIANT_TRUE);
        data.SetInt(kTargetClass, kaINT32_CLASS);
        data.SetInt(kDateForm, 1);
    }
    IConversionOptions *get() { return reinterpret_cast<IConversionOptions *>(static_cast<IDispatch *>(&conversion)); }
    void ExpectReferencesBalanced() const {
        EXPECT_EQ(conversion.refs(), 1u);
        EXPECT_EQ(array.refs(), 1u);
        EXPECT_EQ(data.refs(), 1u);
    }
};

// A record whose every field holds a marker value, to see what was written.
ConversionFlags Marked() {
    ConversionFlags f;
    f.inputRegroup = 91;
    f.inputRegroupDepth = 92;
    f.outputRegroup = 93;
    f.outputRegroupDepth = 94;
    f.fitRange = 95;
    f.reverseDims = 96;
    f.reverseDepth = 3;
    f.targetClass = 98;
    f.dateForm = 99;
    return f;
}

TEST(ConversionFlagsTest, InitClearsEveryFieldAndAnswersTheRecord) {
    ConversionFlags f;
    memset(&f, 0xAB, sizeof f);
    EXPECT_EQ(zrtInitConversionFlags(&f), &f);
    const ConversionFlags zero = {};
    EXPECT_EQ(memcmp(&f, &zero, offsetof(ConversionFlags, fitRange) + 2), 0);
    EXPECT_EQ(f.reverseDepth, 0);
    EXPECT_EQ(f.targetClass, 0);
    EXPECT_EQ(f.dateForm, 0);
}

TEST(ConversionFlagsTest, ReadsEveryOptionInOrderAndReleasesTheObjects) {
    ClientOptions options;
    ConversionFlags f = Marked();
    EXPECT_EQ(zrtGetConversionFlags(options.get(), &f), S_OK);
    EXPECT_EQ(f.inputRegroup, 1);
    EXPECT_EQ(f.inputRegroupDepth, 2);
    EXPECT_EQ(f.outputRegroup, 2);
    EXPECT_EQ(f.outputRegroupDepth, 3);
    EXPECT_EQ(f.fitRange, 1);
    EXPECT_EQ(f.reverseDims, 1);
    EXPECT_EQ(f.reverseDepth, 0) << "a client-set depth is reset";
    EXPECT_EQ(f.targetClass, kaINT32_CLASS);
    EXPECT_EQ(f.dateForm, 1);
    EXPECT_EQ(options.conversion.calls(), (std::vector<int>{kArrayOptions, kDataOptions}));
    EXPECT_EQ(options.array.calls(), (std::vector<int>{7, 9, 11, 13, 15, 17}));
    EXPECT_EQ(options.data.calls(), (std::vector<int>{7, 9}));
    options.ExpectReferencesBalanced();
}

TEST(ConversionFlagsTest, NullArgumentsWriteNothing) {
    ClientOptions options;
    ConversionFlags f = Marked();
    EXPECT_EQ(zrtGetConversionFlags(nullptr, &f), E_INVALIDARG);
    const ConversionFlags m = Marked();
    EXPECT_TRUE(f.inputRegroup == m.inputRegroup && f.inputRegroupDepth == m.inputRegroupDepth &&
                f.outputRegroup == m.outputRegroup && f.outputRegroupDepth == m.outputRegroupDepth &&
                f.fitRange == m.fitRange && f.reverseDims == m.reverseDims && f.reverseDepth == m.reverseDepth &&
                f.targetClass == m.targetClass && f.dateForm == m.dateForm);
    EXPECT_EQ(zrtGetConversionFlags(options.get(), nullptr), E_INVALIDARG);
    EXPECT_TRUE(options.conversion.calls().empty());
}

TEST(ConversionFlagsTest, OnlyVariantTrueSetsABooleanOption) {
    ClientOptions options;
    options.array.SetBool(kFitRange, 1);
    options.array.SetBool(kReverseDims, static_cast<VARIANT_BOOL>(0x7FFF));
    ConversionFlags f = Marked();
    EXPECT_EQ(zrtGetConversionFlags(options.get(), &f), S_OK);
    EXPECT_EQ(f.fitRange, 0);
    EXPECT_EQ(f.reverseDims, 0);
}

TEST(ConversionFlagsTest, FirstFailingGetterEndsTheReading) {
    ClientOptions options;
    options.array.Fail(kOutputRegroup, E_FAIL);
    ConversionFlags f = Marked();
    EXPECT_EQ(zrtGetConversionFlags(options.get(), &f), E_FAIL);
    EXPECT_EQ(f.inputRegroup, 1);
    EXPECT_EQ(f.inputRegroupDepth, 2);
    EXPECT_EQ(f.outputRegroup, 93);
    EXPECT_EQ(f.outputRegroupDepth, 94);
    EXPECT_EQ(f.fitRange, 95);
    EXPECT_EQ(f.reverseDims, 96);
    EXPECT_EQ(f.reverseDepth, 0);
    EXPECT_EQ(f.targetClass, 98);
    EXPECT_EQ(f.dateForm, 99);
    EXPECT_EQ(options.conversion.calls(), std::vector<int>{kArrayOptions}) << "get_DataOptions is never called";
    options.ExpectReferencesBalanced();
}

TEST(ConversionFlagsTest, LaterFailuresKeepTheFieldsOfTheirGetters) {
    struct Case {
        const char *what;
        OptionsDouble ClientOptions::*object;
        int position;
        HRESULT hr;
        uint8_t fitRange, reverseDims;
        int32_t targetClass, dateForm;
    };
    const Case cases[] = {
        {"fit range", &ClientOptions::array, kFitRange, E_FAIL, 95, 96, 98, 99},
        {"reverse dims", &ClientOptions::array, kReverseDims, DISP_E_EXCEPTION, 1, 96, 98, 99},
        {"target class", &ClientOptions::data, kTargetClass, E_OUTOFMEMORY, 1, 1, 98, 99},
        {"date form", &ClientOptions::data, kDateForm, E_FAIL, 1, 1, kaINT32_CLASS, 99},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ClientOptions options;
        (options.*c.object).Fail(c.position, c.hr);
        ConversionFlags f = Marked();
        EXPECT_EQ(zrtGetConversionFlags(options.get(), &f), c.hr);
        EXPECT_EQ(f.outputRegroupDepth, 3);
        EXPECT_EQ(f.fitRange, c.fitRange);
        EXPECT_EQ(f.reverseDims, c.reverseDims);
        EXPECT_EQ(f.targetClass, c.targetClass);
        EXPECT_EQ(f.dateForm, c.dateForm);
        options.ExpectReferencesBalanced();
    }
}

TEST(ConversionFlagsTest, SuccessWithoutAnObjectIsAFailureNotACrash) {
    ClientOptions options;
    options.conversion.SetInt(kDataOptions, 0);  // success, null object
    ConversionFlags f = Marked();
    EXPECT_EQ(zrtGetConversionFlags(options.get(), &f), E_POINTER);
    EXPECT_EQ(f.reverseDims, 1);
    EXPECT_EQ(f.targetClass, 98);
    options.ExpectReferencesBalanced();
}

// ---- the lock ----

struct LockProbe {
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE finish = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    volatile LONG result = 99;
    volatile LONG releaseResult = 99;
    bool holdAndQuit = false;
    ~LockProbe() {
        CloseHandle(ready);
        CloseHandle(finish);
    }
};

// Requests the lock; with holdAndQuit, ends the thread holding it, else
// waits for the finish signal and releases.
DWORD WINAPI LockThread(void *p) {
    LockProbe *probe = static_cast<LockProbe *>(p);
    probe->result = zrtRequestGlobalLock();
    SetEvent(probe->ready);
    if (probe->holdAndQuit) return 0;
    WaitForSingleObject(probe->finish, INFINITE);
    if (probe->result == 0) probe->releaseResult = zrtReleaseGlobalLock();
    return 0;
}

DWORD WINAPI ReleaseThread(void *p) {
    *static_cast<volatile LONG *>(p) = zrtReleaseGlobalLock();
    return 0;
}

HANDLE Start(LPTHREAD_START_ROUTINE routine, void *arg) { return CreateThread(nullptr, 0, routine, arg, 0, nullptr); }

void Join(HANDLE thread) {
    ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    CloseHandle(thread);
}

TEST(GlobalLock, HeldRecursivelyUntilEveryRequestIsReleased) {
    ASSERT_EQ(zrtRequestGlobalLock(), 0);
    ASSERT_EQ(zrtRequestGlobalLock(), 0);
    LockProbe other;
    HANDLE thread = Start(LockThread, &other);
    EXPECT_EQ(WaitForSingleObject(other.ready, 200), static_cast<DWORD>(WAIT_TIMEOUT)) << "held twice";
    EXPECT_EQ(zrtReleaseGlobalLock(), 0);
    EXPECT_EQ(WaitForSingleObject(other.ready, 200), static_cast<DWORD>(WAIT_TIMEOUT)) << "still held once";
    EXPECT_EQ(zrtReleaseGlobalLock(), 0);
    EXPECT_EQ(WaitForSingleObject(other.ready, 10000), WAIT_OBJECT_0);
    EXPECT_EQ(other.result, 0);
    SetEvent(other.finish);
    Join(thread);
    EXPECT_EQ(other.releaseResult, 0);
}

TEST(GlobalLock, ReleaseByANonOwnerAnswersZeroAndChangesNothing) {
    LockProbe owner;
    HANDLE thread = Start(LockThread, &owner);
    ASSERT_EQ(WaitForSingleObject(owner.ready, 10000), WAIT_OBJECT_0);
    ASSERT_EQ(owner.result, 0);
    volatile LONG released = 99;
    Join(Start(ReleaseThread, const_cast<LONG *>(&released)));
    EXPECT_EQ(released, 0);
    LockProbe waiter;
    HANDLE second = Start(LockThread, &waiter);
    EXPECT_EQ(WaitForSingleObject(waiter.ready, 200), static_cast<DWORD>(WAIT_TIMEOUT)) << "the owner still holds it";
    SetEvent(owner.finish);
    Join(thread);
    EXPECT_EQ(WaitForSingleObject(waiter.ready, 10000), WAIT_OBJECT_0);
    EXPECT_EQ(waiter.result, 0);
    SetEvent(waiter.finish);
    Join(second);
}

TEST(GlobalLock, AbandonedLockIsReportedOnceAndNotLeftHeld) {
    LockProbe quitter;
    quitter.holdAndQuit = true;
    Join(Start(LockThread, &quitter));
    ASSERT_EQ(quitter.result, 0);

    LockProbe next;
    HANDLE thread = Start(LockThread, &next);
    ASSERT_EQ(WaitForSingleObject(next.ready, 10000), WAIT_OBJECT_0);
    EXPECT_EQ(next.result, -1) << "the previous holder ended without releasing";
    SetEvent(next.finish);
    Join(thread);
    // The thread told -1 does not hold the lock: others get it at once.
    EXPECT_EQ(zrtRequestGlobalLock(), 0);
    EXPECT_EQ(zrtReleaseGlobalLock(), 0);
}

// ---- omitted arguments ----

TEST(VisualBasicDefault, OmittedArgumentsAreRecognised) {
    VARIANT notFound, empty, failed, nullValue, text, inner, byRefToByRef;
    V_VT(&notFound) = VT_ERROR;
    V_ERROR(&notFound) = DISP_E_PARAMNOTFOUND;
    V_VT(&empty) = VT_EMPTY;
    V_VT(&failed) = VT_ERROR;
    V_ERROR(&failed) = E_FAIL;
    V_VT(&nullValue) = VT_NULL;
    V_VT(&text) = VT_I4;
    V_I4(&text) = 0;
    V_VT(&inner) = VT_VARIANT | VT_BYREF;
    V_VARIANTREF(&inner) = &notFound;
    V_VT(&byRefToByRef) = VT_VARIANT | VT_BYREF;
    V_VARIANTREF(&byRefToByRef) = &inner;
    SCODE missing = DISP_E_PARAMNOTFOUND, other = S_OK;

    auto ref = [](VARIANT *target) {
        VARIANT v;
        V_VT(&v) = VT_VARIANT | VT_BYREF;
        V_VARIANTREF(&v) = target;
        return v;
    };
    auto errorRef = [](SCODE *target) {
        VARIANT v;
        V_VT(&v) = VT_ERROR | VT_BYREF;
        V_ERRORREF(&v) = target;
        return v;
    };
    struct Case {
        const char *what;
        VARIANT v;
        bool omitted;
    };
    const Case cases[] = {
        {"error not found", notFound, true},
        {"empty", empty, true},
        {"error E_FAIL", failed, false},
        {"null", nullValue, false},
        {"integer", text, false},
        {"by reference, null reference", ref(nullptr), true},
        {"by reference to not found", ref(&notFound), true},
        {"by reference to empty", ref(&empty), true},
        {"by reference to E_FAIL", ref(&failed), false},
        {"by reference to a by-reference", byRefToByRef, false},
        {"error by reference, null", errorRef(nullptr), true},
        {"error by reference, not found", errorRef(&missing), true},
        {"error by reference, other", errorRef(&other), false},
    };
    for (const Case &c : cases) EXPECT_EQ(zrtisVisualBasicDefault(&c.v), c.omitted) << c.what;
    EXPECT_TRUE(zrtisVisualBasicDefault(nullptr));
}

// ---- registration and version ----

TEST(Registration, ForwardersPassArgumentsAndResultsUnchanged) {
    struct Case {
        const char *name;
        int count;
        uint32_t (*call)();
    };
    const Case cases[] = {
        {"ytRegisterServer", 9, [] { return zrtRegisterServer(11, 12, 13, 14, 15, 16, 17, 18, 0xFFFFFFFFu); }},
        {"ytUnregisterServer", 3, [] { return zrtUnregisterServer(11, 12, 0xFFFFFFFFu); }},
        {"ytRegisterCorVexXLComponent", 8, [] { return zrtRegisterCorVexXLComponent(11, 12, 13, 14, 15, 16, 17, 0xFFFFFFFFu); }},
        {"ytUnRegisterCorVexXLComponent", 3, [] { return zrtUnRegisterCorVexXLComponent(11, 12, 0xFFFFFFFFu); }},
    };
    uint32_t answer = 0x80070005u;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ytHostSetRegistrationResult(++answer);
        EXPECT_EQ(c.call(), answer);
        char name[64];
        uint32_t args[9];
        ASSERT_EQ(ytHostLastRegistration(name, sizeof name, args), c.count);
        EXPECT_STREQ(name, c.name);
        for (int i = 0; i + 1 < c.count; ++i) EXPECT_EQ(args[i], 11u + i);
        EXPECT_EQ(args[c.count - 1], 0xFFFFFFFFu);
    }
    ytHostSetRegistrationResult(0);
}

TEST(Version, TextsAreExportedData) {
    EXPECT_STREQ(libvkvarcon_version, "6.1.0.1229c");
    EXPECT_STREQ(libvkvarcon_build_date, "Aug 17 2001");
    HMODULE module = GetModuleHandleA("varcon.dll");
    ASSERT_NE(module, nullptr);
    auto version = reinterpret_cast<const char *const *>(GetProcAddress(module, "libvkvarcon_version"));
    ASSERT_NE(version, nullptr);
    EXPECT_STREQ(*version, "6.1.0.1229c");
}

}  // namespace
