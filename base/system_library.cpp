#include "base/system_library.h"

#include <string>

namespace vantu {
namespace {

// The flag values, for SDK headers that leave them out (the search flags
// came with KB2533623 and Windows 8).
constexpr DWORD kSearchSystem32 = 0x00000800;
constexpr DWORD kAlteredSearchPath = 0x00000008;

}  // namespace

HMODULE LoadSystemLibrary(const wchar_t* name, DWORD* error) {
  if (HMODULE module = LoadLibraryExW(name, nullptr, kSearchSystem32)) return module;
  *error = GetLastError();
  if (*error != ERROR_INVALID_PARAMETER) return nullptr;
  wchar_t folder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    *error = length == 0 ? GetLastError() : static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER);
    return nullptr;
  }
  // The DLL's own folder is then where the DLLs it needs are looked for first.
  const std::wstring path = std::wstring(folder, length) + L"\\" + name;
  if (HMODULE module = LoadLibraryExW(path.c_str(), nullptr, kAlteredSearchPath)) return module;
  *error = GetLastError();
  return nullptr;
}

}  // namespace vantu
