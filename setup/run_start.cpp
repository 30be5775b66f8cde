#include "setup/run_start.h"

#include <windows.h>

#include <memory>

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

void OpenRequestedLog(const LogRequest& request, RunLog& log) {
  switch (request.kind) {
    case LogRequest::Kind::kNone:
      return;
    case LogRequest::Kind::kNewInTemp:
      if (!RunLog::OpenNewInTemp(log)) return;
      break;
    case LogRequest::Kind::kPath:
      if (!RunLog::OpenPath(request.path, log)) return;
      break;
  }
  LogLine({"setup.exe ", ProgramVersion(), sizeof(void*) == 8 ? " (64-bit)" : " (32-bit)", " started: ",
           ModulePath()});
}

}  // namespace vantu
