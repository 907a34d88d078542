// The frame of the conversion library: entry point and process-wide lock,
// conversion options, statuses raised as host errors, the omitted-argument
// test, registration forwarders and version texts.
#include "varcon_internal.h"

#include "yt.h"

#include <windows.h>
#include <oleauto.h>

static_assert(offsetof(ConversionFlags, inputRegroup) == 0, "ConversionFlags layout");
static_assert(offsetof(ConversionFlags, inputRegroupDepth) == 4, "ConversionFlags layout");
static_assert(offsetof(ConversionFlags, outputRegroup) == 8, "ConversionFlags layout");
static_assert(offsetof(ConversionFlags, outputRegroupDepth) == 12, "ConversionFlags layout");
static_assert(offsetof(ConversionFlags, fitRange) == 16, "ConversionFlags layout");
static_assert(offsetof(ConversionFlags, reverseDims) == 17, "ConversionFlags layout");
static_assert(offsetof(ConversionFlags, reverseDepth) == 20, "ConversionFlags layout");
static_assert(offsetof(ConversionFlags, targetClass) == 24, "ConversionFlags layout");
static_assert(offsetof(ConversionFlags, dateForm) == 28, "ConversionFlags layout");
static_assert(sizeof(ConversionFlags) == 32, "ConversionFlags layout");

extern "C" {
const char *const libvkvarcon_version = "6.1.0.1229c";
const char *const libvkvarcon_build_date = "Aug 17 2001";
}

// ---- entry point and lock ----

// The one lock of the library: an unnamed, process-local mutex, null when it
// could not be created or the library is unloading.
static HANDLE libraryMutex = nullptr;

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        libraryMutex = CreateMutexA(nullptr, FALSE, nullptr);
        DisableThreadLibraryCalls(module);
    } else if (reason == DLL_PROCESS_DETACH) {
        if (libraryMutex) CloseHandle(libraryMutex);
        libraryMutex = nullptr;
    }
    return TRUE;
}

extern "C" int zrtRequestGlobalLock(void) {
    if (!libraryMutex) return -1;
    const DWORD wait = WaitForSingleObject(libraryMutex, INFINITE);
    if (wait == WAIT_OBJECT_0) return 0;
    // A thread ended while holding the lock. The platform has handed the
    // mutex to this thread anyway; since the caller is told -1 and will not
    // release what it was told it did not get, give it back here, or every
    // other thread would wait for ever.
    if (wait == WAIT_ABANDONED) ReleaseMutex(libraryMutex);
    return -1;
}

extern "C" int zrtReleaseGlobalLock(void) {
    if (!libraryMutex) return -1;
    ReleaseMutex(libraryMutex);  // a release by a thread that does not hold it changes nothing
    return 0;
}

// ---- conversion options ----

extern "C" ConversionFlags *zrtInitConversionFlags(ConversionFlags *flags) {
    flags->inputRegroup = 0;
    flags->inputRegroupDepth = 0;
    flags->outputRegroup = 0;
    flags->outputRegroupDepth = 0;
    flags->fitRange = 0;
    flags->reverseDims = 0;
    flags->reverseDepth = 0;
    flags->targetClass = 0;
    flags->dateForm = 0;
    return flags;
}

namespace {

// The options objects are read by vtable position: every getter takes one
// pointer to where it stores its value.
typedef HRESULT(STDMETHODCALLTYPE *OptionGetter)(void *self, void *value);
typedef ULONG(STDMETHODCALLTYPE *OptionRelease)(void *self);

const int kReleasePosition = 2;
const int kGetArrayOptions = 7;
const int kGetDataOptions = 9;

HRESULT CallGetter(void *object, int position, void *value) {
    void **vtable = *static_cast<void ***>(object);
    return reinterpret_cast<OptionGetter>(vtable[position])(object, value);
}

void ReleaseOptions(void *object) {
    if (!object) return;
    void **vtable = *static_cast<void ***>(object);
    reinterpret_cast<OptionRelease>(vtable[kReleasePosition])(object);
}

// How a getter's value reaches its field: a 32-bit integer stored straight
// into the record, a 32-bit integer through a local (the field changes only
// when the getter succeeds), or a VARIANT_BOOL through a local, 1 only for
// VARIANT_TRUE.
enum class Delivery { Direct, Local, Boolean };

struct OptionField {
    int position;
    size_t offset;
    Delivery delivery;
};

const OptionField kArrayOptionFields[] = {
    {7, offsetof(ConversionFlags, inputRegroup), Delivery::Direct},
    {9, offsetof(ConversionFlags, inputRegroupDepth), Delivery::Direct},
    {11, offsetof(ConversionFlags, outputRegroup), Delivery::Direct},
    {13, offsetof(ConversionFlags, outputRegroupDepth), Delivery::Direct},
    {15, offsetof(ConversionFlags, fitRange), Delivery::Boolean},
    {17, offsetof(ConversionFlags, reverseDims), Delivery::Boolean},
};

const OptionField kDataOptionFields[] = {
    {7, offsetof(ConversionFlags, targetClass), Delivery::Local},
    {9, offsetof(ConversionFlags, dateForm), Delivery::Direct},
};

// Runs the getters in order; the first failure ends the reading and is
// answered. Otherwise answers the last getter's HRESULT.
template <size_t N>
HRESULT ReadOptionFields(void *object, const OptionField (&fields)[N], ConversionFlags *flags) {
    HRESULT hr = S_OK;
    char *record = reinterpret_cast<char *>(flags);
    for (const OptionField &f : fields) {
        void *field = record + f.offset;
        if (f.delivery == Delivery::Direct) {
            hr = CallGetter(object, f.position, field);
        } else if (f.delivery == Delivery::Local) {
            LONG value = 0;
            hr = CallGetter(object, f.position, &value);
            if (SUCCEEDED(hr)) *static_cast<int32_t *>(field) = value;
        } else {
            VARIANT_BOOL value = VARIANT_FALSE;
            hr = CallGetter(object, f.position, &value);
            if (SUCCEEDED(hr)) *static_cast<uint8_t *>(field) = value == VARIANT_TRUE ? 1 : 0;
        }
        if (FAILED(hr)) return hr;
    }
    return hr;
}

// Obtains one of the two option objects. A getter that reports success
// without delivering an object is answered with E_POINTER, so that no
// method is ever called through a null pointer.
HRESULT GetOptionObject(void *options, int position, void **object) {
    *object = nullptr;
    HRESULT hr = CallGetter(options, position, object);
    if (SUCCEEDED(hr) && !*object) hr = E_POINTER;
    return hr;
}

}  // namespace

extern "C" HRESULT zrtGetConversionFlags(IConversionOptions *options, ConversionFlags *flags) {
    if (!options || !flags) return E_INVALIDARG;
    flags->reverseDepth = 0;  // only clients that fill the record themselves set it
    void *arrayOptions = nullptr;
    void *dataOptions = nullptr;
    HRESULT hr = GetOptionObject(options, kGetArrayOptions, &arrayOptions);
    if (SUCCEEDED(hr)) hr = ReadOptionFields(arrayOptions, kArrayOptionFields, flags);
    if (SUCCEEDED(hr)) hr = GetOptionObject(options, kGetDataOptions, &dataOptions);
    if (SUCCEEDED(hr)) hr = ReadOptionFields(dataOptions, kDataOptionFields, flags);
    ReleaseOptions(arrayOptions);
    ReleaseOptions(dataOptions);
    return hr;
}

// ---- statuses ----

namespace {
const char *const kStatusMessages[] = {
    "Data conversion error: Invalid input",                          // -1
    "Data conversion error: Unable to allocate memory",              // -2
    "Data conversion error: Invalid VARIANT data",                   // -3
    "Data conversion error: Unable to access VARIANT data",          // -4
    "Data conversion error: Unsupported VARIANT type",               // -5
    "Data conversion error: Unsupported CORVEX type",                // -6
    "Data conversion error: Unable to copy array data from object",  // -7
    "Data conversion error: Unable to copy array data into object",  // -8
};
const char kUnknownStatus[] = "Data conversion error: Unknown error";
}  // namespace

const char *ConversionErrorMessage(int status) {
    const int count = static_cast<int>(sizeof kStatusMessages / sizeof kStatusMessages[0]);
    if (status < 0 && status >= -count) return kStatusMessages[-status - 1];
    return kUnknownStatus;
}

void RaiseConversionError(int status) {
    if (status >= 0) return;
    kaErrMsgTxt(ConversionErrorMessage(status));
}

// ---- omitted optional arguments ----

extern "C" bool zrtisVisualBasicDefault(const VARIANT *argument) {
    if (!argument) return true;
    switch (V_VT(argument)) {
    case VT_VARIANT | VT_BYREF: {
        // Only the referenced VARIANT itself is looked at, not what it refers to.
        const VARIANT *referenced = V_VARIANTREF(argument);
        if (!referenced) return true;
        if (V_VT(referenced) == VT_ERROR && V_ERROR(referenced) == DISP_E_PARAMNOTFOUND) return true;
        return V_VT(referenced) == VT_EMPTY;
    }
    case VT_ERROR | VT_BYREF:
        return !V_ERRORREF(argument) || *V_ERRORREF(argument) == DISP_E_PARAMNOTFOUND;
    case VT_ERROR:
        return V_ERROR(argument) == DISP_E_PARAMNOTFOUND;
    case VT_EMPTY:
        return true;
    default:
        return false;
    }
}

// ---- registration, forwarded unchanged to the utility library ----

extern "C" uint32_t zrtRegisterServer(uint32_t a1, uint32_t a2, uint32_t a3, uint32_t a4, uint32_t a5,
                                      uint32_t a6, uint32_t a7, uint32_t a8, uint32_t a9) {
    return ytRegisterServer(a1, a2, a3, a4, a5, a6, a7, a8, a9);
}

extern "C" uint32_t zrtUnregisterServer(uint32_t a1, uint32_t a2, uint32_t a3) {
    return ytUnregisterServer(a1, a2, a3);
}

extern "C" uint32_t zrtRegisterCorVexXLComponent(uint32_t a1, uint32_t a2, uint32_t a3, uint32_t a4,
                                                 uint32_t a5, uint32_t a6, uint32_t a7, uint32_t a8) {
    return ytRegisterCorVexXLComponent(a1, a2, a3, a4, a5, a6, a7, a8);
}

extern "C" uint32_t zrtUnRegisterCorVexXLComponent(uint32_t a1, uint32_t a2, uint32_t a3) {
    return ytUnRegisterCorVexXLComponent(a1, a2, a3);
}
