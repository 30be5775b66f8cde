#include "acpi/byte_array.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace vantu {
namespace {

// The array's size in bytes: its element size times the elements of every
// dimension; 0 when its bounds cannot be read. A dimension's count is taken
// from its bounds in unsigned 32-bit arithmetic: the upper bound is lower
// bound + count - 1 computed as a LONG, which wraps for an array that sits
// at the ends of the LONG range (an empty array with lower bound -2^31 has
// upper bound 2^31 - 1), and the difference wraps back to the count.
uint64_t ArrayBytes(SAFEARRAY* array) {
  const UINT dimensions = SafeArrayGetDim(array);
  if (dimensions == 0) return 0;
  uint64_t bytes = SafeArrayGetElemsize(array);
  for (UINT d = 1; d <= dimensions; ++d) {
    LONG lower = 0;
    LONG upper = -1;
    if (FAILED(SafeArrayGetLBound(array, d, &lower)) || FAILED(SafeArrayGetUBound(array, d, &upper))) return 0;
    const uint32_t count = static_cast<uint32_t>(upper) - static_cast<uint32_t>(lower) + 1u;
    bytes = std::min<uint64_t>(bytes * count, UINT32_MAX);
  }
  return bytes;
}

}  // namespace

ByteArray::ByteArray() : clearing_(&variant_) { VariantInit(&variant_); }

bool ByteArray::Create(ULONG count) {
  SAFEARRAYBOUND bound;
  bound.cElements = count;
  bound.lLbound = 0;
  SAFEARRAY* array = SafeArrayCreate(VT_I1, 1, &bound);
  if (!array) return false;
  V_VT(&variant_) = VT_ARRAY | VT_I1;
  V_ARRAY(&variant_) = array;
  return true;
}

bool ByteArray::Fill(BYTE* buffer, ULONG count, bool markFirstByte) {
  void* data = nullptr;
  if (FAILED(SafeArrayAccessData(V_ARRAY(&variant_), &data))) return false;
  if (markFirstByte && count >= 1) buffer[0] = kGroupMarker;
  if (count) std::memcpy(data, buffer, count);
  SafeArrayUnaccessData(V_ARRAY(&variant_));
  return true;
}

ULONG ByteArray::CopyBack(BYTE* buffer, ULONG capacity, ULONG length) {
  if (V_VT(&variant_) != (VT_ARRAY | VT_I1) || !V_ARRAY(&variant_)) return 0;
  SAFEARRAY* array = V_ARRAY(&variant_);
  const auto count = static_cast<ULONG>(std::min<uint64_t>({capacity, length, ArrayBytes(array)}));
  if (count == 0) return 0;
  void* data = nullptr;
  if (FAILED(SafeArrayAccessData(array, &data))) return 0;
  const ULONG copied = data ? count : 0;
  if (copied) std::memcpy(buffer, data, copied);
  SafeArrayUnaccessData(array);
  return copied;
}

HRESULT ByteArray::Clear() {
  clearing_.release();
  return VariantClear(&variant_);
}

}  // namespace vantu
