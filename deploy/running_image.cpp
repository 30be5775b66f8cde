#include "deploy/running_image.h"

#include "base/kernel32_function.h"
#include "base/opened_file.h"
#include "base/path_functions.h"

namespace vantu {
namespace {

// ntdll's NtAreMappedFilesTheSame: STATUS_SUCCESS (0) when the two
// addresses lie in views of the same file. Looked up at run time, as the
// loader's own LoadLibrary uses it.
using AreMappedFilesTheSameFunction = LONG(WINAPI*)(PVOID, PVOID);
constexpr LONG kStatusSuccess = 0;
// STATUS_NOT_SAME_DEVICE: views of two different files.
constexpr LONG kStatusNotSameDevice = static_cast<LONG>(0xC00000D4);

// A read-only view of one page of a file; released when it goes.
struct View {
  UniqueKernelHandle mapping;
  void* address = nullptr;
  ~View() {
    if (address) UnmapViewOfFile(address);
  }
};

}  // namespace

RunningImage::Outcome RunningImage::Fail(Outcome outcome, DWORD error) {
  file_.reset();
  finalPath_.clear();
  error_ = error;
  return outcome;
}

RunningImage::Outcome RunningImage::Hold(const std::wstring& modulePath) {
  name_ = FileNamePart(modulePath);
  file_.reset(CreateFileW(modulePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file_) return Fail(Outcome::kNotOpened, GetLastError());
  const auto areTheSame = FindLoadedFunction<AreMappedFilesTheSameFunction>(L"ntdll.dll", "NtAreMappedFilesTheSame");
  const HMODULE module = GetModuleHandleW(nullptr);
  if (!areTheSame || !module) return Fail(Outcome::kUnknown, areTheSame ? GetLastError() : ERROR_PROC_NOT_FOUND);
  View view;
  view.mapping.reset(CreateFileMappingW(file_.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!view.mapping) return Fail(Outcome::kUnknown, GetLastError());
  view.address = MapViewOfFile(view.mapping.get(), FILE_MAP_READ, 0, 0, 1);
  if (!view.address) return Fail(Outcome::kUnknown, GetLastError());
  const LONG status = areTheSame(module, view.address);
  if (status == kStatusSuccess) {
    // Where its folder lies; a volume that tells no final path is taken by
    // the path the image was started from.
    DWORD error = 0;
    finalPath_ = FinalPathOf(file_.get(), &error);
    if (finalPath_.empty() && !FinalPathNotSupported(error)) return Fail(Outcome::kUnknown, error);
    return Outcome::kHeld;
  }
  if (status == kStatusNotSameDevice) return Fail(Outcome::kNotMapped, 0);
  return Fail(Outcome::kUnknown, static_cast<DWORD>(status));
}

}  // namespace vantu
