// A function of kernel32 (or of ntdll) that setup.exe uses where Windows has
// it and does without where it does not: looked up at run time, because an
// import of it would keep setup.exe from starting at all on a Windows that
// lacks it.
#pragma once

#include <windows.h>

#include "base/system_library.h"

namespace vantu {

// The function `name` of the module `module`, which every process has
// loaded already (kernel32.dll, ntdll.dll), as a `Function` pointer, or null
// when this Windows lacks it. GetModuleHandleW loads nothing.
template <typename Function>
Function FindLoadedFunction(const wchar_t* module, const char* name) {
  const HMODULE loaded = GetModuleHandleW(module);
  return loaded ? FindLibraryFunction<Function>(loaded, name) : nullptr;
}

template <typename Function>
Function FindKernel32Function(const char* name) {
  return FindLoadedFunction<Function>(L"kernel32.dll", name);
}

}  // namespace vantu
