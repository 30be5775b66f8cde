// Folders, files and registry keys of a test's own, on the in-memory
// platform natively and on the real one under Wine, removed afterwards.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace test_support {

// Every test that touches the platform derives from this. Natively it starts
// from a fresh in-memory platform and, at the end, expects every handle, key,
// search, process, array and string opened during the test to be closed
// again, with no double close.
class PlatformTest : public ::testing::Test {
 protected:
  PlatformTest();
  ~PlatformTest() override;
};

// True on the in-memory platform, where host-only set-up is possible.
bool OnFakePlatform();

// Paths and names in these helpers are UTF-8 (tests/support/wide.h turns
// them into the product's UTF-16).
//
// The host path behind a Windows path (the path itself on Windows).
std::filesystem::path NativePath(const std::string& windowsPath);

void WriteFile(const std::string& windowsPath, const std::string& bytes);
std::string ReadFile(const std::string& windowsPath);
void MakeFolder(const std::string& windowsPath);
bool FileExists(const std::string& windowsPath);
// The names of the files directly in a folder, sorted (UTF-8).
std::vector<std::string> FilesIn(const std::string& windowsFolder);
bool FolderExists(const std::string& windowsPath);
void RemoveTree(const std::string& windowsPath);
// A second name `windowsPath` for the existing file `existing` (a hard link).
void MakeHardLink(const std::string& windowsPath, const std::string& existing);

// An empty folder of the test's own; its path ends in a backslash.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A key of the test's own below HKEY_LOCAL_MACHINE, deleted with its tree
// afterwards. Exists from construction.
class ScratchKey {
 public:
  ScratchKey();
  ~ScratchKey();
  ScratchKey(const ScratchKey&) = delete;
  ScratchKey& operator=(const ScratchKey&) = delete;
  const std::string& path() const { return path_; }
  void SetValue(const std::string& name, DWORD type, const std::string& bytes) const;

 private:
  std::string path_;
};

struct StoredValue {
  bool exists = false;
  DWORD type = REG_NONE;
  std::string bytes;
};
// The value as the ANSI functions read it: its bytes in the ANSI code page.
StoredValue QueryValue(const std::string& keyPath, const std::string& name);
// A string value as the wide functions read it, in UTF-8, up to its first
// zero; "(absent)" when there is no such value.
std::string QueryText(const std::string& keyPath, const std::string& name);
bool KeyExists(const std::string& keyPath);

// Holds a file open without sharing, as another program might.
class ExclusiveHold {
 public:
  explicit ExclusiveHold(const std::string& windowsPath);
  ~ExclusiveHold();
  ExclusiveHold(const ExclusiveHold&) = delete;
  ExclusiveHold& operator=(const ExclusiveHold&) = delete;

 private:
  std::string path_;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace test_support
