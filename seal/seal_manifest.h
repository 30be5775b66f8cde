// The seal's manifest: the files of a payload folder that a sealed
// setup.exe deploys, each with its size and SHA-256, as scripts/seal writes
// it into the image. The image carries it as a resource (embedded_seal.h),
// so a signature over the image covers it; its bytes are read as untrusted
// all the same: the parser reads nothing outside the block it is given,
// bounds every count and length before it uses it, and says what is wrong.
//
// The format (version 1), every number little-endian, no padding:
//
//   offset  size  what
//   0       4     magic "SEAL"
//   4       2     format version: 1
//   6       2     reserved: 0
//   8       4     N, the number of files: 0 to kMaxSealEntries
//   12            N entries, one after the other:
//                   2       L, the name's length in UTF-16 code units: 1 to kMaxSealNameUnits
//                   2 L     the name, UTF-16LE
//                   8       the file's size in bytes
//                   32      the SHA-256 of the file's bytes
//
// and nothing after the last entry. Every name is a plain file name that
// Windows opens as exactly that file of the folder: well-formed UTF-16 (no
// lone surrogate), no character below U+0020, none of \ / : * ? " < > |,
// no trailing dot or blank (which Windows strips, so "." and ".." too), no
// device name (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9, with or
// without an extension); no two names equal when ASCII letters are compared
// without regard to case. scripts/seal writes the entries in that order of
// names; the parser does not ask for any order.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "seal/sha256_digest.h"

namespace vantu {

constexpr uint32_t kSealFormatVersion = 1;
constexpr size_t kSealHeaderBytes = 12;
// An entry without its name.
constexpr size_t kSealEntryFixedBytes = 2 + 8 + kSha256Bytes;
constexpr uint32_t kMaxSealEntries = 100000;
constexpr size_t kMaxSealNameUnits = 255;  // a file name's limit on NTFS

struct SealEntry {
  // On Windows UTF-16; elsewhere (wchar_t of 32 bits) one code point per
  // character, a surrogate pair being one.
  std::wstring name;
  uint64_t size = 0;
  Sha256Digest digest{};
};

class SealManifest {
 public:
  // In the order of the manifest.
  const std::vector<SealEntry>& entries() const { return entries_; }
  // The entry of `name`, ASCII letters compared without regard to case; null
  // when the manifest does not list it.
  const SealEntry* Find(const std::wstring& name) const;

 private:
  friend bool ParseSealManifest(const BYTE* data, size_t size, SealManifest* out, std::string* why);
  std::vector<SealEntry> entries_;
  std::vector<size_t> byName_;  // indexes of entries_, in the order of their folded names
};

// Reads a manifest from `size` bytes at `data` (null when size is 0). True
// and `out` filled when the bytes are a manifest as above; false, `out`
// emptied and `why` saying what is wrong otherwise. Never reads outside the
// block.
bool ParseSealManifest(const BYTE* data, size_t size, SealManifest* out, std::string* why);

// A name as UTF-8, for messages and the run log.
std::string SealNameText(const std::wstring& name);

}  // namespace vantu
