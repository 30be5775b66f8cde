#include "deploy/sealed_copy.h"

#include <windows.h>

#include <string>

#include "base/path_functions.h"
#include "base/unique_handle.h"
#include "deploy/directory_walker.h"
#include "runlog/run_log.h"
#include "seal/file_for_hashing.h"

namespace vantu {
namespace {

// One listed file in the install folder against its entry.
bool CheckFile(const SealedCopy& sealed, const SealEntry& entry, const std::wstring& installFolder) {
  UniqueFileHandle file;
  uint64_t size = 0;
  const DWORD opened = OpenFileForHashing(installFolder + entry.name, &file, &size);
  if (opened != ERROR_SUCCESS) {
    if (LogEnabled()) {
      LogLine({"sealed file ", entry.name, " cannot be checked in the install folder: ", ErrorText(opened)});
    }
    return false;
  }
  if (size != entry.size) {
    LogLine({"sealed file ", entry.name, " differs from the seal: ", std::to_string(size), " bytes, sealed with ",
             std::to_string(entry.size)});
    return false;
  }
  Sha256Digest digest{};
  uint64_t hashed = 0;
  std::string why;
  if (!sealed.hasher->HashFile(file.get(), &digest, &hashed, &why)) {
    LogLine({"sealed file ", entry.name, " could not be hashed: ", why});
    return false;
  }
  if (hashed != entry.size || digest != entry.digest) {
    LogLine({"sealed file ", entry.name, " differs from the seal: SHA-256 ", DigestText(digest), ", sealed with ",
             DigestText(entry.digest)});
    return false;
  }
  return true;
}

}  // namespace

bool SealedCopyTakes(const SealedCopy& sealed, const std::wstring& name) {
  return SameNameText(name, sealed.imageName) || sealed.manifest->Find(name) != nullptr;
}

bool CheckInstallFolder(const SealedCopy& sealed, const std::wstring& installFolder) {
  bool matches = true;
  for (const SealEntry& entry : sealed.manifest->entries()) {
    if (!CheckFile(sealed, entry, installFolder)) matches = false;
  }
  if (LogEnabled()) {
    DirectoryWalker walker;
    walker.Open(installFolder);
    for (walker.SkipDirectories(); !walker.AtEnd(); walker.Advance(), walker.SkipDirectories()) {
      const std::wstring name = walker.Current()->cFileName;
      if (!SealedCopyTakes(sealed, name)) {
        LogLine({"in the install folder but not sealed, left as it is: ", name});
      }
    }
  }
  LogLine({matches ? "the install folder matches the seal: " : "the install folder does not match the seal: ",
           std::to_string(sealed.manifest->entries().size()), " sealed files"});
  return matches;
}

}  // namespace vantu
