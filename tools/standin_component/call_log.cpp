#include "call_log.h"

#include <cstdio>

#include "module_folder.h"
#include "sync.h"

#include "base/unique_handle.h"
#include "common/json_text.h"

namespace standin {
namespace {

// Arrays bigger than this are logged by their shape only, with their first
// bytes.
constexpr size_t kMaxLoggedBytes = 65536;
// Nested references deeper than this are not followed.
constexpr int kMaxDepth = 4;

// Serialises the writers of the server's threads; the file is opened for
// each line so that other processes may read, move or delete it meanwhile.
// Never destroyed: a server thread may still log while the process ends.
CriticalSection& TheLogLock() {
  static CriticalSection* const lock = new CriticalSection;
  return *lock;
}

using FileHandle = vantu::UniqueFileHandle;

std::string ArrayJson(SAFEARRAY* array, JsonObject object) {
  if (!array) return object.AddNull("array").Text();
  const UINT dimensions = SafeArrayGetDim(array);
  const UINT elementSize = SafeArrayGetElemsize(array);
  object.Add("dims", dimensions).Add("elemSize", elementSize);
  VARTYPE elementType = VT_EMPTY;
  if (SUCCEEDED(SafeArrayGetVartype(array, &elementType))) object.Add("elemVt", static_cast<unsigned>(elementType));
  unsigned long long count = dimensions ? 1 : 0;
  for (UINT d = 1; d <= dimensions; ++d) {
    LONG lower = 0;
    LONG upper = -1;
    SafeArrayGetLBound(array, d, &lower);
    SafeArrayGetUBound(array, d, &upper);
    if (d == 1) object.Add("lbound", static_cast<long>(lower));
    const long long elements = static_cast<long long>(upper) - static_cast<long long>(lower) + 1;
    count *= elements > 0 ? static_cast<unsigned long long>(elements) : 0ULL;
  }
  object.Add("count", count);
  const USHORT pointerFeatures = FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH | FADF_VARIANT | FADF_RECORD;
  if (array->fFeatures & pointerFeatures) return object.Text();
  const unsigned long long bytes = count * elementSize;
  const size_t logged = bytes > kMaxLoggedBytes ? kMaxLoggedBytes : static_cast<size_t>(bytes);
  void* data = nullptr;
  if (FAILED(SafeArrayAccessData(array, &data))) return object.AddBool("locked", false).Text();
  object.Add("hex", data ? tools::HexBytes(static_cast<const BYTE*>(data), logged) : std::string());
  SafeArrayUnaccessData(array);
  if (logged < bytes) object.AddBool("truncated", true);
  return object.Text();
}

std::string VariantJsonAt(const VARIANT& variant, int depth) {
  const VARTYPE type = V_VT(&variant);
  JsonObject object;
  object.Add("vt", static_cast<unsigned>(type));
  const bool byReference = (type & VT_BYREF) != 0;
  if (type & VT_ARRAY) {
    SAFEARRAY* array = byReference ? (V_ARRAYREF(&variant) ? *V_ARRAYREF(&variant) : nullptr) : V_ARRAY(&variant);
    return ArrayJson(array, object);
  }
  const VARTYPE base = type & VT_TYPEMASK;
  if (base == VT_VARIANT) {
    if (!byReference || !V_VARIANTREF(&variant) || depth >= kMaxDepth) return object.AddNull("ref").Text();
    return object.AddRaw("ref", VariantJsonAt(*V_VARIANTREF(&variant), depth + 1)).Text();
  }
  // The scalar members of the union share one address.
  const void* value = byReference ? V_BYREF(&variant) : static_cast<const void*>(&V_UI1(&variant));
  if (!value) return object.AddNull("ref").Text();
  switch (base) {
    case VT_I1:
      return object.Add("i1", static_cast<int>(*static_cast<const signed char*>(value))).Text();
    case VT_UI1:
      return object.Add("ui1", static_cast<unsigned>(*static_cast<const BYTE*>(value))).Text();
    case VT_I2:
      return object.Add("i2", static_cast<int>(*static_cast<const SHORT*>(value))).Text();
    case VT_UI2:
      return object.Add("ui2", static_cast<unsigned>(*static_cast<const USHORT*>(value))).Text();
    case VT_I4:
      return object.Add("i4", *static_cast<const LONG*>(value)).Text();
    case VT_UI4:
      return object.Add("ui4", *static_cast<const ULONG*>(value)).Text();
    case VT_INT:
      return object.Add("int", *static_cast<const INT*>(value)).Text();
    case VT_UINT:
      return object.Add("uint", *static_cast<const UINT*>(value)).Text();
    case VT_I8:
      return object.Add("i8", *static_cast<const LONGLONG*>(value)).Text();
    case VT_UI8:
      return object.Add("ui8", *static_cast<const ULONGLONG*>(value)).Text();
    case VT_ERROR:
      return object.Add("scode", HexHresult(*static_cast<const SCODE*>(value))).Text();
    case VT_BOOL:
      return object.AddBool("bool", *static_cast<const VARIANT_BOOL*>(value) != VARIANT_FALSE).Text();
    case VT_BSTR: {
      const BSTR text = *static_cast<const BSTR*>(value);
      if (!text) return object.AddNull("bstr").Text();
      return object.Add("bstr", ToUtf8(text, SysStringLen(text))).Text();
    }
    default:
      return object.Text();
  }
}

}  // namespace

void JsonObject::Key(const char* key) {
  if (text_.size() > 1) text_ += ',';
  text_ += JsonString(key);
  text_ += ':';
}

JsonObject& JsonObject::Add(const char* key, const std::string& text) {
  Key(key);
  text_ += JsonString(text);
  return *this;
}

JsonObject& JsonObject::Add(const char* key, const char* text) { return Add(key, std::string(text ? text : "")); }

JsonObject& JsonObject::Add(const char* key, long long number) {
  Key(key);
  text_ += std::to_string(number);
  return *this;
}

JsonObject& JsonObject::Add(const char* key, unsigned long long number) {
  Key(key);
  text_ += std::to_string(number);
  return *this;
}

JsonObject& JsonObject::AddBool(const char* key, bool value) { return AddRaw(key, value ? "true" : "false"); }

JsonObject& JsonObject::AddNull(const char* key) { return AddRaw(key, "null"); }

JsonObject& JsonObject::AddRaw(const char* key, const std::string& json) {
  Key(key);
  text_ += json;
  return *this;
}

std::string HexHresult(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(hr));
  return text;
}

std::string VariantJson(const VARIANT& variant) { return VariantJsonAt(variant, 0); }

std::string ArgumentsJson(const VARIANTARG* arguments, UINT count) {
  std::string json = "[";
  for (UINT i = 0; arguments && i < count; ++i) {
    if (i) json += ',';
    json += VariantJson(arguments[i]);
  }
  return json + "]";
}

void LogEvent(const JsonObject& event) {
  const std::string line = event.Text() + "\n";
  const std::wstring path = ExecutableFolder() + L"calls.log";
  Guard guard(TheLogLock());
  FileHandle file(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  DWORD written = 0;
  WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  FlushFileBuffers(file.get());
}

}  // namespace standin
