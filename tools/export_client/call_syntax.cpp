#include "call_syntax.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace export_client {
namespace {

struct FunctionInfo {
  Function function;
  const char* name;
  const char* exportName;
};

const FunctionInfo kFunctions[] = {
    {Function::kInit, "Init", "_AcpiInit@0"},
    {Function::kGetItem, "GetItem", "_AcpiGetItem@8"},
    {Function::kGetItemEx, "GetItemEx", "_AcpiGetItemEx@12"},
    {Function::kSetItem, "SetItem", "_AcpiSetItem@12"},
    {Function::kGetItemBuffer, "GetItemBuffer", "_AcpiGetItemBuffer@16"},
    {Function::kSetItemBuffer, "SetItemBuffer", "_AcpiSetItemBuffer@16"},
    {Function::kMbif, "Mbif", "_AcpiMbif@8"},
    {Function::kGGrp, "GGrp", "_AcpiGGrp@12"},
    {Function::kCallMethod, "CallMethod", "_AcpiCallMethod@12"},
    {Function::kSleep, "Sleep", nullptr},
};

bool EqualsIgnoringCase(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i]; ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return i == a.size() && !b[i];
}

std::vector<std::string> Split(const std::string& text) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    const size_t colon = text.find(':', start);
    fields.push_back(text.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
    if (colon == std::string::npos) return fields;
    start = colon + 1;
  }
}

bool Number(const std::string& text, const char* what, ULONG& number, std::string& error) {
  if (ParseNumber(text, number)) return true;
  error = std::string(what) + " \"" + text + "\" is not a 32-bit number";
  return false;
}

bool Value(const std::string& text, Call& call, std::string& error) {
  if (EqualsIgnoringCase(text, "null")) {
    call.nullValue = true;
    return true;
  }
  return Number(text, "value", call.value, error);
}

// <buffer>[:<capacity>[/<length>] | :nulllen] from fields[first] on.
bool Buffer(const std::vector<std::string>& fields, size_t first, BufferLayout& buffer, std::string& error) {
  if (fields.size() < first + 1 || fields.size() > first + 2) {
    error = "expected <buffer>[:<capacity>[/<length>]]";
    return false;
  }
  if (EqualsIgnoringCase(fields[first], "null")) {
    buffer.nullBuffer = true;
  } else if (!ParseHex(fields[first], buffer.start)) {
    error = "buffer \"" + fields[first] + "\" is not hex bytes";
    return false;
  }
  buffer.capacity = static_cast<ULONG>(buffer.start.size());
  bool lengthGiven = false;
  if (fields.size() == first + 2) {
    const std::string& size = fields[first + 1];
    const size_t slash = size.find('/');
    if (EqualsIgnoringCase(size, "nulllen")) {
      buffer.nullLength = true;
    } else if (!Number(size.substr(0, slash), "capacity", buffer.capacity, error)) {
      return false;
    } else if (slash != std::string::npos) {
      if (!Number(size.substr(slash + 1), "length", buffer.length, error)) return false;
      lengthGiven = true;
    }
  }
  if (!lengthGiven) buffer.length = buffer.capacity;
  // The length on entry is also the buffer's capacity for the exports: a
  // larger one would let them run past the buffer.
  if (buffer.length > buffer.capacity) {
    error = "length above the capacity";
    return false;
  }
  if (buffer.capacity > kMaxCapacity) {
    error = "capacity above " + std::to_string(kMaxCapacity);
    return false;
  }
  if (buffer.start.size() > buffer.capacity) {
    error = "more hex bytes than the capacity";
    return false;
  }
  return true;
}

bool FieldCount(const std::vector<std::string>& fields, size_t count, std::string& error) {
  if (fields.size() == count) return true;
  error = "expected " + std::to_string(count - 1) + " field(s) after the name";
  return false;
}

}  // namespace

bool ParseNumber(const std::string& text, ULONG& number) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  if (digits.empty()) return false;
  for (const char c : digits) {
    const auto byte = static_cast<unsigned char>(c);
    if (hex ? !std::isxdigit(byte) : !std::isdigit(byte)) return false;
  }
  errno = 0;
  const unsigned long long value = std::strtoull(digits.c_str(), nullptr, hex ? 16 : 10);
  if (errno == ERANGE || value > 0xFFFFFFFFULL) return false;
  number = static_cast<ULONG>(value);
  return true;
}

bool ParseHex(const std::string& text, std::vector<BYTE>& bytes) {
  bytes.clear();
  if (text.size() % 2) return false;
  for (size_t i = 0; i < text.size(); i += 2) {
    const auto high = static_cast<unsigned char>(text[i]);
    const auto low = static_cast<unsigned char>(text[i + 1]);
    if (!std::isxdigit(high) || !std::isxdigit(low)) return false;
    const auto digit = [](unsigned char c) { return std::isdigit(c) ? c - '0' : std::tolower(c) - 'a' + 10; };
    bytes.push_back(static_cast<BYTE>(digit(high) << 4 | digit(low)));
  }
  return true;
}

const char* FunctionName(Function function) {
  for (const FunctionInfo& info : kFunctions) {
    if (info.function == function) return info.name;
  }
  return "";
}

const char* ExportName(Function function) {
  for (const FunctionInfo& info : kFunctions) {
    if (info.function == function) return info.exportName;
  }
  return nullptr;
}

bool ParseCall(const std::string& text, Call& call, std::string& error) {
  call = Call();
  call.text = text;
  const std::vector<std::string> fields = Split(text);
  const FunctionInfo* info = nullptr;
  for (const FunctionInfo& candidate : kFunctions) {
    if (EqualsIgnoringCase(fields[0], candidate.name)) info = &candidate;
  }
  if (!info) {
    error = "unknown function \"" + fields[0] + "\"";
    return false;
  }
  call.function = info->function;
  switch (call.function) {
    case Function::kInit:
      return FieldCount(fields, 1, error);
    case Function::kGetItem:
      return FieldCount(fields, 3, error) && Number(fields[1], "item", call.numbers[0], error) &&
             Value(fields[2], call, error);
    case Function::kGetItemEx:
      return FieldCount(fields, 4, error) && Number(fields[1], "first", call.numbers[0], error) &&
             Number(fields[2], "second", call.numbers[1], error) && Value(fields[3], call, error);
    case Function::kSetItem:
      return FieldCount(fields, 4, error) && Number(fields[1], "first", call.numbers[0], error) &&
             Number(fields[2], "second", call.numbers[1], error) && Number(fields[3], "third", call.numbers[2], error);
    case Function::kGetItemBuffer:
    case Function::kSetItemBuffer:
      if (fields.size() < 3) return FieldCount(fields, 4, error);
      return Number(fields[1], "first", call.numbers[0], error) &&
             Number(fields[2], "second", call.numbers[1], error) && Buffer(fields, 3, call.buffer, error);
    case Function::kMbif:
      return Buffer(fields, 1, call.buffer, error);
    case Function::kGGrp:
      if (fields.size() < 2) return FieldCount(fields, 3, error);
      return Number(fields[1], "selector", call.numbers[0], error) && Buffer(fields, 2, call.buffer, error);
    case Function::kCallMethod: {
      if (fields.size() < 2) return FieldCount(fields, 3, error);
      std::vector<BYTE> selector;
      if (EqualsIgnoringCase(fields[1], "null")) {
        call.nullSelector = true;
      } else if (!ParseHex(fields[1], selector) || selector.size() != 4) {
        error = "selector bytes \"" + fields[1] + "\" are not 4 hex bytes";
        return false;
      } else {
        std::copy(selector.begin(), selector.end(), call.selector.begin());
      }
      return Buffer(fields, 2, call.buffer, error);
    }
    case Function::kSleep:
      return FieldCount(fields, 2, error) && Number(fields[1], "milliseconds", call.numbers[0], error);
  }
  return false;
}

}  // namespace export_client
