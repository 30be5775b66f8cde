// Hashing as bcrypt.dll offers it, SHA-256 only: a plain implementation of
// the algorithm (FIPS 180-4) stands in for Windows' own.
#include <bcrypt.h>

#include <array>
#include <cstring>
#include <map>

#include "internal.h"

namespace fake_win32 {
namespace {

using internal::Enter;
using internal::Hex;
using internal::Num;
using internal::Ptr;
using internal::Text;

// What BCryptGetProperty reports for SHA-256, as Windows 10 does.
constexpr ULONG kObjectLength = 318;
constexpr ULONG kDigestLength = 32;

class Sha256 {
 public:
  Sha256() {
    state_ = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  }

  void Update(const BYTE* data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
      block_[filled_++] = data[i];
      if (filled_ == 64) {
        Compress();
        filled_ = 0;
      }
    }
    length_ += size;
  }

  std::array<BYTE, 32> Finish() {
    const uint64_t bits = length_ * 8;
    const BYTE marker = 0x80;
    Update(&marker, 1);
    const BYTE zero = 0;
    while (filled_ != 56) Update(&zero, 1);
    BYTE tail[8];
    for (int i = 0; i < 8; ++i) tail[i] = static_cast<BYTE>(bits >> (56 - 8 * i));
    Update(tail, 8);
    std::array<BYTE, 32> digest{};
    for (size_t i = 0; i < 8; ++i) {
      for (size_t j = 0; j < 4; ++j) digest[4 * i + j] = static_cast<BYTE>(state_[i] >> (24 - 8 * j));
    }
    return digest;
  }

 private:
  static uint32_t Rotate(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

  void Compress() {
    static const uint32_t k[64] = {
        0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
        0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
        0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
        0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
        0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
        0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
        0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
        0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};
    uint32_t w[64];
    for (size_t i = 0; i < 16; ++i) {
      w[i] = static_cast<uint32_t>(block_[4 * i]) << 24 | static_cast<uint32_t>(block_[4 * i + 1]) << 16 |
             static_cast<uint32_t>(block_[4 * i + 2]) << 8 | static_cast<uint32_t>(block_[4 * i + 3]);
    }
    for (size_t i = 16; i < 64; ++i) {
      const uint32_t s0 = Rotate(w[i - 15], 7) ^ Rotate(w[i - 15], 18) ^ (w[i - 15] >> 3);
      const uint32_t s1 = Rotate(w[i - 2], 17) ^ Rotate(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::array<uint32_t, 8> v = state_;
    for (size_t i = 0; i < 64; ++i) {
      const uint32_t s1 = Rotate(v[4], 6) ^ Rotate(v[4], 11) ^ Rotate(v[4], 25);
      const uint32_t choose = (v[4] & v[5]) ^ (~v[4] & v[6]);
      const uint32_t t1 = v[7] + s1 + choose + k[i] + w[i];
      const uint32_t s0 = Rotate(v[0], 2) ^ Rotate(v[0], 13) ^ Rotate(v[0], 22);
      const uint32_t majority = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
      const uint32_t t2 = s0 + majority;
      v = {t1 + t2, v[0], v[1], v[2], v[3] + t1, v[4], v[5], v[6]};
    }
    for (size_t i = 0; i < 8; ++i) state_[i] += v[i];
  }

  std::array<uint32_t, 8> state_;
  std::array<BYTE, 64> block_{};
  size_t filled_ = 0;
  uint64_t length_ = 0;
};

struct Hash {
  uintptr_t algorithm;
  Sha256 sha;
  bool finished = false;
};

struct CryptoState {
  std::map<uintptr_t, int> algorithms;  // open hashes made from each
  std::map<uintptr_t, Hash> hashes;
};

CryptoState& State() {
  static CryptoState state;
  return state;
}

NTSTATUS Status(uint32_t fault) { return static_cast<NTSTATUS>(fault); }

bool SameText(LPCWSTR a, const wchar_t* b) { return a && std::wcscmp(a, b) == 0; }

Hash* FindHash(BCRYPT_HASH_HANDLE hash) {
  const auto found = State().hashes.find(reinterpret_cast<uintptr_t>(hash));
  return found == State().hashes.end() ? nullptr : &found->second;
}

}  // namespace

namespace internal {
void ResetCrypto() {
  State().algorithms.clear();
  State().hashes.clear();
}
}  // namespace internal

}  // namespace fake_win32

using namespace fake_win32;

NTSTATUS WINAPI BCryptOpenAlgorithmProvider(BCRYPT_ALG_HANDLE* algorithm, LPCWSTR algorithmId,
                                            LPCWSTR implementation, ULONG flags) {
  if (auto fault = Enter("BCryptOpenAlgorithmProvider", {Ptr(algorithm), Text(algorithmId), Text(implementation),
                                                         Hex(flags)})) {
    return Status(*fault);
  }
  if (!algorithm || !algorithmId || implementation || flags) return STATUS_INVALID_PARAMETER;
  if (!SameText(algorithmId, BCRYPT_SHA256_ALGORITHM)) return STATUS_NOT_FOUND;
  const uintptr_t value = internal::NewHandleValue();
  State().algorithms[value] = 0;
  *algorithm = reinterpret_cast<BCRYPT_ALG_HANDLE>(value);
  internal::Opened("algorithm", *algorithm);
  return STATUS_SUCCESS;
}

NTSTATUS WINAPI BCryptCloseAlgorithmProvider(BCRYPT_ALG_HANDLE algorithm, ULONG flags) {
  auto fault = Enter("BCryptCloseAlgorithmProvider", {Ptr(algorithm), Hex(flags)});
  const auto found = State().algorithms.find(reinterpret_cast<uintptr_t>(algorithm));
  if (found == State().algorithms.end()) {
    internal::Closed("algorithm", algorithm);  // records the misuse
    return STATUS_INVALID_HANDLE;
  }
  if (found->second != 0) {
    internal::Misuse("algorithm " + Ptr(algorithm) + " closed while " + Num(found->second) +
                     " hash(es) made from it are open");
  }
  State().algorithms.erase(found);
  internal::Closed("algorithm", algorithm);
  return fault ? Status(*fault) : STATUS_SUCCESS;
}

NTSTATUS WINAPI BCryptGetProperty(BCRYPT_HANDLE object, LPCWSTR property, PUCHAR output, ULONG outputSize,
                                  ULONG* result, ULONG flags) {
  if (auto fault = Enter("BCryptGetProperty", {Ptr(object), Text(property), Ptr(output), Num(outputSize),
                                               Ptr(result), Hex(flags)})) {
    return Status(*fault);
  }
  if (!State().algorithms.count(reinterpret_cast<uintptr_t>(object))) return STATUS_INVALID_HANDLE;
  if (!property || !result || flags) return STATUS_INVALID_PARAMETER;
  ULONG value;
  if (SameText(property, BCRYPT_OBJECT_LENGTH)) {
    value = kObjectLength;
  } else if (SameText(property, BCRYPT_HASH_LENGTH)) {
    value = kDigestLength;
  } else {
    return STATUS_NOT_SUPPORTED;
  }
  *result = sizeof value;
  if (!output || outputSize < sizeof value) return STATUS_BUFFER_TOO_SMALL;
  std::memcpy(output, &value, sizeof value);
  return STATUS_SUCCESS;
}

NTSTATUS WINAPI BCryptCreateHash(BCRYPT_ALG_HANDLE algorithm, BCRYPT_HASH_HANDLE* hash, PUCHAR hashObject,
                                 ULONG hashObjectSize, PUCHAR secret, ULONG secretSize, ULONG flags) {
  if (auto fault = Enter("BCryptCreateHash", {Ptr(algorithm), Ptr(hash), Ptr(hashObject), Num(hashObjectSize),
                                              Ptr(secret), Num(secretSize), Hex(flags)})) {
    return Status(*fault);
  }
  const auto found = State().algorithms.find(reinterpret_cast<uintptr_t>(algorithm));
  if (found == State().algorithms.end()) return STATUS_INVALID_HANDLE;
  if (!hash || secret || secretSize || flags) return STATUS_INVALID_PARAMETER;
  // No buffer at all lets the provider allocate the object itself (Windows 7
  // and later); a buffer must be large enough.
  if (hashObject ? hashObjectSize < kObjectLength : hashObjectSize != 0) return STATUS_BUFFER_TOO_SMALL;
  const uintptr_t value = internal::NewHandleValue();
  State().hashes[value] = Hash{found->first, Sha256(), false};
  ++found->second;
  *hash = reinterpret_cast<BCRYPT_HASH_HANDLE>(value);
  internal::Opened("hash", *hash);
  return STATUS_SUCCESS;
}

NTSTATUS WINAPI BCryptHashData(BCRYPT_HASH_HANDLE hash, PUCHAR input, ULONG inputSize, ULONG flags) {
  if (auto fault = Enter("BCryptHashData", {Ptr(hash), Ptr(input), Num(inputSize), Hex(flags)})) {
    return Status(*fault);
  }
  Hash* state = FindHash(hash);
  if (!state) return STATUS_INVALID_HANDLE;
  if (state->finished) {
    internal::Misuse("BCryptHashData on the finished hash " + Ptr(hash));
    return STATUS_INVALID_HANDLE;
  }
  if ((!input && inputSize) || flags) return STATUS_INVALID_PARAMETER;
  if (inputSize) state->sha.Update(input, inputSize);
  return STATUS_SUCCESS;
}

NTSTATUS WINAPI BCryptFinishHash(BCRYPT_HASH_HANDLE hash, PUCHAR output, ULONG outputSize, ULONG flags) {
  if (auto fault = Enter("BCryptFinishHash", {Ptr(hash), Ptr(output), Num(outputSize), Hex(flags)})) {
    return Status(*fault);
  }
  Hash* state = FindHash(hash);
  if (!state) return STATUS_INVALID_HANDLE;
  if (state->finished) {
    internal::Misuse("BCryptFinishHash on the finished hash " + Ptr(hash));
    return STATUS_INVALID_HANDLE;
  }
  if (!output || outputSize != kDigestLength || flags) return STATUS_INVALID_PARAMETER;
  const auto digest = state->sha.Finish();
  std::memcpy(output, digest.data(), digest.size());
  state->finished = true;
  return STATUS_SUCCESS;
}

NTSTATUS WINAPI BCryptDestroyHash(BCRYPT_HASH_HANDLE hash) {
  auto fault = Enter("BCryptDestroyHash", {Ptr(hash)});
  Hash* state = FindHash(hash);
  if (!state) {
    internal::Closed("hash", hash);  // records the misuse
    return STATUS_INVALID_HANDLE;
  }
  const auto algorithm = State().algorithms.find(state->algorithm);
  if (algorithm != State().algorithms.end()) --algorithm->second;
  State().hashes.erase(reinterpret_cast<uintptr_t>(hash));
  internal::Closed("hash", hash);
  return fault ? Status(*fault) : STATUS_SUCCESS;
}
