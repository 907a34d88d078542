// A spreadsheet Range for the tests, and objects that stand where a Range
// might: an Automation object whose type information names the Range
// interface {00020846-0000-0000-C000-000000000046}, built on the platform's
// own machinery. Its type information comes from a type library made at run
// time (CreateTypeLib2), and its IDispatch is DispGetIDsOfNames and
// DispInvoke over that type information, so names, dispatch identifiers,
// invoke kinds and arguments are checked as for any client's object.
//
//   Range    Value (get, put: VARIANT), Resize(RowSize, ColumnSize) (get:
//            a new Range), Rows, Columns (get: objects with Count), Count
//            (get: long, the number of cells)
//   Rows     what a Range's Rows answers: a Range whose Count is the number
//   Columns  of rows (of columns); it shares no cells with the Range
//   Plain    an object with a Value (get, put) only, whose type information
//            names another interface
//
// Cells: a grid of VARIANTs, rows by columns, numbered from 1. Value get
// answers the one cell's VARIANT for a 1-by-1 Range and otherwise a
// rows-by-columns SAFEARRAY of VT_VARIANT with lower bounds 1, as a
// spreadsheet does. Value put takes a scalar, which fills every cell, or a
// one- or two-dimensional SAFEARRAY: one dimension fills the first row, two
// fill rows by columns. Cells beyond the array get #N/A (VT_ERROR
// 0x800A07FA). (A spreadsheet repeats a single row or column over a larger
// Range; this double does not.) Resize answers a new Range of that size that
// starts with a copy of the cells the two have in common and shares nothing
// afterwards.
//
// Bookkeeping for the tests: every object made since the last Reset is kept
// (never freed before Reset, so that a test may still ask a released object
// what happened to it), with its references, the references to the type
// information it handed out and the type attributes not yet released (what
// GetTypeInfo hands out is the real type information behind a thin wrapper
// that counts these, and can fail GetTypeAttr on request).
// Problems() names whatever is out of balance. Every GetTypeInfo,
// GetIDsOfNames and Invoke call on any of the objects is logged in order.
// A test holds one reference to each object it creates and releases it when
// done; its fixture then expects Problems() to be empty and calls Reset().
//
// A member of the double that fails reaches the caller as DISP_E_EXCEPTION,
// as DispInvoke reports it; FailInvoke answers its HRESULT as it is.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <map>
#include <set>
#include <string>
#include <vector>

class RangeTypeInfo;

class RangeDouble : public IDispatch {
public:
    enum class Kind { Range, Rows, Columns, Plain };

    static const GUID kRangeIid;  // {00020846-0000-0000-C000-000000000046}
    static const GUID kPlainIid;  // the Plain object's interface
    static const VARIANT &NotAvailable();  // #N/A: VT_ERROR 0x800A07FA

    struct Call {
        enum Type { TypeInfo, Lookup, Invoke } type = TypeInfo;
        int object = 0;            // serial of the object called
        Kind kind = Kind::Range;   // and its kind
        std::wstring name;   // Lookup: the first name asked for; Invoke: the member of that id, or empty
        UINT names = 0;      // Lookup: how many names were asked for
        DISPID dispid = 0;   // Lookup: the id answered; Invoke: the id called
        WORD flags = 0;      // Invoke: the invoke kind
        std::vector<VARTYPE> argTypes;  // Invoke: the arguments in DISPPARAMS order (last first)
        std::vector<LONG> argValues;    // and their values where they are VT_I4 (else 0)
        std::vector<DISPID> named;      // Invoke: the named argument ids
        bool result = false, excepInfo = false, argErr = false;  // Invoke: which out parameters were given
        LCID lcid = 0;
        bool iidNull = true;  // Lookup, Invoke: the reserved interface id was IID_NULL
        HRESULT hr = S_OK;    // what the object answered
    };

    // A new object with one reference, the caller's. Cells start empty.
    static RangeDouble *Create(int rows, int columns);
    static RangeDouble *CreatePlain();
    // The double behind an interface pointer, or null when it is not one.
    static RangeDouble *From(IUnknown *object);

    // Every call to every object since the last Reset or ClearCalls.
    static const std::vector<Call> &Calls();
    static void ClearCalls();
    // Objects made since the last Reset that still have references.
    static int LiveObjects();
    // What is out of balance, one line each: objects with references left,
    // type information handed out and not released, type attributes not
    // released, releases beyond the last reference, calls on an object after
    // its last release. Empty when everything is in balance.
    static std::string Problems();
    // Frees every object made so far and clears the log.
    static void Reset();

    // This object's calls, and how many times a member was invoked on it.
    std::vector<Call> calls() const;
    int Invoked(const wchar_t *member) const;
    int LookedUp(const wchar_t *name) const;

    int serial() const { return serial_; }
    Kind kind() const { return kind_; }
    ULONG refs() const { return refs_; }
    int rows() const { return rows_; }
    int columns() const { return columns_; }
    // Cells, numbered from 1. SetCell stores a copy of the value.
    void SetCell(int row, int column, const VARIANT &value);
    void SetCell(int row, int column, double value);
    const VARIANT &Cell(int row, int column) const;

    // Behaviour a test may ask for:
    // GetTypeInfo answers hr without type information (S_OK: success and a
    // null pointer); GetTypeAttr of the type information it hands out
    // answers hr (S_OK: success and a null attribute).
    void FailTypeInfo(HRESULT hr);
    void FailTypeAttr(HRESULT hr);
    // Looking up the name, or invoking the member, answers hr.
    void FailLookup(const wchar_t *name, HRESULT hr);
    void FailInvoke(const wchar_t *member, HRESULT hr);
    // A property get of the member answers a copy of the value instead of
    // its own (VariantCopy: a by-reference value stays a reference, an
    // object gains a reference, held until this object's last release).
    void Answer(const wchar_t *member, const VARIANT &value);
    void AnswerObject(const wchar_t *member, IDispatch *object);
    // A property get of the member answers this object itself; this holds
    // no reference of its own, so an object whose Value is itself is freed.
    void AnswerSelf(const wchar_t *member);

    // How many references the type information this object handed out still
    // has, and how many of its type attributes are not released.
    ULONG typeInfoRefs() const;
    int openTypeAttrs() const;

    // IUnknown, IDispatch.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo **info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR *names, UINT count, LCID lcid,
                                            DISPID *ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS *params,
                                     VARIANT *result, EXCEPINFO *excepInfo, UINT *argErr) override;

    // The interface the type information describes, in its vtable order
    // (after IDispatch's seven methods). Plain has the first two only.
    virtual HRESULT STDMETHODCALLTYPE get_Value(VARIANT *value);
    virtual HRESULT STDMETHODCALLTYPE put_Value(VARIANT value);
    virtual HRESULT STDMETHODCALLTYPE get_Resize(VARIANT rowSize, VARIANT columnSize, IDispatch **range);
    virtual HRESULT STDMETHODCALLTYPE get_Rows(IDispatch **rows);
    virtual HRESULT STDMETHODCALLTYPE get_Columns(IDispatch **columns);
    virtual HRESULT STDMETHODCALLTYPE get_Count(LONG *count);

private:
    RangeDouble(Kind kind, int rows, int columns);
    virtual ~RangeDouble();
    RangeDouble(const RangeDouble &) = delete;
    RangeDouble &operator=(const RangeDouble &) = delete;
    static RangeDouble *Make(Kind kind, int rows, int columns);
    void ReleaseHeld();
    bool Released() const;  // counts a call made after the last release
    VARIANT &At(int row, int column);
    std::wstring MemberOf(DISPID id) const;
    void Log(Call call) const;

    Kind kind_;
    int serial_;
    ULONG refs_ = 1;
    int rows_;
    int columns_;
    std::vector<VARIANT> cells_;  // row by row
    std::map<std::wstring, HRESULT> lookupFailures_;
    std::map<std::wstring, HRESULT> invokeFailures_;
    std::map<std::wstring, VARIANT> answers_;
    std::set<std::wstring> answerSelf_;
    bool failTypeInfo_ = false;
    HRESULT typeInfoHr_ = S_OK;
    RangeTypeInfo *typeInfo_;  // what GetTypeInfo hands out
    mutable int lateCalls_ = 0;
    int overReleases_ = 0;
};
