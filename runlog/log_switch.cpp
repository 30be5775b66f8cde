#include "runlog/log_switch.h"

namespace vantu {
namespace {

wchar_t LowerAscii(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool StartsWithSwitch(const std::wstring& argument) {
  static const wchar_t kName[] = L"log";
  if (argument.size() < 4 || (argument[0] != L'/' && argument[0] != L'-')) return false;
  for (size_t i = 0; i < 3; ++i) {
    if (LowerAscii(argument[i + 1]) != kName[i]) return false;
  }
  return argument.size() == 4 || argument[4] == L'=' || argument[4] == L':';
}

}  // namespace

LogRequest ParseLogSwitch(const std::vector<std::wstring>& arguments) {
  LogRequest request;
  for (const std::wstring& argument : arguments) {
    if (!StartsWithSwitch(argument)) continue;
    std::wstring path = argument.size() > 5 ? argument.substr(5) : std::wstring();
    // The C runtime has taken the quotes off already; a caller that kept
    // them (or quoted only part) still means the text between.
    if (path.size() >= 2 && path.front() == L'"' && path.back() == L'"') path = path.substr(1, path.size() - 2);
    if (path.empty()) {
      request = LogRequest{LogRequest::Kind::kNewInTemp, {}};
    } else {
      request = LogRequest{LogRequest::Kind::kPath, path};
    }
  }
  return request;
}

}  // namespace vantu
