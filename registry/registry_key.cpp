#include "registry/registry_key.h"

namespace vantu {

namespace {

// Registry names are at most 16383 characters; a longer report is not one
// the buffer is made for.
constexpr DWORD kLongestName = 16383;

}  // namespace

NameBuffer::NameBuffer(HKEY key, Names names) : key_(key) {
  DWORD count = 0;
  DWORD longest = 0;
  const LSTATUS status =
      names == Names::kSubKeys
          ? RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &count, &longest, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr)
          : RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, &longest, nullptr,
                             nullptr, nullptr);
  if (status != ERROR_SUCCESS || longest > kLongestName) return;
  length_ = longest + 1;
  buffer_.reset(new wchar_t[length_]());
}

void OpenKey::Adopt(HKEY key) {
  key_.reset(key);
  // The value names' buffer first, then the subkey names': the order of the
  // two queries of the key.
  valueNames_.reset(new ValueNameBuffer(key));
  subKeyNames_.reset(new SubKeyNameBuffer(key));
}

REGSAM RegReader::AccessMask() const { return KEY_READ; }

bool RegReader::Open(const std::wstring& subKey) {
  HKEY opened = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, AccessMask(), &opened) != ERROR_SUCCESS) return false;
  key_.Adopt(opened);
  return true;
}

bool RegWriter::Create(const std::wstring& subKey) {
  HKEY created = nullptr;
  DWORD disposition = 0;  // a created key and an opened one are alike
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                      nullptr, &created, &disposition) != ERROR_SUCCESS) {
    return false;
  }
  key_.Adopt(created);
  return true;
}

}  // namespace vantu
