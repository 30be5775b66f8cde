// standin_component.exe: a stand-in for the automation component
// "trelvoCom.axdata" that setup.exe's ACPI bridge calls, written as a plain
// COM local server (no ATL, no type library).
//
//   standin_component.exe /RegServer     register it (exit code 0 on success)
//   standin_component.exe /UnregServer   remove the registration
//   standin_component.exe -Embedding     what COM runs to activate it
//
// The options are taken with "/" or "-", in any case. Beside the executable:
// scenario.ini says what the methods answer, calls.log receives one JSON line
// per event. See README.md in this folder.
#include <windows.h>
#include <objbase.h>

#include <string>

#include "call_log.h"
#include "dispatch_object.h"
#include "registration.h"
#include "scenario.h"
#include "server_state.h"

namespace standin {
namespace {

constexpr DWORD kPollMs = 50;
// How long ending may take before the process is ended the hard way: under
// Wine, CoUninitialize has been seen to hang now and then.
constexpr DWORD kShutdownWatchdogMs = 2000;
constexpr UINT kWatchdogExitCode = 4;

// A message for whoever started the tool from a console; the tool has no
// window, so it writes to the standard error handle when there is one.
void Tell(const std::string& text) {
  const HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
  if (!handle || handle == INVALID_HANDLE_VALUE) return;
  const std::string line = "standin_component: " + text + "\n";
  DWORD written = 0;
  WriteFile(handle, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

class ThreadHandle {
 public:
  explicit ThreadHandle(HANDLE handle) : handle_(handle) {}
  ~ThreadHandle() {
    if (handle_) CloseHandle(handle_);
  }
  ThreadHandle(const ThreadHandle&) = delete;
  ThreadHandle& operator=(const ThreadHandle&) = delete;

 private:
  HANDLE handle_;
};

DWORD WINAPI ShutdownWatchdog(void*) {
  Sleep(kShutdownWatchdogMs);
  LogEvent(JsonObject().Add("event", "watchdog").Add("afterMs", kShutdownWatchdogMs));
  ExitProcess(kWatchdogExitCode);
}

void LogSettingsErrors(const ServerSettings& settings, std::string& lastLogged) {
  std::string all;
  for (const std::string& error : settings.errors) all += error + ";";
  if (all == lastLogged) return;
  lastLogged = all;
  for (const std::string& error : settings.errors) {
    LogEvent(JsonObject().Add("event", "scenario-error").Add("section", "Server").Add("key", error));
  }
}

int RunServer() {
  ServerSettings settings = ReadServerSettings();
  LogEvent(JsonObject()
               .Add("event", "start")
               .Add("pid", static_cast<unsigned long>(GetCurrentProcessId()))
               .Add("tid", static_cast<unsigned long>(GetCurrentThreadId()))
               .Add("idleTimeoutMs", static_cast<unsigned long>(settings.idleTimeoutMs))
               .Add("orphanTimeoutMs", static_cast<unsigned long>(settings.orphanTimeoutMs)));
  std::string loggedErrors;
  LogSettingsErrors(settings, loggedErrors);

  // Calls arrive on the RPC threads of the multithreaded apartment; this
  // thread only watches the clock.
  HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (FAILED(hr)) {
    LogEvent(JsonObject().Add("event", "error").Add("step", "CoInitializeEx").Add("hr", HexHresult(hr)));
    return 1;
  }
  DWORD cookie = 0;
  hr = CoRegisterClassObject(kStandinClsid, TheClassFactory(), CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie);
  if (FAILED(hr)) {
    LogEvent(JsonObject().Add("event", "error").Add("step", "CoRegisterClassObject").Add("hr", HexHresult(hr)));
    CoUninitialize();
    return 1;
  }

  const char* reason = nullptr;
  while (!reason) {
    Sleep(kPollMs);
    settings = ReadServerSettings();
    LogSettingsErrors(settings, loggedErrors);
    reason = TheServer().ExitReason(settings);
  }
  LogEvent(JsonObject().Add("event", "exit").Add("reason", reason).Add("objects", TheServer().ObjectsAlive()));

  ThreadHandle watchdog(CreateThread(nullptr, 0, ShutdownWatchdog, nullptr, 0, nullptr));
  CoRevokeClassObject(cookie);
  if (settings.exitDelayMs) Sleep(settings.exitDelayMs);
  CoUninitialize();
  LogEvent(JsonObject().Add("event", "ended"));
  return 0;
}

// The option's name without its leading "/" or "-", or empty.
std::string OptionName(const char* argument) {
  if (argument[0] != '/' && argument[0] != '-') return std::string();
  return argument + 1;
}

bool Is(const std::string& option, const char* name) {
  return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, option.c_str(), -1, name, -1) == CSTR_EQUAL;
}

}  // namespace
}  // namespace standin

int main(int argc, char** argv) {
  using namespace standin;
  for (int i = 1; i < argc; ++i) {
    const std::string option = OptionName(argv[i]);
    std::string error;
    if (Is(option, "RegServer")) {
      if (!RegisterServer(error)) {
        Tell(error);
        return 1;
      }
      return 0;
    }
    if (Is(option, "UnregServer")) {
      if (!UnregisterServer(error)) {
        Tell(error);
        return 1;
      }
      return 0;
    }
    if (Is(option, "Embedding")) return RunServer();
  }
  Tell("usage: standin_component.exe /RegServer | /UnregServer | -Embedding");
  return 2;
}
