#include "tests/support/scripted_component.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <cwctype>

#ifdef FANSETUP_FAKE_WIN32
#include "fake_win32/control.h"
#endif

namespace test_support {
namespace {

bool SameName(const std::wstring& a, const wchar_t* b) {
  size_t i = 0;
  for (; i < a.size(); ++i) {
    if (!b[i] || std::towlower(a[i]) != std::towlower(b[i])) return false;
  }
  return b[i] == 0;
}

SAFEARRAY* MakeArray(VARTYPE vt, const std::string& bytes, LONG lowerBound) {
  SAFEARRAYBOUND bound;
  bound.cElements = static_cast<ULONG>(bytes.size());
  bound.lLbound = lowerBound;
  SAFEARRAY* array = SafeArrayCreate(vt, 1, &bound);
  void* data = nullptr;
  if (array && SUCCEEDED(SafeArrayAccessData(array, &data))) {
    if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
    SafeArrayUnaccessData(array);
  }
  return array;
}

std::string ArrayBytes(SAFEARRAY* array) {
  if (!array || SafeArrayGetDim(array) != 1) return std::string();
  LONG lower = 0;
  LONG upper = -1;
  SafeArrayGetLBound(array, 1, &lower);
  SafeArrayGetUBound(array, 1, &upper);
  const LONG count = upper - lower + 1;
  void* data = nullptr;
  std::string bytes;
  if (count > 0 && SUCCEEDED(SafeArrayAccessData(array, &data))) {
    bytes.assign(static_cast<const char*>(data), static_cast<size_t>(count) * SafeArrayGetElemsize(array));
    SafeArrayUnaccessData(array);
  }
  return bytes;
}

// Every byte of an array as it lies in memory: the element size times the
// element count of every dimension, taken from the array itself.
std::string LaidOutBytes(const SAFEARRAY* array) {
  uint64_t bytes = array->cbElements;
  for (USHORT d = 0; d < array->cDims; ++d) bytes *= array->rgsabound[d].cElements;
  if (bytes == 0 || !array->pvData) return std::string();
  return std::string(static_cast<const char*>(array->pvData), static_cast<size_t>(bytes));
}

}  // namespace

HRESULT ScriptedComponent::QueryInterface(REFIID riid, void** object) {
  if (riid == IID_IUnknown || riid == IID_IDispatch) {
    *object = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG ScriptedComponent::AddRef() { return ++references_; }

// The test owns the last reference; the object is never deleted through it.
ULONG ScriptedComponent::Release() {
  if (references_ == 0) {
    ++overReleases_;
    return 0;
  }
  return --references_;
}

HRESULT ScriptedComponent::GetTypeInfoCount(UINT* count) {
  *count = 0;
  return S_OK;
}

HRESULT ScriptedComponent::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  *info = nullptr;
  return E_NOTIMPL;
}

// The component is another process: its own platform calls are not the
// caller's.
#ifdef FANSETUP_FAKE_WIN32
#define COMPONENT_OFF_THE_RECORD fake_win32::OffTheRecord offTheRecord
#else
#define COMPONENT_OFF_THE_RECORD
#endif

HRESULT ScriptedComponent::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) {
  COMPONENT_OFF_THE_RECORD;
  lookups.push_back(SeenLookup{names[0], riid == IID_NULL, count, lcid});
  for (const auto& [method, script] : scripts) {
    if (SameName(method, names[0]) && script.unknownName) {
      ids[0] = DISPID_UNKNOWN;
      return DISP_E_UNKNOWNNAME;
    }
  }
  for (size_t i = 0; i < names_.size(); ++i) {
    if (SameName(names_[i], names[0])) {
      ids[0] = static_cast<DISPID>(i + 1);
      return S_OK;
    }
  }
  names_.push_back(names[0]);
  ids[0] = static_cast<DISPID>(names_.size());
  return S_OK;
}

HRESULT ScriptedComponent::Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                  VARIANT* result, EXCEPINFO* exception, UINT* argumentError) {
  COMPONENT_OFF_THE_RECORD;
  ++invokes;
  if (id < 1 || static_cast<size_t>(id) > names_.size()) return DISP_E_MEMBERNOTFOUND;
  SeenCall call;
  call.method = names_[static_cast<size_t>(id) - 1];
  call.id = id;
  call.nullInterface = riid == IID_NULL;
  call.lcid = lcid;
  call.flags = flags;
  call.namedArguments = params->cNamedArgs;
  call.namedArgumentIds = params->rgdispidNamedArgs != nullptr;
  call.resultSupplied = result != nullptr;
  if (result) call.resultVt = result->vt;
  call.exceptionRequested = exception != nullptr;
  call.argumentErrorRequested = argumentError != nullptr;
  for (UINT i = 0; i < params->cArgs; ++i) {
    const VARIANT& v = params->rgvarg[i];
    SeenArgument seen;
    seen.vt = v.vt;
    if (v.vt == VT_UI4) seen.ui4 = V_UI4(&v);
    if (v.vt == (VT_BYREF | VT_UI4)) {
      seen.reference = V_UI4REF(&v);
      seen.ui4 = *V_UI4REF(&v);
    }
    if (v.vt == (VT_BYREF | VT_VARIANT)) {
      seen.reference = V_VARIANTREF(&v);
      const VARIANT* held = V_VARIANTREF(&v);
      seen.referencedVt = held->vt;
      if (held->vt & VT_ARRAY) {
        if (const SAFEARRAY* array = V_ARRAY(held)) {
          seen.arrayPresent = true;
          seen.arrayDimensions = array->cDims;
          seen.arrayElementSize = array->cbElements;
          seen.arrayElements = array->cDims ? array->rgsabound[0].cElements : 0;
          seen.arrayLocks = array->cLocks;
        }
        seen.arrayBytes = ArrayBytes(V_ARRAY(held));
        SafeArrayGetLBound(V_ARRAY(held), 1, &seen.arrayLowerBound);
      }
    }
    call.arguments.push_back(seen);
  }
  calls.push_back(call);
  auto it = scripts.find(call.method);
  const MethodScript script = it != scripts.end() ? it->second : MethodScript{};
  Perform(script, params);
  if (script.answer && result) script.answer(result);
  RecordLeft(*params, &calls.back());
  return script.result;
}

void ScriptedComponent::RecordLeft(const DISPPARAMS& params, SeenCall* call) {
  for (UINT i = 0; i < params.cArgs; ++i) {
    const VARIANT& v = params.rgvarg[i];
    if (v.vt != (VT_BYREF | VT_VARIANT)) continue;
    const VARIANT* held = V_VARIANTREF(&v);
    SeenArgument& seen = call->arguments[i];
    seen.leftVt = held->vt;
    seen.leftArray = (held->vt & VT_ARRAY) && V_ARRAY(held);
    if (seen.leftArray) seen.leftBytes = LaidOutBytes(V_ARRAY(held));
  }
}

void ScriptedComponent::Perform(const MethodScript& script, DISPPARAMS* params) {
  for (UINT i = 0; i < params->cArgs; ++i) {
    VARIANT& v = params->rgvarg[i];
    if (v.vt == (VT_BYREF | VT_UI4)) {
      // The length follows the array; any other by-reference number is a value.
      const bool isLength = i == 0 && params->cArgs >= 2 && params->rgvarg[1].vt == (VT_BYREF | VT_VARIANT);
      if (isLength && script.length) *V_UI4REF(&v) = *script.length;
      if (isLength && !script.length && script.data) *V_UI4REF(&v) = static_cast<ULONG>(script.data->size());
      if (!isLength && script.value) *V_UI4REF(&v) = *script.value;
    }
    if (v.vt != (VT_BYREF | VT_VARIANT)) continue;
    VARIANT* held = V_VARIANTREF(&v);
    if (script.leaveWith) {
      script.leaveWith(held);
      continue;
    }
    const std::string bytes = script.data.value_or(std::string());
    switch (script.leave) {
      case MethodScript::Leave::kSameArray: {
        void* data = nullptr;
        if (script.data && (held->vt & VT_ARRAY) && SUCCEEDED(SafeArrayAccessData(V_ARRAY(held), &data))) {
          const std::string current = ArrayBytes(V_ARRAY(held));
          std::memcpy(data, bytes.data(), std::min(bytes.size(), current.size()));
          SafeArrayUnaccessData(V_ARRAY(held));
        }
        break;
      }
      case MethodScript::Leave::kNewArray:
      case MethodScript::Leave::kUi1Array:
        VariantClear(held);
        held->vt = VT_ARRAY | (script.leave == MethodScript::Leave::kNewArray ? VT_I1 : VT_UI1);
        V_ARRAY(held) =
            MakeArray(script.leave == MethodScript::Leave::kNewArray ? VT_I1 : VT_UI1, bytes, script.lowerBound);
        break;
      case MethodScript::Leave::kI4:
        VariantClear(held);
        held->vt = VT_I4;
        V_I4(held) = 7;
        break;
      case MethodScript::Leave::kEmpty:
        VariantClear(held);
        break;
      case MethodScript::Leave::kBstr:
        VariantClear(held);
        held->vt = VT_BSTR;
        V_BSTR(held) = SysAllocString(L"x");
        break;
    }
  }
}

void RegisterAsBridgeComponent(ScriptedComponent* component) {
#ifdef FANSETUP_FAKE_WIN32
  static const CLSID kClsid = {0x5E7A11C0, 0x2B1D, 0x4F6A, {0x9C, 0x11, 0x0D, 0x3E, 0x55, 0x21, 0x7B, 0x42}};
  fake_win32::RegisterClass(L"trelvoCom.axdata", kClsid, CLSCTX_LOCAL_SERVER, [component]() -> IDispatch* {
    component->AddRef();
    return component;
  });
#else
  (void)component;
#endif
}

std::string Bytes(const std::string& hex) {
  std::string bytes;
  int high = -1;
  for (const char c : hex) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) continue;
    const int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::tolower(c) - 'a' + 10;
    if (high < 0) {
      high = digit;
    } else {
      bytes += static_cast<char>(high * 16 + digit);
      high = -1;
    }
  }
  return bytes;
}

std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (const char c : bytes) {
    hex += digits[(static_cast<unsigned char>(c) >> 4) & 0xF];
    hex += digits[static_cast<unsigned char>(c) & 0xF];
  }
  return hex;
}

}  // namespace test_support
