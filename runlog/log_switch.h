// The command line's only switch: /LOG asks for a run log.
//
//   /LOG            a new file in the user's temporary folder
//   /LOG="path"     that file, replaced (quotes optional without blanks)
//
// Recognised with "/" or "-" and in any case ("-log=x.txt"); the last one
// counts. Every other argument is ignored, as the run always has. The
// arguments are UTF-16, as Windows hands them to the program: a log path
// may be named in any language.
#pragma once

#include <string>
#include <vector>

namespace vantu {

struct LogRequest {
  enum class Kind { kNone, kNewInTemp, kPath };
  Kind kind = Kind::kNone;
  std::wstring path;  // for kPath
};

LogRequest ParseLogSwitch(const std::vector<std::wstring>& arguments);

}  // namespace vantu
