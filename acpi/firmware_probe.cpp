#include "acpi/firmware_probe.h"

#include "acpi/exports.h"
#include "base/little_endian.h"

namespace vantu {
namespace {

constexpr size_t kCountOffset = 4;
constexpr size_t kFirstElementOffset = 8;
constexpr size_t kElementHeaderSize = 4;  // 2 bytes not examined, then L
constexpr size_t kElementValueOffset = 4;

// Size of the element at `offset`; 0 when its header lies beyond `size`.
size_t ElementSize(const BYTE* package, size_t size, size_t offset) {
  if (offset > size || size - offset < kElementHeaderSize) return 0;
  const size_t length = ReadLittleEndian16(package + offset + 2);
  return length < 5 ? 12 : 8 + length;
}

bool ValueInside(size_t size, size_t offset) {
  return offset <= size && size - offset >= kElementValueOffset + 4;
}

}  // namespace

size_t WalkMbifPackage(const BYTE* package, size_t size, ULONG* values, size_t capacity) {
  if (size < kFirstElementOffset) return 0;
  const ULONG count = ReadLittleEndian32(package + kCountOffset);
  if (count < 3) return 0;
  size_t offset = kFirstElementOffset;
  for (int skipped = 0; skipped < 2; ++skipped) {
    const size_t step = ElementSize(package, size, offset);
    if (step == 0 || step > size - offset) return 0;
    offset += step;
  }
  const size_t wanted = count - 2 < capacity ? count - 2 : capacity;
  size_t stored = 0;
  while (stored < wanted && ValueInside(size, offset)) {
    values[stored++] = ReadLittleEndian32(package + offset + kElementValueOffset);
    offset += ElementSize(package, size, offset);
  }
  return stored;
}

void ReadMbifValues(ULONG* values, size_t capacity) {
  BYTE buffer[kMbifBufferSize] = {};
  ULONG length = kMbifBufferSize;
  if (!AcpiMbif(buffer, &length)) return;
  WalkMbifPackage(buffer, sizeof buffer, values, capacity);
}

}  // namespace vantu
