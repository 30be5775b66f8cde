// calls.log beside the executable: one JSON object per line, one line per
// event, appended and flushed at once so that a test can read it while the
// server runs and nothing is lost when the server ends abruptly.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

#include "common/json_text.h"

namespace standin {

// Builds one JSON object, field by field.
class JsonObject {
 public:
  JsonObject& Add(const char* key, const std::string& text);  // a JSON string
  JsonObject& Add(const char* key, const char* text);
  JsonObject& Add(const char* key, long long number);
  JsonObject& Add(const char* key, unsigned long long number);
  JsonObject& Add(const char* key, int number) { return Add(key, static_cast<long long>(number)); }
  JsonObject& Add(const char* key, long number) { return Add(key, static_cast<long long>(number)); }
  JsonObject& Add(const char* key, unsigned number) { return Add(key, static_cast<unsigned long long>(number)); }
  JsonObject& Add(const char* key, unsigned long number) { return Add(key, static_cast<unsigned long long>(number)); }
  JsonObject& AddBool(const char* key, bool value);
  JsonObject& AddNull(const char* key);
  // `json` is inserted as it is: an object, an array or a literal.
  JsonObject& AddRaw(const char* key, const std::string& json);
  std::string Text() const { return text_ + "}"; }

 private:
  void Key(const char* key);
  std::string text_ = "{";
};

using tools::JsonString;

// "0x%08lx"
std::string HexHresult(HRESULT hr);

// A VARIANT as JSON: {"vt":N, ...} with the value it holds or points at; a
// referenced VARIANT under "ref"; an array with its shape and, for arrays of
// plain values, its data as hex.
std::string VariantJson(const VARIANT& variant);

// A DISPPARAMS argument list, index 0 first.
std::string ArgumentsJson(const VARIANTARG* arguments, UINT count);

// Appends one line to calls.log.
void LogEvent(const JsonObject& event);

}  // namespace standin
