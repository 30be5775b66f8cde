// regdump.exe: prints a registry key and everything below it as JSON, for
// the end-to-end tests.
//
//   regdump.exe <HKLM|HKCR> <subkey> [--32|--64] [--wide]
//
// Without --32/--64 the key is read in the view this 32-bit program sees.
// An empty <subkey> ("") names the root itself. Output (one line):
//   {"exists": true, "values": [{"name": "Version", "type": 1, "size": 4,
//    "data": "312e3000"}], "subkeys": {"Child": {"values": [...], "subkeys": {...}}}}
// Names are ANSI text; bytes of 0x80 and above are written as \u00XX. With
// --wide the key is read through the wide functions: names exactly as
// stored (every character beyond ASCII as \uXXXX), the data of string values
// as their UTF-16LE bytes.
// Exit code: 0 dumped, 2 the key does not exist ({"exists": false}),
// 1 usage, 3 the key exists but could not be read.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/json_text.h"

namespace {

// Appends the JSON object of one open key ("values" and "subkeys") to out.
bool DumpKey(HKEY key, REGSAM view, std::string& out) {
  DWORD subkeyCount = 0, maxSubkeyLength = 0, valueCount = 0, maxNameLength = 0, maxDataLength = 0;
  if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeyCount, &maxSubkeyLength, nullptr,
                       &valueCount, &maxNameLength, &maxDataLength, nullptr, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  out += "{\"values\": [";
  std::vector<char> name(maxNameLength + 2);
  std::vector<BYTE> data(maxDataLength + 1);
  for (DWORD i = 0; i < valueCount; ++i) {
    DWORD nameLength = static_cast<DWORD>(name.size());
    DWORD dataLength = static_cast<DWORD>(data.size());
    DWORD type = 0;
    LONG status = RegEnumValueA(key, i, name.data(), &nameLength, nullptr, &type, data.data(), &dataLength);
    if (status == ERROR_MORE_DATA) {  // grown since the query: ask for the sizes again
      name.assign(nameLength + 256, 0);
      data.assign(dataLength + 1, 0);
      nameLength = static_cast<DWORD>(name.size());
      dataLength = static_cast<DWORD>(data.size());
      status = RegEnumValueA(key, i, name.data(), &nameLength, nullptr, &type, data.data(), &dataLength);
    }
    if (status != ERROR_SUCCESS) return false;
    if (i) out += ", ";
    out += "{\"name\": " + tools::JsonString(std::string(name.data(), nameLength)) +
           ", \"type\": " + std::to_string(type) + ", \"size\": " + std::to_string(dataLength) +
           ", \"data\": \"" + tools::HexBytes(data.data(), dataLength) + "\"}";
  }
  out += "], \"subkeys\": {";
  std::vector<char> subkeyName(maxSubkeyLength + 2);
  for (DWORD i = 0; i < subkeyCount; ++i) {
    DWORD length = static_cast<DWORD>(subkeyName.size());
    if (RegEnumKeyExA(key, i, subkeyName.data(), &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
      return false;
    }
    const std::string childName(subkeyName.data(), length);
    HKEY child = nullptr;
    if (RegOpenKeyExA(key, childName.c_str(), 0, KEY_READ | view, &child) != ERROR_SUCCESS) return false;
    if (i) out += ", ";
    out += tools::JsonString(childName) + ": ";
    const bool ok = DumpKey(child, view, out);
    RegCloseKey(child);
    if (!ok) return false;
  }
  out += "}}";
  return true;
}

// DumpKey through the wide functions.
bool DumpKeyWide(HKEY key, REGSAM view, std::string& out) {
  DWORD subkeyCount = 0, maxSubkeyLength = 0, valueCount = 0, maxNameLength = 0, maxDataLength = 0;
  if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeyCount, &maxSubkeyLength, nullptr,
                       &valueCount, &maxNameLength, &maxDataLength, nullptr, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  out += "{\"values\": [";
  std::vector<wchar_t> name(maxNameLength + 2);
  std::vector<BYTE> data(maxDataLength + 2);
  for (DWORD i = 0; i < valueCount; ++i) {
    DWORD nameLength = static_cast<DWORD>(name.size());
    DWORD dataLength = static_cast<DWORD>(data.size());
    DWORD type = 0;
    LONG status = RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, data.data(), &dataLength);
    if (status == ERROR_MORE_DATA) {
      name.assign(nameLength + 256, 0);
      data.assign(dataLength + 2, 0);
      nameLength = static_cast<DWORD>(name.size());
      dataLength = static_cast<DWORD>(data.size());
      status = RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, data.data(), &dataLength);
    }
    if (status != ERROR_SUCCESS) return false;
    if (i) out += ", ";
    out += "{\"name\": " + tools::JsonString(std::wstring(name.data(), nameLength)) +
           ", \"type\": " + std::to_string(type) + ", \"size\": " + std::to_string(dataLength) +
           ", \"data\": \"" + tools::HexBytes(data.data(), dataLength) + "\"}";
  }
  out += "], \"subkeys\": {";
  std::vector<wchar_t> subkeyName(maxSubkeyLength + 2);
  for (DWORD i = 0; i < subkeyCount; ++i) {
    DWORD length = static_cast<DWORD>(subkeyName.size());
    if (RegEnumKeyExW(key, i, subkeyName.data(), &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
      return false;
    }
    const std::wstring childName(subkeyName.data(), length);
    HKEY child = nullptr;
    if (RegOpenKeyExW(key, childName.c_str(), 0, KEY_READ | view, &child) != ERROR_SUCCESS) return false;
    if (i) out += ", ";
    out += tools::JsonString(childName) + ": ";
    const bool ok = DumpKeyWide(child, view, out);
    RegCloseKey(child);
    if (!ok) return false;
  }
  out += "}}";
  return true;
}

int Usage() {
  std::fprintf(stderr, "usage: regdump.exe <HKLM|HKCR> <subkey> [--32|--64] [--wide]\n");
  return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3 || argc > 5) return Usage();
  const std::wstring rootName = argv[1];
  HKEY root = nullptr;
  if (rootName == L"HKLM" || rootName == L"HKEY_LOCAL_MACHINE") {
    root = HKEY_LOCAL_MACHINE;
  } else if (rootName == L"HKCR" || rootName == L"HKEY_CLASSES_ROOT") {
    root = HKEY_CLASSES_ROOT;
  } else {
    return Usage();
  }
  REGSAM view = 0;
  bool wide = false;
  for (int i = 3; i < argc; ++i) {
    const std::wstring option = argv[i];
    if (option == L"--32") {
      view = KEY_WOW64_32KEY;
    } else if (option == L"--64") {
      view = KEY_WOW64_64KEY;
    } else if (option == L"--wide") {
      wide = true;
    } else {
      return Usage();
    }
  }

  HKEY key = nullptr;
  // The subkey as the ANSI functions would see it, unless --wide.
  char ansiSubkey[1024] = {};
  WideCharToMultiByte(CP_ACP, 0, argv[2], -1, ansiSubkey, sizeof ansiSubkey, nullptr, nullptr);
  const LONG status = wide ? RegOpenKeyExW(root, argv[2], 0, KEY_READ | view, &key)
                           : RegOpenKeyExA(root, ansiSubkey, 0, KEY_READ | view, &key);
  if (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND) {
    std::puts("{\"exists\": false}");
    return 2;
  }
  if (status != ERROR_SUCCESS) {
    std::fprintf(stderr, "regdump: cannot open the key (error %ld)\n", status);
    return 3;
  }
  std::string json;
  const bool ok = wide ? DumpKeyWide(key, view, json) : DumpKey(key, view, json);
  RegCloseKey(key);
  if (!ok) {
    std::fprintf(stderr, "regdump: cannot read the key tree\n");
    return 3;
  }
  // The key object with "exists" in front.
  std::fputs(("{\"exists\": true, " + json.substr(1) + "\n").c_str(), stdout);
  return 0;
}
