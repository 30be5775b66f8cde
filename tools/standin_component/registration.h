// The component's registration below HKEY_CLASSES_ROOT:
//   trelvoCom.axdata\CLSID           = the stand-in's class identifier
//   CLSID\{...}\LocalServer32         = this executable's full path
//   CLSID\{...}\ProgID                = trelvoCom.axdata
// Written from this 32-bit process, so that a 64-bit system keeps it in the
// 32-bit view, where the 32-bit setup.exe looks.
#pragma once

#include <string>

namespace standin {

// Both return false with a message in `error` on failure.
bool RegisterServer(std::string& error);
// Removes the class key and, when it names the stand-in's class, the ProgID
// key. Absent keys are no failure.
bool UnregisterServer(std::string& error);

}  // namespace standin
