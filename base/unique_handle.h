// The owner of one platform resource, released exactly once: a handle, a
// key, a search, a component instance, a VARIANT. One template serves every
// kind; a policy per kind says which value means "nothing owned" and how the
// resource is released.
//
// A policy is a type with
//   using Type = ...;                 the resource as the platform hands it out
//   static Type Invalid();            the value that owns nothing
//   static void Close(Type resource); releases a resource that is not Invalid()
// Close is never called on Invalid(), and its result is not looked at.
#pragma once

#include <windows.h>

namespace vantu {

template <typename Policy>
class UniqueHandle {
 public:
  using Type = typename Policy::Type;

  UniqueHandle() noexcept = default;
  explicit UniqueHandle(Type resource) noexcept : resource_(resource) {}
  ~UniqueHandle() { reset(); }

  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : resource_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  Type get() const noexcept { return resource_; }
  explicit operator bool() const noexcept { return resource_ != Policy::Invalid(); }

  // Releases what is owned now (if anything), then owns `resource`.
  void reset(Type resource = Policy::Invalid()) noexcept {
    const Type old = resource_;
    resource_ = resource;
    if (old != Policy::Invalid()) Policy::Close(old);
  }

  // Gives up ownership without releasing; the caller owns the result.
  Type release() noexcept {
    const Type owned = resource_;
    resource_ = Policy::Invalid();
    return owned;
  }

 private:
  Type resource_ = Policy::Invalid();
};

// The two ways the platform says "no handle".
template <typename T>
struct NullIsInvalid {
  using Type = T;
  static Type Invalid() noexcept { return nullptr; }
};

struct InvalidHandleValueIsInvalid {
  using Type = HANDLE;
  static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
};

// Process and thread handles: null when there is none.
struct KernelHandlePolicy : NullIsInvalid<HANDLE> {
  static void Close(HANDLE handle) noexcept { CloseHandle(handle); }
};

// Files opened with CreateFile: INVALID_HANDLE_VALUE when there is none.
struct FileHandlePolicy : InvalidHandleValueIsInvalid {
  static void Close(HANDLE handle) noexcept { CloseHandle(handle); }
};

// Searches from FindFirstFile: INVALID_HANDLE_VALUE when there is none.
struct FindHandlePolicy : InvalidHandleValueIsInvalid {
  static void Close(HANDLE handle) noexcept { FindClose(handle); }
};

// The service control manager and its services.
struct ServiceHandlePolicy : NullIsInvalid<SC_HANDLE> {
  static void Close(SC_HANDLE handle) noexcept { CloseServiceHandle(handle); }
};

// Registry keys that were opened or created (never a predefined root).
struct RegistryKeyPolicy : NullIsInvalid<HKEY> {
  static void Close(HKEY key) noexcept { RegCloseKey(key); }
};

// A module from LoadLibraryExW, released with FreeLibrary.
struct LibraryPolicy : NullIsInvalid<HMODULE> {
  static void Close(HMODULE module) noexcept { FreeLibrary(module); }
};

// Memory that a function allocated for its caller with LocalAlloc, such as
// the security descriptor of GetSecurityInfo.
struct LocalMemoryPolicy : NullIsInvalid<HLOCAL> {
  static void Close(HLOCAL memory) noexcept { LocalFree(memory); }
};

using UniqueKernelHandle = UniqueHandle<KernelHandlePolicy>;
using UniqueFileHandle = UniqueHandle<FileHandlePolicy>;
using UniqueFindHandle = UniqueHandle<FindHandlePolicy>;
using UniqueServiceHandle = UniqueHandle<ServiceHandlePolicy>;
using UniqueRegistryKey = UniqueHandle<RegistryKeyPolicy>;
using UniqueLibrary = UniqueHandle<LibraryPolicy>;
using UniqueLocalMemory = UniqueHandle<LocalMemoryPolicy>;

}  // namespace vantu
