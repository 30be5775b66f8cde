#include "seal/run_seal.h"

#include <windows.h>

#include "notice/notice.h"
#include "runlog/run_log.h"

namespace vantu {

RunSeal::Outcome RunSeal::Refuse(Outcome outcome, const std::string& why) {
  payload_.reset();
  LogLine({"the payload does not match the seal: ", why, ": nothing is read, created or run"});
  WriteStandardErrorLine(("the payload does not match the seal: " + why).c_str());
  return outcome;
}

RunSeal::Outcome RunSeal::Read(const std::wstring& imageName) {
  seal_ = ReadEmbeddedSeal(nullptr);
  if (seal_.state == SealState::kUnsealed) return Outcome::kUnsealed;
  if (seal_.state == SealState::kMalformed) {
    return Refuse(Outcome::kMalformed, "the seal of setup.exe is malformed (" + seal_.why + ")");
  }
  std::string why;
  if (!hasher_.Open(&why)) return Refuse(Outcome::kUncheckable, "SHA-256 is not available (" + why + ")");
  payload_ = std::make_unique<SealedPayload>(seal_.manifest, imageName, hasher_);
  return Outcome::kSealed;
}

std::unique_ptr<FileCheck> RunSeal::SetupIniCheck() { return payload_ ? payload_->CheckFor(L"setup.ini") : nullptr; }

RunSeal::Outcome RunSeal::JudgeSetupIni(bool taken, bool missing, const std::string& why, FileCheck* check,
                                        uint64_t size) {
  if (!payload_) return Outcome::kUnsealed;
  const bool sealed = seal_.manifest.Find(L"setup.ini") != nullptr;
  if (!sealed && !missing) return Refuse(Outcome::kMismatch, "setup.ini is not sealed");
  if (sealed && !taken) {
    return Refuse(Outcome::kMismatch, "setup.ini cannot be read (" + (missing ? ErrorText(ERROR_FILE_NOT_FOUND) : why) + ")");
  }
  // The check logged what differed.
  if (sealed && !check->Passed(size)) return Refuse(Outcome::kMismatch, "setup.ini differs from the seal");
  LogLine({"sealed: ", std::to_string(seal_.manifest.entries().size()), " files; setup.ini ",
           sealed ? "matches the seal, and is held until the run ends" : "is neither sealed nor there"});
  return Outcome::kSealed;
}

}  // namespace vantu
