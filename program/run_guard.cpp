#include "program/run_guard.h"

#include <string>
#include <utility>

#include "base/admin_only_security.h"
#include "base/kernel32_function.h"
#include "base/text_encoding.h"
#include "runlog/run_log.h"

namespace vantu {

using CreateBoundaryDescriptorFunction = HANDLE(WINAPI*)(LPCWSTR, ULONG);
using AddSidToBoundaryDescriptorFunction = BOOL(WINAPI*)(HANDLE*, PSID);
using DeleteBoundaryDescriptorFunction = void(WINAPI*)(HANDLE);
using CreatePrivateNamespaceFunction = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, LPVOID, LPCWSTR);
using OpenPrivateNamespaceFunction = HANDLE(WINAPI*)(LPVOID, LPCWSTR);

// Every Windows since Vista has them all; Wine 8 has CreateBoundaryDescriptorW
// alone (a stand-in that makes nothing), and its AddSIDToBoundaryDescriptor,
// imported, ends the process. So each is looked up, and the namespace is
// used only when all are there and a boundary is made.
struct RunGuard::NamespaceFunctions {
  CreateBoundaryDescriptorFunction createBoundary =
      FindKernel32Function<CreateBoundaryDescriptorFunction>("CreateBoundaryDescriptorW");
  AddSidToBoundaryDescriptorFunction addSid =
      FindKernel32Function<AddSidToBoundaryDescriptorFunction>("AddSIDToBoundaryDescriptor");
  DeleteBoundaryDescriptorFunction deleteBoundary =
      FindKernel32Function<DeleteBoundaryDescriptorFunction>("DeleteBoundaryDescriptor");
  CreatePrivateNamespaceFunction createNamespace =
      FindKernel32Function<CreatePrivateNamespaceFunction>("CreatePrivateNamespaceW");
  OpenPrivateNamespaceFunction openNamespace =
      FindKernel32Function<OpenPrivateNamespaceFunction>("OpenPrivateNamespaceW");
  ClosePrivateNamespaceFunction closeNamespace =
      FindKernel32Function<ClosePrivateNamespaceFunction>("ClosePrivateNamespace");

  bool complete() const {
    return createBoundary && addSid && deleteBoundary && createNamespace && openNamespace && closeNamespace;
  }
};

namespace {

// A boundary descriptor, deleted through the DeleteBoundaryDescriptor found
// with the function that made it.
struct Boundary {
  HANDLE handle;
  DeleteBoundaryDescriptorFunction remove;
  bool operator!=(const Boundary& other) const { return handle != other.handle; }
};
struct BoundaryPolicy {
  using Type = Boundary;
  static Type Invalid() noexcept { return Type{nullptr, nullptr}; }
  static void Close(Type boundary) noexcept { boundary.remove(boundary.handle); }
};
using UniqueBoundary = UniqueHandle<BoundaryPolicy>;

// Another run may close the namespace between a create that finds it and
// the open: then it is made afresh.
constexpr int kNamespaceAttempts = 3;

}  // namespace

RunGuard::~RunGuard() {
  if (owned_) ReleaseMutex(mutex_.get());
}

RunGuard::Made RunGuard::Fail(std::string why) {
  failure_ = Utf8FromWide(name_) + ": " + std::move(why);
  return Made::kNo;
}

RunGuard::Made RunGuard::Fail(const char* function, DWORD error) {
  return Fail(std::string(function) + " failed: " + ErrorText(error));
}

RunGuard::Made RunGuard::MakeInNamespace(const NamespaceFunctions& functions) {
  AdminOnlySecurity security;
  DWORD error = 0;
  if (!security.Build(&error)) return Fail("building its security descriptor", error);
  SetLastError(ERROR_SUCCESS);
  UniqueBoundary boundary(Boundary{functions.createBoundary(kRunGuardNamespace, 0), functions.deleteBoundary});
  if (!boundary) {
    error = GetLastError();
    // No boundary, and no error said: Wine's stand-in, which makes none.
    if (error == ERROR_SUCCESS || error == ERROR_CALL_NOT_IMPLEMENTED) return Made::kNoNamespaces;
    return Fail("CreateBoundaryDescriptorW", error);
  }
  // AddSIDToBoundaryDescriptor may move the descriptor.
  Boundary moving = boundary.release();
  const BOOL added = functions.addSid(&moving.handle, security.administrators());
  error = GetLastError();
  boundary.reset(moving);
  if (!added) return Fail("AddSIDToBoundaryDescriptor", error);
  for (int attempt = 0; attempt < kNamespaceAttempts && !namespace_; ++attempt) {
    HANDLE space = functions.createNamespace(security.attributes(), boundary.get().handle, kRunGuardNamespace);
    if (!space) {
      error = GetLastError();
      if (error != ERROR_ALREADY_EXISTS) return Fail("CreatePrivateNamespaceW", error);
      space = functions.openNamespace(boundary.get().handle, kRunGuardNamespace);
      if (!space) error = GetLastError();
    }
    if (space) namespace_.reset(PrivateNamespace{space, functions.closeNamespace});
  }
  if (!namespace_) return Fail("OpenPrivateNamespaceW", error);
  name_ = kRunGuardName;
  mutex_.reset(CreateMutexW(security.attributes(), FALSE, kRunGuardName));
  if (!mutex_) return Fail("CreateMutexW", GetLastError());
  LogLine({"run guard: the mutex ", kRunGuardName, " in the administrators' private namespace"});
  return Made::kYes;
}

RunGuard::Made RunGuard::MakeInGlobal() {
  name_ = kGlobalRunGuardName;
  AdminOnlySecurity security;
  DWORD error = 0;
  if (!security.Build(&error)) return Fail("building its security descriptor", error);
  SetLastError(ERROR_SUCCESS);
  mutex_.reset(CreateMutexW(security.attributes(), FALSE, kGlobalRunGuardName));
  // Also a name that another program made with a DACL that keeps this run
  // out (5), or as another kind of object (6).
  if (!mutex_) return Fail("CreateMutexW", GetLastError());
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    // Made by another run, with the same descriptor, or by some other
    // program, which would keep every run waiting for as long as it holds
    // it: that one is not waited for.
    const AdminOnlyCheck check = CheckAdminOnly(mutex_.get(), SE_KERNEL_OBJECT);
    if (check.kind == AdminOnlyCheck::Kind::kUnknown) return Fail("GetSecurityInfo", check.error);
    if (check.kind != AdminOnlyCheck::Kind::kAdminOnly) {
      mutex_.reset();
      return Fail("made by another program, not by a setup run (" + check.detail + ")");
    }
  }
  LogLine({"run guard: the mutex ", kGlobalRunGuardName,
           " for administrators alone (this system has no private namespaces)"});
  return Made::kYes;
}

RunGuard::Outcome RunGuard::Take(DWORD limitMs) {
  const NamespaceFunctions functions;
  Made made = functions.complete() ? MakeInNamespace(functions) : Made::kNoNamespaces;
  if (made == Made::kNoNamespaces) made = MakeInGlobal();
  if (made != Made::kYes) {
    LogLine({"the run guard could not be taken: ", failure_, "; nothing done"});
    return Outcome::kFailed;
  }
  DWORD wait = WaitForSingleObject(mutex_.get(), 0);
  const bool held = wait == WAIT_TIMEOUT;
  ULONGLONG waited = 0;
  if (held) {
    LogLine({"another setup run is in progress: waiting for it to end (at most ", std::to_string(limitMs / 1000),
             " s)"});
    const ULONGLONG started = GetTickCount64();
    wait = WaitForSingleObject(mutex_.get(), limitMs);
    waited = GetTickCount64() - started;
  }
  switch (wait) {
    case WAIT_OBJECT_0:
      owned_ = true;
      if (held) LogLine({"the other setup run ended: waited ", std::to_string(waited), " ms"});
      return Outcome::kTaken;
    case WAIT_ABANDONED:
      owned_ = true;
      LogLine({"took over the run guard of a setup run that ended without letting go of it (waited ",
               std::to_string(waited), " ms)"});
      return Outcome::kTakenOver;
    case WAIT_TIMEOUT:
      LogLine({"another setup run still holds the run guard after ", std::to_string(limitMs / 1000),
               " s: giving up"});
      return Outcome::kTimedOut;
    default:
      Fail("WaitForSingleObject", GetLastError());
      LogLine({"the run guard could not be taken: ", failure_, "; nothing done"});
      return Outcome::kFailed;
  }
}

}  // namespace vantu
