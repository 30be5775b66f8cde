// Hashing as bcrypt.dll offers it, SHA-256 only: OpenSSL's digest stands in
// for Windows' own.
#include <bcrypt.h>
#include <openssl/evp.h>

#include <cstring>
#include <map>
#include <memory>
#include <utility>

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

// OpenSSL's SHA-256 (libcrypto), one digest context per hash.
struct DigestContextFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using DigestContext = std::unique_ptr<EVP_MD_CTX, DigestContextFree>;

DigestContext NewSha256() {
  DigestContext context(EVP_MD_CTX_new());
  if (context && EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) context.reset();
  return context;
}

struct Hash {
  uintptr_t algorithm;
  DigestContext sha;
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
  DigestContext sha = NewSha256();
  if (!sha) return STATUS_NO_MEMORY;
  const uintptr_t value = internal::NewHandleValue();
  State().hashes[value] = Hash{found->first, std::move(sha), false};
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
  if (inputSize && EVP_DigestUpdate(state->sha.get(), input, inputSize) != 1) return STATUS_UNSUCCESSFUL;
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
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(state->sha.get(), output, &length) != 1 || length != kDigestLength) {
    return STATUS_UNSUCCESSFUL;
  }
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
