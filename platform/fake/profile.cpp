// Profile strings, parsed the way Wine's kernel32 parses INI files: lines
// end at any run of '\r' and '\n', blanks are trimmed at both ends of a line;
// a section header is '[' up to the last ']' on its line, its name trimmed;
// a key is the text before the first '=' (trimmed), the value the rest; a line
// without '=' is a key without value, which reads as missing. Only the first
// section of a name is searched, and in it the first key of a name; names
// compare without case. A value quoted at both ends with the same quote loses
// the quotes. The file is read afresh at every call: Wine rereads a file
// whose time changed, so its cache is not visible.
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>

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

// Text after a byte-order mark, narrowed to single bytes.
std::string Decode(const std::string& raw) {
  if (raw.size() >= 3 && raw.compare(0, 3, "\xEF\xBB\xBF") == 0) return raw.substr(3);
  const bool littleEndian = raw.size() >= 2 && raw[0] == '\xFF' && raw[1] == '\xFE';
  const bool bigEndian = raw.size() >= 2 && raw[0] == '\xFE' && raw[1] == '\xFF';
  if (!littleEndian && !bigEndian) return raw;
  std::string out;
  for (size_t i = 2; i + 1 < raw.size(); i += 2) {
    const auto lo = static_cast<unsigned char>(raw[littleEndian ? i : i + 1]);
    const auto hi = static_cast<unsigned char>(raw[littleEndian ? i + 1 : i]);
    out += hi ? '?' : static_cast<char>(lo);
  }
  return out;
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
bool ProfilePath(const char* fileName, internal::ResolvedPath* out) {
  std::string name = fileName ? fileName : "win.ini";
  const bool bare = name.find_first_of("\\/:") == std::string::npos;
  if (bare) name = "C:\\windows\\" + name;
  return internal::Resolve(name, out);
}

Profile Load(const internal::ResolvedPath& path) {
  std::ifstream file(path.host, std::ios::binary);
  std::string raw;
  if (file) raw.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  return internal::ParseProfile(raw);
}

// Copies a value the way Wine does: a value quoted at both ends loses its
// quotes; the copy is cut to size - 1 characters.
void CopyEntry(char* buffer, const std::string& value, DWORD size) {
  std::string text = value;
  bool quoted = false;
  if (!text.empty() && (text[0] == '\'' || text[0] == '"') && text.size() > 1 && text.back() == text[0]) {
    text.erase(0, 1);
    quoted = true;
  }
  const size_t copied = std::min<size_t>(text.size(), size - 1);
  std::memcpy(buffer, text.data(), copied);
  buffer[copied] = '\0';
  if (quoted && size >= text.size() && copied > 0) buffer[copied - 1] = '\0';
}

DWORD KeyList(const Section& section, char* buffer, DWORD size) {
  DWORD left = size;
  char* out = buffer;
  for (const auto& entry : section.entries) {
    if (left <= 2) break;
    if ((entry.name.empty() && !entry.value) || (!entry.name.empty() && entry.name[0] == ';') || !entry.value) {
      continue;
    }
    const size_t copied = std::min<size_t>(entry.name.size(), left - 2);
    std::memcpy(out, entry.name.data(), copied);
    out[copied] = '\0';
    left -= static_cast<DWORD>(copied + 1);
    out += copied + 1;
    if (left < 2) break;
  }
  *out = '\0';
  if (left <= 1) {
    out[-1] = '\0';
    return size - 2;
  }
  return size - left;
}

}  // namespace

}  // namespace fake_win32

using namespace fake_win32;

DWORD WINAPI GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultText, LPSTR returned, DWORD size,
                                      LPCSTR fileName) {
  auto fault = Enter("GetPrivateProfileStringA",
                     {Text(section), Text(key), Text(defaultText), Ptr(returned), Num(size), Text(fileName)});
  if (!returned || size == 0) return 0;
  std::string fallback = defaultText ? defaultText : "";
  while (!fallback.empty() && fallback.back() == ' ') fallback.pop_back();
  internal::ResolvedPath path;
  if (fault || !ProfilePath(fileName, &path)) {
    // The profile cannot be read: the default, as for a missing file.
    CopyEntry(returned, fallback, size);
    if (fault) SetLastError(*fault);
    return static_cast<DWORD>(std::strlen(returned));
  }
  const Profile profile = Load(path);
  if (!section) {
    // The section names.
    DWORD left = size - 1;
    char* out = returned;
    for (const auto& s : profile) {
      if (s.name.empty()) continue;
      const auto length = static_cast<DWORD>(s.name.size() + 1);
      if (length >= left) {
        if (left > 0) {
          std::memcpy(out, s.name.data(), left - 1);
          out += left - 1;
          *out++ = '\0';
        }
        *out = '\0';
        return size - 2;
      }
      std::memcpy(out, s.name.c_str(), length);
      out += length;
      left -= length;
    }
    *out = '\0';
    return static_cast<DWORD>(out - returned);
  }
  if (!key) {
    const Section* listed = nullptr;
    for (const auto& s : profile) {
      if (internal::EqualsNoCase(s.name, section)) {
        listed = &s;
        break;
      }
    }
    DWORD count = 0;
    returned[0] = '\0';
    if (listed && size > 1) count = KeyList(*listed, returned, size);
    if (!returned[0]) {
      CopyEntry(returned, fallback, size);
      count = static_cast<DWORD>(std::strlen(returned));
    }
    return count;
  }
  const std::string wantedSection = Trimmed(section);
  const Section* found = nullptr;
  for (const auto& s : profile) {
    if (internal::EqualsNoCase(s.name, wantedSection)) {
      found = &s;
      break;
    }
  }
  const std::string wantedKey = Trimmed(key);
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
  return static_cast<DWORD>(std::strlen(returned));
}

BOOL WINAPI WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR text, LPCSTR fileName) {
  if (auto fault = Enter("WritePrivateProfileStringA", {Text(section), Text(key), Text(text), Text(fileName)})) {
    SetLastError(*fault);
    return FALSE;
  }
  if (!section && !key && !text) {
    // Flush of the platform's cached copy: nothing is written, and the
    // platform reports FALSE for this form.
    return FALSE;
  }
  // Writing values is not part of this subset.
  SetLastError(ERROR_INVALID_PARAMETER);
  return FALSE;
}
