#include "base/system_library.h"

#include <string>

namespace vantu {
namespace {

// LOAD_WITH_ALTERED_SEARCH_PATH.
constexpr DWORD kAlteredSearchPath = 0x00000008;

}  // namespace

HMODULE LoadSystemLibrary(const wchar_t* name, DWORD* error, bool* folderUnknown) {
  if (folderUnknown) *folderUnknown = false;
  if (HMODULE module = LoadLibraryExW(name, nullptr, kLoadLibrarySearchSystem32)) return module;
  *error = GetLastError();
  if (*error != ERROR_INVALID_PARAMETER) return nullptr;
  wchar_t folder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    *error = length == 0 ? GetLastError() : static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER);
    if (folderUnknown) *folderUnknown = true;
    return nullptr;
  }
  // The DLL's own folder is then where the DLLs it needs are looked for first.
  const std::wstring path = std::wstring(folder, length) + L"\\" + name;
  if (HMODULE module = LoadLibraryExW(path.c_str(), nullptr, kAlteredSearchPath)) return module;
  *error = GetLastError();
  return nullptr;
}

}  // namespace vantu
