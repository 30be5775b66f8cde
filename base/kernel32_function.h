// A function of kernel32 that setup.exe uses where Windows has it and does
// without where it does not: looked up at run time, because an import of it
// would keep setup.exe from starting at all on a Windows that lacks it.
#pragma once

#include <windows.h>

namespace vantu {

// The function `name` of kernel32 as a `Function` pointer, or null when
// this Windows lacks it. GetModuleHandleW loads nothing: kernel32 is in
// every process already.
template <typename Function>
Function FindKernel32Function(const char* name) {
  const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  if (kernel32 == nullptr) return nullptr;
  const FARPROC address = GetProcAddress(kernel32, name);
  if (address == nullptr) return nullptr;
  // A function pointer converts to another function pointer type and back;
  // the detour through void(*)() tells the compiler the change of type is
  // meant.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

}  // namespace vantu
