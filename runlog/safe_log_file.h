// Opening the file of the run log so that it lands only where it means to.
//
// setup.exe runs with administrator rights, or as the local system account,
// and its log lies where the command line says or in a temporary folder:
// places that the user's own programs may write, and whose names they may
// turn into links (a symbolic link, a junction, a hard link) to any file.
// A log that followed one would create or replace that file, with lines
// whose text comes partly from setup.ini. So the log never follows a link,
// never replaces anything but a plain file of its own, and never lies in
// the program folder (every file there is payload, setup.ini among them).
// Its folder is opened first, as itself (not what a link makes of it), and
// held while the file is opened in it; the file is opened as itself too and
// checked by its handle before a byte is written or the file is emptied.
#pragma once

#include <string>

#include "base/unique_handle.h"

namespace vantu {

struct LogFileOpening {
  UniqueFileHandle file;  // open for writing at its start; none when refused
  std::wstring path;      // where the file is
  std::string refusal;    // why there is no file, in UTF-8
};

// /LOG="path": that file, emptied when it exists. Refused when its folder
// is a link or is reached through one, lies in `programFolder` (the program
// folder's final path; refused too while that is unknown), or when the
// name is no plain file of one name where it is looked for.
LogFileOpening OpenLogFileAt(const std::wstring& path, const std::wstring& programFolder);

// /LOG: a new file FanServiceSetup_YYYYMMDD_NNN.log (NNN: the first counter
// whose name is free, link or not) in the temporary folder
// (TemporaryFolderForLog), under the same rules for the folder.
LogFileOpening CreateLogFileInTemp(const std::wstring& programFolder);

// FanServiceSetup_YYYYMMDD_NNN.log for the day of `now` and `counter`.
std::wstring TemporaryLogName(const SYSTEMTIME& now, unsigned counter);

}  // namespace vantu
