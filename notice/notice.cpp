#include "notice/notice.h"

#include <string>

#include "notice/window_station.h"

namespace vantu {
namespace {

// Null: message boxes.
const char* g_linesBecause = nullptr;

}  // namespace

void GiveNoticesAsLines(const char* reason) { g_linesBecause = reason; }

void GiveNoticesAsBoxes() { g_linesBecause = nullptr; }

void DecideNotices(bool quiet) {
  if (quiet) {
    GiveNoticesAsLines("/QUIET");
  } else if (RunsInSessionZero()) {
    GiveNoticesAsLines("session 0, where nobody sees a window");
  } else if (!WindowStationIsVisible()) {
    GiveNoticesAsLines("the window station is not visible");
  } else {
    GiveNoticesAsBoxes();
  }
}

void WriteStandardErrorLine(const char* text) {
  const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  if (!error || error == INVALID_HANDLE_VALUE) return;
  const std::string line = std::string("setup.exe: ") + text + "\r\n";
  DWORD written = 0;
  WriteFile(error, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

NoticeOutcome Notify(const char* text, const char* caption) {
  NoticeOutcome outcome;
  if (g_linesBecause) {
    outcome.reason = g_linesBecause;
    WriteStandardErrorLine(text);
    return outcome;
  }
  if (MessageBoxA(nullptr, text, caption, MB_OK) != 0) {
    outcome.shown = true;
    return outcome;
  }
  outcome.reason = "MessageBoxA failed";
  outcome.error = GetLastError();
  WriteStandardErrorLine(text);
  return outcome;
}

}  // namespace vantu
