// Helpers shared by the fuzz targets: property checks that stop the run with
// a message, files in the in-memory platform's folder tree, the platform's
// ledger, and an independent reading of the firmware package.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "fake_win32/control.h"
#include "tests/support/wide.h"

namespace fuzz_support {

// Text for a message: printable ASCII as is, everything else as \xNN, long
// texts shortened in the middle.
inline std::string Shown(const std::string& text) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  const size_t limit = 200;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text.size() > 2 * limit && i == limit) {
      out += "...(" + std::to_string(text.size()) + " bytes)...";
      i = text.size() - limit;
    }
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out += static_cast<char>(c);
    } else if (c == '\\') {
      out += "\\\\";
    } else {
      out += "\\x";
      out += digits[c >> 4];
      out += digits[c & 0xF];
    }
  }
  return "\"" + out + "\"";
}

// Wide text for a message: ASCII as above, every other character as \u{N}.
inline std::string Shown(const std::wstring& text) {
  std::string out;
  for (const wchar_t c : text) {
    const auto code = static_cast<uint32_t>(c);
    if (code >= 0x20 && code < 0x7F && code != '\\') {
      out += static_cast<char>(code);
    } else if (code == '\\') {
      out += "\\\\";
    } else {
      char buffer[16];
      std::snprintf(buffer, sizeof buffer, "\\u{%X}", static_cast<unsigned>(code));
      out += buffer;
    }
    if (out.size() > 600) {
      out += "...(" + std::to_string(text.size()) + " characters)";
      break;
    }
  }
  return "L\"" + out + "\"";
}

// Fuzzed bytes as a name or path: ASCII bytes stand for themselves (so that
// separators, colons and dots are easy to reach and old seeds keep their
// meaning), every other byte for one of sixteen characters of other scripts:
// some whose second byte in code page 932 is 0x5C, one outside the basic
// plane, Latin, Cyrillic, Greek and Chinese ones.
inline std::wstring WideFromFuzz(const std::string& bytes) {
  static const uint32_t kOthers[16] = {0x80FD, 0x30BD, 0x8868, 0x5341, 0x00E9, 0x00A0, 0x0416, 0x03A9,
                                       0x5F20, 0x4F1F, 0x1F600, 0x00FF, 0x0131, 0xFF3C, 0x2215, 0x3000};
  std::wstring out;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    out += static_cast<wchar_t>(b < 0x80 ? b : kOthers[b & 15]);
  }
  return out;
}

// A wide text as UTF-8, which is how the platform's controls take names.
inline std::string Utf8(const std::wstring& text) { return test_support::U8(text); }

// Bytes in the ANSI code page as the platform reads them.
inline std::wstring FromCodePage(const std::string& bytes) {
  if (bytes.empty()) return std::wstring();
  const int length = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), &out[0], length);
  return out;
}

[[noreturn]] inline void Fail(const char* file, int line, const char* condition, const std::string& detail) {
  std::fprintf(stderr, "\n%s:%d: property violated: %s\n  %s\n", file, line, condition, detail.c_str());
  std::fflush(stderr);
  std::abort();
}

// CHECK(condition, detail): `detail` is only built when the check fails.
#define CHECK(condition, detail)                                      \
  do {                                                                \
    if (!(condition)) {                                               \
      ::fuzz_support::Fail(__FILE__, __LINE__, #condition, (detail)); \
    }                                                                 \
  } while (0)

// The whole value of `key`, as one call with a buffer that nothing in a file
// of `fileSize` bytes can fill gives it.
inline std::wstring WholeValue(const std::wstring& path, const wchar_t* key, const std::wstring& defaultText,
                               size_t fileSize) {
  const size_t size = 2 * fileSize + defaultText.size() + 256;
  std::vector<wchar_t> buffer(size);
  const DWORD count = GetPrivateProfileStringW(L"Common", key, defaultText.c_str(), buffer.data(),
                                               static_cast<DWORD>(size), path.c_str());
  CHECK(static_cast<size_t>(count) + 2 < size, "the reference read was cut itself");
  return std::wstring(buffer.data());
}

inline std::string Joined(const std::vector<std::string>& items) {
  std::string out;
  for (const auto& item : items) out += (out.empty() ? "" : ", ") + item;
  return "[" + out + "]";
}

// Every handle, key, search, process, array and string is closed again, and
// nothing was released twice or unknown.
inline void CheckLedgerClean(const char* where) {
  const auto open = fake_win32::OpenResources();
  CHECK(open.empty(), std::string(where) + ": still open: " + Joined(open));
  const auto misuses = fake_win32::Misuses();
  CHECK(misuses.empty(), std::string(where) + ": misuse: " + Joined(misuses));
}

// Writes `bytes` as the file at a Windows path of the platform, making the
// folders on the way. False when the path cannot exist on the host.
inline bool WriteWindowsFile(const std::string& windowsPath, const std::string& bytes) {
  const std::string host = fake_win32::HostPath(windowsPath);
  if (host.empty()) return false;
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(host).parent_path(), error);
  std::ofstream file(host, std::ios::binary | std::ios::trunc);
  if (!file) return false;
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(file);
}

inline bool MakeWindowsFolder(const std::string& windowsPath) {
  const std::string host = fake_win32::HostPath(windowsPath);
  if (host.empty()) return false;
  std::error_code error;
  std::filesystem::create_directories(host, error);
  return !error;
}

inline uint32_t Little32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

// What a firmware package holds, read without the product's walker: the
// values of elements 3, 4, ... as far as `capacity` and N - 2 allow, and how
// far the walk may go. An element takes 12 bytes when its length L < 5, else
// 8 + L; its value is the 32-bit word at its offset 4.
struct PackageReading {
  bool countReadable = false;  // the package holds N
  uint32_t count = 0;          // N
  size_t wanted = 0;           // min(N - 2, capacity); 0 when N < 3
  // Values of the wanted elements whose value word lies inside the package,
  // in order, up to the first whose value does not.
  std::vector<uint32_t> readable;
  // How many of the wanted elements (a prefix) lie wholly inside, with
  // elements 1 and 2 wholly inside too.
  size_t whole = 0;
  // Elements 1 and 2 and every wanted element lie wholly inside.
  bool wellFormed = false;
};

inline PackageReading ReadPackage(const uint8_t* package, size_t size, size_t capacity) {
  PackageReading reading;
  if (size < 8) return reading;
  reading.countReadable = true;
  reading.count = Little32(package + 4);
  if (reading.count < 3) {
    reading.wellFormed = true;
    return reading;
  }
  reading.wanted = std::min<size_t>(reading.count - 2u, capacity);
  uint64_t offset = 8;
  bool allWhole = true;  // every element so far lies wholly inside
  auto elementSize = [&](uint64_t at) -> uint64_t {
    const uint32_t length = static_cast<uint32_t>(package[at + 2]) | static_cast<uint32_t>(package[at + 3]) << 8;
    return length < 5 ? 12 : 8 + length;
  };
  for (int skipped = 0; skipped < 2; ++skipped) {
    if (offset + 4 > size) return reading;  // a header outside: nothing after it can be found
    const uint64_t step = elementSize(offset);
    if (offset + step > size) allWhole = false;
    offset += step;
  }
  for (size_t i = 0; i < reading.wanted; ++i) {
    if (offset + 8 > size) break;
    reading.readable.push_back(Little32(package + offset + 4));
    const uint64_t step = elementSize(offset);
    if (offset + step > size) allWhole = false;
    if (allWhole) reading.whole = i + 1;
    offset += step;
  }
  reading.wellFormed = allWhole && reading.readable.size() == reading.wanted;
  return reading;
}

}  // namespace fuzz_support
