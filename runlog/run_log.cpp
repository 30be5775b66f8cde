#include "runlog/run_log.h"

#include <cstdio>

namespace vantu {
namespace {

RunLog* g_current = nullptr;

std::string TimeStamp() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  char text[64];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%03u", unsigned{now.wYear}, unsigned{now.wMonth},
                unsigned{now.wDay}, unsigned{now.wHour}, unsigned{now.wMinute}, unsigned{now.wSecond},
                unsigned{now.wMilliseconds});
  return text;
}

}  // namespace

bool RunLog::OpenPath(const std::string& path, RunLog& log) { return log.Create(path, CREATE_ALWAYS); }

bool RunLog::OpenNewInTemp(RunLog& log) {
  char folder[MAX_PATH + 1];
  const DWORD length = GetTempPathA(sizeof folder, folder);
  if (length == 0 || length >= sizeof folder) return false;
  SYSTEMTIME now;
  GetLocalTime(&now);
  for (unsigned counter = 1; counter <= 999; ++counter) {
    char name[64];
    std::snprintf(name, sizeof name, "FanServiceSetup_%04u%02u%02u_%03u.log", unsigned{now.wYear},
                  unsigned{now.wMonth}, unsigned{now.wDay}, counter);
    if (log.Create(std::string(folder, length) + name, CREATE_NEW)) return true;
    // Only a name already taken is worth another try.
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return false;
  }
  return false;
}

bool RunLog::Create(const std::string& path, DWORD disposition) {
  // Others may read the log while the run writes it.
  file_ = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                      nullptr);
  if (file_ == INVALID_HANDLE_VALUE) return false;
  path_ = path;
  g_current = this;
  return true;
}

RunLog::~RunLog() {
  if (g_current == this) g_current = nullptr;
  if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
}

void RunLog::Write(const std::string& text) {
  if (file_ == INVALID_HANDLE_VALUE) return;
  const std::string line = TimeStamp() + " " + text + "\r\n";
  DWORD written = 0;
  // Unbuffered: each line reaches the file before the run goes on. A failed
  // write loses the line and nothing else.
  WriteFile(file_, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

void LogLine(const std::string& text) {
  if (g_current) g_current->Write(text);
}

bool LogEnabled() { return g_current != nullptr; }

std::string ErrorText(DWORD error) {
  std::string text = std::to_string(error);
  char message[512];
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                message, sizeof message, nullptr);
  while (length > 0 && (message[length - 1] == '\r' || message[length - 1] == '\n' || message[length - 1] == ' ')) {
    --length;
  }
  if (length > 0) text += " (" + std::string(message, length) + ")";
  return text;
}

}  // namespace vantu
