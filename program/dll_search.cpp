#include "program/dll_search.h"

#include <windows.h>

#include "base/kernel32_function.h"
#include "base/system_library.h"

namespace vantu {

namespace {

using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);

}  // namespace

void RestrictDllSearchToSystemFolder() {
  // Every later load by name (LoadLibrary, LoadLibraryEx without search
  // flags, and the imports of the DLLs so loaded) looks in the system folder
  // only: not in setup.exe's folder, not in the current folder, not on PATH.
  // Windows' known DLLs come from the system folder in any case.
  // Looked up rather than imported: Windows 7, Vista and Server 2008 lack it
  // before KB2533623, and an import of it would keep setup.exe from starting
  // there at all.
  if (const auto setDefaultDllDirectories =
          FindKernel32Function<SetDefaultDllDirectoriesFunction>("SetDefaultDllDirectories")) {
    setDefaultDllDirectories(kLoadLibrarySearchSystem32);
  }
  // Takes the current folder out of the standard search order, which is all
  // that is left to do where the call above is missing. It applies to the
  // processes started from here (the service executable) as well.
  SetDllDirectoryW(L"");
}

}  // namespace vantu
