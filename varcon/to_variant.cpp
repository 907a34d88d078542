// Host arrays to VARIANTs: the export zrtkaArray2Variant, its core
// ArrayToVariant, the Range writer, and the small routines they rest on
// (class to VARTYPE, booleans, dimension reversal, subscripts, where a
// VARIANT's value lives).
#include "varcon_internal.h"

#include <windows.h>
#include <oleauto.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

namespace {

// ---- class to VARTYPE ----

struct ClassConversion {
    VARTYPE type;
    bool plainNumeric;
    int elementSize;
};

// By host class id; VT_EMPTY marks a class without a conversion.
const ClassConversion kClassConversions[kaOPAQUE_CLASS + 1] = {
    {VT_EMPTY, false, 0},    // unknown
    {VT_VARIANT, false, 0},  // cell
    {VT_EMPTY, false, 0},    // struct
    {VT_EMPTY, false, 0},    // object
    {VT_BSTR, false, 0},     // char
    {VT_EMPTY, false, 0},    // sparse
    {VT_R8, true, 8},        // double
    {VT_R4, true, 4},        // single
    {VT_I1, true, 1},        // int8
    {VT_UI1, true, 1},       // uint8
    {VT_I2, true, 2},        // int16
    {VT_UI2, true, 2},       // uint16
    {VT_I4, true, 4},        // int32
    {VT_UI4, true, 4},       // uint32
    {VT_EMPTY, false, 0},    // int64
    {VT_EMPTY, false, 0},    // uint64
    {VT_EMPTY, false, 0},    // function
    {VT_EMPTY, false, 0},    // opaque
};

// ---- booleans ----

typedef HRESULT (*BoolConverter)(const void *element, VARIANT_BOOL *target);

const BoolConverter kBoolConverters[kaOPAQUE_CLASS + 1] = {
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    [](const void *e, VARIANT_BOOL *b) { return VarBoolFromR8(*static_cast<const double *>(e), b); },
    [](const void *e, VARIANT_BOOL *b) { return VarBoolFromR4(*static_cast<const float *>(e), b); },
    [](const void *e, VARIANT_BOOL *b) { return VarBoolFromI1(*static_cast<const CHAR *>(e), b); },
    [](const void *e, VARIANT_BOOL *b) { return VarBoolFromUI1(*static_cast<const BYTE *>(e), b); },
    [](const void *e, VARIANT_BOOL *b) { return VarBoolFromI2(*static_cast<const SHORT *>(e), b); },
    [](const void *e, VARIANT_BOOL *b) { return VarBoolFromUI2(*static_cast<const USHORT *>(e), b); },
    [](const void *e, VARIANT_BOOL *b) { return VarBoolFromI4(*static_cast<const LONG *>(e), b); },
    [](const void *e, VARIANT_BOOL *b) { return VarBoolFromUI4(*static_cast<const ULONG *>(e), b); },
    nullptr, nullptr, nullptr, nullptr,
};

// ---- building SAFEARRAYs ----

// The element conversions of the four kinds of array.
struct FillContext {
    const kaArray *array;
    kaClassID classID;
    int count;
    int elementSize;
    const ConversionFlags *elementFlags;  // cells only
};

typedef void (*FillRoutine)(const FillContext &context, void *data);

void FillBooleans(const FillContext &c, void *data) {
    const char *source = reinterpret_cast<const char *>(kaGetPr(c.array));
    VARIANT_BOOL *target = static_cast<VARIANT_BOOL *>(data);
    for (int i = 0; i < c.count; ++i) {
        if (FAILED(ElementToVariantBool(c.classID, source + static_cast<size_t>(i) * c.elementSize, &target[i])))
            target[i] = VARIANT_FALSE;
    }
}

void FillNumbers(const FillContext &c, void *data) {
    memcpy(data, kaGetPr(c.array), static_cast<size_t>(c.count) * c.elementSize);
}

// Each cell converts straight into its slot of the locked array; the slots
// start as VT_EMPTY, an empty cell leaves its slot so, and a failed element
// conversion leaves whatever it stored (VT_EMPTY when it stored nothing).
void FillCells(const FillContext &c, void *data) {
    VARIANT *target = static_cast<VARIANT *>(data);
    for (int i = 0; i < c.count; ++i) {
        const kaArray *cell = kaGetCell(c.array, i);
        if (cell) ArrayToVariant(cell, &target[i], c.elementFlags);
    }
}

void FillCharacters(const FillContext &c, void *data) {
    const kaChar *source = reinterpret_cast<const kaChar *>(kaGetPr(c.array));
    BSTR *target = static_cast<BSTR *>(data);
    for (int i = 0; i < c.count; ++i) target[i] = SysAllocStringLen(reinterpret_cast<const OLECHAR *>(source + i), 1);
}

// Makes a SAFEARRAY of the element type with the host array's dimensions
// (lower bounds 1), fills it while it is locked and stores it in the target.
// On failure the target stays VT_EMPTY and nothing is left allocated.
int BuildSafeArray(VARTYPE elementType, const FillContext &context, FillRoutine fill, VARIANT *target) {
    const int dimCount = kaGetDimCount(context.array);
    const int *dims = kaGetDimensions(context.array);
    SAFEARRAYBOUND *bounds = static_cast<SAFEARRAYBOUND *>(malloc(sizeof(SAFEARRAYBOUND) * (dimCount > 0 ? dimCount : 1)));
    if (!bounds) return CONV_E_NO_MEMORY;
    for (int k = 0; k < dimCount; ++k) {
        bounds[k].cElements = static_cast<ULONG>(dims[k]);
        bounds[k].lLbound = 1;
    }
    SAFEARRAY *array = SafeArrayCreate(elementType, static_cast<UINT>(dimCount), bounds);
    free(bounds);
    if (!array) return CONV_E_NO_MEMORY;
    // An array without elements has nothing to fill; it is not locked, so
    // that a platform giving no data pointer for it cannot fail an empty
    // cell array.
    if (context.count == 0) {
        V_VT(target) = static_cast<VARTYPE>(elementType | VT_ARRAY);
        V_ARRAY(target) = array;
        return 0;
    }
    void *data = nullptr;
    if (FAILED(SafeArrayAccessData(array, &data))) {
        SafeArrayDestroy(array);
        return CONV_E_VARIANT_ACCESS;
    }
    if (!data) {
        SafeArrayUnaccessData(array);
        SafeArrayDestroy(array);
        return CONV_E_INVALID_VARIANT;
    }
    fill(context, data);
    SafeArrayUnaccessData(array);
    V_VT(target) = static_cast<VARTYPE>(elementType | VT_ARRAY);
    V_ARRAY(target) = array;
    return 0;
}

// ---- regrouping before conversion ----

// Applies the output regrouping pass. Answers true when the conversion is
// finished (status in *status): the pass made a copy, which was converted
// in place of the array, or a copy was due but could not be made.
bool ConvertRegrouped(const kaArray *array, VARIANT *target, const ConversionFlags *flags, int *status) {
    const RegroupPass pass = RegroupPassOf(flags->outputRegroup);
    if (!pass) return false;
    kaArray *copy = nullptr;
    const int answer = pass(array, &copy, flags->outputRegroupDepth);
    if (answer <= 0) {
        kaDestroyArray(copy);  // a walk may build a copy and still answer 0 or less
        return false;
    }
    // A pass that regrouped parts but could not copy the array around them
    // ran out of memory: reported so, not as a success that wrote nothing.
    *status = CONV_E_NO_MEMORY;
    if (copy) {
        ConversionFlags nested;
        zrtInitConversionFlags(&nested);
        nested.fitRange = flags->fitRange;
        nested.reverseDims = flags->reverseDims;
        nested.reverseDepth = flags->reverseDepth;
        *status = ArrayToVariant(copy, target, &nested);
        kaDestroyArray(copy);
    }
    return true;
}

// ---- reversal ----

// How one element of a SAFEARRAY is copied to its new place.
enum class ElementCopy { Bytes, String, Interface, Variant, None };

ElementCopy CopyKindOf(VARTYPE elementType) {
    switch (elementType) {
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_BOOL: case VT_I4: case VT_UI4:
    case VT_R4: case VT_ERROR: case VT_R8: case VT_CY: case VT_DATE:
    // Plain data of other widths is copied as it stands too, so that a
    // reversal never zeroes elements.
    case VT_DECIMAL: case VT_I8: case VT_UI8: case VT_INT: case VT_UINT:
        return ElementCopy::Bytes;
    case VT_BSTR:
        return ElementCopy::String;
    case VT_DISPATCH: case VT_UNKNOWN:
        return ElementCopy::Interface;
    case VT_VARIANT:
        return ElementCopy::Variant;
    default:
        return ElementCopy::None;
    }
}

void CopyElement(ElementCopy kind, size_t size, const void *from, void *to) {
    switch (kind) {
    case ElementCopy::Bytes:
        memcpy(to, from, size);
        break;
    case ElementCopy::String: {
        // The whole string, embedded zero characters included.
        BSTR text = *static_cast<const BSTR *>(from);
        *static_cast<BSTR *>(to) = text ? SysAllocStringLen(text, SysStringLen(text)) : nullptr;
        break;
    }
    case ElementCopy::Interface: {
        IUnknown *object = *static_cast<IUnknown *const *>(from);
        if (object) object->AddRef();
        *static_cast<IUnknown **>(to) = object;
        break;
    }
    case ElementCopy::Variant:
        VariantCopy(static_cast<VARIANT *>(to), const_cast<VARIANT *>(static_cast<const VARIANT *>(from)));
        break;
    case ElementCopy::None:
        break;
    }
}

// Work lists of a reversal: old and new lengths, bounds and subscripts.
struct ReversalLists {
    LONG *block;
    LONG *oldLengths, *oldBounds, *newLengths, *newBounds, *oldSubscripts, *newSubscripts;
};

bool AllocReversalLists(int oldCount, int newCount, ReversalLists *lists) {
    const int width = oldCount > newCount ? oldCount : newCount;
    lists->block = static_cast<LONG *>(calloc(static_cast<size_t>(width) * 6, sizeof(LONG)));
    if (!lists->block) return false;
    LONG **parts[] = {&lists->oldLengths, &lists->oldBounds, &lists->newLengths,
                      &lists->newBounds, &lists->oldSubscripts, &lists->newSubscripts};
    for (int p = 0; p < 6; ++p) *parts[p] = lists->block + p * width;
    return true;
}

// ---- the object target ----

// The object slot of a target: the address of its IDispatch pointer, for a
// VT_DISPATCH by value or by reference; null for every other target.
IDispatch **ObjectSlotOf(VARIANT *target, bool *isObject) {
    *isObject = true;
    if (V_VT(target) == VT_DISPATCH) return &V_DISPATCH(target);
    if (V_VT(target) == (VT_DISPATCH | VT_BYREF)) return V_DISPATCHREF(target);
    *isObject = false;
    return nullptr;
}

}  // namespace

// ---- exported ----

extern "C" int zrtkaArray2Variant(const kaArray *array, VARIANT *target, const ConversionFlags *flags) {
    const int status = ArrayToVariant(array, target, flags);
    if (status < 0) RaiseConversionError(status);
    return status;
}

// ---- core ----

int ArrayToVariant(const kaArray *array, VARIANT *target, const ConversionFlags *flags) {
    if (!target || !flags) return CONV_E_INVALID_INPUT;
    if (!array) return 0;

    int status = 0;
    if (ConvertRegrouped(array, target, flags, &status)) return status;

    bool isObject = false;
    IDispatch **slot = ObjectSlotOf(target, &isObject);
    if (isObject) {
        if (!slot || (V_VT(target) == VT_DISPATCH && !*slot)) return CONV_E_INVALID_VARIANT;
        return FAILED(RangeWriteArray(array, slot, flags)) ? CONV_E_COPY_FROM_OBJECT : 0;
    }

    // A by-reference target drops its reference here and takes the result
    // by value. A value VariantClear cannot clear (an unknown type) holds
    // nothing it could free, so the target simply starts afresh.
    if (V_VT(target) != VT_EMPTY && FAILED(VariantClear(target))) VariantInit(target);

    const kaClassID classID = kaGetClassID(array);
    bool plainNumeric = false;
    int elementSize = 0;
    const VARTYPE elementType = ClassToVarType(classID, &plainNumeric, &elementSize);
    if (elementType == VT_EMPTY) return CONV_E_UNSUPPORTED_ARRAY;

    const int count = kaGetNumberOfElements(array);
    const void *data = kaGetPr(array);
    FillContext context = {array, classID, count, elementSize, nullptr};
    bool handedDown = false;

    if (kaIsLogical(array)) {
        if (!data) return 0;
        if (count == 1) {
            V_VT(target) = VT_BOOL;
            if (FAILED(ElementToVariantBool(classID, data, &V_BOOL(target)))) V_BOOL(target) = VARIANT_FALSE;
            return 0;
        }
        status = BuildSafeArray(VT_BOOL, context, FillBooleans, target);
    } else if (plainNumeric) {
        if (!data) return 0;
        if (count == 1) {
            V_VT(target) = elementType;
            memcpy(VariantDataPointer(target), data, static_cast<size_t>(elementSize));
            return 0;
        }
        status = BuildSafeArray(elementType, context, FillNumbers, target);
    } else if (classID == kaCELL_CLASS) {
        ConversionFlags elementFlags;
        zrtInitConversionFlags(&elementFlags);
        elementFlags.fitRange = flags->fitRange;
        handedDown = flags->reverseDims && flags->reverseDepth > 0;
        if (handedDown) {
            elementFlags.reverseDims = flags->reverseDims;
            elementFlags.reverseDepth = flags->reverseDepth - 1;
        }
        context.elementFlags = &elementFlags;
        status = BuildSafeArray(VT_VARIANT, context, FillCells, target);
    } else {  // char
        if (!data) return 0;
        const int *dims = kaGetDimensions(array);
        if (kaGetDimCount(array) == 2 && dims[0] == 1) {
            V_VT(target) = VT_BSTR;
            V_BSTR(target) = SysAllocStringLen(static_cast<const OLECHAR *>(data), static_cast<UINT>(dims[1]));
        } else {
            status = BuildSafeArray(VT_BSTR, context, FillCharacters, target);
        }
    }
    if (status != 0) return status;

    if (flags->reverseDims && !handedDown) ReverseVariantDims(target);
    return 0;
}

HRESULT RangeWriteArray(const kaArray *array, IDispatch **slot, const ConversionFlags *flags) {
    if (!array) return S_OK;
    if (!slot) return E_INVALIDARG;
    if (!*slot) return S_OK;
    bool isRange = false;
    HRESULT hr = IsRangeObject(*slot, &isRange);
    if (FAILED(hr)) return hr;

    VARIANT work;
    VariantInit(&work);
    // An array that cannot be converted is not written: putting the empty
    // value it leaves would clear the cells of a Range, and the caller would
    // lose data it never meant to overwrite.
    if (ArrayToVariant(array, &work, flags) < 0) {
        VariantClear(&work);
        return DISP_E_TYPEMISMATCH;
    }
    int rows = 0, columns = 0;
    if (isRange && flags->fitRange && RangeShapeOf(&work, &rows, &columns)) RangeResize(slot, rows, columns);
    hr = RangePutValue(*slot, &work);
    VariantClear(&work);
    return hr;
}

VARTYPE ClassToVarType(kaClassID classID, bool *plainNumeric, int *elementSize) {
    if (!plainNumeric || !elementSize) return VT_EMPTY;
    if (classID < 0 || classID > kaOPAQUE_CLASS) {
        *plainNumeric = false;
        *elementSize = 0;
        return VT_EMPTY;
    }
    const ClassConversion &c = kClassConversions[classID];
    *plainNumeric = c.plainNumeric;
    *elementSize = c.elementSize;
    return c.type;
}

HRESULT ElementToVariantBool(kaClassID classID, const void *element, VARIANT_BOOL *target) {
    if (!element || !target) return E_INVALIDARG;
    if (classID < 0 || classID > kaOPAQUE_CLASS || !kBoolConverters[classID]) return E_INVALIDARG;
    return kBoolConverters[classID](element, target);
}

int ReverseVariantDims(VARIANT *value) {
    if (!value || !(V_VT(value) & VT_ARRAY) || (V_VT(value) & VT_BYREF)) return 0;
    SAFEARRAY *old = V_ARRAY(value);
    if (!old || old->cDims == 0) return 0;

    // Declaration order: dimension k is stored at rgsabound[cDims - 1 - k].
    const int oldCount = old->cDims;
    int64_t elements = 1;
    for (int k = 0; k < oldCount; ++k) elements *= old->rgsabound[k].cElements;
    if (elements < 2) return static_cast<int>(elements);
    if (elements > INT32_MAX) return -1;

    const int newCount = oldCount == 1 ? 2 : oldCount;
    ReversalLists lists;
    if (!AllocReversalLists(oldCount, newCount, &lists)) return -1;
    for (int k = 0; k < oldCount; ++k) {
        lists.oldLengths[k] = static_cast<LONG>(old->rgsabound[oldCount - 1 - k].cElements);
        lists.oldBounds[k] = old->rgsabound[oldCount - 1 - k].lLbound;
    }
    if (oldCount == 1) {  // a vector becomes a one-row matrix
        lists.newLengths[0] = 1;
        lists.newBounds[0] = 1;
        lists.newLengths[1] = lists.oldLengths[0];
        lists.newBounds[1] = lists.oldBounds[0];
    } else {
        for (int k = 0; k < newCount; ++k) {
            lists.newLengths[k] = lists.oldLengths[oldCount - 1 - k];
            lists.newBounds[k] = lists.oldBounds[oldCount - 1 - k];
        }
    }
    SAFEARRAYBOUND *bounds = static_cast<SAFEARRAYBOUND *>(malloc(sizeof(SAFEARRAYBOUND) * newCount));
    SAFEARRAY *reversed = nullptr;
    const VARTYPE elementType = static_cast<VARTYPE>(V_VT(value) & VT_TYPEMASK);
    if (bounds) {
        for (int k = 0; k < newCount; ++k) {
            bounds[k].cElements = static_cast<ULONG>(lists.newLengths[k]);
            bounds[k].lLbound = lists.newBounds[k];
        }
        reversed = SafeArrayCreate(elementType, static_cast<UINT>(newCount), bounds);
        free(bounds);
    }
    // The VARIANT's type must describe the elements the array really holds,
    // or the copy below would read beyond them.
    if (reversed && SafeArrayGetElemsize(reversed) != old->cbElements) {
        SafeArrayDestroy(reversed);
        reversed = nullptr;
    }
    void *to = nullptr, *from = nullptr;
    bool locked = reversed && SUCCEEDED(SafeArrayAccessData(reversed, &to));
    if (locked && FAILED(SafeArrayAccessData(old, &from))) {
        SafeArrayUnaccessData(reversed);
        locked = false;
    }
    if (!locked) {
        if (reversed) SafeArrayDestroy(reversed);
        free(lists.block);
        return -1;
    }

    const ElementCopy kind = CopyKindOf(elementType);
    const size_t size = old->cbElements;
    for (LONG i = 0; i < static_cast<LONG>(elements); ++i) {
        LONG target = i;
        if (oldCount > 1) {
            IndexToSubscripts(i, oldCount, lists.oldLengths, lists.oldBounds, lists.oldSubscripts);
            for (int k = 0; k < newCount; ++k) lists.newSubscripts[k] = lists.oldSubscripts[oldCount - 1 - k];
            SubscriptsToIndex(&target, newCount, lists.newLengths, lists.newBounds, lists.newSubscripts);
        }
        CopyElement(kind, size, static_cast<const char *>(from) + size * i, static_cast<char *>(to) + size * target);
    }
    SafeArrayUnaccessData(old);
    SafeArrayUnaccessData(reversed);
    free(lists.block);
    // An array its owner still holds locked cannot be replaced.
    if (FAILED(SafeArrayDestroy(old))) {
        SafeArrayDestroy(reversed);
        return -1;
    }
    V_ARRAY(value) = reversed;
    return static_cast<int>(elements);
}

int IndexToSubscripts(LONG index, int dimCount, const LONG *lengths, const LONG *lowerBounds, LONG *subscripts) {
    if (!lengths || !lowerBounds || !subscripts) return -1;
    for (int k = 0; k < dimCount; ++k) {
        if (lengths[k] == 0) return -1;
    }
    for (int k = 0; k < dimCount; ++k) {
        subscripts[k] = index % lengths[k] + lowerBounds[k];
        index /= lengths[k];
    }
    return 0;
}

int SubscriptsToIndex(LONG *index, int dimCount, const LONG *lengths, const LONG *lowerBounds,
                      const LONG *subscripts) {
    if (!index || !lengths || !lowerBounds || !subscripts) return -1;
    for (int k = 0; k < dimCount; ++k) {
        if (lengths[k] == 0) return -1;
    }
    LONG sum = 0, stride = 1;
    for (int k = 0; k < dimCount; ++k) {
        sum += (subscripts[k] - lowerBounds[k]) * stride;
        stride *= lengths[k];
    }
    *index = sum;
    return 0;
}

void *VariantDataPointer(const VARIANT *value) {
    if (!value) return nullptr;
    const VARTYPE type = V_VT(value);
    VARIANT *v = const_cast<VARIANT *>(value);
    if (!(type & VT_BYREF)) {
        switch (type) {
        case VT_DECIMAL:
            return v;  // the DECIMAL fills the whole VARIANT
        case VT_BSTR:
            return V_BSTR(v);
        case VT_DISPATCH:
            return V_DISPATCH(v);
        case VT_UNKNOWN:
            return V_UNKNOWN(v);
        default:
            return &V_I4(v);  // the value field
        }
    }
    switch (type & ~VT_BYREF) {
    case VT_BSTR: case VT_DISPATCH: case VT_UNKNOWN:
        return V_BYREF(v) ? *static_cast<void **>(V_BYREF(v)) : nullptr;
    case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_CY: case VT_DATE: case VT_ERROR: case VT_BOOL:
    case VT_VARIANT: case VT_DECIMAL: case VT_I1: case VT_UI1: case VT_UI2: case VT_UI4: case VT_INT: case VT_UINT:
        return V_BYREF(v);
    default:
        return nullptr;
    }
}
