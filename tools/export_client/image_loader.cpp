#include "image_loader.h"

#include <cstddef>
#include <cstring>
#include <optional>
#include <vector>

#include "base/unique_handle.h"

namespace export_client {
namespace {

using FileHandle = vantu::UniqueFileHandle;

// What differs between the image format of a 32-bit process (PE32) and that
// of a 64-bit one (PE32+), as far as completing a load goes.
template <size_t PointerSize>
struct ImageFormat;

template <>
struct ImageFormat<4> {
  static constexpr WORD kMagic = IMAGE_NT_OPTIONAL_HDR32_MAGIC;
  using Thunk = DWORD;  // an import lookup or address table entry
  static constexpr Thunk kOrdinalFlag = IMAGE_ORDINAL_FLAG32;
};

template <>
struct ImageFormat<8> {
  static constexpr WORD kMagic = IMAGE_NT_OPTIONAL_HDR64_MAGIC;
  using Thunk = ULONGLONG;
  static constexpr Thunk kOrdinalFlag = IMAGE_ORDINAL_FLAG64;
};

// The format this process loads.
using Native = ImageFormat<sizeof(void*)>;
using Thunk = Native::Thunk;

constexpr DWORD kThunkSize = sizeof(Thunk);
constexpr DWORD kRelocationBlockHeader = sizeof(IMAGE_BASE_RELOCATION);
constexpr DWORD kRelocationEntrySize = sizeof(WORD);
constexpr DWORD kImportNameOffset = offsetof(IMAGE_IMPORT_BY_NAME, Name);
// Without the ordinal flag, a lookup entry holds the RVA of a hint/name
// entry in its low 31 bits; the bits above must be clear.
constexpr Thunk kNameRvaMask = 0x7FFFFFFF;

bool ReadWholeFile(const std::string& path, std::vector<BYTE>& bytes, std::string& error) {
  const auto failed = [&error](const char* what) {
    error = std::string("cannot read the file: ") + what + " failed, error " + std::to_string(GetLastError());
    return false;
  };
  FileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return failed("CreateFileA");
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.get(), &size)) return failed("GetFileSizeEx");
  if (size.QuadPart > 256 * 1024 * 1024) {
    error = "the file is larger than 256 MiB";
    return false;
  }
  bytes.resize(static_cast<size_t>(size.QuadPart));
  DWORD read = 0;
  if (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) return failed("ReadFile");
  if (read != bytes.size()) {
    error = "cannot read the file: it ended early";
    return false;
  }
  return true;
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

// "32-bit" or "64-bit", after an optional header's magic.
const char* Bitness(WORD magic) { return magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC ? "64-bit" : "32-bit"; }

// What the loader needs from an image's headers, read alike from PE32 and
// PE32+ headers.
struct ImageHeaders {
  WORD magic = 0;  // IMAGE_NT_OPTIONAL_HDR32_MAGIC or IMAGE_NT_OPTIONAL_HDR64_MAGIC
  ULONGLONG imageBase = 0;
  DWORD sizeOfImage = 0;
  DWORD sizeOfHeaders = 0;
  DWORD directoryCount = 0;
  IMAGE_DATA_DIRECTORY directories[IMAGE_NUMBEROF_DIRECTORY_ENTRIES] = {};
  WORD sectionCount = 0;
  size_t sectionsAt = 0;  // offset of the section table from the image's start

  IMAGE_DATA_DIRECTORY Directory(int index) const {
    if (index < 0 || static_cast<DWORD>(index) >= directoryCount) return IMAGE_DATA_DIRECTORY{0, 0};
    return directories[index];
  }
};

template <typename OptionalHeader>
void TakeOptionalHeader(const OptionalHeader& optional, ImageHeaders& headers) {
  headers.imageBase = optional.ImageBase;
  headers.sizeOfImage = optional.SizeOfImage;
  headers.sizeOfHeaders = optional.SizeOfHeaders;
  headers.directoryCount = optional.NumberOfRvaAndSizes < IMAGE_NUMBEROF_DIRECTORY_ENTRIES
                               ? optional.NumberOfRvaAndSizes
                               : IMAGE_NUMBEROF_DIRECTORY_ENTRIES;
  std::memcpy(headers.directories, optional.DataDirectory, sizeof headers.directories);
}

// The headers among the first `size` bytes at `data`; false when they are
// not those of a PE32 or PE32+ image.
bool ReadHeaders(const BYTE* data, size_t size, ImageHeaders& headers) {
  if (size < sizeof(IMAGE_DOS_HEADER)) return false;
  const auto dos = Load<IMAGE_DOS_HEADER>(data);
  if (dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew < 0) return false;
  const auto ntOffset = static_cast<size_t>(dos.e_lfanew);
  // Signature and file header are alike in both formats, and so is the
  // optional header's first field, its magic.
  constexpr size_t optionalAt = offsetof(IMAGE_NT_HEADERS32, OptionalHeader);
  static_assert(optionalAt == offsetof(IMAGE_NT_HEADERS64, OptionalHeader), "the formats differ before the magic");
  if (ntOffset > size || size - ntOffset < optionalAt + sizeof(WORD)) return false;
  if (Load<DWORD>(data + ntOffset) != IMAGE_NT_SIGNATURE) return false;
  const auto fileHeader = Load<IMAGE_FILE_HEADER>(data + ntOffset + offsetof(IMAGE_NT_HEADERS32, FileHeader));
  headers.magic = Load<WORD>(data + ntOffset + optionalAt);
  if (headers.magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
    if (size - ntOffset < sizeof(IMAGE_NT_HEADERS32)) return false;
    TakeOptionalHeader(Load<IMAGE_NT_HEADERS32>(data + ntOffset).OptionalHeader, headers);
  } else if (headers.magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
    if (size - ntOffset < sizeof(IMAGE_NT_HEADERS64)) return false;
    TakeOptionalHeader(Load<IMAGE_NT_HEADERS64>(data + ntOffset).OptionalHeader, headers);
  } else {
    return false;
  }
  headers.sectionCount = fileHeader.NumberOfSections;
  headers.sectionsAt = ntOffset + optionalAt + fileHeader.SizeOfOptionalHeader;
  return true;
}

// False, with a message naming `what`, when the image is not of this
// process's bitness.
bool OfOwnBitness(const ImageHeaders& headers, const std::string& what, std::string& error) {
  if (headers.magic == Native::kMagic) return true;
  error = what + " is a " + Bitness(headers.magic) + " image, and this export_client.exe is " +
          Bitness(Native::kMagic) + ": a " + Bitness(headers.magic) + " setup.exe needs the export_client.exe of the " +
          Bitness(headers.magic) + " build";
  return false;
}

// The executable as it is on disk: its preferred base and what lies at an
// image offset (RVA) before any loader touched it.
class ImageFile {
 public:
  bool Open(const std::string& path, std::string& error) {
    if (!ReadWholeFile(path, bytes_, error)) return false;
    if (!ReadHeaders(bytes_.data(), bytes_.size(), headers_)) {
      error = "the file is not a PE image";
      return false;
    }
    for (WORD i = 0; i < headers_.sectionCount; ++i) {
      const size_t at = headers_.sectionsAt + i * sizeof(IMAGE_SECTION_HEADER);
      if (at + sizeof(IMAGE_SECTION_HEADER) > bytes_.size()) {
        error = "the file's section table is cut short";
        return false;
      }
      sections_.push_back(Load<IMAGE_SECTION_HEADER>(bytes_.data() + at));
    }
    return true;
  }

  const ImageHeaders& headers() const { return headers_; }

  // The value the file holds at `rva`; nothing when the file holds no data
  // for all of its bytes there.
  template <typename T>
  std::optional<T> ValueAt(DWORD rva) const {
    const std::optional<size_t> offset = FileOffset(rva, sizeof(T));
    if (!offset) return std::nullopt;
    return Load<T>(bytes_.data() + *offset);
  }

 private:
  std::optional<size_t> FileOffset(DWORD rva, size_t length) const {
    std::optional<size_t> offset;
    if (rva < headers_.sizeOfHeaders) {
      if (length <= headers_.sizeOfHeaders - rva) offset = rva;
    } else {
      for (const IMAGE_SECTION_HEADER& section : sections_) {
        if (rva < section.VirtualAddress) continue;
        const DWORD into = rva - section.VirtualAddress;
        if (into < section.SizeOfRawData) {
          if (length <= section.SizeOfRawData - into) offset = static_cast<size_t>(section.PointerToRawData) + into;
          break;
        }
      }
    }
    if (!offset || *offset > bytes_.size() || length > bytes_.size() - *offset) return std::nullopt;
    return offset;
  }

  std::vector<BYTE> bytes_;
  ImageHeaders headers_;
  std::vector<IMAGE_SECTION_HEADER> sections_;
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
    // The headers are read no further than the memory region they start.
    MEMORY_BASIC_INFORMATION info;
    if (!VirtualQuery(base_, &info, sizeof info) || info.State != MEM_COMMIT) {
      error = "the mapped module's headers cannot be read";
      return false;
    }
    const auto readable = static_cast<size_t>(static_cast<BYTE*>(info.BaseAddress) + info.RegionSize - base_);
    if (!ReadHeaders(base_, readable, headers_)) {
      error = "the mapped module is not a PE image";
      return false;
    }
    return OfOwnBitness(headers_, "the mapped module", error);
  }

  BYTE* base() const { return base_; }
  DWORD size() const { return headers_.sizeOfImage; }
  bool Holds(DWORD rva, DWORD bytes) const { return rva <= size() && bytes <= size() - rva; }
  IMAGE_DATA_DIRECTORY Directory(int index) const { return headers_.Directory(index); }

 private:
  BYTE* base_;
  ImageHeaders headers_;
};

// The bytes a fix-up of `type` changes; 0 for a type not applied here.
DWORD FixupWidth(int type) {
  switch (type) {
    case IMAGE_REL_BASED_HIGH:
    case IMAGE_REL_BASED_LOW:
      return sizeof(WORD);
    case IMAGE_REL_BASED_HIGHLOW:
      return sizeof(DWORD);
    case IMAGE_REL_BASED_DIR64:
      return sizeof(ULONGLONG);
    default:
      return 0;
  }
}

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
  while (end - at >= kRelocationBlockHeader) {
    const auto block = Load<IMAGE_BASE_RELOCATION>(image.base() + at);
    if (block.SizeOfBlock == 0) break;
    if (block.SizeOfBlock < kRelocationBlockHeader || block.SizeOfBlock > end - at) {
      error = "malformed relocation block";
      return false;
    }
    const DWORD entries = (block.SizeOfBlock - kRelocationBlockHeader) / kRelocationEntrySize;
    for (DWORD i = 0; i < entries; ++i) {
      const auto entry = Load<WORD>(image.base() + at + kRelocationBlockHeader + i * kRelocationEntrySize);
      const int type = entry >> 12;
      const DWORD rva = block.VirtualAddress + (entry & 0x0FFFu);
      if (type == IMAGE_REL_BASED_ABSOLUTE) continue;
      const DWORD width = FixupWidth(type);
      if (!image.Holds(rva, width ? width : 1)) {
        error = "relocation outside the image";
        return false;
      }
      if (!visit(type, rva)) return true;
    }
    at += block.SizeOfBlock;
  }
  return true;
}

// What an address-sized fix-up's target shows about the loader.
enum class FixupState { kAsInFile, kRelocated, kChanged, kNotInFile };

template <typename T>
FixupState ProbeFixup(const MappedImage& image, const ImageFile& file, DWORD rva, ULONGLONG delta) {
  const std::optional<T> original = file.ValueAt<T>(rva);
  if (!original) return FixupState::kNotInFile;
  const auto mapped = Load<T>(image.base() + rva);
  if (mapped == static_cast<T>(*original + delta)) return FixupState::kRelocated;
  return mapped == *original ? FixupState::kAsInFile : FixupState::kChanged;
}

bool Relocate(const MappedImage& image, const ImageFile& file, LoadReport& report, std::string& error) {
  // Modulo 2^64: added to a 64-bit value it moves it by the signed
  // difference; truncated, it does the same for a 32- or 16-bit one.
  const ULONGLONG delta = ULONGLONG{report.base} - ULONGLONG{report.preferredBase};
  if (delta == 0) return true;
  if (image.Directory(IMAGE_DIRECTORY_ENTRY_BASERELOC).Size == 0) {
    error = "the image is not at its preferred base and has no relocations";
    return false;
  }
  // Has the loader applied them? The first fix-up of a whole address
  // (HIGHLOW in a 32-bit image, DIR64 in a 64-bit one) tells: the file's
  // value, or the file's value plus the delta.
  int probeType = IMAGE_REL_BASED_ABSOLUTE;
  DWORD probeRva = 0;
  if (!ForEachRelocation(
          image,
          [&](int type, DWORD rva) {
            if (type != IMAGE_REL_BASED_HIGHLOW && type != IMAGE_REL_BASED_DIR64) return true;
            probeType = type;
            probeRva = rva;
            return false;
          },
          error)) {
    return false;
  }
  if (probeType == IMAGE_REL_BASED_ABSOLUTE) return true;
  switch (probeType == IMAGE_REL_BASED_DIR64 ? ProbeFixup<ULONGLONG>(image, file, probeRva, delta)
                                             : ProbeFixup<DWORD>(image, file, probeRva, delta)) {
    case FixupState::kAsInFile:
      break;
    case FixupState::kRelocated:
      report.relocatedByLoader = true;
      return true;
    case FixupState::kChanged:
      error = "the image was changed in an unexpected way at a relocation";
      return false;
    case FixupState::kNotInFile:
      error = "the relocated value is not in the file";
      return false;
  }
  bool supported = true;
  const bool walked = ForEachRelocation(
      image,
      [&](int type, DWORD rva) {
        BYTE* const at = image.base() + rva;
        switch (type) {
          case IMAGE_REL_BASED_DIR64:
            Store<ULONGLONG>(at, Load<ULONGLONG>(at) + delta);
            break;
          case IMAGE_REL_BASED_HIGHLOW:
            Store<DWORD>(at, static_cast<DWORD>(Load<DWORD>(at) + delta));
            break;
          case IMAGE_REL_BASED_HIGH:
            Store<WORD>(at, static_cast<WORD>(Load<WORD>(at) + (delta >> 16)));
            break;
          case IMAGE_REL_BASED_LOW:
            Store<WORD>(at, static_cast<WORD>(Load<WORD>(at) + delta));
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
      const DWORD slot = descriptor.FirstThunk + i * kThunkSize;
      const DWORD lookupRva = (hasLookupTable ? descriptor.OriginalFirstThunk : descriptor.FirstThunk) + i * kThunkSize;
      std::optional<Thunk> lookup;
      if (hasLookupTable && image.Holds(lookupRva, kThunkSize)) {
        lookup = Load<Thunk>(image.base() + lookupRva);
      } else if (!hasLookupTable) {
        lookup = file.ValueAt<Thunk>(lookupRva);
      }
      if (!lookup || !image.Holds(slot, kThunkSize)) {
        error = std::string("import table of ") + dllName + " outside the image";
        return false;
      }
      if (*lookup == 0) break;
      // A slot that still holds what the file holds was not filled in.
      const std::optional<Thunk> original = file.ValueAt<Thunk>(slot);
      if (!original) {
        error = std::string("import address table of ") + dllName + " not in the file";
        return false;
      }
      if (Load<Thunk>(image.base() + slot) != *original) {
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
      if (*lookup & Native::kOrdinalFlag) {
        const auto ordinal = static_cast<WORD>(*lookup & 0xFFFFu);
        address = GetProcAddress(dll, MAKEINTRESOURCEA(ordinal));
        what = "#" + std::to_string(ordinal);
      } else {
        const char* name =
            (*lookup & ~kNameRvaMask) ? nullptr : ImageString(image, static_cast<DWORD>(*lookup) + kImportNameOffset);
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
      Store<Thunk>(image.base() + slot, static_cast<Thunk>(reinterpret_cast<ULONG_PTR>(address)));
      ++report.importsResolved;
    }
  }
}

}  // namespace

bool CheckImageFile(const std::string& path, std::string& error) {
  ImageFile file;
  return file.Open(path, error) && OfOwnBitness(file.headers(), "the file", error);
}

bool CompleteImageLoad(HMODULE module, const std::string& path, LoadReport& report, std::string& error) {
  MappedImage image(module);
  if (!image.Check(error)) return false;
  ImageFile file;
  if (!file.Open(path, error) || !OfOwnBitness(file.headers(), "the file", error)) return false;
  if (file.headers().sizeOfImage != image.size()) {
    error = "the file on disk is not the image that was loaded";
    return false;
  }
  report.base = reinterpret_cast<ULONG_PTR>(image.base());
  // Of this process's bitness, so it fits.
  report.preferredBase = static_cast<ULONG_PTR>(file.headers().imageBase);
  WritableImage writable;
  if (!writable.Open(image.base(), image.size(), error)) return false;
  if (!Relocate(image, file, report, error)) return false;
  if (!ResolveImports(image, file, report, error)) return false;
  FlushInstructionCache(GetCurrentProcess(), image.base(), image.size());
  return true;
}

}  // namespace export_client
