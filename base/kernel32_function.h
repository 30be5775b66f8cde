// A function of kernel32 (or of ntdll) that setup.exe uses where Windows has
// it and does without where it does not: looked up at run time, because an
// import of it would keep setup.exe from starting at all on a Windows that
// lacks it.
#pragma once

#include <windows.h>

namespace vantu {

// The function `name` of the module `module`, which every process has
// loaded already (kernel32.dll, ntdll.dll), as a `Function` pointer, or null
// when this Windows lacks it. GetModuleHandleW loads nothing.
template <typename Function>
Function FindLoadedFunction(const wchar_t* module, const char* name) {
  const HMODULE loaded = GetModuleHandleW(module);
  if (loaded == nullptr) return nullptr;
  const FARPROC address = GetProcAddress(loaded, name);
  if (address == nullptr) return nullptr;
  // A function pointer converts to another function pointer type and back;
  // the detour through void(*)() tells the compiler the change of type is
  // meant.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

template <typename Function>
Function FindKernel32Function(const char* name) {
  return FindLoadedFunction<Function>(L"kernel32.dll", name);
}

}  // namespace vantu
