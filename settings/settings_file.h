// setup.ini as the run took it at its start: the file beside setup.exe,
// held so that nobody can change it, and a private copy of its bytes that
// the settings are read from.
//
// setup.exe runs with administrator rights from a folder that the user's
// own programs may write, and the profile service reads a file by its path.
// A path into that folder may lead elsewhere by the time a setting is read
// (a folder link that was pointed elsewhere), so the settings are read from
// a copy that the run made, of the bytes it read (and, for a sealed
// setup.exe, checked) once: in the machine's temporary folder
// (%SystemRoot%\Temp), where other users may add files but change nobody
// else's, under a name that nothing had before. The profile service keeps
// its own rules on keys, blanks and quotes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "base/file_data.h"
#include "base/held_file.h"
#include "base/unique_handle.h"

namespace vantu {

class SettingsFile {
 public:
  enum class Outcome {
    kTaken,    // copied and held
    kMissing,  // no setup.ini beside setup.exe: every setting reads as missing
    kRefused,  // setup.ini is there but cannot be held as a plain file (why())
    kNoCopy,   // the private copy could not be made (why())
  };

  SettingsFile() = default;
  // Removes the private copy.
  ~SettingsFile();
  SettingsFile(const SettingsFile&) = delete;
  SettingsFile& operator=(const SettingsFile&) = delete;

  // Takes setup.ini from `programFolder` (the program folder's final path,
  // ending in a backslash): holds it (base/held_file.h), copies its bytes to
  // a new file of the run's own, each chunk shown to `observer` (may be
  // null: a sealed run hashes it), and holds the copy.
  Outcome Take(const std::wstring& programFolder, DataObserver* observer);

  // Where the settings are read from: the private copy; empty without one.
  const std::wstring& read_path() const { return copyPath_; }
  // setup.ini as the user knows it, for messages and the log.
  const std::wstring& shown_path() const { return shownPath_; }
  bool present() const { return !copyPath_.empty(); }
  uint64_t size() const { return size_; }
  // Why it was refused or not copied, in UTF-8.
  const std::string& why() const { return why_; }

 private:
  Outcome Fail(Outcome outcome, const std::string& why);
  bool MakeCopy(DataObserver* observer, std::string* why);
  void RemoveCopy();

  std::wstring shownPath_;
  std::wstring copyPath_;
  HeldFile original_;
  UniqueFileHandle copy_;  // held, reading shared, while the run lasts
  uint64_t size_ = 0;
  std::string why_;
};

}  // namespace vantu
