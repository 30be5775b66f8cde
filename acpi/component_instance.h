// One instance of the automation component "trelvoCom.axdata", made for one
// exported call and released once when the call is done.
#pragma once

#include <windows.h>
#include <objbase.h>

namespace vantu {

extern const wchar_t kComponentProgId[];

class ComponentInstance {
 public:
  // Resolves the ProgID afresh and creates the instance as a local server.
  // The calling thread must be initialised for the component model.
  ComponentInstance();
  ~ComponentInstance() { Release(); }
  ComponentInstance(const ComponentInstance&) = delete;
  ComponentInstance& operator=(const ComponentInstance&) = delete;

  explicit operator bool() const { return dispatch_ != nullptr; }
  IDispatch* get() const { return dispatch_; }
  // Releases the instance now; later calls do nothing.
  void Release();

 private:
  IDispatch* dispatch_ = nullptr;
};

}  // namespace vantu
