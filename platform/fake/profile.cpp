// Profile strings, parsed the way Wine's kernel32 parses INI files: lines
// end at any run of '\r' and '\n', blanks are trimmed at both ends of a line;
// a section header is '[' up to the last ']' on its line, its name trimmed;
// a key is the text before the first '=' (trimmed), the value the rest; a line
// without '=' is a key without value, which reads as missing. Only the first
// section of a name is searched, and in it the first key of a name; names
// compare without case. A value quoted at both ends with the same quote loses
// the quotes. The file is read afresh at every call: Wine rereads a file
// whose time changed, so its cache is not visible. A file is read as UTF-16
// or UTF-8 after a byte-order mark, and in the ANSI code page without one;
// the A functions answer in the ANSI code page, the W functions in wide
// characters. Sizes and counts are in the answer's characters.
#include <algorithm>
#include <cstring>
#include <string>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>

#include "fake_win32/control.h"
#include "files.h"
#include "internal.h"

namespace fake_win32 {
namespace {

using internal::Enter;
using internal::Num;
using internal::Ptr;
using internal::Text;

struct Entry {
  std::string name;
  std::optional<std::string> value;
};

struct Section {
  std::string name;
  std::vector<Entry> entries;
};

using Profile = std::vector<Section>;  // the first section holds keys before any header

bool IsBlank(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= 0x09 && u <= 0x0D) || u == 0x1A || u == 0x20;
}

void Trim(const char** start, const char** stop) {
  while (*start < *stop && IsBlank(**start)) ++*start;
  while (*stop > *start && IsBlank((*stop)[-1])) --*stop;
}

// Names and values end at an embedded NUL, as C strings do.
std::string CString(const char* begin, const char* end) {
  const void* nul = std::memchr(begin, '\0', static_cast<size_t>(end - begin));
  return std::string(begin, nul ? static_cast<const char*>(nul) : end);
}

// The file's text in UTF-8: after a byte-order mark as it says (UTF-16
// little- or big-endian, UTF-8), else in the ANSI code page.
std::string Decode(const std::string& raw) {
  if (raw.size() >= 3 && raw.compare(0, 3, "\xEF\xBB\xBF") == 0) return raw.substr(3);
  const bool littleEndian = raw.size() >= 2 && raw[0] == '\xFF' && raw[1] == '\xFE';
  const bool bigEndian = raw.size() >= 2 && raw[0] == '\xFE' && raw[1] == '\xFF';
  if (!littleEndian && !bigEndian) {
    // ASCII reads the same in every code page and in UTF-8.
    if (std::all_of(raw.begin(), raw.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
      return raw;
    }
    // An embedded NUL ends nothing here: the parser cuts names and values
    // at it, as the platform does.
    std::string out;
    size_t start = 0;
    while (start <= raw.size()) {
      const size_t nul = raw.find('\0', start);
      const std::string piece = raw.substr(start, nul == std::string::npos ? std::string::npos : nul - start);
      out += internal::Utf8FromAnsi(piece.c_str());
      if (nul == std::string::npos) break;
      out += '\0';
      start = nul + 1;
    }
    return out;
  }
  std::wstring wide;
  for (size_t i = 2; i + 1 < raw.size(); i += 2) {
    const auto lo = static_cast<unsigned char>(raw[littleEndian ? i : i + 1]);
    const auto hi = static_cast<unsigned char>(raw[littleEndian ? i + 1 : i]);
    uint32_t unit = static_cast<uint32_t>(hi << 8 | lo);
    // A surrogate pair is one character.
    if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < raw.size()) {
      const auto lo2 = static_cast<unsigned char>(raw[littleEndian ? i + 2 : i + 3]);
      const auto hi2 = static_cast<unsigned char>(raw[littleEndian ? i + 3 : i + 2]);
      const uint32_t low = static_cast<uint32_t>(hi2 << 8 | lo2);
      if (low >= 0xDC00 && low < 0xE000) {
        unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
    }
    wide += static_cast<wchar_t>(unit);
  }
  return internal::Utf8FromWide(wide);
}

}  // namespace

namespace internal {

Profile ParseProfile(const std::string& raw) {
  const std::string text = Decode(raw);
  Profile profile(1);
  const char* next = text.data();
  const char* const end = text.data() + text.size();
  const Entry* previous = nullptr;
  while (next < end) {
    const char* start = next;
    while (next < end && *next != '\n' && *next != '\r') ++next;
    const char* stop = next;
    while (next < end && (*next == '\n' || *next == '\r')) ++next;
    Trim(&start, &stop);
    if (start >= stop) continue;
    if (*start == '[') {
      const char* close = nullptr;
      for (const char* p = stop; p > start; --p) {
        if (p[-1] == ']') {
          close = p - 1;
          break;
        }
      }
      if (close) {
        const char* nameStart = start + 1;
        const char* nameEnd = close;
        Trim(&nameStart, &nameEnd);
        profile.push_back(Section{CString(nameStart, nameEnd), {}});
        previous = nullptr;
        continue;
      }
    }
    const char* nameEnd = stop;
    std::optional<std::string> value;
    const char* equals = static_cast<const char*>(std::memchr(start, '=', static_cast<size_t>(stop - start)));
    if (equals) {
      nameEnd = equals;
      while (nameEnd > start && IsBlank(nameEnd[-1])) --nameEnd;
      const char* valueStart = equals + 1;
      while (valueStart < stop && IsBlank(*valueStart)) ++valueStart;
      value = CString(valueStart, stop);
    }
    // Consecutive entries without a name collapse into one.
    if (nameEnd > start || !previous || !previous->name.empty()) {
      profile.back().entries.push_back(Entry{CString(start, nameEnd), value});
      previous = &profile.back().entries.back();
    }
  }
  return profile;
}

void ResetProfiles() {}

}  // namespace internal

namespace {

std::string Trimmed(const char* text) {
  const char* start = text;
  const char* stop = text + std::strlen(text);
  Trim(&start, &stop);
  return std::string(start, stop);
}

// The file that a profile name stands for: a bare name is looked up in the
// Windows folder, anything else is resolved as a path.
bool ProfilePath(const std::optional<std::string>& fileName, internal::ResolvedPath* out) {
  std::string name = fileName.value_or("win.ini");
  const bool bare = name.find_first_of("\\/:") == std::string::npos;
  if (bare) name = "C:\\windows\\" + name;
  return internal::Resolve(name, out);
}

// The file as it is now, parsed. The last file parsed is kept with its
// bytes and the code page it was read in, so that a file read again
// unchanged (every setting read, every step of a growing buffer) is not
// decoded and parsed again; any change of a byte parses it afresh.
const Profile& Load(const internal::ResolvedPath& path) {
  static std::string cachedRaw;
  static UINT cachedCodePage = 0;
  static Profile cached;
  static bool filled = false;
  std::ifstream file(path.host, std::ios::binary | std::ios::ate);
  std::string raw;
  if (file) {
    const std::streamoff size = file.tellg();
    if (size > 0) {
      raw.resize(static_cast<size_t>(size));
      file.seekg(0);
      file.read(&raw[0], size);
      raw.resize(static_cast<size_t>(file.gcount()));
    }
  }
  if (!filled || raw != cachedRaw || cachedCodePage != AnsiCodePage()) {
    cached = internal::ParseProfile(raw);
    cachedRaw = std::move(raw);
    cachedCodePage = AnsiCodePage();
    filled = true;
  }
  return cached;
}

// A UTF-8 text in the answer's encoding.
std::wstring Encoded(const std::string& utf8, wchar_t*) { return internal::WideFromUtf8(utf8); }

// Copies a value the way Wine does: a value quoted at both ends loses its
// quotes; the copy is cut to size - 1 characters.
template <typename Char>
void CopyEntry(Char* buffer, const std::string& utf8, DWORD size) {
  std::basic_string<Char> text = Encoded(utf8, buffer);
  bool quoted = false;
  if (!text.empty() && (text[0] == '\'' || text[0] == '"') && text.size() > 1 && text.back() == text[0]) {
    text.erase(0, 1);
    quoted = true;
  }
  const size_t copied = std::min<size_t>(text.size(), size - 1);
  std::copy(text.data(), text.data() + copied, buffer);
  buffer[copied] = Char(0);
  if (quoted && size >= text.size() && copied > 0) buffer[copied - 1] = Char(0);
}

template <typename Char>
DWORD KeyList(const Section& section, Char* buffer, DWORD size) {
  DWORD left = size;
  Char* out = buffer;
  for (const auto& entry : section.entries) {
    if (left <= 2) break;
    if ((entry.name.empty() && !entry.value) || (!entry.name.empty() && entry.name[0] == ';') || !entry.value) {
      continue;
    }
    const std::basic_string<Char> name = Encoded(entry.name, buffer);
    const size_t copied = std::min<size_t>(name.size(), left - 2);
    std::copy(name.data(), name.data() + copied, out);
    out[copied] = Char(0);
    left -= static_cast<DWORD>(copied + 1);
    out += copied + 1;
    if (left < 2) break;
  }
  *out = Char(0);
  if (left <= 1) {
    out[-1] = Char(0);
    return size - 2;
  }
  return size - left;
}

}  // namespace

}  // namespace fake_win32

using namespace fake_win32;

namespace fake_win32 {
namespace {

template <typename Char>
size_t Length(const Char* text) {
  return std::char_traits<Char>::length(text);
}

// GetPrivateProfileString of either form; the section, key, default text
// and file name are UTF-8 here (null when not given).
template <typename Char>
DWORD ReadProfile(const std::optional<std::string>& section, const std::optional<std::string>& key,
                  const std::optional<std::string>& defaultText, Char* returned, DWORD size,
                  const std::optional<std::string>& fileName, std::optional<uint32_t> fault) {
  if (!returned || size == 0) return 0;
  std::string fallback = defaultText.value_or("");
  while (!fallback.empty() && fallback.back() == ' ') fallback.pop_back();
  internal::ResolvedPath path;
  if (fault || !ProfilePath(fileName, &path)) {
    // The profile cannot be read: the default, as for a missing file.
    CopyEntry(returned, fallback, size);
    if (fault) SetLastError(*fault);
    return static_cast<DWORD>(Length(returned));
  }
  const Profile& profile = Load(path);
  if (!section) {
    // The section names.
    DWORD left = size - 1;
    Char* out = returned;
    for (const auto& s : profile) {
      if (s.name.empty()) continue;
      const std::basic_string<Char> name = Encoded(s.name, returned);
      const auto length = static_cast<DWORD>(name.size() + 1);
      if (length >= left) {
        if (left > 0) {
          std::copy(name.data(), name.data() + left - 1, out);
          out += left - 1;
          *out++ = Char(0);
        }
        *out = Char(0);
        return size - 2;
      }
      std::copy(name.c_str(), name.c_str() + length, out);
      out += length;
      left -= length;
    }
    *out = Char(0);
    return static_cast<DWORD>(out - returned);
  }
  if (!key) {
    const Section* listed = nullptr;
    for (const auto& s : profile) {
      if (internal::EqualsNoCase(s.name, *section)) {
        listed = &s;
        break;
      }
    }
    DWORD count = 0;
    returned[0] = Char(0);
    if (listed && size > 1) count = KeyList(*listed, returned, size);
    if (!returned[0]) {
      CopyEntry(returned, fallback, size);
      count = static_cast<DWORD>(Length(returned));
    }
    return count;
  }
  const std::string wantedSection = Trimmed(section->c_str());
  const Section* found = nullptr;
  for (const auto& s : profile) {
    if (internal::EqualsNoCase(s.name, wantedSection)) {
      found = &s;
      break;
    }
  }
  const std::string wantedKey = Trimmed(key->c_str());
  const std::string* value = nullptr;
  if (found) {
    for (const auto& entry : found->entries) {
      if (internal::EqualsNoCase(entry.name, wantedKey)) {
        if (entry.value) value = &*entry.value;
        break;
      }
    }
  }
  CopyEntry(returned, value ? *value : fallback, size);
  return static_cast<DWORD>(Length(returned));
}

std::optional<std::string> FromWide(const wchar_t* text) {
  return text ? std::optional<std::string>(internal::Text(text)) : std::nullopt;
}

BOOL WriteProfile(bool flushOnly) {
  if (flushOnly) {
    // Flush of the platform's cached copy: nothing is written, and the
    // platform reports FALSE for this form.
    return FALSE;
  }
  // Writing values is not part of this subset.
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}

}  // namespace
}  // namespace fake_win32

using namespace fake_win32;

DWORD WINAPI GetPrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR defaultText, LPWSTR returned,
                                      DWORD size, LPCWSTR fileName) {
  auto fault = Enter("GetPrivateProfileStringW",
                     {Text(section), Text(key), Text(defaultText), Ptr(returned), Num(size), Text(fileName)});
  return ReadProfile(FromWide(section), FromWide(key), FromWide(defaultText), returned, size, FromWide(fileName),
                     fault);
}

BOOL WINAPI WritePrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR text, LPCWSTR fileName) {
  if (auto fault = Enter("WritePrivateProfileStringW", {Text(section), Text(key), Text(text), Text(fileName)})) {
    SetLastError(*fault);
    return FALSE;
  }
  return WriteProfile(!section && !key && !text);
}
