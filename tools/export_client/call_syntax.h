// One call of an exported function, as written on the command line.
//
//   Init
//   GetItem:<item>:<value>
//   GetItemEx:<first>:<second>:<value>
//   SetItem:<first>:<second>:<third>
//   GetItemBuffer:<first>:<second>:<buffer>[:<size>]
//   SetItemBuffer:<first>:<second>:<buffer>[:<size>]
//   Mbif:<buffer>[:<size>]
//   GGrp:<selector>:<buffer>[:<size>]
//   CallMethod:<selector bytes>:<buffer>[:<size>]
//   Sleep:<milliseconds>               (no export; waits, e.g. for a time-out)
//
// Numbers are decimal or 0x-hex, 32 bits. <value> is what the caller's
// variable holds before the call, or "null" for a null pointer. <buffer> is
// hex bytes (may be empty) that the buffer starts with, or "null" for a null
// buffer pointer. <size> is <capacity>, <capacity>/<length> or "nulllen".
// The buffer has <capacity> bytes (default: as many as the hex gives), the
// rest filled with 0xCC; the length variable starts at <length> (default:
// the capacity; never above it); "nulllen" passes a null length pointer
// instead.
// <selector bytes> for CallMethod are exactly 4 hex bytes, in memory order,
// or "null". Names are matched without regard to case.
#pragma once

#include <windows.h>

#include <array>
#include <string>
#include <vector>

namespace export_client {

enum class Function {
  kInit,
  kGetItem,
  kGetItemEx,
  kSetItem,
  kGetItemBuffer,
  kSetItemBuffer,
  kMbif,
  kGGrp,
  kCallMethod,
  kSleep,
};

struct BufferLayout {
  bool nullBuffer = false;
  bool nullLength = false;
  std::vector<BYTE> start;  // the bytes the buffer starts with
  ULONG capacity = 0;
  ULONG length = 0;  // what the length variable starts at
};

struct Call {
  std::string text;  // as given
  Function function = Function::kInit;
  ULONG numbers[3] = {};  // the leading numbers, in order
  bool nullValue = false;
  ULONG value = 0;  // GetItem, GetItemEx
  bool nullSelector = false;
  std::array<BYTE, 4> selector{};  // CallMethod
  BufferLayout buffer;
};

// The largest buffer the client makes.
constexpr ULONG kMaxCapacity = 16 * 1024 * 1024;

bool ParseCall(const std::string& text, Call& call, std::string& error);

// "GetItemEx", ...
const char* FunctionName(Function function);
// The export's decorated name, "_AcpiGetItemEx@12"; null for Sleep.
const char* ExportName(Function function);

bool ParseNumber(const std::string& text, ULONG& number);
bool ParseHex(const std::string& text, std::vector<BYTE>& bytes);

}  // namespace export_client
