/* The host compiled-code runtime libtorun: the error trap operations and
   raised errors. */
#ifndef CORVEX_HOST_TORUN_H
#define CORVEX_HOST_TORUN_H

#include "ka.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifdef LIBTORUN_BUILD
#define TORUN_API __declspec(dllexport)
#else
#define TORUN_API __declspec(dllimport)
#endif

/* The record a caller keeps while its trap is registered. */
typedef kaTrapContext zrtTryCatchContext;
typedef kaTrapRoutine zrtTrapRoutine;

/* While registered, a raised error calls the trap routine, which is to
   long-jump to the innermost trap's buffer (zrtGetSetjmpData(-1)). */
TORUN_API void zrtEnterTryCatchContext(zrtTryCatchContext *context, jmp_buf *buffer, zrtTrapRoutine trap);
TORUN_API void zrtExitTryCatchContext(zrtTryCatchContext *context, int failed);
TORUN_API void zrtCleanupProtectedItems(void);
TORUN_API jmp_buf *zrtGetSetjmpData(int which);

/* Raises a host error with the text of the message array. */
TORUN_API KA_NORETURN void vfnError(const kaArray *message);
/* A new text array holding the last error message. */
TORUN_API kaArray *vfnLasterr(const kaArray *unused);

#ifdef __cplusplus
}
#endif

#endif
