// A DLL of Windows that is not one of its known DLLs, loaded at run time
// from the system folder and from nowhere else: an import of it would be
// looked for beside setup.exe first, where the user may have put one.
#pragma once

#include <windows.h>

namespace vantu {

// LOAD_LIBRARY_SEARCH_SYSTEM32, for SDK headers that leave it out (it came
// with KB2533623 and Windows 8).
constexpr DWORD kLoadLibrarySearchSystem32 = 0x00000800;

// Loads `name` (a bare file name) with LOAD_LIBRARY_SEARCH_SYSTEM32; where
// Windows does not know that flag (7 without KB2533623 says
// ERROR_INVALID_PARAMETER), by its full path in the system folder. Null,
// with the error in `error`, when it cannot be loaded; `folderUnknown` (may
// be null) then says whether it was the system folder that could not be
// found.
HMODULE LoadSystemLibrary(const wchar_t* name, DWORD* error, bool* folderUnknown = nullptr);

// The function `name` of `module` as a `Function` pointer, or null.
template <typename Function>
Function FindLibraryFunction(HMODULE module, const char* name) {
  const FARPROC address = GetProcAddress(module, name);
  // A function pointer converts to another function pointer type and back;
  // the detour through void(*)() tells the compiler the change is meant.
  return address ? reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address)) : nullptr;
}

}  // namespace vantu
