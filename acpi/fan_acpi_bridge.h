/* fan_acpi_bridge.h: for programs that call the ACPI bridge of setup.exe.
 *
 * setup.exe exports nine functions through which another program reaches the
 * board's firmware with plain 32-bit values and byte buffers. Each makes one
 * call of a method of the automation component "trelvoCom.axdata" (a local
 * server) on an instance of its own, and passes values and bytes through
 * unchanged: what they mean is the component's business. This header gives
 * their names, ordinals and function types; it needs nothing but
 * <windows.h> and serves C and C++, 32-bit and 64-bit callers alike.
 *
 * WHICH IMAGE
 *   A 32-bit program loads the 32-bit setup.exe, a 64-bit program the 64-bit
 *   one (a process cannot load an image of the other bitness). Both record
 *   the module name "setup.exe" and export the same nine names at the same
 *   ordinals: the decorated names of 32-bit stdcall functions
 *   ("_AcpiGetItem@8"), in the 64-bit image too, so that one caller source
 *   serves both: look the functions up with the FAN_ACPI_NAME_... strings
 *   below (or the FAN_ACPI_ORDINAL_... numbers, through MAKEINTRESOURCEA).
 *   The 64-bit image's component must be registered in the 64-bit registry
 *   view, the 32-bit image's in the 32-bit view.
 *
 * CALLING CONVENTION
 *   WINAPI: stdcall in the 32-bit image (the called function removes its
 *   arguments); the 64-bit image has one calling convention, the x64 one,
 *   and WINAPI means nothing there. Every argument is a 32-bit value or a
 *   pointer; every function returns 1 for success and 0 for failure.
 *
 * THE COMPONENT MODEL
 *   The calling thread must have initialised the component object model
 *   (CoInitialize or CoInitializeEx) before the first call, and keep it
 *   initialised while it calls. No function initialises it; on a thread
 *   that has not, every function returns 0 and changes nothing.
 *
 * BUFFERS
 *   The five buffer functions take a buffer and a pointer to its length.
 *   On entry *length is the number of bytes to send, which is also the
 *   buffer's capacity: exactly that many bytes go to the component. On
 *   return *length is the length the component left, and the buffer starts
 *   with the bytes the component left, but never more than the capacity
 *   given on entry (nor more than the component's array holds), so *length
 *   may be larger than what was written; the bytes after them are as they
 *   were. A null length pointer, or a null buffer with a length other than
 *   0, is refused (0, nothing sent).
 *
 * LOADING setup.exe
 *   LoadLibrary maps an executable but does not make it ready to run:
 *   Microsoft's documentation of LoadLibrary and LoadLibraryEx says that for
 *   an executable module the static imports are not loaded, the module being
 *   loaded as if DONT_RESOLVE_DLL_REFERENCES were given (no entry point
 *   runs, so neither does the C runtime's start-up, and no DLL it imports is
 *   loaded for it). The exports need no start-up, but they do call through
 *   the import address table (the component model's DLLs among others), so
 *   a caller must fill that table itself before the first call: load each
 *   imported DLL and write each function's address into its slot. Wine 8
 *   leaves the base relocations undone as well when the image does not lie
 *   at its preferred base; that documentation does not say whether Windows
 *   applies them for an executable. tools/export_client/image_loader.cpp
 *   does both, and only what the loader left undone (it compares the mapped
 *   image with the file).
 *
 * EXAMPLE
 *   CoInitialize(NULL);
 *   HMODULE setup = LoadLibraryA("C:\\Fan\\Setup\\setup.exe");
 *   ... fill the import address table (see above) ...
 *   FanAcpiGetItemFunction *getItem =
 *       (FanAcpiGetItemFunction *)(void (*)(void))GetProcAddress(setup, FAN_ACPI_NAME_GET_ITEM);
 *   ULONG value = 0;
 *   if (getItem && getItem(7, &value)) printf("item 7 = %lu\n", value);
 */
#pragma once

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The exported names, for GetProcAddress; the same in both images. */
#define FAN_ACPI_NAME_CALL_METHOD "_AcpiCallMethod@12"
#define FAN_ACPI_NAME_GGRP "_AcpiGGrp@12"
#define FAN_ACPI_NAME_GET_ITEM "_AcpiGetItem@8"
#define FAN_ACPI_NAME_GET_ITEM_BUFFER "_AcpiGetItemBuffer@16"
#define FAN_ACPI_NAME_GET_ITEM_EX "_AcpiGetItemEx@12"
#define FAN_ACPI_NAME_INIT "_AcpiInit@0"
#define FAN_ACPI_NAME_MBIF "_AcpiMbif@8"
#define FAN_ACPI_NAME_SET_ITEM "_AcpiSetItem@12"
#define FAN_ACPI_NAME_SET_ITEM_BUFFER "_AcpiSetItemBuffer@16"

/* Their ordinals: the byte order of the names. */
#define FAN_ACPI_ORDINAL_CALL_METHOD 1
#define FAN_ACPI_ORDINAL_GGRP 2
#define FAN_ACPI_ORDINAL_GET_ITEM 3
#define FAN_ACPI_ORDINAL_GET_ITEM_BUFFER 4
#define FAN_ACPI_ORDINAL_GET_ITEM_EX 5
#define FAN_ACPI_ORDINAL_INIT 6
#define FAN_ACPI_ORDINAL_MBIF 7
#define FAN_ACPI_ORDINAL_SET_ITEM 8
#define FAN_ACPI_ORDINAL_SET_ITEM_BUFFER 9

/* The module name the export table records. */
#define FAN_ACPI_MODULE_NAME "setup.exe"

/* The function types. A pointer to one is what GetProcAddress's result is
 * cast to: (FanAcpiGetItemFunction *)(void (*)(void))GetProcAddress(...)
 * (the cast through void (*)(void) keeps compilers from warning about the
 * cast between function types). */

/* "iAcpiInit", no arguments. 1 when the method call succeeded. */
typedef ULONG WINAPI FanAcpiInitFunction(void);

/* "iAcpiGetItem" with item and *value (by reference): the component reads
 * *value and may overwrite it. 1 when the method call succeeded. A null
 * value pointer is refused (0). */
typedef ULONG WINAPI FanAcpiGetItemFunction(ULONG item, ULONG *value);

/* "iAcpiGetItemEx" with first, second and *value (by reference), as
 * AcpiGetItem. 1 when the method call succeeded. */
typedef ULONG WINAPI FanAcpiGetItemExFunction(ULONG first, ULONG second, ULONG *value);

/* "iAcpiSetItem" with first, second and third. 1 when the method call
 * succeeded. */
typedef ULONG WINAPI FanAcpiSetItemFunction(ULONG first, ULONG second, ULONG third);

/* The buffer functions (see BUFFERS above). Each returns 1 once the
 * component's instance and the byte array exist and the array is released
 * without error, whatever the method call itself returned: the buffer and
 * *length then hold what the component left (a failing method may still
 * have left something). 0 when the component cannot be reached, the array
 * cannot be made or the arguments are refused; buffer and *length are then
 * unchanged. */

/* "iAcpiGetItemBuffer" with first, second, the bytes and the length. */
typedef ULONG WINAPI FanAcpiGetItemBufferFunction(ULONG first, ULONG second, BYTE *buffer, ULONG *length);

/* "iAcpiSetItemBuffer", as AcpiGetItemBuffer: what the component leaves
 * comes back into the buffer too. */
typedef ULONG WINAPI FanAcpiSetItemBufferFunction(ULONG first, ULONG second, BYTE *buffer, ULONG *length);

/* "iAcpiMbif" with the bytes and the length: the firmware package. */
typedef ULONG WINAPI FanAcpiMbifFunction(BYTE *buffer, ULONG *length);

/* "iAcpiGGrp" with selector, the bytes and the length. The first byte sent
 * is always 0xE1: the function writes it into the caller's buffer before
 * sending, when at least one byte is sent. */
typedef ULONG WINAPI FanAcpiGGrpFunction(ULONG selector, BYTE *buffer, ULONG *length);

/* "iAcpiCallMethod" with the 4 bytes at selector4 read as one little-endian
 * 32-bit value (the first byte lowest), the bytes and the length. A null
 * selector4 is refused (0). */
typedef ULONG WINAPI FanAcpiCallMethodFunction(const BYTE *selector4, BYTE *buffer, ULONG *length);

#ifdef __cplusplus
}  /* extern "C" */
#endif
