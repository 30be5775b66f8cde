// The seal's platform calls: how bcrypt.dll is loaded, what a file opened
// for hashing asks for, every call of hashing failed once, and the seal
// read from the module's resources in each state. Host only: needs the
// in-memory platform's faults, call log and resources.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "fake_win32/control.h"
#include "seal/embedded_seal.h"
#include "seal/file_for_hashing.h"
#include "seal/sha256_provider.h"
#include "tests/support/scratch.h"
#include "tests/support/seal_bytes.h"

namespace vantu {
namespace {

using fake_win32::CallCount;
using fake_win32::CallsTo;
using test_support::ScratchFolder;
using test_support::SealBytes;
using test_support::WriteFile;

using Args = std::vector<std::string>;

std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

constexpr uint32_t kNoMemory = 0xC0000017;  // STATUS_NO_MEMORY

class SealPlatformTest : public test_support::PlatformTest {};

TEST_F(SealPlatformTest, BcryptComesFromTheSystemFolderOnly) {
  {
    Sha256Provider provider;
    std::string why;
    ASSERT_TRUE(provider.Open(&why)) << why;
  }
  ASSERT_EQ(1, CallCount("LoadLibraryExW"));
  EXPECT_EQ((Args{"bcrypt.dll", "(null)", "0x800"}), CallsTo("LoadLibraryExW")[0].args);
  EXPECT_EQ(0, CallCount("GetSystemDirectoryW"));
  EXPECT_EQ(1, CallCount("FreeLibrary"));
  EXPECT_EQ(1, CallCount("BCryptCloseAlgorithmProvider"));
}

TEST_F(SealPlatformTest, WithoutTheSearchFlagBcryptIsLoadedByItsFullPath) {
  fake_win32::SetLibrarySearchFlagsKnown(false);  // Windows 7 without KB2533623
  {
    Sha256Provider provider;
    std::string why;
    ASSERT_TRUE(provider.Open(&why)) << why;
    Sha256Digest digest{};
    ASSERT_TRUE(provider.HashBytes("abc", 3, &digest, &why)) << why;
    EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", DigestText(digest));
  }
  const auto loads = CallsTo("LoadLibraryExW");
  ASSERT_EQ(2u, loads.size());
  EXPECT_EQ((Args{"bcrypt.dll", "(null)", "0x800"}), loads[0].args);
  EXPECT_EQ((Args{"C:\\windows\\system32\\bcrypt.dll", "(null)", "0x8"}), loads[1].args);
  EXPECT_EQ(1, CallCount("GetSystemDirectoryW"));
}

TEST_F(SealPlatformTest, LoadFailuresSayWhy) {
  struct Case {
    const char* what;
    bool flagKnown;
    std::string function;
    uint32_t error;
    int loads;
    std::string reason;
  };
  const Case cases[] = {
      {"bcrypt.dll missing", true, "LoadLibraryExW", 126, 1, "bcrypt.dll could not be loaded from the system folder"},
      {"no fallback for other errors", true, "LoadLibraryExW", 5, 1, "Access is denied"},
      {"the full path fails too", false, "LoadLibraryExW", 126, 2, "bcrypt.dll could not be loaded"},
      {"system folder unknown", false, "GetSystemDirectoryW", 5, 1, "the system folder is unknown: 5"},
  };
  for (const auto& c : cases) {
    fake_win32::Reset();
    fake_win32::SetLibrarySearchFlagsKnown(c.flagKnown);
    // With the flag unknown, the first load fails by itself: fail the second.
    fake_win32::FailCall(c.function, c.flagKnown || c.function != "LoadLibraryExW" ? 1 : 2, c.error);
    Sha256Provider provider;
    std::string why;
    EXPECT_FALSE(provider.Open(&why)) << c.what;
    EXPECT_FALSE(provider.is_open()) << c.what;
    EXPECT_NE(std::string::npos, why.find(c.reason)) << c.what << ": " << why;
    EXPECT_EQ(c.loads, CallCount("LoadLibraryExW")) << c.what;
    EXPECT_TRUE(fake_win32::OpenResources().empty()) << c.what;
  }
}

TEST_F(SealPlatformTest, AFileForHashingIsSharedForReadingAndNotFollowedThroughALink) {
  ScratchFolder folder;
  const std::string path = folder.path() + "fan.dll";
  WriteFile(path, "payload");
  {
    UniqueFileHandle file;
    uint64_t size = 0;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), OpenFileForHashing(Wide(path), &file, &size));
  }
  ASSERT_EQ(1, CallCount("CreateFileW"));
  // GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, the reparse point itself
  // and a sequential scan.
  EXPECT_EQ((Args{path, "0x80000000", "0x1", "(null)", "3", "0x8200000", "(null)"}), CallsTo("CreateFileW")[0].args);

  // A symbolic link (a reparse point, as Windows makes one) to a file
  // elsewhere is refused, not followed.
  const std::string link = folder.path() + "link.dll";
  fake_win32::MakeLink(link, path, IO_REPARSE_TAG_SYMLINK);
  UniqueFileHandle file;
  uint64_t size = 0;
  EXPECT_EQ(static_cast<DWORD>(ERROR_CANT_ACCESS_FILE), OpenFileForHashing(Wide(link), &file, &size));
  EXPECT_FALSE(file);
}

// What the run does with the provider: open it, hash a file opened for
// hashing, hash bytes. True when every step succeeded with the right
// digests; otherwise `why` is the first step's reason.
bool HashingRun(const std::string& path, std::string* why) {
  Sha256Provider provider;
  if (!provider.Open(why)) return false;
  UniqueFileHandle file;
  uint64_t size = 0;
  if (const DWORD error = OpenFileForHashing(Wide(path), &file, &size)) {
    *why = "OpenFileForHashing: " + std::to_string(error);
    return false;
  }
  Sha256Digest digest{};
  uint64_t read = 0;
  if (!provider.HashFile(file.get(), &digest, &read, why)) return false;
  // 600,000 'a': three chunks.
  if (DigestText(digest) != "ded93777580eeaa7d906cb0f16b9706b1000067eaf0f3b6c1d03a8bc6a15bf15" || read != 600000) {
    *why = "the file's digest is " + DigestText(digest);
    return false;
  }
  if (!provider.HashBytes("abc", 3, &digest, why)) return false;
  if (DigestText(digest) != "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad") {
    *why = "the digest of abc is " + DigestText(digest);
    return false;
  }
  return true;
}

TEST_F(SealPlatformTest, EveryCallOfHashingFailedOnceFailsCleanly) {
  const std::string path = "C:\\payload\\fan.dll";
  auto prepare = [&path] {
    fake_win32::Reset();
    test_support::MakeFolder("C:\\payload");
    WriteFile(path, std::string(600000, 'a'));
  };
  prepare();
  std::string why;
  ASSERT_TRUE(HashingRun(path, &why)) << why;
  // The failure of a call that releases leaves the run's outcome alone;
  // any other fails the run with a reason that names it.
  const std::map<std::string, std::string> functions = {
      {"LoadLibraryExW", "bcrypt.dll could not be loaded"},
      {"GetProcAddress", "bcrypt.dll has no BCrypt"},
      {"BCryptOpenAlgorithmProvider", "BCryptOpenAlgorithmProvider failed: NTSTATUS 0xC0000017"},
      {"BCryptGetProperty", "BCryptGetProperty failed: NTSTATUS 0xC0000017"},
      {"BCryptCreateHash", "BCryptCreateHash failed: NTSTATUS 0xC0000017"},
      {"BCryptHashData", "BCryptHashData failed: NTSTATUS 0xC0000017"},
      {"BCryptFinishHash", "BCryptFinishHash failed: NTSTATUS 0xC0000017"},
      {"CreateFileW", "OpenFileForHashing: 8"},
      {"GetFileInformationByHandleEx", "OpenFileForHashing: 8"},
      {"ReadFile", "ReadFile failed: 8"},
      {"BCryptDestroyHash", ""},
      {"BCryptCloseAlgorithmProvider", ""},
      {"FreeLibrary", ""},
      {"CloseHandle", ""},
  };
  std::map<std::string, int> counts;
  for (const auto& entry : functions) counts[entry.first] = CallCount(entry.first);
  EXPECT_EQ(7, counts["GetProcAddress"]);
  EXPECT_EQ(4, counts["BCryptHashData"]);  // three chunks of the file, then abc
  EXPECT_EQ(2, counts["BCryptDestroyHash"]);
  EXPECT_EQ(4, counts["ReadFile"]);  // the last one reads nothing
  for (const auto& [function, reason] : functions) {
    ASSERT_GT(counts[function], 0) << function << " is never called";
    for (int occurrence = 1; occurrence <= counts[function]; ++occurrence) {
      prepare();
      const bool bcrypt = function.rfind("BCrypt", 0) == 0;
      fake_win32::FailCall(function, occurrence, bcrypt ? kNoMemory : 8 /* ERROR_NOT_ENOUGH_MEMORY */);
      why.clear();
      const bool ok = HashingRun(path, &why);
      const std::string what = function + " #" + std::to_string(occurrence);
      if (reason.empty()) {
        EXPECT_TRUE(ok) << what << ": " << why;
      } else {
        EXPECT_FALSE(ok) << what;
        EXPECT_NE(std::string::npos, why.find(reason)) << what << ": " << why;
      }
      EXPECT_TRUE(fake_win32::OpenResources().empty()) << what << ": "
                                                       << ::testing::PrintToString(fake_win32::OpenResources());
      EXPECT_TRUE(fake_win32::Misuses().empty()) << what << ": " << ::testing::PrintToString(fake_win32::Misuses());
    }
  }
}

TEST_F(SealPlatformTest, TheSealInEachState) {
  const std::string good = SealBytes().Header(2).Entry(u"setup.ini", 10, 1).Entry(u"FanSvc.exe", 20, 2).bytes();
  struct Case {
    const char* what;
    std::wstring type;
    std::wstring name;
    std::string bytes;        // set as the resource unless `type` is empty
    std::string fail;         // a call made to fail with ERROR_NOT_ENOUGH_MEMORY
    SealState state;
    std::string reason;
  };
  const Case cases[] = {
      {"no resources", L"", L"", "", "", SealState::kUnsealed, ""},
      {"another name of the type", L"#10", L"OTHER", good, "", SealState::kUnsealed, ""},
      {"the name, another type", L"#23", L"PAYLOAD_SEAL", good, "", SealState::kUnsealed, ""},
      {"sealed", L"#10", L"PAYLOAD_SEAL", good, "", SealState::kSealed, ""},
      {"name in another case", L"#10", L"payload_seal", good, "", SealState::kSealed, ""},
      {"empty resource", L"#10", L"PAYLOAD_SEAL", "", "", SealState::kMalformed, "the seal holds no manifest"},
      {"cut short", L"#10", L"PAYLOAD_SEAL", good.substr(0, good.size() - 1), "", SealState::kMalformed,
       "runs past the end"},
      {"lookup fails otherwise", L"#10", L"PAYLOAD_SEAL", good, "FindResourceW", SealState::kMalformed,
       "could not be looked up"},
      {"lookup fails, nothing there", L"", L"", "", "FindResourceW", SealState::kMalformed, "could not be looked up"},
      {"load fails", L"#10", L"PAYLOAD_SEAL", good, "LoadResource", SealState::kMalformed, "could not be read"},
      {"lock fails", L"#10", L"PAYLOAD_SEAL", good, "LockResource", SealState::kMalformed, "could not be read"},
      {"size fails", L"#10", L"PAYLOAD_SEAL", good, "SizeofResource", SealState::kMalformed, "holds no manifest"},
  };
  for (const auto& c : cases) {
    fake_win32::Reset();
    if (!c.type.empty()) fake_win32::SetModuleResource(c.type, c.name, c.bytes);
    if (!c.fail.empty()) fake_win32::FailCall(c.fail, 1, 8);
    const EmbeddedSeal seal = ReadEmbeddedSeal(nullptr);
    EXPECT_EQ(c.state, seal.state) << c.what << ": " << seal.why;
    EXPECT_NE(std::string::npos, seal.why.find(c.reason)) << c.what << ": " << seal.why;
    EXPECT_EQ(c.state == SealState::kSealed ? 2u : 0u, seal.manifest.entries().size()) << c.what;
    EXPECT_EQ((Args{"(null)", "PAYLOAD_SEAL", "#10"}), CallsTo("FindResourceW").at(0).args) << c.what;
  }
}

}  // namespace
}  // namespace vantu
