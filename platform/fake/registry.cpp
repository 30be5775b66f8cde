// Registry: a tree of keys below the predefined roots. Values keep their type
// and raw bytes exactly as they were set, so a string without terminator or a
// number stored under a string's name can be set up. A string value set
// through a W function is kept as UTF-16LE, as Windows keeps every string
// value, and read back through an A function in the ANSI code page (and the
// other way round). Names are kept in UTF-8. One view only: the 32-bit and
// 64-bit views are the same tree here.
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "internal.h"

namespace fake_win32 {
namespace {

using internal::Enter;
using internal::Hex;
using internal::Num;
using internal::Ptr;
using internal::Text;

struct Value {
  std::string name;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
  bool utf16 = false;  // a string value set through a W function: UTF-16LE
};

bool IsString(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// UTF-16LE bytes as code points (a surrogate pair is one), and back.
std::wstring FromUtf16(const std::vector<BYTE>& bytes) {
  std::wstring out;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    uint32_t unit = static_cast<uint32_t>(bytes[i] | bytes[i + 1] << 8);
    if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < bytes.size()) {
      const uint32_t low = static_cast<uint32_t>(bytes[i + 2] | bytes[i + 3] << 8);
      if (low >= 0xDC00 && low < 0xE000) {
        unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
    }
    out += static_cast<wchar_t>(unit);
  }
  return out;
}

std::vector<BYTE> ToUtf16(const std::wstring& text) {
  std::vector<BYTE> out;
  auto put = [&out](uint32_t unit) {
    out.push_back(static_cast<BYTE>(unit & 0xFF));
    out.push_back(static_cast<BYTE>(unit >> 8));
  };
  for (const wchar_t c : text) {
    const auto code = static_cast<uint32_t>(c);
    if (code >= 0x10000) {
      put(0xD800 + ((code - 0x10000) >> 10));
      put(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      put(code);
    }
  }
  return out;
}

// Text that may hold zeros (a multi-string, a terminator), between the ANSI
// code page and wide characters, zeros kept.
std::wstring WideFromAnsiBytes(const std::vector<BYTE>& bytes) {
  std::wstring out;
  std::string piece;
  for (const BYTE b : bytes) {
    if (b == 0) {
      out += internal::WideFromUtf8(internal::Utf8FromAnsi(piece.c_str()));
      out += L'\0';
      piece.clear();
    } else {
      piece += static_cast<char>(b);
    }
  }
  out += internal::WideFromUtf8(internal::Utf8FromAnsi(piece.c_str()));
  return out;
}

std::vector<BYTE> AnsiBytesFromWide(const std::wstring& text) {
  const std::string ansi = internal::AnsiFromUtf8(internal::Utf8FromWide(text));
  return std::vector<BYTE>(ansi.begin(), ansi.end());
}

// The value's data as an A function reads it.
std::vector<BYTE> AnsiData(const Value& value) {
  return value.utf16 ? AnsiBytesFromWide(FromUtf16(value.data)) : value.data;
}

// ... and as a W function reads it: wide characters of the host.
std::vector<BYTE> WideData(const Value& value) {
  if (!IsString(value.type)) return value.data;
  const std::wstring text = value.utf16 ? FromUtf16(value.data) : WideFromAnsiBytes(value.data);
  const auto* begin = reinterpret_cast<const BYTE*>(text.data());
  return std::vector<BYTE>(begin, begin + text.size() * sizeof(wchar_t));
}

struct Key {
  std::map<std::string, std::shared_ptr<Key>, internal::LessNoCase> subKeys;
  std::vector<Value> values;
  bool deleted = false;
};

struct OpenKey {
  std::shared_ptr<Key> key;
  REGSAM access;
};

struct RegistryState {
  std::map<uintptr_t, std::shared_ptr<Key>> roots;
  std::map<uintptr_t, OpenKey> handles;
};

RegistryState& State() {
  static RegistryState state;
  return state;
}

bool IsPredefined(HKEY key) {
  const auto value = reinterpret_cast<uintptr_t>(key);
  return value >= 0x80000000u && value <= 0x80000006u;
}

// Finds the key behind a handle; null with the error to return otherwise.
std::shared_ptr<Key> Resolve(HKEY handle, REGSAM* access, LSTATUS* error) {
  auto& state = State();
  const auto value = reinterpret_cast<uintptr_t>(handle);
  if (IsPredefined(handle)) {
    auto& root = state.roots[value];
    if (!root) root = std::make_shared<Key>();
    if (access) *access = KEY_ALL_ACCESS;
    return root;
  }
  auto it = state.handles.find(value);
  if (it == state.handles.end()) {
    *error = ERROR_INVALID_HANDLE;
    return nullptr;
  }
  if (it->second.key->deleted) {
    *error = 1018;  // ERROR_KEY_DELETED
    return nullptr;
  }
  if (access) *access = it->second.access;
  return it->second.key;
}

// Splits a subkey path at backslashes. A trailing backslash is allowed; a
// leading one, or an empty component inside, is a bad path.
bool SplitPath(const char* path, std::vector<std::string>* parts) {
  parts->clear();
  if (!path || !*path) return true;
  std::string text(path);
  if (text.front() == '\\') return false;
  if (text.back() == '\\') text.pop_back();
  size_t start = 0;
  while (start <= text.size()) {
    const size_t end = text.find('\\', start);
    const std::string part = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (part.empty() || part.size() > 255) return false;
    parts->push_back(part);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return true;
}

HKEY NewHandle(const std::shared_ptr<Key>& key, REGSAM access) {
  const uintptr_t value = internal::NewHandleValue();
  State().handles[value] = OpenKey{key, access};
  HKEY handle = reinterpret_cast<HKEY>(value);
  internal::Opened("key", handle);
  return handle;
}

Value* FindValue(Key& key, const std::optional<std::string>& name) {
  const std::string wanted = name.value_or("");
  for (auto& value : key.values) {
    if (internal::EqualsNoCase(value.name, wanted)) return &value;
  }
  return nullptr;
}

void MarkDeleted(Key& key) {
  key.deleted = true;
  for (auto& [name, sub] : key.subKeys) MarkDeleted(*sub);
}

}  // namespace

namespace internal {
void ResetRegistry() {
  State().roots.clear();
  State().handles.clear();
}
}  // namespace internal

}  // namespace fake_win32

using namespace fake_win32;

namespace fake_win32 {
namespace {

// The shared implementations take names and paths in UTF-8 (null when not
// given).
using Name = std::optional<std::string>;

Name FromAnsi(const char* text) { return text ? Name(internal::Utf8FromAnsi(text)) : std::nullopt; }
Name FromWide(const wchar_t* text) { return text ? Name(internal::Text(text)) : std::nullopt; }

LSTATUS OpenKey(HKEY key, const Name& subKey, REGSAM sam, PHKEY result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  LSTATUS error = ERROR_SUCCESS;
  auto current = Resolve(key, nullptr, &error);
  if (!current) return error;
  std::vector<std::string> parts;
  if (!SplitPath(subKey ? subKey->c_str() : nullptr, &parts)) return ERROR_BAD_PATHNAME;
  for (const auto& part : parts) {
    auto it = current->subKeys.find(part);
    if (it == current->subKeys.end()) return ERROR_FILE_NOT_FOUND;
    current = it->second;
  }
  *result = NewHandle(current, sam);
  return ERROR_SUCCESS;
}

LSTATUS CreateKey(HKEY key, const Name& subKey, REGSAM sam, PHKEY result, LPDWORD disposition) {
  if (!result) return ERROR_INVALID_PARAMETER;
  LSTATUS error = ERROR_SUCCESS;
  auto current = Resolve(key, nullptr, &error);
  if (!current) return error;
  std::vector<std::string> parts;
  if (!SplitPath(subKey ? subKey->c_str() : nullptr, &parts)) return ERROR_BAD_PATHNAME;
  DWORD outcome = REG_OPENED_EXISTING_KEY;
  for (const auto& part : parts) {
    auto& slot = current->subKeys[part];
    if (!slot) {
      slot = std::make_shared<Key>();
      outcome = REG_CREATED_NEW_KEY;
    }
    current = slot;
  }
  *result = NewHandle(current, sam);
  if (disposition) *disposition = outcome;
  return ERROR_SUCCESS;
}

// Name lengths in the caller's characters: `wide` for the W form.
LSTATUS QueryInfo(HKEY key, bool wide, LPDWORD classLength, LPDWORD subKeys, LPDWORD maxSubKeyLength,
                  LPDWORD maxClassLength, LPDWORD values, LPDWORD maxValueNameLength, LPDWORD maxValueLength,
                  LPDWORD securityDescriptor, PFILETIME lastWriteTime) {
  LSTATUS error = ERROR_SUCCESS;
  REGSAM access = 0;
  auto current = Resolve(key, &access, &error);
  if (!current) return error;
  if (!(access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  auto length = [wide](const std::string& name) {
    return static_cast<DWORD>(wide ? internal::WideFromUtf8(name).size() : internal::AnsiFromUtf8(name).size());
  };
  DWORD longestSubKey = 0;
  for (const auto& [name, sub] : current->subKeys) longestSubKey = std::max<DWORD>(longestSubKey, length(name));
  DWORD longestName = 0;
  DWORD longestData = 0;
  for (const auto& value : current->values) {
    longestName = std::max<DWORD>(longestName, length(value.name));
    longestData = std::max<DWORD>(
        longestData, static_cast<DWORD>(wide ? WideData(value).size() : AnsiData(value).size()));
  }
  if (classLength) *classLength = 0;
  if (subKeys) *subKeys = static_cast<DWORD>(current->subKeys.size());
  if (maxSubKeyLength) *maxSubKeyLength = longestSubKey;
  if (maxClassLength) *maxClassLength = 0;
  if (values) *values = static_cast<DWORD>(current->values.size());
  if (maxValueNameLength) *maxValueNameLength = longestName;
  if (maxValueLength) *maxValueLength = longestData;
  if (securityDescriptor) *securityDescriptor = 0;
  if (lastWriteTime) *lastWriteTime = FILETIME{0, 0};
  return ERROR_SUCCESS;
}

LSTATUS QueryValue(HKEY key, const Name& valueName, bool wide, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
  if (data && !dataSize) return ERROR_INVALID_PARAMETER;
  LSTATUS error = ERROR_SUCCESS;
  REGSAM access = 0;
  auto current = Resolve(key, &access, &error);
  if (!current) return error;
  if (!(access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  const Value* value = FindValue(*current, valueName);
  if (!value) return ERROR_FILE_NOT_FOUND;
  const std::vector<BYTE> stored = wide ? WideData(*value) : AnsiData(*value);
  const auto size = static_cast<DWORD>(stored.size());
  if (type) *type = value->type;
  if (data) {
    if (*dataSize < size) {
      *dataSize = size;
      return ERROR_MORE_DATA;
    }
    if (size) std::memcpy(data, stored.data(), size);
  }
  if (dataSize) *dataSize = size;
  return ERROR_SUCCESS;
}

LSTATUS SetValue(HKEY key, const Name& valueName, DWORD type, std::vector<BYTE> data, bool utf16) {
  LSTATUS error = ERROR_SUCCESS;
  REGSAM access = 0;
  auto current = Resolve(key, &access, &error);
  if (!current) return error;
  if (!(access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  Value* value = FindValue(*current, valueName);
  if (!value) {
    current->values.push_back(Value{valueName.value_or(""), type, {}, false});
    value = &current->values.back();
  }
  value->type = type;
  value->data = std::move(data);
  value->utf16 = utf16;
  return ERROR_SUCCESS;
}

LSTATUS DeleteTree(HKEY key, const Name& subKey) {
  LSTATUS error = ERROR_SUCCESS;
  auto current = Resolve(key, nullptr, &error);
  if (!current) return error;
  std::vector<std::string> parts;
  if (!SplitPath(subKey ? subKey->c_str() : nullptr, &parts)) return ERROR_BAD_PATHNAME;
  if (parts.empty()) {
    for (auto& [name, sub] : current->subKeys) MarkDeleted(*sub);
    current->subKeys.clear();
    current->values.clear();
    return ERROR_SUCCESS;
  }
  const std::string last = parts.back();
  parts.pop_back();
  for (const auto& part : parts) {
    auto it = current->subKeys.find(part);
    if (it == current->subKeys.end()) return ERROR_FILE_NOT_FOUND;
    current = it->second;
  }
  auto it = current->subKeys.find(last);
  if (it == current->subKeys.end()) return ERROR_FILE_NOT_FOUND;
  MarkDeleted(*it->second);
  current->subKeys.erase(it);
  return ERROR_SUCCESS;
}

// The text of a string value's data, for the call log.
std::string Shown(DWORD type, const BYTE* data, DWORD dataSize, bool wide) {
  if (!data || (type != REG_SZ && type != REG_EXPAND_SZ)) return std::string();
  if (wide) {
    std::wstring text(reinterpret_cast<const wchar_t*>(data), dataSize / sizeof(wchar_t));
    const auto end = text.find(L'\0');
    if (end != std::wstring::npos) text.resize(end);
    return internal::Utf8FromWide(text);
  }
  std::string text(reinterpret_cast<const char*>(data), dataSize);
  const auto end = text.find('\0');
  if (end != std::string::npos) text.resize(end);
  return internal::Utf8FromAnsi(text.c_str());
}

}  // namespace
}  // namespace fake_win32

LSTATUS WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM sam, PHKEY result) {
  if (auto fault = Enter("RegOpenKeyExA", {Ptr(key), Text(subKey), Num(options), Hex(sam)})) {
    return static_cast<LSTATUS>(*fault);
  }
  return OpenKey(key, FromAnsi(subKey), sam, result);
}

LSTATUS WINAPI RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM sam, PHKEY result) {
  if (auto fault = Enter("RegOpenKeyExW", {Ptr(key), Text(subKey), Num(options), Hex(sam)})) {
    return static_cast<LSTATUS>(*fault);
  }
  return OpenKey(key, FromWide(subKey), sam, result);
}

LSTATUS WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options, REGSAM sam,
                               LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD disposition) {
  if (auto fault = Enter("RegCreateKeyExA", {Ptr(key), Text(subKey), Num(reserved), Text(keyClass), Num(options),
                                             Hex(sam), Ptr(security), Ptr(disposition)})) {
    return static_cast<LSTATUS>(*fault);
  }
  return CreateKey(key, FromAnsi(subKey), sam, result, disposition);
}

LSTATUS WINAPI RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options,
                               REGSAM sam, LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD disposition) {
  if (auto fault = Enter("RegCreateKeyExW", {Ptr(key), Text(subKey), Num(reserved), Text(keyClass), Num(options),
                                             Hex(sam), Ptr(security), Ptr(disposition)})) {
    return static_cast<LSTATUS>(*fault);
  }
  return CreateKey(key, FromWide(subKey), sam, result, disposition);
}

LSTATUS WINAPI RegQueryInfoKeyW(HKEY key, LPWSTR keyClass, LPDWORD classLength, LPDWORD reserved, LPDWORD subKeys,
                                LPDWORD maxSubKeyLength, LPDWORD maxClassLength, LPDWORD values,
                                LPDWORD maxValueNameLength, LPDWORD maxValueLength, LPDWORD securityDescriptor,
                                PFILETIME lastWriteTime) {
  if (auto fault = Enter("RegQueryInfoKeyW",
                         {Ptr(key), Ptr(keyClass), Ptr(classLength), Ptr(reserved), Ptr(subKeys),
                          Ptr(maxSubKeyLength), Ptr(maxClassLength), Ptr(values), Ptr(maxValueNameLength),
                          Ptr(maxValueLength), Ptr(securityDescriptor), Ptr(lastWriteTime)})) {
    return static_cast<LSTATUS>(*fault);
  }
  if (keyClass && classLength && *classLength) keyClass[0] = L'\0';
  return QueryInfo(key, true, classLength, subKeys, maxSubKeyLength, maxClassLength, values, maxValueNameLength,
                   maxValueLength, securityDescriptor, lastWriteTime);
}

LSTATUS WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                LPDWORD dataSize) {
  if (auto fault = Enter("RegQueryValueExA", {Ptr(key), Text(valueName), Ptr(reserved), Ptr(type), Ptr(data),
                                              dataSize ? Num(*dataSize) : std::string("(null)")})) {
    return static_cast<LSTATUS>(*fault);
  }
  return QueryValue(key, FromAnsi(valueName), false, type, data, dataSize);
}

LSTATUS WINAPI RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                LPDWORD dataSize) {
  if (auto fault = Enter("RegQueryValueExW", {Ptr(key), Text(valueName), Ptr(reserved), Ptr(type), Ptr(data),
                                              dataSize ? Num(*dataSize) : std::string("(null)")})) {
    return static_cast<LSTATUS>(*fault);
  }
  return QueryValue(key, FromWide(valueName), true, type, data, dataSize);
}

LSTATUS WINAPI RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                              DWORD dataSize) {
  if (auto fault = Enter("RegSetValueExA", {Ptr(key), Text(valueName), Num(reserved), Num(type),
                                            Shown(type, data, dataSize, false), Num(dataSize)})) {
    return static_cast<LSTATUS>(*fault);
  }
  if (!data && dataSize) return 998;  // ERROR_NOACCESS
  return SetValue(key, FromAnsi(valueName), type, std::vector<BYTE>(data, data + (data ? dataSize : 0)), false);
}

LSTATUS WINAPI RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                              DWORD dataSize) {
  if (auto fault = Enter("RegSetValueExW", {Ptr(key), Text(valueName), Num(reserved), Num(type),
                                            Shown(type, data, dataSize, true), Num(dataSize)})) {
    return static_cast<LSTATUS>(*fault);
  }
  if (!data && dataSize) return 998;  // ERROR_NOACCESS
  if (!IsString(type)) {
    return SetValue(key, FromWide(valueName), type, std::vector<BYTE>(data, data + (data ? dataSize : 0)), false);
  }
  // Kept as Windows keeps it: UTF-16LE, the byte count following the text.
  const std::wstring text(reinterpret_cast<const wchar_t*>(data), data ? dataSize / sizeof(wchar_t) : 0);
  return SetValue(key, FromWide(valueName), type, ToUtf16(text), true);
}

LSTATUS WINAPI RegDeleteTreeA(HKEY key, LPCSTR subKey) {
  if (auto fault = Enter("RegDeleteTreeA", {Ptr(key), Text(subKey)})) return static_cast<LSTATUS>(*fault);
  return DeleteTree(key, FromAnsi(subKey));
}

LSTATUS WINAPI RegDeleteTreeW(HKEY key, LPCWSTR subKey) {
  if (auto fault = Enter("RegDeleteTreeW", {Ptr(key), Text(subKey)})) return static_cast<LSTATUS>(*fault);
  return DeleteTree(key, FromWide(subKey));
}

LSTATUS WINAPI RegCloseKey(HKEY key) {
  auto fault = Enter("RegCloseKey", {Ptr(key)});
  if (IsPredefined(key)) return fault ? static_cast<LSTATUS>(*fault) : ERROR_SUCCESS;
  auto& handles = State().handles;
  const auto value = reinterpret_cast<uintptr_t>(key);
  if (!internal::Closed("key", key) || handles.erase(value) == 0) return ERROR_INVALID_HANDLE;
  return fault ? static_cast<LSTATUS>(*fault) : ERROR_SUCCESS;
}
