#include "tests/support/setup_ini.h"

#include "settings/settings.h"
#include "tests/support/scratch.h"
#include "tests/support/wide.h"

namespace test_support {

SetupIniFile::SetupIniFile() : path_(U8(vantu::SetupIniPath())) {
  MakeFolder(U8(vantu::ModuleDirectory()));
  RemoveTree(path_);
}

SetupIniFile::SetupIniFile(const std::string& contents) : SetupIniFile() { Rewrite(contents); }

SetupIniFile::~SetupIniFile() { RemoveTree(path_); }

void SetupIniFile::Rewrite(const std::string& contents) const { WriteFile(path_, contents); }

}  // namespace test_support
