/* varcon: conversion between OLE Automation VARIANTs and host arrays, for
   COM components built on the host runtime. All exports are cdecl with C
   linkage and undecorated names. */
#ifndef CORVEX_VARCON_H
#define CORVEX_VARCON_H

#include <windows.h>
#include <oaidl.h>
#include <stdint.h>

#include "ka.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifdef VARCON_BUILD
#define VARCON_API
#else
#define VARCON_API __declspec(dllimport)
#endif

/* Conversion options. Clients own the record: fill it with
   zrtInitConversionFlags and zrtGetConversionFlags, or set the fields
   themselves. The layout is fixed: 32 bytes, offsets 0 to 28 as below. */
typedef struct ConversionFlags {
    int32_t inputRegroup;       /* 0: regrouping of arrays made from VARIANTs */
    int32_t inputRegroupDepth;  /* 4 */
    int32_t outputRegroup;      /* 8: regrouping of arrays before they become VARIANTs */
    int32_t outputRegroupDepth; /* 12 */
    uint8_t fitRange;           /* 16: resize a Range to the array written into it */
    uint8_t reverseDims;        /* 17: reverse the dimensions of SAFEARRAYs made */
    int32_t reverseDepth;       /* 20: cell level at which reverseDims applies */
    int32_t targetClass;        /* 24: host class VARIANT data becomes; 0 natural, kaCHAR_CLASS text */
    int32_t dateForm;           /* 28: 1 makes dates text */
} ConversionFlags;

enum { REGROUP_NONE = 0, REGROUP_JOIN = 1, REGROUP_SPLIT = 2 };

enum {
    CONV_E_INVALID_INPUT = -1,
    CONV_E_NO_MEMORY = -2,
    CONV_E_INVALID_VARIANT = -3,
    CONV_E_VARIANT_ACCESS = -4,
    CONV_E_UNSUPPORTED_VARIANT = -5,
    CONV_E_UNSUPPORTED_ARRAY = -6,
    CONV_E_COPY_FROM_OBJECT = -7,
    CONV_E_COPY_TO_OBJECT = -8
};

/* The client's options object: an Automation object read by method
   position (get_ArrayOptions at 7, get_DataOptions at 9). */
typedef struct IConversionOptions IConversionOptions;

/* Conversions. Both raise a host error with the status's message when they
   fail, after releasing every temporary, and return 0 otherwise. What they
   make belongs to the caller: arrays (kaDestroyArray), VARIANT contents
   (VariantClear). */
VARCON_API int zrtkaArray2Variant(const kaArray *array, VARIANT *target, const ConversionFlags *flags);
VARCON_API int zrtVariant2kaArray(const VARIANT *source, kaArray **result, const ConversionFlags *flags);

VARCON_API HRESULT zrtGetConversionFlags(IConversionOptions *options, ConversionFlags *flags);
VARCON_API ConversionFlags *zrtInitConversionFlags(ConversionFlags *flags);
VARCON_API bool zrtisVisualBasicDefault(const VARIANT *argument);

VARCON_API int zrtRequestGlobalLock(void);
VARCON_API int zrtReleaseGlobalLock(void);

VARCON_API uint32_t zrtRegisterServer(uint32_t a1, uint32_t a2, uint32_t a3, uint32_t a4, uint32_t a5,
                                      uint32_t a6, uint32_t a7, uint32_t a8, uint32_t a9);
VARCON_API uint32_t zrtUnregisterServer(uint32_t a1, uint32_t a2, uint32_t a3);
VARCON_API uint32_t zrtRegisterCorVexXLComponent(uint32_t a1, uint32_t a2, uint32_t a3, uint32_t a4,
                                                 uint32_t a5, uint32_t a6, uint32_t a7, uint32_t a8);
VARCON_API uint32_t zrtUnRegisterCorVexXLComponent(uint32_t a1, uint32_t a2, uint32_t a3);

VARCON_API extern const char *const libvkvarcon_version;
VARCON_API extern const char *const libvkvarcon_build_date;

#ifdef __cplusplus
}
#endif

#endif
