// setup.ini beside the running program, written for one test and removed
// afterwards, and taken as a run takes it (settings() is what the setting
// readers read). Natively the program is C:\setup\setup.exe; under Wine it
// is the test program itself.
#pragma once

#include <memory>
#include <string>

#include "settings/settings_file.h"

namespace test_support {

class SetupIniFile {
 public:
  // Writes `contents` (bytes, as the file is to hold them) as setup.ini in
  // the program's folder.
  explicit SetupIniFile(const std::string& contents);
  // No setup.ini at all.
  SetupIniFile();
  ~SetupIniFile();
  SetupIniFile(const SetupIniFile&) = delete;
  SetupIniFile& operator=(const SetupIniFile&) = delete;

  // Writes it anew, and takes it again.
  void Rewrite(const std::string& contents);
  const std::string& path() const { return path_; }
  const vantu::SettingsFile& settings() const { return *settings_; }

 private:
  void Take();

  std::string path_;
  // Held while taken: let go before setup.ini is written again.
  std::unique_ptr<vantu::SettingsFile> settings_;
};

}  // namespace test_support
