// The seal that scripts/seal writes into setup.exe: the manifest
// (seal_manifest.h) as the module's raw data resource named PAYLOAD_SEAL.
// An image without that resource is unsealed and deploys as it always did;
// one whose resource does not parse is malformed, and a run must then end
// before it reads or creates anything.
#pragma once

#include <windows.h>

#include <string>

#include "seal/seal_manifest.h"

namespace vantu {

// Where the seal lies among a module's resources: type RT_RCDATA, this name.
constexpr WORD kSealResourceType = 10;
constexpr wchar_t kSealResourceName[] = L"PAYLOAD_SEAL";

enum class SealState {
  kUnsealed,   // no such resource
  kSealed,     // the resource holds a manifest
  kMalformed,  // the resource is there but holds no manifest, or cannot be read
};

struct EmbeddedSeal {
  SealState state = SealState::kUnsealed;
  SealManifest manifest;  // kSealed only
  std::string why;        // kMalformed only: what is wrong
};

// The seal of `module`: null for the running module, or a module loaded as
// a data file (LoadLibraryExW with LOAD_LIBRARY_AS_DATAFILE). A resource
// that cannot be looked up for another reason than its absence counts as
// malformed, never as unsealed.
EmbeddedSeal ReadEmbeddedSeal(HMODULE module);

}  // namespace vantu
