// Registry: a tree of keys below the predefined roots. Values keep their type
// and raw bytes exactly as they were set, so a string without terminator or a
// number stored under a string's name can be set up. One view only: the
// 32-bit and 64-bit views are the same tree here.
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

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
};

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

Value* FindValue(Key& key, const char* name) {
  const std::string wanted = name ? name : "";
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

LSTATUS WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM sam, PHKEY result) {
  if (auto fault = Enter("RegOpenKeyExA", {Ptr(key), Text(subKey), Num(options), Hex(sam)})) {
    return static_cast<LSTATUS>(*fault);
  }
  if (!result) return ERROR_INVALID_PARAMETER;
  LSTATUS error = ERROR_SUCCESS;
  auto current = Resolve(key, nullptr, &error);
  if (!current) return error;
  std::vector<std::string> parts;
  if (!SplitPath(subKey, &parts)) return ERROR_BAD_PATHNAME;
  for (const auto& part : parts) {
    auto it = current->subKeys.find(part);
    if (it == current->subKeys.end()) return ERROR_FILE_NOT_FOUND;
    current = it->second;
  }
  *result = NewHandle(current, sam);
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options, REGSAM sam,
                               LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD disposition) {
  if (auto fault = Enter("RegCreateKeyExA", {Ptr(key), Text(subKey), Num(reserved), Text(keyClass), Num(options),
                                             Hex(sam), Ptr(security), Ptr(disposition)})) {
    return static_cast<LSTATUS>(*fault);
  }
  if (!result) return ERROR_INVALID_PARAMETER;
  LSTATUS error = ERROR_SUCCESS;
  auto current = Resolve(key, nullptr, &error);
  if (!current) return error;
  std::vector<std::string> parts;
  if (!SplitPath(subKey, &parts)) return ERROR_BAD_PATHNAME;
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

LSTATUS WINAPI RegQueryInfoKeyA(HKEY key, LPSTR keyClass, LPDWORD classLength, LPDWORD reserved, LPDWORD subKeys,
                                LPDWORD maxSubKeyLength, LPDWORD maxClassLength, LPDWORD values,
                                LPDWORD maxValueNameLength, LPDWORD maxValueLength, LPDWORD securityDescriptor,
                                PFILETIME lastWriteTime) {
  if (auto fault = Enter("RegQueryInfoKeyA",
                         {Ptr(key), Ptr(keyClass), Ptr(classLength), Ptr(reserved), Ptr(subKeys),
                          Ptr(maxSubKeyLength), Ptr(maxClassLength), Ptr(values), Ptr(maxValueNameLength),
                          Ptr(maxValueLength), Ptr(securityDescriptor), Ptr(lastWriteTime)})) {
    return static_cast<LSTATUS>(*fault);
  }
  LSTATUS error = ERROR_SUCCESS;
  REGSAM access = 0;
  auto current = Resolve(key, &access, &error);
  if (!current) return error;
  if (!(access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  DWORD longestSubKey = 0;
  for (const auto& [name, sub] : current->subKeys) {
    longestSubKey = std::max<DWORD>(longestSubKey, static_cast<DWORD>(name.size()));
  }
  DWORD longestName = 0;
  DWORD longestData = 0;
  for (const auto& value : current->values) {
    longestName = std::max<DWORD>(longestName, static_cast<DWORD>(value.name.size()));
    longestData = std::max<DWORD>(longestData, static_cast<DWORD>(value.data.size()));
  }
  if (keyClass && classLength && *classLength) keyClass[0] = '\0';
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

LSTATUS WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                LPDWORD dataSize) {
  if (auto fault = Enter("RegQueryValueExA", {Ptr(key), Text(valueName), Ptr(reserved), Ptr(type), Ptr(data),
                                              dataSize ? Num(*dataSize) : std::string("(null)")})) {
    return static_cast<LSTATUS>(*fault);
  }
  if (data && !dataSize) return ERROR_INVALID_PARAMETER;
  LSTATUS error = ERROR_SUCCESS;
  REGSAM access = 0;
  auto current = Resolve(key, &access, &error);
  if (!current) return error;
  if (!(access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  const Value* value = FindValue(*current, valueName);
  if (!value) return ERROR_FILE_NOT_FOUND;
  const auto size = static_cast<DWORD>(value->data.size());
  if (type) *type = value->type;
  if (data) {
    if (*dataSize < size) {
      *dataSize = size;
      return ERROR_MORE_DATA;
    }
    if (size) std::memcpy(data, value->data.data(), size);
  }
  if (dataSize) *dataSize = size;
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                              DWORD dataSize) {
  std::string shown;
  if (data && (type == REG_SZ || type == REG_EXPAND_SZ)) {
    shown.assign(reinterpret_cast<const char*>(data), dataSize);
    const auto end = shown.find('\0');
    if (end != std::string::npos) shown.resize(end);
  }
  if (auto fault = Enter("RegSetValueExA",
                         {Ptr(key), Text(valueName), Num(reserved), Num(type), shown, Num(dataSize)})) {
    return static_cast<LSTATUS>(*fault);
  }
  if (!data && dataSize) return 998;  // ERROR_NOACCESS
  LSTATUS error = ERROR_SUCCESS;
  REGSAM access = 0;
  auto current = Resolve(key, &access, &error);
  if (!current) return error;
  if (!(access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  Value* value = FindValue(*current, valueName);
  if (!value) {
    current->values.push_back(Value{valueName ? valueName : "", type, {}});
    value = &current->values.back();
  }
  value->type = type;
  value->data.assign(data, data + dataSize);
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RegDeleteValueA(HKEY key, LPCSTR valueName) {
  if (auto fault = Enter("RegDeleteValueA", {Ptr(key), Text(valueName)})) return static_cast<LSTATUS>(*fault);
  LSTATUS error = ERROR_SUCCESS;
  REGSAM access = 0;
  auto current = Resolve(key, &access, &error);
  if (!current) return error;
  if (!(access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  for (auto it = current->values.begin(); it != current->values.end(); ++it) {
    if (internal::EqualsNoCase(it->name, valueName ? valueName : "")) {
      current->values.erase(it);
      return ERROR_SUCCESS;
    }
  }
  return ERROR_FILE_NOT_FOUND;
}

LSTATUS WINAPI RegDeleteTreeA(HKEY key, LPCSTR subKey) {
  if (auto fault = Enter("RegDeleteTreeA", {Ptr(key), Text(subKey)})) return static_cast<LSTATUS>(*fault);
  LSTATUS error = ERROR_SUCCESS;
  auto current = Resolve(key, nullptr, &error);
  if (!current) return error;
  std::vector<std::string> parts;
  if (!SplitPath(subKey, &parts)) return ERROR_BAD_PATHNAME;
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

LSTATUS WINAPI RegCloseKey(HKEY key) {
  auto fault = Enter("RegCloseKey", {Ptr(key)});
  if (IsPredefined(key)) return fault ? static_cast<LSTATUS>(*fault) : ERROR_SUCCESS;
  auto& handles = State().handles;
  const auto value = reinterpret_cast<uintptr_t>(key);
  if (!internal::Closed("key", key) || handles.erase(value) == 0) return ERROR_INVALID_HANDLE;
  return fault ? static_cast<LSTATUS>(*fault) : ERROR_SUCCESS;
}
