// Call log, faults, resource ledger and last-error value.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <set>

#include "fake_win32/control.h"
#include "internal.h"

namespace fake_win32 {
namespace {

struct Fault {
  int occurrence;  // 0: every call
  uint32_t error;
};

struct CoreState {
  std::vector<Call> calls;
  std::map<std::string, int> counts;
  std::multimap<std::string, Fault> faults;
  std::map<std::string, std::set<const void*>> open;
  std::vector<std::string> misuses;
  uintptr_t nextHandle = 0x1000;
};

CoreState& State() {
  static CoreState state;
  return state;
}

thread_local DWORD lastError = 0;
thread_local int offTheRecord = 0;

}  // namespace

namespace internal {

void Record(const char* function, std::initializer_list<std::string> args) {
  if (offTheRecord) return;
  State().calls.push_back(Call{function, std::vector<std::string>(args)});
}

std::optional<uint32_t> Enter(const char* function, std::initializer_list<std::string> args) {
  auto& state = State();
  if (offTheRecord) return std::nullopt;
  Record(function, args);
  const int occurrence = ++state.counts[function];
  auto range = state.faults.equal_range(function);
  for (auto it = range.first; it != range.second; ++it) {
    if (it->second.occurrence == 0 || it->second.occurrence == occurrence) return it->second.error;
  }
  return std::nullopt;
}

std::string Hex(uint64_t value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "0x%llX", static_cast<unsigned long long>(value));
  return buffer;
}

std::string Ptr(const void* p) { return p ? Hex(reinterpret_cast<uintptr_t>(p)) : std::string("(null)"); }

std::string Num(int64_t value) { return std::to_string(value); }

void Opened(const std::string& kind, const void* id) { State().open[kind].insert(id); }

bool Closed(const std::string& kind, const void* id) {
  auto& set = State().open[kind];
  if (set.erase(id) == 1) return true;
  Misuse("release of a " + kind + " that is not open: " + Ptr(id));
  return false;
}

bool IsOpen(const std::string& kind, const void* id) {
  auto it = State().open.find(kind);
  return it != State().open.end() && it->second.count(id) != 0;
}

void Misuse(const std::string& what) { State().misuses.push_back(what); }

uintptr_t NewHandleValue() {
  State().nextHandle += 4;
  return State().nextHandle;
}

bool EqualsNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
           return std::tolower(x) == std::tolower(y);
         });
}

bool LessNoCase::operator()(const std::string& a, const std::string& b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](unsigned char x, unsigned char y) {
                                        return std::tolower(x) < std::tolower(y);
                                      });
}

}  // namespace internal

OffTheRecord::OffTheRecord() { ++offTheRecord; }
OffTheRecord::~OffTheRecord() { --offTheRecord; }

void Reset() {
  auto& state = State();
  state.calls.clear();
  state.counts.clear();
  state.faults.clear();
  state.open.clear();
  state.misuses.clear();
  lastError = 0;
  internal::ResetRegistry();
  internal::ResetServices();
  internal::ResetProcesses();
  internal::ResetFiles();
  internal::ResetProfiles();
  internal::ResetShell();
  internal::ResetCom();
  internal::ResetAutomation();
  internal::ResetModule();
  internal::ResetText();
  internal::ResetSession();
  internal::ResetCrypto();
  internal::ResetLibraries();
  internal::ResetResources();
  internal::ResetSecurity();
  internal::ResetImage();
  internal::ResetObjects();
  internal::ResetEnvironment();
  // Setting up the state above is not part of what a test observes.
  state.calls.clear();
  state.counts.clear();
}

void FailCall(const std::string& function, int occurrence, uint32_t error) {
  State().faults.emplace(function, Fault{occurrence, error});
}

void FailEveryCall(const std::string& function, uint32_t error) {
  State().faults.emplace(function, Fault{0, error});
}

const std::vector<Call>& Calls() { return State().calls; }

void ClearCalls() {
  State().calls.clear();
  State().counts.clear();
}

std::vector<Call> CallsTo(const std::string& function) {
  std::vector<Call> out;
  for (const auto& call : State().calls) {
    if (call.function == function) out.push_back(call);
  }
  return out;
}

int CallCount(const std::string& function) {
  return static_cast<int>(std::count_if(State().calls.begin(), State().calls.end(),
                                        [&](const Call& c) { return c.function == function; }));
}

std::vector<std::string> CallSequence() {
  std::vector<std::string> out;
  for (const auto& call : State().calls) out.push_back(call.function);
  return out;
}

std::vector<std::string> OpenResources() {
  std::vector<std::string> out;
  for (const auto& [kind, set] : State().open) {
    for (const void* id : set) out.push_back(kind + " " + internal::Ptr(id));
  }
  return out;
}

std::vector<std::string> Misuses() { return State().misuses; }

}  // namespace fake_win32

DWORD WINAPI GetLastError() { return fake_win32::lastError; }
void WINAPI SetLastError(DWORD error) { fake_win32::lastError = error; }
