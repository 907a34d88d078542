// libka: the host array library. Arrays, the allocator, lifetime lists and
// the host's one error model (traps and raised errors), plus the host's
// output channel, which the other host libraries write through.
#define LIBKA_BUILD
#include "ka.h"

#include <windows.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

struct AllocList {
    kaArray *head;
};

struct kaArray_tag {
    uint32_t magic;
    kaClassID classID;
    int ndim;
    int *dims;
    void *pr;  // real data, cell pointers, field pointers or text
    void *pi;  // imaginary data
    bool logical;
    int nfields;
    char **fieldNames;
    int nzmax;
    int *ir;
    int *jc;
    char *name;
    int refCount;
    int scope;
    AllocList *list;  // null once stored in a container or given scope 0
    kaArray *prev;
    kaArray *next;
};

namespace {

const uint32_t kLiveArray = 0x4B41524Cu;
const uint32_t kDeadArray = 0x4B41DEADu;
const uint32_t kLiveBlock = 0x4B41424Cu;
const uint32_t kDeadBlock = 0x4B42DEADu;
const int kDefaultScope = 1;

// Bytes per element by class id; 0 for classes that hold no data of their own.
const int kElementSize[kaOPAQUE_CLASS + 1] = {
    0,  // unknown
    4,  // cell: one array pointer
    4,  // struct: one array pointer per field
    0,  // object
    2,  // char: 16-bit code units
    8,  // sparse: double values
    8, 4, 1, 1, 2, 2, 4, 4, 8, 8,  // double .. uint64
    0,  // function
    0,  // opaque
};

volatile LONG g_liveArrays = 0;
volatile LONG g_liveBlocks = 0;
volatile LONG g_badReleases = 0;

SRWLOCK g_listLock = SRWLOCK_INIT;
AllocList g_rootList = {nullptr};
AllocList *g_currentList = &g_rootList;

kaOutputHook g_outputHook = nullptr;
void *g_outputUser = nullptr;

thread_local kaTrapContext *t_innermostTrap = nullptr;
thread_local char t_lastError[4096];

struct ListLock {
    ListLock() { AcquireSRWLockExclusive(&g_listLock); }
    ~ListLock() { ReleaseSRWLockExclusive(&g_listLock); }
    ListLock(const ListLock &) = delete;
    ListLock &operator=(const ListLock &) = delete;
};

bool IsNumericClass(kaClassID c) { return c >= kaDOUBLE_CLASS && c <= kaUINT64_CLASS; }
bool IsPlaceholderClass(kaClassID c) {
    return c == kaUNKNOWN_CLASS || c == kaOBJECT_CLASS || c == kaFUNCTION_CLASS || c == kaOPAQUE_CLASS;
}
bool IsLive(const kaArray *a) { return a != nullptr && a->magic == kLiveArray; }

// Callers hold the list lock.
void LinkLocked(kaArray *a, AllocList *list) {
    a->list = list;
    a->prev = nullptr;
    a->next = list->head;
    if (list->head) list->head->prev = a;
    list->head = a;
}

void UnlinkLocked(kaArray *a) {
    if (!a->list) return;
    if (a->prev) a->prev->next = a->next;
    else a->list->head = a->next;
    if (a->next) a->next->prev = a->prev;
    a->list = nullptr;
    a->prev = a->next = nullptr;
}

void Link(kaArray *a) {
    ListLock lock;
    LinkLocked(a, g_currentList);
}

void Unlink(kaArray *a) {
    ListLock lock;
    UnlinkLocked(a);
}

int64_t ElementCount(const kaArray *a) {
    int64_t n = 1;
    for (int k = 0; k < a->ndim; ++k) n *= a->dims[k];
    return n;
}

void FreeArray(kaArray *a);

void FreeContents(kaArray *a) {
    if (a->classID == kaCELL_CLASS && a->pr) {
        kaArray **cells = static_cast<kaArray **>(a->pr);
        for (int64_t i = 0, n = ElementCount(a); i < n; ++i) FreeArray(cells[i]);
    } else if (a->classID == kaSTRUCT_CLASS && a->pr) {
        kaArray **fields = static_cast<kaArray **>(a->pr);
        for (int64_t i = 0, n = ElementCount(a) * a->nfields; i < n; ++i) FreeArray(fields[i]);
    }
    free(a->pr);
    free(a->pi);
    free(a->ir);
    free(a->jc);
    a->pr = a->pi = nullptr;
    a->ir = a->jc = nullptr;
}

void FreeArray(kaArray *a) {
    if (!a) return;
    if (!IsLive(a)) {
        InterlockedIncrement(&g_badReleases);
        return;
    }
    Unlink(a);
    FreeContents(a);
    if (a->fieldNames) {
        for (int j = 0; j < a->nfields; ++j) free(a->fieldNames[j]);
        free(a->fieldNames);
    }
    free(a->name);
    free(a->dims);
    a->magic = kDeadArray;
    free(a);
    InterlockedDecrement(&g_liveArrays);
}

// A new array header with normalised dimensions and no data; null when the
// element count does not fit a signed 32-bit integer.
kaArray *NewHeader(kaClassID classID, int ndim, const int *dims) {
    int shape[2] = {0, 0};
    if (ndim == 1 && dims) {
        shape[0] = dims[0];
        shape[1] = 1;
        dims = shape;
        ndim = 2;
    } else if (ndim < 2 || !dims) {
        dims = shape;
        ndim = 2;
    }
    while (ndim > 2 && dims[ndim - 1] == 1) --ndim;

    kaArray *a = static_cast<kaArray *>(calloc(1, sizeof(kaArray)));
    if (!a) return nullptr;
    a->dims = static_cast<int *>(malloc(sizeof(int) * ndim));
    if (!a->dims) {
        free(a);
        return nullptr;
    }
    int64_t n = 1;
    for (int k = 0; k < ndim; ++k) {
        a->dims[k] = dims[k] < 0 ? 0 : dims[k];
        n *= a->dims[k];
        if (n > INT32_MAX) {
            free(a->dims);
            free(a);
            return nullptr;
        }
    }
    a->magic = kLiveArray;
    a->classID = classID;
    a->ndim = ndim;
    a->scope = kDefaultScope;
    InterlockedIncrement(&g_liveArrays);
    return a;
}

void *AllocZeroed(int64_t count, int64_t size) {
    if (count <= 0 || size <= 0) return nullptr;
    if (count * size > INT32_MAX) return nullptr;
    return calloc(static_cast<size_t>(count), static_cast<size_t>(size));
}

// Allocates the data an array of its class and element count holds. False
// when memory ran out.
bool AllocData(kaArray *a, bool complex) {
    const int64_t n = ElementCount(a);
    if (IsPlaceholderClass(a->classID) || n == 0) return true;
    const int64_t perElement = a->classID == kaSTRUCT_CLASS ? int64_t(a->nfields) * 4 : kElementSize[a->classID];
    if (perElement == 0) return true;
    // Text keeps a zero code unit after its last character, as strings do.
    a->pr = AllocZeroed(a->classID == kaCHAR_CLASS ? n + 1 : n, perElement);
    if (!a->pr) return false;
    if (complex && IsNumericClass(a->classID)) {
        a->pi = AllocZeroed(n, perElement);
        if (!a->pi) return false;
    }
    return true;
}

kaArray *CreateArray(kaClassID classID, int ndim, const int *dims, bool complex) {
    kaArray *a = NewHeader(classID, ndim, dims);
    if (!a) return nullptr;
    if (!AllocData(a, complex)) {
        FreeArray(a);
        return nullptr;
    }
    Link(a);
    return a;
}

char *CopyText(const char *s) {
    if (!s) s = "";
    size_t n = strlen(s) + 1;
    char *c = static_cast<char *>(malloc(n));
    if (c) memcpy(c, s, n);
    return c;
}

void *CopyBlock(const void *p, int64_t bytes) {
    if (!p || bytes <= 0) return nullptr;
    void *c = malloc(static_cast<size_t>(bytes));
    if (c) memcpy(c, p, static_cast<size_t>(bytes));
    return c;
}

// Deep copy, not linked into any list. Null when memory ran out.
kaArray *Duplicate(const kaArray *a) {
    kaArray *d = NewHeader(a->classID, a->ndim, a->dims);
    if (!d) return nullptr;
    d->logical = a->logical;
    d->nfields = a->nfields;
    d->nzmax = a->nzmax;
    bool ok = true;
    if (a->fieldNames) {
        d->fieldNames = static_cast<char **>(calloc(a->nfields > 0 ? a->nfields : 1, sizeof(char *)));
        ok = d->fieldNames != nullptr;
        for (int j = 0; ok && j < a->nfields; ++j) ok = (d->fieldNames[j] = CopyText(a->fieldNames[j])) != nullptr;
    }
    const int64_t n = ElementCount(a);
    if (ok && (a->classID == kaCELL_CLASS || a->classID == kaSTRUCT_CLASS) && a->pr) {
        const int64_t slots = a->classID == kaCELL_CLASS ? n : n * a->nfields;
        kaArray **from = static_cast<kaArray **>(a->pr);
        kaArray **to = static_cast<kaArray **>(AllocZeroed(slots, sizeof(kaArray *)));
        d->pr = to;
        ok = to != nullptr;
        for (int64_t i = 0; ok && i < slots; ++i) {
            if (from[i]) ok = (to[i] = Duplicate(from[i])) != nullptr;
        }
    } else if (ok && a->classID == kaSPARSE_CLASS) {
        d->pr = CopyBlock(a->pr, int64_t(a->nzmax) * 8);
        d->pi = CopyBlock(a->pi, int64_t(a->nzmax) * 8);
        d->ir = static_cast<int *>(CopyBlock(a->ir, int64_t(a->nzmax) * 4));
        d->jc = static_cast<int *>(CopyBlock(a->jc, (int64_t(kaGetN(a)) + 1) * 4));
        ok = (!a->pr || d->pr) && (!a->pi || d->pi) && (!a->ir || d->ir) && (!a->jc || d->jc);
    } else if (ok && a->pr) {
        const int64_t bytes = n * kElementSize[a->classID];
        // Text keeps its terminator beyond the elements.
        const int64_t held = a->classID == kaCHAR_CLASS ? bytes + 2 : bytes;
        d->pr = CopyBlock(a->pr, held);
        d->pi = CopyBlock(a->pi, bytes);
        ok = d->pr && (!a->pi || d->pi);
    }
    if (!ok) {
        FreeArray(d);
        return nullptr;
    }
    return d;
}

// Raises a host error for a call that misuses the array interface, so that
// a fault in a caller shows at once instead of corrupting memory.
[[noreturn]] void Misuse(const char *operation, const char *what) {
    char text[256];
    snprintf(text, sizeof text, "%s: %s", operation, what);
    kaHostRaiseError(text);
}

void StoreChild(kaArray **slot, kaArray *value) {
    if (value) Unlink(value);
    *slot = value;
}

}  // namespace

// ---- creation ----

kaArray *kaCreateNumericArray(int ndim, const int *dims, kaClassID classID, kaComplexity complexity) {
    if (!(IsNumericClass(classID) || classID == kaCHAR_CLASS || IsPlaceholderClass(classID))) return nullptr;
    return CreateArray(classID, ndim, dims, complexity == kaCOMPLEX);
}

kaArray *kaCreateNumericMatrix(int m, int n, kaClassID classID, kaComplexity complexity) {
    const int dims[2] = {m, n};
    return kaCreateNumericArray(2, dims, classID, complexity);
}

kaArray *kaCreateDoubleMatrix(int m, int n, kaComplexity complexity) {
    return kaCreateNumericMatrix(m, n, kaDOUBLE_CLASS, complexity);
}

kaArray *kaCreateCharArray(int ndim, const int *dims) { return CreateArray(kaCHAR_CLASS, ndim, dims, false); }

kaArray *kaCreateString(const char *text) {
    if (!text) text = "";
    const size_t len = strlen(text);
    if (len > INT32_MAX / 2 - 1) return nullptr;
    kaArray *a = NewHeader(kaCHAR_CLASS, 0, nullptr);
    if (!a) return nullptr;
    a->dims[0] = 1;
    a->dims[1] = static_cast<int>(len);
    // A string always has data, the empty one too, with a terminator after
    // the last character.
    kaChar *chars = static_cast<kaChar *>(calloc(len + 1, sizeof(kaChar)));
    if (!chars) {
        FreeArray(a);
        return nullptr;
    }
    for (size_t i = 0; i < len; ++i) chars[i] = static_cast<unsigned char>(text[i]);
    a->pr = chars;
    Link(a);
    return a;
}

kaArray *kaCreateCellArray(int ndim, const int *dims) { return CreateArray(kaCELL_CLASS, ndim, dims, false); }

kaArray *kaCreateCellMatrix(int m, int n) {
    const int dims[2] = {m, n};
    return kaCreateCellArray(2, dims);
}

kaArray *kaCreateStructArray(int ndim, const int *dims, int nfields, const char **fieldNames) {
    if (nfields < 0 || (nfields > 0 && !fieldNames)) return nullptr;
    kaArray *a = NewHeader(kaSTRUCT_CLASS, ndim, dims);
    if (!a) return nullptr;
    a->nfields = nfields;
    a->fieldNames = static_cast<char **>(calloc(nfields > 0 ? nfields : 1, sizeof(char *)));
    bool ok = a->fieldNames != nullptr;
    for (int j = 0; ok && j < nfields; ++j) ok = (a->fieldNames[j] = CopyText(fieldNames[j])) != nullptr;
    if (!ok || !AllocData(a, false)) {
        FreeArray(a);
        return nullptr;
    }
    Link(a);
    return a;
}

kaArray *kaCreateStructMatrix(int m, int n, int nfields, const char **fieldNames) {
    const int dims[2] = {m, n};
    return kaCreateStructArray(2, dims, nfields, fieldNames);
}

kaArray *kaCreateSparse(int m, int n, int nzmax, kaComplexity complexity) {
    const int dims[2] = {m, n};
    kaArray *a = NewHeader(kaSPARSE_CLASS, 2, dims);
    if (!a) return nullptr;
    a->nzmax = nzmax < 1 ? 1 : nzmax;
    a->pr = AllocZeroed(a->nzmax, 8);
    a->pi = complexity == kaCOMPLEX ? AllocZeroed(a->nzmax, 8) : nullptr;
    a->ir = static_cast<int *>(AllocZeroed(a->nzmax, 4));
    a->jc = static_cast<int *>(AllocZeroed(int64_t(a->dims[1]) + 1, 4));
    if (!a->pr || !a->ir || !a->jc || (complexity == kaCOMPLEX && !a->pi)) {
        FreeArray(a);
        return nullptr;
    }
    Link(a);
    return a;
}

kaArray *kaDuplicateArray(const kaArray *array) {
    if (!IsLive(array)) return nullptr;
    kaArray *d = Duplicate(array);
    if (d) Link(d);
    return d;
}

// ---- reading ----

kaClassID kaGetClassID(const kaArray *a) { return a ? a->classID : kaUNKNOWN_CLASS; }
int kaGetNumberOfElements(const kaArray *a) { return a ? static_cast<int>(ElementCount(a)) : 0; }
const int *kaGetDimensions(const kaArray *a) { return a ? a->dims : nullptr; }
int kaGetDimCount(const kaArray *a) { return a ? a->ndim : 0; }
int kaGetM(const kaArray *a) { return a ? a->dims[0] : 0; }

int kaGetN(const kaArray *a) {
    if (!a) return 0;
    int64_t n = 1;
    for (int k = 1; k < a->ndim; ++k) n *= a->dims[k];
    return static_cast<int>(n);
}

int kaGetElementSize(const kaArray *a) {
    if (!a || a->classID < 0 || a->classID > kaOPAQUE_CLASS) return 0;
    return kElementSize[a->classID];
}

double *kaGetPr(const kaArray *a) { return a ? static_cast<double *>(a->pr) : nullptr; }
void *kaGetImagData(const kaArray *a) { return a ? a->pi : nullptr; }

kaArray *kaGetCell(const kaArray *a, int index) {
    if (!a || a->classID != kaCELL_CLASS || !a->pr || index < 0 || index >= ElementCount(a)) return nullptr;
    return static_cast<kaArray **>(a->pr)[index];
}

int kaGetFieldCount(const kaArray *a) { return a && a->classID == kaSTRUCT_CLASS ? a->nfields : 0; }

kaArray *kaGetFieldByNumber(const kaArray *a, int index, int field) {
    if (!a || a->classID != kaSTRUCT_CLASS || !a->pr) return nullptr;
    if (index < 0 || index >= ElementCount(a) || field < 0 || field >= a->nfields) return nullptr;
    return static_cast<kaArray **>(a->pr)[int64_t(index) * a->nfields + field];
}

const char *kaGetFieldNameByNumber(const kaArray *a, int field) {
    if (!a || a->classID != kaSTRUCT_CLASS || field < 0 || field >= a->nfields) return nullptr;
    return a->fieldNames[field];
}

const char *kaGetName(const kaArray *a) { return a ? a->name : nullptr; }
int kaGetNzmax(const kaArray *a) { return a && a->classID == kaSPARSE_CLASS ? a->nzmax : 0; }
int *kaGetIr(const kaArray *a) { return a ? a->ir : nullptr; }
int *kaGetJc(const kaArray *a) { return a ? a->jc : nullptr; }

bool kaIsEmpty(const kaArray *a) { return !a || ElementCount(a) == 0; }
bool kaIsLogical(const kaArray *a) { return a && a->logical; }
bool kaIsDouble(const kaArray *a) { return a && a->classID == kaDOUBLE_CLASS; }
bool kaHasImagPart(const kaArray *a) { return a && a->pi != nullptr; }

int kaGetString(const kaArray *a, char *buffer, int size) {
    if (!buffer || size < 1) return 1;
    buffer[0] = '\0';
    if (!a || a->classID != kaCHAR_CLASS) return 1;
    const kaChar *chars = static_cast<const kaChar *>(a->pr);
    const int64_t n = chars ? ElementCount(a) : 0;
    int64_t i = 0;
    for (; i < n && i < size - 1; ++i) buffer[i] = chars[i] < 256 ? static_cast<char>(chars[i]) : '?';
    buffer[i] = '\0';
    return i < n ? 1 : 0;
}

// ---- changing ----

void kaSetM(kaArray *a, int m) {
    if (a) a->dims[0] = m < 0 ? 0 : m;
}

void kaSetN(kaArray *a, int n) {
    if (!a) return;
    a->ndim = 2;  // the dimensions after the first collapse into one
    a->dims[1] = n < 0 ? 0 : n;
}

void kaSetLogical(kaArray *a, bool logical) {
    if (a && (IsNumericClass(a->classID) || a->classID == kaCHAR_CLASS)) a->logical = logical;
}

void kaSetCell(kaArray *a, int index, kaArray *value) {
    if (!a || a->classID != kaCELL_CLASS) Misuse("kaSetCell", "not a cell array");
    if (index < 0 || index >= ElementCount(a)) Misuse("kaSetCell", "index outside the array");
    StoreChild(&static_cast<kaArray **>(a->pr)[index], value);
}

void kaSetFieldByNumber(kaArray *a, int index, int field, kaArray *value) {
    if (!a || a->classID != kaSTRUCT_CLASS) Misuse("kaSetFieldByNumber", "not a struct array");
    if (index < 0 || index >= ElementCount(a) || field < 0 || field >= a->nfields)
        Misuse("kaSetFieldByNumber", "index or field outside the array");
    StoreChild(&static_cast<kaArray **>(a->pr)[int64_t(index) * a->nfields + field], value);
}

void kaSetName(kaArray *a, const char *name) {
    if (!a) return;
    free(a->name);
    a->name = name ? CopyText(name) : nullptr;
}

void kaDestroyArray(kaArray *a) { FreeArray(a); }

// ---- allocator ----

namespace {
struct BlockHeader {
    uint32_t magic;
    uint32_t pad[3];  // keeps the block 16-byte aligned
};
}  // namespace

void *kaCalloc(size_t count, size_t size) {
    if (size != 0 && count > (SIZE_MAX - sizeof(BlockHeader)) / size) return nullptr;
    BlockHeader *h = static_cast<BlockHeader *>(calloc(1, sizeof(BlockHeader) + count * size));
    if (!h) return nullptr;
    h->magic = kLiveBlock;
    InterlockedIncrement(&g_liveBlocks);
    return h + 1;
}

void kaFree(void *block) {
    if (!block) return;
    BlockHeader *h = static_cast<BlockHeader *>(block) - 1;
    if (h->magic != kLiveBlock) {
        InterlockedIncrement(&g_badReleases);
        return;
    }
    h->magic = kDeadBlock;
    free(h);
    InterlockedDecrement(&g_liveBlocks);
}

// ---- lifetime lists ----

void kaSetArrayScope(kaArray *a, int scope) {
    if (!a) return;
    a->scope = scope;
    if (scope == 0) Unlink(a);
}

int kaGetArrayScope(const kaArray *a) { return a ? a->scope : 0; }
void kaIncrementRefCount(kaArray *a) {
    if (a) ++a->refCount;
}
void kaDecrementRefCount(kaArray *a) {
    if (a && a->refCount > 0) --a->refCount;
}
int kaGetRefCount(const kaArray *a) { return a ? a->refCount : 0; }

void *kaEnterNewAllocListContext(void) {
    AllocList *list = static_cast<AllocList *>(calloc(1, sizeof(AllocList)));
    if (!list) kaHostRaiseError("Out of memory: no new allocation list");
    ListLock lock;
    AllocList *previous = g_currentList;
    g_currentList = list;
    return previous;
}

void kaFreeAllocListContext(void) {
    for (;;) {
        kaArray *victim = nullptr;
        {
            ListLock lock;
            for (kaArray *a = g_currentList->head; a; a = a->next) {
                if (a->refCount <= 0) {
                    victim = a;
                    break;
                }
            }
        }
        if (!victim) return;
        FreeArray(victim);
    }
}

void kaRestorePreviousAllocListContext(void *previous) {
    AllocList *target = previous ? static_cast<AllocList *>(previous) : &g_rootList;
    ListLock lock;
    AllocList *abandoned = g_currentList;
    if (abandoned == target) return;
    while (kaArray *a = abandoned->head) {
        UnlinkLocked(a);
        LinkLocked(a, target);
    }
    if (abandoned != &g_rootList) free(abandoned);
    g_currentList = target;
}

// ---- errors ----

void kaErrMsgTxt(const char *message) { kaHostRaiseError(message); }

void kaHostEnterTrap(kaTrapContext *context, jmp_buf *buffer, kaTrapRoutine routine) {
    if (!context) return;
    context->previous = t_innermostTrap;
    context->buffer = buffer;
    context->routine = routine;
    context->reserved = nullptr;
    t_innermostTrap = context;
}

void kaHostExitTrap(kaTrapContext *context, int failed) {
    // Traps registered after this one and never left are dropped with it.
    for (kaTrapContext *t = t_innermostTrap; t; t = t->previous) {
        if (t == context) {
            t_innermostTrap = context->previous;
            return;
        }
    }
}

jmp_buf *kaHostTrapBuffer(int which) {
    kaTrapContext *t = t_innermostTrap;
    for (int k = 0; t && which > 0 && k < which; ++k) t = t->previous;
    return t ? t->buffer : nullptr;
}

void kaHostRaiseError(const char *message) {
    if (!message) message = "";
    snprintf(t_lastError, sizeof t_lastError, "%s", message);
    kaTrapContext *trap = t_innermostTrap;
    if (!trap || !trap->buffer) {
        fflush(stdout);
        fprintf(stderr, "%s\n", t_lastError);
        fflush(stderr);
        exit(1);
    }
    if (trap->routine) trap->routine();
    longjmp(*trap->buffer, -1);
}

const char *kaHostLastError(void) { return t_lastError; }

// ---- output ----

void kaHostSetOutputHook(kaOutputHook hook, void *user) {
    g_outputHook = hook;
    g_outputUser = user;
}

int kaHostVPrintf(const char *format, va_list args) {
    if (!format) return 0;
    char small[1024];
    va_list again;
    va_copy(again, args);
    const int n = vsnprintf(small, sizeof small, format, args);
    if (n < 0 || static_cast<size_t>(n) < sizeof small) {
        va_end(again);
        if (n > 0) kaHostWrite(small, static_cast<size_t>(n));
        return n;
    }
    char *large = static_cast<char *>(malloc(static_cast<size_t>(n) + 1));
    if (large) vsnprintf(large, static_cast<size_t>(n) + 1, format, again);
    va_end(again);
    if (!large) return -1;
    kaHostWrite(large, static_cast<size_t>(n));
    free(large);
    return n;
}

void kaHostWrite(const char *text, size_t length) {
    if (!text || length == 0) return;
    if (g_outputHook) g_outputHook(text, length, g_outputUser);
    else fwrite(text, 1, length, stdout);
}

// ---- leak checks ----

int kaHostLiveArrays(void) { return g_liveArrays; }
int kaHostLiveBlocks(void) { return g_liveBlocks; }
int kaHostBadReleases(void) { return g_badReleases; }
