#include "tests/support/scratch.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "tests/support/wide.h"

#ifdef FANSETUP_FAKE_WIN32
#include "fake_win32/control.h"
#else
#include <process.h>
#endif

namespace fs = std::filesystem;

namespace test_support {
namespace {

int NextNumber() {
  static int number = 0;
  return ++number;
}

std::string ProcessTag() {
#ifdef FANSETUP_FAKE_WIN32
  return "host";
#else
  return std::to_string(_getpid());
#endif
}

}  // namespace

PlatformTest::PlatformTest() {
#ifdef FANSETUP_FAKE_WIN32
  fake_win32::Reset();
#endif
}

PlatformTest::~PlatformTest() {
#ifdef FANSETUP_FAKE_WIN32
  const auto open = fake_win32::OpenResources();
  EXPECT_TRUE(open.empty()) << "still open: " << ::testing::PrintToString(open);
  const auto misuses = fake_win32::Misuses();
  EXPECT_TRUE(misuses.empty()) << ::testing::PrintToString(misuses);
#endif
}

bool OnFakePlatform() {
#ifdef FANSETUP_FAKE_WIN32
  return true;
#else
  return false;
#endif
}

fs::path NativePath(const std::string& windowsPath) {
#ifdef FANSETUP_FAKE_WIN32
  return fs::path(fake_win32::HostPath(windowsPath));
#else
  return fs::path(W(windowsPath));
#endif
}

void WriteFile(const std::string& windowsPath, const std::string& bytes) {
  std::ofstream file(NativePath(windowsPath), std::ios::binary | std::ios::trunc);
  ASSERT_TRUE(file) << "cannot write " << windowsPath;
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const std::string& windowsPath) {
  std::ifstream file(NativePath(windowsPath), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void MakeFolder(const std::string& windowsPath) {
  std::error_code error;
  fs::create_directories(NativePath(windowsPath), error);
  ASSERT_FALSE(error) << "cannot make " << windowsPath << ": " << error.message();
}

bool FileExists(const std::string& windowsPath) {
  std::error_code error;
  return fs::is_regular_file(NativePath(windowsPath), error);
}

std::vector<std::string> FilesIn(const std::string& windowsFolder) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(NativePath(windowsFolder), error)) {
    if (entry.is_regular_file(error)) names.push_back(entry.path().filename().u8string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool FolderExists(const std::string& windowsPath) {
  std::error_code error;
  return fs::is_directory(NativePath(windowsPath), error);
}

void RemoveTree(const std::string& windowsPath) {
  const fs::path root = NativePath(windowsPath);
  std::error_code error;
  // Read-only files would refuse to go on Windows.
  if (fs::is_directory(root, error)) {
    for (const auto& entry : fs::recursive_directory_iterator(root, error)) {
      fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add, error);
    }
  }
  fs::permissions(root, fs::perms::owner_write, fs::perm_options::add, error);
  fs::remove_all(root, error);
}

void MakeHardLink(const std::string& windowsPath, const std::string& existing) {
#ifdef FANSETUP_FAKE_WIN32
  fake_win32::MakeHardLink(windowsPath, existing);
#else
  ASSERT_TRUE(CreateHardLinkW(W(windowsPath).c_str(), W(existing).c_str(), nullptr))
      << "cannot link " << windowsPath << ": " << GetLastError();
#endif
}

ScratchFolder::ScratchFolder() {
#ifdef FANSETUP_FAKE_WIN32
  path_ = "C:\\scratch\\" + std::to_string(NextNumber()) + "\\";
#else
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  path_ = U8(temp) + "fansetup-" + ProcessTag() + "-" + std::to_string(NextNumber()) + "\\";
#endif
  RemoveTree(path_);
  MakeFolder(path_);
}

ScratchFolder::~ScratchFolder() { RemoveTree(path_); }

ScratchKey::ScratchKey() {
  path_ = "Software\\FanSetupTests\\" + ProcessTag() + "-" + std::to_string(NextNumber());
  HKEY key = nullptr;
  EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                           nullptr, &key, nullptr));
  if (key) RegCloseKey(key);
}

ScratchKey::~ScratchKey() { RegDeleteTreeA(HKEY_LOCAL_MACHINE, path_.c_str()); }

void ScratchKey::SetValue(const std::string& name, DWORD type, const std::string& bytes) const {
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS,
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, path_.c_str(), 0, KEY_SET_VALUE, &key));
  EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name.c_str(), 0, type,
                                          reinterpret_cast<const BYTE*>(bytes.data()),
                                          static_cast<DWORD>(bytes.size())));
  RegCloseKey(key);
}

StoredValue QueryValue(const std::string& keyPath, const std::string& name) {
  StoredValue value;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return value;
  DWORD size = 0;
  if (RegQueryValueExA(key, name.c_str(), nullptr, &value.type, nullptr, &size) == ERROR_SUCCESS) {
    value.bytes.resize(size);
    if (RegQueryValueExA(key, name.c_str(), nullptr, &value.type, reinterpret_cast<BYTE*>(&value.bytes[0]),
                         &size) == ERROR_SUCCESS) {
      value.bytes.resize(size);
      value.exists = true;
    }
  }
  RegCloseKey(key);
  return value;
}

std::string QueryText(const std::string& keyPath, const std::string& name) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, W(keyPath).c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    return "(absent)";
  }
  std::string text = "(absent)";
  DWORD type = REG_NONE;
  DWORD size = 0;
  const std::wstring wideName = W(name);
  if (RegQueryValueExW(key, wideName.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
    std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key, wideName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &size) ==
        ERROR_SUCCESS) {
      data.resize(data.find(L'\0'));
      text = U8(data);
    }
  }
  RegCloseKey(key);
  return text;
}

bool KeyExists(const std::string& keyPath) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

ExclusiveHold::ExclusiveHold(const std::string& windowsPath) : path_(windowsPath) {
#ifdef FANSETUP_FAKE_WIN32
  fake_win32::HoldOpen(windowsPath);
#else
  handle_ = CreateFileW(W(windowsPath).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                        nullptr);
  EXPECT_NE(INVALID_HANDLE_VALUE, handle_) << "cannot hold " << windowsPath;
#endif
}

ExclusiveHold::~ExclusiveHold() {
#ifdef FANSETUP_FAKE_WIN32
  fake_win32::LetGo(path_);
#else
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
#endif
}

}  // namespace test_support
