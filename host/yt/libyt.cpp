// libyt: the host utility library.
#define LIBYT_BUILD
#include "yt.h"

#include "ka.h"

#include <windows.h>
#include <float.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <xmmintrin.h>

namespace {

volatile LONG g_liveBlocks = 0;

uint32_t g_registrationResult = 0;
char g_lastName[64] = "";
uint32_t g_lastArgs[9];
int g_lastCount = 0;

uint32_t Record(const char *name, int count, const uint32_t *args) {
    snprintf(g_lastName, sizeof g_lastName, "%s", name);
    memset(g_lastArgs, 0, sizeof g_lastArgs);
    memcpy(g_lastArgs, args, sizeof(uint32_t) * count);
    g_lastCount = count;
    return g_registrationResult;
}

}  // namespace

void *ytLoadLibrary(const char *fileName, unsigned long *error) {
    HMODULE module = fileName ? LoadLibraryA(fileName) : nullptr;
    if (error) *error = module ? 0 : (fileName ? GetLastError() : ERROR_INVALID_PARAMETER);
    return module;
}

void *ytFindSymbolInLibrary(void *library, const char *name) {
    if (!library || !name) return nullptr;
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void ytResetFPU(void) {
    _fpreset();
    _mm_setcsr(0x1F80);  // SSE: all exceptions masked, round to nearest, no flush to zero
}

int ytPrintf(const char *format, ...) {
    va_list args;
    va_start(args, format);
    const int n = kaHostVPrintf(format, args);
    va_end(args);
    return n;
}

void *ytCalloc(size_t count, size_t size) {
    void *p = calloc(count ? count : 1, size ? size : 1);
    if (p) InterlockedIncrement(&g_liveBlocks);
    return p;
}

void ytFree(void *block) {
    if (!block) return;
    free(block);
    InterlockedDecrement(&g_liveBlocks);
}

uint32_t ytRegisterServer(uint32_t a1, uint32_t a2, uint32_t a3, uint32_t a4, uint32_t a5, uint32_t a6,
                          uint32_t a7, uint32_t a8, uint32_t a9) {
    const uint32_t args[] = {a1, a2, a3, a4, a5, a6, a7, a8, a9};
    return Record("ytRegisterServer", 9, args);
}

uint32_t ytUnregisterServer(uint32_t a1, uint32_t a2, uint32_t a3) {
    const uint32_t args[] = {a1, a2, a3};
    return Record("ytUnregisterServer", 3, args);
}

uint32_t ytRegisterCorVexXLComponent(uint32_t a1, uint32_t a2, uint32_t a3, uint32_t a4, uint32_t a5,
                                     uint32_t a6, uint32_t a7, uint32_t a8) {
    const uint32_t args[] = {a1, a2, a3, a4, a5, a6, a7, a8};
    return Record("ytRegisterCorVexXLComponent", 8, args);
}

uint32_t ytUnRegisterCorVexXLComponent(uint32_t a1, uint32_t a2, uint32_t a3) {
    const uint32_t args[] = {a1, a2, a3};
    return Record("ytUnRegisterCorVexXLComponent", 3, args);
}

void ytHostSetRegistrationResult(uint32_t result) { g_registrationResult = result; }

int ytHostLastRegistration(char *name, int nameSize, uint32_t args[9]) {
    if (name && nameSize > 0) snprintf(name, nameSize, "%s", g_lastName);
    if (args) memcpy(args, g_lastArgs, sizeof g_lastArgs);
    return g_lastCount;
}

int ytHostLiveBlocks(void) { return g_liveBlocks; }
