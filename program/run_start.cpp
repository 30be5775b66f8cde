#include "program/run_start.h"

#include <windows.h>

#include <cstdio>

#include "base/module_path.h"
#include "base/text_encoding.h"
#include "runlog/program_version.h"
#include "settings/settings.h"

namespace vantu {

void OpenRequestedLog(const LogRequest& request, const std::wstring& programFolder, RunLog& log) {
  std::string refusal;
  bool opened = false;
  switch (request.kind) {
    case LogRequest::Kind::kNone:
      return;
    case LogRequest::Kind::kNewInTemp:
      opened = RunLog::OpenNewInTemp(programFolder, log, &refusal);
      break;
    case LogRequest::Kind::kPath:
      opened = RunLog::OpenPath(request.path, programFolder, log, &refusal);
      break;
  }
  if (!opened) {
    const std::string shown = request.kind == LogRequest::Kind::kPath ? " " + Utf8FromWide(request.path) : "";
    std::fputs(("setup.exe: no run log" + shown + ": " + refusal + "\n").c_str(), stderr);
    std::fflush(stderr);
    return;
  }
  const std::wstring modulePath = ModulePath();
  LogLine({"setup.exe ", ProgramVersion(), sizeof(void*) == 8 ? " (64-bit)" : " (32-bit)", " started: ",
           modulePath.empty() ? LogText("(unknown path)") : LogText(modulePath)});
}

}  // namespace vantu
