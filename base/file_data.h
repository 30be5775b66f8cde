// A file's data, copied from one open handle to another in chunks, each
// chunk shown to an observer on the way (a digest being made): one read of
// the source serves both the copy and its check. Only the data is copied:
// no attribute, no time, no other stream of the file.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

namespace vantu {

// Sees the data of a copy, chunk by chunk, in order.
class DataObserver {
 public:
  // False stops the copy (the observer says why, itself).
  virtual bool Observe(const BYTE* data, DWORD size) = 0;

 protected:
  ~DataObserver() = default;
};

// How a copy ended.
struct DataCopy {
  bool copied = false;
  uint64_t bytes = 0;   // read from the source (and written, when copied)
  DWORD error = 0;      // a read or write failed with it; 0 when the observer stopped the copy
  bool readFailed = false;  // the error was the source's, not the target's
};

// Copies files' data through one buffer, made at the first copy and kept.
class DataCopier {
 public:
  // Bytes per ReadFile and WriteFile.
  static constexpr DWORD kChunkBytes = 256 * 1024;

  DataCopier() = default;
  DataCopier(const DataCopier&) = delete;
  DataCopier& operator=(const DataCopier&) = delete;

  // Reads `source` from its current position to its end and writes what it
  // reads to `target` at its current position, each chunk shown to
  // `observer` (may be null) before it is written.
  DataCopy Copy(HANDLE source, HANDLE target, DataObserver* observer);

 private:
  std::unique_ptr<BYTE[]> buffer_;
};

}  // namespace vantu
