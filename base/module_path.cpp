#include "base/module_path.h"

#include <windows.h>

#include <memory>

#include "base/path_functions.h"

namespace vantu {
namespace {

constexpr DWORD kInitialModulePathSize = 128;
// Windows paths are at most 32767 characters; a path still cut at this size
// is not a path the setup can use.
constexpr DWORD kLargestModulePathSize = 65536;

}  // namespace

std::wstring FolderOfModulePath(const std::wstring& modulePath) {
  const size_t backslash = modulePath.rfind(L'\\');
  if (backslash != std::wstring::npos) return modulePath.substr(0, backslash + 1);
  return DrivePart(modulePath);
}

std::wstring ModulePath() {
  for (DWORD size = kInitialModulePathSize; size <= kLargestModulePathSize; size *= 2) {
    std::unique_ptr<wchar_t[]> buffer(new wchar_t[size]);
    const DWORD count = GetModuleFileNameW(nullptr, buffer.get(), size);
    if (count == 0) return std::wstring();
    if (count >= size) continue;
    std::wstring path(buffer.get(), count);
    // Wine 8 gives the path of an image started from a share as
    // UNC\server\share\... (its NT name, \??\UNC\..., without the \??\);
    // Windows gives \\server\share\..., which this makes of it. No path
    // that Windows gives starts so (it would be a relative one).
    if (path.compare(0, 4, L"UNC\\") == 0) path.replace(0, 3, L"\\");
    return path;
  }
  return std::wstring();
}

std::wstring ModuleDirectory() { return FolderOfModulePath(ModulePath()); }

}  // namespace vantu
