#include "dispatch_object.h"

#include <climits>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "call_log.h"
#include "module_folder.h"
#include "scenario.h"
#include "server_state.h"

namespace standin {

// {BE2E9526-0E63-434D-8747-4C521548595D}
const CLSID kStandinClsid = {0xbe2e9526, 0x0e63, 0x434d, {0x87, 0x47, 0x4c, 0x52, 0x15, 0x48, 0x59, 0x5d}};
const wchar_t kStandinClsidText[] = L"{BE2E9526-0E63-434D-8747-4C521548595D}";
const wchar_t kProgId[] = L"trelvoCom.axdata";

namespace {

enum class Parameter {
  kValue,     // VT_UI4 by value (anything that converts to it is taken)
  kValueRef,  // VT_BYREF | VT_UI4
  kArrayRef,  // VT_BYREF | VT_VARIANT, the VARIANT holding the byte array
};

struct Method {
  DISPID id;
  const wchar_t* name;
  const char* narrowName;
  UINT count;
  Parameter parameters[4];
};

using P = Parameter;
const Method kMethods[] = {
    {1, L"iAcpiInit", "iAcpiInit", 0, {}},
    {2, L"iAcpiGetItem", "iAcpiGetItem", 2, {P::kValue, P::kValueRef}},
    {3, L"iAcpiGetItemEx", "iAcpiGetItemEx", 3, {P::kValue, P::kValue, P::kValueRef}},
    {4, L"iAcpiSetItem", "iAcpiSetItem", 3, {P::kValue, P::kValue, P::kValue}},
    {5, L"iAcpiGetItemBuffer", "iAcpiGetItemBuffer", 4, {P::kValue, P::kValue, P::kArrayRef, P::kValueRef}},
    {6, L"iAcpiSetItemBuffer", "iAcpiSetItemBuffer", 4, {P::kValue, P::kValue, P::kArrayRef, P::kValueRef}},
    {7, L"iAcpiMbif", "iAcpiMbif", 2, {P::kArrayRef, P::kValueRef}},
    {8, L"iAcpiGGrp", "iAcpiGGrp", 3, {P::kValue, P::kArrayRef, P::kValueRef}},
    {9, L"iAcpiCallMethod", "iAcpiCallMethod", 3, {P::kValue, P::kArrayRef, P::kValueRef}},
};

const Method* MethodById(DISPID id) {
  for (const Method& method : kMethods) {
    if (method.id == id) return &method;
  }
  return nullptr;
}

const Method* MethodByName(const wchar_t* name) {
  if (!name) return nullptr;
  for (const Method& method : kMethods) {
    if (CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, name, -1, method.name, -1) == CSTR_EQUAL) return &method;
  }
  return nullptr;
}

// The DISPPARAMS slot of the method's parameter `index`: IDispatch takes
// the arguments in reverse, the last parameter at index 0.
VARIANTARG& Argument(const DISPPARAMS& parameters, const Method& method, UINT index) {
  return parameters.rgvarg[method.count - 1 - index];
}

void LogReject(const Method* method, const char* why, HRESULT hr, UINT argumentIndex = UINT_MAX) {
  JsonObject event;
  event.Add("event", "reject")
      .Add("method", method ? method->narrowName : "")
      .Add("why", why)
      .Add("hr", HexHresult(hr));
  if (argumentIndex != UINT_MAX) event.Add("argIndex", argumentIndex);
  LogEvent(event);
}

// Checks the call against the method's parameter list, the way an
// automation object with a type library would refuse it.
HRESULT CheckCall(const Method& method, REFIID riid, WORD flags, const DISPPARAMS& parameters, UINT* argumentError) {
  if (riid != IID_NULL) {
    LogReject(&method, "riid is not IID_NULL", DISP_E_UNKNOWNINTERFACE);
    return DISP_E_UNKNOWNINTERFACE;
  }
  if (!(flags & DISPATCH_METHOD)) {
    LogReject(&method, "not called as a method", DISP_E_MEMBERNOTFOUND);
    return DISP_E_MEMBERNOTFOUND;
  }
  if (parameters.cNamedArgs != 0) {
    LogReject(&method, "named arguments", DISP_E_NONAMEDARGS);
    return DISP_E_NONAMEDARGS;
  }
  if (parameters.cArgs != method.count || (method.count && !parameters.rgvarg)) {
    LogReject(&method, "argument count", DISP_E_BADPARAMCOUNT);
    return DISP_E_BADPARAMCOUNT;
  }
  for (UINT i = 0; i < method.count; ++i) {
    VARIANTARG& argument = Argument(parameters, method, i);
    const UINT slot = method.count - 1 - i;
    bool fits = false;
    switch (method.parameters[i]) {
      case Parameter::kValue: {
        VARIANT converted;
        VariantInit(&converted);
        fits = SUCCEEDED(VariantChangeType(&converted, &argument, 0, VT_UI4));
        VariantClear(&converted);
        break;
      }
      case Parameter::kValueRef:
        fits = V_VT(&argument) == (VT_BYREF | VT_UI4) && V_UI4REF(&argument);
        break;
      case Parameter::kArrayRef:
        fits = V_VT(&argument) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(&argument);
        break;
    }
    if (!fits) {
      if (argumentError) *argumentError = slot;
      LogReject(&method, "argument type", DISP_E_TYPEMISMATCH, slot);
      return DISP_E_TYPEMISMATCH;
    }
  }
  return S_OK;
}

HRESULT PutNewArray(VARIANT* target, VARTYPE elementType, const std::vector<BYTE>& bytes) {
  const HRESULT cleared = VariantClear(target);
  if (FAILED(cleared)) return cleared;
  SAFEARRAY* array = SafeArrayCreateVector(elementType, 0, static_cast<ULONG>(bytes.size()));
  if (!array) return E_OUTOFMEMORY;
  if (!bytes.empty()) {
    void* data = nullptr;
    const HRESULT locked = SafeArrayAccessData(array, &data);
    if (FAILED(locked)) {
      SafeArrayDestroy(array);
      return locked;
    }
    std::memcpy(data, bytes.data(), bytes.size());
    SafeArrayUnaccessData(array);
  }
  V_VT(target) = static_cast<VARTYPE>(VT_ARRAY | elementType);
  V_ARRAY(target) = array;
  return S_OK;
}

// Writes `bytes` into the array the VARIANT holds, at most its size.
HRESULT OverwriteArray(VARIANT* target, const std::vector<BYTE>& bytes) {
  if ((V_VT(target) & (VT_ARRAY | VT_BYREF)) != VT_ARRAY || !V_ARRAY(target)) return S_OK;
  SAFEARRAY* array = V_ARRAY(target);
  if (SafeArrayGetDim(array) != 1) return S_OK;
  LONG lower = 0;
  LONG upper = -1;
  SafeArrayGetLBound(array, 1, &lower);
  SafeArrayGetUBound(array, 1, &upper);
  const long long elements = static_cast<long long>(upper) - lower + 1;
  if (elements <= 0) return S_OK;
  const unsigned long long size = static_cast<unsigned long long>(elements) * SafeArrayGetElemsize(array);
  const size_t count = bytes.size() < size ? bytes.size() : static_cast<size_t>(size);
  if (count == 0) return S_OK;
  void* data = nullptr;
  const HRESULT locked = SafeArrayAccessData(array, &data);
  if (FAILED(locked)) return locked;
  std::memcpy(data, bytes.data(), count);
  SafeArrayUnaccessData(array);
  return S_OK;
}

HRESULT LeaveArray(VARIANT* target, const MethodScenario& scenario) {
  static const std::vector<BYTE> kNoBytes;
  const std::vector<BYTE>& bytes = scenario.data ? *scenario.data : kNoBytes;
  switch (scenario.array) {
    case ArrayMode::kSame:
      return scenario.data ? OverwriteArray(target, bytes) : S_OK;
    case ArrayMode::kNew:
      return PutNewArray(target, VT_I1, bytes);
    case ArrayMode::kUi1:
      return PutNewArray(target, VT_UI1, bytes);
    case ArrayMode::kI4: {
      const HRESULT cleared = VariantClear(target);
      if (FAILED(cleared)) return cleared;
      V_VT(target) = VT_I4;
      V_I4(target) = 7;
      return S_OK;
    }
    case ArrayMode::kEmpty:
      return VariantClear(target);
    case ArrayMode::kBstr: {
      const HRESULT cleared = VariantClear(target);
      if (FAILED(cleared)) return cleared;
      BSTR text = SysAllocString(L"x");
      if (!text) return E_OUTOFMEMORY;
      V_VT(target) = VT_BSTR;
      V_BSTR(target) = text;
      return S_OK;
    }
  }
  return S_OK;
}

// What the scenario makes the method leave in its by-reference arguments.
HRESULT Answer(const Method& method, const DISPPARAMS& parameters, const MethodScenario& scenario) {
  VARIANT* array = nullptr;
  ULONG* value = nullptr;
  for (UINT i = 0; i < method.count; ++i) {
    VARIANTARG& argument = Argument(parameters, method, i);
    if (method.parameters[i] == Parameter::kArrayRef) array = V_VARIANTREF(&argument);
    if (method.parameters[i] == Parameter::kValueRef) value = V_UI4REF(&argument);
  }
  if (!array) {
    // iAcpiGetItem, iAcpiGetItemEx: the value; the others leave nothing.
    if (value && scenario.value) *value = *scenario.value;
    return S_OK;
  }
  const HRESULT left = LeaveArray(array, scenario);
  if (FAILED(left)) return left;
  if (scenario.length) {
    *value = *scenario.length;
  } else if (scenario.data) {
    *value = static_cast<ULONG>(scenario.data->size());
  }
  return S_OK;
}

class DispatchObject final : public IDispatch {
 public:
  explicit DispatchObject(LONG alive) { LogEvent(JsonObject().Add("event", "create").Add("objects", alive)); }
  ~DispatchObject() {
    const LONG alive = TheServer().ObjectDestroyed();
    LogEvent(JsonObject().Add("event", "release").Add("objects", alive));
  }
  DispatchObject(const DispatchObject&) = delete;
  DispatchObject& operator=(const DispatchObject&) = delete;

  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch) {
      *object = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    CallScope call;
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    CallScope call;
    if (info) *info = nullptr;
    return DISP_E_BADINDEX;
  }
  STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
  STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* parameters, VARIANT* result,
                      EXCEPINFO* exception, UINT* argumentError) override;

 private:
  LONG references_ = 1;
};

STDMETHODIMP DispatchObject::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) {
  CallScope call;
  if (!names || !ids || count == 0) return E_INVALIDARG;
  const std::wstring name = names[0] ? names[0] : L"";
  const Method* method = MethodByName(names[0]);
  HRESULT hr = S_OK;
  if (riid != IID_NULL) {
    hr = DISP_E_UNKNOWNINTERFACE;
  } else if (!method) {
    hr = DISP_E_UNKNOWNNAME;
  } else {
    const MethodScenario scenario = ReadMethodScenario(method->narrowName);
    if (scenario.unknown) hr = DISP_E_UNKNOWNNAME;
  }
  ids[0] = SUCCEEDED(hr) ? method->id : DISPID_UNKNOWN;
  // The methods expose no parameter names.
  for (UINT i = 1; i < count; ++i) {
    ids[i] = DISPID_UNKNOWN;
    if (SUCCEEDED(hr)) hr = DISP_E_UNKNOWNNAME;
  }
  LogEvent(JsonObject()
               .Add("event", "lookup")
               .Add("name", ToUtf8(name))
               .Add("lcid", static_cast<unsigned long>(lcid))
               .Add("cNames", count)
               .Add("dispid", static_cast<long>(ids[0]))
               .Add("hr", HexHresult(hr)));
  return hr;
}

STDMETHODIMP DispatchObject::Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* parameters,
                                    VARIANT* /*result*/, EXCEPINFO* exception, UINT* argumentError) {
  CallScope call;
  const Method* method = MethodById(id);
  const UINT argumentCount = parameters ? parameters->cArgs : 0;
  LogEvent(JsonObject()
               .Add("event", "invoke")
               .Add("method", method ? method->narrowName : "")
               .Add("dispid", static_cast<long>(id))
               .Add("lcid", static_cast<unsigned long>(lcid))
               .Add("flags", static_cast<unsigned>(flags))
               .Add("cArgs", argumentCount)
               .Add("cNamedArgs", parameters ? parameters->cNamedArgs : 0U)
               .AddRaw("args", ArgumentsJson(parameters ? parameters->rgvarg : nullptr, argumentCount)));
  if (!method) {
    LogReject(nullptr, "unknown dispid", DISP_E_MEMBERNOTFOUND);
    return DISP_E_MEMBERNOTFOUND;
  }
  if (!parameters) {
    LogReject(method, "no DISPPARAMS", E_POINTER);
    return E_POINTER;
  }

  const MethodScenario scenario = ReadMethodScenario(method->narrowName);
  if (!scenario.errors.empty()) {
    for (const std::string& error : scenario.errors) {
      LogEvent(JsonObject().Add("event", "scenario-error").Add("section", method->narrowName).Add("key", error));
    }
    LogReject(method, "scenario.ini unreadable", E_UNEXPECTED);
    return E_UNEXPECTED;
  }
  if (scenario.die) {
    LogEvent(JsonObject().Add("event", "die").Add("method", method->narrowName));
    ExitProcess(3);
  }
  if (!scenario.waitFor.empty()) {
    // Holds its caller in the middle of the call, for a test to change the
    // world meanwhile: until the file exists, at most a minute.
    LogEvent(JsonObject().Add("event", "waiting").Add("method", method->narrowName).Add("for", scenario.waitFor));
    for (int waited = 0; waited < 60000 && GetFileAttributesA(scenario.waitFor.c_str()) == INVALID_FILE_ATTRIBUTES;
         waited += 10) {
      Sleep(10);
    }
  }

  const HRESULT checked = CheckCall(*method, riid, flags, *parameters, argumentError);
  if (FAILED(checked)) return checked;
  const HRESULT answered = Answer(*method, *parameters, scenario);
  const HRESULT hr = FAILED(answered) ? answered : scenario.hresult.value_or(S_OK);
  if (hr == DISP_E_EXCEPTION && exception) {
    std::memset(exception, 0, sizeof *exception);
    exception->scode = E_FAIL;
    exception->bstrSource = SysAllocString(kProgId);
  }
  LogEvent(JsonObject()
               .Add("event", "return")
               .Add("method", method->narrowName)
               .Add("hr", HexHresult(hr))
               .AddRaw("args", ArgumentsJson(parameters->rgvarg, parameters->cArgs)));
  return hr;
}

class ClassFactory final : public IClassFactory {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *object = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  // The factory lives as long as the process.
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }

  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    CallScope call;
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    LONG alive = 0;
    if (!TheServer().ObjectCreating(alive)) {
      LogReject(nullptr, "server is ending", CO_E_SERVER_STOPPING);
      return CO_E_SERVER_STOPPING;
    }
    auto* created = new (std::nothrow) DispatchObject(alive);
    if (!created) {
      TheServer().ObjectDestroyed();
      return E_OUTOFMEMORY;
    }
    const HRESULT hr = created->QueryInterface(riid, object);
    created->Release();
    return hr;
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    CallScope call;
    TheServer().LockServer(lock != FALSE);
    return S_OK;
  }
};

}  // namespace

IClassFactory* TheClassFactory() {
  static ClassFactory factory;
  return &factory;
}

}  // namespace standin
