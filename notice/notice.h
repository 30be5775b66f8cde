// A notice: a message for the person running setup.exe. Where someone can
// see it, a message box (no owner, MB_OK) that the run waits for; where
// nobody can (/QUIET, or a window station that is not visible), a line on
// standard error instead. Either way the run goes on exactly as after a box
// that was dismissed.
#pragma once

#include <windows.h>

namespace vantu {

// What became of one notice.
struct NoticeOutcome {
  bool shown = false;          // a box was shown, and has been dismissed
  const char* reason = nullptr;  // why not: "/QUIET", "the window station is not visible", "MessageBoxA failed"
  DWORD error = 0;             // with "MessageBoxA failed": its error
};

// From now on, for the rest of the process, notices are lines on standard
// error, for `reason` (kept, not copied: a literal).
void GiveNoticesAsLines(const char* reason);
// Back to message boxes (for tests).
void GiveNoticesAsBoxes();

// Decides once, at start, how notices are given: lines when `quiet` (the
// /QUIET switch) or when the window station is not visible, boxes otherwise.
void DecideNotices(bool quiet);

// Tells `text`. As a box, with `caption`; a box that cannot be shown is
// written to standard error too.
NoticeOutcome Notify(const char* text, const char* caption);

// Writes `text` and a line end to standard error, when the process has one.
void WriteStandardErrorLine(const char* text);

}  // namespace vantu
