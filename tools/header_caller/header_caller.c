/* header_caller.exe: calls the nine exports of setup.exe as a program of a
 * vendor's would, written in C with acpi/fan_acpi_bridge.h as its only
 * header of the product.
 *
 *   header_caller.exe <path of setup.exe>
 *
 * Initialises the component model, loads setup.exe, finishes the load
 * (finish_load.h), looks up each export by its name and by its ordinal
 * (both must give the same address), then calls each once with the
 * arguments of the table below and prints one JSON object per call, in
 * export_client's format:
 *
 *   {"lookup":"ordinals","agree":true}
 *   {"call":"GetItem","input":"GetItem:0x11:0x55","ret":1,"value":305441741}
 *   {"call":"GGrp","input":"GGrp:0x6:00414243:4/4","ret":1,"length":0,"buffer":"e1414243","canaryIntact":true}
 *
 * "buffer" shows all <capacity> bytes after the call; 16 canary bytes 0xA5
 * follow the buffer and "canaryIntact" says whether they are unchanged;
 * CallMethod adds "selector", its 4 bytes after the call.
 *
 * Exit code: 0 once every call was made, whatever they returned; 2 for a bad
 * command line; 3 when setup.exe cannot be loaded or completed, or an export
 * is missing or found at another ordinal. */
#include <windows.h>
#include <objbase.h>

#include <stdio.h>
#include <string.h>

#include "acpi/fan_acpi_bridge.h"

#include "finish_load.h"

#define CANARY_BYTES 16
#define CANARY 0xA5
#define FILLER 0xCC
#define MAX_CAPACITY 32

/* The nine exports, as the header types them. */
struct Exports {
  FanAcpiInitFunction *init;
  FanAcpiGetItemFunction *getItem;
  FanAcpiGetItemExFunction *getItemEx;
  FanAcpiSetItemFunction *setItem;
  FanAcpiGetItemBufferFunction *getItemBuffer;
  FanAcpiSetItemBufferFunction *setItemBuffer;
  FanAcpiMbifFunction *mbif;
  FanAcpiGGrpFunction *gGrp;
  FanAcpiCallMethodFunction *callMethod;
};

/* One export: its name and ordinal from the header. */
struct Lookup {
  const char *name;
  WORD ordinal;
};

/* A caller's buffer: the bytes to send, then filler up to the capacity, then
 * the canary. */
struct Buffer {
  BYTE bytes[MAX_CAPACITY + CANARY_BYTES];
  ULONG capacity;
  ULONG length;
};

static void PrepareBuffer(struct Buffer *buffer, const BYTE *data, ULONG count, ULONG capacity) {
  memset(buffer->bytes, FILLER, capacity);
  memcpy(buffer->bytes, data, count);
  memset(buffer->bytes + capacity, CANARY, CANARY_BYTES);
  buffer->capacity = capacity;
  buffer->length = count;
}

static void AppendHex(char *text, const BYTE *bytes, ULONG count) {
  ULONG i;
  for (i = 0; i < count; ++i) sprintf(text + strlen(text), "%02x", bytes[i]);
}

/* "<bytes sent as hex>:<capacity>/<length>", as export_client writes a buffer. */
static void BufferInput(char *text, const struct Buffer *buffer) {
  strcat(text, ":");
  AppendHex(text, buffer->bytes, buffer->length);
  sprintf(text + strlen(text), ":%lu/%lu", (unsigned long)buffer->capacity, (unsigned long)buffer->length);
}

static void PrintScalar(const char *name, const char *input, ULONG result, const ULONG *value) {
  printf("{\"call\":\"%s\",\"input\":\"%s\",\"ret\":%lu", name, input, (unsigned long)result);
  if (value) printf(",\"value\":%lu", (unsigned long)*value);
  printf("}\n");
}

static void PrintBuffer(const char *name, const char *input, ULONG result, const struct Buffer *buffer,
                        const BYTE *selector) {
  char hex[2 * MAX_CAPACITY + 1] = "";
  int intact = 1;
  ULONG i;
  AppendHex(hex, buffer->bytes, buffer->capacity);
  for (i = 0; i < CANARY_BYTES; ++i) intact = intact && buffer->bytes[buffer->capacity + i] == CANARY;
  printf("{\"call\":\"%s\",\"input\":\"%s\",\"ret\":%lu,\"length\":%lu,\"buffer\":\"%s\",\"canaryIntact\":%s", name,
         input, (unsigned long)result, (unsigned long)buffer->length, hex, intact ? "true" : "false");
  if (selector) {
    char bytes[9] = "";
    AppendHex(bytes, selector, 4);
    printf(",\"selector\":\"%s\"", bytes);
  }
  printf("}\n");
}

/* Looks every export up by name and by ordinal; 0 when one is missing or
 * the two lookups disagree. */
static int FindExports(HMODULE setup, struct Exports *exports) {
  static const struct Lookup kTable[9] = {
      {FAN_ACPI_NAME_INIT, FAN_ACPI_ORDINAL_INIT},
      {FAN_ACPI_NAME_GET_ITEM, FAN_ACPI_ORDINAL_GET_ITEM},
      {FAN_ACPI_NAME_GET_ITEM_EX, FAN_ACPI_ORDINAL_GET_ITEM_EX},
      {FAN_ACPI_NAME_SET_ITEM, FAN_ACPI_ORDINAL_SET_ITEM},
      {FAN_ACPI_NAME_GET_ITEM_BUFFER, FAN_ACPI_ORDINAL_GET_ITEM_BUFFER},
      {FAN_ACPI_NAME_SET_ITEM_BUFFER, FAN_ACPI_ORDINAL_SET_ITEM_BUFFER},
      {FAN_ACPI_NAME_MBIF, FAN_ACPI_ORDINAL_MBIF},
      {FAN_ACPI_NAME_GGRP, FAN_ACPI_ORDINAL_GGRP},
      {FAN_ACPI_NAME_CALL_METHOD, FAN_ACPI_ORDINAL_CALL_METHOD},
  };
  /* Through void (*)(void), which converts to every function pointer type. */
  void (*found[9])(void);
  size_t i;
  for (i = 0; i < 9; ++i) {
    void (*byOrdinal)(void) = (void (*)(void))GetProcAddress(setup, MAKEINTRESOURCEA(kTable[i].ordinal));
    found[i] = (void (*)(void))GetProcAddress(setup, kTable[i].name);
    if (!found[i]) {
      fprintf(stderr, "header_caller: setup.exe has no export %s\n", kTable[i].name);
      return 0;
    }
    if (byOrdinal != found[i]) {
      fprintf(stderr, "header_caller: ordinal %u is not %s\n", (unsigned)kTable[i].ordinal, kTable[i].name);
      return 0;
    }
  }
  exports->init = (FanAcpiInitFunction *)found[0];
  exports->getItem = (FanAcpiGetItemFunction *)found[1];
  exports->getItemEx = (FanAcpiGetItemExFunction *)found[2];
  exports->setItem = (FanAcpiSetItemFunction *)found[3];
  exports->getItemBuffer = (FanAcpiGetItemBufferFunction *)found[4];
  exports->setItemBuffer = (FanAcpiSetItemBufferFunction *)found[5];
  exports->mbif = (FanAcpiMbifFunction *)found[6];
  exports->gGrp = (FanAcpiGGrpFunction *)found[7];
  exports->callMethod = (FanAcpiCallMethodFunction *)found[8];
  printf("{\"lookup\":\"ordinals\",\"agree\":true}\n");
  return 1;
}

/* The calls: one of each export, with distinct values everywhere. */
static void MakeCalls(const struct Exports *exports) {
  static const BYTE kItemBytes[8] = {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17};
  static const BYTE kSetBytes[8] = {0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27};
  static const BYTE kPackageBytes[16] = {0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37,
                                       0x38, 0x39, 0x3a, 0x3b, 0x3c, 0x3d, 0x3e, 0x3f};
  static const BYTE kGroupBytes[4] = {0x00, 0x41, 0x42, 0x43};
  static const BYTE kMethodBytes[3] = {0xab, 0xcd, 0xef};
  BYTE selector[4] = {0x11, 0x22, 0x33, 0x44};
  struct Buffer buffer;
  char input[128];
  ULONG value;
  ULONG result;

  result = exports->init();
  PrintScalar("Init", "Init", result, NULL);

  value = 0x55;
  result = exports->getItem(0x11, &value);
  PrintScalar("GetItem", "GetItem:0x11:0x55", result, &value);

  value = 0x99;
  result = exports->getItemEx(5, 7, &value);
  PrintScalar("GetItemEx", "GetItemEx:0x5:0x7:0x99", result, &value);

  result = exports->setItem(0x10, 0x20, 0xFFFFFFF0);
  PrintScalar("SetItem", "SetItem:0x10:0x20:0xfffffff0", result, NULL);

  PrepareBuffer(&buffer, kItemBytes, 8, 8);
  strcpy(input, "GetItemBuffer:0x101:0x202");
  BufferInput(input, &buffer);
  result = exports->getItemBuffer(0x101, 0x202, buffer.bytes, &buffer.length);
  PrintBuffer("GetItemBuffer", input, result, &buffer, NULL);

  /* Capacity 10, 8 bytes sent: the last two bytes stay the caller's. */
  PrepareBuffer(&buffer, kSetBytes, 8, 10);
  strcpy(input, "SetItemBuffer:0x303:0x404");
  BufferInput(input, &buffer);
  result = exports->setItemBuffer(0x303, 0x404, buffer.bytes, &buffer.length);
  PrintBuffer("SetItemBuffer", input, result, &buffer, NULL);

  PrepareBuffer(&buffer, kPackageBytes, 16, 16);
  strcpy(input, "Mbif");
  BufferInput(input, &buffer);
  result = exports->mbif(buffer.bytes, &buffer.length);
  PrintBuffer("Mbif", input, result, &buffer, NULL);

  PrepareBuffer(&buffer, kGroupBytes, 4, 4);
  strcpy(input, "GGrp:0x6");
  BufferInput(input, &buffer);
  result = exports->gGrp(6, buffer.bytes, &buffer.length);
  PrintBuffer("GGrp", input, result, &buffer, NULL);

  PrepareBuffer(&buffer, kMethodBytes, 3, 3);
  strcpy(input, "CallMethod:11223344");
  BufferInput(input, &buffer);
  result = exports->callMethod(selector, buffer.bytes, &buffer.length);
  PrintBuffer("CallMethod", input, result, &buffer, selector);
}

int main(int argc, char **argv) {
  struct Exports exports;
  char message[512];
  HMODULE setup;
  HRESULT initialised;

  if (argc != 2) {
    fprintf(stderr, "usage: header_caller.exe <path of setup.exe>\n");
    return 2;
  }
  /* The bridge needs the component model on the calling thread. */
  initialised = CoInitialize(NULL);
  if (FAILED(initialised)) {
    fprintf(stderr, "header_caller: CoInitialize failed: 0x%08lx\n", (unsigned long)initialised);
    return 3;
  }
  setup = LoadLibraryA(argv[1]);
  if (!setup) {
    fprintf(stderr, "header_caller: cannot load %s: error %lu\n", argv[1], (unsigned long)GetLastError());
    return 3;
  }
  if (!FinishImageLoad(setup, argv[1], message, sizeof message)) {
    fprintf(stderr, "header_caller: cannot complete %s: %s\n", argv[1], message);
    return 3;
  }
  fprintf(stderr, "header_caller: %s: %s\n", argv[1], message);
  if (!FindExports(setup, &exports)) return 3;
  MakeCalls(&exports);
  fflush(stdout);
  CoUninitialize();
  return 0;
}
