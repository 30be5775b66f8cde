#include "settings/setting_rules.h"

#include "base/path_functions.h"
#include "runlog/run_log.h"

namespace vantu {

const char kInstallPathRule[] =
    "a folder below the program-files folder: no drive or \":\", no leading \"\\\" or \"/\", no \".\" or \"..\" "
    "component";
const char kRegistryKeyRule[] =
    "a key below HKEY_LOCAL_MACHINE\\SOFTWARE: \"SOFTWARE\\\" and a name after it, none of Windows' own keys there "
    "(Microsoft, Classes, Policies, Clients, RegisteredApplications, Wow6432Node), no leading \"\\\", no empty "
    "component";
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
    if (next > begin && OnlyDotsAndBlanks(installPath, begin, next)) {
      return "it has a \".\" or \"..\" component (or one of dots and blanks alone)";
    }
    begin = next + 1;
  }
  return nullptr;
}

std::wstring WithoutEmptyComponents(const std::wstring& path) {
  std::wstring result;
  for (const wchar_t c : path) {
    if (IsSeparator(c) && !result.empty() && IsSeparator(result.back())) continue;
    result += c;
  }
  return result;
}

const char* RegistryKeyFault(const std::wstring& registryKey) {
  if (registryKey.empty()) return nullptr;
  if (registryKey.front() == L'\\') return "it starts at the root (a leading \"\\\")";
  static const wchar_t kSoftware[] = L"SOFTWARE\\";
  const size_t prefix = sizeof kSoftware / sizeof kSoftware[0] - 1;
  bool below = registryKey.size() > prefix;
  for (size_t i = 0; below && i < prefix; ++i) {
    wchar_t c = registryKey[i];
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    below = c == kSoftware[i];
  }
  if (!below) return "it names no key below SOFTWARE\\";
  // The names after SOFTWARE\, without the one empty name after a trailing
  // backslash.
  const size_t end = registryKey.back() == L'\\' ? registryKey.size() - 1 : registryKey.size();
  if (end <= prefix) return "it names no key below SOFTWARE\\";
  for (size_t i = prefix; i < end; ++i) {
    if (registryKey[i] == L'\\' && (i == prefix || registryKey[i - 1] == L'\\')) {
      return "it has an empty component (two backslashes in a row)";
    }
  }
  if (registryKey[end - 1] == L'\\') return "it has an empty component (two backslashes in a row)";
  // The first name below SOFTWARE: Windows' own keys lie there (the Run
  // key, COM's classes, policies), where a record's values would be read
  // as something else.
  const size_t first = registryKey.find(L'\\', prefix);
  const std::wstring vendor = registryKey.substr(prefix, first == std::wstring::npos ? std::wstring::npos : first - prefix);
  for (const wchar_t* own : {L"Microsoft", L"Classes", L"Policies", L"Clients", L"RegisteredApplications",
                             L"Wow6432Node"}) {
    if (SameNameText(vendor, own)) return "it names a key of Windows' own below SOFTWARE";
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
