#include "run/version_compare.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/wide.h"

namespace vantu {
namespace {

struct Comparison {
  const char* installed;
  const char* offered;
  bool older;
};

TEST(IsOlderVersionTest, ComparesTextByteBySignedByte) {
  const Comparison cases[] = {
      {"1.0.9", "1.0.10", false},  // text, not numbers: '9' > '1'
      {"1.0.10", "1.0.9", true},
      {"9", "10", false},
      {"10", "9", true},
      {"1.2", "1.2.0", true},      // a proper prefix is older
      {"1.2.0", "1.2", false},
      {"1.2", "1.2.1", true},
      {"1.2.1", "1.2", false},
      {"1.0", "1.0", false},       // equal texts
      {"", "1.0", true},           // nothing recorded: older than any offer
      {"1.0", "", false},
      {"", "", false},
      {"\xE9", "1", true},         // 0xE9 is negative as a signed byte
      {"1", "\xE9", false},
      {"\x80", "\x7F", true},
      {"\xFF", "\x80", false},     // -1 > -128
      {"a", "B", false},           // case counts: 'a' (97) > 'B' (66)
      {"2.0", "10.0", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.older, IsOlderVersion(c.installed, c.offered))
        << "installed \"" << c.installed << "\", offered \"" << c.offered << "\"";
  }
}

TEST(IsOlderVersionTest, EmbeddedZeroBytesAreOrdinaryBytes) {
  EXPECT_TRUE(IsOlderVersion(std::string("1\0", 2), std::string("1\x01", 2)));
  EXPECT_TRUE(IsOlderVersion(std::string("1", 1), std::string("1\0", 2)));
}

TEST(IsDeployableVersionTest, OnlyOneFolderNameIsAVersionToDeploy) {
  struct Case {
    std::string version;
    bool deployable;
  };
  const Case cases[] = {
      {"2.1.0", true},
      {"1", true},
      {"v2 beta", true},
      {"2.1.0-rc1", true},
      {".1", true},
      {"été", true},           // any character
      {"表1", true},           // whose second byte in code page 932 is 0x5C: no backslash
      {"ソ", true},
      {"版本😀", true},
      {"", false},             // no setup.ini, no key, or an empty value
      {".", false},            // InstallPath itself
      {"..", false},           // the folder above it
      {"...", false},          // trailing dots are dropped: InstallPath itself
      {" ", false},
      {". .", false},
      {"2.1. ", true},         // still a name of its own ("2.1")
      {"\\", false},
      {"/", false},
      {":", false},
      {"1.0\\", false},
      {"1.0/", false},
      {"\\1.0", false},
      {"..\\..\\Windows", false},
      {"a/b", false},
      {"C:", false},
      {"C:1.0", false},
      {"1.0:stream", false},
      {std::string("\0", 1), false},       // the platform would see an empty name
      {std::string("1.0\0x", 5), false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.deployable, IsDeployableVersion(test_support::W(c.version))) << "\"" << c.version << "\"";
  }
}

}  // namespace
}  // namespace vantu
