// Automation objects in place of data: reading and writing an object's
// "Value" property, and fitting a spreadsheet Range to the shape of an array
// written into it. Everything is late-bound: every use looks its name up
// with GetIDsOfNames (one name at a time) and calls Invoke; no dispatch
// identifier is kept between calls, and every GetTypeInfo, GetIDsOfNames and
// Invoke call passes the user's locale as it is at the moment of the call.
//
// The objects come from clients, so nothing they answer is trusted: a null
// pointer, a failing call or a value of an unexpected type ends the
// operation with an HRESULT, and whatever was obtained is released first.
#include "varcon_internal.h"

#include <windows.h>
#include <oleauto.h>

#include <limits.h>
#include <string.h>

const GUID IID_Range = {0x00020846, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

namespace {

// A work VARIANT: initialised on creation, cleared on every way out.
class WorkVariant {
public:
    WorkVariant() { VariantInit(&v_); }
    ~WorkVariant() { VariantClear(&v_); }
    WorkVariant(const WorkVariant &) = delete;
    WorkVariant &operator=(const WorkVariant &) = delete;
    VARIANT *get() { return &v_; }

private:
    VARIANT v_;
};

// One interface reference, released on every way out.
template <class T>
class Held {
public:
    Held() = default;
    ~Held() {
        if (p_) p_->Release();
    }
    Held(const Held &) = delete;
    Held &operator=(const Held &) = delete;
    T **out() { return &p_; }
    T *get() const { return p_; }

private:
    T *p_ = nullptr;
};

// A type attribute, handed back to its type information on every way out.
class HeldTypeAttr {
public:
    explicit HeldTypeAttr(ITypeInfo *info) : info_(info) {}
    ~HeldTypeAttr() {
        if (attr_) info_->ReleaseTypeAttr(attr_);
    }
    HeldTypeAttr(const HeldTypeAttr &) = delete;
    HeldTypeAttr &operator=(const HeldTypeAttr &) = delete;
    TYPEATTR **out() { return &attr_; }
    TYPEATTR *get() const { return attr_; }

private:
    ITypeInfo *info_;
    TYPEATTR *attr_ = nullptr;
};

// How deep a chain of objects is followed when an object's Value is another
// object (whose Value may be yet another...): the object asked and up to 31
// objects behind it. An object whose Value is itself would otherwise recurse
// until the stack overflows; beyond the bound the read fails with
// kValueChainTooDeep, the platform's code for recursion that went too deep.
const int kMaxValueChain = 32;
const HRESULT kValueChainTooDeep = HRESULT_FROM_WIN32(ERROR_STACK_OVERFLOW);
static_assert(kMaxValueChain == kRangeValueChainLimit, "the bound callers are told of");

HRESULT LookUp(IDispatch *object, const wchar_t *name, DISPID *id) {
    LPOLESTR names[1] = {const_cast<LPOLESTR>(name)};  // GetIDsOfNames only reads the names
    return object->GetIDsOfNames(IID_NULL, names, 1, GetUserDefaultLCID(), id);
}

// Property get with the given arguments (none when args is null), result
// into *result; no exception information or argument error is asked for.
HRESULT GetProperty(IDispatch *object, DISPID id, DISPPARAMS *args, VARIANT *result) {
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    return object->Invoke(id, IID_NULL, GetUserDefaultLCID(), DISPATCH_PROPERTYGET, args ? args : &none, result,
                          nullptr, nullptr);
}

// Whether every reference that VariantCopyInd follows in the value is
// present. VariantCopyInd reads through a by-reference value without
// checking it (under Wine a null reference is a page fault), and for
// VT_VARIANT|VT_BYREF it also follows a reference held by the referenced
// VARIANT, so both levels are checked here.
bool ReferencesPresent(const VARIANT *value) {
    if (!(V_VT(value) & VT_BYREF)) return true;
    if (!V_BYREF(value)) return false;
    if (V_VT(value) != (VT_VARIANT | VT_BYREF)) return true;
    const VARIANT *referenced = V_VARIANTREF(value);
    return !(V_VT(referenced) & VT_BYREF) || V_BYREF(referenced) != nullptr;
}

// VariantCopyInd that answers E_POINTER for a value whose references are
// missing instead of reading through them.
HRESULT CopyDereferenced(VARIANT *target, VARIANT *source) {
    if (!ReferencesPresent(source)) return E_POINTER;
    return VariantCopyInd(target, source);
}

HRESULT ReadValueAt(IDispatch *object, VARIANT *result, int depth);

// RangeReadValue's work, with the depth of the object in a chain of Values
// (1 for the object the caller asked about).
HRESULT ReadValueAt(IDispatch *object, VARIANT *result, int depth) {
    WorkVariant value;
    WorkVariant nested;
    if (!object || !result) return E_INVALIDARG;
    if (V_VT(result) != VT_EMPTY) {
        const HRESULT hr = VariantClear(result);
        if (FAILED(hr)) return hr;  // not a VARIANT that can be overwritten safely
    }
    if (depth > kMaxValueChain) return kValueChainTooDeep;

    // An object without type information can be neither read nor written;
    // whether it is a Range makes no difference here.
    bool isRange = false;
    HRESULT hr = IsRangeObject(object, &isRange);
    if (FAILED(hr)) return hr;

    DISPID valueId = DISPID_UNKNOWN;
    hr = LookUp(object, L"Value", &valueId);
    if (FAILED(hr)) return hr;
    const HRESULT got = GetProperty(object, valueId, nullptr, value.get());
    if (FAILED(got)) return got;

    // A reference to a VARIANT: continue with the VARIANT it refers to.
    if (V_VT(value.get()) == (VT_VARIANT | VT_BYREF)) {
        hr = CopyDereferenced(nested.get(), value.get());
        if (FAILED(hr)) return hr;
        VariantClear(value.get());
        *value.get() = *nested.get();  // moved: the second work VARIANT no longer owns it
        VariantInit(nested.get());
    }

    // An object: its own Value is the value. A by-reference object that is
    // missing (null reference or null pointer) reads as empty.
    IDispatch *inner = nullptr;
    if (V_VT(value.get()) == VT_DISPATCH) {
        inner = V_DISPATCH(value.get());
        if (!inner) return E_INVALIDARG;
    } else if (V_VT(value.get()) == (VT_DISPATCH | VT_BYREF)) {
        if (!V_DISPATCHREF(value.get()) || !*V_DISPATCHREF(value.get())) return S_OK;
        inner = *V_DISPATCHREF(value.get());
    }
    if (inner) {
        const HRESULT read = ReadValueAt(inner, nested.get(), depth + 1);
        if (FAILED(read)) return read;
        hr = VariantCopyInd(result, nested.get());
        return FAILED(hr) ? hr : read;
    }

    // Anything else is the value itself, dereferenced. A copy that fails is
    // the read's failure: the result is then empty.
    hr = CopyDereferenced(result, value.get());
    return FAILED(hr) ? hr : got;
}

}  // namespace

bool GuidEquals(const GUID *a, const GUID *b) {
    if (!a || !b) return false;
    return memcmp(a, b, sizeof(GUID)) == 0;
}

HRESULT IsRangeObject(IDispatch *object, bool *isRange) {
    if (!object || !isRange) return E_INVALIDARG;
    *isRange = false;
    Held<ITypeInfo> info;
    HRESULT hr = object->GetTypeInfo(0, GetUserDefaultLCID(), info.out());
    if (FAILED(hr)) return hr;
    // A success without type information is an object that offers none.
    if (!info.get()) return E_NOINTERFACE;
    HeldTypeAttr attr(info.get());
    hr = info.get()->GetTypeAttr(attr.out());
    if (FAILED(hr)) return hr;
    if (!attr.get()) return E_NOINTERFACE;
    *isRange = GuidEquals(&attr.get()->guid, &IID_Range);
    return S_OK;
}

HRESULT RangeReadValue(IDispatch *object, VARIANT *result) { return ReadValueAt(object, result, 1); }

bool RangeShapeOf(const VARIANT *value, int *rows, int *columns) {
    if (!value || !rows || !columns) return false;
    if (!(V_VT(value) & VT_ARRAY) || (V_VT(value) & VT_BYREF)) return false;
    const SAFEARRAY *array = V_ARRAY(value);
    if (!array) return false;
    // The record stores the bounds last dimension first.
    const ULONG lastCount = array->cDims >= 1 ? array->rgsabound[0].cElements : 1;
    const ULONG nextCount = array->cDims >= 2 ? array->rgsabound[1].cElements : 1;
    if (lastCount > INT_MAX || nextCount > INT_MAX) return false;  // no Range has that many
    *columns = static_cast<int>(lastCount);
    *rows = static_cast<int>(nextCount);
    return true;
}

HRESULT RangePutValue(IDispatch *object, VARIANT *value) {
    if (!object || !value) return E_INVALIDARG;
    DISPID valueId = DISPID_UNKNOWN;
    const HRESULT hr = LookUp(object, L"Value", &valueId);
    if (FAILED(hr)) return hr;
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS args = {value, &named, 1, 1};
    return object->Invoke(valueId, IID_NULL, GetUserDefaultLCID(), DISPATCH_PROPERTYPUT, &args, nullptr, nullptr,
                          nullptr);
}

HRESULT RangeWriteValue(VARIANT *value, IDispatch **slot, bool fit) {
    if (!slot) return E_INVALIDARG;
    if (!*slot || !value) return S_OK;
    bool isRange = false;
    const HRESULT hr = IsRangeObject(*slot, &isRange);
    if (FAILED(hr)) return hr;

    if (isRange && fit) {
        int rows = 0;
        int columns = 0;
        bool shaped = RangeShapeOf(value, &rows, &columns);
        // An array held by reference gives the shape of the array it refers
        // to, when the reference and the array are both there: the Range is
        // fitted to what the put will store. The reference itself is never
        // taken for an array.
        if (!shaped && (V_VT(value) & VT_ARRAY) && (V_VT(value) & VT_BYREF) && V_ARRAYREF(value) &&
            *V_ARRAYREF(value)) {
            VARIANT direct;  // a view of the referenced array; owns nothing and is never cleared
            V_VT(&direct) = static_cast<VARTYPE>(V_VT(value) & ~VT_BYREF);
            V_ARRAY(&direct) = *V_ARRAYREF(value);
            shaped = RangeShapeOf(&direct, &rows, &columns);
        }
        // A failed resize does not stop the write: the value then goes into
        // the Range at its old size.
        if (shaped) RangeResize(slot, rows, columns);
    }
    return RangePutValue(*slot, value);
}

HRESULT RangeGetSize(IDispatch *range, int *rows, int *columns) {
    WorkVariant part;   // the Rows or Columns object
    WorkVariant count;  // its Count
    if (!range || !rows || !columns) return E_INVALIDARG;
    *rows = 0;
    *columns = 0;

    DISPID rowsId = DISPID_UNKNOWN;
    DISPID columnsId = DISPID_UNKNOWN;
    DISPID countId = DISPID_UNKNOWN;
    HRESULT hr = LookUp(range, L"Rows", &rowsId);
    if (SUCCEEDED(hr)) hr = LookUp(range, L"Columns", &columnsId);
    if (SUCCEEDED(hr)) hr = LookUp(range, L"Count", &countId);
    if (FAILED(hr)) return hr;

    // Rows, then Columns: each an object whose Count is the number wanted.
    // The Count identifier is the one the range answered.
    const DISPID partIds[2] = {rowsId, columnsId};
    int *const targets[2] = {rows, columns};
    for (int i = 0; i < 2; ++i) {
        VariantClear(part.get());
        VariantClear(count.get());
        hr = GetProperty(range, partIds[i], nullptr, part.get());
        if (FAILED(hr)) return hr;
        if (V_VT(part.get()) != VT_DISPATCH || !V_DISPATCH(part.get())) return S_OK;
        hr = GetProperty(V_DISPATCH(part.get()), countId, nullptr, count.get());
        if (FAILED(hr)) return hr;
        if (V_VT(count.get()) != VT_I4) {
            hr = VariantChangeType(count.get(), count.get(), 0, VT_I4);
            if (FAILED(hr)) return hr;
        }
        *targets[i] = V_I4(count.get());
    }
    return S_OK;
}

HRESULT RangeResize(IDispatch **slot, int rows, int columns) {
    WorkVariant resized;
    if (!slot || rows < 1 || columns < 1) return E_INVALIDARG;
    if (!*slot) return S_OK;

    int haveRows = 0;
    int haveColumns = 0;
    HRESULT hr = RangeGetSize(*slot, &haveRows, &haveColumns);
    if (FAILED(hr)) return hr;
    if (haveRows == rows && haveColumns == columns) return hr;

    DISPID resizeId = DISPID_UNKNOWN;
    hr = LookUp(*slot, L"Resize", &resizeId);
    if (FAILED(hr)) return hr;
    // Arguments go last first: the property receives the rows, then the
    // columns.
    VARIANT args[2];  // plain integers: nothing to clear
    VariantInit(&args[0]);
    VariantInit(&args[1]);
    V_VT(&args[0]) = VT_I4;
    V_I4(&args[0]) = columns;
    V_VT(&args[1]) = VT_I4;
    V_I4(&args[1]) = rows;
    DISPPARAMS params = {args, nullptr, 2, 0};
    hr = GetProperty(*slot, resizeId, &params, resized.get());
    if (FAILED(hr)) return hr;

    // The new Range takes the old one's place in the slot, with one
    // reference of its own; the result's reference goes when it is cleared.
    // The new one is held before the old one is let go, so that a Range that
    // answers itself is never released to nothing in between.
    if (V_VT(resized.get()) == VT_DISPATCH && V_DISPATCH(resized.get())) {
        IDispatch *fresh = V_DISPATCH(resized.get());
        fresh->AddRef();
        (*slot)->Release();
        *slot = fresh;
    }
    return hr;
}
