// libplx: plug-in services (errors, output) and the host's plug-in loader.
#define LIBPLX_BUILD
#include "plx.h"

#include <windows.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

struct plxPlugin {
    HMODULE module;
    plxFunctionEntry entry;
};

void plxErrMsgTxt(const char *message) { kaHostRaiseError(message); }

int plxPrintf(const char *format, ...) {
    va_list args;
    va_start(args, format);
    const int n = kaHostVPrintf(format, args);
    va_end(args);
    return n;
}

namespace {

// The loader's trap: jump back into plxHostCallPlugin.
void LoaderTrap(void) { longjmp(*kaHostTrapBuffer(-1), -1); }

}  // namespace

plxPlugin *plxHostLoadPlugin(const char *path, char *why, int size) {
    if (why && size > 0) why[0] = '\0';
    if (!path) return nullptr;
    HMODULE module = LoadLibraryA(path);
    if (!module) {
        if (why && size > 0)
            snprintf(why, size, "Cannot load the plug-in %s (error %lu)", path, GetLastError());
        return nullptr;
    }
    FARPROC entry = GetProcAddress(module, "plxFunction");
    if (!entry) {
        if (why && size > 0) snprintf(why, size, "%s does not export plxFunction", path);
        FreeLibrary(module);
        return nullptr;
    }
    plxPlugin *plugin = static_cast<plxPlugin *>(calloc(1, sizeof(plxPlugin)));
    if (!plugin) {
        FreeLibrary(module);
        return nullptr;
    }
    plugin->module = module;
    plugin->entry = reinterpret_cast<plxFunctionEntry>(reinterpret_cast<void *>(entry));
    return plugin;
}

int plxHostCallPlugin(plxPlugin *plugin, int nresults, kaArray *results[], int nargs, const kaArray *args[]) {
    if (!plugin || !results) return 1;
    // The plug-in may write the first slot even when no result was asked for.
    volatile int slots = nresults > 1 ? nresults : 1;
    for (int i = 0; i < slots; ++i) results[i] = nullptr;

    kaTrapContext context;
    jmp_buf buffer;
    kaHostEnterTrap(&context, &buffer, LoaderTrap);
    if (setjmp(buffer) == 0) {
        plugin->entry(nresults, results, nargs, args);
        kaHostExitTrap(&context, 0);
        return 0;
    }
    kaHostExitTrap(&context, 1);
    for (int i = 0; i < slots; ++i) {
        kaDestroyArray(results[i]);
        results[i] = nullptr;
    }
    return 1;
}

void plxHostUnloadPlugin(plxPlugin *plugin) {
    if (!plugin) return;
    FreeLibrary(plugin->module);
    free(plugin);
}
