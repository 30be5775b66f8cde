#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/held_file.h"
#include "base/path_functions.h"
#include "deploy/directory_walker.h"
#include "deploy/install_folder.h"
#include "deploy/payload_copy.h"
#include "deploy/program_folder.h"
#include "tests/support/scratch.h"
#include "tests/support/setup_ini.h"
#include "tests/support/wide.h"

namespace vantu {
namespace {

using test_support::FileExists;
using test_support::FolderExists;
using test_support::MakeFolder;
using test_support::ReadFile;
using test_support::ScratchFolder;
using test_support::SetupIniFile;
using test_support::U8;
using test_support::W;
using test_support::WriteFile;

// The whole payload of `source` into `target`, as an unsealed run copies
// it: true when it is complete.
bool CopyPayload(const std::wstring& source, const std::wstring& target) {
  return vantu::CopyPayload(source, nullptr, target) == CopyOutcome::kComplete;
}

TEST(PathFunctionsTest, DrivePartAndFileNamePart) {
  struct Case {
    const char* path;
    const char* drive;
    const char* file;
  };
  const Case cases[] = {
      {"D:\\data\\a.txt", "D:", "a.txt"},
      {"D:a.txt", "D:", "a.txt"},
      {"a.txt", "", ""},  // neither separator: no file name
      {"", "", ""},
      {"D:\\data\\", "D:", ""},
      {"D:", "D:", ""},
      {"\\a\\b", "", "b"},
      {"x:y:z", "x:", "z"},
      {"a/b", "", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.drive, U8(DrivePart(W(c.path)))) << c.path;
    EXPECT_EQ(c.file, U8(FileNamePart(W(c.path)))) << c.path;
  }
}

// Names in any language are cut only at the character "\". In the double-byte
// code page 932 the second byte of 能, ソ and 表 is 0x5C, the byte of a
// backslash: cut byte by byte, C:\新機能\ would end inside a character and
// ソ.dll would lose its first character.
TEST(PathFunctionsTest, NamesInAnyLanguageAreCutAtTheBackslashOnly) {
  struct Case {
    const char* path;
    const char* drive;
    const char* file;
  };
  const Case cases[] = {
      {"C:\\新機能\\ソ.dll", "C:", "ソ.dll"},
      {"C:\\新機能\\", "C:", ""},
      {"C:\\ソフト\\表1", "C:", "表1"},
      {"D:\\Пакет\\файл.txt", "D:", "файл.txt"},
      {"C:\\Users\\张伟\\Downloads\\😀.dat", "C:", "😀.dat"},
      {"E:Ωμέγα.ini", "E:", "Ωμέγα.ini"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.drive, U8(DrivePart(W(c.path)))) << c.path;
    EXPECT_EQ(c.file, U8(FileNamePart(W(c.path)))) << c.path;
  }
}

// The text comparisons behind the checks of final paths and of the install
// folder: no file system involved.
TEST(PathFunctionsTest, SamePlaceAndBelowAFolder) {
  struct Case {
    const char* a;
    const char* b;
    bool same;
    bool aBelowB;
  };
  const Case cases[] = {
      {"C:\\Logs", "C:\\Logs", true, false},
      {"C:\\Logs\\", "c:\\logs", true, false},  // letters A to Z without case, one trailing backslash
      {"C:\\Logs\\\\", "C:\\Logs", false, false},
      {"C:\\Logsx", "C:\\Logs", false, false},
      {"C:\\Logs\\a.log", "C:\\Logs", false, true},
      {"C:\\Logs\\a.log", "C:\\Logs\\", false, true},
      {"c:\\PROGRAM FILES\\Fan\\1.0\\", "C:\\Program Files", false, true},
      {"C:\\Program Files (x86)\\Fan\\", "C:\\Program Files", false, false},
      {"C:\\Program Files\\", "C:\\Program Files", true, false},  // the folder itself is not below it
      {"C:\\Program Files\\\\x", "C:\\Program Files", false, false},
      {"C:\\x", "C:\\", false, true},
      {"C:\\Фан\\x", "C:\\фан", false, false},  // other scripts' letters must match exactly
      {"C:\\新機能\\表", "C:\\新機能", false, true},
      {"", "", true, false},
      {"C:\\a", "", false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.same, SamePathText(W(c.a), W(c.b))) << c.a << " | " << c.b;
    EXPECT_EQ(c.same, SamePathText(W(c.b), W(c.a))) << c.a << " | " << c.b;
    EXPECT_EQ(c.aBelowB, LiesBelowFolder(W(c.a), W(c.b))) << c.a << " | " << c.b;
  }
}

TEST(PathFunctionsTest, FinalPathsAndJoins) {
  const char* finals[][2] = {
      {"\\\\?\\C:\\Fan\\Setup", "C:\\Fan\\Setup"},
      {"\\\\?\\UNC\\server\\share\\Setup", "\\\\server\\share\\Setup"},
      {"\\\\?\\Z:\\etc\\hostname", "Z:\\etc\\hostname"},
      {"C:\\plain", "C:\\plain"},
      {"", ""},
  };
  for (const auto& final : finals) EXPECT_EQ(final[1], U8(PathFromFinalPath(W(final[0])))) << final[0];
  EXPECT_EQ("C:\\Logs\\a.log", U8(JoinPath(L"C:\\Logs", L"a.log")));
  EXPECT_EQ("C:\\Logs\\a.log", U8(JoinPath(L"C:\\Logs\\", L"a.log")));
  EXPECT_EQ("C:\\a.log", U8(JoinPath(L"C:\\", L"a.log")));
}

class DeployTest : public test_support::PlatformTest {
 protected:
  // Every entry name the walker reports, in its order.
  static std::vector<std::string> Walk(const std::string& root, bool filesOnly) {
    std::vector<std::string> names;
    DirectoryWalker walker;
    EXPECT_TRUE(walker.Open(W(root)));
    if (filesOnly) walker.SkipDirectories();
    while (!walker.AtEnd()) {
      names.push_back(U8(walker.Current()->cFileName));
      walker.Advance();
      if (filesOnly) walker.SkipDirectories();
    }
    walker.Close();
    EXPECT_EQ(0u, walker.depth());
    EXPECT_EQ(L"", walker.path());
    return names;
  }

  static std::vector<std::string> Sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
  }

  ScratchFolder source;
  ScratchFolder target;
};

TEST_F(DeployTest, WalkerReportsEntriesWithoutEnteringFolders) {
  WriteFile(source.path() + "f1", "1");
  WriteFile(source.path() + "f2", "2");
  MakeFolder(source.path() + "S");
  WriteFile(source.path() + "S\\inner", "3");
  EXPECT_EQ((std::vector<std::string>{".", "..", "S", "f1", "f2"}), Sorted(Walk(source.path(), false)));
  EXPECT_EQ((std::vector<std::string>{"f1", "f2"}), Sorted(Walk(source.path(), true)));
}

TEST_F(DeployTest, WalkerRootWithAnyTrailingBackslashes) {
  WriteFile(source.path() + "a.txt", "a");
  const std::string bare = source.path().substr(0, source.path().size() - 1);
  for (const std::string& root : {bare, bare + "\\", bare + "\\\\\\"}) {
    DirectoryWalker walker;
    ASSERT_TRUE(walker.Open(W(root)));
    EXPECT_EQ(bare, U8(walker.path()));
    walker.SkipDirectories();
    ASSERT_FALSE(walker.AtEnd()) << root;
    EXPECT_EQ(bare + "\\a.txt", U8(walker.CurrentPath()));
  }
}

TEST_F(DeployTest, WalkerOnRootsThatCannotBeListed) {
  for (const std::string& root : {source.path() + "absent", source.path() + "absent\\deeper"}) {
    DirectoryWalker walker;
    EXPECT_TRUE(walker.Open(W(root)));
    EXPECT_TRUE(walker.AtEnd());
    EXPECT_EQ(nullptr, walker.Current());
    EXPECT_EQ(L"", walker.CurrentPath());
    walker.Advance();  // harmless at the end
    EXPECT_TRUE(walker.AtEnd());
  }
  WriteFile(source.path() + "file", "x");
  DirectoryWalker onFile;
  EXPECT_TRUE(onFile.Open(W(source.path() + "file")));
  EXPECT_TRUE(onFile.AtEnd());
}

TEST_F(DeployTest, WalkerOnAnEmptyFolderSeesOnlyDots) {
  EXPECT_EQ((std::vector<std::string>{".", ".."}), Sorted(Walk(source.path(), false)));
  EXPECT_TRUE(Walk(source.path(), true).empty());
}

TEST_F(DeployTest, EmptyRootListsTheCurrentDrive) {
  DirectoryWalker walker;
  EXPECT_TRUE(walker.Open(L""));
  EXPECT_EQ(L"", walker.path());
  EXPECT_FALSE(walker.AtEnd());
  EXPECT_EQ(L'\\', walker.CurrentPath()[0]);
}

TEST_F(DeployTest, CopyTakesEveryFileButNoFolder) {
  WriteFile(source.path() + "setup.exe", "exe");
  WriteFile(source.path() + "setup.ini", "ini");
  WriteFile(source.path() + "a.dll", "dll");
  WriteFile(source.path() + "b.exe", "b");
  MakeFolder(source.path() + "lang");
  WriteFile(source.path() + "lang\\de.txt", "de");
  EXPECT_TRUE(CopyPayload(W(source.path()), W(target.path())));
  EXPECT_EQ((std::vector<std::string>{"a.dll", "b.exe", "setup.exe", "setup.ini"}),
            Sorted(Walk(target.path(), true)));
  EXPECT_EQ("dll", ReadFile(target.path() + "a.dll"));
  EXPECT_FALSE(FolderExists(target.path() + "lang"));
}

// A program folder and payload names in several scripts, beside ASCII ones:
// each file listed and placed under its exact name, byte for byte. The
// folder's name ends in a character whose second byte in code page 932 is
// 0x5C.
TEST_F(DeployTest, NamesInAnyLanguageAreListedAndCopiedExactly) {
  const std::string folder = source.path() + "新機能\\";
  MakeFolder(folder);
  const std::vector<std::string> names = {"plain.txt", "ソ.dll",    "表.txt",     "файл.dll",
                                          "αβγ.dat",   "张伟.ini", "😀 emoji.bin"};
  for (const auto& name : names) WriteFile(folder + name, "content of " + name);
  EXPECT_EQ(Sorted(names), Sorted(Walk(folder, true)));
  EXPECT_TRUE(CopyPayload(W(folder), W(target.path())));
  EXPECT_EQ(Sorted(names), Sorted(Walk(target.path(), true)));
  for (const auto& name : names) EXPECT_EQ("content of " + name, ReadFile(target.path() + name)) << name;
}

TEST_F(DeployTest, CopyOverwritesWritableAndReadOnlyTargets) {
  WriteFile(source.path() + "w.txt", "new w");
  WriteFile(source.path() + "r.txt", "new r");
  WriteFile(target.path() + "w.txt", "old w");
  WriteFile(target.path() + "r.txt", "old r");
  ASSERT_TRUE(SetFileAttributesW(W(target.path() + "r.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_TRUE(CopyPayload(W(source.path()), W(target.path())));
  EXPECT_EQ("new w", ReadFile(target.path() + "w.txt"));
  EXPECT_EQ("new r", ReadFile(target.path() + "r.txt"));
}

TEST_F(DeployTest, TargetThatCannotBeReplacedFailsTheCopyButNotTheOthers) {
  WriteFile(source.path() + "a.txt", "a");
  WriteFile(source.path() + "blocked", "b");
  WriteFile(source.path() + "z.txt", "z");
  MakeFolder(target.path() + "blocked");  // a folder of the same name: refused twice
  EXPECT_FALSE(CopyPayload(W(source.path()), W(target.path())));
  EXPECT_EQ("a", ReadFile(target.path() + "a.txt"));
  EXPECT_EQ("z", ReadFile(target.path() + "z.txt"));
  EXPECT_TRUE(FolderExists(target.path() + "blocked"));
}

TEST_F(DeployTest, TargetHeldOpenIsSkipped) {
  WriteFile(source.path() + "held.txt", "new");
  WriteFile(source.path() + "other.txt", "other");
  WriteFile(target.path() + "held.txt", "old");
  {
    test_support::ExclusiveHold hold(target.path() + "held.txt");
    EXPECT_TRUE(CopyPayload(W(source.path()), W(target.path())));
  }
  EXPECT_EQ("old", ReadFile(target.path() + "held.txt"));
  EXPECT_EQ("other", ReadFile(target.path() + "other.txt"));
}

// What a run that was killed left in the staging folder is cleared by the
// next one, and the staging folder goes with it.
TEST_F(DeployTest, StagingLeftByAKilledRunIsCleared) {
  WriteFile(source.path() + "a.txt", "a");
  MakeFolder(target.path() + "~FanServiceSetup.staging");
  WriteFile(target.path() + "~FanServiceSetup.staging\\a.txt", "half of a");
  EXPECT_TRUE(CopyPayload(W(source.path()), W(target.path())));
  EXPECT_EQ((std::vector<std::string>{"a.txt"}), Walk(target.path(), true));
  EXPECT_FALSE(FolderExists(target.path() + "~FanServiceSetup.staging"));
  EXPECT_EQ("a", ReadFile(target.path() + "a.txt"));
}

TEST_F(DeployTest, TargetFolderThatIsNotThereFailsTheCopy) {
  WriteFile(source.path() + "a.txt", "a");
  WriteFile(source.path() + "b.txt", "b");
  const std::string absent = target.path() + "absent\\";
  EXPECT_FALSE(CopyPayload(W(source.path()), W(absent)));
  EXPECT_FALSE(FolderExists(absent));  // the copy makes no folder
  EXPECT_TRUE(Walk(target.path(), true).empty());
}

TEST_F(DeployTest, NothingToCopy) {
  MakeFolder(source.path() + "only-a-folder");
  EXPECT_TRUE(CopyPayload(W(source.path()), W(target.path())));
  EXPECT_TRUE(CopyPayload(W(source.path() + "absent\\"), W(target.path())));
  EXPECT_TRUE(Walk(target.path(), true).empty());
}

TEST_F(DeployTest, EmptyRootsAreRefused) {
  WriteFile(source.path() + "a.txt", "a");
  EXPECT_FALSE(CopyPayload(W(source.path()), L""));
  EXPECT_FALSE(CopyPayload(L"", W(target.path())));
  EXPECT_FALSE(FileExists("a.txt"));
  EXPECT_TRUE(Walk(target.path(), true).empty());
}

// The program folder is taken by its final path, ending in a backslash; a
// folder that is not there stays unknown.
TEST_F(DeployTest, ProgramFolderByItsFinalPath) {
  ProgramFolder folder;
  ASSERT_TRUE(folder.Open(W(source.path())));
  EXPECT_TRUE(SamePathText(W(source.path()), folder.path())) << U8(folder.path());
  EXPECT_EQ(L'\\', folder.path().back());
  ProgramFolder absent;
  EXPECT_FALSE(absent.Open(W(source.path() + "absent\\")));
  EXPECT_EQ(L"", absent.path());
}

// A source is held while it is copied: nobody may write it meanwhile, the
// copy itself reads it all the same.
TEST_F(DeployTest, HeldSourceCanBeCopiedButNotWritten) {
  WriteFile(source.path() + "a.dll", "payload");
  HeldFile held;
  ASSERT_TRUE(held.Open(W(source.path() + "a.dll")));
  const HANDLE writer = CreateFileW(W(source.path() + "a.dll").c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_EQ(INVALID_HANDLE_VALUE, writer);
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
  EXPECT_TRUE(CopyFileW(W(source.path() + "a.dll").c_str(), W(target.path() + "a.dll").c_str(), FALSE));
  EXPECT_EQ("payload", ReadFile(target.path() + "a.dll"));
}

// A second name of a file elsewhere would publish that file: it is not
// copied and fails the copy; the plain files beside it are copied.
TEST_F(DeployTest, SecondNameOfAFileIsNotCopied) {
  ScratchFolder elsewhere;
  WriteFile(elsewhere.path() + "secret.txt", "not for the payload");
  WriteFile(source.path() + "a.dll", "a");
  test_support::MakeHardLink(source.path() + "linked.txt", elsewhere.path() + "secret.txt");
  WriteFile(source.path() + "z.dll", "z");
  HeldFile held;
  EXPECT_FALSE(held.Open(W(source.path() + "linked.txt")));
  EXPECT_EQ(INVALID_HANDLE_VALUE, held.handle());
  EXPECT_FALSE(CopyPayload(W(source.path()), W(target.path())));
  EXPECT_EQ((std::vector<std::string>{"a.dll", "z.dll"}), Sorted(Walk(target.path(), true)));
  EXPECT_TRUE(held.Open(W(source.path() + "a.dll")));  // a plain file is fine
}

class InstallFolderTest : public test_support::PlatformTest {
 protected:
  static std::string ProgramFiles() {
    wchar_t path[MAX_PATH] = {};
    EXPECT_EQ(S_OK, SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, path));
    return U8(path);
  }

  void TearDown() override {
    for (const auto& folder : made) test_support::RemoveTree(folder);
  }

  std::vector<std::string> made;
};

TEST_F(InstallFolderTest, VersionedFolderBelowProgramFiles) {
  const std::string base = "FanSetupTests" + std::to_string(GetCurrentProcessId());
  made.push_back(ProgramFiles() + "\\" + base);
  SetupIniFile ini("[Common]\nInstallPath=" + base + "\\B\n");
  const std::string expected = ProgramFiles() + "\\" + base + "\\B\\1.0\\";
  EXPECT_EQ(expected, U8(ResolveInstallFolder(ini.settings(), L"1.0").path));
  EXPECT_TRUE(FolderExists(expected));
  WriteFile(expected + "kept.txt", "k");
  EXPECT_EQ(expected, U8(ResolveInstallFolder(ini.settings(), L"1.0").path));  // again: same text, folder untouched
  EXPECT_TRUE(FileExists(expected + "kept.txt"));
}

TEST_F(InstallFolderTest, WithoutInstallPathTheVersionSitsBelowProgramFiles) {
  const std::string version = "FanSetupTests" + std::to_string(GetCurrentProcessId()) + "-2.0";
  made.push_back(ProgramFiles() + "\\" + version);
  SetupIniFile ini("[Common]\n");
  EXPECT_EQ(ProgramFiles() + "\\" + version + "\\", U8(ResolveInstallFolder(ini.settings(), W(version)).path));
}

TEST_F(InstallFolderTest, RefusedPathGivesNothing) {
  SetupIniFile ini("[Common]\nInstallPath=Bad|Name\n");
  const InstallFolder folder = ResolveInstallFolder(ini.settings(), L"1.0");
  EXPECT_EQ(L"", folder.path);
  EXPECT_FALSE(folder.refused);  // not led out: the platform said no
}

}  // namespace
}  // namespace vantu
