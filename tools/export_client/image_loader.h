// Finishing the load of an executable that was loaded as a library.
//
// Windows applies an executable's base relocations and resolves its imports
// when another program loads it with LoadLibrary; Wine 8 does neither (it
// maps the image, at another base when the preferred one is taken, and stops
// there). CompleteImageLoad does what is missing and nothing else: it
// compares the mapped image with the file on disk to see which fix-ups the
// loader left undone, so that it changes nothing on Windows. The entry point
// is never called.
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

// False, with a message, when the image cannot be completed; the module
// must not be used then.
bool CompleteImageLoad(HMODULE module, const std::string& path, LoadReport& report, std::string& error);

}  // namespace export_client
