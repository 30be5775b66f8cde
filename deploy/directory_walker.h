// Lists the entries directly inside one folder, in the platform's order,
// one at a time, by their UTF-16 names. Sub-folders are reported as entries
// and never entered; "." and ".." are reported whenever the platform returns
// them.
#pragma once

#include <windows.h>

#include <deque>
#include <memory>
#include <string>

#include "base/unique_handle.h"

namespace vantu {

// One open search in one folder.
struct SearchLevel {
  std::unique_ptr<WIN32_FIND_DATAW> findData;  // null while no search is open
  UniqueFindHandle handle;
  bool valid = false;  // the last find call succeeded: findData is the current entry
};

class DirectoryWalker {
 public:
  DirectoryWalker() = default;
  ~DirectoryWalker();
  DirectoryWalker(const DirectoryWalker&) = delete;
  DirectoryWalker& operator=(const DirectoryWalker&) = delete;

  // Starts listing `root` (trailing backslashes ignored; empty: the root of
  // the current drive). Always true; a root that cannot be listed leaves the
  // walker at its end.
  bool Open(const std::wstring& root);
  bool AtEnd() const { return levels_.empty(); }
  // The current entry; null at the end.
  const WIN32_FIND_DATAW* Current() const;
  // The folder, one backslash and the current entry's name; empty at the end.
  std::wstring CurrentPath() const;
  void Advance();
  // Moves past folder entries until a file or the end.
  void SkipDirectories();
  // Closes every open search and forgets the folder. Harmless when repeated.
  void Close();

  const std::wstring& path() const { return path_; }
  size_t depth() const { return levels_.size(); }

 private:
  void PushLevel();
  void PopLevel();
  void Settle();

  std::wstring path_;
  // The open searches as a stack, the top one at the back supplying the
  // current entry. The walker is built to walk down a tree: entering a
  // sub-folder would add its name to path_ and push a level for it, and
  // Settle pops a finished level (PopLevel cutting path_ back to the folder
  // above) and goes on with the one below. setup.exe copies only the files
  // directly beside it, so by design nothing enters a sub-folder: Open
  // pushes the root's level and nothing pushes another, and the stack holds
  // one level while walking and none at the end.
  std::deque<std::unique_ptr<SearchLevel>> levels_;
};

}  // namespace vantu
