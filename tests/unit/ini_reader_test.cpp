#include "settings/ini_reader.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/scratch.h"

namespace vantu {
namespace {

using test_support::ScratchFolder;
using test_support::WriteFile;

class IniReaderTest : public test_support::PlatformTest {
 protected:
  std::string Write(const std::string& contents) {
    const std::string path = folder.path() + "test.ini";
    WriteFile(path, contents);
    return path;
  }

  ScratchFolder folder;
};

// The buffer starts at 128 characters and doubles while the platform's count
// may mean a cut value (size - 2 or more); the size reached stays for later
// reads.
TEST_F(IniReaderTest, BufferGrowsUntilTheValueFits) {
  struct Growth {
    size_t length;
    uint32_t bufferSize;
  };
  const Growth cases[] = {{0, 128},   {125, 128},  {126, 256},  {127, 256},   {128, 256}, {253, 256},
                          {254, 512}, {255, 512},  {300, 512},  {1000, 1024}, {5000, 8192}};
  for (const auto& c : cases) {
    const std::string value(c.length, 'v');
    IniReader reader;
    ASSERT_TRUE(reader.Open(Write("[Common]\nKey=" + value + "\n")));
    std::string read;
    reader.Read("Key", "error737", &read);
    EXPECT_EQ(value, read) << c.length;
    EXPECT_EQ(c.bufferSize, reader.buffer_size()) << c.length;
  }
}

// The platform cuts a quoted value that just fills the buffer one character
// short and reports that as a complete read; the reader must not stop there.
TEST_F(IniReaderTest, QuotedValuesAreReadWhole) {
  for (size_t length : {125u, 126u, 127u, 128u, 253u, 254u, 255u, 256u, 509u, 510u, 511u}) {
    for (const char quote : {'"', '\''}) {
      const std::string value(length, 'q');
      IniReader reader;
      ASSERT_TRUE(reader.Open(Write("[Common]\nKey=" + std::string(1, quote) + value + quote + "\n")));
      std::string read;
      reader.Read("Key", "error737", &read);
      EXPECT_EQ(length, read.size()) << quote << length;
      EXPECT_TRUE(read == value) << quote << length;
    }
  }
}

TEST_F(IniReaderTest, SizeReachedStaysForTheNextRead) {
  IniReader reader;
  ASSERT_TRUE(reader.Open(Write("[Common]\nLong=" + std::string(300, 'x') + "\nShort=y\n")));
  std::string value;
  reader.Read("Long", "", &value);
  reader.Read("Short", "", &value);
  EXPECT_EQ("y", value);
  EXPECT_EQ(512u, reader.buffer_size());
}

TEST_F(IniReaderTest, KeyListUsesTheWiderMargin) {
  IniReader reader;
  // "a=1" .. : key names of 5 characters, 21 of them: 126 characters listed.
  std::string contents = "[Common]\n";
  std::string expected;
  for (int i = 0; i < 21; ++i) {
    const std::string name = "key" + std::string(i < 10 ? "0" : "") + std::to_string(i);
    contents += name + "=1\n";
    expected += name + '\0';
  }
  ASSERT_TRUE(reader.Open(Write(contents)));
  std::string first;
  reader.Read(nullptr, "", &first);
  EXPECT_EQ("key00", first);  // the list, up to its first separator
  EXPECT_EQ(256u, reader.buffer_size());
}

TEST_F(IniReaderTest, OpenCloseAndReopen) {
  IniReader reader;
  EXPECT_EQ(0u, reader.buffer_size());
  ASSERT_TRUE(reader.Open(Write("[Common]\nKey=one\n")));
  EXPECT_EQ(128u, reader.buffer_size());
  reader.Close();
  EXPECT_EQ(0u, reader.buffer_size());
  reader.Close();  // harmless twice
  ASSERT_TRUE(reader.Open(Write("[Common]\nKey=two\n")));
  std::string value;
  reader.Read("Key", "", &value);
  EXPECT_EQ("two", value);
}

// Each reader closes with a flush, so a file changed between two readers is
// read afresh.
TEST_F(IniReaderTest, NextReaderSeesAChangedFile) {
  const std::string path = Write("[Common]\nKey=before\n");
  std::string value;
  {
    IniReader reader;
    ASSERT_TRUE(reader.Open(path));
    reader.Read("Key", "", &value);
  }
  EXPECT_EQ("before", value);
  WriteFile(path, "[Common]\nKey=after\n");
  {
    IniReader reader;
    ASSERT_TRUE(reader.Open(path));
    reader.Read("Key", "", &value);
  }
  EXPECT_EQ("after", value);
}

// What the platform's profile-string service makes of a file; the same table
// runs natively and under Wine, so that both agree.
TEST_F(IniReaderTest, ProfileStringConformance) {
  struct Case {
    const char* name;
    std::string contents;
    const char* key;
    std::string expected;
  };
  const std::string kDefault = "error737";
  const Case cases[] = {
      {"plain", "[Common]\nKey=value\n", "Key", "value"},
      {"missing key", "[Common]\nOther=1\n", "Key", kDefault},
      {"missing section", "[Other]\nKey=value\n", "Key", kDefault},
      {"keys before any section", "Key=value\n[Common]\n", "Key", kDefault},
      {"empty file", "", "Key", kDefault},
      {"empty value", "[Common]\nKey=\n", "Key", ""},
      {"key without equals sign", "[Common]\nKey\n", "Key", kDefault},
      {"section case", "[COMMON]\nKey=value\n", "Key", "value"},
      {"key case", "[Common]\nKEY=value\n", "key", "value"},
      {"blanks around key and value", "[Common]\n  Key   =   value  \n", "Key", "value"},
      {"tabs and CRLF", "[Common]\r\n\tKey\t=\tvalue\t\r\n", "Key", "value"},
      {"blanks inside brackets", "[ Common ]\nKey=value\n", "Key", "value"},
      {"blank line before header", "\n\n   [Common]\nKey=value", "Key", "value"},
      {"double quotes", "[Common]\nKey=\"quoted value\"\n", "Key", "quoted value"},
      {"single quotes", "[Common]\nKey='quoted'\n", "Key", "quoted"},
      {"unbalanced quote", "[Common]\nKey=\"open\n", "Key", "\"open"},
      {"mixed quotes", "[Common]\nKey=\"mixed'\n", "Key", "\"mixed'"},
      {"inner quotes stay", "[Common]\nKey=a\"b\"c\n", "Key", "a\"b\"c"},
      {"equals in value", "[Common]\nKey=a=b\n", "Key", "a=b"},
      {"first of two keys", "[Common]\nKey=one\nKey=two\n", "Key", "one"},
      {"only first section searched", "[Common]\nA=1\n[Common]\nKey=two\n", "Key", kDefault},
      {"comment line", "[Common]\n;Key=commented\n", "Key", kDefault},
      {"semicolon in value", "[Common]\nKey=a;b\n", "Key", "a;b"},
      {"no final newline", "[Common]\nKey=value", "Key", "value"},
      {"text after the bracket ignored", "[Common] trailing\nKey=value\n", "Key", "value"},
      {"last bracket closes header", "[Com]mon]\nKey=value\n", "Key", kDefault},
      {"marker text as value", "[Common]\nKey=error737\n", "Key", "error737"},
      {"backslashes kept", "[Common]\nKey=Fan\\Service\\\n", "Key", "Fan\\Service\\"},
      {"high bytes kept", "[Common]\nKey=caf\xE9\n", "Key", "caf\xE9"},
      {"UTF-8 BOM", "\xEF\xBB\xBF[Common]\nKey=value\n", "Key", "value"},
      {"NUL ends the value", std::string("[Common]\nKey=ab\0cd\n", 19), "Key", "ab"},
      {"old Mac line ends", "[Common]\rKey=value\r", "Key", "value"},
      {"empty brackets are no section", "[]\nKey=value\n", "Key", kDefault},
      {"bracket without close is a key", "[Common\nKey=value\n[Common]\nKey=other\n", "Key", "other"},
      {"blank key and value only", "[Common]\n=value\n", "Key", kDefault},
      {"non-breaking space is not blank", "[Common]\nKey=\xA0value\n", "Key", "\xA0value"},
  };
  for (const Case& c : cases) {
    IniReader reader;
    ASSERT_TRUE(reader.Open(Write(c.contents)));
    std::string value;
    reader.Read(c.key, kDefault, &value);
    EXPECT_EQ(c.expected, value) << c.name;
  }
}

TEST_F(IniReaderTest, MissingFileGivesTheDefault) {
  IniReader reader;
  ASSERT_TRUE(reader.Open(folder.path() + "absent.ini"));
  std::string value = "unchanged";
  reader.Read("Key", "error737", &value);
  EXPECT_EQ("error737", value);
}

TEST_F(IniReaderTest, HugeValuesAndGarbage) {
  const std::string big(100000, 'b');
  std::string value;
  {
    IniReader reader;
    ASSERT_TRUE(reader.Open(Write("[Common]\nKey=" + big + "\n")));
    reader.Read("Key", "error737", &value);
    EXPECT_EQ(big.size(), value.size());
    EXPECT_TRUE(value == big);
    EXPECT_EQ(131072u, reader.buffer_size());
  }

  std::string garbage;
  for (int i = 0; i < 65536; ++i) garbage += static_cast<char>((i * 7919) & 0xFF);
  IniReader other;
  ASSERT_TRUE(other.Open(Write(garbage)));
  other.Read("Key", "error737", &value);
  EXPECT_EQ("error737", value);
}

}  // namespace
}  // namespace vantu
