// A COM options object for the tests: an Automation object whose methods
// from position 7 on all take one pointer and answer from a table, so that
// one class serves as IConversionOptions, IArrayOptions and IDataOptions.
// It counts its references and logs the positions called.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <map>
#include <vector>

class OptionsDouble : public IDispatch {
public:
    // What the getter at a position answers: a 32-bit value (an integer or
    // a VARIANT_BOOL in its low 16 bits) or an object, and an HRESULT.
    struct Answer {
        LONG value = 0;
        OptionsDouble *object = nullptr;
        HRESULT hr = S_OK;
        bool isBool = false;
    };

    void SetInt(int position, LONG value) { answers_[position] = Answer{value, nullptr, S_OK, false}; }
    void SetBool(int position, VARIANT_BOOL value) { answers_[position] = Answer{value, nullptr, S_OK, true}; }
    void SetObject(int position, OptionsDouble *object) { answers_[position] = Answer{0, object, S_OK, false}; }
    void Fail(int position, HRESULT hr) { answers_[position].hr = hr; }

    ULONG refs() const { return refs_; }
    const std::vector<int> &calls() const { return calls_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch)) {
            *out = static_cast<IDispatch *>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs_; }  // lives on the test's stack
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS *, VARIANT *, EXCEPINFO *, UINT *) override {
        return E_NOTIMPL;
    }

    // Positions 7 to 18: getters at the odd positions, setters beside them.
    virtual HRESULT STDMETHODCALLTYPE Method7(void *p) { return Get(7, p); }
    virtual HRESULT STDMETHODCALLTYPE Method8(void *p) { return Get(8, p); }
    virtual HRESULT STDMETHODCALLTYPE Method9(void *p) { return Get(9, p); }
    virtual HRESULT STDMETHODCALLTYPE Method10(void *p) { return Get(10, p); }
    virtual HRESULT STDMETHODCALLTYPE Method11(void *p) { return Get(11, p); }
    virtual HRESULT STDMETHODCALLTYPE Method12(void *p) { return Get(12, p); }
    virtual HRESULT STDMETHODCALLTYPE Method13(void *p) { return Get(13, p); }
    virtual HRESULT STDMETHODCALLTYPE Method14(void *p) { return Get(14, p); }
    virtual HRESULT STDMETHODCALLTYPE Method15(void *p) { return Get(15, p); }
    virtual HRESULT STDMETHODCALLTYPE Method16(void *p) { return Get(16, p); }
    virtual HRESULT STDMETHODCALLTYPE Method17(void *p) { return Get(17, p); }
    virtual HRESULT STDMETHODCALLTYPE Method18(void *p) { return Get(18, p); }

private:
    HRESULT Get(int position, void *out) {
        calls_.push_back(position);
        const Answer &a = answers_[position];
        if (FAILED(a.hr)) return a.hr;
        if (a.object) {
            a.object->AddRef();
            *static_cast<IDispatch **>(out) = a.object;
        } else if (a.isBool) {
            *static_cast<VARIANT_BOOL *>(out) = static_cast<VARIANT_BOOL>(a.value);
        } else {
            *static_cast<LONG *>(out) = a.value;
        }
        return a.hr;
    }

    ULONG refs_ = 1;
    std::map<int, Answer> answers_;
    std::vector<int> calls_;
};
