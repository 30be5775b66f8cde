#include "tests/support/wide.h"

#include <cstdint>

namespace test_support {
namespace {

constexpr bool kUtf16 = sizeof(wchar_t) == 2;

void Append(std::wstring* out, uint32_t code) {
  if (kUtf16 && code >= 0x10000) {
    *out += static_cast<wchar_t>(0xD800 + ((code - 0x10000) >> 10));
    *out += static_cast<wchar_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
  } else {
    *out += static_cast<wchar_t>(code);
  }
}

}  // namespace

std::wstring W(const std::string& utf8) {
  std::wstring out;
  for (size_t i = 0; i < utf8.size();) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    const int extra = b < 0x80 ? 0 : b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : 1;
    uint32_t code = extra == 0 ? b : extra == 1 ? (b & 0x1F) : extra == 2 ? (b & 0x0F) : (b & 0x07);
    for (int k = 1; k <= extra && i + static_cast<size_t>(k) < utf8.size(); ++k) {
      code = code << 6 | (static_cast<unsigned char>(utf8[i + static_cast<size_t>(k)]) & 0x3F);
    }
    Append(&out, code);
    i += static_cast<size_t>(extra) + 1;
  }
  return out;
}

std::string U8(const std::wstring& wide) {
  std::string out;
  for (size_t i = 0; i < wide.size(); ++i) {
    auto code = static_cast<uint32_t>(wide[i]);
    if (kUtf16 && code >= 0xD800 && code < 0xDC00 && i + 1 < wide.size()) {
      code = 0x10000 + ((code - 0xD800) << 10) + (static_cast<uint32_t>(wide[++i]) - 0xDC00);
    }
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | code >> 6);
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | code >> 12);
      out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | code >> 18);
      out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return out;
}

}  // namespace test_support
