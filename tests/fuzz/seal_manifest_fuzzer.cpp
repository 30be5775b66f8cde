// The seal's manifest parser on arbitrary bytes. The bytes are copied into
// a block exactly as large as they are, so AddressSanitizer sees any read
// beyond it. The parser must
//   - agree with an independent reading of the format here on whether the
//     bytes are a manifest;
//   - when it refuses, say why and leave no entries;
//   - when it accepts, give entries that written out again are the input
//     byte for byte (no byte ignored, none invented), find each entry by its
//     name and by the name with its ASCII letters' case swapped, and refuse
//     the input without its last byte.
//
// Input: the manifest's bytes as they are.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "seal/seal_manifest.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

uint64_t Little(const uint8_t* at, int bytes) {
  uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = value << 8 | at[i];
  return value;
}

char16_t UpperAscii(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

// The name rules, read off the format's description.
bool PlainName(const std::u16string& name) {
  if (name.empty() || name.size() > 255) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    const char16_t c = name[i];
    if (c < 32 || std::u16string(u"\\/:*?\"<>|").find(c) != std::u16string::npos) return false;
    const bool high = c >= 0xD800 && c < 0xDC00;
    const bool low = c >= 0xDC00 && c < 0xE000;
    if (low) return false;
    if (high) {
      if (i + 1 == name.size() || name[i + 1] < 0xDC00 || name[i + 1] >= 0xE000) return false;
      ++i;
    }
  }
  if (name.back() == u'.' || name.back() == u' ') return false;
  std::u16string stem = name.substr(0, name.find(u'.'));
  while (!stem.empty() && stem.back() == u' ') stem.pop_back();
  for (auto& c : stem) c = UpperAscii(c);
  static const std::set<std::u16string> devices = {
      u"CON",  u"PRN",  u"AUX",  u"NUL",  u"COM1", u"COM2", u"COM3", u"COM4", u"COM5", u"COM6", u"COM7",
      u"COM8", u"COM9", u"LPT1", u"LPT2", u"LPT3", u"LPT4", u"LPT5", u"LPT6", u"LPT7", u"LPT8", u"LPT9"};
  return devices.count(stem) == 0;
}

// Whether the bytes are a manifest, by a reading of its own.
bool ReferenceAccepts(const uint8_t* data, size_t size) {
  if (size < 12 || std::memcmp(data, "SEAL", 4) != 0 || Little(data + 4, 2) != 1 || Little(data + 6, 2) != 0) {
    return false;
  }
  const uint64_t count = Little(data + 8, 4);
  if (count > 100000) return false;
  size_t at = 12;
  std::set<std::u16string> folded;
  for (uint64_t i = 0; i < count; ++i) {
    if (size - at < 2) return false;
    const size_t length = static_cast<size_t>(Little(data + at, 2));
    at += 2;
    if (size - at < 2 * length + 40) return false;
    std::u16string name;
    for (size_t j = 0; j < length; ++j) name += static_cast<char16_t>(Little(data + at + 2 * j, 2));
    at += 2 * length + 40;
    if (!PlainName(name)) return false;
    std::u16string key = name;
    for (auto& c : key) c = UpperAscii(c);
    if (!folded.insert(key).second) return false;
  }
  return at == size;
}

// The manifest of `manifest`'s entries, written out as the format says.
std::string Written(const vantu::SealManifest& manifest) {
  std::string out = "SEAL";
  auto number = [&out](uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>(value >> (8 * i) & 0xFF);
  };
  number(1, 2);
  number(0, 2);
  number(manifest.entries().size(), 4);
  for (const auto& entry : manifest.entries()) {
    std::u16string units;
    for (const wchar_t c : entry.name) {
      const auto point = static_cast<uint32_t>(c);
      if (point > 0xFFFF) {
        units += static_cast<char16_t>(0xD800 + ((point - 0x10000) >> 10));
        units += static_cast<char16_t>(0xDC00 + ((point - 0x10000) & 0x3FF));
      } else {
        units += static_cast<char16_t>(point);
      }
    }
    number(units.size(), 2);
    for (const char16_t unit : units) number(unit, 2);
    number(entry.size, 8);
    out.append(reinterpret_cast<const char*>(entry.digest.data()), entry.digest.size());
  }
  return out;
}

std::wstring CaseSwapped(const std::wstring& name) {
  std::wstring out = name;
  for (auto& c : out) {
    if (c >= L'a' && c <= L'z') {
      c = static_cast<wchar_t>(c - 32);
    } else if (c >= L'A' && c <= L'Z') {
      c = static_cast<wchar_t>(c + 32);
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::unique_ptr<BYTE[]> block(new BYTE[size ? size : 1]);
  if (size) std::memcpy(block.get(), data, size);
  const std::string input(reinterpret_cast<const char*>(data), size);

  vantu::SealManifest manifest;
  std::string why;
  const bool accepted = vantu::ParseSealManifest(block.get(), size, &manifest, &why);
  const bool expected = ReferenceAccepts(data, size);
  CHECK(accepted == expected, std::string(accepted ? "accepted" : "refused (" + why + ")") + ": " +
                                  fuzz_support::Shown(input));
  if (!accepted) {
    CHECK(!why.empty(), "refused without a reason: " + fuzz_support::Shown(input));
    CHECK(manifest.entries().empty(), "refused, yet entries left: " + fuzz_support::Shown(input));
    return 0;
  }
  CHECK(why.empty(), "accepted with a reason: " + why);
  CHECK(Written(manifest) == input, "written out again, the entries differ from the input: " +
                                        fuzz_support::Shown(input));
  for (const auto& entry : manifest.entries()) {
    CHECK(manifest.Find(entry.name) == &entry, "not found by its name: " + vantu::SealNameText(entry.name));
    CHECK(manifest.Find(CaseSwapped(entry.name)) == &entry,
          "not found by its name in another case: " + vantu::SealNameText(entry.name));
  }
  vantu::SealManifest shorter;
  CHECK(!vantu::ParseSealManifest(block.get(), size - 1, &shorter, &why),
        "accepted without its last byte: " + fuzz_support::Shown(input));
  return 0;
}
