// Automation types: VARIANT, SAFEARRAY and BSTR, with every array and string
// on the resource ledger.
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <map>

#include "internal.h"

namespace fake_win32 {
namespace {

using internal::Enter;
using internal::Hex;
using internal::Num;
using internal::Ptr;

#define DISP_E_BADINDEX static_cast<HRESULT>(0x8002000BL)

// Arrays larger than this are refused as if memory had run out.
constexpr uint64_t kLargestArrayBytes = 256u << 20;

struct AutomationState {
  std::map<const SAFEARRAY*, VARTYPE> arrays;
};

AutomationState& State() {
  static AutomationState state;
  return state;
}

ULONG ElementSize(VARTYPE vt) {
  switch (vt) {
    case VT_I1:
    case VT_UI1:
      return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_ERROR:
      return 4;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
      return 8;
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_UNKNOWN:
      return sizeof(void*);
    case VT_VARIANT:
      return sizeof(VARIANT);
    default:
      return 0;
  }
}

bool IsValidBaseType(VARTYPE base) {
  return (base <= VT_UINT && base != 15) || base == 36;
}

uint64_t ElementCount(const SAFEARRAY* array) {
  uint64_t count = 1;
  for (USHORT i = 0; i < array->cDims; ++i) count *= array->rgsabound[i].cElements;
  return count;
}

HRESULT ClearVariant(VARIANTARG* variant);

void FreeString(BSTR text) {
  if (!text || !internal::Closed("bstr", text)) return;
  std::free(reinterpret_cast<char*>(text) - sizeof(uint32_t));
}

// SafeArrayDestroy's work, also for VariantClear, outside the call log.
HRESULT DestroyArray(SAFEARRAY* array) {
  if (!array) return S_OK;
  auto it = State().arrays.find(array);
  if (it == State().arrays.end()) {
    internal::Misuse("destroying an array that does not exist: " + Ptr(array));
    return E_INVALIDARG;
  }
  if (array->cLocks) return DISP_E_ARRAYISLOCKED;
  if (it->second == VT_VARIANT || it->second == VT_BSTR) {
    const uint64_t count = ElementCount(array);
    for (uint64_t i = 0; i < count; ++i) {
      if (it->second == VT_VARIANT) {
        ClearVariant(static_cast<VARIANT*>(array->pvData) + i);
      } else {
        FreeString(static_cast<BSTR*>(array->pvData)[i]);
      }
    }
  }
  State().arrays.erase(it);
  internal::Closed("array", array);
  std::free(array->pvData);
  std::free(array);
  return S_OK;
}

// VariantClear's work, outside the call log.
HRESULT ClearVariant(VARIANTARG* variant) {
  if (!variant) return E_INVALIDARG;
  const VARTYPE vt = variant->vt;
  const auto base = static_cast<VARTYPE>(vt & VT_TYPEMASK);
  if (!IsValidBaseType(base) || (vt & ~(VT_TYPEMASK | VT_ARRAY | VT_BYREF)) != 0) return DISP_E_BADVARTYPE;
  if (!(vt & VT_BYREF)) {
    if (vt & VT_ARRAY) {
      const HRESULT destroyed = DestroyArray(variant->parray);
      if (FAILED(destroyed)) return destroyed;
    } else if (base == VT_BSTR) {
      FreeString(variant->bstrVal);
    } else if ((base == VT_DISPATCH || base == VT_UNKNOWN) && variant->punkVal) {
      variant->punkVal->Release();
    }
  }
  std::memset(variant, 0, sizeof *variant);
  variant->vt = VT_EMPTY;
  return S_OK;
}

}  // namespace

namespace internal {
void ResetAutomation() { State().arrays.clear(); }
}  // namespace internal

}  // namespace fake_win32

using namespace fake_win32;

void WINAPI VariantInit(VARIANTARG* variant) {
  std::memset(variant, 0, sizeof *variant);
  variant->vt = VT_EMPTY;
}

HRESULT WINAPI VariantClear(VARIANTARG* variant) {
  auto fault = Enter("VariantClear", {Ptr(variant), variant ? Hex(variant->vt) : std::string("(null)")});
  const HRESULT result = ClearVariant(variant);
  return fault && SUCCEEDED(result) ? static_cast<HRESULT>(*fault) : result;
}

SAFEARRAY* WINAPI SafeArrayCreate(VARTYPE vt, UINT dims, SAFEARRAYBOUND* bounds) {
  if (auto fault = Enter("SafeArrayCreate", {Hex(vt), Num(dims),
                                             bounds ? Num(bounds[0].cElements) : std::string("(null)")})) {
    return nullptr;
  }
  const ULONG size = ElementSize(vt);
  if (!bounds || dims == 0 || dims > 0xFFFF || size == 0) return nullptr;
  uint64_t bytes = size;
  for (UINT i = 0; i < dims; ++i) {
    bytes *= bounds[i].cElements;
    if (bytes > kLargestArrayBytes) return nullptr;
  }
  const size_t header = sizeof(SAFEARRAY) + (dims - 1) * sizeof(SAFEARRAYBOUND);
  auto* array = static_cast<SAFEARRAY*>(std::calloc(1, header));
  void* data = std::calloc(1, bytes ? static_cast<size_t>(bytes) : 1);
  if (!array || !data) {
    std::free(array);
    std::free(data);
    return nullptr;
  }
  array->cDims = static_cast<USHORT>(dims);
  array->cbElements = size;
  array->pvData = data;
  // Bounds are kept in reverse order, as Windows keeps them.
  for (UINT i = 0; i < dims; ++i) array->rgsabound[dims - 1 - i] = bounds[i];
  State().arrays[array] = vt;
  internal::Opened("array", array);
  return array;
}

HRESULT WINAPI SafeArrayDestroy(SAFEARRAY* array) {
  auto fault = Enter("SafeArrayDestroy", {Ptr(array)});
  const HRESULT result = DestroyArray(array);
  return fault && SUCCEEDED(result) ? static_cast<HRESULT>(*fault) : result;
}

HRESULT WINAPI SafeArrayAccessData(SAFEARRAY* array, void** data) {
  if (auto fault = Enter("SafeArrayAccessData", {Ptr(array)})) return static_cast<HRESULT>(*fault);
  if (!array || !data) return E_INVALIDARG;
  if (!State().arrays.count(array)) {
    internal::Misuse("SafeArrayAccessData of an array that does not exist: " + Ptr(array));
    return E_INVALIDARG;
  }
  ++array->cLocks;
  *data = array->pvData;
  return S_OK;
}

HRESULT WINAPI SafeArrayUnaccessData(SAFEARRAY* array) {
  auto fault = Enter("SafeArrayUnaccessData", {Ptr(array)});
  if (!array) return E_INVALIDARG;
  if (!State().arrays.count(array)) {
    internal::Misuse("SafeArrayUnaccessData of an array that does not exist: " + Ptr(array));
    return E_INVALIDARG;
  }
  if (array->cLocks == 0) return E_UNEXPECTED;
  --array->cLocks;
  return fault ? static_cast<HRESULT>(*fault) : S_OK;
}

UINT WINAPI SafeArrayGetDim(SAFEARRAY* array) { return array ? array->cDims : 0; }

UINT WINAPI SafeArrayGetElemsize(SAFEARRAY* array) { return array ? array->cbElements : 0; }

HRESULT WINAPI SafeArrayGetLBound(SAFEARRAY* array, UINT dim, LONG* bound) {
  if (auto fault = Enter("SafeArrayGetLBound", {Ptr(array), Num(dim)})) return static_cast<HRESULT>(*fault);
  if (!array || !bound) return E_INVALIDARG;
  if (dim < 1 || dim > array->cDims) return DISP_E_BADINDEX;
  *bound = array->rgsabound[array->cDims - dim].lLbound;
  return S_OK;
}

HRESULT WINAPI SafeArrayGetUBound(SAFEARRAY* array, UINT dim, LONG* bound) {
  if (auto fault = Enter("SafeArrayGetUBound", {Ptr(array), Num(dim)})) return static_cast<HRESULT>(*fault);
  if (!array || !bound) return E_INVALIDARG;
  if (dim < 1 || dim > array->cDims) return DISP_E_BADINDEX;
  const SAFEARRAYBOUND& b = array->rgsabound[array->cDims - dim];
  *bound = static_cast<LONG>(static_cast<int64_t>(b.lLbound) + static_cast<int64_t>(b.cElements) - 1);
  return S_OK;
}

HRESULT WINAPI SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* vt) {
  if (auto fault = Enter("SafeArrayGetVartype", {Ptr(array)})) return static_cast<HRESULT>(*fault);
  if (!array || !vt) return E_INVALIDARG;
  auto it = State().arrays.find(array);
  if (it == State().arrays.end()) return E_INVALIDARG;
  *vt = it->second;
  return S_OK;
}

BSTR WINAPI SysAllocString(const OLECHAR* text) {
  if (auto fault = Enter("SysAllocString", {internal::Text(text)})) return nullptr;
  if (!text) return nullptr;
  const size_t length = std::wcslen(text);
  auto* block = static_cast<char*>(std::malloc(sizeof(uint32_t) + (length + 1) * sizeof(OLECHAR)));
  if (!block) return nullptr;
  const auto bytes = static_cast<uint32_t>(length * sizeof(OLECHAR));
  std::memcpy(block, &bytes, sizeof bytes);
  auto* string = reinterpret_cast<BSTR>(block + sizeof(uint32_t));
  std::memcpy(string, text, (length + 1) * sizeof(OLECHAR));
  internal::Opened("bstr", string);
  return string;
}

void WINAPI SysFreeString(BSTR text) {
  internal::Record("SysFreeString", {Ptr(text)});
  FreeString(text);
}

UINT WINAPI SysStringLen(BSTR text) {
  if (!text) return 0;
  uint32_t bytes;
  std::memcpy(&bytes, reinterpret_cast<char*>(text) - sizeof(uint32_t), sizeof bytes);
  return static_cast<UINT>(bytes / sizeof(OLECHAR));
}
