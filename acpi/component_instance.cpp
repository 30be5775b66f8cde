#include "acpi/component_instance.h"

namespace vantu {

const wchar_t kComponentProgId[] = L"trelvoCom.axdata";

ComponentInstance CreateComponentInstance() {
  CLSID clsid;
  if (FAILED(CLSIDFromProgID(kComponentProgId, &clsid))) return ComponentInstance();
  void* object = nullptr;
  if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch, &object))) {
    return ComponentInstance();
  }
  return ComponentInstance(static_cast<IDispatch*>(object));
}

}  // namespace vantu
