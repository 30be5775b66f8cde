// The version comparison on arbitrary texts (NULs and high bytes included):
// a strict order that agrees with a lexicographic compare of the bytes taken
// as signed chars.
//
// Input: three texts a, b, c; the first two end at a backslash followed by
// another character (a doubled backslash stands for one), c is the rest.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "run/version_compare.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using fuzz_support::Shown;

bool SignedLess(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return static_cast<signed char>(x) < static_cast<signed char>(y);
  });
}

std::string Pair(const std::string& a, const std::string& b) { return "installed " + Shown(a) + ", offered " + Shown(b); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string a = input.ConsumeRandomLengthString();
  const std::string b = input.ConsumeRandomLengthString();
  const std::string c = input.ConsumeRemainingBytesAsString();

  const bool ab = vantu::IsOlderVersion(a, b);
  const bool ba = vantu::IsOlderVersion(b, a);
  CHECK(!vantu::IsOlderVersion(a, a), "a text older than itself: " + Shown(a));
  CHECK(!(ab && ba), "each older than the other: " + Pair(a, b));
  CHECK(ab == SignedLess(a, b), "disagrees with the signed byte order: " + Pair(a, b) + " gave " + std::to_string(ab));
  CHECK(ba == SignedLess(b, a), "disagrees with the signed byte order: " + Pair(b, a) + " gave " + std::to_string(ba));
  // Different texts are always ordered one way.
  if (a != b) CHECK(ab || ba, "different texts left unordered: " + Pair(a, b));
  // A proper prefix is older.
  if (a.size() < b.size() && b.compare(0, a.size(), a) == 0) CHECK(ab, "a proper prefix is not older: " + Pair(a, b));

  const bool bc = vantu::IsOlderVersion(b, c);
  const bool ac = vantu::IsOlderVersion(a, c);
  if (ab && bc) CHECK(ac, "not transitive: " + Pair(a, b) + "; " + Pair(b, c) + "; " + Pair(a, c));
  CHECK(ac == SignedLess(a, c), "disagrees with the signed byte order: " + Pair(a, c));
  return 0;
}
