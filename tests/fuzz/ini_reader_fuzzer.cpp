// IniReader and the setting readers on arbitrary files: binary garbage, NULs,
// CR-only lines, byte-order marks, megabyte lines.
//
// IniReader: every value read equals what one GetPrivateProfileStringW call
// with a buffer larger than the file returns; the buffer is 128 times a
// power of two, never shrinks between reads of one reader, grows by doubling
// with one platform call per size, and grows only while the platform's count
// says the value was cut. Closing flushes the file once.
//
// Setting readers (the input as setup.ini beside the module): each returns
// the platform's value or, when the key is missing (the platform hands back
// the marker), the empty string with one message box; never the marker;
// InstallPath ends in a backslash unless empty.
//
// The file is read as the platform reads it (in the ANSI code page, or in
// UTF-16 or UTF-8 after a byte-order mark), the keys it names in the code
// page.
//
// Input: byte 0 selects options (bit 0: a 300-byte default text; bit 1: no
// setup.ini at all; high nibble 0xF: a value line of 8 KiB to 1 MiB, by bits
// 1 to 3, is put in front), the rest is the file.
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "base/module_path.h"
#include "settings/ini_reader.h"
#include "settings/settings.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using fuzz_support::Shown;

constexpr char kSection[] = "Common";
constexpr wchar_t kWideSection[] = L"Common";
constexpr wchar_t kMarker[] = L"error737";
constexpr uint32_t kFirstBufferSize = 128;

std::string KeyName(const wchar_t* key) { return key ? Shown(std::wstring(key)) : std::string("(key list)"); }

// The platform's answer for `key` with a buffer of `size` characters.
struct Answer {
  DWORD count = 0;
  std::wstring text;  // up to the first NUL
};

Answer Ask(const std::wstring& path, const wchar_t* key, const std::wstring& defaultText, size_t size) {
  std::unique_ptr<wchar_t[]> buffer(new wchar_t[size]);
  Answer answer;
  answer.count = GetPrivateProfileStringW(kWideSection, key, defaultText.c_str(), buffer.get(),
                                          static_cast<DWORD>(size), path.c_str());
  answer.text = std::wstring(buffer.get());
  return answer;
}

bool IsBufferSize(uint32_t size) {
  if (size < kFirstBufferSize || size % kFirstBufferSize != 0) return false;
  const uint32_t multiple = size / kFirstBufferSize;
  return (multiple & (multiple - 1)) == 0;
}

void CheckReads(const std::wstring& path, const std::vector<const wchar_t*>& keys,
                const std::wstring& defaultText, size_t fileSize) {
  vantu::IniReader reader;
  CHECK(reader.buffer_size() == 0, "a new reader has a buffer");
  CHECK(reader.Open(path), "Open failed");
  CHECK(reader.buffer_size() == kFirstBufferSize, "Open gives " + std::to_string(reader.buffer_size()));

  const std::string pathText = fuzz_support::Utf8(path);
  for (const wchar_t* key : keys) {
    const uint32_t before = reader.buffer_size();
    const int callsBefore = fake_win32::CallCount("GetPrivateProfileStringW");
    std::wstring value = L"stale";
    reader.Read(key, defaultText, &value);
    const uint32_t after = reader.buffer_size();
    const auto calls = fake_win32::CallsTo("GetPrivateProfileStringW");
    const std::string what = "key " + KeyName(key) + ", buffer " + std::to_string(before) + " -> " +
                             std::to_string(after);

    CHECK(IsBufferSize(after), "not 128 times a power of two: " + what);
    CHECK(after >= before, "the buffer shrank: " + what);
    // One call per size tried: before, 2 * before, ..., after.
    std::vector<std::string> sizes;
    for (size_t i = static_cast<size_t>(callsBefore); i < calls.size(); ++i) sizes.push_back(calls[i].args.at(4));
    std::vector<std::string> expectedSizes;
    for (uint64_t s = before; s <= after; s *= 2) expectedSizes.push_back(std::to_string(s));
    CHECK(sizes == expectedSizes, "sizes asked " + fuzz_support::Joined(sizes) + ": " + what);
    for (size_t i = static_cast<size_t>(callsBefore); i < calls.size(); ++i) {
      CHECK(calls[i].args.at(0) == kSection && calls[i].args.at(5) == pathText, "wrong section or file: " + what);
    }

    const std::wstring whole = fuzz_support::WholeValue(path, key, defaultText, fileSize);
    CHECK(value == whole, "read " + Shown(value) + " but the whole value is " + Shown(whole) + ": " + what);

    // Grown only while the platform's count may mean a cut value (size - 2
    // or more: a quoted value is cut to size - 2), and stopped as soon as it
    // could not.
    const uint64_t margin = 2;
    CHECK(Ask(path, key, defaultText, after).count + margin < after, "stopped on a cut value: " + what);
    if (after > before) {
      CHECK(Ask(path, key, defaultText, after / 2).count + margin >= after / 2, "grew past a whole value: " + what);
    }
  }

  const int flushesBefore = fake_win32::CallCount("WritePrivateProfileStringW");
  reader.Close();
  CHECK(reader.buffer_size() == 0, "Close kept the buffer");
  const auto flushes = fake_win32::CallsTo("WritePrivateProfileStringW");
  CHECK(flushes.size() == static_cast<size_t>(flushesBefore) + 1, "Close did not flush exactly once");
  const auto& flush = flushes.back().args;
  CHECK(flush.at(0) == "(null)" && flush.at(1) == "(null)" && flush.at(2) == "(null)" && flush.at(3) == pathText,
        "the flush is not the null form for the file: " + fuzz_support::Joined(flush));
  reader.Close();
  CHECK(fake_win32::CallCount("WritePrivateProfileStringW") == flushesBefore + 1, "a closed reader flushed again");
}

struct Setting {
  const wchar_t* key;
  std::function<std::wstring(const vantu::SettingsFile&)> read;
  bool isFolder;
};

// The five readers, reading setup.ini as a run takes it (a copy of its bytes).
void CheckSettings(const std::wstring& path, size_t fileSize) {
  vantu::SettingsFile file;
  file.Take(vantu::ModuleDirectory(), nullptr);
  const Setting settings[] = {
      {L"ServiceName", vantu::ReadServiceName, false}, {L"InstallPath", vantu::ReadInstallPath, true},
      {L"RegistryKey", vantu::ReadRegistryKey, false}, {L"Execution", vantu::ReadExecution, false},
      {L"version", vantu::ReadSetupVersion, false},
  };
  for (const Setting& setting : settings) {
    const size_t boxesBefore = fake_win32::MessageBoxes().size();
    const int flushesBefore = fake_win32::CallCount("WritePrivateProfileStringW");
    const std::wstring got = setting.read(file);
    const std::wstring platform = fuzz_support::WholeValue(path, setting.key, kMarker, fileSize);
    const bool missing = platform == kMarker;
    std::wstring expected = missing ? std::wstring() : platform;
    if (setting.isFolder && !expected.empty() && expected.back() != L'\\') expected += L'\\';
    const std::string what = Shown(std::wstring(setting.key)) + ": got " + Shown(got) + ", the file holds " +
                             Shown(platform);

    CHECK(got != kMarker, "the marker came back: " + what);
    CHECK(got == expected, what);
    if (setting.isFolder) CHECK(got.empty() || got.back() == L'\\', "a folder without its backslash: " + what);
    const auto& boxes = fake_win32::MessageBoxes();
    CHECK(boxes.size() == boxesBefore + (missing ? 1 : 0), "message boxes shown: " +
                                                               std::to_string(boxes.size() - boxesBefore) + "; " + what);
    if (missing) {
      const auto& box = boxes.back();
      CHECK(box.owner == nullptr && box.type == MB_OK && box.caption == vantu::kMessageCaption &&
                box.text.find("setup.ini") != std::string::npos,
            "message box " + Shown(box.text) + " / " + Shown(box.caption));
    }
    // Without setup.ini there is no copy to read, and nothing to flush.
    CHECK(fake_win32::CallCount("WritePrivateProfileStringW") == flushesBefore + (file.present() ? 1 : 0),
          "flushes: " + what);
  }
}

// Keys as the file spells them: the text before '=' on each line (or the
// whole line), as far as a C string goes.
std::vector<std::string> KeysOf(const std::string& text, size_t limit) {
  std::vector<std::string> keys;
  std::set<std::string> seen;
  size_t start = 0;
  while (start < text.size() && keys.size() < limit) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    line = line.substr(0, line.find('='));
    line = line.substr(0, line.find('\0'));
    if (seen.insert(line).second) keys.push_back(line);
    start = end + 1;
  }
  return keys;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t options = data[0];
  const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);

  fake_win32::Reset();
  const std::wstring path = vantu::ModuleDirectory() + L"setup.ini";
  CHECK(fuzz_support::MakeWindowsFolder(fuzz_support::Utf8(vantu::ModuleDirectory())),
        "cannot make the module folder");

  std::string contents = rest;
  const bool huge = (options & 0xF0) == 0xF0;
  if (huge) {
    std::string chunk = rest.empty() ? std::string("v") : rest;
    for (char& c : chunk) {
      if (c == '\r' || c == '\n') c = 'x';
      if (c == '\0') c = 'y';
    }
    const size_t target = size_t{8 * 1024} << ((options >> 1) & 7);  // 8 KiB to 1 MiB
    std::string line = "[Common]\nBig=";
    while (line.size() < target) line += chunk;
    contents = line + "\n" + rest;
  }
  const bool noFile = (options & 2) != 0 && !huge;
  if (!noFile) CHECK(fuzz_support::WriteWindowsFile(fuzz_support::Utf8(path), contents), "cannot write " + Shown(path));

  std::wstring defaultText = kMarker;
  if (options & 1) {
    std::string bytes;
    for (size_t i = 0; bytes.size() < 300; ++i) {
      const char c = rest.empty() ? 'd' : rest[i % rest.size()];
      bytes += c == '\0' ? 'd' : c;
    }
    defaultText = fuzz_support::WideFromFuzz(bytes);
  }

  // Every read parses the whole file again: with a huge line, few reads.
  std::vector<std::wstring> fileKeys;
  for (const auto& key : KeysOf(rest, huge ? 0 : 8)) fileKeys.push_back(fuzz_support::FromCodePage(key));
  std::vector<const wchar_t*> keys = {L"version"};
  if (huge) {
    keys.push_back(L"Big");
  } else {
    keys.insert(keys.end(), {L"ServiceName", L"InstallPath", L"RegistryKey", L"Execution", L""});
  }
  for (const auto& key : fileKeys) keys.push_back(key.c_str());
  keys.push_back(nullptr);  // the key list

  CheckReads(path, keys, defaultText, contents.size());
  if (!huge) CheckSettings(path, contents.size());
  fuzz_support::CheckLedgerClean("ini_reader");
  return 0;
}
