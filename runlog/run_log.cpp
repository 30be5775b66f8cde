#include "runlog/run_log.h"

#include <cstring>

namespace vantu {
namespace {

RunLog* g_current = nullptr;

// Writes `value` as `width` digits with leading zeros at `at`. By hand: the
// C library's printf family would add tens of kilobytes to setup.exe.
void PutDigits(char* at, unsigned value, int width) {
  for (int i = width - 1; i >= 0; --i, value /= 10) at[i] = static_cast<char>('0' + value % 10);
}

// "2026-12-09 14:05:09.042 "
void PutTimeStamp(char (&text)[25]) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  std::memcpy(text, "0000-00-00 00:00:00.000 ", sizeof text);
  PutDigits(text, now.wYear, 4);
  PutDigits(text + 5, now.wMonth, 2);
  PutDigits(text + 8, now.wDay, 2);
  PutDigits(text + 11, now.wHour, 2);
  PutDigits(text + 14, now.wMinute, 2);
  PutDigits(text + 17, now.wSecond, 2);
  PutDigits(text + 20, now.wMilliseconds, 3);
}

}  // namespace

std::string HexWord(unsigned long value) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text = "0x00000000";
  for (size_t i = 9; i >= 2; --i, value >>= 4) text[i] = kDigits[value & 0xF];
  return text;
}

bool RunLog::OpenPath(const std::string& path, RunLog& log) { return log.Create(path, CREATE_ALWAYS); }

bool RunLog::OpenNewInTemp(RunLog& log) {
  char folder[MAX_PATH + 1];
  const DWORD length = GetTempPathA(sizeof folder, folder);
  if (length == 0 || length >= sizeof folder) return false;
  SYSTEMTIME now;
  GetLocalTime(&now);
  // FanServiceSetup_YYYYMMDD_NNN.log
  char name[] = "FanServiceSetup_00000000_000.log";
  PutDigits(name + 16, now.wYear, 4);
  PutDigits(name + 20, now.wMonth, 2);
  PutDigits(name + 22, now.wDay, 2);
  for (unsigned counter = 1; counter <= 999; ++counter) {
    PutDigits(name + 25, counter, 3);
    if (log.Create(std::string(folder, length) + name, CREATE_NEW)) return true;
    // Only a name already taken is worth another try.
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return false;
  }
  return false;
}

bool RunLog::Create(const std::string& path, DWORD disposition) {
  // Others may read the log while the run writes it.
  file_.reset(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, disposition,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file_) return false;
  path_ = path;
  g_current = this;
  return true;
}

RunLog::~RunLog() {
  if (g_current == this) g_current = nullptr;
}

void RunLog::Write(std::initializer_list<std::string_view> parts) {
  if (!file_) return;
  char stamp[25];
  PutTimeStamp(stamp);
  std::string line(stamp, sizeof stamp - 1);  // without its terminating zero
  for (const std::string_view part : parts) line.append(part.data(), part.size());
  line += "\r\n";
  DWORD written = 0;
  // Unbuffered: each line reaches the file before the run goes on. A failed
  // write loses the line and nothing else.
  WriteFile(file_.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

void LogLine(std::initializer_list<std::string_view> parts) {
  if (g_current) g_current->Write(parts);
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
