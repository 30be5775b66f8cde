// seal_reader.exe: reads the seal of an image the way setup.exe reads its
// own (seal/embedded_seal.h), and checks a folder against it with the same
// provider, for the tests of scripts/seal.
//
//   seal_reader.exe <image> [<folder>]
//
// Loads <image> as a data file (LoadLibraryExW, LOAD_LIBRARY_AS_DATAFILE)
// and prints one JSON line: {"state": "unsealed"}, {"state": "malformed",
// "why": ...} or {"state": "sealed", "files": [{"name", "size", "sha256"},
// ...]} with the files in the manifest's order. Names are UTF-8 (written as
// the tools write text: bytes of 0x80 and above as \u00XX). With <folder>,
// each file there of a listed name is opened for hashing and hashed by
// bcrypt.dll, and its entry gets "found": {"size", "sha256"} or "error":
// the reason.
//
// Exit code: 0 the image was read (whatever its state), 1 it could not be
// loaded or the provider could not be opened, 2 bad command line.
#include <windows.h>

#include <cstdio>
#include <string>

#include "common/json_text.h"
#include "seal/embedded_seal.h"
#include "seal/file_for_hashing.h"
#include "seal/sha256_provider.h"

namespace {

std::wstring Wide(const char* text) {
  const int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  std::wstring wide(length > 0 ? static_cast<size_t>(length) : 0, L'\0');
  if (length > 0) MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], length);
  if (!wide.empty()) wide.pop_back();  // the terminator
  return wide;
}

// What the folder holds under the entry's name, as JSON members.
std::string Found(vantu::Sha256Provider& provider, const std::wstring& folder, const vantu::SealEntry& entry) {
  vantu::UniqueFileHandle file;
  uint64_t size = 0;
  if (const DWORD error = vantu::OpenFileForHashing(folder + L"\\" + entry.name, &file, &size)) {
    return ", \"error\": " + tools::JsonString("OpenFileForHashing: " + std::to_string(error));
  }
  vantu::Sha256Digest digest{};
  uint64_t read = 0;
  std::string why;
  if (!provider.HashFile(file.get(), &digest, &read, &why)) return ", \"error\": " + tools::JsonString(why);
  return ", \"found\": {\"size\": " + std::to_string(read) + ", \"sha256\": \"" + vantu::DigestText(digest) + "\"}";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: seal_reader.exe <image> [<folder>]\n");
    return 2;
  }
  const std::wstring image = Wide(argv[1]);
  const HMODULE module = LoadLibraryExW(image.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!module) {
    std::fprintf(stderr, "seal_reader: cannot load %s: error %lu\n", argv[1], GetLastError());
    return 1;
  }
  const vantu::EmbeddedSeal seal = vantu::ReadEmbeddedSeal(module);
  vantu::Sha256Provider provider;
  std::string why;
  if (argc == 3 && !provider.Open(&why)) {
    std::fprintf(stderr, "seal_reader: %s\n", why.c_str());
    FreeLibrary(module);
    return 1;
  }
  std::string line;
  switch (seal.state) {
    case vantu::SealState::kUnsealed:
      line = "{\"state\": \"unsealed\"}";
      break;
    case vantu::SealState::kMalformed:
      line = "{\"state\": \"malformed\", \"why\": " + tools::JsonString(seal.why) + "}";
      break;
    case vantu::SealState::kSealed:
      line = "{\"state\": \"sealed\", \"files\": [";
      for (const auto& entry : seal.manifest.entries()) {
        if (line.back() == '}') line += ", ";
        line += "{\"name\": " + tools::JsonString(vantu::SealNameText(entry.name)) +
                ", \"size\": " + std::to_string(entry.size) + ", \"sha256\": \"" + vantu::DigestText(entry.digest) +
                "\"";
        if (argc == 3) line += Found(provider, Wide(argv[2]), entry);
        line += "}";
      }
      line += "]}";
      break;
  }
  std::printf("%s\n", line.c_str());
  FreeLibrary(module);
  return 0;
}
