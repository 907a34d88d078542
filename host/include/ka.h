/* The host array library libka: the array value kaArray and the operations
   the run-time files use on it. All functions are cdecl with C linkage. */
#ifndef CORVEX_HOST_KA_H
#define CORVEX_HOST_KA_H

#include <stddef.h>
#include <setjmp.h>
#include <stdarg.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

#ifdef LIBKA_BUILD
#define KA_API __declspec(dllexport)
#else
#define KA_API __declspec(dllimport)
#endif

#if defined(__GNUC__)
#define KA_NORETURN __attribute__((noreturn))
#else
#define KA_NORETURN
#endif

typedef struct kaArray_tag kaArray;

typedef enum {
    kaUNKNOWN_CLASS = 0,
    kaCELL_CLASS = 1,
    kaSTRUCT_CLASS = 2,
    kaOBJECT_CLASS = 3,
    kaCHAR_CLASS = 4,
    kaSPARSE_CLASS = 5,
    kaDOUBLE_CLASS = 6,
    kaSINGLE_CLASS = 7,
    kaINT8_CLASS = 8,
    kaUINT8_CLASS = 9,
    kaINT16_CLASS = 10,
    kaUINT16_CLASS = 11,
    kaINT32_CLASS = 12,
    kaUINT32_CLASS = 13,
    kaINT64_CLASS = 14,
    kaUINT64_CLASS = 15,
    kaFUNCTION_CLASS = 16,
    kaOPAQUE_CLASS = 17
} kaClassIDEnum;
typedef int kaClassID;

typedef enum { kaREAL = 0, kaCOMPLEX = 1 } kaComplexityEnum;
typedef int kaComplexity;

/* One text character of a char array: a 16-bit code unit. */
typedef unsigned short kaChar;

/* Creation: every new array belongs to the caller; null when it cannot be
   made. Data is zero-filled, cells and fields empty. One dimension n gives
   n-by-1; trailing dimensions of length 1 beyond the second are dropped.
   kaCreateNumericArray and kaCreateNumericMatrix take the numeric classes and
   kaCHAR_CLASS; the classes without storage of their own (unknown, object,
   function, opaque) give data-less arrays of that class, so that arrays of
   every class id can be held; cell, struct, sparse and ids outside 0 to 17
   give null. */
KA_API kaArray *kaCreateDoubleMatrix(int m, int n, kaComplexity complexity);
KA_API kaArray *kaCreateNumericMatrix(int m, int n, kaClassID classID, kaComplexity complexity);
KA_API kaArray *kaCreateNumericArray(int ndim, const int *dims, kaClassID classID, kaComplexity complexity);
KA_API kaArray *kaCreateCharArray(int ndim, const int *dims);
KA_API kaArray *kaCreateString(const char *text);
KA_API kaArray *kaCreateCellArray(int ndim, const int *dims);
KA_API kaArray *kaCreateCellMatrix(int m, int n);
KA_API kaArray *kaCreateStructArray(int ndim, const int *dims, int nfields, const char **fieldNames);
KA_API kaArray *kaCreateStructMatrix(int m, int n, int nfields, const char **fieldNames);
KA_API kaArray *kaCreateSparse(int m, int n, int nzmax, kaComplexity complexity);
KA_API kaArray *kaDuplicateArray(const kaArray *array);

/* Reading: pointers returned belong to the array. */
KA_API kaClassID kaGetClassID(const kaArray *array);
KA_API int kaGetNumberOfElements(const kaArray *array);
KA_API const int *kaGetDimensions(const kaArray *array);
KA_API int kaGetDimCount(const kaArray *array);
KA_API int kaGetM(const kaArray *array);
KA_API int kaGetN(const kaArray *array);
KA_API int kaGetElementSize(const kaArray *array);
KA_API double *kaGetPr(const kaArray *array);
KA_API void *kaGetImagData(const kaArray *array);
KA_API kaArray *kaGetCell(const kaArray *array, int index);
KA_API int kaGetFieldCount(const kaArray *array);
KA_API kaArray *kaGetFieldByNumber(const kaArray *array, int index, int field);
KA_API const char *kaGetFieldNameByNumber(const kaArray *array, int field);
KA_API const char *kaGetName(const kaArray *array);
KA_API int kaGetNzmax(const kaArray *array);
KA_API int *kaGetIr(const kaArray *array);
KA_API int *kaGetJc(const kaArray *array);

KA_API bool kaIsEmpty(const kaArray *array);
KA_API bool kaIsLogical(const kaArray *array);
KA_API bool kaIsDouble(const kaArray *array);
KA_API bool kaHasImagPart(const kaArray *array);

/* Copies the text of a char array into buffer, zero-terminated and cut to
   size. 0 when the whole text fitted, 1 when it was cut or the array holds
   no text (the buffer then holds what fitted, or ""). */
KA_API int kaGetString(const kaArray *array, char *buffer, int size);

/* Changing: a stored value becomes the container's; the old value is not
   freed. */
KA_API void kaSetM(kaArray *array, int m);
KA_API void kaSetN(kaArray *array, int n);
KA_API void kaSetLogical(kaArray *array, bool logical);
KA_API void kaSetCell(kaArray *array, int index, kaArray *value);
KA_API void kaSetFieldByNumber(kaArray *array, int index, int field, kaArray *value);
KA_API void kaSetName(kaArray *array, const char *name);

/* Frees the array with its cells and fields; null is accepted. */
KA_API void kaDestroyArray(kaArray *array);

KA_API void *kaCalloc(size_t count, size_t size);
KA_API void kaFree(void *block);

/* Lifetime control. Every array made outside a container is recorded in the
   current allocation list until it is destroyed or stored into a container.
   kaEnterNewAllocListContext starts a new list and answers the previous
   one; kaFreeAllocListContext destroys the arrays of the current list that
   are not protected (reference count above 0) and not of scope 0;
   kaRestorePreviousAllocListContext makes the given list current again and
   moves the survivors of the abandoned list into it. Scope 0 takes an array
   out of every list, so that no list clean-up frees it. */
KA_API void kaSetArrayScope(kaArray *array, int scope);
KA_API int kaGetArrayScope(const kaArray *array);
KA_API void kaIncrementRefCount(kaArray *array);
KA_API void kaDecrementRefCount(kaArray *array);
KA_API int kaGetRefCount(const kaArray *array);
KA_API void *kaEnterNewAllocListContext(void);
KA_API void kaFreeAllocListContext(void);
KA_API void kaRestorePreviousAllocListContext(void *previous);

/* Raises a host error with the text: control goes to the innermost
   registered error trap and never comes back. */
KA_API KA_NORETURN void kaErrMsgTxt(const char *message);

/* ---- The host's error model, shared by every host library ----

   A trap is registered with a caller-owned context record, a jump buffer and
   a trap routine. A raised error records its message, then calls the trap
   routine of the innermost trap, which long-jumps to the buffer of the
   innermost trap (kaHostTrapBuffer(-1)); a trap routine that returns is
   followed by the long jump itself, with the value -1. The trap stays
   registered until its owner calls kaHostExitTrap. With no trap, a raised
   error prints the message on standard error and ends the process with
   status 1. The trap stack is per thread. */
typedef void (*kaTrapRoutine)(void);
typedef struct kaTrapContext {
    struct kaTrapContext *previous;
    jmp_buf *buffer;
    kaTrapRoutine routine;
    void *reserved;
} kaTrapContext;

KA_API void kaHostEnterTrap(kaTrapContext *context, jmp_buf *buffer, kaTrapRoutine routine);
KA_API void kaHostExitTrap(kaTrapContext *context, int failed);
KA_API jmp_buf *kaHostTrapBuffer(int which);
KA_API KA_NORETURN void kaHostRaiseError(const char *message);
/* The message of the last error raised on this thread ("" before any). */
KA_API const char *kaHostLastError(void);

/* The host's output channel: plxPrintf and ytPrintf write here. With a hook
   set, text goes to the hook instead of standard output. */
typedef void (*kaOutputHook)(const char *text, size_t length, void *user);
KA_API void kaHostSetOutputHook(kaOutputHook hook, void *user);
KA_API void kaHostWrite(const char *text, size_t length);
KA_API int kaHostVPrintf(const char *format, va_list args);

/* Live counts, for leak checks in tests: arrays (nested ones included) and
   kaCalloc blocks not yet freed, and destroy or free calls on something
   that was not a live array or block. */
KA_API int kaHostLiveArrays(void);
KA_API int kaHostLiveBlocks(void);
KA_API int kaHostBadReleases(void);

#ifdef __cplusplus
}
#endif

#endif
