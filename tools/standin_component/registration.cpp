#include "registration.h"

#include <windows.h>

#include "dispatch_object.h"
#include "module_folder.h"

namespace standin {
namespace {

constexpr wchar_t kDescription[] = L"trelvoCom.axdata stand-in";

class RegistryKey {
 public:
  RegistryKey() = default;
  ~RegistryKey() {
    if (key_) RegCloseKey(key_);
  }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  HKEY* receive() { return &key_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

std::string Failure(const char* what, const std::wstring& key, LONG status) {
  return std::string(what) + " HKCR\\" + ToUtf8(key) + ": error " + std::to_string(status);
}

bool SetDefaultValue(const std::wstring& path, const std::wstring& value, std::string& error) {
  RegistryKey key;
  LONG status = RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                                nullptr, key.receive(), nullptr);
  if (status != ERROR_SUCCESS) {
    error = Failure("cannot create", path, status);
    return false;
  }
  const auto bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
  status = RegSetValueExW(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), bytes);
  if (status != ERROR_SUCCESS) {
    error = Failure("cannot write", path, status);
    return false;
  }
  return true;
}

// The default value of a key; empty when it cannot be read.
std::wstring DefaultValue(const std::wstring& path) {
  RegistryKey key;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_QUERY_VALUE, key.receive()) != ERROR_SUCCESS) {
    return std::wstring();
  }
  wchar_t text[128] = {};
  DWORD type = 0;
  DWORD bytes = sizeof text - sizeof(wchar_t);
  if (RegQueryValueExW(key.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(text), &bytes) != ERROR_SUCCESS ||
      type != REG_SZ) {
    return std::wstring();
  }
  return text;
}

bool DeleteTree(const std::wstring& path, std::string& error) {
  const LONG status = RegDeleteTreeW(HKEY_CLASSES_ROOT, path.c_str());
  if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) return true;
  error = Failure("cannot delete", path, status);
  return false;
}

std::wstring ClassKey() { return std::wstring(L"CLSID\\") + kStandinClsidText; }

}  // namespace

bool RegisterServer(std::string& error) {
  std::wstring command = ExecutablePath();
  if (command.empty()) {
    error = "cannot find the executable's own path";
    return false;
  }
  if (command.find(L' ') != std::wstring::npos) command = L"\"" + command + L"\"";
  const std::wstring progId = kProgId;
  return SetDefaultValue(progId, kDescription, error) &&
         SetDefaultValue(progId + L"\\CLSID", kStandinClsidText, error) &&
         SetDefaultValue(ClassKey(), kDescription, error) &&
         SetDefaultValue(ClassKey() + L"\\LocalServer32", command, error) &&
         SetDefaultValue(ClassKey() + L"\\ProgID", progId, error);
}

bool UnregisterServer(std::string& error) {
  const std::wstring progId = kProgId;
  // The ProgID may meanwhile name another component's class: leave it then.
  const std::wstring named = DefaultValue(progId + L"\\CLSID");
  bool removed = true;
  if (named.empty() ||
      CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, named.c_str(), -1, kStandinClsidText, -1) == CSTR_EQUAL) {
    removed = DeleteTree(progId, error);
  }
  return DeleteTree(ClassKey(), error) && removed;
}

}  // namespace standin
