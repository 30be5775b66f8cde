// Whether anybody can see the windows of this process.
#pragma once

namespace vantu {

// False when the process's window station is known to be invisible (no
// WSF_VISIBLE): a service's, or a deployment tool's in session 0. There a
// message box is never seen and never dismissed; the call waits forever.
// True when it is visible, and when that cannot be found out (as every run
// assumed before).
bool WindowStationIsVisible();

// True when the process runs in session 0, where since Windows Vista only
// services and the programs they start run, and nobody sees a window
// whatever the window station's flags say (a deployment tool's run as the
// local system account). False when it runs elsewhere, or that cannot be
// found out.
bool RunsInSessionZero();

}  // namespace vantu
