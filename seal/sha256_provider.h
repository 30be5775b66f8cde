// SHA-256 by Windows' own provider (Cryptography Next Generation), not by
// code of this program's own. bcrypt.dll is loaded at run time from the
// system folder only: an import of it would be looked for beside setup.exe
// first (it is not one of Windows' known DLLs), and before main confines the
// search for DLLs.
#pragma once

#include <windows.h>
#include <bcrypt.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "seal/crypto_handles.h"
#include "seal/sha256_digest.h"

namespace vantu {

// Bytes read from a file per ReadFile and hashed per BCryptHashData.
constexpr DWORD kHashChunkBytes = 256 * 1024;

// One SHA-256 algorithm of bcrypt.dll, opened once and used for one hash
// after the other (not from two threads at once).
class Sha256Provider {
 public:
  Sha256Provider() = default;
  Sha256Provider(const Sha256Provider&) = delete;
  Sha256Provider& operator=(const Sha256Provider&) = delete;

  // Loads bcrypt.dll (LOAD_LIBRARY_SEARCH_SYSTEM32; where Windows does not
  // know that flag, by its full path in the system folder) and opens its
  // SHA-256. False, with `why`, when that fails; everything taken so far is
  // released then.
  bool Open(std::string* why);
  bool is_open() const { return static_cast<bool>(algorithm_); }

  // The digest of `size` bytes at `data`.
  bool HashBytes(const void* data, size_t size, Sha256Digest* digest, std::string* why);
  // Reads `file` from its current position to its end in chunks and hashes
  // what it read; `bytes` says how much that was. False, with `why`, when a
  // read or the provider fails.
  bool HashFile(HANDLE file, Sha256Digest* digest, uint64_t* bytes, std::string* why);

  // One digest made from bytes given piece by piece (as a copy passes
  // them): Begin, Feed for each piece in order, Finish. One at a time: the
  // provider keeps one hash object.
  bool Begin(UniqueHash* hash, std::string* why);
  bool Feed(const UniqueHash& hash, const BYTE* data, ULONG size, std::string* why);
  bool Finish(const UniqueHash& hash, Sha256Digest* digest, std::string* why);

 private:
  struct Functions {
    decltype(&BCryptOpenAlgorithmProvider) openAlgorithm = nullptr;
    CloseAlgorithmFunction closeAlgorithm = nullptr;
    decltype(&BCryptGetProperty) getProperty = nullptr;
    decltype(&BCryptCreateHash) createHash = nullptr;
    decltype(&BCryptHashData) hashData = nullptr;
    decltype(&BCryptFinishHash) finishHash = nullptr;
    DestroyHashFunction destroyHash = nullptr;
  };

  bool Resolve(std::string* why);

  // Released in the reverse order: the algorithm before its DLL.
  UniqueLibrary library_;
  Functions functions_;
  UniqueAlgorithm algorithm_;
  std::vector<UCHAR> hashObject_;
  std::vector<BYTE> chunk_;
};

}  // namespace vantu
