// Opening a payload file to hash it, so that what is hashed stays what is
// there: nobody may write, replace, rename or delete the file while the
// handle is open (it is shared for reading only), and a link is opened as
// itself rather than followed, and refused.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "base/unique_handle.h"

namespace vantu {

// Opens the file at `path` for reading. ERROR_SUCCESS, with the handle in
// `file` and the file's size in `size`; otherwise the error, and `file`
// left empty: the system's (not found, a sharing violation: someone has the
// file open for writing), ERROR_ACCESS_DENIED for a folder, or
// ERROR_CANT_ACCESS_FILE for a link or another reparse point.
DWORD OpenFileForHashing(const std::wstring& path, UniqueFileHandle* file, uint64_t* size);

}  // namespace vantu
