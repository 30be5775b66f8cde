#include "acpi/component_instance.h"

namespace vantu {

const wchar_t kComponentProgId[] = L"trelvoCom.axdata";

ComponentInstance::ComponentInstance() {
  CLSID clsid;
  if (FAILED(CLSIDFromProgID(kComponentProgId, &clsid))) return;
  void* object = nullptr;
  if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch, &object))) return;
  dispatch_ = static_cast<IDispatch*>(object);
}

void ComponentInstance::Release() {
  if (dispatch_) dispatch_->Release();
  dispatch_ = nullptr;
}

}  // namespace vantu
