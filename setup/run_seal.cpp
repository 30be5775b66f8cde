#include "setup/run_seal.h"

#include <windows.h>

#include <string>

#include "base/path_functions.h"
#include "notice/notice.h"
#include "runlog/run_log.h"
#include "seal/file_for_hashing.h"
#include "seal/sha256_digest.h"
#include "settings/settings.h"

namespace vantu {

RunSeal::Outcome RunSeal::Refuse(const std::string& why) {
  LogLine({"the payload does not match the seal: ", why, ": nothing is read, created or run"});
  WriteStandardErrorLine(("the payload does not match the seal: " + why).c_str());
  return Outcome::kRefused;
}

RunSeal::Outcome RunSeal::Prepare() {
  seal_ = ReadEmbeddedSeal(nullptr);
  if (seal_.state == SealState::kUnsealed) return Outcome::kUnsealed;
  if (seal_.state == SealState::kMalformed) return Refuse("the seal of setup.exe is malformed (" + seal_.why + ")");
  std::string why;
  if (!hasher_.Open(&why)) return Refuse("SHA-256 is not available (" + why + ")");

  const std::wstring iniPath = SetupIniPath();
  const SealEntry* entry = seal_.manifest.Find(L"setup.ini");
  uint64_t size = 0;
  const DWORD opened = OpenFileForHashing(iniPath, &setupIni_, &size);
  if (opened == ERROR_FILE_NOT_FOUND && !entry) {
    // Sealed without setup.ini, and there is none: every setting is missing,
    // as it would be unsealed.
  } else if (opened != ERROR_SUCCESS) {
    return Refuse(entry ? "setup.ini cannot be read (" + ErrorText(opened) + ")" : std::string("setup.ini is not sealed"));
  } else if (!entry) {
    return Refuse("setup.ini is not sealed");
  } else {
    Sha256Digest digest{};
    uint64_t hashed = 0;
    if (!hasher_.HashFile(setupIni_.get(), &digest, &hashed, &why)) return Refuse("setup.ini: " + why);
    if (size != entry->size || hashed != entry->size) {
      return Refuse("setup.ini has " + std::to_string(hashed) + " bytes, sealed with " + std::to_string(entry->size));
    }
    if (digest != entry->digest) {
      return Refuse("setup.ini: SHA-256 " + DigestText(digest) + ", sealed with " + DigestText(entry->digest));
    }
  }
  copy_ = SealedCopy{&seal_.manifest, FileNamePart(ModulePath()), &hasher_};
  sealed_ = true;
  LogLine({"sealed: ", std::to_string(seal_.manifest.entries().size()), " files; setup.ini ",
           entry ? "matches the seal, and is held until the run ends" : "is neither sealed nor there"});
  return Outcome::kSealed;
}

}  // namespace vantu
