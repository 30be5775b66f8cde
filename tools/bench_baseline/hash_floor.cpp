// hash_floor.exe: the floor under the hashing of a sealed payload: the
// SHA-256 of every file directly in <folder> (sub-folders are left out) by
// Windows' own provider, loaded as setup.exe loads it (bcrypt.dll from the
// system folder at run time, LoadLibraryExW with LOAD_LIBRARY_SEARCH_SYSTEM32,
// else by its full path), each file opened for reading shared for reading
// only and read in chunks of 256 KiB, as setup.exe reads it. The platform
// calls written out; no product code.
//
//   hash_floor.exe <folder>
//
// Prints one JSON line: {"files": 1000, "bytes": 200000000, "us": 812345,
// "mbPerS": 246.2}, the time taken from before bcrypt.dll is loaded to
// after the last digest. Exit code: 0 every file hashed, 1 a step failed
// (the reason on stderr), 2 bad command line.
#include <windows.h>
#include <bcrypt.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr DWORD kSearchSystem32 = 0x00000800;
constexpr DWORD kAlteredSearchPath = 0x00000008;
constexpr DWORD kChunk = 256 * 1024;  // as setup.exe's kHashChunkBytes

LONGLONG Ticks() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

template <typename Function>
Function Take(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

int Fail(const char* what, unsigned long code) {
  std::fprintf(stderr, "hash_floor.exe: %s failed: 0x%08lX\n", what, code);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: hash_floor.exe <folder>\n");
    return 2;
  }
  const int length = MultiByteToWideChar(CP_ACP, 0, argv[1], -1, nullptr, 0);
  std::wstring folder(static_cast<size_t>(length > 0 ? length : 1), L'\0');
  MultiByteToWideChar(CP_ACP, 0, argv[1], -1, &folder[0], length);
  folder.pop_back();
  if (!folder.empty() && folder.back() != L'\\') folder += L'\\';

  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  const LONGLONG start = Ticks();

  HMODULE bcrypt = LoadLibraryExW(L"bcrypt.dll", nullptr, kSearchSystem32);
  if (!bcrypt && GetLastError() == ERROR_INVALID_PARAMETER) {
    wchar_t system[MAX_PATH];
    const UINT size = GetSystemDirectoryW(system, MAX_PATH);
    if (size && size < MAX_PATH) {
      bcrypt = LoadLibraryExW((std::wstring(system, size) + L"\\bcrypt.dll").c_str(), nullptr, kAlteredSearchPath);
    }
  }
  if (!bcrypt) return Fail("LoadLibraryExW(bcrypt.dll)", GetLastError());
  const auto openAlgorithm = Take<decltype(&BCryptOpenAlgorithmProvider)>(bcrypt, "BCryptOpenAlgorithmProvider");
  const auto closeAlgorithm = Take<decltype(&BCryptCloseAlgorithmProvider)>(bcrypt, "BCryptCloseAlgorithmProvider");
  const auto getProperty = Take<decltype(&BCryptGetProperty)>(bcrypt, "BCryptGetProperty");
  const auto createHash = Take<decltype(&BCryptCreateHash)>(bcrypt, "BCryptCreateHash");
  const auto hashData = Take<decltype(&BCryptHashData)>(bcrypt, "BCryptHashData");
  const auto finishHash = Take<decltype(&BCryptFinishHash)>(bcrypt, "BCryptFinishHash");
  const auto destroyHash = Take<decltype(&BCryptDestroyHash)>(bcrypt, "BCryptDestroyHash");
  if (!openAlgorithm || !closeAlgorithm || !getProperty || !createHash || !hashData || !finishHash ||
      !destroyHash) {
    return Fail("GetProcAddress", GetLastError());
  }
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  NTSTATUS status = openAlgorithm(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
  if (!BCRYPT_SUCCESS(status)) return Fail("BCryptOpenAlgorithmProvider", static_cast<unsigned long>(status));
  ULONG objectBytes = 0;
  ULONG written = 0;
  status = getProperty(algorithm, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&objectBytes), sizeof objectBytes,
                       &written, 0);
  if (!BCRYPT_SUCCESS(status)) return Fail("BCryptGetProperty", static_cast<unsigned long>(status));
  std::vector<UCHAR> hashObject(objectBytes);
  std::vector<BYTE> chunk(kChunk);

  WIN32_FIND_DATAW entry;
  const HANDLE search = FindFirstFileW((folder + L"*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return Fail("FindFirstFileW", GetLastError());
  unsigned long files = 0;
  unsigned long long bytes = 0;
  int result = 0;
  do {
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    const HANDLE file = CreateFileW((folder + entry.cFileName).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      result = Fail("CreateFileW", GetLastError());
      break;
    }
    BCRYPT_HASH_HANDLE hash = nullptr;
    status = createHash(algorithm, &hash, hashObject.data(), objectBytes, nullptr, 0, 0);
    DWORD read = 0;
    while (BCRYPT_SUCCESS(status) && ReadFile(file, chunk.data(), kChunk, &read, nullptr) && read > 0) {
      status = hashData(hash, chunk.data(), read, 0);
      bytes += read;
    }
    UCHAR digest[32];
    if (BCRYPT_SUCCESS(status)) status = finishHash(hash, digest, sizeof digest, 0);
    if (hash) destroyHash(hash);
    CloseHandle(file);
    if (!BCRYPT_SUCCESS(status)) {
      result = Fail("hashing", static_cast<unsigned long>(status));
      break;
    }
    ++files;
  } while (FindNextFileW(search, &entry));
  FindClose(search);
  closeAlgorithm(algorithm, 0);
  FreeLibrary(bcrypt);
  if (result) return result;

  const LONGLONG us = (Ticks() - start) * 1000000 / frequency.QuadPart;
  std::printf("{\"files\": %lu, \"bytes\": %llu, \"us\": %lld, \"mbPerS\": %.1f}\n", files, bytes,
              static_cast<long long>(us), us > 0 ? static_cast<double>(bytes) / static_cast<double>(us) : 0.0);
  return 0;
}
