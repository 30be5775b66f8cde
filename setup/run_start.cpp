#include "setup/run_start.h"

#include <windows.h>

#include <cstdio>
#include <memory>

#include "base/text_encoding.h"
#include "runlog/program_version.h"

namespace vantu {
namespace {

// The module's full path, for the log only.
std::wstring ModulePath() {
  const DWORD size = 32768;
  std::unique_ptr<wchar_t[]> buffer(new wchar_t[size]);
  const DWORD count = GetModuleFileNameW(nullptr, buffer.get(), size);
  return count > 0 && count < size ? std::wstring(buffer.get(), count) : std::wstring(L"(unknown path)");
}

}  // namespace

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
  LogLine({"setup.exe ", ProgramVersion(), sizeof(void*) == 8 ? " (64-bit)" : " (32-bit)", " started: ",
           ModulePath()});
}

}  // namespace vantu
