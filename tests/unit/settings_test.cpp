#include "settings/settings.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/scratch.h"
#include "tests/support/setup_ini.h"

namespace vantu {
namespace {

using test_support::SetupIniFile;

TEST(FolderOfModulePathTest, LastBackslashElseDriveElseNothing) {
  struct Case {
    const char* path;
    const char* folder;
  };
  const Case cases[] = {
      {"D:\\Tools\\Setup\\setup.exe", "D:\\Tools\\Setup\\"},
      {"C:\\setup.exe", "C:\\"},
      {"D:setup.exe", "D:"},
      {"setup.exe", ""},
      {"", ""},
      {"\\\\server\\share\\setup.exe", "\\\\server\\share\\"},
      {"D:/Tools/setup.exe", "D:"},        // a forward slash is no separator
      {"a:b:c", "a:"},                     // only the first colon counts
      {"D:\\Tools\\", "D:\\Tools\\"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.folder, FolderOfModulePath(c.path)) << c.path;
}

class SettingsTest : public test_support::PlatformTest {};

TEST_F(SettingsTest, SetupIniLiesBesideTheProgram) {
  const std::string folder = ModuleDirectory();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ('\\', folder.back());
  EXPECT_EQ(folder + "setup.ini", SetupIniPath());
}

TEST_F(SettingsTest, ReadersReturnTheirKeys) {
  SetupIniFile ini(
      "[Common]\n"
      "ServiceName=FanSvc\n"
      "InstallPath=Vendor\\Fan\n"
      "RegistryKey=SOFTWARE\\Vendor\\Fan\n"
      "Execution=fansvc.exe\n"
      "version=2.1.0\n");
  EXPECT_EQ("FanSvc", ReadServiceName());
  EXPECT_EQ("Vendor\\Fan\\", ReadInstallPath());
  EXPECT_EQ("SOFTWARE\\Vendor\\Fan", ReadRegistryKey());
  EXPECT_EQ("fansvc.exe", ReadExecution());
  EXPECT_EQ("2.1.0", ReadSetupVersion());
}

TEST_F(SettingsTest, InstallPathGetsOneTrailingBackslash) {
  struct Case {
    const char* value;
    const char* read;
  };
  const Case cases[] = {{"Fan\\Service", "Fan\\Service\\"},
                        {"Fan\\Service\\", "Fan\\Service\\"},
                        {"\\", "\\"},
                        {"", ""},
                        {"Fan/Service", "Fan/Service\\"}};
  SetupIniFile ini;
  for (const auto& c : cases) {
    ini.Rewrite(std::string("[Common]\nInstallPath=") + c.value + "\n");
    EXPECT_EQ(c.read, ReadInstallPath()) << c.value;
  }
}

TEST_F(SettingsTest, MissingKeysAndTheMarkerReadAsEmpty) {
  SetupIniFile ini("[Common]\nServiceName=error737\nExecution=Error737\nversion=\n");
  EXPECT_EQ("", ReadServiceName());        // the marker itself is a miss
  EXPECT_EQ("Error737", ReadExecution());  // another case is an ordinary value
  EXPECT_EQ("", ReadSetupVersion());       // present but empty
  EXPECT_EQ("", ReadInstallPath());        // absent
  EXPECT_EQ("", ReadRegistryKey());
}

TEST_F(SettingsTest, NoSetupIniAtAll) {
  SetupIniFile none;
  EXPECT_EQ("", ReadServiceName());
  EXPECT_EQ("", ReadInstallPath());
  EXPECT_EQ("", ReadRegistryKey());
  EXPECT_EQ("", ReadExecution());
  EXPECT_EQ("", ReadSetupVersion());
}

TEST_F(SettingsTest, LongValueIsReadWhole) {
  const std::string value(200, 'k');
  SetupIniFile ini("[Common]\nRegistryKey=" + value + "\n");
  EXPECT_EQ(value, ReadRegistryKey());
}

TEST_F(SettingsTest, EveryReadSeesTheFileAsItIsNow) {
  SetupIniFile ini("[Common]\nversion=1.0\n");
  EXPECT_EQ("1.0", ReadSetupVersion());
  ini.Rewrite("[Common]\nversion=1.1\n");
  EXPECT_EQ("1.1", ReadSetupVersion());
}

}  // namespace
}  // namespace vantu
