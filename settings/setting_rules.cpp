#include "settings/setting_rules.h"

#include "runlog/run_log.h"

namespace vantu {

const char kInstallPathRule[] =
    "a folder below the program-files folder: no drive or \":\", no leading \"\\\" or \"/\", no \".\" or \"..\" "
    "component, no empty component";
const char kExecutionRule[] = "one plain file name: no \"\\\", \"/\", \":\" or quote, not \".\" or \"..\"";

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Windows drops trailing dots and blanks from a name, so a name made of
// nothing else is "." or ".." (or nothing) to it.
bool OnlyDotsAndBlanks(const std::wstring& text, size_t begin, size_t end) {
  for (size_t i = begin; i < end; ++i) {
    if (text[i] != L'.' && text[i] != L' ') return false;
  }
  return true;
}

}  // namespace

const char* InstallPathFault(const std::wstring& installPath) {
  if (installPath.empty()) return nullptr;
  if (installPath.find(L':') != std::wstring::npos) return "it names a drive (a colon)";
  if (IsSeparator(installPath.front())) return "it starts at the root (a leading \"\\\" or \"/\")";
  // The components, without the one empty component after a trailing
  // backslash.
  const size_t end = installPath.back() == L'\\' ? installPath.size() - 1 : installPath.size();
  for (size_t begin = 0; begin <= end;) {
    size_t next = begin;
    while (next < end && !IsSeparator(installPath[next])) ++next;
    if (next == begin) return "it has an empty component (two separators in a row)";
    if (OnlyDotsAndBlanks(installPath, begin, next)) {
      return "it has a \".\" or \"..\" component (or one of dots and blanks alone)";
    }
    begin = next + 1;
  }
  return nullptr;
}

const char* ExecutionFault(const std::wstring& execution) {
  if (execution.empty()) return nullptr;
  for (const wchar_t c : execution) {
    switch (c) {
      case L'\\':
        return "it holds a \"\\\" (another folder)";
      case L'/':
        return "it holds a \"/\" (another folder)";
      case L':':
        return "it holds a \":\" (a drive)";
      case L'"':
        return "it holds a quote (which ends the quoted path early)";
      default:
        break;
    }
  }
  if (OnlyDotsAndBlanks(execution, 0, execution.size())) {
    return "it is \".\" or \"..\" (or dots and blanks alone)";
  }
  return nullptr;
}

void LogBrokenRule(const char* key, const std::wstring& value, const char* rule, const char* fault,
                   const char* consequence) {
  LogLine({"setting \"", key, "\" = \"", value, "\" breaks its rule (", rule, "): ", fault, "; ", consequence});
}

}  // namespace vantu
