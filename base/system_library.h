// A DLL of Windows that is not one of its known DLLs, loaded at run time
// from the system folder and from nowhere else: an import of it would be
// looked for beside setup.exe first, where the user may have put one.
#pragma once

#include <windows.h>

namespace vantu {

// Loads `name` (a bare file name) with LOAD_LIBRARY_SEARCH_SYSTEM32; where
// Windows does not know that flag (7 without KB2533623 says
// ERROR_INVALID_PARAMETER), by its full path in the system folder. Null,
// with the error in `error`, when it cannot be loaded.
HMODULE LoadSystemLibrary(const wchar_t* name, DWORD* error);

// The function `name` of `module` as a `Function` pointer, or null.
template <typename Function>
Function FindLibraryFunction(HMODULE module, const char* name) {
  const FARPROC address = GetProcAddress(module, name);
  // Through void(*)(): the change of function type is meant.
  return address ? reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address)) : nullptr;
}

}  // namespace vantu
