// What an open handle really is and where it really leads: the checks that
// let setup.exe, which runs with administrator rights, open a name in a
// folder that other programs may change (the program folder, a log's
// folder) without being led through a link to some other file.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace vantu {

// The path of what `handle` is open on, every link on the way resolved, as
// GetFinalPathNameByHandleW tells it and PathFromFinalPath shapes it
// (C:\a\b, \\server\share\b); empty when the platform cannot tell, with the
// reason in `error` when given.
std::wstring FinalPathOf(HANDLE handle, DWORD* error = nullptr);

// What an open handle is: its attributes (FILE_ATTRIBUTE_REPARSE_POINT for a
// reparse point opened as itself, FILE_ATTRIBUTE_DIRECTORY), its reparse
// tag, its number of names and its size. Asked with two
// GetFileInformationByHandleEx queries (FileAttributeTagInfo,
// FileStandardInfo): under Wine, GetFileInformationByHandle also reads the
// volume's label, at several times the cost, for every file of a payload.
struct FileFacts {
  DWORD attributes = 0;
  DWORD reparseTag = 0;
  DWORD names = 0;
  uint64_t size = 0;

  bool reparse_point() const { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }
  bool folder() const { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
};
// False, with the platform's error for GetLastError, when it cannot tell.
bool QueryFileFacts(HANDLE handle, FileFacts* facts);

// Whether a reparse tag names another place (a symbolic link, a junction or
// mount point, and their kin): its name-surrogate bit. Every other tag marks
// a file that a file-system filter keeps (a cloud file, a deduplicated one),
// whose data is there once the filter has brought it.
bool IsNameSurrogateTag(DWORD tag);

// Whether `error`, from GetFinalPathNameByHandleW, says that the volume
// cannot tell a final path at all (some network and third-party file
// systems), rather than that something went wrong.
bool FinalPathNotSupported(DWORD error);

// What CheckOpenedFile lets pass beside a plain file.
struct OpenedFileRules {
  // A reparse point whose tag names no other place: a file that a
  // file-system filter keeps (a cloud file, a deduplicated one).
  bool filteredFiles = false;
  // A file on a volume that tells no final path (FinalPathNotSupported):
  // taken by the name it was opened with.
  bool unknownFinalPath = false;
};

// What CheckOpenedFile found.
struct OpenedFileCheck {
  enum class Kind {
    kPlainFile,    // a file, not a link, of one name, where it was looked for
    kUnknown,      // the platform could not tell (`error`)
    kFolder,       // a folder
    kReparsePoint, // a reparse point itself (a symbolic link, a junction, ...)
    kSeveralNames, // a file with more than one name (`names`): a hard link
    kElsewhere,    // the handle leads to `finalPath`, not to the name opened
  };
  Kind kind = Kind::kUnknown;
  DWORD error = 0;
  DWORD names = 0;
  DWORD reparseTag = 0;  // kReparsePoint: its tag
  DWORD filterTag = 0;   // a plain file that a filter keeps: its tag
  uint64_t size = 0;     // its size in bytes
  bool finalPathUnknown = false;  // a plain file whose volume tells no final path
  std::wstring finalPath;

  bool plain_file() const { return kind == Kind::kPlainFile; }
  // What was found, in UTF-8, for the log: "it is a reparse point (a link)".
  std::string Describe() const;
};

// Checks that `handle` (opened with FILE_FLAG_OPEN_REPARSE_POINT) is open on
// a plain file of one name whose final path is `expectedPath`, or on what
// `rules` let pass. Only the last: Wine shows a Unix symbolic link to a file
// as that file, and only its final path gives it away. Where the platform
// tells no final path for a path that long (Wine, beyond MAX_PATH), the
// path below the volume's root is compared instead.
OpenedFileCheck CheckOpenedFile(HANDLE handle, const std::wstring& expectedPath, OpenedFileRules rules = {});

}  // namespace vantu
