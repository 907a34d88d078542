// Small helpers for tests that build and read VARIANTs, SAFEARRAYs and host
// arrays.
#pragma once

#include "hosttest.h"
#include "ka.h"

#include <windows.h>
#include <oleauto.h>

#include <cstring>
#include <string>
#include <vector>

// A VARIANT cleared when it goes out of scope.
struct Variant {
    VARIANT v;
    Variant() { VariantInit(&v); }
    ~Variant() { VariantClear(&v); }
    Variant(const Variant &) = delete;
    Variant &operator=(const Variant &) = delete;
    VARIANT *operator&() { return &v; }
    VARTYPE vt() const { return V_VT(&v); }
};

// A SAFEARRAY of the element type with the given element counts, in
// declaration order (first dimension first), and lower bounds (1 when not
// given). Elements start zeroed.
inline SAFEARRAY *MakeSafeArray(VARTYPE type, const std::vector<ULONG> &counts, const std::vector<LONG> &lower = {}) {
    std::vector<SAFEARRAYBOUND> bounds(counts.size());
    for (size_t k = 0; k < counts.size(); ++k) {
        bounds[k].cElements = counts[k];
        bounds[k].lLbound = k < lower.size() ? lower[k] : 1;
    }
    return SafeArrayCreate(type, static_cast<UINT>(counts.size()), bounds.data());
}

// The element counts of a SAFEARRAY in declaration order.
inline std::vector<ULONG> CountsOf(const SAFEARRAY *a) {
    std::vector<ULONG> counts;
    for (int k = a->cDims - 1; k >= 0; --k) counts.push_back(a->rgsabound[k].cElements);
    return counts;
}

inline std::vector<LONG> LowerBoundsOf(const SAFEARRAY *a) {
    std::vector<LONG> lower;
    for (int k = a->cDims - 1; k >= 0; --k) lower.push_back(a->rgsabound[k].lLbound);
    return lower;
}

// The elements of a SAFEARRAY in storage order, read as T.
template <class T>
std::vector<T> ElementsOf(SAFEARRAY *a) {
    std::vector<T> out;
    void *data = nullptr;
    if (FAILED(SafeArrayAccessData(a, &data))) return out;
    ULONG n = 1;
    for (USHORT k = 0; k < a->cDims; ++k) n *= a->rgsabound[k].cElements;
    out.assign(static_cast<T *>(data), static_cast<T *>(data) + n);
    SafeArrayUnaccessData(a);
    return out;
}

template <class T>
void FillSafeArray(SAFEARRAY *a, const std::vector<T> &values) {
    void *data = nullptr;
    if (FAILED(SafeArrayAccessData(a, &data))) return;
    memcpy(data, values.data(), sizeof(T) * values.size());
    SafeArrayUnaccessData(a);
}

// A host array of the class with the given real values (converted to the
// class's element type) in storage order.
template <class T>
kaArray *MakeHost(kaClassID classID, int m, int n, const std::vector<T> &values, kaComplexity c = kaREAL) {
    kaArray *a = kaCreateNumericMatrix(m, n, classID, c);
    if (a && kaGetPr(a) && !values.empty()) memcpy(kaGetPr(a), values.data(), sizeof(T) * values.size());
    return a;
}

inline kaArray *Doubles(int m, int n, const std::vector<double> &values) {
    return MakeHost(kaDOUBLE_CLASS, m, n, values);
}

// The text of a char array, narrowed (tests use ASCII).
inline std::string TextOf(const kaArray *a) {
    std::string s;
    if (kaGetClassID(a) != kaCHAR_CLASS || !kaGetPr(a)) return s;
    const kaChar *c = reinterpret_cast<const kaChar *>(kaGetPr(a));
    for (int i = 0; i < kaGetNumberOfElements(a); ++i) s += static_cast<char>(c[i]);
    return s;
}

inline std::vector<int> DimsOf(const kaArray *a) {
    const int *d = kaGetDimensions(a);
    return std::vector<int>(d, d + kaGetDimCount(a));
}

inline std::wstring WideOf(BSTR b) { return b ? std::wstring(b, SysStringLen(b)) : std::wstring(); }
