#include "image_loader.h"

#include <cstddef>
#include <cstring>
#include <optional>
#include <vector>

#include "common/file_handle.h"

namespace export_client {
namespace {

using tools::FileHandle;

bool ReadWholeFile(const std::string& path, std::vector<BYTE>& bytes) {
  FileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart > 256 * 1024 * 1024) return false;
  bytes.resize(static_cast<size_t>(size.QuadPart));
  DWORD read = 0;
  return ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) && read == bytes.size();
}

template <typename T>
T Load(const BYTE* at) {
  T value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

template <typename T>
void Store(BYTE* at, T value) {
  std::memcpy(at, &value, sizeof value);
}

// The executable as it is on disk: its preferred base and what lies at an
// image offset (RVA) before any loader touched it.
class ImageFile {
 public:
  bool Open(const std::string& path, std::string& error) {
    if (!ReadWholeFile(path, bytes_)) {
      error = "cannot read " + path;
      return false;
    }
    if (bytes_.size() < sizeof(IMAGE_DOS_HEADER)) return Bad(error);
    const auto dos = Load<IMAGE_DOS_HEADER>(bytes_.data());
    const auto ntOffset = static_cast<size_t>(dos.e_lfanew);
    if (dos.e_magic != IMAGE_DOS_SIGNATURE || ntOffset + sizeof(IMAGE_NT_HEADERS32) > bytes_.size()) return Bad(error);
    const auto nt = Load<IMAGE_NT_HEADERS32>(bytes_.data() + ntOffset);
    if (nt.Signature != IMAGE_NT_SIGNATURE || nt.OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
      return Bad(error);
    }
    preferredBase_ = nt.OptionalHeader.ImageBase;
    headersSize_ = nt.OptionalHeader.SizeOfHeaders;
    const size_t sectionsAt =
        ntOffset + offsetof(IMAGE_NT_HEADERS32, OptionalHeader) + nt.FileHeader.SizeOfOptionalHeader;
    for (WORD i = 0; i < nt.FileHeader.NumberOfSections; ++i) {
      const size_t at = sectionsAt + i * sizeof(IMAGE_SECTION_HEADER);
      if (at + sizeof(IMAGE_SECTION_HEADER) > bytes_.size()) return Bad(error);
      sections_.push_back(Load<IMAGE_SECTION_HEADER>(bytes_.data() + at));
    }
    return true;
  }

  ULONG_PTR preferredBase() const { return preferredBase_; }

  // The 32-bit value the file holds at `rva`; nothing when the file holds
  // no data there.
  std::optional<DWORD> DwordAt(DWORD rva) const {
    const std::optional<size_t> offset = FileOffset(rva);
    if (!offset || *offset + sizeof(DWORD) > bytes_.size()) return std::nullopt;
    return Load<DWORD>(bytes_.data() + *offset);
  }

 private:
  bool Bad(std::string& error) {
    error = "not a 32-bit PE image";
    return false;
  }

  std::optional<size_t> FileOffset(DWORD rva) const {
    if (rva < headersSize_) return rva;
    for (const IMAGE_SECTION_HEADER& section : sections_) {
      if (rva >= section.VirtualAddress && rva - section.VirtualAddress < section.SizeOfRawData) {
        return static_cast<size_t>(section.PointerToRawData) + (rva - section.VirtualAddress);
      }
    }
    return std::nullopt;
  }

  std::vector<BYTE> bytes_;
  std::vector<IMAGE_SECTION_HEADER> sections_;
  ULONG_PTR preferredBase_ = 0;
  DWORD headersSize_ = 0;
};

DWORD WritableProtection(DWORD protection) {
  const DWORD modifiers = protection & ~0xFFu;
  switch (protection & 0xFFu) {
    case PAGE_READONLY:
      return PAGE_READWRITE | modifiers;
    case PAGE_EXECUTE:
    case PAGE_EXECUTE_READ:
      return PAGE_EXECUTE_READWRITE | modifiers;
    default:
      return protection;
  }
}

// Makes the mapped image writable for its lifetime and restores each
// region's protection afterwards.
class WritableImage {
 public:
  WritableImage() = default;
  ~WritableImage() {
    for (auto region = changed_.rbegin(); region != changed_.rend(); ++region) {
      DWORD old = 0;
      VirtualProtect(region->address, region->size, region->protection, &old);
    }
  }
  WritableImage(const WritableImage&) = delete;
  WritableImage& operator=(const WritableImage&) = delete;

  bool Open(BYTE* base, SIZE_T size, std::string& error) {
    BYTE* const end = base + size;
    for (BYTE* at = base; at < end;) {
      MEMORY_BASIC_INFORMATION info;
      if (!VirtualQuery(at, &info, sizeof info)) {
        error = "VirtualQuery failed: " + std::to_string(GetLastError());
        return false;
      }
      BYTE* const regionStart = static_cast<BYTE*>(info.BaseAddress);
      BYTE* const regionEnd = regionStart + info.RegionSize <= end ? regionStart + info.RegionSize : end;
      if (info.State == MEM_COMMIT) {
        const DWORD wanted = WritableProtection(info.Protect);
        if (wanted != info.Protect) {
          DWORD old = 0;
          const SIZE_T length = static_cast<SIZE_T>(regionEnd - regionStart);
          if (!VirtualProtect(regionStart, length, wanted, &old)) {
            error = "VirtualProtect failed: " + std::to_string(GetLastError());
            return false;
          }
          changed_.push_back(Region{regionStart, length, old});
        }
      }
      at = regionEnd;
    }
    return true;
  }

 private:
  struct Region {
    void* address;
    SIZE_T size;
    DWORD protection;
  };
  std::vector<Region> changed_;
};

class MappedImage {
 public:
  explicit MappedImage(HMODULE module) : base_(reinterpret_cast<BYTE*>(module)) {}

  bool Check(std::string& error) {
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base_);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE) return Bad(error);
    nt_ = reinterpret_cast<IMAGE_NT_HEADERS32*>(base_ + dos->e_lfanew);
    if (nt_->Signature != IMAGE_NT_SIGNATURE || nt_->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
      return Bad(error);
    }
    return true;
  }

  BYTE* base() const { return base_; }
  DWORD size() const { return nt_->OptionalHeader.SizeOfImage; }
  bool Holds(DWORD rva, DWORD bytes) const { return rva <= size() && bytes <= size() - rva; }
  IMAGE_DATA_DIRECTORY Directory(int index) const {
    if (static_cast<DWORD>(index) >= nt_->OptionalHeader.NumberOfRvaAndSizes) return IMAGE_DATA_DIRECTORY{0, 0};
    return nt_->OptionalHeader.DataDirectory[index];
  }

 private:
  bool Bad(std::string& error) {
    error = "the mapped module is not a 32-bit PE image";
    return false;
  }

  BYTE* base_;
  IMAGE_NT_HEADERS32* nt_ = nullptr;
};

// Walks the base relocation blocks; `visit(type, rva)` returns false to
// stop. False when a block is malformed.
template <typename Visit>
bool ForEachRelocation(const MappedImage& image, Visit visit, std::string& error) {
  const IMAGE_DATA_DIRECTORY directory = image.Directory(IMAGE_DIRECTORY_ENTRY_BASERELOC);
  if (!image.Holds(directory.VirtualAddress, directory.Size)) {
    error = "relocation directory outside the image";
    return false;
  }
  DWORD at = directory.VirtualAddress;
  const DWORD end = directory.VirtualAddress + directory.Size;
  while (end - at >= sizeof(IMAGE_BASE_RELOCATION)) {
    const auto block = Load<IMAGE_BASE_RELOCATION>(image.base() + at);
    if (block.SizeOfBlock == 0) break;
    if (block.SizeOfBlock < sizeof(IMAGE_BASE_RELOCATION) || block.SizeOfBlock > end - at) {
      error = "malformed relocation block";
      return false;
    }
    const DWORD entries = (block.SizeOfBlock - sizeof(IMAGE_BASE_RELOCATION)) / sizeof(WORD);
    for (DWORD i = 0; i < entries; ++i) {
      const auto entry = Load<WORD>(image.base() + at + sizeof(IMAGE_BASE_RELOCATION) + i * sizeof(WORD));
      const int type = entry >> 12;
      const DWORD rva = block.VirtualAddress + (entry & 0x0FFFu);
      if (type == IMAGE_REL_BASED_ABSOLUTE) continue;
      if (!image.Holds(rva, sizeof(DWORD))) {
        error = "relocation outside the image";
        return false;
      }
      if (!visit(type, rva)) return true;
    }
    at += block.SizeOfBlock;
  }
  return true;
}

bool Relocate(const MappedImage& image, const ImageFile& file, LoadReport& report, std::string& error) {
  const DWORD delta = static_cast<DWORD>(report.base - report.preferredBase);
  if (delta == 0) return true;
  if (image.Directory(IMAGE_DIRECTORY_ENTRY_BASERELOC).Size == 0) {
    error = "the image is not at its preferred base and has no relocations";
    return false;
  }
  // Has the loader applied them? The first 32-bit fix-up tells: the file's
  // value, or the file's value plus the delta.
  std::optional<DWORD> probe;
  if (!ForEachRelocation(
          image,
          [&](int type, DWORD rva) {
            if (type != IMAGE_REL_BASED_HIGHLOW) return true;
            probe = rva;
            return false;
          },
          error)) {
    return false;
  }
  if (!probe) return true;
  const std::optional<DWORD> original = file.DwordAt(*probe);
  const auto mapped = Load<DWORD>(image.base() + *probe);
  if (!original) {
    error = "the relocated value is not in the file";
    return false;
  }
  if (mapped == *original + delta) {
    report.relocatedByLoader = true;
    return true;
  }
  if (mapped != *original) {
    error = "the image was changed in an unexpected way at a relocation";
    return false;
  }
  bool supported = true;
  const bool walked = ForEachRelocation(
      image,
      [&](int type, DWORD rva) {
        BYTE* const at = image.base() + rva;
        switch (type) {
          case IMAGE_REL_BASED_HIGHLOW:
            Store<DWORD>(at, Load<DWORD>(at) + delta);
            break;
          case IMAGE_REL_BASED_HIGH:
            Store<WORD>(at, static_cast<WORD>(Load<WORD>(at) + (delta >> 16)));
            break;
          case IMAGE_REL_BASED_LOW:
            Store<WORD>(at, static_cast<WORD>(Load<WORD>(at) + (delta & 0xFFFFu)));
            break;
          default:
            error = "unsupported relocation type " + std::to_string(type);
            supported = false;
            return false;
        }
        ++report.relocationsApplied;
        return true;
      },
      error);
  return walked && supported;
}

// A string inside the image, or null when it does not end inside it.
const char* ImageString(const MappedImage& image, DWORD rva) {
  if (!image.Holds(rva, 1)) return nullptr;
  const auto* text = reinterpret_cast<const char*>(image.base() + rva);
  const DWORD room = image.size() - rva;
  return std::memchr(text, 0, room) ? text : nullptr;
}

bool ResolveImports(const MappedImage& image, const ImageFile& file, LoadReport& report, std::string& error) {
  const IMAGE_DATA_DIRECTORY directory = image.Directory(IMAGE_DIRECTORY_ENTRY_IMPORT);
  if (directory.Size == 0) return true;
  for (DWORD at = directory.VirtualAddress;; at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
    if (!image.Holds(at, sizeof(IMAGE_IMPORT_DESCRIPTOR))) {
      error = "import directory outside the image";
      return false;
    }
    const auto descriptor = Load<IMAGE_IMPORT_DESCRIPTOR>(image.base() + at);
    if (descriptor.Name == 0) return true;
    const char* dllName = ImageString(image, descriptor.Name);
    if (!dllName) {
      error = "import name outside the image";
      return false;
    }
    // Without a lookup table the file's address table holds the names.
    const bool hasLookupTable = descriptor.OriginalFirstThunk != 0;
    HMODULE dll = nullptr;
    for (DWORD i = 0;; ++i) {
      const DWORD slot = descriptor.FirstThunk + i * sizeof(DWORD);
      const DWORD lookupRva =
          (hasLookupTable ? descriptor.OriginalFirstThunk : descriptor.FirstThunk) + i * sizeof(DWORD);
      std::optional<DWORD> lookup;
      if (hasLookupTable && image.Holds(lookupRva, sizeof(DWORD))) {
        lookup = Load<DWORD>(image.base() + lookupRva);
      } else if (!hasLookupTable) {
        lookup = file.DwordAt(lookupRva);
      }
      if (!lookup || !image.Holds(slot, sizeof(DWORD))) {
        error = std::string("import table of ") + dllName + " outside the image";
        return false;
      }
      if (*lookup == 0) break;
      // A slot that still holds what the file holds was not filled in.
      const std::optional<DWORD> original = file.DwordAt(slot);
      if (!original) {
        error = std::string("import address table of ") + dllName + " not in the file";
        return false;
      }
      if (Load<DWORD>(image.base() + slot) != *original) {
        ++report.importsFound;
        continue;
      }
      if (!dll) dll = LoadLibraryA(dllName);
      if (!dll) {
        error = std::string("cannot load ") + dllName + ": error " + std::to_string(GetLastError());
        return false;
      }
      FARPROC address = nullptr;
      std::string what;
      if (IMAGE_SNAP_BY_ORDINAL32(*lookup)) {
        const auto ordinal = static_cast<WORD>(IMAGE_ORDINAL32(*lookup));
        address = GetProcAddress(dll, MAKEINTRESOURCEA(ordinal));
        what = "#" + std::to_string(ordinal);
      } else {
        const char* name = ImageString(image, *lookup + offsetof(IMAGE_IMPORT_BY_NAME, Name));
        if (!name) {
          error = std::string("import name for ") + dllName + " outside the image";
          return false;
        }
        address = GetProcAddress(dll, name);
        what = name;
      }
      if (!address) {
        error = std::string("cannot find ") + dllName + "!" + what;
        return false;
      }
      Store<DWORD>(image.base() + slot, static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(address)));
      ++report.importsResolved;
    }
  }
}

}  // namespace

bool CompleteImageLoad(HMODULE module, const std::string& path, LoadReport& report, std::string& error) {
  MappedImage image(module);
  if (!image.Check(error)) return false;
  ImageFile file;
  if (!file.Open(path, error)) return false;
  report.base = reinterpret_cast<ULONG_PTR>(image.base());
  report.preferredBase = file.preferredBase();
  WritableImage writable;
  if (!writable.Open(image.base(), image.size(), error)) return false;
  if (!Relocate(image, file, report, error)) return false;
  if (!ResolveImports(image, file, report, error)) return false;
  FlushInstructionCache(GetCurrentProcess(), image.base(), image.size());
  return true;
}

}  // namespace export_client
