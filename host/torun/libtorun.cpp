// libtorun: the host compiled-code runtime (error traps and raised errors).
#define LIBTORUN_BUILD
#include "torun.h"

void zrtEnterTryCatchContext(zrtTryCatchContext *context, jmp_buf *buffer, zrtTrapRoutine trap) {
    kaHostEnterTrap(context, buffer, trap);
}

void zrtExitTryCatchContext(zrtTryCatchContext *context, int failed) { kaHostExitTrap(context, failed); }

// Nothing is protected beyond what the allocation lists already track.
void zrtCleanupProtectedItems(void) {}

jmp_buf *zrtGetSetjmpData(int which) { return kaHostTrapBuffer(which); }

void vfnError(const kaArray *message) {
    if (kaGetClassID(message) != kaCHAR_CLASS) kaHostRaiseError("Error");
    // Raised messages are kept up to 4095 characters, so this buffer loses nothing.
    char text[4096];
    kaGetString(message, text, sizeof text);
    kaHostRaiseError(text);
}

kaArray *vfnLasterr(const kaArray *unused) { return kaCreateString(kaHostLastError()); }
