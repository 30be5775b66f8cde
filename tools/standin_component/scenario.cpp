#include "scenario.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "module_folder.h"

namespace standin {
namespace {

std::string ScenarioPath() { return ToAnsi(ExecutableFolder()) + "scenario.ini"; }

// The profile functions cache the file they read last; this makes them read
// it again, so that a change made between two calls is seen.
void FlushProfileCache(const std::string& path) { WritePrivateProfileStringA(nullptr, nullptr, nullptr, path.c_str()); }

// The key's text without surrounding blanks; empty when the key is absent.
std::string ReadKey(const std::string& path, const char* section, const char* key) {
  std::vector<char> buffer(256);
  for (;;) {
    const DWORD size = static_cast<DWORD>(buffer.size());
    const DWORD length = GetPrivateProfileStringA(section, key, "", buffer.data(), size, path.c_str());
    if (length + 1 < size) {
      std::string text(buffer.data(), length);
      const size_t first = text.find_first_not_of(" \t");
      if (first == std::string::npos) return std::string();
      const size_t last = text.find_last_not_of(" \t");
      return text.substr(first, last - first + 1);
    }
    buffer.resize(buffer.size() * 2);
  }
}

bool EqualsIgnoringCase(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i]; ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return i == a.size() && !b[i];
}

void AddError(std::vector<std::string>& errors, const char* key, const std::string& text, const char* reason) {
  errors.push_back(std::string(key) + "=" + text + ": " + reason);
}

// A numeric key; nothing when it is absent or unreadable (then noted).
std::optional<ULONG> ReadNumberKey(const std::string& path, const char* section, const char* key,
                                   std::vector<std::string>& errors) {
  const std::string text = ReadKey(path, section, key);
  if (text.empty()) return std::nullopt;
  ULONG number = 0;
  if (!ParseNumber(text, number)) {
    AddError(errors, key, text, "not a 32-bit number");
    return std::nullopt;
  }
  return number;
}

bool ReadFlagKey(const std::string& path, const char* section, const char* key, std::vector<std::string>& errors) {
  return ReadNumberKey(path, section, key, errors).value_or(0) != 0;
}

}  // namespace

bool ParseNumber(const std::string& text, ULONG& number) {
  if (text.empty()) return false;
  const bool negative = text[0] == '-';
  const std::string digits = negative ? text.substr(1) : text;
  const bool hex = digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X');
  const std::string body = hex ? digits.substr(2) : digits;
  if (body.empty()) return false;
  for (const char c : body) {
    if (hex ? !std::isxdigit(static_cast<unsigned char>(c)) : !std::isdigit(static_cast<unsigned char>(c)))
      return false;
  }
  errno = 0;
  const unsigned long long value = std::strtoull(body.c_str(), nullptr, hex ? 16 : 10);
  if (errno == ERANGE || value > 0xFFFFFFFFULL) return false;
  if (negative && value > 0x80000000ULL) return false;
  // A negative number is taken as its 32-bit two's complement, so that
  // HResult=-2147467259 is E_FAIL like HResult=0x80004005.
  number = negative ? static_cast<ULONG>(0x100000000ULL - value) : static_cast<ULONG>(value);
  return true;
}

bool ParseHexBytes(const std::string& text, std::vector<BYTE>& bytes) {
  bytes.clear();
  int pending = -1;
  for (const char c : text) {
    if (c == ' ' || c == '\t') continue;
    const auto byte = static_cast<unsigned char>(c);
    if (!std::isxdigit(byte)) return false;
    const int digit = std::isdigit(byte) ? c - '0' : std::tolower(byte) - 'a' + 10;
    if (pending < 0) {
      pending = digit;
    } else {
      bytes.push_back(static_cast<BYTE>(pending << 4 | digit));
      pending = -1;
    }
  }
  return pending < 0;
}

MethodScenario ReadMethodScenario(const char* method) {
  const std::string path = ScenarioPath();
  FlushProfileCache(path);
  MethodScenario scenario;
  if (const auto hresult = ReadNumberKey(path, method, "HResult", scenario.errors)) {
    scenario.hresult = static_cast<HRESULT>(*hresult);
  }
  scenario.value = ReadNumberKey(path, method, "Value", scenario.errors);
  scenario.length = ReadNumberKey(path, method, "Length", scenario.errors);
  const std::string data = ReadKey(path, method, "Data");
  if (!data.empty()) {
    std::vector<BYTE> bytes;
    if (ParseHexBytes(data, bytes)) {
      scenario.data = std::move(bytes);
    } else {
      AddError(scenario.errors, "Data", data, "not hex bytes");
    }
  }
  const std::string array = ReadKey(path, method, "Array");
  if (array.empty() || EqualsIgnoringCase(array, "same")) {
    scenario.array = ArrayMode::kSame;
  } else if (EqualsIgnoringCase(array, "new")) {
    scenario.array = ArrayMode::kNew;
  } else if (EqualsIgnoringCase(array, "ui1")) {
    scenario.array = ArrayMode::kUi1;
  } else if (EqualsIgnoringCase(array, "i4")) {
    scenario.array = ArrayMode::kI4;
  } else if (EqualsIgnoringCase(array, "empty")) {
    scenario.array = ArrayMode::kEmpty;
  } else if (EqualsIgnoringCase(array, "bstr")) {
    scenario.array = ArrayMode::kBstr;
  } else {
    AddError(scenario.errors, "Array", array, "not one of same, new, ui1, i4, empty, bstr");
  }
  scenario.die = ReadFlagKey(path, method, "Die", scenario.errors);
  scenario.waitFor = ReadKey(path, method, "WaitFor");
  scenario.unknown = ReadFlagKey(path, method, "Unknown", scenario.errors);
  return scenario;
}

ServerSettings ReadServerSettings() {
  const std::string path = ScenarioPath();
  FlushProfileCache(path);
  ServerSettings settings;
  settings.idleTimeoutMs =
      ReadNumberKey(path, "Server", "IdleTimeoutMs", settings.errors).value_or(settings.idleTimeoutMs);
  settings.orphanTimeoutMs =
      ReadNumberKey(path, "Server", "OrphanTimeoutMs", settings.errors).value_or(settings.orphanTimeoutMs);
  settings.exitDelayMs = ReadNumberKey(path, "Server", "ExitDelayMs", settings.errors).value_or(0);
  return settings;
}

}  // namespace standin
