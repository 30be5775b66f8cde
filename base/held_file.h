// A file in a folder that other programs may change (the program folder),
// opened for reading so that it cannot change while it is used, and checked
// to be a plain file of that folder. setup.exe runs with administrator
// rights and copies what it finds there into a folder that every user may
// read: a name there that leads elsewhere (a symbolic link, a junction, a
// second name of a file) would have the run read a file that the user
// cannot, and publish it.
#pragma once

#include <windows.h>

#include <string>

#include "base/opened_file.h"
#include "base/unique_handle.h"

namespace vantu {

// What kind of reparse point a tag names, for the log: "a symbolic link",
// "a junction or mount point", "a reparse point (tag 0xA0000099)".
std::string ReparsePointKind(DWORD tag);

class HeldFile {
 public:
  HeldFile() = default;
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;

  // Opens `path` for reading, the name itself rather than what it may lead
  // to (FILE_FLAG_OPEN_REPARSE_POINT), sharing reading only: nobody can
  // write, rename, remove or replace it while it is open. A reparse point
  // whose tag names another place is refused. One that a filter keeps is
  // opened a second time, through its filter, which brings its data (a
  // cloud placeholder is fetched); the first handle keeps it the same file
  // meanwhile. Then checks by the handle that it is a file of one name
  // whose final path is `path`. False, with every handle closed, when it
  // cannot be opened or is anything else.
  bool Open(const std::wstring& path);

  // Lets go of the file.
  void Close();

  // The handle to read the data through; INVALID_HANDLE_VALUE when not open.
  HANDLE handle() const { return data_ ? data_.get() : itself_.get(); }
  bool is_open() const { return static_cast<bool>(itself_); }

  // Why Open refused: the error of an open that failed (0 when the opens
  // succeeded), else what the check found.
  DWORD open_error() const { return openError_; }
  const OpenedFileCheck& check() const { return check_; }

 private:
  bool Refuse(DWORD openError);

  UniqueFileHandle itself_;  // the name itself, held while the file is used
  UniqueFileHandle data_;    // through its filter, for a file a filter keeps
  DWORD openError_ = 0;
  OpenedFileCheck check_;
};

}  // namespace vantu
