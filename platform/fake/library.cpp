// Modules: the system folder holds two DLLs, bcrypt.dll, whose functions are
// the in-memory ones of crypto.cpp, and userenv.dll, whose are those of
// environment.cpp.
#include <bcrypt.h>

#include <cstring>
#include <cwctype>
#include <map>
#include <set>
#include <string>

#include "fake_win32/control.h"
#include "internal.h"

namespace fake_win32 {
namespace {

using internal::Enter;
using internal::Hex;
using internal::Num;
using internal::Ptr;
using internal::Text;

const wchar_t kSystemFolder[] = L"C:\\windows\\system32";
const wchar_t kCryptoDll[] = L"bcrypt.dll";
const wchar_t kUserEnvironmentDll[] = L"userenv.dll";
constexpr DWORD kSearchFlags = 0x00001F00u;  // every LOAD_LIBRARY_SEARCH_* flag

struct LibraryState {
  bool searchFlagsKnown = true;
  std::map<uintptr_t, std::wstring> modules;  // handle -> the DLL's name
};

LibraryState& State() {
  static LibraryState state;
  return state;
}

std::wstring Lower(const wchar_t* text) {
  std::wstring out;
  for (; *text; ++text) out += static_cast<wchar_t>(std::towlower(static_cast<wint_t>(*text)));
  return out;
}

template <typename Function>
FARPROC Address(Function* function) {
  // Through void(*)(): the change of function type is meant.
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

}  // namespace

namespace internal {
void ResetLibraries() {
  State().searchFlagsKnown = true;
  State().modules.clear();
}
}  // namespace internal

void SetLibrarySearchFlagsKnown(bool known) { State().searchFlagsKnown = known; }

}  // namespace fake_win32

using namespace fake_win32;

HMODULE WINAPI LoadLibraryExW(LPCWSTR fileName, HANDLE reserved, DWORD flags) {
  if (auto fault = Enter("LoadLibraryExW", {Text(fileName), Ptr(reserved), Hex(flags)})) {
    SetLastError(*fault);
    return nullptr;
  }
  if (!fileName || reserved || ((flags & kSearchFlags) && !State().searchFlagsKnown)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const std::wstring name = Lower(fileName);
  std::wstring found;
  for (const wchar_t* dll : {kCryptoDll, kUserEnvironmentDll}) {
    if (name == dll) {
      found = dll;
      if (!(flags & LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        internal::Misuse("LoadLibraryExW(\"" + Text(fileName) + "\") without LOAD_LIBRARY_SEARCH_SYSTEM32: the "
                         "search starts in the program's own folder");
      }
    } else if (name == Lower(kSystemFolder) + L"\\" + dll) {
      found = dll;
    }
  }
  if (found.empty()) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  // Each load hands out a handle of its own (Windows counts the loads of
  // one module), so that the ledger sees every load released.
  const uintptr_t value = internal::NewHandleValue();
  State().modules[value] = found;
  HMODULE module = reinterpret_cast<HMODULE>(value);
  internal::Opened("module", module);
  SetLastError(ERROR_SUCCESS);
  return module;
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName) {
  if (auto fault = Enter("GetProcAddress", {Ptr(module), Text(procName)})) {
    SetLastError(*fault);
    return nullptr;
  }
  if (internal::IsKernel32(module)) return internal::Kernel32Function(procName);
  if (module == internal::Ntdll()) return internal::NtdllFunction(procName);
  const auto loaded = State().modules.find(reinterpret_cast<uintptr_t>(module));
  if (loaded == State().modules.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  static const std::map<std::string, FARPROC> kUserEnvironmentExports = {
      {"CreateEnvironmentBlock", Address(&internal::CreateEnvironmentBlock)},
      {"DestroyEnvironmentBlock", Address(&internal::DestroyEnvironmentBlock)},
  };
  static const std::map<std::string, FARPROC> kCryptoExports = {
      {"BCryptCloseAlgorithmProvider", Address(&BCryptCloseAlgorithmProvider)},
      {"BCryptCreateHash", Address(&BCryptCreateHash)},
      {"BCryptDestroyHash", Address(&BCryptDestroyHash)},
      {"BCryptFinishHash", Address(&BCryptFinishHash)},
      {"BCryptGetProperty", Address(&BCryptGetProperty)},
      {"BCryptHashData", Address(&BCryptHashData)},
      {"BCryptOpenAlgorithmProvider", Address(&BCryptOpenAlgorithmProvider)},
  };
  const auto& exports = loaded->second == kCryptoDll ? kCryptoExports : kUserEnvironmentExports;
  const auto found = procName && !IS_INTRESOURCE(procName) ? exports.find(procName) : exports.end();
  if (found == exports.end()) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return found->second;
}

BOOL WINAPI FreeLibrary(HMODULE module) {
  auto fault = Enter("FreeLibrary", {Ptr(module)});
  if (!State().modules.erase(reinterpret_cast<uintptr_t>(module))) {
    internal::Closed("module", module);  // records the misuse
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  internal::Closed("module", module);
  if (fault) {
    SetLastError(*fault);
    return FALSE;
  }
  return TRUE;
}

UINT WINAPI GetSystemDirectoryW(LPWSTR buffer, UINT size) {
  if (auto fault = Enter("GetSystemDirectoryW", {Ptr(buffer), Num(size)})) {
    SetLastError(*fault);
    return 0;
  }
  const UINT length = static_cast<UINT>(std::wcslen(kSystemFolder));
  if (!buffer || size <= length) return length + 1;
  std::wmemcpy(buffer, kSystemFolder, length + 1);
  return length;
}
