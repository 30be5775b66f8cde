// The running module's resources: what a test gave it with
// SetModuleResource, found by FindResourceW and read through LoadResource,
// LockResource and SizeofResource as from a module's mapped image.
#include <cwctype>
#include <map>
#include <string>

#include "fake_win32/control.h"
#include "internal.h"

namespace fake_win32 {
namespace {

using internal::Enter;
using internal::Num;
using internal::Ptr;

struct Resource {
  std::string bytes;
};

struct ResourceState {
  // By type, then by name; both as keys made by Key().
  std::map<std::wstring, std::map<std::wstring, Resource>> resources;
};

ResourceState& State() {
  static ResourceState state;
  return state;
}

// A number as "#N", a name in upper case (Windows looks names up so).
std::wstring Key(LPCWSTR id) {
  if (IS_INTRESOURCE(id)) return L"#" + std::to_wstring(reinterpret_cast<uintptr_t>(id));
  std::wstring key;
  for (; *id; ++id) key += static_cast<wchar_t>(std::towupper(static_cast<wint_t>(*id)));
  return key;
}

std::string Shown(LPCWSTR id) {
  if (!id) return "(null)";
  if (IS_INTRESOURCE(id)) return "#" + Num(static_cast<int64_t>(reinterpret_cast<uintptr_t>(id)));
  return internal::Text(id);
}

Resource* Known(HRSRC handle) {
  for (auto& type : State().resources) {
    for (auto& entry : type.second) {
      if (reinterpret_cast<HRSRC>(&entry.second) == handle) return &entry.second;
    }
  }
  return nullptr;
}

}  // namespace

namespace internal {
void ResetResources() { State().resources.clear(); }
}  // namespace internal

void SetModuleResource(const std::wstring& type, const std::wstring& name, const std::string& bytes) {
  State().resources[Key(type.c_str())][Key(name.c_str())].bytes = bytes;
}

}  // namespace fake_win32

using namespace fake_win32;

HRSRC WINAPI FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type) {
  if (auto fault = Enter("FindResourceW", {Ptr(module), Shown(name), Shown(type)})) {
    SetLastError(*fault);
    return nullptr;
  }
  if (!name || !type) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (module) {
    // The only other module, bcrypt.dll, carries no resources here.
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return nullptr;
  }
  auto& resources = State().resources;
  const auto byType = resources.find(Key(type));
  if (byType == resources.end()) {
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return nullptr;
  }
  const auto byName = byType->second.find(Key(name));
  if (byName == byType->second.end()) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<HRSRC>(&byName->second);
}

HGLOBAL WINAPI LoadResource(HMODULE module, HRSRC resource) {
  if (auto fault = Enter("LoadResource", {Ptr(module), Ptr(resource)})) {
    SetLastError(*fault);
    return nullptr;
  }
  Resource* known = Known(resource);
  if (module || !known) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  // A module's resources stay mapped with it: nothing to release.
  return const_cast<char*>(known->bytes.data());
}

LPVOID WINAPI LockResource(HGLOBAL data) {
  if (auto fault = Enter("LockResource", {Ptr(data)})) {
    SetLastError(*fault);
    return nullptr;
  }
  return data;
}

DWORD WINAPI SizeofResource(HMODULE module, HRSRC resource) {
  if (auto fault = Enter("SizeofResource", {Ptr(module), Ptr(resource)})) {
    SetLastError(*fault);
    return 0;
  }
  Resource* known = Known(resource);
  if (module || !known) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  return static_cast<DWORD>(known->bytes.size());
}
