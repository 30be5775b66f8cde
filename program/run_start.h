// Opens the run log that the command line asks for and writes its first
// line: which build of setup.exe started, from where.
#pragma once

#include <string>

#include "runlog/log_switch.h"
#include "runlog/run_log.h"

namespace vantu {

// Does nothing (and calls nothing) when no log was asked for. A log that
// cannot be opened, or not safely (safe_log_file.h: never through a link,
// never in `programFolder`, the program folder's final path), is no log:
// the run goes on exactly as without one, and one line on standard error
// says why.
void OpenRequestedLog(const LogRequest& request, const std::wstring& programFolder, RunLog& log);

}  // namespace vantu
