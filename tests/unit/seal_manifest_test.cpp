// The seal's manifest read from bytes: what a good one yields, and the reason
// for refusing each kind of broken one. Runs on both platforms.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "seal/seal_manifest.h"
#include "tests/support/seal_bytes.h"

namespace vantu {
namespace {

using test_support::SealBytes;

bool Parse(const std::string& bytes, SealManifest* manifest, std::string* why) {
  return ParseSealManifest(reinterpret_cast<const BYTE*>(bytes.data()), bytes.size(), manifest, why);
}

Sha256Digest Filled(unsigned char fill) {
  Sha256Digest digest;
  digest.fill(fill);
  return digest;
}

const std::string kThreeFiles = SealBytes()
                                    .Header(3)
                                    .Entry(u"setup.ini", 120, 0x11)
                                    .Entry(u"FanSvc.exe", 0x123456789AULL, 0x22)
                                    .Entry(u"e", 0, 0x33)
                                    .bytes();

TEST(SealManifestTest, ReadsEveryEntryInOrder) {
  SealManifest manifest;
  std::string why = "stale";
  ASSERT_TRUE(Parse(kThreeFiles, &manifest, &why)) << why;
  EXPECT_EQ("", why);
  const auto& entries = manifest.entries();
  ASSERT_EQ(3u, entries.size());
  EXPECT_EQ(L"setup.ini", entries[0].name);
  EXPECT_EQ(120u, entries[0].size);
  EXPECT_EQ(Filled(0x11), entries[0].digest);
  EXPECT_EQ(L"FanSvc.exe", entries[1].name);
  EXPECT_EQ(0x123456789AULL, entries[1].size);
  EXPECT_EQ(Filled(0x22), entries[1].digest);
  EXPECT_EQ(L"e", entries[2].name);
  EXPECT_EQ(0u, entries[2].size);
}

TEST(SealManifestTest, GoodManifests) {
  struct Case {
    const char* what;
    std::string bytes;
    std::vector<std::wstring> names;
  };
  const std::u16string longest(kMaxSealNameUnits, u'n');
  const Case cases[] = {
      {"no files", SealBytes().Header(0).bytes(), {}},
      {"a name of 255 characters", SealBytes().Header(1).Entry(longest, 1, 1).bytes(),
       {std::wstring(kMaxSealNameUnits, L'n')}},
      {"non-ASCII names",
       SealBytes().Header(2).Entry(u"\u00e9t\u00e9.txt", 1, 1).Entry(u"\u00c9T\u00c9.txt", 1, 2).bytes(),
       {L"\u00e9t\u00e9.txt", L"\u00c9T\u00c9.txt"}},  // case beyond ASCII is not folded
      {"a surrogate pair", SealBytes().Header(1).Entry(u"\U0001F600.dll", 1, 1).bytes(), {L"\U0001F600.dll"}},
      {"dots and blanks inside", SealBytes().Header(2).Entry(u".hidden", 1, 1).Entry(u"a b. c", 1, 1).bytes(),
       {L".hidden", L"a b. c"}},
      {"device-like names that are none", SealBytes().Header(3).Entry(u"CONSOLE.txt", 1, 1).Entry(u"COM0", 1, 1)
           .Entry(u"LPT10.log", 1, 1).bytes(),
       {L"CONSOLE.txt", L"COM0", L"LPT10.log"}},
      {"the largest size", SealBytes().Header(1).Entry(u"big", UINT64_MAX, 0xFF).bytes(), {L"big"}},
  };
  for (const auto& c : cases) {
    SealManifest manifest;
    std::string why;
    ASSERT_TRUE(Parse(c.bytes, &manifest, &why)) << c.what << ": " << why;
    std::vector<std::wstring> names;
    for (const auto& entry : manifest.entries()) names.push_back(entry.name);
    EXPECT_EQ(c.names, names) << c.what;
  }
}

TEST(SealManifestTest, RefusesEachKindOfMalformation) {
  struct Case {
    const char* what;
    std::string bytes;
    std::string reason;  // a part of the reason given
  };
  const std::string entry = SealBytes().Entry(u"a.dll", 5, 0xAB).bytes();
  const Case cases[] = {
      {"nothing", "", "header needs 12 bytes, the seal has 0"},
      {"wrong magic", SealBytes().Header(0, 1, 0, "SEAK").bytes(), "magic"},
      {"format version 2", SealBytes().Header(0, 2).bytes(), "format version 2 unknown"},
      {"format version 0", SealBytes().Header(0, 0).bytes(), "format version 0 unknown"},
      {"reserved field set", SealBytes().Header(0, 1, 1).bytes(), "reserved"},
      {"count above the cap", SealBytes().Header(kMaxSealEntries + 1).bytes(), "more than 100000"},
      {"count of 2^32 - 1", SealBytes().Header(0xFFFFFFFF).bytes(), "more than"},
      {"count larger than the bytes allow", SealBytes().Header(2).Raw(entry).bytes(), "cannot fit"},
      {"one entry fewer than counted",
       SealBytes().Header(3).Raw(entry).Entry(u"b", 1, 1).Raw(std::string(44, '\0')).bytes(), "file 3 of 3"},
      {"name length past the end", SealBytes().Header(1).Entry(u"a.dll", 5, 0xAB, 30).bytes(), "runs past the end"},
      {"empty name", SealBytes().Header(1).Entry(u"", 5, 0xAB).Raw("xx").bytes(), "empty name"},
      {"name of 256 characters", SealBytes().Header(1).Entry(std::u16string(256, u'n'), 1, 1).bytes(),
       "more than 255"},
      {"backslash", SealBytes().Header(1).Entry(u"..\\evil.dll", 1, 1).bytes(), "holds '\\'"},
      {"slash", SealBytes().Header(1).Entry(u"sub/a.dll", 1, 1).bytes(), "holds '/'"},
      {"colon (a stream)", SealBytes().Header(1).Entry(u"a.dll:stream", 1, 1).bytes(), "holds ':'"},
      {"wildcard", SealBytes().Header(1).Entry(u"*.dll", 1, 1).bytes(), "holds '*'"},
      {"NUL", SealBytes().Header(1).Entry(std::u16string(u"a\0b", 3), 1, 1).bytes(), "control character 0"},
      {"control character", SealBytes().Header(1).Entry(u"a\tb", 1, 1).bytes(), "control character 9"},
      {"dot", SealBytes().Header(1).Entry(u".", 1, 1).bytes(), "ends in a dot"},
      {"dot dot", SealBytes().Header(1).Entry(u"..", 1, 1).bytes(), "ends in a dot"},
      {"trailing dot", SealBytes().Header(1).Entry(u"a.dll.", 1, 1).bytes(), "ends in a dot"},
      {"trailing blank", SealBytes().Header(1).Entry(u"a.dll ", 1, 1).bytes(), "blank"},
      {"device", SealBytes().Header(1).Entry(u"nul", 1, 1).bytes(), "device NUL"},
      {"device with extension", SealBytes().Header(1).Entry(u"Com7.dll", 1, 1).bytes(), "device COM7"},
      {"device, blanks before the dot", SealBytes().Header(1).Entry(u"lpt1  .txt", 1, 1).bytes(), "device LPT1"},
      {"lone high surrogate", SealBytes().Header(1).Entry(u"a\xD83D.dll", 1, 1).bytes(),
       "lone surrogate at character 2"},
      {"lone low surrogate", SealBytes().Header(1).Entry(u"\xDE00", 1, 1).bytes(), "lone surrogate at character 1"},
      {"swapped surrogates", SealBytes().Header(1).Entry(u"\xDE00\xD83D", 1, 1).bytes(), "lone surrogate"},
      {"high surrogate last", SealBytes().Header(1).Entry(u"ab\xD83D", 1, 1).bytes(), "lone surrogate at character 3"},
      {"duplicate", SealBytes().Header(2).Raw(entry).Raw(entry).bytes(), "files 1 and 2 have the same name"},
      {"duplicate ignoring case", SealBytes().Header(3).Entry(u"Setup.INI", 1, 1).Entry(u"x", 1, 1)
           .Entry(u"setup.ini", 1, 2).bytes(), "files 1 and 3 have the same name"},
      {"a trailing byte", SealBytes().Header(1).Raw(entry).Raw(std::string(1, '\0')).bytes(),
       "1 bytes after the last file"},
      {"a second manifest after the first", kThreeFiles + kThreeFiles, "bytes after the last file"},
  };
  for (const auto& c : cases) {
    SealManifest manifest;
    std::string why;
    EXPECT_FALSE(Parse(c.bytes, &manifest, &why)) << c.what;
    EXPECT_NE(std::string::npos, why.find(c.reason)) << c.what << ": " << why;
    EXPECT_TRUE(manifest.entries().empty()) << c.what;
  }
}

TEST(SealManifestTest, EveryTruncationIsRefused) {
  SealManifest manifest;
  std::string why;
  ASSERT_TRUE(Parse(kThreeFiles, &manifest, &why));
  for (size_t size = 0; size < kThreeFiles.size(); ++size) {
    // Exactly the prefix: AddressSanitizer sees a read beyond it.
    const std::vector<BYTE> prefix(kThreeFiles.begin(), kThreeFiles.begin() + static_cast<std::ptrdiff_t>(size));
    EXPECT_FALSE(ParseSealManifest(prefix.data(), prefix.size(), &manifest, &why)) << size;
    EXPECT_FALSE(why.empty()) << size;
  }
  EXPECT_FALSE(ParseSealManifest(nullptr, 0, &manifest, &why));
}

TEST(SealManifestTest, AFailedParseEmptiesAnEarlierManifest) {
  SealManifest manifest;
  std::string why;
  ASSERT_TRUE(Parse(kThreeFiles, &manifest, &why));
  EXPECT_FALSE(Parse(kThreeFiles.substr(0, 20), &manifest, &why));
  EXPECT_TRUE(manifest.entries().empty());
  EXPECT_EQ(nullptr, manifest.Find(L"setup.ini"));
}

TEST(SealManifestTest, FindIgnoresTheCaseOfAsciiLettersOnly) {
  const std::string bytes = SealBytes()
                                .Header(4)
                                .Entry(u"Setup.ini", 1, 1)
                                .Entry(u"\u00e9.txt", 2, 2)
                                .Entry(u"b.dll", 3, 3)
                                .Entry(u"A.DLL", 4, 4)
                                .bytes();
  SealManifest manifest;
  std::string why;
  ASSERT_TRUE(Parse(bytes, &manifest, &why)) << why;
  struct Case {
    std::wstring name;
    uint64_t size;  // 0: not found
  };
  const Case cases[] = {
      {L"Setup.ini", 1}, {L"SETUP.INI", 1}, {L"setup.ini", 1}, {L"\u00e9.txt", 2}, {L"\u00e9.TXT", 2},
      {L"\u00c9.txt", 0}, {L"B.Dll", 3}, {L"a.dll", 4}, {L"a.dl", 0}, {L"a.dlll", 0}, {L"", 0}, {L"c.dll", 0},
  };
  for (const auto& c : cases) {
    const SealEntry* entry = manifest.Find(c.name);
    if (c.size == 0) {
      EXPECT_EQ(nullptr, entry) << SealNameText(c.name);
    } else {
      ASSERT_NE(nullptr, entry) << SealNameText(c.name);
      EXPECT_EQ(c.size, entry->size) << SealNameText(c.name);
    }
  }
}

TEST(SealManifestTest, NamesShowAsUtf8) {
  EXPECT_EQ("a.dll", SealNameText(L"a.dll"));
  EXPECT_EQ("\xc3\xa9t\xc3\xa9", SealNameText(L"\u00e9t\u00e9"));
  EXPECT_EQ("\xf0\x9f\x98\x80", SealNameText(L"\U0001F600"));
}

}  // namespace
}  // namespace vantu
