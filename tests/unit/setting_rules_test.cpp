// The rules that keep InstallPath, Execution and RegistryKey inside their places.
#include "settings/setting_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "tests/support/wide.h"

namespace vantu {
namespace {

using test_support::W;

// What a fault must speak of; "" for a value that keeps to its rule.
struct Row {
  const char* value;
  const char* fault;
};

void Check(const char* (*fault)(const std::wstring&), const Row& row) {
  const char* found = fault(W(row.value));
  if (*row.fault == '\0') {
    EXPECT_EQ(nullptr, found) << row.value << ": " << found;
  } else {
    ASSERT_NE(nullptr, found) << row.value;
    EXPECT_NE(std::string::npos, std::string(found).find(row.fault)) << row.value << ": " << found;
  }
}

// As ReadInstallPath hands the values over: empty, or ending in one
// backslash that it may have added.
TEST(SettingRulesTest, InstallPathStaysBelowTheProgramFilesFolder) {
  const Row rows[] = {
      // Ordinary values, as vendors write them.
      {"", ""},
      {"Fan\\", ""},
      {"Vendor\\Fan Control\\", ""},
      {"Vendor\\FanControl\\", ""},
      {"a.b\\", ""},
      {"Fan.\\", ""},        // Windows drops the dot: still a name
      {"...a\\", ""},
      {".hidden\\x\\", ""},
      {"新機能\\表\\", ""},  // second bytes of 0x5C in code page 932 are no backslashes
      {"Fan", ""},           // as written, before the backslash is added
      // Out of the program-files folder.
      {"..\\Fan\\", "\"..\""},
      {"..\\..\\..\\Fan\\", "\"..\""},
      {"Fan\\..\\..\\x\\", "\"..\""},
      {"Fan/../x\\", "\"..\""},
      {".\\Fan\\", "\".\""},
      {"Fan\\.\\", "\".\""},
      {"...\\", "\"..\""},     // dots alone: Windows reads them as the folder itself
      {".. \\Fan\\", "\"..\""},  // dots and blanks alone
      {" \\", "\".\""},
      {"C:\\Fan\\", "drive"},
      {"C:Fan\\", "drive"},
      {"D:\\", "drive"},
      {"Fan\\x:y\\", "drive"},
      {"\\Fan\\", "root"},
      {"/Fan\\", "root"},
      {"\\\\server\\share\\", "root"},
      {"\\", "root"},
      // Two separators in a row are one, as Windows reads them.
      {"Vendor\\\\Fan\\", ""},
      {"Fan//x\\", ""},
      {"Fan\\\\", ""},
      {"Fan/\\", ""},
      {"Fan\\\\..\\x\\", "\"..\""},
  };
  for (const Row& row : rows) Check(InstallPathFault, row);
  for (const auto& [path, read] : {std::pair{"Vendor\\\\Fan\\", "Vendor\\Fan\\"}, {"a//b\\/c", "a/b\\c"},
                                   {"Fan\\\\", "Fan\\"}, {"plain\\", "plain\\"}}) {
    EXPECT_EQ(W(read), WithoutEmptyComponents(W(path))) << path;
  }
}

TEST(SettingRulesTest, RegistryKeyStaysBelowSoftware) {
  const Row rows[] = {
      {"", ""},  // no key: no record, but no fault
      {"SOFTWARE\\Vendor\\FanControl", ""},
      {"Software\\Vendor", ""},
      {"software\\Vendor\\Fan Control\\", ""},  // one trailing backslash, as vendors write it
      {"SOFTWARE\\新機能\\表", ""},
      {"SOFTWARE\\a/b", ""},  // a slash is part of a key's name
      {"System\\CurrentControlSet\\Control\\Session Manager\\Environment", "below SOFTWARE"},
      {"SOFTWARE", "below SOFTWARE"},
      {"SOFTWARE\\", "below SOFTWARE"},
      {"SOFTWAREX\\Vendor", "below SOFTWARE"},
      {"SYSTEM\\Software\\Vendor", "below SOFTWARE"},
      {"Vendor\\SOFTWARE\\x", "below SOFTWARE"},
      {"\\SOFTWARE\\Vendor", "root"},
      {"SOFTWARE\\\\Vendor", "empty component"},
      {"SOFTWARE\\Vendor\\\\Fan", "empty component"},
      {"SOFTWARE\\Vendor\\\\", "empty component"},
      {"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", "Windows' own"},
      {"Software\\classes\\CLSID\\x", "Windows' own"},
      {"SOFTWARE\\Policies", "Windows' own"},
      {"SOFTWARE\\Wow6432Node\\Microsoft\\x", "Windows' own"},
      {"SOFTWARE\\Clients\\x", "Windows' own"},
      {"SOFTWARE\\RegisteredApplications", "Windows' own"},
      {"SOFTWARE\\MicrosoftFan\\x", ""},  // a vendor's own name that begins alike
  };
  for (const Row& row : rows) Check(RegistryKeyFault, row);
}

TEST(SettingRulesTest, ExecutionIsOnePlainFileName) {
  const Row rows[] = {
      {"fansvc.exe", ""},
      {"fan service.exe", ""},
      {"a.b.exe", ""},
      {"服务 svc.exe", ""},
      {"ソ.exe", ""},
      {"x", ""},
      {"..x.exe", ""},
      {"", ""},  // nothing named: the launch fails, as it always has
      {"..\\..\\..\\Users\\Public\\x.exe", "\"\\\""},
      {"sub\\svc.exe", "\"\\\""},
      {"\\\\server\\share\\x.exe", "\"\\\""},
      {"sub/svc.exe", "\"/\""},
      {"C:\\x.exe", "\":\""},  // the first character that breaks the rule counts
      {"C:x.exe", "\":\""},
      {"svc.exe:stream", "\":\""},
      {"svc.exe\"", "quote"},  // would leave the command line's path unquoted
      {"\"svc.exe\"", "quote"},
      {"svc\".exe", "quote"},
      {".", "\".\""},
      {"..", "\"..\""},
      {"...", "\"..\""},
      {" ", "\"..\""},
      {". .", "\"..\""},
  };
  for (const Row& row : rows) Check(ExecutionFault, row);
}

}  // namespace
}  // namespace vantu
