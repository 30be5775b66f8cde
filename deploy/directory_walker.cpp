#include "deploy/directory_walker.h"

#include "base/path_functions.h"

namespace vantu {

DirectoryWalker::~DirectoryWalker() { Close(); }

bool DirectoryWalker::Open(const std::string& root) {
  Close();
  const size_t last = root.find_last_not_of('\\');
  path_ = last == std::string::npos ? std::string() : root.substr(0, last + 1);
  PushLevel();
  Settle();
  return true;
}

const WIN32_FIND_DATAA* DirectoryWalker::Current() const {
  return AtEnd() ? nullptr : levels_.back()->findData.get();
}

std::string DirectoryWalker::CurrentPath() const {
  const WIN32_FIND_DATAA* entry = Current();
  return entry ? path_ + "\\" + entry->cFileName : std::string();
}

void DirectoryWalker::Advance() {
  if (AtEnd()) return;
  SearchLevel& top = *levels_.back();
  top.valid = FindNextFileA(top.handle.get(), top.findData.get()) != FALSE;
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
  const std::string pattern = path_ + "\\*";
  auto level = std::make_unique<SearchLevel>();
  level->findData = std::make_unique<WIN32_FIND_DATAA>();
  level->handle.reset(FindFirstFileA(pattern.c_str(), level->findData.get()));
  if (!level->handle) {
    level->findData.reset();
  } else {
    level->valid = true;
  }
  levels_.push_back(std::move(level));
}

void DirectoryWalker::PopLevel() {
  levels_.pop_back();
  const size_t backslash = path_.rfind('\\');
  path_ = backslash != std::string::npos ? path_.substr(0, backslash) : DrivePart(path_);
}

void DirectoryWalker::Settle() {
  while (!levels_.empty() && !levels_.back()->valid) {
    PopLevel();
    if (levels_.empty()) return;
    SearchLevel& top = *levels_.back();
    top.valid = FindNextFileA(top.handle.get(), top.findData.get()) != FALSE;
  }
}

}  // namespace vantu
