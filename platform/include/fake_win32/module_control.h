// Test control of the modules area (host builds only; see control.h).
#pragma once

#include <string>

#include "fake_win32/api.h"

namespace fake_win32 {

// Gives the running module a resource of `type` and `name` holding `bytes`
// (replacing one of that type and name). Both are names, or "#N" for the
// number N: SetModuleResource(L"#10", L"PAYLOAD_SEAL", ...) makes the raw
// data resource named PAYLOAD_SEAL. After Reset the module has none.
void SetModuleResource(const std::wstring& type, const std::wstring& name, const std::string& bytes);

// False: LoadLibraryExW behaves as on Windows 7 without KB2533623, failing
// every LOAD_LIBRARY_SEARCH_* flag with ERROR_INVALID_PARAMETER. True after
// Reset.
void SetLibrarySearchFlagsKnown(bool known);

}  // namespace fake_win32
