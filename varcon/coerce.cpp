// Element coercion: one VARIANT value (its VARTYPE and its bytes) written
// into one element of a host numeric array of class double, single, int8,
// uint8, int16, uint16, int32 or uint32.
//
// Which coercion serves each pairing is the table kCoercionMatrix below
// (rows: source VARTYPE, columns: target class). Same-class values are
// copied, currency into double is scaled by 0.0001, a date enters as its
// host day number, and every other pairing is the OLE Automation coercion
// named in the table, which decides rounding and range. Where the table
// says so, a coercion that reports an overflow leaves the nearest extreme
// (by the sign of the source) or the largest value; every other failure
// leaves the element as it was (zero in a new host array).
#include "varcon_internal.h"

#include <float.h>
#include <math.h>
#include <string.h>
#include <type_traits>

namespace {

// A host day number counts days so that day 1 is 1 January of year 0; OLE
// date 0.0 (30 December 1899) is day 693960.
const double kDayNumberOfOleDateZero = 693960.0;
// Currency is a 64-bit integer in units of 1/10000.
const double kCurrencyUnit = 0.0001;

// Coerces the value at source and, on success, writes the target element at
// destination; answers the coercion's HRESULT. Reads exactly the bytes of
// the source representation and writes exactly one target element.
typedef HRESULT (*Coercion)(const void *source, void *destination);

template <class F>
struct OleSignature;
template <class In, class Out>
struct OleSignature<HRESULT(WINAPI *)(In, Out *)> {
    typedef In Input;
    typedef Out Output;
};

// The OLE Automation coercion F applied to the stored value, read with the
// width of F's argument (a DECIMAL argument is passed by pointer). The
// result goes through a zeroed local: a failing coercion writes nothing,
// and one that reports success without writing its output stores zero.
template <auto F>
HRESULT Ole(const void *source, void *destination) {
    typedef typename OleSignature<decltype(F)>::Input In;
    typedef typename OleSignature<decltype(F)>::Output Out;
    Out out{};
    HRESULT hr;
    if constexpr (std::is_pointer_v<In>) {
        std::remove_pointer_t<In> value;
        memcpy(&value, source, sizeof value);
        hr = F(&value, &out);
    } else {
        In value;
        memcpy(&value, source, sizeof value);
        hr = F(value, &out);
    }
    if (SUCCEEDED(hr)) memcpy(destination, &out, sizeof out);
    return hr;
}

double DayNumberOf(const void *source) {
    DATE date;
    memcpy(&date, source, sizeof date);
    return date + kDayNumberOfOleDateZero;
}

// The OLE Automation coercion F (one of the ...FromR8) applied to the day
// number of the stored OLE date.
template <auto F>
HRESULT OleOfDay(const void *source, void *destination) {
    typedef typename OleSignature<decltype(F)>::Output Out;
    Out out{};
    const HRESULT hr = F(DayNumberOf(source), &out);
    if (SUCCEEDED(hr)) memcpy(destination, &out, sizeof out);
    return hr;
}

// Same layout on both sides.
template <class T>
HRESULT Copy(const void *source, void *destination) {
    memcpy(destination, source, sizeof(T));
    return S_OK;
}

HRESULT CurrencyTimesUnit(const void *source, void *destination) {
    LONGLONG units;
    memcpy(&units, source, sizeof units);
    const double value = static_cast<double>(units) * kCurrencyUnit;
    memcpy(destination, &value, sizeof value);
    return S_OK;
}

HRESULT DayNumber(const void *source, void *destination) {
    const double value = DayNumberOf(source);
    memcpy(destination, &value, sizeof value);
    return S_OK;
}

// What a cell does when its coercion reports DISP_E_OVERFLOW.
enum OverflowRule {
    kKeep,            // nothing is stored
    kSaturateBySign,  // the target's largest value for a positive source, else its smallest
    kSaturateHigh,    // the target's largest value, whatever the sign
};

struct MatrixCell {
    Coercion coerce;
    OverflowRule overflow;
};

const int kTargetCount = 8;  // double, single, int8, uint8, int16, uint16, int32, uint32

struct MatrixRow {
    VARTYPE source;
    MatrixCell cells[kTargetCount];
};

const OverflowRule K = kKeep;
const OverflowRule S = kSaturateBySign;
const OverflowRule H = kSaturateHigh;

const MatrixRow kCoercionMatrix[] = {
    // source      double                   single                      int8                        uint8                        int16                       uint16                       int32                       uint32
    {VT_I2,       {{Ole<VarR8FromI2>, K},   {Ole<VarR4FromI2>, K},      {Ole<VarI1FromI2>, S},      {Ole<VarUI1FromI2>, S},      {Copy<SHORT>, K},           {Ole<VarUI2FromI2>, K},      {Ole<VarI4FromI2>, K},      {Ole<VarUI4FromI2>, K}}},
    {VT_I4,       {{Ole<VarR8FromI4>, K},   {Ole<VarR4FromI4>, K},      {Ole<VarI1FromI4>, S},      {Ole<VarUI1FromI4>, S},      {Ole<VarI2FromI4>, S},      {Ole<VarUI2FromI4>, S},      {Copy<LONG>, K},            {Ole<VarUI4FromI4>, K}}},
    {VT_R4,       {{Ole<VarR8FromR4>, K},   {Copy<FLOAT>, K},           {Ole<VarI1FromR4>, S},      {Ole<VarUI1FromR4>, S},      {Ole<VarI2FromR4>, S},      {Ole<VarUI2FromR4>, S},      {Ole<VarI4FromR4>, S},      {Ole<VarUI4FromR4>, S}}},
    {VT_R8,       {{Copy<DOUBLE>, K},       {Ole<VarR4FromR8>, S},      {Ole<VarI1FromR8>, S},      {Ole<VarUI1FromR8>, S},      {Ole<VarI2FromR8>, S},      {Ole<VarUI2FromR8>, S},      {Ole<VarI4FromR8>, S},      {Ole<VarUI4FromR8>, S}}},
    {VT_CY,       {{CurrencyTimesUnit, K},  {Ole<VarR4FromCy>, K},      {Ole<VarI1FromCy>, S},      {Ole<VarUI1FromCy>, S},      {Ole<VarI2FromCy>, S},      {Ole<VarUI2FromCy>, S},      {Ole<VarI4FromCy>, S},      {Ole<VarUI4FromCy>, S}}},
    {VT_DATE,     {{DayNumber, K},          {OleOfDay<VarR4FromR8>, K}, {OleOfDay<VarI1FromR8>, H}, {OleOfDay<VarUI1FromR8>, H}, {OleOfDay<VarI2FromR8>, H}, {OleOfDay<VarUI2FromR8>, H}, {OleOfDay<VarI4FromR8>, K}, {OleOfDay<VarUI4FromR8>, K}}},
    {VT_ERROR,    {{Ole<VarR8FromI4>, K},   {Ole<VarR4FromI4>, K},      {Ole<VarI1FromI4>, S},      {Ole<VarUI1FromI4>, S},      {Ole<VarI2FromI4>, S},      {Ole<VarUI2FromI4>, S},      {Copy<LONG>, K},            {Ole<VarUI4FromI4>, K}}},
    {VT_BOOL,     {{Ole<VarR8FromBool>, K}, {Ole<VarR4FromBool>, K},    {Ole<VarI1FromBool>, S},    {Ole<VarUI1FromBool>, S},    {Copy<VARIANT_BOOL>, K},    {Ole<VarUI2FromBool>, K},    {Ole<VarI4FromBool>, K},    {Ole<VarUI4FromBool>, K}}},
    {VT_DECIMAL,  {{Ole<VarR8FromDec>, K},  {Ole<VarR4FromDec>, K},     {Ole<VarI1FromDec>, S},     {Ole<VarUI1FromDec>, S},     {Ole<VarI2FromDec>, S},     {Ole<VarUI2FromDec>, S},     {Ole<VarI4FromDec>, S},     {Ole<VarUI4FromDec>, S}}},
    {VT_I1,       {{Ole<VarR8FromI1>, K},   {Ole<VarR4FromI1>, K},      {Copy<CHAR>, K},            {Ole<VarUI1FromI1>, K},      {Ole<VarI2FromI1>, K},      {Ole<VarUI2FromI1>, K},      {Ole<VarI4FromI1>, K},      {Ole<VarUI4FromI1>, K}}},
    {VT_UI1,      {{Ole<VarR8FromUI1>, K},  {Ole<VarR4FromUI1>, K},     {Ole<VarI1FromUI1>, K},     {Copy<BYTE>, K},             {Ole<VarI2FromUI1>, K},     {Ole<VarUI2FromUI1>, K},     {Ole<VarI4FromUI1>, K},     {Ole<VarUI4FromUI1>, K}}},
    {VT_UI2,      {{Ole<VarR8FromUI2>, K},  {Ole<VarR4FromUI2>, K},     {Ole<VarI1FromUI2>, S},     {Ole<VarUI1FromUI2>, S},     {Ole<VarI2FromUI2>, K},     {Copy<USHORT>, K},           {Ole<VarI4FromUI2>, K},     {Ole<VarUI4FromUI2>, K}}},
    {VT_UI4,      {{Ole<VarR8FromUI4>, K},  {Ole<VarR4FromUI4>, K},     {Ole<VarI1FromUI4>, S},     {Ole<VarUI1FromUI4>, S},     {Ole<VarI2FromUI4>, S},     {Ole<VarUI2FromUI4>, S},     {Ole<VarI4FromUI4>, K},     {Copy<ULONG>, K}}},
    {VT_INT,      {{Ole<VarR8FromI4>, K},   {Ole<VarR4FromI4>, K},      {Ole<VarI1FromI4>, S},      {Ole<VarUI1FromI4>, S},      {Ole<VarI2FromI4>, S},      {Ole<VarUI2FromI4>, S},      {Copy<LONG>, K},            {Ole<VarUI4FromI4>, K}}},
    {VT_UINT,     {{Ole<VarR8FromUI4>, K},  {Ole<VarR4FromUI4>, K},     {Ole<VarI1FromUI4>, S},     {Ole<VarUI1FromUI4>, S},     {Ole<VarI2FromUI4>, S},     {Ole<VarUI2FromUI4>, S},     {Ole<VarI4FromUI4>, K},     {Copy<ULONG>, K}}},
};

const MatrixRow *MatrixRowOf(VARTYPE type) {
    for (const MatrixRow &row : kCoercionMatrix)
        if (row.source == type) return &row;
    return nullptr;
}

// Column of a target class in the matrix, or -1 when it has none.
int TargetColumn(kaClassID targetClass) {
    if (targetClass < kaDOUBLE_CLASS || targetClass > kaUINT32_CLASS) return -1;
    return targetClass - kaDOUBLE_CLASS;
}

// Bytes of one element of each target class, by column.
const int kTargetWidth[kTargetCount] = {8, 4, 1, 1, 2, 2, 4, 4};

// One cell of the matrix applied, with its overflow rule.
HRESULT CoerceByMatrix(VARTYPE type, const void *source, kaClassID targetClass, void *destination) {
    if (!source || !destination) return E_INVALIDARG;
    const MatrixRow *row = MatrixRowOf(type);
    const int column = TargetColumn(targetClass);
    if (!row || column < 0) return DISP_E_BADVARTYPE;
    const MatrixCell &cell = row->cells[column];
    const HRESULT hr = cell.coerce(source, destination);
    if (hr == DISP_E_OVERFLOW) {
        if (cell.overflow == kSaturateBySign) SaturateElement(targetClass, destination, ValueSign(type, source) > 0);
        else if (cell.overflow == kSaturateHigh) SaturateElement(targetClass, destination, true);
    }
    return hr;
}

template <class T>
void Store(double value, void *destination) {
    const T element = static_cast<T>(value);
    memcpy(destination, &element, sizeof element);
}

struct Extremes {
    kaClassID targetClass;
    void (*store)(double value, void *destination);
    double largest;
    double smallest;
};

const Extremes kExtremes[] = {
    {kaSINGLE_CLASS, Store<FLOAT>, FLT_MAX, -FLT_MAX},
    {kaINT8_CLASS, Store<signed char>, 127.0, -128.0},
    {kaUINT8_CLASS, Store<BYTE>, 255.0, 0.0},
    {kaINT16_CLASS, Store<SHORT>, 32767.0, -32768.0},
    {kaUINT16_CLASS, Store<USHORT>, 65535.0, 0.0},
    {kaINT32_CLASS, Store<LONG>, 2147483647.0, -2147483648.0},
    {kaUINT32_CLASS, Store<ULONG>, 4294967295.0, 0.0},
};

template <class T>
int SignOf(const void *source) {
    T value;
    memcpy(&value, source, sizeof value);
    if (value > 0) return 1;
    if (value < 0) return -1;
    return 0;
}

template <class T>
int SignOfUnsigned(const void *source) {
    T value;
    memcpy(&value, source, sizeof value);
    return value != 0 ? 1 : 0;
}

// A NaN counts as negative.
template <class T>
int SignOfFloating(const void *source) {
    T value;
    memcpy(&value, source, sizeof value);
    if (isnan(value)) return -1;
    if (value > 0) return 1;
    if (value < 0) return -1;
    return 0;
}

}  // namespace

int CoerceElement(VARTYPE type, kaClassID naturalClass, bool direct, int elementSize, const void *source,
                  kaClassID targetClass, void *destination) {
    if (!source || !destination) return -1;
    if (naturalClass == kaUNKNOWN_CLASS) return 0;
    const int column = TargetColumn(targetClass);
    if (column < 0) return 0;
    if (targetClass != naturalClass || !direct)
        return SUCCEEDED(CoerceByMatrix(type, source, targetClass, destination)) ? 1 : 0;
    // Same class, same layout: the bytes as they are, when they are one
    // element of the target.
    if (elementSize != kTargetWidth[column]) return 0;
    memcpy(destination, source, elementSize);
    return 1;
}

HRESULT CoerceToDouble(VARTYPE type, const void *source, double *destination) {
    return CoerceByMatrix(type, source, kaDOUBLE_CLASS, destination);
}

HRESULT CoerceToSingle(VARTYPE type, const void *source, float *destination) {
    return CoerceByMatrix(type, source, kaSINGLE_CLASS, destination);
}

HRESULT CoerceToInt8(VARTYPE type, const void *source, signed char *destination) {
    return CoerceByMatrix(type, source, kaINT8_CLASS, destination);
}

HRESULT CoerceToUint8(VARTYPE type, const void *source, unsigned char *destination) {
    return CoerceByMatrix(type, source, kaUINT8_CLASS, destination);
}

HRESULT CoerceToInt16(VARTYPE type, const void *source, short *destination) {
    return CoerceByMatrix(type, source, kaINT16_CLASS, destination);
}

HRESULT CoerceToUint16(VARTYPE type, const void *source, unsigned short *destination) {
    return CoerceByMatrix(type, source, kaUINT16_CLASS, destination);
}

HRESULT CoerceToInt32(VARTYPE type, const void *source, LONG *destination) {
    return CoerceByMatrix(type, source, kaINT32_CLASS, destination);
}

HRESULT CoerceToUint32(VARTYPE type, const void *source, ULONG *destination) {
    return CoerceByMatrix(type, source, kaUINT32_CLASS, destination);
}

void SaturateElement(kaClassID targetClass, void *destination, bool positive) {
    if (!destination) return;
    for (const Extremes &e : kExtremes) {
        if (e.targetClass == targetClass) {
            e.store(positive ? e.largest : e.smallest, destination);
            return;
        }
    }
}

int ValueSign(VARTYPE type, const void *source) {
    if (!source) return 0;
    switch (type) {
    case VT_I1: return SignOf<signed char>(source);
    case VT_I2: return SignOf<SHORT>(source);
    case VT_I4:
    case VT_ERROR:
    case VT_INT: return SignOf<LONG>(source);
    case VT_UI1: return SignOfUnsigned<BYTE>(source);
    case VT_UI2: return SignOfUnsigned<USHORT>(source);
    case VT_UI4:
    case VT_UINT: return SignOfUnsigned<ULONG>(source);
    case VT_R4: return SignOfFloating<FLOAT>(source);
    case VT_R8:
    case VT_DATE: return SignOfFloating<DOUBLE>(source);
    case VT_CY: return SignOf<LONGLONG>(source);
    case VT_BOOL: return SignOfUnsigned<VARIANT_BOOL>(source) ? -1 : 0;
    case VT_DECIMAL: {
        DECIMAL value;
        memcpy(&value, source, sizeof value);
        if (value.Hi32 == 0 && value.Lo64 == 0) return 0;
        return value.sign != 0 ? -1 : 1;
    }
    default: return 0;
    }
}
