// The run log that `setup.exe /LOG` writes: one line per event of the run,
// each with its local time, written to the file as it happens, so that a
// run that is killed or hangs leaves its log up to that moment.
//
// Without /LOG no log is open and LogLine does nothing at all: the run makes
// exactly the platform calls it makes without this file. A log that cannot
// be created or written never changes the run either; its lines are lost.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <string>
#include <string_view>

#include "base/unique_handle.h"

namespace vantu {

// One open log file, made current for the process while it lives (there is
// one run per process; the exports never log).
class RunLog {
 public:
  // Creates `path` afresh, replacing a file of that name.
  static bool OpenPath(const std::string& path, RunLog& log);
  // Creates a new file in the user's temporary folder, named after the
  // product, the date and a counter, so that no earlier log is overwritten.
  static bool OpenNewInTemp(RunLog& log);

  RunLog() = default;
  ~RunLog();
  RunLog(const RunLog&) = delete;
  RunLog& operator=(const RunLog&) = delete;

  bool is_open() const { return static_cast<bool>(file_); }
  const std::string& path() const { return path_; }
  // Writes one line: local time, a blank, the parts, CR LF.
  void Write(std::initializer_list<std::string_view> parts);

 private:
  bool Create(const std::string& path, DWORD disposition);

  UniqueHandle<FileHandlePolicy> file_;
  std::string path_;
};

// Writes a line to the current log, if there is one: the parts one after
// the other. Callers pass the pieces rather than a string they built, so that
// a run without a log builds no text.
void LogLine(std::initializer_list<std::string_view> parts);
// Whether a log is open: lets a caller skip work done only for the log.
bool LogEnabled();

// "0x000001FF": eight hexadecimal digits.
std::string HexWord(unsigned long value);

// "5 (Access is denied.)": an error code with the system's text for it.
std::string ErrorText(DWORD error);

}  // namespace vantu
