// The Range double: type information made at run time with CreateTypeLib2,
// IDispatch by DispGetIDsOfNames and DispInvoke over it (see the header).
#include "range_double.h"

#include <oleauto.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>

const GUID RangeDouble::kRangeIid = {0x00020846, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const GUID RangeDouble::kPlainIid = {0x5c1d7e02, 0x3b4a, 0x4f6e, {0x9a, 0x1b, 0x2d, 0x3c, 0x4e, 0x5f, 0x60, 0x71}};

namespace {

// Dispatch identifiers of the two interfaces. The Plain object's Value has
// an id of its own, so that an id looked up on one object and used on
// another shows.
const DISPID kValueId = 0x10;
const DISPID kResizeId = 0x11;
const DISPID kRowsId = 0x12;
const DISPID kColumnsId = 0x13;
const DISPID kCountId = 0x14;
const DISPID kPlainValueId = 0x20;

const SCODE kNotAvailable = static_cast<SCODE>(0x800A07FA);

[[noreturn]] void Broken(const char *what, HRESULT hr) {
    std::fprintf(stderr, "Range double: %s failed with 0x%08lx\n", what, static_cast<unsigned long>(hr));
    std::abort();
}

void Check(HRESULT hr, const char *what) {
    if (FAILED(hr)) Broken(what, hr);
}

// One member of an interface being built: its id, kind, parameters (the
// return value last, as [out, retval]) and names (member first; a put's
// value parameter has none).
struct Member {
    DISPID id;
    INVOKEKIND kind;
    std::vector<ELEMDESC> params;
    std::vector<const wchar_t *> names;
};

ELEMDESC Param(TYPEDESC *type, USHORT flags) {
    ELEMDESC e = {};
    e.tdesc = *type;
    e.paramdesc.wParamFlags = flags;
    return e;
}

// An interface derived from IDispatch whose members are called through the
// vtable (so that DispInvoke calls the double's methods), laid out and
// returned as type information.
ITypeInfo *BuildInterface(ICreateTypeLib2 *library, ITypeInfo *dispatch, const wchar_t *name, const GUID &iid,
                          std::vector<Member> &members) {
    ICreateTypeInfo *created = nullptr;
    Check(library->CreateTypeInfo(const_cast<LPOLESTR>(name), TKIND_INTERFACE, &created), "CreateTypeInfo");
    Check(created->SetGuid(iid), "SetGuid");
    Check(created->SetTypeFlags(TYPEFLAG_FDISPATCHABLE | TYPEFLAG_FOLEAUTOMATION), "SetTypeFlags");
    HREFTYPE base = 0;
    Check(created->AddRefTypeInfo(dispatch, &base), "AddRefTypeInfo");
    Check(created->AddImplType(0, base), "AddImplType");
    for (UINT i = 0; i < members.size(); ++i) {
        Member &m = members[i];
        FUNCDESC f = {};
        f.memid = m.id;
        f.funckind = FUNC_PUREVIRTUAL;
        f.invkind = m.kind;
        f.callconv = CC_STDCALL;
        f.cParams = static_cast<SHORT>(m.params.size());
        f.lprgelemdescParam = m.params.data();
        f.elemdescFunc.tdesc.vt = VT_HRESULT;
        Check(created->AddFuncDesc(i, &f), "AddFuncDesc");
        Check(created->SetFuncAndParamNames(i, const_cast<LPOLESTR *>(m.names.data()),
                                            static_cast<UINT>(m.names.size())),
              "SetFuncAndParamNames");
    }
    Check(created->LayOut(), "LayOut");
    ITypeInfo *info = nullptr;
    Check(created->QueryInterface(IID_ITypeInfo, reinterpret_cast<void **>(&info)), "QueryInterface ITypeInfo");
    created->Release();
    return info;
}

struct TypeInfos {
    ITypeInfo *range = nullptr;
    ITypeInfo *plain = nullptr;
};

// Made once, kept for the life of the process.
const TypeInfos &Types() {
    static TypeInfos types = [] {
        TypeInfos t;
        ITypeLib *stdole = nullptr;
        Check(LoadTypeLib(L"stdole2.tlb", &stdole), "LoadTypeLib stdole2.tlb");
        ITypeInfo *dispatch = nullptr;
        Check(stdole->GetTypeInfoOfGuid(IID_IDispatch, &dispatch), "GetTypeInfoOfGuid IDispatch");
        ICreateTypeLib2 *library = nullptr;
        Check(CreateTypeLib2(SYS_WIN32, const_cast<LPOLESTR>(L"rangedouble.tlb"), &library), "CreateTypeLib2");

        TYPEDESC variant = {};
        variant.vt = VT_VARIANT;
        TYPEDESC variantOut = {};
        variantOut.vt = VT_PTR;
        variantOut.lptdesc = &variant;
        TYPEDESC object = {};
        object.vt = VT_DISPATCH;
        TYPEDESC objectOut = {};
        objectOut.vt = VT_PTR;
        objectOut.lptdesc = &object;
        TYPEDESC count = {};
        count.vt = VT_I4;
        TYPEDESC countOut = {};
        countOut.vt = VT_PTR;
        countOut.lptdesc = &count;
        const USHORT in = PARAMFLAG_FIN;
        const USHORT optional = PARAMFLAG_FIN | PARAMFLAG_FOPT;
        const USHORT retval = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;

        std::vector<Member> range = {
            {kValueId, INVOKE_PROPERTYGET, {Param(&variantOut, retval)}, {L"Value", L"value"}},
            {kValueId, INVOKE_PROPERTYPUT, {Param(&variant, in)}, {L"Value"}},
            {kResizeId,
             INVOKE_PROPERTYGET,
             {Param(&variant, optional), Param(&variant, optional), Param(&objectOut, retval)},
             {L"Resize", L"RowSize", L"ColumnSize", L"range"}},
            {kRowsId, INVOKE_PROPERTYGET, {Param(&objectOut, retval)}, {L"Rows", L"rows"}},
            {kColumnsId, INVOKE_PROPERTYGET, {Param(&objectOut, retval)}, {L"Columns", L"columns"}},
            {kCountId, INVOKE_PROPERTYGET, {Param(&countOut, retval)}, {L"Count", L"count"}},
        };
        std::vector<Member> plain = {
            {kPlainValueId, INVOKE_PROPERTYGET, {Param(&variantOut, retval)}, {L"Value", L"value"}},
            {kPlainValueId, INVOKE_PROPERTYPUT, {Param(&variant, in)}, {L"Value"}},
        };
        t.range = BuildInterface(library, dispatch, L"Range", RangeDouble::kRangeIid, range);
        t.plain = BuildInterface(library, dispatch, L"ValueHolder", RangeDouble::kPlainIid, plain);
        library->Release();
        dispatch->Release();
        stdole->Release();
        return t;
    }();
    return types;
}

struct Registry {
    std::vector<RangeDouble *> objects;
    std::vector<RangeDouble::Call> calls;
    int nextSerial = 1;
};

Registry &Reg() {
    static Registry registry;
    return registry;
}

const char *KindName(RangeDouble::Kind kind) {
    switch (kind) {
    case RangeDouble::Kind::Range: return "range";
    case RangeDouble::Kind::Rows: return "rows";
    case RangeDouble::Kind::Columns: return "columns";
    case RangeDouble::Kind::Plain: return "plain";
    }
    return "?";
}

// Whether VariantCopyInd can follow every reference in the value (it does
// not check them itself).
bool ReferencesPresent(const VARIANT &value) {
    if (!(V_VT(&value) & VT_BYREF)) return true;
    if (!V_BYREF(&value)) return false;
    if (V_VT(&value) != (VT_VARIANT | VT_BYREF)) return true;
    const VARIANT *referenced = V_VARIANTREF(&value);
    return !(V_VT(referenced) & VT_BYREF) || V_BYREF(referenced) != nullptr;
}

// One element of a one- or two-dimensional SAFEARRAY as a VARIANT.
HRESULT ElementOf(SAFEARRAY *array, VARTYPE type, LONG *indices, VARIANT *element) {
    VariantInit(element);
    if (type == VT_VARIANT) return SafeArrayGetElement(array, indices, element);
    if (type == VT_RECORD) return DISP_E_TYPEMISMATCH;
    if (type == VT_DECIMAL) {
        const HRESULT hr = SafeArrayGetElement(array, indices, &V_DECIMAL(element));
        V_VT(element) = SUCCEEDED(hr) ? VT_DECIMAL : VT_EMPTY;  // the DECIMAL covers the type field
        return hr;
    }
    const HRESULT hr = SafeArrayGetElement(array, indices, &V_I8(element));  // the value union
    if (SUCCEEDED(hr)) V_VT(element) = type;
    return hr;
}

// A Resize argument: omitted keeps the current size.
HRESULT SizeArgument(VARIANT &argument, int current, int *size) {
    if (V_VT(&argument) == VT_ERROR && V_ERROR(&argument) == DISP_E_PARAMNOTFOUND) {
        *size = current;
        return S_OK;
    }
    VARIANT converted;
    VariantInit(&converted);
    if (!ReferencesPresent(argument) || FAILED(VariantChangeType(&converted, &argument, 0, VT_I4)))
        return DISP_E_TYPEMISMATCH;
    *size = V_I4(&converted);
    return *size >= 1 ? S_OK : E_INVALIDARG;
}

}  // namespace

// The type information an object hands out: the real one, with its
// references and the type attributes taken from it counted, and GetTypeAttr
// able to fail on request. Everything else is passed through.
class RangeTypeInfo final : public ITypeInfo {
public:
    explicit RangeTypeInfo(ITypeInfo *real) : real_(real) {}
    ULONG refs() const { return refs_; }
    int openAttrs() const { return openAttrs_; }
    int overReleases() const { return overReleases_; }
    void FailTypeAttr(HRESULT hr) {
        failAttr_ = true;
        attrHr_ = hr;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_ITypeInfo)) {
            *out = static_cast<ITypeInfo *>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        if (refs_ == 0) {
            ++overReleases_;
            return 0;
        }
        return --refs_;
    }
    HRESULT STDMETHODCALLTYPE GetTypeAttr(TYPEATTR **attr) override {
        if (failAttr_) {
            if (attr) *attr = nullptr;
            return attrHr_;
        }
        const HRESULT hr = real_->GetTypeAttr(attr);
        if (SUCCEEDED(hr)) ++openAttrs_;
        return hr;
    }
    void STDMETHODCALLTYPE ReleaseTypeAttr(TYPEATTR *attr) override {
        if (openAttrs_ == 0) {
            ++overReleases_;
            return;
        }
        --openAttrs_;
        real_->ReleaseTypeAttr(attr);
    }
    HRESULT STDMETHODCALLTYPE GetTypeComp(ITypeComp **comp) override { return real_->GetTypeComp(comp); }
    HRESULT STDMETHODCALLTYPE GetFuncDesc(UINT index, FUNCDESC **desc) override {
        return real_->GetFuncDesc(index, desc);
    }
    HRESULT STDMETHODCALLTYPE GetVarDesc(UINT index, VARDESC **desc) override {
        return real_->GetVarDesc(index, desc);
    }
    HRESULT STDMETHODCALLTYPE GetNames(MEMBERID id, BSTR *names, UINT max, UINT *count) override {
        return real_->GetNames(id, names, max, count);
    }
    HRESULT STDMETHODCALLTYPE GetRefTypeOfImplType(UINT index, HREFTYPE *type) override {
        return real_->GetRefTypeOfImplType(index, type);
    }
    HRESULT STDMETHODCALLTYPE GetImplTypeFlags(UINT index, INT *flags) override {
        return real_->GetImplTypeFlags(index, flags);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(LPOLESTR *names, UINT count, MEMBERID *ids) override {
        return real_->GetIDsOfNames(names, count, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(PVOID instance, MEMBERID id, WORD flags, DISPPARAMS *params, VARIANT *result,
                                     EXCEPINFO *excepInfo, UINT *argErr) override {
        return real_->Invoke(instance, id, flags, params, result, excepInfo, argErr);
    }
    HRESULT STDMETHODCALLTYPE GetDocumentation(MEMBERID id, BSTR *name, BSTR *doc, DWORD *context,
                                               BSTR *file) override {
        return real_->GetDocumentation(id, name, doc, context, file);
    }
    HRESULT STDMETHODCALLTYPE GetDllEntry(MEMBERID id, INVOKEKIND kind, BSTR *dll, BSTR *name,
                                          WORD *ordinal) override {
        return real_->GetDllEntry(id, kind, dll, name, ordinal);
    }
    HRESULT STDMETHODCALLTYPE GetRefTypeInfo(HREFTYPE type, ITypeInfo **info) override {
        return real_->GetRefTypeInfo(type, info);
    }
    HRESULT STDMETHODCALLTYPE AddressOfMember(MEMBERID id, INVOKEKIND kind, PVOID *address) override {
        return real_->AddressOfMember(id, kind, address);
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID iid, PVOID *object) override {
        return real_->CreateInstance(outer, iid, object);
    }
    HRESULT STDMETHODCALLTYPE GetMops(MEMBERID id, BSTR *mops) override { return real_->GetMops(id, mops); }
    HRESULT STDMETHODCALLTYPE GetContainingTypeLib(ITypeLib **library, UINT *index) override {
        return real_->GetContainingTypeLib(library, index);
    }
    void STDMETHODCALLTYPE ReleaseFuncDesc(FUNCDESC *desc) override { real_->ReleaseFuncDesc(desc); }
    void STDMETHODCALLTYPE ReleaseVarDesc(VARDESC *desc) override { real_->ReleaseVarDesc(desc); }

private:
    ITypeInfo *real_;
    ULONG refs_ = 0;
    int openAttrs_ = 0;
    int overReleases_ = 0;
    bool failAttr_ = false;
    HRESULT attrHr_ = S_OK;
};

// ---- making, finding and accounting for objects ----

const VARIANT &RangeDouble::NotAvailable() {
    static const VARIANT na = [] {
        VARIANT v;
        VariantInit(&v);
        V_VT(&v) = VT_ERROR;
        V_ERROR(&v) = kNotAvailable;
        return v;
    }();
    return na;
}

RangeDouble::RangeDouble(Kind kind, int rows, int columns)
    : kind_(kind), serial_(Reg().nextSerial++), rows_(rows), columns_(columns),
      cells_(static_cast<size_t>(rows) * columns),
      typeInfo_(new RangeTypeInfo(kind == Kind::Plain ? Types().plain : Types().range)) {
    for (VARIANT &cell : cells_) VariantInit(&cell);
}

RangeDouble::~RangeDouble() {
    ReleaseHeld();
    delete typeInfo_;
}

RangeDouble *RangeDouble::Make(Kind kind, int rows, int columns) {
    RangeDouble *object = new RangeDouble(kind, rows, columns);
    Reg().objects.push_back(object);
    return object;
}

RangeDouble *RangeDouble::Create(int rows, int columns) {
    if (rows < 1 || columns < 1) Broken("Create with a size below 1", E_INVALIDARG);
    return Make(Kind::Range, rows, columns);
}

RangeDouble *RangeDouble::CreatePlain() { return Make(Kind::Plain, 1, 1); }

RangeDouble *RangeDouble::From(IUnknown *object) {
    for (RangeDouble *d : Reg().objects)
        if (static_cast<IUnknown *>(static_cast<IDispatch *>(d)) == object) return d;
    return nullptr;
}

const std::vector<RangeDouble::Call> &RangeDouble::Calls() { return Reg().calls; }

void RangeDouble::ClearCalls() { Reg().calls.clear(); }

int RangeDouble::LiveObjects() {
    return static_cast<int>(std::count_if(Reg().objects.begin(), Reg().objects.end(),
                                          [](const RangeDouble *d) { return d->refs_ > 0; }));
}

std::string RangeDouble::Problems() {
    std::ostringstream out;
    for (const RangeDouble *d : Reg().objects) {
        std::ostringstream name;
        name << "object " << d->serial_ << " (" << KindName(d->kind_) << " " << d->rows_ << "x" << d->columns_
             << ")";
        if (d->refs_ > 0) out << name.str() << " has " << d->refs_ << " reference(s) left\n";
        if (d->overReleases_ > 0) out << name.str() << " released " << d->overReleases_ << " time(s) too many\n";
        if (d->lateCalls_ > 0) out << name.str() << " called " << d->lateCalls_ << " time(s) after its last release\n";
        if (d->typeInfo_->refs() > 0)
            out << name.str() << ": its type information has " << d->typeInfo_->refs() << " reference(s) left\n";
        if (d->typeInfo_->openAttrs() > 0)
            out << name.str() << ": " << d->typeInfo_->openAttrs() << " type attribute(s) not released\n";
        if (d->typeInfo_->overReleases() > 0)
            out << name.str() << ": its type information or attributes released " << d->typeInfo_->overReleases()
                << " time(s) too many\n";
    }
    return out.str();
}

void RangeDouble::Reset() {
    Registry &reg = Reg();
    // What the objects hold first (it may be other objects), then the
    // objects themselves.
    for (RangeDouble *d : reg.objects) d->ReleaseHeld();
    for (RangeDouble *d : reg.objects) delete d;
    reg.objects.clear();
    reg.calls.clear();
    reg.nextSerial = 1;
}

void RangeDouble::ReleaseHeld() {
    for (VARIANT &cell : cells_) VariantClear(&cell);
    std::map<std::wstring, VARIANT> answers;
    answers.swap(answers_);  // a held object may lead back here
    for (auto &a : answers) VariantClear(&a.second);
}

bool RangeDouble::Released() const {
    if (refs_ > 0) return false;
    ++lateCalls_;
    return true;
}

std::vector<RangeDouble::Call> RangeDouble::calls() const {
    std::vector<Call> mine;
    for (const Call &c : Reg().calls)
        if (c.object == serial_) mine.push_back(c);
    return mine;
}

int RangeDouble::Invoked(const wchar_t *member) const {
    int n = 0;
    for (const Call &c : Reg().calls)
        if (c.object == serial_ && c.type == Call::Invoke && c.name == member) ++n;
    return n;
}

int RangeDouble::LookedUp(const wchar_t *name) const {
    int n = 0;
    for (const Call &c : Reg().calls)
        if (c.object == serial_ && c.type == Call::Lookup && c.name == name) ++n;
    return n;
}

void RangeDouble::Log(Call call) const {
    call.object = serial_;
    call.kind = kind_;
    Reg().calls.push_back(std::move(call));
}

// ---- cells and behaviour ----

VARIANT &RangeDouble::At(int row, int column) {
    if (row < 1 || row > rows_ || column < 1 || column > columns_) Broken("a cell outside the range", E_INVALIDARG);
    return cells_[static_cast<size_t>(row - 1) * columns_ + (column - 1)];
}

void RangeDouble::SetCell(int row, int column, const VARIANT &value) {
    Check(VariantCopy(&At(row, column), const_cast<VARIANT *>(&value)), "SetCell");
}

void RangeDouble::SetCell(int row, int column, double value) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_R8;
    V_R8(&v) = value;
    SetCell(row, column, v);
}

const VARIANT &RangeDouble::Cell(int row, int column) const {
    return const_cast<RangeDouble *>(this)->At(row, column);
}

void RangeDouble::FailTypeInfo(HRESULT hr) {
    failTypeInfo_ = true;
    typeInfoHr_ = hr;
}

void RangeDouble::FailTypeAttr(HRESULT hr) { typeInfo_->FailTypeAttr(hr); }

void RangeDouble::FailLookup(const wchar_t *name, HRESULT hr) { lookupFailures_[name] = hr; }

void RangeDouble::FailInvoke(const wchar_t *member, HRESULT hr) { invokeFailures_[member] = hr; }

void RangeDouble::Answer(const wchar_t *member, const VARIANT &value) {
    VARIANT &held = answers_[member];
    VariantClear(&held);
    Check(VariantCopy(&held, const_cast<VARIANT *>(&value)), "Answer");
}

void RangeDouble::AnswerObject(const wchar_t *member, IDispatch *object) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_DISPATCH;
    V_DISPATCH(&v) = object;
    Answer(member, v);  // the copy takes its own reference
}

void RangeDouble::AnswerSelf(const wchar_t *member) { answerSelf_.insert(member); }

ULONG RangeDouble::typeInfoRefs() const { return typeInfo_->refs(); }

int RangeDouble::openTypeAttrs() const { return typeInfo_->openAttrs(); }

std::wstring RangeDouble::MemberOf(DISPID id) const {
    if (kind_ == Kind::Plain) return id == kPlainValueId ? L"Value" : L"";
    switch (id) {
    case kValueId: return L"Value";
    case kResizeId: return L"Resize";
    case kRowsId: return L"Rows";
    case kColumnsId: return L"Columns";
    case kCountId: return L"Count";
    }
    return L"";
}

// ---- IUnknown, IDispatch ----

HRESULT STDMETHODCALLTYPE RangeDouble::QueryInterface(REFIID iid, void **out) {
    if (!out) return E_POINTER;
    Released();
    const GUID &own = kind_ == Kind::Plain ? kPlainIid : kRangeIid;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, own)) {
        *out = static_cast<IDispatch *>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE RangeDouble::AddRef() {
    Released();
    return ++refs_;
}

ULONG STDMETHODCALLTYPE RangeDouble::Release() {
    if (refs_ == 0) {
        ++overReleases_;
        return 0;
    }
    if (--refs_ == 0) ReleaseHeld();  // the object stays for the test to look at
    return refs_;
}

HRESULT STDMETHODCALLTYPE RangeDouble::GetTypeInfoCount(UINT *count) {
    Released();
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE RangeDouble::GetTypeInfo(UINT index, LCID lcid, ITypeInfo **info) {
    Released();
    Call call;
    call.type = Call::TypeInfo;
    call.lcid = lcid;
    if (!info) {
        call.hr = E_POINTER;
    } else if (index != 0) {
        *info = nullptr;
        call.hr = DISP_E_BADINDEX;
    } else if (failTypeInfo_) {
        *info = nullptr;
        call.hr = typeInfoHr_;
    } else {
        typeInfo_->AddRef();
        *info = typeInfo_;
    }
    Log(call);
    return call.hr;
}

HRESULT STDMETHODCALLTYPE RangeDouble::GetIDsOfNames(REFIID iid, LPOLESTR *names, UINT count, LCID lcid,
                                                     DISPID *ids) {
    Released();
    Call call;
    call.type = Call::Lookup;
    call.names = count;
    call.lcid = lcid;
    call.iidNull = IsEqualIID(iid, IID_NULL);
    if (names && count > 0 && names[0]) call.name = names[0];
    if (!call.iidNull) {
        call.hr = DISP_E_UNKNOWNINTERFACE;
    } else if (lookupFailures_.count(call.name)) {
        call.hr = lookupFailures_[call.name];
    } else {
        call.hr = DispGetIDsOfNames(kind_ == Kind::Plain ? Types().plain : Types().range, names, count, ids);
        if (SUCCEEDED(call.hr) && count > 0) call.dispid = ids[0];
    }
    Log(call);
    return call.hr;
}

HRESULT STDMETHODCALLTYPE RangeDouble::Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS *params,
                                              VARIANT *result, EXCEPINFO *excepInfo, UINT *argErr) {
    Released();
    Call call;
    call.type = Call::Invoke;
    call.name = MemberOf(id);
    call.dispid = id;
    call.flags = flags;
    call.lcid = lcid;
    call.iidNull = IsEqualIID(iid, IID_NULL);
    call.result = result != nullptr;
    call.excepInfo = excepInfo != nullptr;
    call.argErr = argErr != nullptr;
    if (params) {
        for (UINT i = 0; i < params->cArgs && params->rgvarg; ++i) {
            call.argTypes.push_back(V_VT(&params->rgvarg[i]));
            call.argValues.push_back(V_VT(&params->rgvarg[i]) == VT_I4 ? V_I4(&params->rgvarg[i]) : 0);
        }
        for (UINT i = 0; i < params->cNamedArgs && params->rgdispidNamedArgs; ++i)
            call.named.push_back(params->rgdispidNamedArgs[i]);
    }
    const bool get = (flags & DISPATCH_PROPERTYGET) != 0;
    if (!call.iidNull) {
        call.hr = DISP_E_UNKNOWNINTERFACE;
    } else if (invokeFailures_.count(call.name)) {
        call.hr = invokeFailures_[call.name];
    } else if (get && answerSelf_.count(call.name)) {
        if (result) {
            VariantInit(result);
            AddRef();
            V_VT(result) = VT_DISPATCH;
            V_DISPATCH(result) = this;
        }
    } else if (get && answers_.count(call.name)) {
        if (result) {
            VariantInit(result);
            call.hr = VariantCopy(result, &answers_[call.name]);
        }
    } else {
        call.hr = DispInvoke(static_cast<IDispatch *>(this), kind_ == Kind::Plain ? Types().plain : Types().range,
                             id, flags, params, result, excepInfo, argErr);
    }
    Log(call);
    return call.hr;
}

// ---- the members ----

HRESULT STDMETHODCALLTYPE RangeDouble::get_Value(VARIANT *value) {
    if (!value) return E_POINTER;
    VariantInit(value);
    if (rows_ == 1 && columns_ == 1) return VariantCopy(value, &cells_[0]);
    SAFEARRAYBOUND bounds[2] = {{static_cast<ULONG>(rows_), 1}, {static_cast<ULONG>(columns_), 1}};
    SAFEARRAY *array = SafeArrayCreate(VT_VARIANT, 2, bounds);
    if (!array) return E_OUTOFMEMORY;
    for (LONG r = 1; r <= rows_; ++r) {
        for (LONG c = 1; c <= columns_; ++c) {
            LONG indices[2] = {r, c};
            const HRESULT hr = SafeArrayPutElement(array, indices, &At(r, c));
            if (FAILED(hr)) {
                SafeArrayDestroy(array);
                return hr;
            }
        }
    }
    V_VT(value) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(value) = array;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE RangeDouble::put_Value(VARIANT value) {
    if (!ReferencesPresent(value)) return E_POINTER;
    VARIANT in;
    VariantInit(&in);
    HRESULT hr = VariantCopyInd(&in, &value);
    if (FAILED(hr)) return hr;

    std::vector<VARIANT> fresh(cells_.size());
    for (VARIANT &cell : fresh) VariantInit(&cell);
    if (V_VT(&in) & VT_ARRAY) {
        SAFEARRAY *array = V_ARRAY(&in);
        VARTYPE type = VT_EMPTY;
        const UINT dims = array ? SafeArrayGetDim(array) : 0;
        if (!array) hr = E_INVALIDARG;
        else if (dims != 1 && dims != 2) hr = DISP_E_TYPEMISMATCH;
        else hr = SafeArrayGetVartype(array, &type);
        // Bounds in declaration order: rows then columns; one dimension is
        // a row.
        LONG lower[2] = {1, 1};
        LONG upper[2] = {1, 1};
        for (UINT d = 0; SUCCEEDED(hr) && d < dims; ++d) {
            const UINT slot = dims == 1 ? 1 : d;
            hr = SafeArrayGetLBound(array, d + 1, &lower[slot]);
            if (SUCCEEDED(hr)) hr = SafeArrayGetUBound(array, d + 1, &upper[slot]);
        }
        for (int r = 1; SUCCEEDED(hr) && r <= rows_; ++r) {
            for (int c = 1; SUCCEEDED(hr) && c <= columns_; ++c) {
                VARIANT &cell = fresh[static_cast<size_t>(r - 1) * columns_ + (c - 1)];
                const LONG row = lower[0] + r - 1;
                const LONG column = lower[1] + c - 1;
                if (row > upper[0] || column > upper[1]) {
                    cell = NotAvailable();
                    continue;
                }
                LONG indices[2] = {row, column};
                hr = ElementOf(array, type, dims == 1 ? &indices[1] : indices, &cell);
            }
        }
    } else {
        for (VARIANT &cell : fresh) {
            hr = VariantCopy(&cell, &in);
            if (FAILED(hr)) break;
        }
    }
    VariantClear(&in);
    if (FAILED(hr)) {
        for (VARIANT &cell : fresh) VariantClear(&cell);
        return hr;
    }
    for (VARIANT &cell : cells_) VariantClear(&cell);
    cells_.swap(fresh);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE RangeDouble::get_Resize(VARIANT rowSize, VARIANT columnSize, IDispatch **range) {
    if (!range) return E_POINTER;
    *range = nullptr;
    int rows = 0;
    int columns = 0;
    HRESULT hr = SizeArgument(rowSize, rows_, &rows);
    if (SUCCEEDED(hr)) hr = SizeArgument(columnSize, columns_, &columns);
    if (FAILED(hr)) return hr;
    RangeDouble *resized = Make(Kind::Range, rows, columns);
    for (int r = 1; r <= std::min(rows, rows_); ++r)
        for (int c = 1; c <= std::min(columns, columns_); ++c) resized->SetCell(r, c, At(r, c));
    *range = resized;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE RangeDouble::get_Rows(IDispatch **rows) {
    if (!rows) return E_POINTER;
    *rows = Make(Kind::Rows, rows_, columns_);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE RangeDouble::get_Columns(IDispatch **columns) {
    if (!columns) return E_POINTER;
    *columns = Make(Kind::Columns, rows_, columns_);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE RangeDouble::get_Count(LONG *count) {
    if (!count) return E_POINTER;
    switch (kind_) {
    case Kind::Rows: *count = rows_; break;
    case Kind::Columns: *count = columns_; break;
    default: *count = rows_ * columns_; break;
    }
    return S_OK;
}
