#include "seal/embedded_seal.h"

#include "runlog/run_log.h"

namespace vantu {
namespace {

EmbeddedSeal Malformed(std::string why) {
  EmbeddedSeal seal;
  seal.state = SealState::kMalformed;
  seal.why = std::move(why);
  return seal;
}

}  // namespace

EmbeddedSeal ReadEmbeddedSeal(HMODULE module) {
  const HRSRC resource = FindResourceW(module, kSealResourceName, MAKEINTRESOURCEW(kSealResourceType));
  if (!resource) {
    const DWORD error = GetLastError();
    // The module has no resources at all, none of the type, or none of the name.
    if (error == ERROR_RESOURCE_DATA_NOT_FOUND || error == ERROR_RESOURCE_TYPE_NOT_FOUND ||
        error == ERROR_RESOURCE_NAME_NOT_FOUND) {
      return EmbeddedSeal();
    }
    return Malformed("the seal could not be looked up: " + ErrorText(error));
  }
  // A module's resources stay mapped for as long as the module: nothing to free.
  const DWORD size = SizeofResource(module, resource);
  const HGLOBAL loaded = LoadResource(module, resource);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (!data) return Malformed("the seal could not be read: " + ErrorText(GetLastError()));
  EmbeddedSeal seal;
  std::string why;
  if (!ParseSealManifest(static_cast<const BYTE*>(data), size, &seal.manifest, &why)) {
    return Malformed("the seal holds no manifest: " + why);
  }
  seal.state = SealState::kSealed;
  return seal;
}

}  // namespace vantu
