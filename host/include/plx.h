/* The host plug-in library libplx: what a plug-in calls, and the host's
   loader that calls plug-ins. */
#ifndef CORVEX_HOST_PLX_H
#define CORVEX_HOST_PLX_H

#include "ka.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifdef LIBPLX_BUILD
#define PLX_API __declspec(dllexport)
#else
#define PLX_API __declspec(dllimport)
#endif

/* Raises a host error with the text; never returns to the plug-in. */
PLX_API KA_NORETURN void plxErrMsgTxt(const char *message);

/* Formatted text on the host's output (see kaHostSetOutputHook). Answers
   the number of characters written. */
PLX_API int plxPrintf(const char *format, ...);

/* The entry point every plug-in exports under the name plxFunction. */
typedef void (*plxFunctionEntry)(int nresults, kaArray *results[], int nargs, const kaArray *args[]);

/* The host's plug-in loader. plxHostLoadPlugin loads the DLL at path and
   finds plxFunction in it; null when it cannot, with the reason in why
   (size bytes, may be null). plxHostCallPlugin clears the nresults result slots (at least
   one), calls the plug-in inside an error trap and answers 0, or 1 when the
   plug-in raised a host error: the message is then in kaHostLastError and
   every result it had stored is destroyed and its slot cleared. */
typedef struct plxPlugin plxPlugin;
PLX_API plxPlugin *plxHostLoadPlugin(const char *path, char *why, int size);
PLX_API int plxHostCallPlugin(plxPlugin *plugin, int nresults, kaArray *results[], int nargs, const kaArray *args[]);
PLX_API void plxHostUnloadPlugin(plxPlugin *plugin);

#ifdef __cplusplus
}
#endif

#endif
