// Owners of one platform handle each, closed exactly once.
#pragma once

#include <windows.h>

namespace vantu {

template <typename Traits>
class UniqueHandle {
 public:
  using Type = typename Traits::Type;

  UniqueHandle() = default;
  explicit UniqueHandle(Type handle) : handle_(handle) {}
  ~UniqueHandle() { reset(); }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  Type get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  void reset() {
    if (handle_ != nullptr) Traits::Close(handle_);
    handle_ = nullptr;
  }

 private:
  Type handle_ = nullptr;
};

struct KernelHandleTraits {
  using Type = HANDLE;
  static void Close(HANDLE handle) { CloseHandle(handle); }
};

struct ServiceHandleTraits {
  using Type = SC_HANDLE;
  static void Close(SC_HANDLE handle) { CloseServiceHandle(handle); }
};

using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueServiceHandle = UniqueHandle<ServiceHandleTraits>;

}  // namespace vantu
