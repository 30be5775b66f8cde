// runner.exe: runs a program, answers its message boxes like a person would
// and reports what happened, for the end-to-end tests.
//
//   runner.exe [--timeout-ms N] [--kill-when <file>] [--result <file>]
//              [--stdout <file>] [--stderr <file>] [--invisible-station] <program> [args...]
//
// While the program runs, every top-level dialog window (class "#32770") that
// belongs to its process is read (caption, message text, buttons, icon) and
// dismissed by clicking its OK button (BM_CLICK); a box without OK gets
// Cancel, then WM_CLOSE. When the program ends, a JSON result goes to the
// --result file (or stdout):
//   {"exitCode": 4294967295, "boxes": [{"caption": "...", "text": "...",
//    "buttons": ["OK"], "icon": false}], "timedOut": false}
// On time-out (default: none) the program is terminated and "timedOut" is
// true. With --kill-when, the program is terminated as soon as that file
// exists (a test creates it at the moment it wants the program killed, say
// in the middle of a copy) and "killed" is true. Text bytes of 0x80 and
// above are written as \u00XX. Program, arguments and files may be named in
// any script (wmain, CreateProcessW).
// --stdout and --stderr send the program's standard output and error to
// those files. --invisible-station starts it on a desktop of a window station
// of its own that is not visible (no WSF_VISIBLE), as a service's or a
// deployment tool's in session 0 is: boxes shown there are never seen (nor
// answered) by anybody.
// Exit code: 0 the program ran (also after a time-out), 1 usage,
// 2 the program could not be started, 3 the result could not be written.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "common/command_line.h"
#include "common/json_text.h"

namespace {

struct Box {
  std::string caption;
  std::string text;
  std::vector<std::string> buttons;
  bool icon = false;
};

using tools::QuoteArgument;

std::string WindowText(HWND window) {
  char buffer[4096];
  int length = GetWindowTextA(window, buffer, static_cast<int>(sizeof buffer));
  return std::string(buffer, length > 0 ? static_cast<size_t>(length) : 0);
}

std::string ClassName(HWND window) {
  char buffer[256];
  int length = GetClassNameA(window, buffer, static_cast<int>(sizeof buffer));
  return std::string(buffer, length > 0 ? static_cast<size_t>(length) : 0);
}

std::string WithoutMnemonics(const std::string& label) {
  std::string out;
  for (size_t i = 0; i < label.size(); ++i) {
    if (label[i] == '&' && i + 1 < label.size()) ++i;
    out += label[i];
  }
  return out;
}

struct Children {
  std::vector<std::string> buttons;
  HWND ok = nullptr;
  HWND cancel = nullptr;
  bool icon = false;
};

BOOL CALLBACK CollectChild(HWND child, LPARAM param) {
  auto* children = reinterpret_cast<Children*>(param);
  if (!IsWindowVisible(child)) return TRUE;
  const std::string cls = ClassName(child);
  const LONG style = GetWindowLongA(child, GWL_STYLE);
  if (lstrcmpiA(cls.c_str(), "Button") == 0) {
    children->buttons.push_back(WithoutMnemonics(WindowText(child)));
    const int id = GetDlgCtrlID(child);
    if (id == IDOK) children->ok = child;
    if (id == IDCANCEL) children->cancel = child;
  } else if (lstrcmpiA(cls.c_str(), "Static") == 0 && (style & SS_TYPEMASK) == SS_ICON) {
    if (SendMessageA(child, STM_GETICON, 0, 0) != 0) children->icon = true;
  }
  return TRUE;
}

struct Search {
  DWORD processId;
  std::vector<HWND> dialogs;
};

BOOL CALLBACK CollectDialog(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == search->processId && IsWindowVisible(window) && ClassName(window) == "#32770") {
    search->dialogs.push_back(window);
  }
  return TRUE;
}

class BoxWatcher {
 public:
  explicit BoxWatcher(DWORD processId) : processId_(processId) {}

  // Reads and dismisses every box of the process that is not yet answered.
  void Poll() {
    Search search{processId_, {}};
    EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&search));
    std::set<HWND> present(search.dialogs.begin(), search.dialogs.end());
    // A box that has gone may hand its handle value on to a later one.
    for (auto it = answered_.begin(); it != answered_.end();) {
      it = present.count(*it) ? std::next(it) : answered_.erase(it);
    }
    for (HWND dialog : search.dialogs) {
      if (answered_.count(dialog)) continue;
      Box box;
      box.caption = WindowText(dialog);
      char text[8192];
      UINT length = GetDlgItemTextA(dialog, 0xFFFF, text, static_cast<int>(sizeof text));
      box.text.assign(text, length);
      Children children;
      EnumChildWindows(dialog, CollectChild, reinterpret_cast<LPARAM>(&children));
      box.buttons = children.buttons;
      box.icon = children.icon;
      boxes_.push_back(box);
      answered_.insert(dialog);
      Dismiss(dialog, children);
    }
  }

  const std::vector<Box>& boxes() const { return boxes_; }

 private:
  static void Dismiss(HWND dialog, const Children& children) {
    HWND button = children.ok ? children.ok : children.cancel;
    if (button) {
      PostMessageA(button, BM_CLICK, 0, 0);
    } else {
      PostMessageA(dialog, WM_CLOSE, 0, 0);
    }
  }

  DWORD processId_;
  std::set<HWND> answered_;
  std::vector<Box> boxes_;
};

std::string ResultJson(DWORD exitCode, const std::vector<Box>& boxes, bool timedOut, bool killed) {
  std::string out = "{\"exitCode\": " + std::to_string(exitCode) + ", \"boxes\": [";
  for (size_t i = 0; i < boxes.size(); ++i) {
    const Box& box = boxes[i];
    if (i) out += ", ";
    out += "{\"caption\": " + tools::JsonString(box.caption) + ", \"text\": " + tools::JsonString(box.text) +
           ", \"buttons\": [";
    for (size_t b = 0; b < box.buttons.size(); ++b) {
      if (b) out += ", ";
      out += tools::JsonString(box.buttons[b]);
    }
    out += std::string("], \"icon\": ") + (box.icon ? "true" : "false") + "}";
  }
  out += std::string("], \"timedOut\": ") + (timedOut ? "true" : "false");
  out += std::string(", \"killed\": ") + (killed ? "true" : "false") + "}\n";
  return out;
}

int Usage() {
  std::fprintf(stderr,
               "usage: runner.exe [--timeout-ms N] [--kill-when <file>] [--result <file>] [--stdout <file>]\n"
               "                  [--stderr <file>] [--invisible-station] <program> [args...]\n");
  return 1;
}

// A file the program inherits as a standard handle.
HANDLE InheritableFile(const std::wstring& path) {
  SECURITY_ATTRIBUTES security{};
  security.nLength = sizeof security;
  security.bInheritHandle = TRUE;
  return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &security, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
}

constexpr wchar_t kInvisibleStation[] = L"FanSetupTestStation";

// Makes a window station without WSF_VISIBLE and a desktop in it; the
// program started on "station\\desktop" runs there. False when Wine or
// Windows will not.
bool MakeInvisibleStation() {
  HWINSTA original = GetProcessWindowStation();
  HWINSTA station = CreateWindowStationW(kInvisibleStation, 0, WINSTA_ALL_ACCESS, nullptr);
  if (!station) return false;
  USEROBJECTFLAGS flags{};
  DWORD needed = 0;
  if (GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &needed) && (flags.dwFlags & WSF_VISIBLE)) {
    std::fprintf(stderr, "runner: the new window station is visible\n");
    return false;
  }
  // A desktop is made in the window station of the calling process.
  if (!SetProcessWindowStation(station)) return false;
  HDESK desktop = CreateDesktopW(L"Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
  SetProcessWindowStation(original);
  // Both stay open while the program runs: the process ends with them.
  return desktop != nullptr;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  DWORD timeoutMs = INFINITE;
  std::wstring resultFile;
  std::wstring killFile;
  std::wstring stdoutFile;
  std::wstring stderrFile;
  bool invisible = false;
  int i = 1;
  for (; i < argc; ++i) {
    const std::wstring arg = argv[i];
    if (arg == L"--timeout-ms" && i + 1 < argc) {
      timeoutMs = static_cast<DWORD>(std::wcstoul(argv[++i], nullptr, 10));
    } else if (arg == L"--result" && i + 1 < argc) {
      resultFile = argv[++i];
    } else if (arg == L"--kill-when" && i + 1 < argc) {
      killFile = argv[++i];
    } else if (arg == L"--stdout" && i + 1 < argc) {
      stdoutFile = argv[++i];
    } else if (arg == L"--stderr" && i + 1 < argc) {
      stderrFile = argv[++i];
    } else if (arg == L"--invisible-station") {
      invisible = true;
    } else {
      break;
    }
  }
  if (i >= argc) return Usage();

  std::wstring commandLine;
  for (int a = i; a < argc; ++a) {
    if (a > i) commandLine += L' ';
    commandLine += QuoteArgument(std::wstring(argv[a]));
  }
  std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
  buffer.push_back(L'\0');

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  std::wstring desktop;
  if (invisible) {
    if (!MakeInvisibleStation()) {
      std::fprintf(stderr, "runner: cannot make an invisible window station (error %lu)\n", GetLastError());
      return 2;
    }
    desktop = std::wstring(kInvisibleStation) + L"\\Default";
    startup.lpDesktop = &desktop[0];
  }
  BOOL inherit = FALSE;
  if (!stdoutFile.empty() || !stderrFile.empty()) {
    startup.dwFlags |= STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = stdoutFile.empty() ? GetStdHandle(STD_OUTPUT_HANDLE) : InheritableFile(stdoutFile);
    startup.hStdError = stderrFile.empty() ? GetStdHandle(STD_ERROR_HANDLE) : InheritableFile(stderrFile);
    if (startup.hStdOutput == INVALID_HANDLE_VALUE || startup.hStdError == INVALID_HANDLE_VALUE) {
      std::fprintf(stderr, "runner: cannot create the output files (error %lu)\n", GetLastError());
      return 2;
    }
    inherit = TRUE;
  }
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, inherit, 0, nullptr, nullptr, &startup,
                      &process)) {
    std::fprintf(stderr, "runner: cannot start %ls (error %lu)\n", commandLine.c_str(), GetLastError());
    return 2;
  }

  BoxWatcher watcher(process.dwProcessId);
  const ULONGLONG started = GetTickCount64();
  bool timedOut = false;
  bool killed = false;
  for (;;) {
    const DWORD wait = WaitForSingleObject(process.hProcess, 50);
    if (wait != WAIT_TIMEOUT) break;
    watcher.Poll();
    if (!killFile.empty() && GetFileAttributesW(killFile.c_str()) != INVALID_FILE_ATTRIBUTES) {
      killed = true;
      TerminateProcess(process.hProcess, 0xDEAD);
      WaitForSingleObject(process.hProcess, 5000);
      break;
    }
    if (timeoutMs != INFINITE && GetTickCount64() - started >= timeoutMs) {
      timedOut = true;
      TerminateProcess(process.hProcess, 0xDEAD);
      WaitForSingleObject(process.hProcess, 5000);
      break;
    }
  }
  DWORD exitCode = 0;
  GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);

  const std::string json = ResultJson(exitCode, watcher.boxes(), timedOut, killed);
  if (resultFile.empty()) {
    std::fputs(json.c_str(), stdout);
    return 0;
  }
  FILE* file = _wfopen(resultFile.c_str(), L"wb");
  if (!file) {
    std::fprintf(stderr, "runner: cannot write %ls\n", resultFile.c_str());
    return 3;
  }
  std::fputs(json.c_str(), file);
  std::fclose(file);
  return 0;
}
