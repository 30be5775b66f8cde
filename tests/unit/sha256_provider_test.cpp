// SHA-256 by the platform's provider: the known answers, files read in
// chunks, files held so that they cannot change while they are hashed, and
// the seal of a module that has none. Runs on both platforms: against
// bcrypt.dll under Wine, against the in-memory stand-in natively.
#include <gtest/gtest.h>

#include <string>

#include "seal/embedded_seal.h"
#include "seal/file_for_hashing.h"
#include "seal/sha256_provider.h"
#include "tests/support/scratch.h"

namespace vantu {
namespace {

using test_support::ExclusiveHold;
using test_support::PlatformTest;
using test_support::ScratchFolder;
using test_support::WriteFile;

std::wstring Wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

class Sha256ProviderTest : public PlatformTest {
 protected:
  void SetUp() override {
    std::string why;
    ASSERT_TRUE(provider_.Open(&why)) << why;
  }

  std::string OfBytes(const std::string& bytes) {
    Sha256Digest digest{};
    std::string why;
    EXPECT_TRUE(provider_.HashBytes(bytes.data(), bytes.size(), &digest, &why)) << why;
    return DigestText(digest);
  }

  Sha256Provider provider_;
};

// FIPS 180-2, appendix B, and the digest of nothing.
TEST_F(Sha256ProviderTest, KnownAnswers) {
  struct Case {
    std::string input;
    const char* digest;
  };
  const Case cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",  // 448 bits: padding takes a block of its own
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.digest, OfBytes(c.input)) << c.input.size() << " bytes";
}

TEST_F(Sha256ProviderTest, FilesAreHashedWholeAcrossChunks) {
  ScratchFolder folder;
  // Around the chunk size, and one more than three chunks.
  const struct {
    const char* name;
    std::string bytes;
  } files[] = {
      {"empty", ""},
      {"abc", "abc"},
      {"chunk-1", std::string(kHashChunkBytes - 1, 'x')},
      {"chunk", std::string(kHashChunkBytes, 'y')},
      {"chunk+1", std::string(kHashChunkBytes + 1, 'z')},
      {"million", std::string(1000000, 'a')},
  };
  for (const auto& f : files) {
    const std::string& bytes = f.bytes;
    const std::string name = f.name;
    const std::string path = folder.path() + name + ".bin";
    WriteFile(path, bytes);
    UniqueFileHandle file;
    uint64_t size = 1;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), OpenFileForHashing(Wide(path), &file, &size)) << name;
    EXPECT_EQ(bytes.size(), size) << name;
    Sha256Digest digest{};
    uint64_t read = 0;
    std::string why;
    ASSERT_TRUE(provider_.HashFile(file.get(), &digest, &read, &why)) << name << ": " << why;
    EXPECT_EQ(bytes.size(), read) << name;
    EXPECT_EQ(OfBytes(bytes), DigestText(digest)) << name;
  }
}

TEST_F(Sha256ProviderTest, OneProviderHashesOneThingAfterTheOther) {
  for (int round = 0; round < 3; ++round) {
    EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", OfBytes("abc"));
    EXPECT_EQ("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", OfBytes(""));
  }
  std::string why;
  EXPECT_TRUE(provider_.Open(&why)) << "opening again keeps what is open";
}

TEST_F(Sha256ProviderTest, WhatCannotBeOpenedForHashing) {
  ScratchFolder folder;
  UniqueFileHandle file;
  uint64_t size = 0;
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND),
            OpenFileForHashing(Wide(folder.path() + "missing"), &file, &size));
  EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND),
            OpenFileForHashing(Wide(folder.path() + "missing\\a.dll"), &file, &size));
  EXPECT_FALSE(file);
  test_support::MakeFolder(folder.path() + "sub");
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), OpenFileForHashing(Wide(folder.path() + "sub"), &file, &size));
  // Open for writing elsewhere: it could change while it is read.
  const std::string held = folder.path() + "held.dll";
  WriteFile(held, "payload");
  {
    ExclusiveHold hold(held);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), OpenFileForHashing(Wide(held), &file, &size));
  }
  EXPECT_FALSE(file);
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), OpenFileForHashing(Wide(held), &file, &size));
  EXPECT_EQ(7u, size);
}

TEST_F(Sha256ProviderTest, AFileOpenForHashingCanBeReadButNotChanged) {
  ScratchFolder folder;
  const std::string path = folder.path() + "fan.dll";
  WriteFile(path, "sealed content");
  UniqueFileHandle file;
  uint64_t size = 0;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), OpenFileForHashing(Wide(path), &file, &size));
  // Readers may share it (the copy reads it too) ...
  UniqueFileHandle second;
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), OpenFileForHashing(Wide(path), &second, &size));
  second.reset();
#ifndef FANSETUP_FAKE_WIN32
  // ... writers, renames and deletes may not (the in-memory platform
  // models sharing between readers only).
  const std::wstring wide = Wide(path);
  const HANDLE writer = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(INVALID_HANDLE_VALUE, writer);
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
  const std::wstring swapped = Wide(folder.path() + "swapped.dll");
  EXPECT_FALSE(MoveFileExW(wide.c_str(), swapped.c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_FALSE(DeleteFileW(wide.c_str()));
#endif
  Sha256Digest digest{};
  uint64_t read = 0;
  std::string why;
  ASSERT_TRUE(provider_.HashFile(file.get(), &digest, &read, &why)) << why;
  EXPECT_EQ(OfBytes("sealed content"), DigestText(digest));
  file.reset();
  EXPECT_EQ("sealed content", test_support::ReadFile(path));
}

class EmbeddedSealTest : public PlatformTest {};

// The test program carries no seal, as setup.exe before scripts/seal.
TEST_F(EmbeddedSealTest, AModuleWithoutTheResourceIsUnsealed) {
  const EmbeddedSeal seal = ReadEmbeddedSeal(nullptr);
  EXPECT_EQ(SealState::kUnsealed, seal.state) << seal.why;
  EXPECT_TRUE(seal.manifest.entries().empty());
}

}  // namespace
}  // namespace vantu
