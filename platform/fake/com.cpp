// Component model: per-thread initialisation and a table of classes that
// stand in for registered servers.
#include <cstdio>
#include <cwctype>
#include <map>

#include "fake_win32/control.h"
#include "internal.h"

const IID IID_NULL = {0x00000000, 0x0000, 0x0000, {0, 0, 0, 0, 0, 0, 0, 0}};
const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

namespace fake_win32 {
namespace {

using internal::Enter;
using internal::Hex;
using internal::Ptr;
using internal::Text;

struct Class {
  std::wstring progId;
  CLSID clsid;
  DWORD context;
  std::function<IDispatch*()> create;
};

struct ComState {
  std::vector<Class> classes;
  int generation = 0;  // bumped by Reset, so that threads' flags go stale
};

ComState& State() {
  static ComState state;
  return state;
}

thread_local int initialisedGeneration = -1;

std::string GuidText(const GUID& g) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

bool EqualsNoCase(const std::wstring& a, const wchar_t* b) {
  size_t i = 0;
  for (; i < a.size(); ++i) {
    if (!b[i] || std::towlower(a[i]) != std::towlower(b[i])) return false;
  }
  return b[i] == 0;
}

}  // namespace

namespace internal {
void ResetCom() {
  State().classes.clear();
  ++State().generation;
}
}  // namespace internal

void RegisterClass(const std::wstring& progId, const CLSID& clsid, DWORD context, std::function<IDispatch*()> create) {
  State().classes.push_back(Class{progId, clsid, context, std::move(create)});
}

bool IsComInitializedOnThisThread() { return initialisedGeneration == State().generation; }

}  // namespace fake_win32

using namespace fake_win32;

HRESULT WINAPI CoInitialize(LPVOID reserved) {
  if (auto fault = Enter("CoInitialize", {Ptr(reserved)})) return static_cast<HRESULT>(*fault);
  if (IsComInitializedOnThisThread()) return S_FALSE;
  initialisedGeneration = State().generation;
  return S_OK;
}

void WINAPI CoUninitialize() {
  internal::Record("CoUninitialize", {});
  initialisedGeneration = -1;
}

HRESULT WINAPI CLSIDFromProgID(LPCOLESTR progId, LPCLSID clsid) {
  if (auto fault = Enter("CLSIDFromProgID", {Text(progId), Ptr(clsid)})) return static_cast<HRESULT>(*fault);
  if (!progId || !clsid) return E_INVALIDARG;
  for (const auto& c : State().classes) {
    if (EqualsNoCase(c.progId, progId)) {
      *clsid = c.clsid;
      return S_OK;
    }
  }
  return CO_E_CLASSSTRING;
}

HRESULT WINAPI CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID riid, LPVOID* object) {
  if (auto fault = Enter("CoCreateInstance", {GuidText(clsid), Ptr(outer), Hex(context), GuidText(riid),
                                              Ptr(object)})) {
    if (object) *object = nullptr;
    return static_cast<HRESULT>(*fault);
  }
  if (!object) return E_POINTER;
  *object = nullptr;
  if (!IsComInitializedOnThisThread()) return CO_E_NOTINITIALIZED;
  if (outer) return CLASS_E_NOAGGREGATION;
  for (const auto& c : State().classes) {
    if (c.clsid != clsid || !(c.context & context)) continue;
    IDispatch* instance = c.create ? c.create() : nullptr;
    if (!instance) return CO_E_SERVER_EXEC_FAILURE;
    const HRESULT result = instance->QueryInterface(riid, object);
    instance->Release();
    return result;
  }
  return REGDB_E_CLASSNOTREG;
}
