#include "runlog/log_switch.h"

#include <cctype>

namespace vantu {
namespace {

bool StartsWithSwitch(const std::string& argument) {
  static const char kName[] = "log";
  if (argument.size() < 4 || (argument[0] != '/' && argument[0] != '-')) return false;
  for (size_t i = 0; i < 3; ++i) {
    if (std::tolower(static_cast<unsigned char>(argument[i + 1])) != kName[i]) return false;
  }
  return argument.size() == 4 || argument[4] == '=' || argument[4] == ':';
}

}  // namespace

LogRequest ParseLogSwitch(const std::vector<std::string>& arguments) {
  LogRequest request;
  for (const std::string& argument : arguments) {
    if (!StartsWithSwitch(argument)) continue;
    std::string path = argument.size() > 5 ? argument.substr(5) : std::string();
    // The C runtime has taken the quotes off already; a caller that kept
    // them (or quoted only part) still means the text between.
    if (path.size() >= 2 && path.front() == '"' && path.back() == '"') path = path.substr(1, path.size() - 2);
    if (path.empty()) {
      request = LogRequest{LogRequest::Kind::kNewInTemp, {}};
    } else {
      request = LogRequest{LogRequest::Kind::kPath, path};
    }
  }
  return request;
}

}  // namespace vantu
