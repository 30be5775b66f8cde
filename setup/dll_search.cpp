#include "setup/dll_search.h"

#include <windows.h>

namespace vantu {

namespace {

// LOAD_LIBRARY_SEARCH_SYSTEM32, for SDK headers that leave it out (it came
// with KB2533623 and Windows 8).
constexpr DWORD kSearchSystem32 = 0x00000800;

using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);

// SetDefaultDllDirectories, or null when this Windows lacks it (Windows 7,
// Vista and Server 2008 before KB2533623). Looked up rather than imported:
// an import of it would keep setup.exe from starting there at all.
// GetModuleHandleW loads nothing: kernel32 is in every process already.
SetDefaultDllDirectoriesFunction FindSetDefaultDllDirectories() {
  const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  if (kernel32 == nullptr) return nullptr;
  const FARPROC address = GetProcAddress(kernel32, "SetDefaultDllDirectories");
  if (address == nullptr) return nullptr;
  // A function pointer converts to another function pointer type and back;
  // the detour through void(*)() tells the compiler the change of type is
  // meant.
  return reinterpret_cast<SetDefaultDllDirectoriesFunction>(reinterpret_cast<void (*)()>(address));
}

}  // namespace

void RestrictDllSearchToSystemFolder() {
  // Every later load by name (LoadLibrary, LoadLibraryEx without search
  // flags, and the imports of the DLLs so loaded) looks in the system folder
  // only: not in setup.exe's folder, not in the current folder, not on PATH.
  // Windows' known DLLs come from the system folder in any case.
  if (const SetDefaultDllDirectoriesFunction setDefaultDllDirectories = FindSetDefaultDllDirectories()) {
    setDefaultDllDirectories(kSearchSystem32);
  }
  // Takes the current folder out of the standard search order, which is all
  // that is left to do where the call above is missing. It applies to the
  // processes started from here (the service executable) as well.
  SetDllDirectoryW(L"");
}

}  // namespace vantu
