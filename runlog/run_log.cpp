#include "runlog/run_log.h"

#include <cstring>

#include "base/text_encoding.h"
#include "runlog/safe_log_file.h"

namespace vantu {
namespace {

RunLog* g_current = nullptr;

// Tells Windows' own tools (Notepad, PowerShell) that the file is UTF-8.
constexpr char kUtf8ByteOrderMark[] = "\xEF\xBB\xBF";

// Writes `value` as `width` digits with leading zeros at `at`. By hand: the
// C library's printf family would add tens of kilobytes to setup.exe.
template <typename Char>
void PutDigits(Char* at, unsigned value, int width) {
  for (int i = width - 1; i >= 0; --i, value /= 10) at[i] = static_cast<Char>('0' + value % 10);
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

void LogText::AppendTo(std::string* line) const {
  switch (kind_) {
    case Kind::kUtf8:
      line->append(narrow_.data(), narrow_.size());
      break;
    case Kind::kWide:
      line->append(Utf8FromWide(wide_));
      break;
    case Kind::kAnsi:
      line->append(Utf8FromWide(WideFromAnsi(narrow_)));
      break;
  }
}

bool RunLog::OpenPath(const std::wstring& path, const std::wstring& programFolder, RunLog& log,
                      std::string* refusal) {
  LogFileOpening opening = OpenLogFileAt(path, programFolder);
  *refusal = std::move(opening.refusal);
  if (!opening.file) return false;
  log.Adopt(std::move(opening.file), std::move(opening.path));
  return true;
}

bool RunLog::OpenNewInTemp(const std::wstring& programFolder, RunLog& log, std::string* refusal) {
  LogFileOpening opening = CreateLogFileInTemp(programFolder);
  *refusal = std::move(opening.refusal);
  if (!opening.file) return false;
  log.Adopt(std::move(opening.file), std::move(opening.path));
  return true;
}

void RunLog::Adopt(UniqueHandle<FileHandlePolicy> file, std::wstring path) {
  file_ = std::move(file);
  path_ = std::move(path);
  g_current = this;
  WriteBytes(std::string(kUtf8ByteOrderMark, sizeof kUtf8ByteOrderMark - 1));
}

RunLog::~RunLog() {
  if (g_current == this) g_current = nullptr;
}

void RunLog::Write(std::initializer_list<LogText> parts) {
  if (!file_) return;
  char stamp[25];
  PutTimeStamp(stamp);
  std::string line(stamp, sizeof stamp - 1);  // without its terminating zero
  for (const LogText& part : parts) part.AppendTo(&line);
  line += "\r\n";
  WriteBytes(line);
}

void RunLog::WriteBytes(const std::string& bytes) {
  DWORD written = 0;
  // Unbuffered: each line reaches the file before the run goes on. A failed
  // write loses the line and nothing else.
  WriteFile(file_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void LogLine(std::initializer_list<LogText> parts) {
  if (g_current) g_current->Write(parts);
}

bool LogEnabled() { return g_current != nullptr; }

}  // namespace vantu
