// Service control manager: a set of service names, case-insensitive.
#include <map>
#include <optional>

#include "fake_win32/control.h"

#include "internal.h"

namespace fake_win32 {
namespace {

using internal::Enter;
using internal::Hex;
using internal::Ptr;
using internal::Text;

struct Handle {
  bool manager;
  std::string service;
};

struct ServiceState {
  std::map<std::string, std::string, internal::LessNoCase> services;  // name -> binary path
  std::map<uintptr_t, Handle> handles;
};

ServiceState& State() {
  static ServiceState state;
  return state;
}

SC_HANDLE NewHandle(bool manager, const std::string& service) {
  const uintptr_t value = internal::NewHandleValue();
  State().handles[value] = Handle{manager, service};
  auto handle = reinterpret_cast<SC_HANDLE>(value);
  internal::Opened("scm", handle);
  return handle;
}

const Handle* Find(SC_HANDLE handle) {
  auto it = State().handles.find(reinterpret_cast<uintptr_t>(handle));
  return it == State().handles.end() ? nullptr : &it->second;
}

}  // namespace

namespace internal {
void ResetServices() {
  State().services.clear();
  State().handles.clear();
}
}  // namespace internal

void AddService(const std::string& name, const std::string& binaryPath) { State().services[name] = binaryPath; }

}  // namespace fake_win32

using namespace fake_win32;

namespace fake_win32 {
namespace {

// The service of a name (UTF-8 here, null when not given) below a manager.
SC_HANDLE OpenByName(SC_HANDLE manager, const std::optional<std::string>& serviceName) {
  const Handle* owner = Find(manager);
  if (!owner || !owner->manager) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (!serviceName) {
    SetLastError(487);  // ERROR_INVALID_ADDRESS
    return nullptr;
  }
  if (serviceName->empty()) {
    SetLastError(ERROR_INVALID_NAME);
    return nullptr;
  }
  if (State().services.count(*serviceName) == 0) {
    SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
    return nullptr;
  }
  return NewHandle(false, *serviceName);
}

}  // namespace
}  // namespace fake_win32

SC_HANDLE WINAPI OpenSCManagerA(LPCSTR machineName, LPCSTR databaseName, DWORD desiredAccess) {
  if (auto fault = Enter("OpenSCManagerA", {Text(machineName), Text(databaseName), Hex(desiredAccess)})) {
    SetLastError(*fault);
    return nullptr;
  }
  return NewHandle(true, "");
}

SC_HANDLE WINAPI OpenSCManagerW(LPCWSTR machineName, LPCWSTR databaseName, DWORD desiredAccess) {
  if (auto fault = Enter("OpenSCManagerW", {Text(machineName), Text(databaseName), Hex(desiredAccess)})) {
    SetLastError(*fault);
    return nullptr;
  }
  return NewHandle(true, "");
}

SC_HANDLE WINAPI OpenServiceA(SC_HANDLE manager, LPCSTR serviceName, DWORD desiredAccess) {
  if (auto fault = Enter("OpenServiceA", {Ptr(manager), Text(serviceName), Hex(desiredAccess)})) {
    SetLastError(*fault);
    return nullptr;
  }
  return OpenByName(manager, serviceName ? std::optional<std::string>(internal::Utf8FromAnsi(serviceName))
                                         : std::nullopt);
}

SC_HANDLE WINAPI OpenServiceW(SC_HANDLE manager, LPCWSTR serviceName, DWORD desiredAccess) {
  if (auto fault = Enter("OpenServiceW", {Ptr(manager), Text(serviceName), Hex(desiredAccess)})) {
    SetLastError(*fault);
    return nullptr;
  }
  return OpenByName(manager, serviceName ? std::optional<std::string>(Text(serviceName)) : std::nullopt);
}

SC_HANDLE WINAPI CreateServiceA(SC_HANDLE manager, LPCSTR serviceName, LPCSTR displayName, DWORD desiredAccess,
                                DWORD serviceType, DWORD startType, DWORD errorControl, LPCSTR binaryPathName,
                                LPCSTR loadOrderGroup, LPDWORD tagId, LPCSTR dependencies, LPCSTR serviceStartName,
                                LPCSTR password) {
  (void)loadOrderGroup;
  (void)tagId;
  (void)dependencies;
  (void)serviceStartName;
  (void)password;
  if (auto fault = Enter("CreateServiceA", {Ptr(manager), Text(serviceName), Text(displayName), Hex(desiredAccess),
                                            Hex(serviceType), Hex(startType), Hex(errorControl),
                                            Text(binaryPathName)})) {
    SetLastError(*fault);
    return nullptr;
  }
  const Handle* owner = Find(manager);
  if (!owner || !owner->manager) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (!serviceName || !*serviceName || !binaryPathName || !*binaryPathName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const std::string name = internal::Utf8FromAnsi(serviceName);
  if (State().services.count(name) != 0) {
    SetLastError(ERROR_SERVICE_EXISTS);
    return nullptr;
  }
  State().services[name] = internal::Utf8FromAnsi(binaryPathName);
  return NewHandle(false, name);
}

BOOL WINAPI DeleteService(SC_HANDLE service) {
  if (auto fault = Enter("DeleteService", {Ptr(service)})) {
    SetLastError(*fault);
    return FALSE;
  }
  const Handle* handle = Find(service);
  if (!handle || handle->manager) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (State().services.erase(handle->service) == 0) {
    SetLastError(ERROR_SERVICE_MARKED_FOR_DELETE);
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI CloseServiceHandle(SC_HANDLE handle) {
  auto fault = Enter("CloseServiceHandle", {Ptr(handle)});
  if (!handle || !internal::Closed("scm", handle)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  State().handles.erase(reinterpret_cast<uintptr_t>(handle));
  if (fault) {
    SetLastError(*fault);
    return FALSE;
  }
  return TRUE;
}
