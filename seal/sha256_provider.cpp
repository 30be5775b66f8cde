#include "seal/sha256_provider.h"

#include "base/system_library.h"
#include "base/text_encoding.h"
#include "runlog/run_log.h"

namespace vantu {
namespace {

const wchar_t kCryptoDll[] = L"bcrypt.dll";

std::string StatusText(const char* function, NTSTATUS status) {
  return std::string(function) + " failed: NTSTATUS " + HexWord(static_cast<unsigned long>(status));
}

// bcrypt.dll from the system folder, never from anywhere else.
HMODULE LoadFromSystemFolder(std::string* why) {
  DWORD error = 0;
  bool folderUnknown = false;
  if (HMODULE module = LoadSystemLibrary(kCryptoDll, &error, &folderUnknown)) return module;
  *why = (folderUnknown ? "the system folder is unknown: " : "bcrypt.dll could not be loaded from the system folder: ") +
         ErrorText(error);
  return nullptr;
}

template <typename Function>
bool Take(HMODULE module, const char* name, Function* function, std::string* why) {
  *function = FindLibraryFunction<Function>(module, name);
  if (!*function) *why = std::string("bcrypt.dll has no ") + name + ": " + ErrorText(GetLastError());
  return *function != nullptr;
}

}  // namespace

bool Sha256Provider::Open(std::string* why) {
  if (is_open()) return true;
  std::string reason;
  library_.reset(LoadFromSystemFolder(&reason));
  if (library_ && Resolve(&reason)) {
    BCRYPT_ALG_HANDLE handle = nullptr;
    NTSTATUS status = functions_.openAlgorithm(&handle, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    if (!BCRYPT_SUCCESS(status)) {
      reason = StatusText("BCryptOpenAlgorithmProvider", status);
    } else {
      algorithm_.reset(BcryptAlgorithm{handle, functions_.closeAlgorithm});
      ULONG objectBytes = 0;
      ULONG digestBytes = 0;
      ULONG written = 0;
      status = functions_.getProperty(handle, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&objectBytes),
                                      sizeof objectBytes, &written, 0);
      if (BCRYPT_SUCCESS(status)) {
        status = functions_.getProperty(handle, BCRYPT_HASH_LENGTH, reinterpret_cast<PUCHAR>(&digestBytes),
                                        sizeof digestBytes, &written, 0);
      }
      if (!BCRYPT_SUCCESS(status)) {
        reason = StatusText("BCryptGetProperty", status);
      } else if (digestBytes != kSha256Bytes) {
        reason = "the SHA-256 of bcrypt.dll makes digests of " + std::to_string(digestBytes) + " bytes";
      } else {
        hashObject_.assign(objectBytes, 0);
        return true;
      }
    }
  }
  algorithm_.reset();
  library_.reset();
  if (why) *why = reason;
  return false;
}

bool Sha256Provider::Resolve(std::string* why) {
  const HMODULE module = library_.get();
  return Take(module, "BCryptOpenAlgorithmProvider", &functions_.openAlgorithm, why) &&
         Take(module, "BCryptCloseAlgorithmProvider", &functions_.closeAlgorithm, why) &&
         Take(module, "BCryptGetProperty", &functions_.getProperty, why) &&
         Take(module, "BCryptCreateHash", &functions_.createHash, why) &&
         Take(module, "BCryptHashData", &functions_.hashData, why) &&
         Take(module, "BCryptFinishHash", &functions_.finishHash, why) &&
         Take(module, "BCryptDestroyHash", &functions_.destroyHash, why);
}

bool Sha256Provider::Begin(UniqueHash* hash, std::string* why) {
  if (!is_open()) {
    *why = "the SHA-256 provider is not open";
    return false;
  }
  BCRYPT_HASH_HANDLE handle = nullptr;
  const NTSTATUS status = functions_.createHash(algorithm_.get().handle, &handle, hashObject_.data(),
                                                static_cast<ULONG>(hashObject_.size()), nullptr, 0, 0);
  if (!BCRYPT_SUCCESS(status)) {
    *why = StatusText("BCryptCreateHash", status);
    return false;
  }
  hash->reset(BcryptHash{handle, functions_.destroyHash});
  return true;
}

bool Sha256Provider::Feed(const UniqueHash& hash, const BYTE* data, ULONG size, std::string* why) {
  const NTSTATUS status = functions_.hashData(hash.get().handle, const_cast<PUCHAR>(data), size, 0);
  if (BCRYPT_SUCCESS(status)) return true;
  *why = StatusText("BCryptHashData", status);
  return false;
}

bool Sha256Provider::Finish(const UniqueHash& hash, Sha256Digest* digest, std::string* why) {
  const NTSTATUS status = functions_.finishHash(hash.get().handle, digest->data(), kSha256Bytes, 0);
  if (BCRYPT_SUCCESS(status)) return true;
  *why = StatusText("BCryptFinishHash", status);
  return false;
}

bool Sha256Provider::HashBytes(const void* data, size_t size, Sha256Digest* digest, std::string* why) {
  std::string reason;
  UniqueHash hash;
  bool ok = Begin(&hash, &reason);
  const BYTE* next = static_cast<const BYTE*>(data);
  while (ok && size > 0) {
    const ULONG part = size < kHashChunkBytes ? static_cast<ULONG>(size) : kHashChunkBytes;
    ok = Feed(hash, next, part, &reason);
    next += part;
    size -= part;
  }
  ok = ok && Finish(hash, digest, &reason);
  if (!ok && why) *why = reason;
  return ok;
}

bool Sha256Provider::HashFile(HANDLE file, Sha256Digest* digest, uint64_t* bytes, std::string* why) {
  std::string reason;
  UniqueHash hash;
  bool ok = Begin(&hash, &reason);
  if (ok && chunk_.empty()) chunk_.resize(kHashChunkBytes);
  uint64_t total = 0;
  while (ok) {
    DWORD read = 0;
    if (!ReadFile(file, chunk_.data(), kHashChunkBytes, &read, nullptr)) {
      reason = "ReadFile failed: " + ErrorText(GetLastError());
      ok = false;
    } else if (read == 0) {
      break;
    } else {
      ok = Feed(hash, chunk_.data(), read, &reason);
      total += read;
    }
  }
  ok = ok && Finish(hash, digest, &reason);
  if (ok && bytes) *bytes = total;
  if (!ok && why) *why = reason;
  return ok;
}

}  // namespace vantu
