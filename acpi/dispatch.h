// Late-bound method calls on the automation component.
#pragma once

#include <windows.h>
#include <oleauto.h>

namespace vantu {

// The most arguments any method of the component takes.
constexpr UINT kMaxArguments = 4;

VARIANT UnsignedArgument(ULONG value);            // VT_UI4
VARIANT UnsignedReference(ULONG* variable);       // VT_BYREF | VT_UI4
VARIANT VariantReference(VARIANT* variant);       // VT_BYREF | VT_VARIANT

// Calls `method` with `count` arguments given in the method's parameter
// order (at most kMaxArguments): looks the name up (LOCALE_USER_DEFAULT),
// then invokes it as a method (LOCALE_SYSTEM_DEFAULT) with the arguments
// reversed, as IDispatch takes them. Returns the lookup's HRESULT when it
// fails, else Invoke's; E_FAIL for a null dispatch, E_INVALIDARG for too
// many arguments.
HRESULT InvokeByName(IDispatch* dispatch, const wchar_t* method, VARIANT* result, UINT count,
                     const VARIANT* arguments);

// InvokeByName with a result VARIANT that is cleared afterwards: for calls
// whose return value nobody looks at.
HRESULT CallMethod(IDispatch* dispatch, const wchar_t* method, UINT count, const VARIANT* arguments);

// method(first, second, array by reference, length by reference)
HRESULT InvokeItemBuffer(IDispatch* dispatch, const wchar_t* method, ULONG first, ULONG second, VARIANT* array,
                         ULONG* length);

// method(selector, array by reference, length by reference)
HRESULT InvokeSelectorBuffer(IDispatch* dispatch, const wchar_t* method, ULONG selector, VARIANT* array,
                             ULONG* length);

}  // namespace vantu
