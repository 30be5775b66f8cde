// setup.ini beside the running program, written for one test and removed
// afterwards. Natively the program is C:\setup\setup.exe; under Wine it is
// the test program itself.
#pragma once

#include <string>

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

  void Rewrite(const std::string& contents) const;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace test_support
