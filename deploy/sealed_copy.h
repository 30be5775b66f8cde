// What a sealed setup.exe deploys: only the files its seal lists (and its
// own image, which no seal can list: it is the image that runs, and a
// signature covers it), and, before the launch, the install folder checked
// against the seal, file by file, byte for byte. There only administrators
// can write, so what is checked there is what runs.
#pragma once

#include <string>

#include "seal/seal_manifest.h"
#include "seal/sha256_provider.h"

namespace vantu {

struct SealedCopy {
  const SealManifest* manifest = nullptr;
  std::wstring imageName;           // the running image's file name
  Sha256Provider* hasher = nullptr;  // open
};

// Whether a sealed copy takes the program folder's entry `name`: a listed
// file, or the image itself.
bool SealedCopyTakes(const SealedCopy& sealed, const std::wstring& name);

// Every file the seal lists is in `installFolder` (ending in a backslash)
// with the seal's size and SHA-256. Files there that the seal does not list
// (left by an earlier run, or written by the service) are left as they are
// and named in the log. False on any difference, a missing file or one that
// cannot be read; the log names each file and what differed.
bool CheckInstallFolder(const SealedCopy& sealed, const std::wstring& installFolder);

}  // namespace vantu
