#include "settings/settings_file.h"

#include "base/text_encoding.h"
#include "runlog/run_log.h"

namespace vantu {
namespace {

// Names tried in the machine's temporary folder before the run gives up:
// others may have made files of the names it would take.
constexpr int kCopyNamesTried = 100;
// setup.ini holds five short settings (and whatever else a vendor keeps in
// it, megabytes of it where need be): a file larger than this is not
// copied. A sparse file of any size costs its maker nothing, and would fill
// the system's drive.
constexpr uint64_t kLargestSetupIni = 16 * 1024 * 1024;

// %SystemRoot%\Temp\, ending in a backslash; empty when unknown. The
// system's Windows folder, also on a terminal server (where
// GetWindowsDirectoryW may give a user's own).
std::wstring MachineTemporaryFolder() {
  wchar_t folder[MAX_PATH];
  const UINT length = GetSystemWindowsDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::wstring();
  std::wstring path(folder, length);
  if (path.back() != L'\\') path += L'\\';
  return path + L"Temp\\";
}

}  // namespace

SettingsFile::~SettingsFile() { RemoveCopy(); }

void SettingsFile::RemoveCopy() {
  copy_.reset();
  if (!copyPath_.empty()) DeleteFileW(copyPath_.c_str());
  copyPath_.clear();
}

SettingsFile::Outcome SettingsFile::Fail(Outcome outcome, const std::string& why) {
  RemoveCopy();
  original_.Close();
  why_ = why;
  return outcome;
}

SettingsFile::Outcome SettingsFile::Take(const std::wstring& programFolder, DataObserver* observer) {
  RemoveCopy();
  shownPath_ = programFolder + L"setup.ini";
  if (programFolder.empty()) return Fail(Outcome::kRefused, "the program folder is unknown");
  if (!original_.Open(shownPath_)) {
    const DWORD error = original_.open_error();
    if (error == ERROR_FILE_NOT_FOUND) return Outcome::kMissing;
    return Fail(Outcome::kRefused, error ? ErrorText(error) : original_.check().Describe());
  }
  if (original_.check().size > kLargestSetupIni) {
    return Fail(Outcome::kRefused, "it has " + std::to_string(original_.check().size) + " bytes, more than the " +
                                       std::to_string(kLargestSetupIni) + " a setup.ini may have");
  }
  std::string why;
  if (!MakeCopy(observer, &why)) return Fail(Outcome::kNoCopy, why);
  return Outcome::kTaken;
}

bool SettingsFile::MakeCopy(DataObserver* observer, std::string* why) {
  const std::wstring folder = MachineTemporaryFolder();
  if (folder.empty()) {
    *why = "the Windows folder is unknown: " + ErrorText(GetLastError());
    return false;
  }
  const std::wstring stem = folder + L"FanServiceSetup-" + WideDecimal(GetCurrentProcessId()) + L"-";
  UniqueFileHandle writer;
  for (int n = 0; n < kCopyNamesTried && !writer; ++n) {
    const std::wstring path = stem + WideDecimal(n) + L".ini";
    // CREATE_NEW follows no link and takes no name that anything has.
    writer.reset(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (writer) {
      copyPath_ = path;
      break;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
      *why = "a copy in " + Utf8FromWide(folder) + " could not be made: " + ErrorText(error);
      return false;
    }
  }
  if (!writer) {
    *why = "every name for a copy in " + Utf8FromWide(folder) + " is taken";
    return false;
  }
  DataCopier copier;
  const DataCopy copied = copier.Copy(original_.handle(), writer.get(), observer);
  writer.reset();
  if (!copied.copied) {
    *why = copied.error ? (copied.readFailed ? "it could not be read: " : "its copy could not be written: ") +
                              ErrorText(copied.error)
                        : std::string("its bytes could not be checked");
    return false;
  }
  size_ = copied.bytes;
  copy_.reset(CreateFileW(copyPath_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!copy_) {
    *why = "its copy could not be held: " + ErrorText(GetLastError());
    return false;
  }
  return true;
}

}  // namespace vantu
