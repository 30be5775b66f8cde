#include "seal/sealed_payload.h"

#include "base/path_functions.h"
#include "base/unique_handle.h"
#include "deploy/directory_walker.h"
#include "runlog/run_log.h"
#include "seal/file_for_hashing.h"

namespace vantu {
namespace {

void LogDifference(const SealEntry& entry, const std::string& what) {
  LogLine({"sealed file ", entry.name, " differs from the seal: ", what});
}

// A listed file's bytes against its entry, hashed as they pass. A file that
// grows past the sealed size stops the copy at once.
class SealedFileCheck : public FileCheck {
 public:
  SealedFileCheck(const SealEntry& entry, Sha256Provider& hasher) : entry_(entry), hasher_(hasher) {}

  bool Observe(const BYTE* data, DWORD size) override {
    seen_ += size;
    if (seen_ > entry_.size) {
      LogDifference(entry_, "more than the " + std::to_string(entry_.size) + " bytes sealed");
      return false;
    }
    return Start() && Fail(hasher_.Feed(hash_, data, size, &why_));
  }

  bool Passed(uint64_t bytes) override {
    Sha256Digest digest{};
    if (!Start() || !Fail(hasher_.Finish(hash_, &digest, &why_))) return false;
    if (bytes != entry_.size) {
      LogDifference(entry_, std::to_string(bytes) + " bytes, sealed with " + std::to_string(entry_.size));
      return false;
    }
    if (digest != entry_.digest) {
      LogDifference(entry_, "SHA-256 " + DigestText(digest) + ", sealed with " + DigestText(entry_.digest));
      return false;
    }
    return true;
  }

 private:
  bool Start() { return started_ || Fail(started_ = hasher_.Begin(&hash_, &why_)); }
  // Logs a failure of the provider itself.
  bool Fail(bool ok) {
    if (!ok) LogLine({"sealed file ", entry_.name, " could not be hashed: ", why_});
    return ok;
  }

  const SealEntry& entry_;
  Sha256Provider& hasher_;
  UniqueHash hash_;
  bool started_ = false;
  uint64_t seen_ = 0;
  std::string why_;
};

}  // namespace

SealedPayload::SealedPayload(const SealManifest& manifest, std::wstring imageName, Sha256Provider& hasher)
    : manifest_(manifest), imageName_(std::move(imageName)), hasher_(hasher), seen_(manifest.entries().size()) {}

bool SealedPayload::MayPlace(const std::wstring& name) {
  if (SameFileName(name, imageName_)) return true;
  const SealEntry* entry = manifest_.Find(name);
  if (!entry) {
    ++notSealed_;
    return false;
  }
  seen_[static_cast<size_t>(entry - manifest_.entries().data())] = true;
  return true;
}

std::unique_ptr<FileCheck> SealedPayload::CheckFor(const std::wstring& name) {
  const SealEntry* entry = manifest_.Find(name);
  if (!entry) return nullptr;
  return std::make_unique<SealedFileCheck>(*entry, hasher_);
}

std::vector<std::wstring> SealedPayload::NotSeen() const {
  std::vector<std::wstring> names;
  for (size_t i = 0; i < seen_.size(); ++i) {
    if (!seen_[i]) names.push_back(manifest_.entries()[i].name);
  }
  return names;
}

bool SealedPayload::CheckInPlace(const std::wstring& installFolder, const std::wstring& name) {
  const std::unique_ptr<FileCheck> check = CheckFor(name);
  if (!check) return true;
  UniqueFileHandle file;
  uint64_t size = 0;
  const DWORD opened = OpenFileForHashing(installFolder + name, &file, &size);
  if (opened != ERROR_SUCCESS) {
    if (LogEnabled()) LogLine({"sealed file ", name, " cannot be checked in the install folder: ", ErrorText(opened)});
    return false;
  }
  std::vector<BYTE> chunk(kHashChunkBytes);
  uint64_t bytes = 0;
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file.get(), chunk.data(), kHashChunkBytes, &read, nullptr)) {
      if (LogEnabled()) LogLine({"sealed file ", name, " could not be read in the install folder: ",
                                 ErrorText(GetLastError())});
      return false;
    }
    if (read == 0) break;
    bytes += read;
    if (!check->Observe(chunk.data(), read)) return false;
  }
  return check->Passed(bytes);
}

void SealedPayload::LogInstallFolder(const std::wstring& installFolder) {
  if (LogEnabled()) {
    DirectoryWalker walker;
    walker.Open(installFolder);
    for (walker.SkipDirectories(); !walker.AtEnd(); walker.Advance(), walker.SkipDirectories()) {
      const std::wstring name = walker.Current()->cFileName;
      if (!SameFileName(name, imageName_) && !manifest_.Find(name)) {
        LogLine({"in the install folder but not sealed, left as it is: ", name});
      }
    }
  }
  LogLine({"the install folder matches the seal: ", std::to_string(manifest_.entries().size()), " sealed files"});
}

std::string SealedPayload::SummaryPart() const { return ", " + std::to_string(notSealed_) + " not sealed"; }

}  // namespace vantu
