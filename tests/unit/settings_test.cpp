#include "settings/settings.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "base/module_path.h"
#include "base/path_functions.h"
#include "tests/support/scratch.h"
#include "tests/support/setup_ini.h"
#include "tests/support/wide.h"

namespace vantu {
namespace {

using test_support::SetupIniFile;
using test_support::U8;
using test_support::W;

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
      // Cut at the character, never at a byte: in code page 932 the second
      // byte of 能 and ソ is 0x5C.
      {"C:\\新機能\\setup.exe", "C:\\新機能\\"},
      {"C:\\ソフト\\ソ", "C:\\ソフト\\"},
      {"C:\\Users\\张伟\\Downloads\\😀\\setup.exe", "C:\\Users\\张伟\\Downloads\\😀\\"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.folder, U8(FolderOfModulePath(W(c.path)))) << c.path;
}

class SettingsTest : public test_support::PlatformTest {};

TEST_F(SettingsTest, ReadersReturnTheirKeys) {
  SetupIniFile ini(
      "[Common]\n"
      "ServiceName=FanSvc\n"
      "InstallPath=Vendor\\Fan\n"
      "RegistryKey=SOFTWARE\\Vendor\\Fan\n"
      "Execution=fansvc.exe\n"
      "version=2.1.0\n");
  EXPECT_EQ("FanSvc", U8(ReadServiceName(ini.settings())));
  EXPECT_EQ("Vendor\\Fan\\", U8(ReadInstallPath(ini.settings())));
  EXPECT_EQ("SOFTWARE\\Vendor\\Fan", U8(ReadRegistryKey(ini.settings())));
  EXPECT_EQ("fansvc.exe", U8(ReadExecution(ini.settings())));
  EXPECT_EQ("2.1.0", U8(ReadSetupVersion(ini.settings())));
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
    EXPECT_EQ(c.read, U8(ReadInstallPath(ini.settings()))) << c.value;
  }
}

TEST_F(SettingsTest, MissingKeysAndTheMarkerReadAsEmpty) {
  SetupIniFile ini("[Common]\nServiceName=error737\nExecution=Error737\nversion=\n");
  EXPECT_EQ("", U8(ReadServiceName(ini.settings())));        // the marker itself is a miss
  EXPECT_EQ("Error737", U8(ReadExecution(ini.settings())));  // another case is an ordinary value
  EXPECT_EQ("", U8(ReadSetupVersion(ini.settings())));       // present but empty
  EXPECT_EQ("", U8(ReadInstallPath(ini.settings())));        // absent
  EXPECT_EQ("", U8(ReadRegistryKey(ini.settings())));
}

TEST_F(SettingsTest, NoSetupIniAtAll) {
  SetupIniFile ini;
  EXPECT_FALSE(ini.settings().present());
  EXPECT_EQ("", U8(ReadServiceName(ini.settings())));
  EXPECT_EQ("", U8(ReadInstallPath(ini.settings())));
  EXPECT_EQ("", U8(ReadRegistryKey(ini.settings())));
  EXPECT_EQ("", U8(ReadExecution(ini.settings())));
  EXPECT_EQ("", U8(ReadSetupVersion(ini.settings())));
}

TEST_F(SettingsTest, LongValueIsReadWhole) {
  const std::string value(200, 'k');
  SetupIniFile ini("[Common]\nRegistryKey=" + value + "\n");
  EXPECT_EQ(value, U8(ReadRegistryKey(ini.settings())));
}

// The settings come from the bytes taken at the start, kept in a copy of
// the run's own outside the program folder; setup.ini itself is held so
// that nobody can change or remove it meanwhile, and the copy goes with the
// run.
TEST_F(SettingsTest, EveryReadSeesTheFileAsTaken) {
  std::wstring copy;
  {
    SetupIniFile ini("[Common]\nversion=1.0\n");
    copy = ini.settings().read_path();
    EXPECT_FALSE(LiesBelowFolder(copy, ModuleDirectory().substr(0, ModuleDirectory().size() - 1)));
    const std::wstring path = W(ini.path());
    const HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(INVALID_HANDLE_VALUE, writer);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
    if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
    EXPECT_FALSE(DeleteFileW(path.c_str()));
    EXPECT_EQ("1.0", U8(ReadSetupVersion(ini.settings())));
    EXPECT_TRUE(test_support::FileExists(U8(copy)));
  }
  EXPECT_FALSE(test_support::FileExists(U8(copy)));
}

}  // namespace
}  // namespace vantu
