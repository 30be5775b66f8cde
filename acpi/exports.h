// The nine functions that setup.exe exports so that other programs reach the
// board's firmware through plain values and byte buffers. Each makes one call
// of a method of the automation component on a fresh instance. The calling
// thread must be initialised for the component model.
//
// Buffer functions take a buffer and a pointer to its length: on entry the
// number of bytes to send, which is also the buffer's capacity; on return the
// length the component left, with that many bytes in the buffer (never more
// than the capacity). All return 1 for success and 0 for failure.
#pragma once

#include <windows.h>

extern "C" {

ULONG WINAPI AcpiInit();
ULONG WINAPI AcpiGetItem(ULONG item, ULONG* value);
ULONG WINAPI AcpiGetItemEx(ULONG first, ULONG second, ULONG* value);
ULONG WINAPI AcpiSetItem(ULONG first, ULONG second, ULONG third);
ULONG WINAPI AcpiGetItemBuffer(ULONG first, ULONG second, BYTE* buffer, ULONG* length);
ULONG WINAPI AcpiSetItemBuffer(ULONG first, ULONG second, BYTE* buffer, ULONG* length);
ULONG WINAPI AcpiMbif(BYTE* buffer, ULONG* length);
// The first byte sent is always 0xE1, written into the caller's buffer.
ULONG WINAPI AcpiGGrp(ULONG selector, BYTE* buffer, ULONG* length);
// `selector` points at 4 bytes, sent as one little-endian 32-bit value.
ULONG WINAPI AcpiCallMethod(const BYTE* selector, BYTE* buffer, ULONG* length);

}  // extern "C"
