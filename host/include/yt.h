/* The host utility library libyt. */
#ifndef CORVEX_HOST_YT_H
#define CORVEX_HOST_YT_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#ifdef LIBYT_BUILD
#define YT_API __declspec(dllexport)
#else
#define YT_API __declspec(dllimport)
#endif

/* Loads a library by file name: its handle, or null with the Windows error
   code in *error (error may be null). */
YT_API void *ytLoadLibrary(const char *fileName, unsigned long *error);
/* The entry point of that name in the library, or null. */
YT_API void *ytFindSymbolInLibrary(void *library, const char *name);
/* Restores the floating-point unit's default settings: x87 and SSE control
   words, all exceptions masked, round to nearest. */
YT_API void ytResetFPU(void);
/* Formatted text on the application's output (the host output channel). */
YT_API int ytPrintf(const char *format, ...);
YT_API void *ytCalloc(size_t count, size_t size);
YT_API void ytFree(void *block);

/* COM registration services. What they register is the utility library's
   own business; this host records each call and answers the value set with
   ytHostSetRegistrationResult (0 until set). */
YT_API uint32_t ytRegisterServer(uint32_t a1, uint32_t a2, uint32_t a3, uint32_t a4, uint32_t a5,
                                 uint32_t a6, uint32_t a7, uint32_t a8, uint32_t a9);
YT_API uint32_t ytUnregisterServer(uint32_t a1, uint32_t a2, uint32_t a3);
YT_API uint32_t ytRegisterCorVexXLComponent(uint32_t a1, uint32_t a2, uint32_t a3, uint32_t a4,
                                            uint32_t a5, uint32_t a6, uint32_t a7, uint32_t a8);
YT_API uint32_t ytUnRegisterCorVexXLComponent(uint32_t a1, uint32_t a2, uint32_t a3);

/* Test support: the answer of the registration services, the last call
   they received (its function name and arguments; answers the argument
   count, 0 before any call), and the count of live ytCalloc blocks. */
YT_API void ytHostSetRegistrationResult(uint32_t result);
YT_API int ytHostLastRegistration(char *name, int nameSize, uint32_t args[9]);
YT_API int ytHostLiveBlocks(void);

#ifdef __cplusplus
}
#endif

#endif
