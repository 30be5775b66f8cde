// What a sealed setup.exe deploys (deploy/payload_rule.h): exactly the files
// its seal lists, each only when its bytes are the sealed ones, and its own
// image, which no seal can list (it is the image that runs, and a signature
// covers it). A file beside setup.exe that the seal does not list (a
// version.dll dropped into Downloads, another .exe) is not placed and is no
// error; a listed file that is missing fails the copy.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "deploy/payload_rule.h"
#include "seal/seal_manifest.h"
#include "seal/sha256_provider.h"

namespace vantu {

class SealedPayload : public PayloadRule {
 public:
  // `manifest` and `hasher` (open) outlive this.
  SealedPayload(const SealManifest& manifest, std::wstring imageName, Sha256Provider& hasher);

  bool MayPlace(const std::wstring& name) override;
  // Null for the image; for a listed file, a check of its size and SHA-256
  // that logs what differed:
  //   sealed file fan.dll differs from the seal: SHA-256 ..., sealed with ...
  std::unique_ptr<FileCheck> CheckFor(const std::wstring& name) override;
  std::vector<std::wstring> NotSeen() const override;
  // Hashes the file in place, reading it with nobody able to write it
  // meanwhile.
  bool CheckInPlace(const std::wstring& installFolder, const std::wstring& name) override;
  // Names each file in the install folder that the seal does not list (left
  // by an earlier run, or written by the service; left as it is).
  void LogInstallFolder(const std::wstring& installFolder) override;
  std::string SummaryPart() const override;

 private:
  const SealManifest& manifest_;
  std::wstring imageName_;
  Sha256Provider& hasher_;
  std::vector<bool> seen_;  // per entry of the manifest
  unsigned notSealed_ = 0;
};

}  // namespace vantu
