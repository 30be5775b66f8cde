#include "service/machine_environment.h"

#include <cwchar>
#include <cwctype>

#include "base/system_library.h"
#include "base/unique_handle.h"
#include "runlog/run_log.h"

namespace vantu {
namespace {

using CreateEnvironmentBlockFunction = BOOL(WINAPI*)(LPVOID*, HANDLE, BOOL);
using DestroyEnvironmentBlockFunction = BOOL(WINAPI*)(LPVOID);

// A block of CreateEnvironmentBlock, released through the
// DestroyEnvironmentBlock of the same userenv.dll.
struct EnvironmentBlock {
  void* block;
  DestroyEnvironmentBlockFunction destroy;
  bool operator!=(const EnvironmentBlock& other) const { return block != other.block; }
};
struct EnvironmentBlockPolicy {
  using Type = EnvironmentBlock;
  static Type Invalid() noexcept { return Type{nullptr, nullptr}; }
  static void Close(Type environment) noexcept { environment.destroy(environment.block); }
};
using UniqueEnvironmentBlock = UniqueHandle<EnvironmentBlockPolicy>;

// The name of a "NAME=value" entry, upper-cased (names ignore case); an
// entry that begins with "=" (the current folder of a drive) keeps it.
std::wstring NameOf(const std::wstring& entry) {
  std::wstring name = entry.substr(0, entry.find(L'=', 1));
  for (wchar_t& c : name) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
  return name;
}

bool Has(const std::vector<std::wstring>& entries, const std::wstring& name) {
  for (const std::wstring& entry : entries) {
    if (NameOf(entry) == NameOf(name)) return true;
  }
  return false;
}

// Adds "NAME=value" where the names' order puts it.
void Insert(std::vector<std::wstring>* entries, const std::wstring& name, const std::wstring& value) {
  auto at = entries->begin();
  while (at != entries->end() && NameOf(*at) < NameOf(name)) ++at;
  entries->insert(at, name + L"=" + value);
}

}  // namespace

bool MachineEnvironment::Make(std::string* why) {
  DWORD error = 0;
  const UniqueLibrary userenv(LoadSystemLibrary(L"userenv.dll", &error));
  if (!userenv) {
    *why = "userenv.dll could not be loaded from the system folder: " + ErrorText(error);
    return false;
  }
  const auto create = FindLibraryFunction<CreateEnvironmentBlockFunction>(userenv.get(), "CreateEnvironmentBlock");
  const auto destroy = FindLibraryFunction<DestroyEnvironmentBlockFunction>(userenv.get(), "DestroyEnvironmentBlock");
  if (!create || !destroy) {
    *why = "userenv.dll has no CreateEnvironmentBlock or DestroyEnvironmentBlock: " + ErrorText(GetLastError());
    return false;
  }
  void* made = nullptr;
  // No token: the machine's variables, none of a user's; FALSE: none of
  // this process's either.
  if (!create(&made, nullptr, FALSE)) {
    *why = "CreateEnvironmentBlock failed: " + ErrorText(GetLastError());
    return false;
  }
  std::vector<std::wstring> entries;
  {
    const UniqueEnvironmentBlock owned(EnvironmentBlock{made, destroy});
    for (const wchar_t* entry = static_cast<const wchar_t*>(made); *entry; entry += std::wcslen(entry) + 1) {
      entries.emplace_back(entry);
    }
  }
  if (!Has(entries, L"SystemRoot") || !Has(entries, L"SystemDrive")) {
    wchar_t windows[MAX_PATH];
    const UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    if (length < 2 || length >= MAX_PATH) {
      *why = "the machine's environment lacks SystemRoot or SystemDrive, and the Windows folder is unknown: " +
             ErrorText(length == 0 ? GetLastError() : static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
      return false;
    }
    if (!Has(entries, L"SystemRoot")) Insert(&entries, L"SystemRoot", std::wstring(windows, length));
    if (!Has(entries, L"SystemDrive")) Insert(&entries, L"SystemDrive", std::wstring(windows, 2));
  }
  block_.clear();
  for (const std::wstring& entry : entries) {
    block_.insert(block_.end(), entry.c_str(), entry.c_str() + entry.size() + 1);
  }
  block_.push_back(L'\0');  // the empty entry that ends the block
  variables_ = entries.size();
  return true;
}

}  // namespace vantu
