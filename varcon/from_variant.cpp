// VARIANTs to host arrays: the export zrtVariant2kaArray, its core
// VariantToArray, SAFEARRAYs, the natural class of each OLE type and
// values as text.
#include "varcon_internal.h"

#include <windows.h>
#include <oleauto.h>
#include <stdint.h>
#include <string.h>

namespace {

// Nested VARIANTs (by-reference chains, arrays of VARIANTs, the values of
// objects) are followed this deep. A client can hand over a VARIANT that
// refers to itself; beyond this depth its data is taken as invalid rather
// than followed until the stack runs out.
const int kMaxNesting = 64;

struct NaturalClass {
    VARTYPE type;
    kaClassID classID;
    int elementSize;
    bool direct;
};

// The host class each OLE type becomes, and whether its bytes already have
// the host's element layout.
const NaturalClass kNaturalClasses[] = {
    {VT_I2, kaINT16_CLASS, 2, true},     {VT_BOOL, kaINT16_CLASS, 2, true},
    {VT_I4, kaINT32_CLASS, 4, true},     {VT_ERROR, kaINT32_CLASS, 4, true},
    {VT_INT, kaINT32_CLASS, 4, true},    {VT_R4, kaSINGLE_CLASS, 4, true},
    {VT_R8, kaDOUBLE_CLASS, 8, true},    {VT_CY, kaDOUBLE_CLASS, 8, false},
    {VT_DATE, kaDOUBLE_CLASS, 8, false}, {VT_DECIMAL, kaDOUBLE_CLASS, 16, false},
    {VT_I1, kaINT8_CLASS, 1, true},      {VT_UI1, kaUINT8_CLASS, 1, true},
    {VT_UI2, kaUINT16_CLASS, 2, true},   {VT_UI4, kaUINT32_CLASS, 4, true},
    {VT_UINT, kaUINT32_CLASS, 4, true},
};

// ---- values as text ----

typedef HRESULT (*TextCoercion)(const void *value, LCID locale, ULONG flags, BSTR *text);

struct TextConversion {
    VARTYPE type;
    TextCoercion coerce;
};

const TextConversion kTextConversions[] = {
    {VT_I1, [](const void *v, LCID l, ULONG f, BSTR *t) { return VarBstrFromI1(*static_cast<const CHAR *>(v), l, f, t); }},
    {VT_UI1, [](const void *v, LCID l, ULONG f, BSTR *t) { return VarBstrFromUI1(*static_cast<const BYTE *>(v), l, f, t); }},
    {VT_I2, [](const void *v, LCID l, ULONG f, BSTR *t) { return VarBstrFromI2(*static_cast<const SHORT *>(v), l, f, t); }},
    {VT_UI2, [](const void *v, LCID l, ULONG f, BSTR *t) { return VarBstrFromUI2(*static_cast<const USHORT *>(v), l, f, t); }},
    {VT_I4, [](const void *v, LCID l, ULONG f, BSTR *t) { return VarBstrFromI4(*static_cast<const LONG *>(v), l, f, t); }},
    {VT_ERROR, [](const void *v, LCID l, ULONG f, BSTR *t) { return VarBstrFromI4(*static_cast<const LONG *>(v), l, f, t); }},
    {VT_INT, [](const void *v, LCID l, ULONG f, BSTR *t) { return VarBstrFromI4(*static_cast<const LONG *>(v), l, f, t); }},
    {VT_UI4, [](const void *v, LCID l, ULONG f, BSTR *t) { return VarBstrFromUI4(*static_cast<const ULONG *>(v), l, f, t); }},
    {VT_UINT, [](const void *v, LCID l, ULONG f, BSTR *t) { return VarBstrFromUI4(*static_cast<const ULONG *>(v), l, f, t); }},
    {VT_R4, [](const void *v, LCID l, ULONG f, BSTR *t) { return VarBstrFromR4(*static_cast<const FLOAT *>(v), l, f, t); }},
    {VT_R8, [](const void *v, LCID l, ULONG f, BSTR *t) { return VarBstrFromR8(*static_cast<const DOUBLE *>(v), l, f, t); }},
    {VT_CY, [](const void *v, LCID l, ULONG f, BSTR *t) { return VarBstrFromCy(*static_cast<const CY *>(v), l, f, t); }},
    {VT_DECIMAL, [](const void *v, LCID l, ULONG f, BSTR *t) {
         return VarBstrFromDec(const_cast<DECIMAL *>(static_cast<const DECIMAL *>(v)), l, f, t);
     }},
    {VT_BOOL, [](const void *v, LCID l, ULONG f, BSTR *t) { return VarBstrFromBool(*static_cast<const VARIANT_BOOL *>(v), l, f, t); }},
    {VT_DATE, [](const void *v, LCID l, ULONG f, BSTR *t) { return VarBstrFromDate(*static_cast<const DATE *>(v), l, f, t); }},
};

// A DECIMAL the OLE routines can take: a scale of 0 to 28 and a sign byte of
// 0 or DECIMAL_NEG. Some platforms' routines overrun their buffers on
// others, and clients can hand over any sixteen bytes.
bool IsValidDecimal(const DECIMAL *d) { return d->scale <= 28 && (d->sign == 0 || d->sign == DECIMAL_NEG); }

// A 1-by-len char array holding the UTF-16 code units as they stand, or the
// empty string for no text. Null when the host has no memory for it.
kaArray *CharRowOf(const OLECHAR *text, UINT length) {
    if (!text || length == 0) return kaCreateString("");
    const int dims[2] = {1, static_cast<int>(length)};
    kaArray *row = kaCreateCharArray(2, dims);
    void *data = kaGetPr(row);
    if (data) memcpy(data, text, sizeof(OLECHAR) * length);
    return row;
}

// The record nested conversions run with: the caller's, without
// regrouping, which runs once, on the level the caller asked for.
ConversionFlags NestedFlags(const ConversionFlags *flags) {
    ConversionFlags nested = *flags;
    nested.inputRegroup = REGROUP_NONE;
    nested.inputRegroupDepth = 0;
    return nested;
}

// Whether values are asked for in a class this library can fill: their
// natural class (0), text, or one of the numeric classes double to uint32.
bool IsFillableTargetClass(int32_t targetClass) {
    return targetClass == 0 || targetClass == kaCHAR_CLASS ||
           (targetClass >= kaDOUBLE_CLASS && targetClass <= kaUINT32_CLASS);
}

// The classes numeric values of an OLE type are held in: their natural
// class, whether its bytes are copied as they stand, and the class they
// are stored in under the options.
struct NumericTarget {
    kaClassID natural;
    bool direct;
    int elementSize;
    kaClassID target;
};

// 0, or the status of a type without a natural class or an option asking
// for a class that cannot be filled.
int NumericTargetOf(VARTYPE baseType, const ConversionFlags *flags, NumericTarget *t) {
    t->natural = NaturalClassOf(baseType, &t->direct, &t->elementSize);
    if (t->natural == 0) return CONV_E_UNSUPPORTED_VARIANT;
    if (!IsFillableTargetClass(flags->targetClass)) return CONV_E_UNSUPPORTED_ARRAY;
    t->target = flags->targetClass ? flags->targetClass : t->natural;
    return 0;
}

bool WantsText(VARTYPE baseType, const ConversionFlags *flags) {
    return flags->targetClass == kaCHAR_CLASS || (baseType == VT_DATE && flags->dateForm == 1);
}

// Applies the input regrouping pass to a finished result: a copy the pass
// made replaces it. A pass that regrouped parts but could not copy the
// array around them ran out of memory; the result is then not replaced by
// nothing but given up with that status.
int ApplyInputRegroup(kaArray **result, const ConversionFlags *flags) {
    const RegroupPass pass = RegroupPassOf(flags->inputRegroup);
    if (!pass || !*result) return 0;
    kaArray *copy = nullptr;
    if (pass(*result, &copy, flags->inputRegroupDepth) <= 0) {
        kaDestroyArray(copy);  // a walk may build a copy and still answer 0 or less
        return 0;
    }
    kaDestroyArray(*result);
    *result = copy;
    return copy ? 0 : CONV_E_NO_MEMORY;
}

int VariantToArrayAt(const VARIANT *source, kaArray **result, const ConversionFlags *flags, int depth);
int SafeArrayToArrayAt(SAFEARRAY *array, VARTYPE type, kaArray **result, const ConversionFlags *flags, int depth);

// Reads an object's Value and converts it.
int ObjectToArray(IDispatch *object, kaArray **result, const ConversionFlags *flags, int depth) {
    VARIANT value;
    VariantInit(&value);
    if (FAILED(RangeReadValue(object, &value))) {
        VariantClear(&value);
        return CONV_E_COPY_FROM_OBJECT;
    }
    const ConversionFlags nested = NestedFlags(flags);
    const int status = VariantToArrayAt(&value, result, &nested, depth + 1);
    VariantClear(&value);
    return status;
}

// One scalar value of a numeric OLE type as a 1-by-1 array of the target
// class.
int ScalarToArray(VARTYPE baseType, const void *value, kaArray **result, const ConversionFlags *flags) {
    NumericTarget t;
    const int status = NumericTargetOf(baseType, flags, &t);
    if (status != 0) return status;
    kaArray *array = kaCreateNumericMatrix(1, 1, t.target, kaREAL);
    void *data = kaGetPr(array);
    if (!data) {
        kaDestroyArray(array);
        return CONV_E_NO_MEMORY;
    }
    if (baseType == VT_BOOL) kaSetLogical(array, true);
    CoerceElement(baseType, t.natural, t.direct, t.elementSize, value, t.target, data);
    *result = array;
    return 0;
}

int VariantToArrayAt(const VARIANT *source, kaArray **result, const ConversionFlags *flags, int depth) {
    if (!result || !flags) return CONV_E_INVALID_INPUT;
    kaDestroyArray(*result);
    *result = nullptr;
    if (!source) return CONV_E_INVALID_INPUT;
    if (depth > kMaxNesting) return CONV_E_INVALID_VARIANT;

    const VARTYPE type = V_VT(source);
    if (type == VT_EMPTY || type == VT_NULL) return 0;

    if (type & VT_ARRAY) {
        SAFEARRAY *array = V_ARRAY(source);
        if (type & VT_BYREF) {
            if (!V_ARRAYREF(source)) return CONV_E_INVALID_VARIANT;
            array = *V_ARRAYREF(source);
        }
        return SafeArrayToArrayAt(array, type, result, flags, depth);
    }

    const void *value = VariantDataPointer(source);
    if (!value) return CONV_E_INVALID_VARIANT;
    const VARTYPE baseType = static_cast<VARTYPE>(type & ~VT_BYREF);
    int status = 0;
    if (baseType == VT_BSTR) {
        *result = CharRowOf(static_cast<const OLECHAR *>(value), SysStringLen(const_cast<BSTR>(static_cast<const OLECHAR *>(value))));
        if (!*result) status = CONV_E_NO_MEMORY;
    } else if (baseType == VT_DISPATCH) {
        status = ObjectToArray(static_cast<IDispatch *>(const_cast<void *>(value)), result, flags, depth);
    } else if (type == (VT_VARIANT | VT_BYREF)) {
        const ConversionFlags nested = NestedFlags(flags);
        status = VariantToArrayAt(static_cast<const VARIANT *>(value), result, &nested, depth + 1);
    } else if (WantsText(baseType, flags)) {
        VariantToCharArray(baseType, value, result);  // a value without text leaves no array
    } else {
        status = ScalarToArray(baseType, value, result, flags);
    }
    if (status == 0) status = ApplyInputRegroup(result, flags);
    return status;
}

bool HoldsPointers(VARTYPE baseType) {
    return baseType == VT_BSTR || baseType == VT_DISPATCH || baseType == VT_UNKNOWN || baseType == VT_VARIANT;
}

// The byte width of one element of a SAFEARRAY of this element type, as
// the conversion reads it; 0 for types it does not read.
ULONG ExpectedElementSize(VARTYPE baseType) {
    switch (baseType) {
    case VT_BSTR: case VT_DISPATCH: case VT_UNKNOWN:
        return sizeof(void *);
    case VT_VARIANT:
        return sizeof(VARIANT);
    default: {
        bool direct = false;
        int size = 0;
        return NaturalClassOf(baseType, &direct, &size) ? static_cast<ULONG>(size) : 0;
    }
    }
}

// Converts the elements of a SAFEARRAY of strings, VARIANTs or objects into
// the cells of a new cell array, in storage order. A failing element ends
// the loop; the cells converted before it stay in the result.
int CellsFromSafeArray(const void *data, VARTYPE baseType, int count, const int *dims, int dimCount,
                       kaArray **result, const ConversionFlags *flags, int depth) {
    kaArray *cells = kaCreateCellArray(dimCount, dims);
    if (!cells) return CONV_E_NO_MEMORY;
    const ConversionFlags nested = NestedFlags(flags);
    int status = 0;
    for (int i = 0; i < count && status == 0; ++i) {
        kaArray *element = nullptr;
        if (baseType == VT_BSTR) {
            BSTR text = static_cast<const BSTR *>(data)[i];
            element = CharRowOf(text, text ? SysStringLen(text) : 0);  // a row that cannot be made stays empty
        } else if (baseType == VT_DISPATCH) {
            status = ObjectToArray(static_cast<IDispatch *const *>(data)[i], &element, &nested, depth);
        } else {
            status = VariantToArrayAt(&static_cast<const VARIANT *>(data)[i], &element, &nested, depth + 1);
        }
        if (status != 0) kaDestroyArray(element);
        else kaSetCell(cells, i, element);
    }
    *result = cells;
    return status;
}

// Every element of a numeric SAFEARRAY as text, one cell each; an element
// without text leaves its cell empty.
int TextCellsFromSafeArray(const char *data, ULONG stride, VARTYPE baseType, int count, const int *dims,
                           int dimCount, kaArray **result) {
    kaArray *cells = kaCreateCellArray(dimCount, dims);
    if (!cells) return CONV_E_NO_MEMORY;
    for (int i = 0; i < count; ++i) {
        kaArray *text = nullptr;
        VariantToCharArray(baseType, data + static_cast<size_t>(stride) * i, &text);
        kaSetCell(cells, i, text);
    }
    *result = cells;
    return 0;
}

int NumbersFromSafeArray(const char *data, ULONG stride, VARTYPE baseType, int count, const int *dims,
                         int dimCount, kaArray **result, const ConversionFlags *flags) {
    NumericTarget t;
    const int status = NumericTargetOf(baseType, flags, &t);
    if (status != 0) return status;
    kaArray *array = kaCreateNumericArray(dimCount, dims, t.target, kaREAL);
    char *to = reinterpret_cast<char *>(kaGetPr(array));
    if (!to) {
        kaDestroyArray(array);
        return CONV_E_NO_MEMORY;
    }
    if (baseType == VT_BOOL) kaSetLogical(array, true);
    if (t.direct && t.target == t.natural) {
        memcpy(to, data, static_cast<size_t>(t.elementSize) * count);
    } else {
        const size_t step = static_cast<size_t>(kaGetElementSize(array));
        for (int i = 0; i < count; ++i)
            CoerceElement(baseType, t.natural, false, t.elementSize, data + static_cast<size_t>(stride) * i, t.target,
                          to + step * i);
    }
    *result = array;
    return 0;
}

// A SAFEARRAY with no elements (a dimension of length 0) becomes an empty
// host array of the same dimensions, of the class its elements would have
// had; no element is touched.
int EmptyFromSafeArray(VARTYPE baseType, const int *dims, int dimCount, kaArray **result,
                       const ConversionFlags *flags) {
    if (baseType == VT_BSTR || baseType == VT_VARIANT || baseType == VT_DISPATCH || WantsText(baseType, flags)) {
        *result = kaCreateCellArray(dimCount, dims);
    } else {
        NumericTarget t;
        const int status = NumericTargetOf(baseType, flags, &t);
        if (status != 0) return status;
        *result = kaCreateNumericArray(dimCount, dims, t.target, kaREAL);
        if (*result && baseType == VT_BOOL) kaSetLogical(*result, true);
    }
    return *result ? 0 : CONV_E_NO_MEMORY;
}

// Releases the data access of a SAFEARRAY when it goes out of scope.
class DataAccess {
public:
    explicit DataAccess(SAFEARRAY *array) : array_(array) { hr_ = SafeArrayAccessData(array, &data_); }
    ~DataAccess() {
        if (SUCCEEDED(hr_)) SafeArrayUnaccessData(array_);
    }
    DataAccess(const DataAccess &) = delete;
    DataAccess &operator=(const DataAccess &) = delete;
    // 0, or the status of a failed access.
    int status() const {
        if (FAILED(hr_)) return CONV_E_VARIANT_ACCESS;
        return data_ ? 0 : CONV_E_INVALID_VARIANT;
    }
    const char *data() const { return static_cast<const char *>(data_); }

private:
    SAFEARRAY *array_;
    void *data_ = nullptr;
    HRESULT hr_;
};

// The conversion of the elements, with the data accessed for exactly as
// long as it runs.
int ElementsFromSafeArray(SAFEARRAY *array, VARTYPE baseType, int count, const int *dims, int dimCount,
                          kaArray **result, const ConversionFlags *flags, int depth) {
    DataAccess access(array);
    if (access.status() != 0) return access.status();
    if (baseType == VT_BSTR || baseType == VT_VARIANT || baseType == VT_DISPATCH)
        return CellsFromSafeArray(access.data(), baseType, count, dims, dimCount, result, flags, depth);
    if (WantsText(baseType, flags))
        return TextCellsFromSafeArray(access.data(), array->cbElements, baseType, count, dims, dimCount, result);
    return NumbersFromSafeArray(access.data(), array->cbElements, baseType, count, dims, dimCount, result, flags);
}

int SafeArrayToArrayAt(SAFEARRAY *array, VARTYPE type, kaArray **result, const ConversionFlags *flags, int depth) {
    if (!result || !flags) return CONV_E_INVALID_INPUT;
    kaDestroyArray(*result);
    *result = nullptr;
    if (!array || array->cDims < 1) return CONV_E_INVALID_INPUT;
    if (SafeArrayElementCount(array) < 1) return 0;

    const VARTYPE baseType = static_cast<VARTYPE>(type & VT_TYPEMASK);
    // The elements are read with the width of the type the VARIANT names: an
    // array whose elements are of another width is not read at all.
    const ULONG expected = ExpectedElementSize(baseType);
    if (expected != 0 && array->cbElements != expected) return CONV_E_INVALID_VARIANT;
    // Elements that are pointers (strings, objects, VARIANTs) are followed:
    // an array that declares another element type holds no such pointers.
    VARTYPE declared = VT_EMPTY;
    if (HoldsPointers(baseType) && SUCCEEDED(SafeArrayGetVartype(array, &declared)) && declared != baseType)
        return CONV_E_INVALID_VARIANT;

    const int dimCount = array->cDims;
    int *dims = static_cast<int *>(malloc(sizeof(int) * dimCount));
    if (!dims) return CONV_E_NO_MEMORY;
    int64_t elements = 1;
    for (int k = 0; k < dimCount; ++k) {
        // Stored bounds run from the last dimension to the first.
        const ULONG length = array->rgsabound[dimCount - 1 - k].cElements;
        dims[k] = length > INT32_MAX ? INT32_MAX : static_cast<int>(length);
        elements *= length;
        if (elements > INT32_MAX) break;
    }
    int status;
    if (elements > INT32_MAX) status = CONV_E_NO_MEMORY;
    else if (elements == 0) status = EmptyFromSafeArray(baseType, dims, dimCount, result, flags);
    else status = ElementsFromSafeArray(array, baseType, static_cast<int>(elements), dims, dimCount, result, flags, depth);
    free(dims);

    if (status == 0 && *result) {
        if (dimCount == 1) {  // a vector becomes a row
            kaSetN(*result, kaGetM(*result));
            kaSetM(*result, 1);
        }
        status = ApplyInputRegroup(result, flags);
    }
    return status;
}

}  // namespace

// ---- exported ----

extern "C" int zrtVariant2kaArray(const VARIANT *source, kaArray **result, const ConversionFlags *flags) {
    const int status = VariantToArray(source, result, flags);
    if (status < 0) {
        // The caller never sees a failed conversion return, so it cannot
        // destroy what a failing element loop left in its result.
        if (result) {
            kaDestroyArray(*result);
            *result = nullptr;
        }
        RaiseConversionError(status);
    }
    return status;
}

// ---- core ----

int VariantToArray(const VARIANT *source, kaArray **result, const ConversionFlags *flags) {
    return VariantToArrayAt(source, result, flags, 0);
}

int SafeArrayToArray(SAFEARRAY *array, VARTYPE type, kaArray **result, const ConversionFlags *flags) {
    return SafeArrayToArrayAt(array, type, result, flags, 0);
}

kaClassID NaturalClassOf(VARTYPE type, bool *direct, int *elementSize) {
    if (!direct || !elementSize) return 0;
    const VARTYPE base = static_cast<VARTYPE>(type & ~(VT_ARRAY | VT_BYREF));
    for (const NaturalClass &n : kNaturalClasses) {
        if (n.type == base) {
            *direct = n.direct;
            *elementSize = n.elementSize;
            return n.classID;
        }
    }
    *direct = false;
    *elementSize = 0;
    return 0;
}

HRESULT VariantToCharArray(VARTYPE type, const void *value, kaArray **result) {
    if (!value || !result) return E_INVALIDARG;
    kaDestroyArray(*result);
    *result = nullptr;
    BSTR text = nullptr;
    bool made = false;
    if (type == VT_BSTR) {
        text = static_cast<BSTR>(const_cast<void *>(value));  // used as it stands, not freed
    } else {
        if (type == VT_DECIMAL && !IsValidDecimal(static_cast<const DECIMAL *>(value))) return DISP_E_OVERFLOW;
        TextCoercion coerce = nullptr;
        for (const TextConversion &t : kTextConversions) {
            if (t.type == type) coerce = t.coerce;
        }
        if (!coerce) return DISP_E_BADVARTYPE;
        const HRESULT hr = coerce(value, GetUserDefaultLCID(), LOCALE_NOUSEROVERRIDE, &text);
        if (FAILED(hr)) return hr;
        made = true;
    }
    *result = CharRowOf(text, text ? SysStringLen(text) : 0);
    if (made) SysFreeString(text);
    return S_OK;
}

int SafeArrayElementCount(const SAFEARRAY *array) {
    if (!array) return 0;
    int64_t count = 1;
    for (USHORT k = 0; k < array->cDims; ++k) {
        const ULONG length = array->rgsabound[k].cElements;
        if (length != 0) count *= length;
        if (count > INT32_MAX) return INT32_MAX;
    }
    return static_cast<int>(count);
}
