// Routines shared inside the conversion library. They report failure by a
// status (0 or a negative CONV_E_ value) or an HRESULT and never raise: only
// the two conversion exports raise, after every temporary is released.
#pragma once

#include "varcon.h"

#include <oleauto.h>
#include <stddef.h>

// ---- statuses ----

// Raises a negative conversion status as a host error with its message;
// returns at once for 0 and positive statuses.
void RaiseConversionError(int status);

// The message a status is raised with.
const char *ConversionErrorMessage(int status);

// ---- host array to VARIANT ----

int ArrayToVariant(const kaArray *array, VARIANT *target, const ConversionFlags *flags);
HRESULT RangeWriteArray(const kaArray *array, IDispatch **slot, const ConversionFlags *flags);
VARTYPE ClassToVarType(kaClassID classID, bool *plainNumeric, int *elementSize);
HRESULT ElementToVariantBool(kaClassID classID, const void *element, VARIANT_BOOL *target);
int ReverseVariantDims(VARIANT *value);
int IndexToSubscripts(LONG index, int dimCount, const LONG *lengths, const LONG *lowerBounds, LONG *subscripts);
int SubscriptsToIndex(LONG *index, int dimCount, const LONG *lengths, const LONG *lowerBounds,
                      const LONG *subscripts);
void *VariantDataPointer(const VARIANT *value);

// ---- regrouping of host arrays ----

// Both destroy what *result holds on entry and set it to null. Above 0: a
// regrouped copy is in *result (or null when a needed copy could not be
// made); 0 or less: the input is to be used unchanged.
int JoinCells(const kaArray *array, kaArray **result, int depth);
int SplitToCells(const kaArray *array, kaArray **result, int depth);
// The pass a regrouping option names: JoinCells for REGROUP_JOIN,
// SplitToCells for REGROUP_SPLIT, null for every other value.
typedef int (*RegroupPass)(const kaArray *array, kaArray **result, int depth);
RegroupPass RegroupPassOf(int32_t option);

// ---- VARIANT to host array ----

int VariantToArray(const VARIANT *source, kaArray **result, const ConversionFlags *flags);
int SafeArrayToArray(SAFEARRAY *array, VARTYPE type, kaArray **result, const ConversionFlags *flags);
kaClassID NaturalClassOf(VARTYPE type, bool *direct, int *elementSize);
HRESULT VariantToCharArray(VARTYPE type, const void *value, kaArray **result);
int SafeArrayElementCount(const SAFEARRAY *array);

// ---- element coercion ----

int CoerceElement(VARTYPE type, kaClassID naturalClass, bool direct, int elementSize, const void *source,
                  kaClassID targetClass, void *destination);
HRESULT CoerceToDouble(VARTYPE type, const void *source, double *destination);
HRESULT CoerceToSingle(VARTYPE type, const void *source, float *destination);
HRESULT CoerceToInt8(VARTYPE type, const void *source, signed char *destination);
HRESULT CoerceToUint8(VARTYPE type, const void *source, unsigned char *destination);
HRESULT CoerceToInt16(VARTYPE type, const void *source, short *destination);
HRESULT CoerceToUint16(VARTYPE type, const void *source, unsigned short *destination);
HRESULT CoerceToInt32(VARTYPE type, const void *source, LONG *destination);
HRESULT CoerceToUint32(VARTYPE type, const void *source, ULONG *destination);
void SaturateElement(kaClassID targetClass, void *destination, bool positive);
int ValueSign(VARTYPE type, const void *source);

// ---- Automation objects and spreadsheet Ranges ----

extern const GUID IID_Range;  // {00020846-0000-0000-C000-000000000046}

// Whether the object's type information names IID_Range. The type
// information and its attribute are released before it returns.
HRESULT IsRangeObject(IDispatch *object, bool *isRange);
bool GuidEquals(const GUID *a, const GUID *b);
// Reads the object's Value into *result. A Value that is another object is
// read in turn, up to kRangeValueChainLimit objects in all (the one asked
// included); a longer chain, such as an object whose Value is itself, fails
// with HRESULT_FROM_WIN32(ERROR_STACK_OVERFLOW).
const int kRangeValueChainLimit = 32;
HRESULT RangeReadValue(IDispatch *object, VARIANT *result);
HRESULT RangeWriteValue(VARIANT *value, IDispatch **slot, bool fit);
HRESULT RangeResize(IDispatch **slot, int rows, int columns);
HRESULT RangeGetSize(IDispatch *range, int *rows, int *columns);
// Looks up "Value" on the object and puts the value into it.
HRESULT RangePutValue(IDispatch *object, VARIANT *value);
// The rows and columns an array value fills in a Range; false (and nothing
// written) unless the value holds a SAFEARRAY directly, not by reference.
bool RangeShapeOf(const VARIANT *value, int *rows, int *columns);
