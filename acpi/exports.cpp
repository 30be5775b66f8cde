#include "acpi/exports.h"

#include "acpi/byte_array.h"
#include "acpi/component_instance.h"
#include "acpi/dispatch.h"
#include "base/little_endian.h"

namespace vantu {
namespace {

// One scalar method call: 1 when it succeeded.
ULONG CallScalar(const wchar_t* method, UINT count, const VARIANT* arguments) {
  const ComponentInstance component = CreateComponentInstance();
  if (!component) return 0;
  return SUCCEEDED(CallMethod(component.get(), method, count, arguments)) ? 1 : 0;
}

// One buffer method call: the caller's bytes go out in a byte array, what the
// component leaves comes back. 1 once the instance and the array existed and
// the array was cleared without error, whatever the method call returned.
template <typename Invoke>
ULONG ExchangeBuffer(BYTE* buffer, ULONG* length, bool markFirstByte, Invoke invoke) {
  if (!length || (!buffer && *length != 0)) return 0;
  ComponentInstance component = CreateComponentInstance();
  if (!component) return 0;
  const ULONG capacity = *length;
  ByteArray array;
  if (!array.Create(capacity)) return 0;
  if (!array.Fill(buffer, capacity, markFirstByte)) return 0;
  invoke(component.get(), array.variant(), length);
  array.CopyBack(buffer, capacity, *length);
  component.reset();
  return SUCCEEDED(array.Clear()) ? 1 : 0;
}

}  // namespace
}  // namespace vantu

using namespace vantu;

extern "C" {

ULONG WINAPI AcpiInit() { return CallScalar(L"iAcpiInit", 0, nullptr); }

ULONG WINAPI AcpiGetItem(ULONG item, ULONG* value) {
  if (!value) return 0;
  const VARIANT arguments[] = {UnsignedArgument(item), UnsignedReference(value)};
  return CallScalar(L"iAcpiGetItem", 2, arguments);
}

ULONG WINAPI AcpiGetItemEx(ULONG first, ULONG second, ULONG* value) {
  if (!value) return 0;
  const VARIANT arguments[] = {UnsignedArgument(first), UnsignedArgument(second), UnsignedReference(value)};
  return CallScalar(L"iAcpiGetItemEx", 3, arguments);
}

ULONG WINAPI AcpiSetItem(ULONG first, ULONG second, ULONG third) {
  const VARIANT arguments[] = {UnsignedArgument(first), UnsignedArgument(second), UnsignedArgument(third)};
  return CallScalar(L"iAcpiSetItem", 3, arguments);
}

ULONG WINAPI AcpiGetItemBuffer(ULONG first, ULONG second, BYTE* buffer, ULONG* length) {
  return ExchangeBuffer(buffer, length, false, [&](IDispatch* dispatch, VARIANT* array, ULONG* left) {
    return InvokeItemBuffer(dispatch, L"iAcpiGetItemBuffer", first, second, array, left);
  });
}

ULONG WINAPI AcpiSetItemBuffer(ULONG first, ULONG second, BYTE* buffer, ULONG* length) {
  return ExchangeBuffer(buffer, length, false, [&](IDispatch* dispatch, VARIANT* array, ULONG* left) {
    return InvokeItemBuffer(dispatch, L"iAcpiSetItemBuffer", first, second, array, left);
  });
}

ULONG WINAPI AcpiMbif(BYTE* buffer, ULONG* length) {
  return ExchangeBuffer(buffer, length, false, [](IDispatch* dispatch, VARIANT* array, ULONG* left) {
    const VARIANT arguments[] = {VariantReference(array), UnsignedReference(left)};
    return CallMethod(dispatch, L"iAcpiMbif", 2, arguments);
  });
}

ULONG WINAPI AcpiGGrp(ULONG selector, BYTE* buffer, ULONG* length) {
  return ExchangeBuffer(buffer, length, true, [&](IDispatch* dispatch, VARIANT* array, ULONG* left) {
    return InvokeSelectorBuffer(dispatch, L"iAcpiGGrp", selector, array, left);
  });
}

ULONG WINAPI AcpiCallMethod(const BYTE* selector, BYTE* buffer, ULONG* length) {
  if (!selector) return 0;
  return ExchangeBuffer(buffer, length, false, [&](IDispatch* dispatch, VARIANT* array, ULONG* left) {
    return InvokeSelectorBuffer(dispatch, L"iAcpiCallMethod", ReadLittleEndian32(selector), array, left);
  });
}

}  // extern "C"
