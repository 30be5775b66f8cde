// Deploys the payload: every file directly in the program folder, copied
// into the install folder.
#pragma once

#include <string>

#include "deploy/sealed_copy.h"

namespace vantu {

// Copies every non-folder entry of `sourceRoot` (the program folder's final
// path) into `targetRoot` (which ends in a backslash), overwriting. An entry
// that is a reparse point (a file or a folder) and a source that is no plain
// file of the folder (payload_source.h) are not copied and make the result
// false; every other source is held open while it is copied. A target
// refused with access denied loses its attributes and is copied once more;
// that second failure makes the result false. A sharing or lock violation
// passes the file over when the target folder already has a file of that
// name (this version's own, held by another program). Any other failure
// makes the result false: the install folder would lack the file. Every file
// is attempted. An empty root on either side copies nothing and returns
// false.
//
// With `sealed` (a sealed setup.exe), only the files the seal lists and the
// image itself are considered; another entry (a link among them) is not
// copied and not an error (the log names it), and a listed file the program
// folder lacks makes the result false. When every file is in place, the
// install folder is checked against the seal (CheckInstallFolder), and a
// difference makes the result false too.
bool CopyPayload(const std::wstring& sourceRoot, const std::wstring& targetRoot, const SealedCopy* sealed = nullptr);

}  // namespace vantu
