// scenario.ini beside the executable: what the stand-in answers. It is read
// afresh at every call, so that a test can change it between two calls. One
// section per method name ("iAcpiGetItemEx", ...) and [Server]; every key is
// optional, and without the file every method succeeds, echoes the arrays it
// receives and leaves the values unchanged.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace standin {

// What the referenced VARIANT of a buffer method holds afterwards.
enum class ArrayMode {
  kSame,   // Data written into the received array, at most its size
  kNew,    // a new VT_ARRAY | VT_I1 array holding exactly Data
  kUi1,    // a new VT_ARRAY | VT_UI1 array holding exactly Data
  kI4,     // VT_I4 7
  kEmpty,  // VT_EMPTY
  kBstr,   // VT_BSTR "x"
};

struct MethodScenario {
  std::optional<HRESULT> hresult;         // HResult: what Invoke returns
  std::optional<ULONG> value;             // Value: the VT_BYREF | VT_UI4 result
  std::optional<std::vector<BYTE>> data;  // Data: the bytes to leave
  std::optional<ULONG> length;            // Length: the length to leave
  ArrayMode array = ArrayMode::kSame;     // Array
  bool die = false;                       // Die: end the process mid-call
  std::string waitFor;                    // WaitFor: a file to wait for before answering
  bool unknown = false;                   // Unknown: the name is not known
  // Keys whose text could not be read, as "Key=text: reason".
  std::vector<std::string> errors;
};

struct ServerSettings {
  DWORD idleTimeoutMs = 5000;     // [Server] IdleTimeoutMs
  DWORD orphanTimeoutMs = 30000;  // [Server] OrphanTimeoutMs; 0 turns it off
  DWORD exitDelayMs = 0;          // [Server] ExitDelayMs: a stall while ending,
                                  // to see the shutdown watchdog work
  std::vector<std::string> errors;
};

MethodScenario ReadMethodScenario(const char* method);
ServerSettings ReadServerSettings();

// Parsers, exposed for the readers above.
bool ParseNumber(const std::string& text, ULONG& number);
bool ParseHexBytes(const std::string& text, std::vector<BYTE>& bytes);

}  // namespace standin
