// The nine functions that setup.exe exports so that other programs reach the
// board's firmware through plain values and byte buffers. Each makes one call
// of a method of the automation component on a fresh instance. The calling
// thread must be initialised for the component model.
//
// What each function sends, returns and writes back, the buffer protocol and
// the exported names are in fan_acpi_bridge.h, the header for callers. The
// declarations below take their types from it, so that a definition that
// strays from what callers are told (a parameter, the calling convention)
// does not compile.
#pragma once

#include "acpi/fan_acpi_bridge.h"

extern "C" {

FanAcpiInitFunction AcpiInit;
FanAcpiGetItemFunction AcpiGetItem;
FanAcpiGetItemExFunction AcpiGetItemEx;
FanAcpiSetItemFunction AcpiSetItem;
FanAcpiGetItemBufferFunction AcpiGetItemBuffer;
FanAcpiSetItemBufferFunction AcpiSetItemBuffer;
FanAcpiMbifFunction AcpiMbif;
// The first byte sent is always 0xE1, written into the caller's buffer.
FanAcpiGGrpFunction AcpiGGrp;
// `selector` points at 4 bytes, sent as one little-endian 32-bit value.
FanAcpiCallMethodFunction AcpiCallMethod;

}  // extern "C"
