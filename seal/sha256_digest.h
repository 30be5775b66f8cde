// A SHA-256 digest: 32 bytes, shown as 64 lower-case hexadecimal digits.
#pragma once

#include <array>
#include <string>

namespace vantu {

constexpr size_t kSha256Bytes = 32;
using Sha256Digest = std::array<unsigned char, kSha256Bytes>;

inline std::string DigestText(const Sha256Digest& digest) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(2 * digest.size());
  for (const unsigned char byte : digest) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0xF];
  }
  return text;
}

}  // namespace vantu
