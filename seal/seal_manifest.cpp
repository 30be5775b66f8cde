#include "seal/seal_manifest.h"

#include <algorithm>
#include <cstring>

namespace vantu {
namespace {

constexpr BYTE kMagic[4] = {'S', 'E', 'A', 'L'};

bool IsHighSurrogate(uint32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(uint32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

void AppendUtf8(uint32_t c, std::string* out) {
  if (c < 0x80) {
    *out += static_cast<char>(c);
  } else if (c < 0x800) {
    *out += static_cast<char>(0xC0 | c >> 6);
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *out += static_cast<char>(0xE0 | c >> 12);
    *out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | c >> 18);
    *out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
    *out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// UTF-16 code units as UTF-8; a lone surrogate shows as U+FFFD.
std::string UnitsText(const std::vector<uint16_t>& units) {
  std::string out;
  for (size_t i = 0; i < units.size(); ++i) {
    uint32_t c = units[i];
    if (IsHighSurrogate(c) && i + 1 < units.size() && IsLowSurrogate(units[i + 1])) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00u);
      ++i;
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      c = 0xFFFD;
    }
    AppendUtf8(c, &out);
  }
  return out;
}

wchar_t FoldAscii(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

bool LessFolded(const std::wstring& a, const std::wstring& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](wchar_t x, wchar_t y) { return FoldAscii(x) < FoldAscii(y); });
}

bool EqualFolded(const std::wstring& a, const std::wstring& b) { return !LessFolded(a, b) && !LessFolded(b, a); }

// Why `units` is no plain file name; empty when it is one.
std::string NameProblem(const std::vector<uint16_t>& units) {
  for (size_t i = 0; i < units.size(); ++i) {
    const uint32_t c = units[i];
    if (c < 0x20) return "holds the control character " + std::to_string(c);
    if (c < 0x80 && std::strchr("\\/:*?\"<>|", static_cast<int>(c))) {
      return std::string("holds '") + static_cast<char>(c) + "'";
    }
    if (IsHighSurrogate(c) && i + 1 < units.size() && IsLowSurrogate(units[i + 1])) {
      ++i;
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      return "holds a lone surrogate at character " + std::to_string(i + 1);
    }
  }
  if (units.back() == '.' || units.back() == ' ') return "ends in a dot or a blank";
  // The part before the first dot, trailing blanks aside, names a device.
  size_t stem = 0;
  while (stem < units.size() && units[stem] != '.') ++stem;
  while (stem > 0 && units[stem - 1] == ' ') --stem;
  std::string upper;
  for (size_t i = 0; i < stem && upper.size() < 5; ++i) {
    const uint32_t c = units[i];
    if (c >= 0x80) return std::string();
    upper += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  }
  if (stem == 3 && (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL")) {
    return "names the device " + upper;
  }
  if (stem == 4 && (upper.compare(0, 3, "COM") == 0 || upper.compare(0, 3, "LPT") == 0) && upper[3] >= '1' &&
      upper[3] <= '9') {
    return "names the device " + upper;
  }
  return std::string();
}

std::wstring NameFromUnits(const std::vector<uint16_t>& units) {
  std::wstring name;
  name.reserve(units.size());
  for (size_t i = 0; i < units.size(); ++i) {
    if constexpr (sizeof(wchar_t) == 2) {
      name += static_cast<wchar_t>(units[i]);
    } else {
      // Checked well-formed: a high surrogate is followed by a low one.
      uint32_t c = units[i];
      if (IsHighSurrogate(c)) c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00u);
      name += static_cast<wchar_t>(c);
    }
  }
  return name;
}

// Reads forward through the block; every read is checked against its end.
class Cursor {
 public:
  Cursor(const BYTE* data, size_t size) : data_(data), size_(size) {}
  size_t left() const { return size_ - at_; }
  size_t at() const { return at_; }
  bool Has(size_t bytes) const { return bytes <= left(); }
  uint64_t Number(size_t bytes) {
    uint64_t value = 0;
    for (size_t i = 0; i < bytes; ++i) value |= static_cast<uint64_t>(data_[at_ + i]) << (8 * i);
    at_ += bytes;
    return value;
  }
  const BYTE* Take(size_t bytes) {
    const BYTE* start = data_ + at_;
    at_ += bytes;
    return start;
  }

 private:
  const BYTE* data_;
  size_t size_;
  size_t at_ = 0;
};

bool Fail(std::string text, SealManifest* out, std::string* why) {
  *out = SealManifest();
  if (why) *why = std::move(text);
  return false;
}

}  // namespace

const SealEntry* SealManifest::Find(const std::wstring& name) const {
  const auto found =
      std::lower_bound(byName_.begin(), byName_.end(), name,
                       [this](size_t index, const std::wstring& key) { return LessFolded(entries_[index].name, key); });
  if (found == byName_.end() || !EqualFolded(entries_[*found].name, name)) return nullptr;
  return &entries_[*found];
}

bool ParseSealManifest(const BYTE* data, size_t size, SealManifest* out, std::string* why) {
  if (!data) size = 0;
  Cursor cursor(data, size);
  if (!cursor.Has(kSealHeaderBytes)) {
    return Fail("the header needs " + std::to_string(kSealHeaderBytes) + " bytes, the seal has " +
                    std::to_string(size),
                out, why);
  }
  if (std::memcmp(cursor.Take(4), kMagic, sizeof kMagic) != 0) return Fail("no seal manifest (magic)", out, why);
  const uint64_t version = cursor.Number(2);
  if (version != kSealFormatVersion) return Fail("format version " + std::to_string(version) + " unknown", out, why);
  if (cursor.Number(2) != 0) return Fail("reserved field not zero", out, why);
  const uint64_t count = cursor.Number(4);
  if (count > kMaxSealEntries) {
    return Fail(std::to_string(count) + " files, more than " + std::to_string(kMaxSealEntries), out, why);
  }
  // Each entry takes at least its fixed part and one character: a count
  // that cannot fit is refused before anything is reserved for it.
  if (count > cursor.left() / (kSealEntryFixedBytes + 2)) {
    return Fail(std::to_string(count) + " files cannot fit in the " + std::to_string(cursor.left()) +
                    " bytes after the header",
                out, why);
  }
  SealManifest manifest;
  manifest.entries_.reserve(static_cast<size_t>(count));
  std::vector<uint16_t> units;
  for (uint64_t i = 0; i < count; ++i) {
    const std::string which = "file " + std::to_string(i + 1) + " of " + std::to_string(count);
    if (!cursor.Has(2)) return Fail(which + ": cut short at byte " + std::to_string(cursor.at()), out, why);
    const size_t length = static_cast<size_t>(cursor.Number(2));
    if (length == 0) return Fail(which + ": empty name", out, why);
    if (length > kMaxSealNameUnits) {
      return Fail(which + ": name of " + std::to_string(length) + " characters, more than " +
                      std::to_string(kMaxSealNameUnits),
                  out, why);
    }
    if (!cursor.Has(2 * length + 8 + kSha256Bytes)) {
      return Fail(which + ": runs past the end of the seal (" + std::to_string(cursor.left()) + " bytes left)", out,
                  why);
    }
    units.resize(length);
    for (auto& unit : units) unit = static_cast<uint16_t>(cursor.Number(2));
    const std::string problem = NameProblem(units);
    if (!problem.empty()) return Fail(which + ": the name \"" + UnitsText(units) + "\" " + problem, out, why);
    SealEntry entry;
    entry.name = NameFromUnits(units);
    entry.size = cursor.Number(8);
    std::memcpy(entry.digest.data(), cursor.Take(kSha256Bytes), kSha256Bytes);
    manifest.entries_.push_back(std::move(entry));
  }
  if (cursor.left() != 0) {
    return Fail(std::to_string(cursor.left()) + " bytes after the last file", out, why);
  }
  auto& byName = manifest.byName_;
  byName.resize(manifest.entries_.size());
  for (size_t i = 0; i < byName.size(); ++i) byName[i] = i;
  const auto& entries = manifest.entries_;
  std::stable_sort(byName.begin(), byName.end(),
                   [&entries](size_t a, size_t b) { return LessFolded(entries[a].name, entries[b].name); });
  for (size_t i = 1; i < byName.size(); ++i) {
    if (EqualFolded(entries[byName[i - 1]].name, entries[byName[i]].name)) {
      return Fail("files " + std::to_string(byName[i - 1] + 1) + " and " + std::to_string(byName[i] + 1) +
                      " have the same name, \"" + SealNameText(entries[byName[i]].name) + "\", ignoring case",
                  out, why);
    }
  }
  *out = std::move(manifest);
  if (why) why->clear();
  return true;
}

std::string SealNameText(const std::wstring& name) {
  if constexpr (sizeof(wchar_t) == 2) {
    std::vector<uint16_t> units(name.begin(), name.end());
    return UnitsText(units);
  } else {
    std::string out;
    for (const wchar_t c : name) {
      const auto point = static_cast<uint32_t>(c);
      AppendUtf8(point > 0x10FFFF || IsHighSurrogate(point) || IsLowSurrogate(point) ? 0xFFFD : point, &out);
    }
    return out;
  }
}

}  // namespace vantu
