// One file of the program folder, opened for the copy so that it cannot be
// swapped for another while it is copied, and refused when it is no plain
// file of the program folder.
//
// setup.exe runs with administrator rights and copies what it finds in its
// folder into a folder that every user may read. A name there that is a
// link (a symbolic link, a junction, a mount point, a second name of a file
// elsewhere) would have the run read a file that the user cannot, and
// publish it.
#pragma once

#include <windows.h>

#include <string>

#include "base/opened_file.h"
#include "base/unique_handle.h"

namespace vantu {

// Whether an entry of the program folder's listing is a reparse point
// (FILE_ATTRIBUTE_REPARSE_POINT: a symbolic link, a junction, a mount point
// or another kind, whose tag is in dwReserved0). Such an entry is never
// copied: it fails the copy.
bool IsReparsePointEntry(const WIN32_FIND_DATAW& entry);

// What kind of reparse point a tag names, for the log: "a symbolic link",
// "a junction or mount point", "a reparse point (tag 0x80000017)".
std::string ReparsePointKind(DWORD tag);

class PayloadSource {
 public:
  PayloadSource() = default;
  PayloadSource(const PayloadSource&) = delete;
  PayloadSource& operator=(const PayloadSource&) = delete;

  // Opens `path`, a name in the program folder's final path, for reading:
  // the name itself, not what it may lead to (FILE_FLAG_OPEN_REPARSE_POINT),
  // sharing reading only, so that nobody can write, rename, remove or
  // replace it while it is open. Then checks by the handle that it is a
  // plain file of one name whose final path is `path`. False, with the
  // handle closed, when it cannot be opened or is anything else.
  bool Open(const std::wstring& path);

  // The open source, held until this object goes; INVALID_HANDLE_VALUE
  // when it is not open.
  HANDLE handle() const { return handle_.get(); }

  // Logs why Open refused the file `name`:
  //   not copied NAME: it leads to C:\secret.txt (a link)
  void LogRefusal(const std::wstring& name) const;

 private:
  UniqueFileHandle handle_;
  DWORD openError_ = 0;  // CreateFileW failed with it
  OpenedFileCheck check_;
};

}  // namespace vantu
