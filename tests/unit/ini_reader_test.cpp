#include "settings/ini_reader.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/scratch.h"
#include "tests/support/wide.h"

namespace vantu {
namespace {

using test_support::ScratchFolder;
using test_support::U8;
using test_support::W;
using test_support::WriteFile;

// `text` (UTF-8) as a UTF-16 file with its byte-order mark, little- or
// big-endian.
std::string Utf16(bool littleEndian, const std::string& text) {
  std::string bytes = littleEndian ? "\xFF\xFE" : "\xFE\xFF";
  const std::wstring wide = W(text);
  std::u16string units;
  for (const wchar_t c : wide) {
    const auto code = static_cast<uint32_t>(c);
    if (code >= 0x10000) {
      units += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
      units += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      units += static_cast<char16_t>(code);
    }
  }
  for (const char16_t unit : units) {
    const char low = static_cast<char>(unit & 0xFF);
    const char high = static_cast<char>(unit >> 8);
    bytes += littleEndian ? std::string{low, high} : std::string{high, low};
  }
  return bytes;
}

class IniReaderTest : public test_support::PlatformTest {
 protected:
  std::wstring Write(const std::string& contents) {
    const std::string path = folder.path() + "test.ini";
    WriteFile(path, contents);
    return W(path);
  }

  // The value of `key` in UTF-8.
  static std::string Read(IniReader& reader, const wchar_t* key, const std::wstring& defaultText) {
    std::wstring value;
    reader.Read(key, defaultText, &value);
    return U8(value);
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
    EXPECT_EQ(value, Read(reader, L"Key", L"error737")) << c.length;
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
      const std::string read = Read(reader, L"Key", L"error737");
      EXPECT_EQ(length, read.size()) << quote << length;
      EXPECT_TRUE(read == value) << quote << length;
    }
  }
}

TEST_F(IniReaderTest, SizeReachedStaysForTheNextRead) {
  IniReader reader;
  ASSERT_TRUE(reader.Open(Write("[Common]\nLong=" + std::string(300, 'x') + "\nShort=y\n")));
  Read(reader, L"Long", L"");
  EXPECT_EQ("y", Read(reader, L"Short", L""));
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
  EXPECT_EQ("key00", Read(reader, nullptr, L""));  // the list, up to its first separator
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
  EXPECT_EQ("two", Read(reader, L"Key", L""));
}

// Each reader closes with a flush, so a file changed between two readers is
// read afresh.
TEST_F(IniReaderTest, NextReaderSeesAChangedFile) {
  const std::wstring path = Write("[Common]\nKey=before\n");
  {
    IniReader reader;
    ASSERT_TRUE(reader.Open(path));
    EXPECT_EQ("before", Read(reader, L"Key", L""));
  }
  WriteFile(U8(path), "[Common]\nKey=after\n");
  {
    IniReader reader;
    ASSERT_TRUE(reader.Open(path));
    EXPECT_EQ("after", Read(reader, L"Key", L""));
  }
}

// What the platform's profile-string service makes of a file; the same table
// runs natively and under Wine, so that both agree. Values are UTF-8 here; a
// file without a byte-order mark is in the ANSI code page (1252: the unit
// tests run in an English locale).
TEST_F(IniReaderTest, ProfileStringConformance) {
  struct Case {
    const char* name;
    std::string contents;
    const wchar_t* key;
    std::string expected;
  };
  const std::string kDefault = "error737";
  const Case cases[] = {
      {"plain", "[Common]\nKey=value\n", L"Key", "value"},
      {"missing key", "[Common]\nOther=1\n", L"Key", kDefault},
      {"missing section", "[Other]\nKey=value\n", L"Key", kDefault},
      {"keys before any section", "Key=value\n[Common]\n", L"Key", kDefault},
      {"empty file", "", L"Key", kDefault},
      {"empty value", "[Common]\nKey=\n", L"Key", ""},
      {"key without equals sign", "[Common]\nKey\n", L"Key", kDefault},
      {"section case", "[COMMON]\nKey=value\n", L"Key", "value"},
      {"key case", "[Common]\nKEY=value\n", L"key", "value"},
      {"blanks around key and value", "[Common]\n  Key   =   value  \n", L"Key", "value"},
      {"tabs and CRLF", "[Common]\r\n\tKey\t=\tvalue\t\r\n", L"Key", "value"},
      {"blanks inside brackets", "[ Common ]\nKey=value\n", L"Key", "value"},
      {"blank line before header", "\n\n   [Common]\nKey=value", L"Key", "value"},
      {"double quotes", "[Common]\nKey=\"quoted value\"\n", L"Key", "quoted value"},
      {"single quotes", "[Common]\nKey='quoted'\n", L"Key", "quoted"},
      {"unbalanced quote", "[Common]\nKey=\"open\n", L"Key", "\"open"},
      {"mixed quotes", "[Common]\nKey=\"mixed'\n", L"Key", "\"mixed'"},
      {"inner quotes stay", "[Common]\nKey=a\"b\"c\n", L"Key", "a\"b\"c"},
      {"equals in value", "[Common]\nKey=a=b\n", L"Key", "a=b"},
      {"first of two keys", "[Common]\nKey=one\nKey=two\n", L"Key", "one"},
      {"only first section searched", "[Common]\nA=1\n[Common]\nKey=two\n", L"Key", kDefault},
      {"comment line", "[Common]\n;Key=commented\n", L"Key", kDefault},
      {"semicolon in value", "[Common]\nKey=a;b\n", L"Key", "a;b"},
      {"no final newline", "[Common]\nKey=value", L"Key", "value"},
      {"text after the bracket ignored", "[Common] trailing\nKey=value\n", L"Key", "value"},
      {"last bracket closes header", "[Com]mon]\nKey=value\n", L"Key", kDefault},
      {"marker text as value", "[Common]\nKey=error737\n", L"Key", "error737"},
      {"backslashes kept", "[Common]\nKey=Fan\\Service\\\n", L"Key", "Fan\\Service\\"},
      {"high bytes in the code page", "[Common]\nKey=caf\xE9\n", L"Key", "café"},
      {"UTF-8 BOM", "\xEF\xBB\xBF[Common]\nKey=value\n", L"Key", "value"},
      {"NUL ends the value", std::string("[Common]\nKey=ab\0cd\n", 19), L"Key", "ab"},
      {"old Mac line ends", "[Common]\rKey=value\r", L"Key", "value"},
      {"empty brackets are no section", "[]\nKey=value\n", L"Key", kDefault},
      {"bracket without close is a key", "[Common\nKey=value\n[Common]\nKey=other\n", L"Key", "other"},
      {"blank key and value only", "[Common]\n=value\n", L"Key", kDefault},
      {"non-breaking space is not blank", "[Common]\nKey=\xA0value\n", L"Key", "\u00A0value"},
      {"UTF-8 BOM, any script", "\xEF\xBB\xBF[Common]\nKey=Ωμέγα 表 файл\n", L"Key", "Ωμέγα 表 файл"},
      {"UTF-16LE BOM", Utf16(true, "[Common]\r\nKey=新機能\\ソ\r\n"), L"Key", "新機能\\ソ"},
      {"UTF-16LE BOM, outside the BMP", Utf16(true, "[Common]\r\nKey=😀 x\r\n"), L"Key", "😀 x"},
      {"UTF-16BE BOM", Utf16(false, "[Common]\r\nKey=张伟\r\n"), L"Key", "张伟"},
      {"UTF-16LE BOM, missing key", Utf16(true, "[Common]\r\nOther=1\r\n"), L"Key", kDefault},
  };
  for (const Case& c : cases) {
    IniReader reader;
    ASSERT_TRUE(reader.Open(Write(c.contents)));
    EXPECT_EQ(c.expected, Read(reader, c.key, W(kDefault))) << c.name;
  }
}

TEST_F(IniReaderTest, MissingFileGivesTheDefault) {
  IniReader reader;
  ASSERT_TRUE(reader.Open(W(folder.path() + "absent.ini")));
  EXPECT_EQ("error737", Read(reader, L"Key", L"error737"));
}

TEST_F(IniReaderTest, HugeValuesAndGarbage) {
  const std::string big(100000, 'b');
  {
    IniReader reader;
    ASSERT_TRUE(reader.Open(Write("[Common]\nKey=" + big + "\n")));
    const std::string value = Read(reader, L"Key", L"error737");
    EXPECT_EQ(big.size(), value.size());
    EXPECT_TRUE(value == big);
    EXPECT_EQ(131072u, reader.buffer_size());
  }

  std::string garbage;
  for (int i = 0; i < 65536; ++i) garbage += static_cast<char>((i * 7919) & 0xFF);
  IniReader other;
  ASSERT_TRUE(other.Open(Write(garbage)));
  EXPECT_EQ("error737", Read(other, L"Key", L"error737"));
}

}  // namespace
}  // namespace vantu
