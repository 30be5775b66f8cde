#include "deploy/directory_walker.h"

#include "base/path_functions.h"

namespace vantu {

DirectoryWalker::~DirectoryWalker() { Close(); }

bool DirectoryWalker::Open(const std::wstring& root) {
  Close();
  const size_t last = root.find_last_not_of(L'\\');
  path_ = last == std::wstring::npos ? std::wstring() : root.substr(0, last + 1);
  PushLevel();
  Settle();
  return true;
}

const WIN32_FIND_DATAW* DirectoryWalker::Current() const {
  return AtEnd() ? nullptr : levels_.back()->findData.get();
}

std::wstring DirectoryWalker::CurrentPath() const {
  const WIN32_FIND_DATAW* entry = Current();
  return entry ? path_ + L"\\" + entry->cFileName : std::wstring();
}

void DirectoryWalker::Advance() {
  if (AtEnd()) return;
  SearchLevel& top = *levels_.back();
  top.valid = FindNextFileW(top.handle.get(), top.findData.get()) != FALSE;
  Settle();
}

void DirectoryWalker::SkipDirectories() {
  while (!AtEnd() && (Current()->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) Advance();
}

void DirectoryWalker::Close() {
  while (!levels_.empty()) levels_.pop_back();
  path_.clear();
}

void DirectoryWalker::PushLevel() {
  const std::wstring pattern = path_ + L"\\*";
  auto level = std::make_unique<SearchLevel>();
  level->findData = std::make_unique<WIN32_FIND_DATAW>();
  level->handle.reset(FindFirstFileW(pattern.c_str(), level->findData.get()));
  if (!level->handle) {
    level->findData.reset();
  } else {
    level->valid = true;
  }
  levels_.push_back(std::move(level));
}

void DirectoryWalker::PopLevel() {
  levels_.pop_back();
  const size_t backslash = path_.rfind(L'\\');
  path_ = backslash != std::wstring::npos ? path_.substr(0, backslash) : DrivePart(path_);
}

void DirectoryWalker::Settle() {
  while (!levels_.empty() && !levels_.back()->valid) {
    PopLevel();
    if (levels_.empty()) return;
    SearchLevel& top = *levels_.back();
    top.valid = FindNextFileW(top.handle.get(), top.findData.get()) != FALSE;
  }
}

}  // namespace vantu
