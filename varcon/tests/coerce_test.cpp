// Element coercion against the platform's own OLE Automation coercions.
//
// The matrix test runs every source type with a set of values (small,
// halves, negative, overflowing both ways, NaN, the extremes of the type)
// into every target class, through CoerceElement and through the target's
// converter. The expected element is computed here: the named oleaut32
// function called directly on the value (on the day number for dates), its
// result kept only on success, and on overflow the saturation the cell
// calls for. Sources and destinations sit at the very end of a readable
// page followed by an inaccessible one, so any read or write past the
// element faults. A table of literal cases pins the documented results.
#include "hosttest.h"
#include "varcon_internal.h"

#include <windows.h>
#include <float.h>
#include <math.h>
#include <stdint.h>
#include <string.h>

#include <initializer_list>
#include <limits>
#include <string>
#include <type_traits>
#include <vector>

namespace {

// ---- source values ----

struct Source {
    VARTYPE type;
    unsigned char bytes[16];
    int width;  // bytes of the stored representation
    int sign;   // the sign the saturation rule goes by
    std::string label;
};

int WidthOfType(VARTYPE t) {
    switch (t) {
    case VT_I1:
    case VT_UI1: return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL: return 2;
    case VT_R8:
    case VT_CY:
    case VT_DATE: return 8;
    case VT_DECIMAL: return 16;
    default: return 4;
    }
}

template <class T>
Source Raw(VARTYPE type, T value, int sign, std::string label) {
    Source s{};
    s.type = type;
    memcpy(s.bytes, &value, sizeof value);
    s.width = sizeof value;
    s.sign = sign;
    s.label = label;
    return s;
}

Source Int(VARTYPE type, long long v) {
    const std::string label = "type " + std::to_string(type) + " value " + std::to_string(v);
    const int sign = type == VT_BOOL ? (v != 0 ? -1 : 0) : (v > 0) - (v < 0);
    switch (type) {
    case VT_I1: return Raw(type, static_cast<signed char>(v), sign, label);
    case VT_UI1: return Raw(type, static_cast<unsigned char>(v), sign, label);
    case VT_I2:
    case VT_BOOL: return Raw(type, static_cast<short>(v), sign, label);
    case VT_UI2: return Raw(type, static_cast<unsigned short>(v), sign, label);
    case VT_UI4:
    case VT_UINT: return Raw(type, static_cast<uint32_t>(v), sign, label);
    default: return Raw(type, static_cast<int32_t>(v), sign, label);
    }
}

Source Real(VARTYPE type, double v) {
    const int sign = isnan(v) ? -1 : (v > 0) - (v < 0);
    char text[64];
    snprintf(text, sizeof text, "type %d value %.17g", type, v);
    if (type == VT_R4) return Raw(type, static_cast<float>(v), sign, text);
    return Raw(type, v, sign, text);
}

Source Cy(long long units) {
    CY value;
    value.int64 = units;
    return Raw(VT_CY, value, (units > 0) - (units < 0), "currency units " + std::to_string(units));
}

Source Dec(unsigned long long lo, unsigned long hi, int scale, bool negative) {
    DECIMAL value{};
    value.scale = static_cast<BYTE>(scale);
    value.sign = negative ? DECIMAL_NEG : 0;
    value.Hi32 = hi;
    value.Lo64 = lo;
    const int sign = (lo == 0 && hi == 0) ? 0 : (negative ? -1 : 1);
    return Raw(VT_DECIMAL, value, sign,
               "decimal " + std::string(negative ? "-" : "") + std::to_string(hi) + ":" + std::to_string(lo) +
                   "e-" + std::to_string(scale));
}

std::vector<Source> SourceValues() {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<Source> v;
    for (long long x : {0, 7, -5, 127, -128}) v.push_back(Int(VT_I1, x));
    for (long long x : {0, 7, 200, 255}) v.push_back(Int(VT_UI1, x));
    for (long long x : {0, 7, -5, 200, 300, -300, 32767, -32768}) v.push_back(Int(VT_I2, x));
    for (long long x : {0, 7, 200, 300, 40000, 65535}) v.push_back(Int(VT_UI2, x));
    for (VARTYPE t : {VT_I4, VT_ERROR, VT_INT})
        for (long long x : {0LL, 7LL, -5LL, 300LL, -300LL, 40000LL, -40000LL, 70000LL, -70000LL, 2147483647LL,
                            -2147483648LL})
            v.push_back(Int(t, x));
    v.push_back(Int(VT_ERROR, static_cast<int32_t>(DISP_E_PARAMNOTFOUND)));
    for (VARTYPE t : {VT_UI4, VT_UINT})
        for (long long x : {0LL, 7LL, 300LL, 40000LL, 70000LL, 2147483648LL, 4294967295LL}) v.push_back(Int(t, x));
    const double reals[] = {0,   7,     2.5,   3.5,     -2.5,   -5,      127.5,    255.5,     300.7,  -300.7,
                            40000.5, 70000, 3e9, 1e10, -1e10, FLT_MAX, -FLT_MAX, inf,       -inf,   nan,
                            -0.0};
    for (double x : reals) v.push_back(Real(VT_R4, x));
    for (double x : reals) v.push_back(Real(VT_R8, x));
    for (double x : {1e300, -1e300, DBL_MAX, -DBL_MAX, -128.5, 2147483647.5, -2147483648.5, 4294967295.5, 5e-324})
        v.push_back(Real(VT_R8, x));
    for (long long x : {0LL, 1LL, 15000LL, 25000LL, 35000LL, -15000LL, -25000LL, 3007000LL, -50000LL, 400000000LL,
                        -400000000LL, 700000000LL, 21474836475000LL, std::numeric_limits<long long>::max(),
                        std::numeric_limits<long long>::min()})
        v.push_back(Cy(x));
    // Dates by their day numbers D = DATE + 693960, and some raw dates.
    for (double d : {0.0, 7.5, 2.5, -5.0, 127.5, 255.5, 300.0, 40000.5, 70000.0}) v.push_back(Real(VT_DATE, d - 693960.0));
    for (double x : {0.0, 36526.0, 2958465.0, -657434.0, 1e300, -1e300, DBL_MAX, -DBL_MAX, inf, nan})
        v.push_back(Real(VT_DATE, x));
    for (long long x : {0, -1, 1, 300, -300, 32767, -32768}) v.push_back(Int(VT_BOOL, x));
    v.push_back(Dec(0, 0, 0, false));
    v.push_back(Dec(0, 0, 0, true));
    v.push_back(Dec(7, 0, 0, false));
    v.push_back(Dec(25, 0, 1, false));
    v.push_back(Dec(35, 0, 1, false));
    v.push_back(Dec(25, 0, 1, true));
    v.push_back(Dec(1275, 0, 1, false));
    v.push_back(Dec(3007, 0, 1, false));
    v.push_back(Dec(40000, 0, 0, false));
    v.push_back(Dec(40000, 0, 0, true));
    v.push_back(Dec(70000, 0, 0, true));
    v.push_back(Dec(4294967295ULL, 0, 0, false));
    v.push_back(Dec(~0ULL, 0, 0, false));
    v.push_back(Dec(~0ULL, 0xFFFFFFFFUL, 0, false));
    v.push_back(Dec(~0ULL, 0xFFFFFFFFUL, 0, true));
    v.push_back(Dec(1, 0, 28, false));
    v.push_back(Dec(5, 0, 29, false));  // a scale beyond 28: not a valid DECIMAL
    return v;
}

// ---- the expected results ----

template <class F>
struct Signature;
template <class In, class Out>
struct Signature<HRESULT(WINAPI *)(In, Out *)> {
    typedef In Input;
    typedef Out Output;
};

// Calls F on the value as stored, into out; out is written only on success.
template <auto F>
HRESULT Call(const void *value, void *out) {
    typedef typename Signature<decltype(F)>::Input In;
    typename Signature<decltype(F)>::Output result{};
    HRESULT hr;
    if constexpr (std::is_pointer_v<In>) {
        DECIMAL d;
        memcpy(&d, value, sizeof d);
        hr = F(&d, &result);
    } else {
        In v;
        memcpy(&v, value, sizeof v);
        hr = F(v, &result);
    }
    if (SUCCEEDED(hr)) memcpy(out, &result, sizeof result);
    return hr;
}

double DayNumber(const void *value) {
    double date;
    memcpy(&date, value, sizeof date);
    return date + 693960.0;
}

template <auto F>
HRESULT CallOnDay(const void *value, void *out) {
    const double d = DayNumber(value);
    return Call<F>(&d, out);
}

template <int N>
HRESULT Same(const void *value, void *out) {
    memcpy(out, value, N);
    return S_OK;
}

HRESULT CurrencyScaled(const void *value, void *out) {
    long long units;
    memcpy(&units, value, sizeof units);
    const double v = units * 0.0001;
    memcpy(out, &v, sizeof v);
    return S_OK;
}

HRESULT DayNumberAsDouble(const void *value, void *out) {
    const double v = DayNumber(value);
    memcpy(out, &v, sizeof v);
    return S_OK;
}

struct Expect {
    HRESULT (*oracle)(const void *value, void *out);
    char overflow;  // ' ' nothing stored, 's' extreme by sign, 'm' largest
};

struct Row {
    VARTYPE type;
    kaClassID naturalClass;
    bool direct;
    int elementSize;
    Expect cells[8];  // double, single, int8, uint8, int16, uint16, int32, uint32
};

const Row kRows[] = {
    {VT_I2, kaINT16_CLASS, true, 2,
     {{Call<VarR8FromI2>, ' '}, {Call<VarR4FromI2>, ' '}, {Call<VarI1FromI2>, 's'}, {Call<VarUI1FromI2>, 's'},
      {Same<2>, ' '}, {Call<VarUI2FromI2>, ' '}, {Call<VarI4FromI2>, ' '}, {Call<VarUI4FromI2>, ' '}}},
    {VT_I4, kaINT32_CLASS, true, 4,
     {{Call<VarR8FromI4>, ' '}, {Call<VarR4FromI4>, ' '}, {Call<VarI1FromI4>, 's'}, {Call<VarUI1FromI4>, 's'},
      {Call<VarI2FromI4>, 's'}, {Call<VarUI2FromI4>, 's'}, {Same<4>, ' '}, {Call<VarUI4FromI4>, ' '}}},
    {VT_R4, kaSINGLE_CLASS, true, 4,
     {{Call<VarR8FromR4>, ' '}, {Same<4>, ' '}, {Call<VarI1FromR4>, 's'}, {Call<VarUI1FromR4>, 's'},
      {Call<VarI2FromR4>, 's'}, {Call<VarUI2FromR4>, 's'}, {Call<VarI4FromR4>, 's'}, {Call<VarUI4FromR4>, 's'}}},
    {VT_R8, kaDOUBLE_CLASS, true, 8,
     {{Same<8>, ' '}, {Call<VarR4FromR8>, 's'}, {Call<VarI1FromR8>, 's'}, {Call<VarUI1FromR8>, 's'},
      {Call<VarI2FromR8>, 's'}, {Call<VarUI2FromR8>, 's'}, {Call<VarI4FromR8>, 's'}, {Call<VarUI4FromR8>, 's'}}},
    {VT_CY, kaDOUBLE_CLASS, false, 8,
     {{CurrencyScaled, ' '}, {Call<VarR4FromCy>, ' '}, {Call<VarI1FromCy>, 's'}, {Call<VarUI1FromCy>, 's'},
      {Call<VarI2FromCy>, 's'}, {Call<VarUI2FromCy>, 's'}, {Call<VarI4FromCy>, 's'}, {Call<VarUI4FromCy>, 's'}}},
    {VT_DATE, kaDOUBLE_CLASS, false, 8,
     {{DayNumberAsDouble, ' '}, {CallOnDay<VarR4FromR8>, ' '}, {CallOnDay<VarI1FromR8>, 'm'},
      {CallOnDay<VarUI1FromR8>, 'm'}, {CallOnDay<VarI2FromR8>, 'm'}, {CallOnDay<VarUI2FromR8>, 'm'},
      {CallOnDay<VarI4FromR8>, ' '}, {CallOnDay<VarUI4FromR8>, ' '}}},
    {VT_ERROR, kaINT32_CLASS, true, 4,
     {{Call<VarR8FromI4>, ' '}, {Call<VarR4FromI4>, ' '}, {Call<VarI1FromI4>, 's'}, {Call<VarUI1FromI4>, 's'},
      {Call<VarI2FromI4>, 's'}, {Call<VarUI2FromI4>, 's'}, {Same<4>, ' '}, {Call<VarUI4FromI4>, ' '}}},
    {VT_BOOL, kaINT16_CLASS, true, 2,
     {{Call<VarR8FromBool>, ' '}, {Call<VarR4FromBool>, ' '}, {Call<VarI1FromBool>, 's'},
      {Call<VarUI1FromBool>, 's'}, {Same<2>, ' '}, {Call<VarUI2FromBool>, ' '}, {Call<VarI4FromBool>, ' '},
      {Call<VarUI4FromBool>, ' '}}},
    {VT_DECIMAL, kaDOUBLE_CLASS, false, 16,
     {{Call<VarR8FromDec>, ' '}, {Call<VarR4FromDec>, ' '}, {Call<VarI1FromDec>, 's'}, {Call<VarUI1FromDec>, 's'},
      {Call<VarI2FromDec>, 's'}, {Call<VarUI2FromDec>, 's'}, {Call<VarI4FromDec>, 's'}, {Call<VarUI4FromDec>, 's'}}},
    {VT_I1, kaINT8_CLASS, true, 1,
     {{Call<VarR8FromI1>, ' '}, {Call<VarR4FromI1>, ' '}, {Same<1>, ' '}, {Call<VarUI1FromI1>, ' '},
      {Call<VarI2FromI1>, ' '}, {Call<VarUI2FromI1>, ' '}, {Call<VarI4FromI1>, ' '}, {Call<VarUI4FromI1>, ' '}}},
    {VT_UI1, kaUINT8_CLASS, true, 1,
     {{Call<VarR8FromUI1>, ' '}, {Call<VarR4FromUI1>, ' '}, {Call<VarI1FromUI1>, ' '}, {Same<1>, ' '},
      {Call<VarI2FromUI1>, ' '}, {Call<VarUI2FromUI1>, ' '}, {Call<VarI4FromUI1>, ' '}, {Call<VarUI4FromUI1>, ' '}}},
    {VT_UI2, kaUINT16_CLASS, true, 2,
     {{Call<VarR8FromUI2>, ' '}, {Call<VarR4FromUI2>, ' '}, {Call<VarI1FromUI2>, 's'}, {Call<VarUI1FromUI2>, 's'},
      {Call<VarI2FromUI2>, ' '}, {Same<2>, ' '}, {Call<VarI4FromUI2>, ' '}, {Call<VarUI4FromUI2>, ' '}}},
    {VT_UI4, kaUINT32_CLASS, true, 4,
     {{Call<VarR8FromUI4>, ' '}, {Call<VarR4FromUI4>, ' '}, {Call<VarI1FromUI4>, 's'}, {Call<VarUI1FromUI4>, 's'},
      {Call<VarI2FromUI4>, 's'}, {Call<VarUI2FromUI4>, 's'}, {Call<VarI4FromUI4>, ' '}, {Same<4>, ' '}}},
    {VT_INT, kaINT32_CLASS, true, 4,
     {{Call<VarR8FromI4>, ' '}, {Call<VarR4FromI4>, ' '}, {Call<VarI1FromI4>, 's'}, {Call<VarUI1FromI4>, 's'},
      {Call<VarI2FromI4>, 's'}, {Call<VarUI2FromI4>, 's'}, {Same<4>, ' '}, {Call<VarUI4FromI4>, ' '}}},
    {VT_UINT, kaUINT32_CLASS, true, 4,
     {{Call<VarR8FromUI4>, ' '}, {Call<VarR4FromUI4>, ' '}, {Call<VarI1FromUI4>, 's'}, {Call<VarUI1FromUI4>, 's'},
      {Call<VarI2FromUI4>, 's'}, {Call<VarUI2FromUI4>, 's'}, {Call<VarI4FromUI4>, ' '}, {Same<4>, ' '}}},
};

const Row *RowOf(VARTYPE t) {
    for (const Row &r : kRows)
        if (r.type == t) return &r;
    return nullptr;
}

// ---- target classes ----

void PutAs(kaClassID c, void *p, double v) {
    switch (c) {
    case kaDOUBLE_CLASS: *static_cast<double *>(p) = v; break;
    case kaSINGLE_CLASS: *static_cast<float *>(p) = static_cast<float>(v); break;
    case kaINT8_CLASS: *static_cast<int8_t *>(p) = static_cast<int8_t>(v); break;
    case kaUINT8_CLASS: *static_cast<uint8_t *>(p) = static_cast<uint8_t>(v); break;
    case kaINT16_CLASS: *static_cast<int16_t *>(p) = static_cast<int16_t>(v); break;
    case kaUINT16_CLASS: *static_cast<uint16_t *>(p) = static_cast<uint16_t>(v); break;
    case kaINT32_CLASS: *static_cast<int32_t *>(p) = static_cast<int32_t>(v); break;
    case kaUINT32_CLASS: *static_cast<uint32_t *>(p) = static_cast<uint32_t>(v); break;
    default: break;
    }
}

double GetAs(kaClassID c, const void *p) {
    switch (c) {
    case kaDOUBLE_CLASS: return *static_cast<const double *>(p);
    case kaSINGLE_CLASS: return *static_cast<const float *>(p);
    case kaINT8_CLASS: return *static_cast<const int8_t *>(p);
    case kaUINT8_CLASS: return *static_cast<const uint8_t *>(p);
    case kaINT16_CLASS: return *static_cast<const int16_t *>(p);
    case kaUINT16_CLASS: return *static_cast<const uint16_t *>(p);
    case kaINT32_CLASS: return *static_cast<const int32_t *>(p);
    case kaUINT32_CLASS: return *static_cast<const uint32_t *>(p);
    default: return 0;
    }
}

struct Target {
    kaClassID targetClass;
    int width;
    HRESULT (*convert)(VARTYPE type, const void *source, void *destination);
    double largest;
    double smallest;
};

const Target kTargets[8] = {
    {kaDOUBLE_CLASS, 8, [](VARTYPE t, const void *s, void *d) { return CoerceToDouble(t, s, static_cast<double *>(d)); },
     DBL_MAX, -DBL_MAX},
    {kaSINGLE_CLASS, 4, [](VARTYPE t, const void *s, void *d) { return CoerceToSingle(t, s, static_cast<float *>(d)); },
     3.4028234663852886e38, -3.4028234663852886e38},
    {kaINT8_CLASS, 1,
     [](VARTYPE t, const void *s, void *d) { return CoerceToInt8(t, s, static_cast<signed char *>(d)); }, 127, -128},
    {kaUINT8_CLASS, 1,
     [](VARTYPE t, const void *s, void *d) { return CoerceToUint8(t, s, static_cast<unsigned char *>(d)); }, 255, 0},
    {kaINT16_CLASS, 2, [](VARTYPE t, const void *s, void *d) { return CoerceToInt16(t, s, static_cast<short *>(d)); },
     32767, -32768},
    {kaUINT16_CLASS, 2,
     [](VARTYPE t, const void *s, void *d) { return CoerceToUint16(t, s, static_cast<unsigned short *>(d)); }, 65535,
     0},
    {kaINT32_CLASS, 4, [](VARTYPE t, const void *s, void *d) { return CoerceToInt32(t, s, static_cast<LONG *>(d)); },
     2147483647.0, -2147483648.0},
    {kaUINT32_CLASS, 4, [](VARTYPE t, const void *s, void *d) { return CoerceToUint32(t, s, static_cast<ULONG *>(d)); },
     4294967295.0, 0},
};

const Target &TargetOf(kaClassID c) { return kTargets[c - kaDOUBLE_CLASS]; }

// Two pages, the second inaccessible: At(n) is the last n bytes of the
// first, so touching a byte past them faults.
class GuardedPage {
public:
    GuardedPage() {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        size_ = info.dwPageSize;
        base_ = static_cast<unsigned char *>(VirtualAlloc(nullptr, 2 * size_, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        DWORD old;
        if (base_) VirtualProtect(base_ + size_, size_, PAGE_NOACCESS, &old);
    }
    ~GuardedPage() {
        if (base_) VirtualFree(base_, 0, MEM_RELEASE);
    }
    GuardedPage(const GuardedPage &) = delete;
    GuardedPage &operator=(const GuardedPage &) = delete;
    bool ok() const { return base_ != nullptr; }
    unsigned char *At(int n) const { return base_ + size_ - n; }

private:
    unsigned char *base_ = nullptr;
    size_t size_ = 0;
};

class CoerceTest : public HostLeakCheck {
protected:
    void SetUp() override {
        HostLeakCheck::SetUp();
        ASSERT_TRUE(source_.ok() && destination_.ok());
    }
    // The source's bytes at the end of the guarded source page.
    const void *Place(const Source &s) {
        unsigned char *p = source_.At(s.width);
        memcpy(p, s.bytes, s.width);
        return p;
    }
    // A zeroed element of the given width at the end of the guarded page.
    unsigned char *Zeroed(int width) {
        unsigned char *p = destination_.At(width);
        memset(p, 0, width);
        return p;
    }

    GuardedPage source_;
    GuardedPage destination_;
};

TEST_F(CoerceTest, MatrixAgainstTheAutomationCoercions) {
    bool overflowSeen[sizeof kRows / sizeof kRows[0]][8] = {};
    for (const Source &s : SourceValues()) {
        const Row *row = RowOf(s.type);
        ASSERT_NE(row, nullptr) << s.label;
        ASSERT_EQ(s.width, WidthOfType(s.type)) << s.label;
        for (int k = 0; k < 8; ++k) {
            const Target &t = kTargets[k];
            const Expect &cell = row->cells[k];
            SCOPED_TRACE(s.label + " into class " + std::to_string(t.targetClass));

            unsigned char expected[8] = {};
            unsigned char value[8] = {};
            const HRESULT hr = cell.oracle(s.bytes, value);
            if (SUCCEEDED(hr)) memcpy(expected, value, t.width);
            if (hr == DISP_E_OVERFLOW) {
                overflowSeen[row - kRows][k] = true;
                if (cell.overflow == 's') PutAs(t.targetClass, expected, s.sign > 0 ? t.largest : t.smallest);
                if (cell.overflow == 'm') PutAs(t.targetClass, expected, t.largest);
            }

            unsigned char *d = Zeroed(t.width);
            EXPECT_EQ(CoerceElement(s.type, row->naturalClass, row->direct, row->elementSize, Place(s), t.targetClass, d),
                      SUCCEEDED(hr) ? 1 : 0);
            EXPECT_EQ(memcmp(d, expected, t.width), 0) << "CoerceElement stored " << GetAs(t.targetClass, d)
                                                       << ", expected " << GetAs(t.targetClass, expected);

            d = Zeroed(t.width);
            EXPECT_EQ(t.convert(s.type, Place(s), d), hr);
            EXPECT_EQ(memcmp(d, expected, t.width), 0) << "converter stored " << GetAs(t.targetClass, d)
                                                       << ", expected " << GetAs(t.targetClass, expected);
        }
    }
    // The values above reach the overflow of every cell that saturates,
    // except the boolean ones: the platform's VarI1FromBool and
    // VarUI1FromBool keep the low byte of any boolean (300 gives 44) and
    // never report an overflow.
    for (const Row &row : kRows) {
        for (int k = 0; k < 8; ++k) {
            if (row.cells[k].overflow == ' ' || row.type == VT_BOOL) continue;
            EXPECT_TRUE(overflowSeen[&row - kRows][k])
                << "no value overflows type " << row.type << " into class " << kTargets[k].targetClass;
        }
    }
}

// Results stated as numbers, through CoerceElement.
TEST_F(CoerceTest, StatedResults) {
    struct Case {
        Source source;
        kaClassID targetClass;
        double stored;
    };
    const Case cases[] = {
        {Real(VT_R8, 1e300), kaSINGLE_CLASS, 3.4028234663852886e38},
        {Real(VT_R8, -1e300), kaSINGLE_CLASS, -3.4028234663852886e38},
        {Real(VT_R8, 300.7), kaUINT8_CLASS, 255},
        {Real(VT_R8, -5.0), kaUINT8_CLASS, 0},
        {Real(VT_R8, 2.5), kaINT16_CLASS, 2},
        {Real(VT_R8, 3.5), kaINT16_CLASS, 4},
        {Real(VT_R8, -2.5), kaINT16_CLASS, -2},
        {Real(VT_R4, 2.5), kaINT32_CLASS, 2},
        {Int(VT_UI2, 40000), kaINT16_CLASS, 0},
        {Int(VT_I4, 40000), kaINT16_CLASS, 32767},
        {Int(VT_I4, -40000), kaINT16_CLASS, -32768},
        {Real(VT_R8, -1e10), kaINT32_CLASS, -2147483648.0},
        {Real(VT_R8, -1e10), kaUINT32_CLASS, 0},
        {Real(VT_R8, 1e10), kaUINT32_CLASS, 4294967295.0},
        {Real(VT_DATE, 0.0), kaINT16_CLASS, 32767},
        {Real(VT_DATE, 0.0), kaUINT16_CLASS, 65535},
        {Real(VT_DATE, 0.0), kaINT8_CLASS, 127},
        {Real(VT_DATE, 0.0), kaUINT8_CLASS, 255},
        {Real(VT_DATE, 0.0), kaINT32_CLASS, 693960},
        {Real(VT_DATE, 0.0), kaDOUBLE_CLASS, 693960.0},
        {Real(VT_DATE, 0.0), kaSINGLE_CLASS, 693960.0},
        {Real(VT_DATE, 36526.25), kaDOUBLE_CLASS, 730486.25},
        {Real(VT_DATE, -1e300), kaINT16_CLASS, 32767},  // the largest value, whatever the sign
        {Real(VT_DATE, -693965.0), kaUINT32_CLASS, 0},  // D = -5: no saturation in this cell
        {Cy(-15000), kaDOUBLE_CLASS, -1.5},
        {Cy(12345), kaDOUBLE_CLASS, 1.2345000000000002},  // times 0.0001, not divided by 10000
        {Cy(-15000), kaINT32_CLASS, -2},
        {Cy(25000), kaINT32_CLASS, 2},
        {Cy(3007000), kaUINT8_CLASS, 255},
        {Int(VT_BOOL, -1), kaDOUBLE_CLASS, -1.0},
        {Int(VT_BOOL, -1), kaINT16_CLASS, -1},
        {Int(VT_BOOL, -1), kaINT32_CLASS, -1},
        {Int(VT_UI1, 200), kaINT8_CLASS, 0},
        {Int(VT_UI4, 3000000000LL), kaINT32_CLASS, 0},
        {Int(VT_UINT, 3000000000LL), kaINT32_CLASS, 0},
        {Int(VT_INT, 70000), kaINT16_CLASS, 32767},
        {Int(VT_UINT, 70000), kaUINT16_CLASS, 65535},
        {Int(VT_ERROR, static_cast<int32_t>(DISP_E_PARAMNOTFOUND)), kaDOUBLE_CLASS, -2147352572.0},
        {Dec(25, 0, 1, false), kaINT32_CLASS, 2},
        {Dec(35, 0, 1, false), kaINT32_CLASS, 4},
        {Dec(25, 0, 1, true), kaDOUBLE_CLASS, -2.5},
        {Dec(~0ULL, 0xFFFFFFFFUL, 0, true), kaINT16_CLASS, -32768},
        // A negative source into an unsigned target stores 0.
        {Int(VT_I1, -5), kaUINT8_CLASS, 0},
        {Int(VT_I1, -5), kaUINT16_CLASS, 0},
        {Int(VT_I1, -5), kaUINT32_CLASS, 0},
        {Int(VT_I2, -5), kaUINT8_CLASS, 0},
        {Int(VT_I2, -5), kaUINT16_CLASS, 0},
        {Int(VT_I2, -5), kaUINT32_CLASS, 0},
        {Int(VT_I4, -5), kaUINT16_CLASS, 0},
        {Int(VT_I4, -5), kaUINT32_CLASS, 0},
        {Real(VT_R4, -5), kaUINT32_CLASS, 0},
        {Cy(-50000), kaUINT16_CLASS, 0},
        {Dec(5, 0, 0, true), kaUINT32_CLASS, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.source.label + " into class " + std::to_string(c.targetClass));
        const Row *row = RowOf(c.source.type);
        unsigned char *d = Zeroed(TargetOf(c.targetClass).width);
        CoerceElement(c.source.type, row->naturalClass, row->direct, row->elementSize, Place(c.source), c.targetClass,
                      d);
        EXPECT_EQ(GetAs(c.targetClass, d), c.stored);
    }
}

TEST_F(CoerceTest, CoerceElementArguments) {
    const Source value = Int(VT_I4, 5);
    unsigned char *d = Zeroed(8);
    EXPECT_EQ(CoerceElement(VT_I4, kaINT32_CLASS, true, 4, nullptr, kaINT32_CLASS, d), -1);
    EXPECT_EQ(CoerceElement(VT_I4, kaINT32_CLASS, true, 4, Place(value), kaINT32_CLASS, nullptr), -1);
    // No natural class: nothing stored, whatever the target.
    EXPECT_EQ(CoerceElement(VT_BSTR, kaUNKNOWN_CLASS, false, 0, Place(value), kaINT32_CLASS, d), 0);
    // Targets without a converter.
    for (kaClassID target : std::initializer_list<kaClassID>{kaUNKNOWN_CLASS, kaCELL_CLASS, kaCHAR_CLASS, kaSPARSE_CLASS, kaINT64_CLASS,
                             kaUINT64_CLASS, kaOPAQUE_CLASS, 99, -1})
        EXPECT_EQ(CoerceElement(VT_I4, kaINT32_CLASS, true, 4, Place(value), target, d), 0) << target;
    // A direct copy whose size is not one target element is refused.
    EXPECT_EQ(CoerceElement(VT_I4, kaINT32_CLASS, true, 8, Place(value), kaINT32_CLASS, d), 0);
    const unsigned char zero[8] = {};
    EXPECT_EQ(memcmp(d, zero, 8), 0) << "something was stored";

    // A failed coercion reports 0: an invalid DECIMAL keeps the zero, an
    // overflow saturates.
    d = Zeroed(8);
    EXPECT_EQ(CoerceElement(VT_DECIMAL, kaDOUBLE_CLASS, false, 16, Place(Dec(5, 0, 29, false)), kaDOUBLE_CLASS, d), 0);
    EXPECT_EQ(memcmp(d, zero, 8), 0) << "something was stored";
    d = Zeroed(2);
    EXPECT_EQ(CoerceElement(VT_R8, kaDOUBLE_CLASS, true, 8, Place(Real(VT_R8, 1e300)), kaUINT16_CLASS, d), 0);
    EXPECT_EQ(GetAs(kaUINT16_CLASS, d), 65535);
}

TEST_F(CoerceTest, ConvertersRefuseNullPointersAndTypesWithoutACell) {
    const Source value = Int(VT_I4, 5);
    for (const Target &t : kTargets) {
        SCOPED_TRACE(t.targetClass);
        unsigned char *d = Zeroed(t.width);
        EXPECT_EQ(t.convert(VT_I4, nullptr, d), E_INVALIDARG);
        EXPECT_EQ(t.convert(VT_I4, Place(value), nullptr), E_INVALIDARG);
        for (VARTYPE type : std::initializer_list<VARTYPE>{VT_EMPTY, VT_NULL, VT_BSTR, VT_DISPATCH, VT_VARIANT, VT_UNKNOWN, VT_I8, VT_UI8,
                             static_cast<VARTYPE>(VT_BYREF | VT_I4), static_cast<VARTYPE>(VT_ARRAY | VT_I4)})
            EXPECT_EQ(t.convert(type, Place(value), d), DISP_E_BADVARTYPE) << type;
        const unsigned char zero[8] = {};
        EXPECT_EQ(memcmp(d, zero, t.width), 0);
    }
}

TEST_F(CoerceTest, SaturatedValues) {
    for (const Target &t : kTargets) {
        if (t.targetClass == kaDOUBLE_CLASS) continue;
        for (bool positive : {true, false}) {
            unsigned char *d = Zeroed(t.width);
            SaturateElement(t.targetClass, d, positive);
            EXPECT_EQ(GetAs(t.targetClass, d), positive ? t.largest : t.smallest) << t.targetClass;
        }
    }
    // Classes without a saturation table entry, and a null destination,
    // write nothing.
    for (kaClassID c : std::initializer_list<kaClassID>{kaDOUBLE_CLASS, kaCHAR_CLASS, kaINT64_CLASS, kaCELL_CLASS, 99}) {
        unsigned char *d = Zeroed(8);
        SaturateElement(c, d, true);
        const unsigned char zero[8] = {};
        EXPECT_EQ(memcmp(d, zero, 8), 0) << c;
    }
    SaturateElement(kaINT8_CLASS, nullptr, true);
}

TEST_F(CoerceTest, ValueSigns) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        Source source;
        int sign;
    };
    DECIMAL highOnly{};
    highOnly.Hi32 = 1;
    DECIMAL oddSign{};
    oddSign.Lo64 = 3;
    oddSign.sign = 1;  // any non-zero sign byte is negative
    const Case cases[] = {
        {Int(VT_I1, -1), -1},
        {Int(VT_I1, 127), 1},
        {Int(VT_I2, -32768), -1},
        {Int(VT_I4, 0), 0},
        {Int(VT_ERROR, static_cast<int32_t>(DISP_E_PARAMNOTFOUND)), -1},
        {Int(VT_INT, 9), 1},
        {Int(VT_UI1, 255), 1},
        {Int(VT_UI2, 0), 0},
        {Int(VT_UI4, 4294967295LL), 1},
        {Int(VT_UINT, 2147483648LL), 1},
        {Real(VT_R4, -0.5), -1},
        {Real(VT_R4, nan), -1},
        {Real(VT_R8, -0.0), 0},
        {Real(VT_R8, 1e-300), 1},
        {Real(VT_R8, nan), -1},
        {Real(VT_DATE, -1.0), -1},  // the raw date, not its day number
        {Real(VT_DATE, nan), -1},
        {Cy(-1), -1},
        {Cy(std::numeric_limits<long long>::max()), 1},
        {Int(VT_BOOL, -1), -1},
        {Int(VT_BOOL, 1), -1},
        {Int(VT_BOOL, 0), 0},
        {Dec(0, 0, 0, true), 0},
        {Dec(0, 0, 5, false), 0},
        {Dec(1, 0, 28, true), -1},
        {Dec(1, 0, 0, false), 1},
        {Raw(VT_DECIMAL, highOnly, 1, "decimal with only Hi32 set"), 1},
        {Raw(VT_DECIMAL, oddSign, -1, "decimal with sign byte 1"), -1},
        {Int(VT_BSTR, 5), 0},
        {Raw(VT_I8, 5LL, 0, "VT_I8 5"), 0},
    };
    for (const Case &c : cases) {
        unsigned char *p = source_.At(c.source.width);
        memcpy(p, c.source.bytes, c.source.width);
        EXPECT_EQ(ValueSign(c.source.type, p), c.sign) << c.source.label;
    }
    EXPECT_EQ(ValueSign(VT_I4, nullptr), 0);
}

}  // namespace
