// Finishing the load of an executable that was loaded as a library.
//
// An executable that another program loads with LoadLibrary is not made
// ready to run: Windows loads it as if DONT_RESOLVE_DLL_REFERENCES were given
// (its imports are not resolved, as Microsoft's documentation of LoadLibrary
// says), and Wine 8 maps it, at another base when the preferred one is
// taken, and stops there (no imports, no relocations). CompleteImageLoad does
// what is missing and nothing else: it compares the mapped image with the
// file on disk to see which fix-ups the loader left undone, and leaves alone
// whatever a loader did. The entry point is never called.
//
// One source serves both builds: the 32-bit client completes PE32 images
// (HIGHLOW fix-ups, 32-bit import thunks), the 64-bit client PE32+ images
// (DIR64 fix-ups, 64-bit import thunks). An image of the other bitness cannot
// be loaded into the process at all; CheckImageFile says so before a load is
// tried.
#pragma once

#include <windows.h>

#include <string>

namespace export_client {

struct LoadReport {
  ULONG_PTR base = 0;           // where the image is mapped
  ULONG_PTR preferredBase = 0;  // ImageBase in the file
  bool relocatedByLoader = false;
  DWORD relocationsApplied = 0;  // fix-ups applied here
  DWORD importsResolved = 0;     // IAT slots written here
  DWORD importsFound = 0;        // IAT slots the loader had filled
};

// Reads the executable's headers from disk: false, with a message, when it
// is not a PE image or not one of this process's bitness (a 32-bit process
// cannot load a 64-bit setup.exe, nor the reverse).
bool CheckImageFile(const std::string& path, std::string& error);

// False, with a message, when the image cannot be completed; the module
// must not be used then.
bool CompleteImageLoad(HMODULE module, const std::string& path, LoadReport& report, std::string& error);

}  // namespace export_client
