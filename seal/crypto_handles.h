// Owners (base/unique_handle.h) for what hashing holds: an algorithm
// provider and a hash object (bcrypt.dll itself is a UniqueLibrary of
// base/unique_handle.h). bcrypt.dll is loaded at run time
// (sha256_provider.h), so an algorithm or a hash is closed through the
// function of the same bcrypt.dll: each travels with that function.
#pragma once

#include <windows.h>
#include <bcrypt.h>

#include "base/unique_handle.h"

namespace vantu {

using CloseAlgorithmFunction = decltype(&BCryptCloseAlgorithmProvider);
using DestroyHashFunction = decltype(&BCryptDestroyHash);

struct BcryptAlgorithm {
  BCRYPT_ALG_HANDLE handle;
  CloseAlgorithmFunction close;
  bool operator!=(const BcryptAlgorithm& other) const { return handle != other.handle; }
};

struct BcryptHash {
  BCRYPT_HASH_HANDLE handle;
  DestroyHashFunction destroy;
  bool operator!=(const BcryptHash& other) const { return handle != other.handle; }
};

struct AlgorithmPolicy {
  using Type = BcryptAlgorithm;
  static Type Invalid() noexcept { return Type{nullptr, nullptr}; }
  static void Close(Type algorithm) noexcept { algorithm.close(algorithm.handle, 0); }
};

struct HashPolicy {
  using Type = BcryptHash;
  static Type Invalid() noexcept { return Type{nullptr, nullptr}; }
  static void Close(Type hash) noexcept { hash.destroy(hash.handle); }
};

using UniqueAlgorithm = UniqueHandle<AlgorithmPolicy>;
using UniqueHash = UniqueHandle<HashPolicy>;

}  // namespace vantu
