// The service executable's command line.
//
// ServiceCommandLine on arbitrary folder / executable splits: the joined path,
// in double quotes when it is at least 2 characters long and neither begins
// nor ends with one, then " /Service"; nothing else added or changed. Texts
// are UTF-16 (fuzz_support::WideFromFuzz makes them from the input).
//
// ExecutionFault: null exactly for an empty value or one plain file name (no
// "\", "/", ":" or double quote, not made of dots and blanks alone).
//
// LaunchServiceExecutable with the Execution value of setup.ini and the
// install folder taken from the input: the 520-character buffer is never
// written past (AddressSanitizer); a process is created only when the value
// keeps to its rule, the install folder is not empty and the command line
// and its terminator fit, and then with exactly that command line, the
// joined path as the application name and the install folder as its current
// folder; true exactly when the process was created, which was then waited
// for; no handle is left open.
//
// Input: the folder and the executable name, each ended by a backslash and
// another character (a doubled backslash stands for one), then the rest of
// setup.ini after the Execution line, or (option bit 1) the whole of it; the
// options byte is the input's last byte.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

#include "base/module_path.h"
#include "settings/setting_rules.h"
#include "settings/settings.h"
#include "service/service.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using fuzz_support::Shown;
using fuzz_support::Utf8;

constexpr wchar_t kSuffix[] = L" /Service";
constexpr size_t kSuffixLength = sizeof kSuffix / sizeof kSuffix[0] - 1;

bool WantsQuotes(const std::wstring& path) {
  return path.size() >= 2 && path.front() != L'"' && path.back() != L'"';
}

void CheckCommandLine(const std::wstring& folder, const std::wstring& executable) {
  const std::wstring line = vantu::ServiceCommandLine(folder, executable);
  const std::wstring path = folder + executable;
  const std::string what = "folder " + Shown(folder) + ", executable " + Shown(executable) + " -> " + Shown(line);
  CHECK(line.size() >= kSuffixLength && line.compare(line.size() - kSuffixLength, kSuffixLength, kSuffix) == 0,
        "no \" /Service\" at the end: " + what);
  const std::wstring head = line.substr(0, line.size() - kSuffixLength);
  if (WantsQuotes(path)) {
    CHECK(head == L'"' + path + L'"', "the path should be quoted: " + what);
  } else {
    CHECK(head == path, "the path should stay as it is: " + what);
  }
}

bool KeepsToTheExecutionRule(const std::wstring& execution) {
  if (execution.empty()) return true;
  if (execution.find_first_of(L"\\/:\"") != std::wstring::npos) return false;
  return execution.find_first_not_of(L". ") != std::wstring::npos;
}

void CheckExecutionRule(const std::wstring& execution) {
  const char* fault = vantu::ExecutionFault(execution);
  CHECK((fault == nullptr) == KeepsToTheExecutionRule(execution),
        "Execution " + Shown(execution) + ": " + (fault ? fault : "keeps to its rule"));
}

void CheckLaunch(const std::wstring& folder, const std::string& iniText, bool makeProgram) {
  fake_win32::Reset();
  const std::wstring iniPath = vantu::ModuleDirectory() + L"setup.ini";
  CHECK(fuzz_support::WriteWindowsFile(Utf8(iniPath), iniText), "cannot write setup.ini");
  const std::wstring setting = fuzz_support::WholeValue(iniPath, L"Execution", vantu::kMissMarker, iniText.size());
  const bool missing = setting == vantu::kMissMarker;
  const std::wstring execution = missing ? std::wstring() : setting;
  const std::wstring path = folder + execution;
  const std::wstring expected = (WantsQuotes(path) ? L'"' + path + L'"' : path) + kSuffix;
  // A program to start, where the command line's path can name one.
  if (makeProgram && path.find(L'\0') == std::wstring::npos && path.size() < 400 &&
      fake_win32::HostPath(Utf8(path)) != fake_win32::HostPath(Utf8(iniPath))) {
    fuzz_support::WriteWindowsFile(Utf8(path), "MZ");
  }
  int started = 0;
  std::string startedWith;
  fake_win32::SetProcessRunner([&](const std::string& commandLine) -> DWORD {
    ++started;
    startedWith = commandLine;
    return 3;
  });
  vantu::SettingsFile settings;  // setup.ini as a run takes it
  settings.Take(vantu::ModuleDirectory(), nullptr);
  const int callsBefore = fake_win32::CallCount("CreateProcessW");
  const int closesBefore = fake_win32::CallCount("CloseHandle");

  const bool launched = vantu::LaunchServiceExecutable(settings, folder);

  const int creations = fake_win32::CallCount("CreateProcessW") - callsBefore;
  const std::string what = "folder " + Shown(folder) + ", Execution " + Shown(execution) + ", command line " +
                           Shown(expected) + " (" + std::to_string(expected.size()) + " characters)";
  // The platform sees the buffer as a C string, and shows it in UTF-8.
  const std::string expectedText = Utf8(std::wstring(expected.c_str()));
  if (!KeepsToTheExecutionRule(execution) || folder.empty()) {
    CHECK(creations == 0, "a value that breaks its rule, or no install folder, was started: " + what);
    CHECK(!launched, "reported a launch without creating a process: " + what);
  } else if (expected.size() + 1 > vantu::kCommandLineBufferSize) {
    CHECK(creations == 0, "a command line that does not fit was used: " + what);
    CHECK(!launched, "reported a launch without creating a process: " + what);
  } else {
    CHECK(creations == 1, "a command line that fits was not used: " + what);
    const auto args = fake_win32::CallsTo("CreateProcessW").back().args;
    CHECK(args.at(1) == expectedText, "CreateProcessW got " + Shown(args.at(1)) + ": " + what);
    CHECK(args.at(0) == Utf8(std::wstring(path.c_str())), "application name " + Shown(args.at(0)) + ": " + what);
    CHECK(args.at(7) == Utf8(std::wstring(folder.c_str())), "current folder " + Shown(args.at(7)) + ": " + what);
    // No window, and the machine's environment block, in UTF-16.
    CHECK(args.at(5) == "0x8000400", "creation flags " + args.at(5) + ": " + what);
  }
  CHECK(launched == (started == 1), "result " + std::to_string(launched) + " but processes started " +
                                        std::to_string(started) + ": " + what);
  if (launched) {
    CHECK(startedWith == expectedText, "the process got " + Shown(startedWith) + ": " + what);
    const auto waits = fake_win32::CallsTo("WaitForSingleObject");
    CHECK(waits.size() == 1 && waits[0].args.at(1) == "0xFFFFFFFF", "not waited for without time-out: " + what);
    CHECK(fake_win32::CallCount("CloseHandle") - closesBefore == 2, "process and thread handle not closed: " + what);
  }
  CHECK(fake_win32::MessageBoxes().size() == (missing ? 1u : 0u), "message boxes: " + what);
}

void CheckLaunchReleasing(const std::wstring& folder, const std::string& iniText, bool makeProgram) {
  CheckLaunch(folder, iniText, makeProgram);
  fuzz_support::CheckLedgerClean("LaunchServiceExecutable");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const uint8_t options = input.ConsumeIntegral<uint8_t>();
  const std::string folder = input.ConsumeRandomLengthString(1024);
  const std::string executable = input.ConsumeRandomLengthString(1024);
  const std::string rest = input.ConsumeRemainingBytesAsString();

  const std::wstring wideFolder = fuzz_support::WideFromFuzz(folder);
  const std::wstring wideExecutable = fuzz_support::WideFromFuzz(executable);
  CheckCommandLine(wideFolder, wideExecutable);
  CheckCommandLine(wideExecutable, wideFolder);
  CheckExecutionRule(wideExecutable);
  CheckExecutionRule(wideFolder);

  const std::string iniText = (options & 2) ? rest : "[Common]\r\nExecution=" + executable + "\r\n" + rest;
  CheckLaunchReleasing(wideFolder, iniText, (options & 1) != 0);
  return 0;
}
