// Deploys the payload: every file directly in the program folder, copied
// into the install folder.
#pragma once

#include <string>

namespace vantu {

// Copies every non-folder entry of `sourceRoot` (the program folder's final
// path) into `targetRoot` (which ends in a backslash), overwriting. An entry
// that is a reparse point (a file or a folder) and a source that is no plain
// file of the folder (payload_source.h) are not copied and make the result
// false; every other source is held open while it is copied. A target
// refused with access denied loses its attributes and is copied once more;
// that second failure makes the result false. A file that cannot be placed
// at all (disk full, path not found, name too long) makes the result false
// too. Any other failure, a target held open by another program among them,
// skips the file. Every file is attempted. An empty root on either side
// copies nothing and returns false.
bool CopyPayload(const std::wstring& sourceRoot, const std::wstring& targetRoot);

}  // namespace vantu
