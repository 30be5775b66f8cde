#include "acpi/dispatch.h"

namespace vantu {

VARIANT UnsignedArgument(ULONG value) {
  VARIANT argument;
  VariantInit(&argument);
  V_VT(&argument) = VT_UI4;
  V_UI4(&argument) = value;
  return argument;
}

VARIANT UnsignedReference(ULONG* variable) {
  VARIANT argument;
  VariantInit(&argument);
  V_VT(&argument) = VT_BYREF | VT_UI4;
  V_UI4REF(&argument) = variable;
  return argument;
}

VARIANT VariantReference(VARIANT* variant) {
  VARIANT argument;
  VariantInit(&argument);
  V_VT(&argument) = VT_BYREF | VT_VARIANT;
  V_VARIANTREF(&argument) = variant;
  return argument;
}

HRESULT InvokeByName(IDispatch* dispatch, const wchar_t* method, VARIANT* result, UINT count,
                     const VARIANT* arguments) {
  if (!dispatch) return E_FAIL;
  if (count > kMaxArguments) return E_INVALIDARG;
  LPOLESTR name = const_cast<LPOLESTR>(method);
  DISPID id = DISPID_UNKNOWN;
  const HRESULT lookup = dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(lookup)) return lookup;

  // Shallow copies: what the references point at stays the caller's.
  VARIANTARG reversed[kMaxArguments];
  for (UINT i = 0; i < count; ++i) reversed[i] = arguments[count - 1 - i];
  DISPPARAMS parameters = {};
  parameters.rgvarg = count ? reversed : nullptr;
  parameters.cArgs = count;
  parameters.rgdispidNamedArgs = nullptr;
  parameters.cNamedArgs = 0;
  return dispatch->Invoke(id, IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_METHOD, &parameters, result, nullptr,
                          nullptr);
}

HRESULT CallMethod(IDispatch* dispatch, const wchar_t* method, UINT count, const VARIANT* arguments) {
  VARIANT result;
  VariantInit(&result);
  const HRESULT hr = InvokeByName(dispatch, method, &result, count, arguments);
  VariantClear(&result);
  return hr;
}

HRESULT InvokeItemBuffer(IDispatch* dispatch, const wchar_t* method, ULONG first, ULONG second, VARIANT* array,
                         ULONG* length) {
  const VARIANT arguments[] = {UnsignedArgument(first), UnsignedArgument(second), VariantReference(array),
                               UnsignedReference(length)};
  return CallMethod(dispatch, method, 4, arguments);
}

HRESULT InvokeSelectorBuffer(IDispatch* dispatch, const wchar_t* method, ULONG selector, VARIANT* array,
                             ULONG* length) {
  const VARIANT arguments[] = {UnsignedArgument(selector), VariantReference(array), UnsignedReference(length)};
  return CallMethod(dispatch, method, 3, arguments);
}

}  // namespace vantu
