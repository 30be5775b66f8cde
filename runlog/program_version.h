// The version of setup.exe itself, from its own version resource: read from
// the module's resources directly, not through version.dll (which is not
// one of Windows' known DLLs and would be looked for beside setup.exe).
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

namespace vantu {

// "1.4.0.0" from the running module's version resource; "unknown" when it
// has none.
std::string ProgramVersion();

// The file version of a VS_VERSIONINFO block as "a.b.c.d"; empty when the
// block holds no fixed file information.
std::string FileVersionOf(const BYTE* block, size_t size);

}  // namespace vantu
