#include "runlog/program_version.h"

#include <cstring>

#include "base/little_endian.h"

namespace vantu {
namespace {

constexpr DWORD kFixedFileInfoSignature = 0xFEEF04BD;

}  // namespace

std::string FileVersionOf(const BYTE* block, size_t size) {
  // VS_VERSIONINFO: three WORDs, the key L"VS_VERSION_INFO", padding to a
  // DWORD boundary, then VS_FIXEDFILEINFO, which starts with its signature
  // and has the file version in its third and fourth DWORDs.
  static const wchar_t kKey[] = L"VS_VERSION_INFO";
  const size_t keyBytes = sizeof kKey / sizeof kKey[0] * 2;
  const size_t fixedAt = (6 + keyBytes + 3) / 4 * 4;
  if (!block || size < fixedAt + 16) return std::string();
  for (size_t i = 0; i + 1 < sizeof kKey / sizeof kKey[0]; ++i) {
    if (block[6 + 2 * i] != static_cast<BYTE>(kKey[i]) || block[7 + 2 * i] != 0) return std::string();
  }
  const BYTE* fixed = block + fixedAt;
  if (ReadLittleEndian32(fixed) != kFixedFileInfoSignature) return std::string();
  const DWORD high = ReadLittleEndian32(fixed + 8);
  const DWORD low = ReadLittleEndian32(fixed + 12);
  return std::to_string(high >> 16) + "." + std::to_string(high & 0xFFFF) + "." + std::to_string(low >> 16) + "." +
         std::to_string(low & 0xFFFF);
}

std::string ProgramVersion() {
  HRSRC resource = FindResourceA(nullptr, MAKEINTRESOURCEA(VS_VERSION_INFO), RT_VERSION);
  if (!resource) return "unknown";
  // A module's resources stay mapped for as long as the module: nothing to free.
  HGLOBAL loaded = LoadResource(nullptr, resource);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  const std::string version =
      data ? FileVersionOf(static_cast<const BYTE*>(data), SizeofResource(nullptr, resource)) : std::string();
  return version.empty() ? "unknown" : version;
}

}  // namespace vantu
