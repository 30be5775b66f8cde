// One instance of the automation component "trelvoCom.axdata", made for one
// exported call and released once when the call is done.
#pragma once

#include <windows.h>
#include <objbase.h>

#include "base/unique_handle.h"

namespace vantu {

extern const wchar_t kComponentProgId[];

// The reference held on an instance; null when there is none.
struct DispatchPolicy : NullIsInvalid<IDispatch*> {
  static void Close(IDispatch* dispatch) noexcept { dispatch->Release(); }
};

using ComponentInstance = UniqueHandle<DispatchPolicy>;

// Resolves the ProgID afresh and creates the instance as a local server;
// empty when either step fails. The calling thread must be initialised for
// the component model.
ComponentInstance CreateComponentInstance();

}  // namespace vantu
