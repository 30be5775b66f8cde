#include <gtest/gtest.h>

#include <string>

#include "registry/registry_key.h"
#include "registry/installed_version.h"
#include "tests/support/scratch.h"
#include "tests/support/setup_ini.h"
#include "tests/support/wide.h"

namespace vantu {
namespace {

using test_support::KeyExists;
using test_support::ScratchKey;
using test_support::SetupIniFile;
using test_support::W;

class RegistryTest : public test_support::PlatformTest {
 protected:
  ScratchKey key;
};

TEST_F(RegistryTest, ReaderOpensExistingKeysOnly) {
  RegReader reader;
  EXPECT_FALSE(reader.is_open());
  EXPECT_TRUE(reader.Open(W(key.path())));
  EXPECT_TRUE(reader.is_open());

  RegReader missing;
  EXPECT_FALSE(missing.Open(W(key.path() + "\\Absent")));
  EXPECT_FALSE(missing.is_open());
  EXPECT_EQ(nullptr, missing.open_key().value_names());
  EXPECT_EQ(nullptr, missing.open_key().sub_key_names());
  EXPECT_FALSE(KeyExists(key.path() + "\\Absent"));
}

TEST_F(RegistryTest, EmptyPathOpensTheRootItself) {
  RegReader reader;
  EXPECT_TRUE(reader.Open(L""));
}

TEST_F(RegistryTest, WriterCreatesMissingKeysAndOpensExistingOnes) {
  const std::string path = key.path() + "\\Vendor\\Fan";
  {
    RegWriter writer;
    ASSERT_TRUE(writer.Create(W(path)));
    EXPECT_TRUE(writer.is_open());
  }
  EXPECT_TRUE(KeyExists(path));
  key.SetValue("Keep", REG_SZ, std::string("x\0", 2));
  {
    RegWriter writer;
    EXPECT_TRUE(writer.Create(W(key.path())));  // exists already
  }
  EXPECT_TRUE(test_support::QueryValue(key.path(), "Keep").exists);
}

TEST_F(RegistryTest, NameBuffersAreSizedByTheLongestName) {
  {
    RegReader empty;
    ASSERT_TRUE(empty.Open(W(key.path())));
    ASSERT_NE(nullptr, empty.open_key().value_names());
    EXPECT_EQ(1u, empty.open_key().value_names()->length());
    EXPECT_NE(nullptr, empty.open_key().value_names()->buffer());
    EXPECT_EQ(1u, empty.open_key().sub_key_names()->length());
    EXPECT_EQ(empty.key(), empty.open_key().value_names()->key());
  }
  key.SetValue("Version", REG_SZ, std::string("1\0", 2));
  key.SetValue("A much longer value name", REG_DWORD, std::string(4, '\0'));
  {
    RegWriter writer;
    ASSERT_TRUE(writer.Create(W(key.path() + "\\Sub\\Deeper")));
  }
  RegReader reader;
  ASSERT_TRUE(reader.Open(W(key.path())));
  EXPECT_EQ(25u, reader.open_key().value_names()->length());
  EXPECT_EQ(4u, reader.open_key().sub_key_names()->length());
}

// What QueryVersionValue makes of every way "Version" can be stored.
TEST_F(RegistryTest, VersionValueOfEveryType) {
  struct Case {
    const char* name;
    bool store;
    DWORD type;
    std::string bytes;
    bool read;
    std::string version;
  };
  const Case cases[] = {
      {"REG_SZ", true, REG_SZ, std::string("2.1.0\0", 6), true, "2.1.0"},
      {"REG_SZ without terminator", true, REG_SZ, "2.1.0", true, "2.1.0"},
      {"empty REG_SZ", true, REG_SZ, std::string("\0", 1), true, ""},
      {"REG_SZ of 0 bytes", true, REG_SZ, "", true, ""},
      {"REG_EXPAND_SZ unexpanded", true, REG_EXPAND_SZ, std::string("%SystemRoot%\\1.0\0", 18), true,
       "%SystemRoot%\\1.0"},
      {"REG_MULTI_SZ: first string", true, REG_MULTI_SZ, std::string("1.0\0" "2.0\0\0", 9), true, "1.0"},
      {"REG_DWORD", true, REG_DWORD, std::string("\x01\x02\x00\x00", 4), false, "unchanged"},
      {"REG_BINARY", true, REG_BINARY, "1.0", false, "unchanged"},
      {"missing", false, REG_NONE, "", false, "unchanged"},
  };
  for (const Case& c : cases) {
    ScratchKey own;
    if (c.store) own.SetValue("Version", c.type, c.bytes);
    RegReader reader;
    ASSERT_TRUE(reader.Open(W(own.path())));
    std::string version = "unchanged";
    EXPECT_EQ(c.read, QueryVersionValue(reader.key(), &version)) << c.name;
    EXPECT_EQ(c.version, version) << c.name;
  }
}

TEST_F(RegistryTest, InstalledVersionFromTheConfiguredKey) {
  SetupIniFile ini("[Common]\nRegistryKey=" + key.path() + "\n");
  EXPECT_EQ("", ReadInstalledVersion(ini.settings()).ansi);  // key without "Version"
  key.SetValue("Version", REG_SZ, std::string("3.4\0", 4));
  EXPECT_EQ("3.4", ReadInstalledVersion(ini.settings()).ansi);
  ini.Rewrite("[Common]\nRegistryKey=" + key.path() + "\\Absent\n");
  EXPECT_EQ("", ReadInstalledVersion(ini.settings()).ansi);
  EXPECT_FALSE(KeyExists(key.path() + "\\Absent"));
}

// A key outside SOFTWARE is refused where it is first read, and never
// written; an empty one is no key: nothing is read or written at the root.
TEST_F(RegistryTest, NoRecordOutsideSoftwareNorAtTheRoot) {
  SetupIniFile ini("[Common]\nRegistryKey=System\\" + key.path() + "\n");
  EXPECT_TRUE(ReadInstalledVersion(ini.settings()).refused);
  EXPECT_FALSE(RecordInstall(L"System\\" + W(key.path()), L"1.0", L"C:\\x\\"));
  EXPECT_FALSE(KeyExists("System\\" + key.path()));
  ini.Rewrite("[Common]\nRegistryKey=\n");
  const InstalledVersion none = ReadInstalledVersion(ini.settings());
  EXPECT_EQ("", none.ansi);
  EXPECT_FALSE(none.refused);
  EXPECT_FALSE(RecordInstall(L"", L"1.0", L"C:\\x\\"));
  EXPECT_FALSE(test_support::QueryValue("", "Path").exists);
  EXPECT_TRUE(RecordInstall(W(key.path()), L"1.0", L"C:\\x\\"));
}

// The record is written through the wide functions; read back through the
// ANSI ones (as the next run compares versions) it is the same text in the
// ANSI code page, and through the wide ones it is the exact name. ASCII text
// gives the same stored bytes as it always did.
TEST_F(RegistryTest, RecordReadsBackInBothForms) {
  struct Case {
    const char* version;
    const char* folder;
    const char* ansiVersion;  // in code page 1252
  };
  const Case cases[] = {
      {"2.1.0", "C:\\Program Files\\Vendor\\Fan\\2.1.0\\", "2.1.0"},
      {"", "C:\\Program Files\\Vendor\\Fan\\\\", ""},
      {"2.1-café", "C:\\Program Files\\Vendor\\Fan\\2.1-café\\", "2.1-caf\xE9"},
      {"表1", "C:\\Program Files\\新機能\\表1\\", "?1"},  // one default character for 表
  };
  for (const Case& c : cases) {
    RecordInstall(W(key.path()), W(c.version), W(c.folder));
    const auto version = test_support::QueryValue(key.path(), "Version");
    ASSERT_TRUE(version.exists) << c.version;
    EXPECT_EQ(REG_SZ, version.type) << c.version;
    EXPECT_EQ(std::string(c.ansiVersion) + '\0', version.bytes) << c.version;
    EXPECT_EQ(c.version, test_support::QueryText(key.path(), "Version")) << c.version;
    EXPECT_EQ(c.folder, test_support::QueryText(key.path(), "Path")) << c.version;
    RegReader reader;
    ASSERT_TRUE(reader.Open(W(key.path())));
    std::string read;
    EXPECT_TRUE(QueryVersionValue(reader.key(), &read));
    EXPECT_EQ(c.ansiVersion, read) << c.version;
  }
}

}  // namespace
}  // namespace vantu
