#include "tests/support/setup_ini.h"

#include "base/module_path.h"
#include "settings/settings.h"
#include "tests/support/scratch.h"
#include "tests/support/wide.h"

namespace test_support {

SetupIniFile::SetupIniFile() : path_(U8(vantu::ModuleDirectory() + L"setup.ini")) {
  MakeFolder(U8(vantu::ModuleDirectory()));
  RemoveTree(path_);
  Take();
}

void SetupIniFile::Take() {
  settings_ = std::make_unique<vantu::SettingsFile>();
  settings_->Take(vantu::ModuleDirectory(), nullptr);
}

SetupIniFile::SetupIniFile(const std::string& contents) : SetupIniFile() { Rewrite(contents); }

SetupIniFile::~SetupIniFile() {
  settings_.reset();
  RemoveTree(path_);
}

void SetupIniFile::Rewrite(const std::string& contents) {
  settings_.reset();
  WriteFile(path_, contents);
  Take();
}

}  // namespace test_support
