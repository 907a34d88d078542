// Routines shared inside the conversion library.
#pragma once

#include "varcon.h"

#include <stddef.h>

// Raises a negative conversion status as a host error with its message;
// returns at once for 0 and positive statuses. Called only at the export
// boundary, after every temporary has been released.
void RaiseConversionError(int status);

// The message a status is raised with.
const char *ConversionErrorMessage(int status);
