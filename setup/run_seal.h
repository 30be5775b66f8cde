// The seal of the running image, for one run. An image that scripts/seal
// sealed carries a manifest of its payload: then setup.ini is checked
// against it before any setting is read and held, for the rest of the run,
// so that nobody can change it; the copy takes only what the seal lists and
// checks the install folder before the launch (deploy/sealed_copy.h). An
// unsealed image deploys as it always did.
#pragma once

#include "base/unique_handle.h"
#include "deploy/sealed_copy.h"
#include "seal/embedded_seal.h"
#include "seal/sha256_provider.h"

namespace vantu {

class RunSeal {
 public:
  enum class Outcome {
    kUnsealed,
    kSealed,   // setup.ini matches the seal, and is held
    kRefused,  // a malformed seal, or setup.ini differs: the run must end with -1
  };

  RunSeal() = default;
  RunSeal(const RunSeal&) = delete;
  RunSeal& operator=(const RunSeal&) = delete;

  // Reads the seal and, for a sealed image, checks setup.ini. A refusal is
  // said in the log and on standard error.
  Outcome Prepare();

  // What the copy needs; null for an unsealed image.
  const SealedCopy* copy() const { return sealed_ ? &copy_ : nullptr; }

 private:
  Outcome Refuse(const std::string& why);

  EmbeddedSeal seal_;
  Sha256Provider hasher_;
  SealedCopy copy_;
  UniqueFileHandle setupIni_;  // held without write sharing while the run lasts
  bool sealed_ = false;
};

}  // namespace vantu
