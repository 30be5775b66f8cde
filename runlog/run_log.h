// The run log that `setup.exe /LOG` writes: one line per event of the run,
// each with its local time, written to the file as it happens, so that a
// run that is killed or hangs leaves its log up to that moment. The file is
// UTF-8 (with a byte-order mark, so that Windows' own tools read it as
// such): names in any language read as they are.
//
// Without /LOG no log is open and LogLine does nothing at all: the run makes
// exactly the platform calls it makes without this file. A log that cannot
// be created or written never changes the run either; its lines are lost.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <string>
#include <string_view>

#include "base/error_text.h"
#include "base/unique_handle.h"

namespace vantu {

// One piece of a log line, turned into UTF-8 only when the line is written:
// UTF-8 text (the log's own words, numbers), UTF-16 text (names, paths,
// settings), or text in the ANSI code page (the installed version, as the
// comparison reads it).
class LogText {
 public:
  enum class Kind { kUtf8, kWide, kAnsi };

  LogText(const char* utf8) : kind_(Kind::kUtf8), narrow_(utf8) {}
  LogText(const std::string& utf8) : kind_(Kind::kUtf8), narrow_(utf8) {}
  LogText(std::string_view utf8) : kind_(Kind::kUtf8), narrow_(utf8) {}
  LogText(const wchar_t* wide) : kind_(Kind::kWide), wide_(wide) {}
  LogText(const std::wstring& wide) : kind_(Kind::kWide), wide_(wide) {}
  LogText(std::wstring_view wide) : kind_(Kind::kWide), wide_(wide) {}
  static LogText Ansi(std::string_view ansi) { return LogText(Kind::kAnsi, ansi); }

  // Appends the piece to `line` as UTF-8.
  void AppendTo(std::string* line) const;

 private:
  LogText(Kind kind, std::string_view narrow) : kind_(kind), narrow_(narrow) {}

  Kind kind_;
  std::string_view narrow_;
  std::wstring_view wide_;
};

// One open log file, made current for the process while it lives (there is
// one run per process; the exports never log).
class RunLog {
 public:
  // Writes to `path`, emptied first when it is a plain file there, made
  // when nothing is there; never through a link, never in `programFolder`
  // (the program folder's final path): safe_log_file.h. False, with the
  // reason in `refusal` (UTF-8), when it cannot be opened so.
  static bool OpenPath(const std::wstring& path, const std::wstring& programFolder, RunLog& log,
                       std::string* refusal);
  // Creates a new file in the temporary folder (the system's own for the
  // local system account), named after the product, the date and a counter,
  // so that no earlier log is overwritten; under the same rules.
  static bool OpenNewInTemp(const std::wstring& programFolder, RunLog& log, std::string* refusal);

  RunLog() = default;
  ~RunLog();
  RunLog(const RunLog&) = delete;
  RunLog& operator=(const RunLog&) = delete;

  bool is_open() const { return static_cast<bool>(file_); }
  const std::wstring& path() const { return path_; }
  // Writes one line: local time, a blank, the parts, CR LF.
  void Write(std::initializer_list<LogText> parts);

 private:
  // Writes to `file`, open at its start, from now on.
  void Adopt(UniqueHandle<FileHandlePolicy> file, std::wstring path);
  void WriteBytes(const std::string& bytes);

  UniqueHandle<FileHandlePolicy> file_;
  std::wstring path_;
};

// Writes a line to the current log, if there is one: the parts one after
// the other. Callers pass the pieces rather than a string they built, so that
// a run without a log builds no text.
void LogLine(std::initializer_list<LogText> parts);
// Whether a log is open: lets a caller skip work done only for the log.
bool LogEnabled();

}  // namespace vantu
