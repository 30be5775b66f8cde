// The byte array that carries a caller's buffer to the component and back:
// a VARIANT of type VT_ARRAY | VT_I1 owned by the exported function, which
// the component receives by reference and may leave a different array in.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "base/unique_handle.h"

namespace vantu {

// First byte of every buffer sent by AcpiGGrp.
constexpr BYTE kGroupMarker = 0xE1;

// A VARIANT that is cleared once; null when there is none to clear.
struct VariantPolicy : NullIsInvalid<VARIANT*> {
  static void Close(VARIANT* variant) noexcept { VariantClear(variant); }
};

class ByteArray {
 public:
  ByteArray();
  // Clears the VARIANT unless Clear already did.
  ~ByteArray() = default;
  ByteArray(const ByteArray&) = delete;
  ByteArray& operator=(const ByteArray&) = delete;

  // A one-dimensional VT_I1 array of `count` elements, lower bound 0.
  bool Create(ULONG count);

  // Copies `count` bytes of `buffer` into the array, with the array's data
  // locked. With `markFirstByte`, the buffer's first byte becomes
  // kGroupMarker first (only when count is at least 1).
  bool Fill(BYTE* buffer, ULONG count, bool markFirstByte);

  // Copies what the component left back into `buffer`: as many bytes as
  // `length` says, but never more than `capacity` nor than the array the
  // VARIANT holds now. Copies nothing unless the VARIANT still holds a
  // VT_ARRAY | VT_I1 array whose data can be locked. Returns the count.
  ULONG CopyBack(BYTE* buffer, ULONG capacity, ULONG length);

  // Clears the VARIANT, destroying whichever array it holds.
  HRESULT Clear();

  VARIANT* variant() { return &variant_; }

 private:
  VARIANT variant_;
  // Owns the clearing of variant_ until Clear does it; declared after it, so
  // that it clears the VARIANT before the VARIANT goes.
  UniqueHandle<VariantPolicy> clearing_;
};

}  // namespace vantu
