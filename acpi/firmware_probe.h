// The firmware interface probe: the package that "iAcpiMbif" returns, and
// the values of its elements from the third on.
#pragma once

#include <windows.h>

#include <cstddef>

namespace vantu {

// Size of the buffer the package is fetched into.
constexpr size_t kMbifBufferSize = 4096;

// Walks a package (little-endian: 4 bytes not examined, the element count N,
// then the elements back to back; an element is 2 bytes not examined, its
// data length L, its 32-bit value, and takes 12 bytes when L < 5, else 8 + L)
// and stores the values of elements 3, 4, ... into `values`, at most
// `capacity` and at most N - 2 of them. Nothing when N is below 3. Reads only
// inside `size` bytes: the walk stops at an element whose value, or a
// stepped-over element that, would reach beyond them. Returns the count.
size_t WalkMbifPackage(const BYTE* package, size_t size, ULONG* values, size_t capacity);

// Fetches the package through AcpiMbif into a zero-filled buffer and walks
// it. `values` is left untouched when the fetch fails or the package holds
// no third element.
void ReadMbifValues(ULONG* values, size_t capacity);

}  // namespace vantu
