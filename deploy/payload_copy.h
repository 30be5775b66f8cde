// Deploys the payload: every file directly in the program folder, copied
// into the install folder.
#pragma once

#include <string>

#include "deploy/payload_rule.h"
#include "deploy/running_image.h"

namespace vantu {

// Copies every file of `sourceRoot` (the program folder's final path) into
// `targetRoot` (which ends in a backslash), each whole or not at all
// (file_placement.h). Folders are never entered nor copied, links to
// folders among them; the log names each. The running image is copied from
// `image` (held since the start of the run), not by its name. Every other
// file is held while it is copied (base/held_file.h): an entry whose tag
// names another place (a symbolic link, a junction), a name that leads
// elsewhere, a second name of a file and a source that cannot be opened are
// not copied and leave the copy incomplete. A sharing or lock violation on the
// target passes the file over (its own version, held by another program);
// any other failure leaves it incomplete: the install folder would lack the
// file. Every file is attempted. An empty root on either side copies
// nothing and is incomplete.
//
// With `rule` (a sealed setup.exe), only the files it lets be placed are
// considered, each only when its bytes pass the rule's check; a file it
// requires that the program folder lacks makes the copy incomplete, and a
// file passed over that fails the rule's check where it lies rejects it.
enum class CopyOutcome {
  kComplete,
  kIncomplete,  // a file could not be placed, or the program folder lacks one the rule requires
  kRejected,    // a file's bytes failed the rule's check (and no other failure)
};
CopyOutcome CopyPayload(const std::wstring& sourceRoot, const RunningImage* image, const std::wstring& targetRoot,
                        PayloadRule* rule = nullptr);

}  // namespace vantu
