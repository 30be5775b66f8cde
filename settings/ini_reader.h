// Reads string values from section "Common" of one INI file through the
// platform's profile-string service, as UTF-16: a file in the ANSI code page
// is read as before, and a file in UTF-16 (or UTF-8) with a byte-order mark
// is read too.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

namespace vantu {

class IniReader {
 public:
  IniReader() = default;
  ~IniReader();
  IniReader(const IniReader&) = delete;
  IniReader& operator=(const IniReader&) = delete;

  // Binds the reader to `path` with a buffer of 128 characters. False only
  // when memory runs out; the reader is then closed.
  bool Open(const std::wstring& path);

  // Replaces `*value` with the value of `key` in section "Common", or with
  // `defaultText` when the file, the section or the key is missing. A null
  // key reads the section's key names. The buffer doubles until the value
  // fits with two characters to spare; its size is kept for later reads.
  void Read(const wchar_t* key, const std::wstring& defaultText, std::wstring* value);

  // Flushes the platform's cached copy of the file and releases the buffer.
  void Close();

  uint32_t buffer_size() const { return bufferSize_; }

 private:
  std::wstring path_;
  std::unique_ptr<wchar_t[]> buffer_;
  uint32_t bufferSize_ = 0;
};

}  // namespace vantu
