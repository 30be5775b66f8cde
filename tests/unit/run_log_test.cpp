// The run log's pieces: the /LOG switch, the file and its lines, the
// program's own version, error texts. Runs on both platforms.
#include <gtest/gtest.h>

#include <cctype>
#include <regex>
#include <string>
#include <vector>

#include "runlog/log_switch.h"
#include "runlog/program_version.h"
#include "runlog/run_log.h"
#include "tests/support/scratch.h"
#include "tests/support/wide.h"

namespace vantu {
namespace {

using test_support::FileExists;
using test_support::PlatformTest;
using test_support::ReadFile;
using test_support::ScratchFolder;
using test_support::U8;
using test_support::W;

TEST(ParseLogSwitchTest, RecognisesTheSwitchInEveryForm) {
  using Kind = LogRequest::Kind;
  struct Case {
    std::vector<std::string> arguments;
    Kind kind;
    std::string path;
  };
  const Case cases[] = {
      {{}, Kind::kNone, ""},
      {{"/Service", "extra"}, Kind::kNone, ""},  // other arguments stay ignored
      {{"/LOG"}, Kind::kNewInTemp, ""},
      {{"-log"}, Kind::kNewInTemp, ""},
      {{"/Log="}, Kind::kNewInTemp, ""},
      {{"/LOG=C:\\logs\\setup.log"}, Kind::kPath, "C:\\logs\\setup.log"},
      {{"-LOG=C:\\with blank\\s.log"}, Kind::kPath, "C:\\with blank\\s.log"},  // quotes taken off already
      {{"/LOG=\"C:\\quoted\\s.log\""}, Kind::kPath, "C:\\quoted\\s.log"},     // quotes kept by the caller
      {{"/log:x.log"}, Kind::kPath, "x.log"},
      {{"/LOGGING"}, Kind::kNone, ""},  // another word
      {{"/LO"}, Kind::kNone, ""},
      {{"LOG"}, Kind::kNone, ""},
      {{"+LOG"}, Kind::kNone, ""},
      {{"/LOG=first.log", "/LOG"}, Kind::kNewInTemp, ""},  // the last one counts
      {{"/LOG", "-Log=last.log"}, Kind::kPath, "last.log"},
      {{"/LOG=C:\\Журналы\\设置.log"}, Kind::kPath, "C:\\Журналы\\设置.log"},  // any script
      {{"/ＬＯＧ"}, Kind::kNone, ""},  // full-width letters are another word
  };
  for (const auto& c : cases) {
    std::string shown;
    std::vector<std::wstring> arguments;
    for (const auto& a : c.arguments) {
      shown += "[" + a + "]";
      arguments.push_back(W(a));
    }
    const LogRequest request = ParseLogSwitch(arguments);
    EXPECT_EQ(c.kind, request.kind) << shown;
    EXPECT_EQ(c.path, U8(request.path)) << shown;
  }
}

// A VS_VERSIONINFO block as the resource compiler lays it out.
std::vector<BYTE> VersionBlock(DWORD signature, DWORD high, DWORD low) {
  std::vector<BYTE> block(6);
  for (const char c : std::string("VS_VERSION_INFO")) {
    block.push_back(static_cast<BYTE>(c));
    block.push_back(0);
  }
  block.push_back(0);
  block.push_back(0);
  while (block.size() % 4) block.push_back(0);
  for (const DWORD value : {signature, DWORD{0x10000}, high, low}) {
    for (int shift = 0; shift < 32; shift += 8) block.push_back(static_cast<BYTE>(value >> shift));
  }
  block.resize(block.size() + 36);
  return block;
}

TEST(FileVersionOfTest, ReadsTheFixedFileVersion) {
  const auto good = VersionBlock(0xFEEF04BD, 0x00020001, 0x0003000A);
  EXPECT_EQ("2.1.3.10", FileVersionOf(good.data(), good.size()));
  const auto wide = VersionBlock(0xFEEF04BD, 0xFFFF0000, 0x0000FFFF);
  EXPECT_EQ("65535.0.0.65535", FileVersionOf(wide.data(), wide.size()));
  const auto unsigned_ = VersionBlock(0x12345678, 0x00020001, 0x00030004);
  EXPECT_EQ("", FileVersionOf(unsigned_.data(), unsigned_.size()));
  auto wrongKey = good;
  wrongKey[6] = 'X';
  EXPECT_EQ("", FileVersionOf(wrongKey.data(), wrongKey.size()));
  // Cut short before the file version: nothing is read past the end.
  for (size_t size : {size_t{0}, size_t{6}, size_t{40}, size_t{55}}) {
    const std::vector<BYTE> cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(size));
    EXPECT_EQ("", FileVersionOf(cut.data(), cut.size())) << size;
  }
  EXPECT_EQ("", FileVersionOf(nullptr, 100));
}

class RunLogTest : public PlatformTest {
 protected:
  // The program folder the logs are kept out of: none of the tests' own.
  const std::wstring programFolder = L"C:\\NoSuchProgramFolder\\";
  std::string refusal;
};

const std::regex kLine(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} (.*))");

// The lines of a log, after the UTF-8 byte-order mark it starts with.
std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  EXPECT_EQ(0u, text.rfind("\xEF\xBB\xBF", 0)) << "no UTF-8 byte-order mark";
  size_t start = 3;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  EXPECT_EQ(start, text.size()) << "the log ends in the middle of a line";
  return lines;
}

TEST_F(RunLogTest, WritesEachLineAtOnceAndReplacesAnEarlierFile) {
  ScratchFolder folder;
  const std::string path = folder.path() + "setup.log";
  test_support::WriteFile(path, "an older log that must go\r\n");
  EXPECT_FALSE(LogEnabled());
  {
    RunLog log;
    ASSERT_TRUE(RunLog::OpenPath(W(path), programFolder, log, &refusal));
    EXPECT_TRUE(LogEnabled());
    EXPECT_EQ(path, U8(log.path()));
    LogLine({"first event"});
    // Already in the file while the log is open: a killed run keeps it.
    const auto early = LinesOf(ReadFile(path));
    ASSERT_EQ(1u, early.size());
    LogLine({"second event: ", std::to_string(5), " files"});
  }
  EXPECT_FALSE(LogEnabled());
  LogLine({"after the log was closed"});
  const auto lines = LinesOf(ReadFile(path));
  ASSERT_EQ(2u, lines.size());
  const std::string expected[] = {"first event", "second event: 5 files"};
  for (size_t i = 0; i < lines.size(); ++i) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(lines[i], match, kLine)) << lines[i];
    EXPECT_EQ(expected[i], match[1].str());
  }
}

// Every piece is written in UTF-8, whatever it came as: the log's own words,
// UTF-16 names, and text in the ANSI code page (1252 here). A log may itself
// be named in any script.
TEST_F(RunLogTest, NamesInAnyScriptReadAsTheyAre) {
  ScratchFolder folder;
  const std::string path = folder.path() + "журнал 设置.log";
  {
    RunLog log;
    ASSERT_TRUE(RunLog::OpenPath(W(path), programFolder, log, &refusal));
    LogLine({"copying ", W("ソ.dll"), " into ", W("C:\\新機能\\表1\\"), ", version ", LogText::Ansi("caf\xE9"),
             " ", W("😀")});
  }
  const auto lines = LinesOf(ReadFile(path));
  ASSERT_EQ(1u, lines.size());
  std::smatch match;
  ASSERT_TRUE(std::regex_match(lines[0], match, kLine)) << lines[0];
  EXPECT_EQ("copying ソ.dll into C:\\新機能\\表1\\, version café 😀", match[1].str());
}

TEST_F(RunLogTest, ALogThatCannotBeCreatedIsNoLog) {
  ScratchFolder folder;
  const std::string paths[] = {
      folder.path() + "no such folder\\setup.log",
      folder.path(),  // a folder
  };
  for (const auto& path : paths) {
    RunLog log;
    EXPECT_FALSE(RunLog::OpenPath(W(path), programFolder, log, &refusal)) << path;
    EXPECT_FALSE(log.is_open());
    EXPECT_FALSE(LogEnabled());
    LogLine({"goes nowhere"});  // and does not crash
  }
}

// No log in the program folder, whose every file is payload (setup.ini
// among them), and none that replaces a file of more than one name: such a
// file is left as it is, and no new one is made.
TEST_F(RunLogTest, LogsThatWouldChangeOtherFilesAreRefused) {
  ScratchFolder folder;
  ScratchFolder logs;
  test_support::WriteFile(folder.path() + "setup.ini", "[Common]\r\nversion=1.0\r\n");
  test_support::WriteFile(logs.path() + "kept.txt", "kept");
  test_support::MakeHardLink(logs.path() + "second.log", logs.path() + "kept.txt");
  const std::string paths[] = {folder.path() + "setup.ini", folder.path() + "new.log", logs.path() + "second.log"};
  for (const std::string& path : paths) {
    RunLog log;
    refusal.clear();
    EXPECT_FALSE(RunLog::OpenPath(W(path), W(folder.path()), log, &refusal)) << path;
    EXPECT_FALSE(refusal.empty()) << path;
    EXPECT_FALSE(LogEnabled());
  }
  EXPECT_EQ("[Common]\r\nversion=1.0\r\n", ReadFile(folder.path() + "setup.ini"));
  EXPECT_FALSE(FileExists(folder.path() + "new.log"));
  EXPECT_EQ("kept", ReadFile(logs.path() + "kept.txt"));
  // The program folder's name written otherwise is still the program folder.
  RunLog log;
  std::string upper = folder.path();
  for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_FALSE(RunLog::OpenPath(W(folder.path() + "new.log"), W(upper), log, &refusal));
}

TEST_F(RunLogTest, EveryLogInTheTemporaryFolderIsANewFile) {
  wchar_t wideTemp[MAX_PATH + 1];
  const DWORD wideLength = GetTempPathW(MAX_PATH + 1, wideTemp);
  ASSERT_GT(wideLength, 0u);
  const std::string temp = U8(std::wstring(wideTemp, wideLength));
  const size_t length = temp.size();
  std::string first;
  std::string second;
  {
    RunLog log;
    ASSERT_TRUE(RunLog::OpenNewInTemp(programFolder, log, &refusal));
    first = U8(log.path());
    LogLine({"one"});
  }
  {
    RunLog log;
    ASSERT_TRUE(RunLog::OpenNewInTemp(programFolder, log, &refusal));
    second = U8(log.path());
    LogLine({"two"});
  }
  EXPECT_NE(first, second);
  const std::regex name(R"(FanServiceSetup_\d{8}_\d{3}\.log)");
  for (const auto& path : {first, second}) {
    EXPECT_EQ(temp, path.substr(0, length)) << path;
    EXPECT_TRUE(std::regex_match(path.substr(length), name)) << path;
  }
  EXPECT_NE(std::string::npos, ReadFile(first).find(" one\r\n"));
  EXPECT_NE(std::string::npos, ReadFile(second).find(" two\r\n"));
  test_support::RemoveTree(first);
  test_support::RemoveTree(second);
  EXPECT_FALSE(FileExists(first));
}

TEST(ErrorTextTest, NamesTheCodeAndWhatItMeans) {
  EXPECT_EQ(0u, ErrorText(5).rfind("5 (", 0)) << ErrorText(5);
  EXPECT_EQ(')', ErrorText(112).back()) << ErrorText(112);
  EXPECT_EQ(std::string::npos, ErrorText(112).find('\n'));
  EXPECT_EQ("3000000007", ErrorText(3000000007u));  // no text for it
}

}  // namespace
}  // namespace vantu
