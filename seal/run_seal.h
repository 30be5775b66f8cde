// The seal of the running image, for one run. An image that scripts/seal
// sealed carries a manifest of its payload: then setup.ini is checked
// against it as the run takes it (before any setting is read), and the copy
// places only what the seal lists, each file only when its bytes are the
// sealed ones (sealed_payload.h). An unsealed image deploys as it always
// did.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "deploy/payload_rule.h"
#include "seal/embedded_seal.h"
#include "seal/sealed_payload.h"
#include "seal/sha256_provider.h"

namespace vantu {

class RunSeal {
 public:
  enum class Outcome {
    kUnsealed,
    kSealed,
    kMalformed,   // the seal cannot be read
    kUncheckable, // SHA-256 is not available
    kMismatch,    // setup.ini differs from the seal
  };

  RunSeal() = default;
  RunSeal(const RunSeal&) = delete;
  RunSeal& operator=(const RunSeal&) = delete;

  // Reads the seal of the running image, and for a sealed one opens
  // SHA-256. `imageName`: the running image's file name. A refusal is said
  // in the log and on standard error.
  Outcome Read(const std::wstring& imageName);

  // For a sealed image that lists setup.ini: the check of its bytes as the
  // run takes them; null otherwise.
  std::unique_ptr<FileCheck> SetupIniCheck();

  // Whether setup.ini, as the run took it, is what the seal says: there and
  // matching, or absent from both. `taken`: the run took it, `missing`: there
  // is none; neither: it is there but could not be taken (`why`). `check`
  // is SetupIniCheck's, fed with the bytes taken (`size` of them).
  Outcome JudgeSetupIni(bool taken, bool missing, const std::string& why, FileCheck* check, uint64_t size);

  // What the copy holds the payload to; null for an unsealed image.
  PayloadRule* rule() { return payload_.get(); }

 private:
  Outcome Refuse(Outcome outcome, const std::string& why);

  EmbeddedSeal seal_;
  Sha256Provider hasher_;
  std::unique_ptr<SealedPayload> payload_;
};

}  // namespace vantu
