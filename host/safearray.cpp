#include <host/safearray.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// Every descriptor made here sits just behind an 8-byte header: a mark that
// tells our descriptors from anything else, then the element type in the four
// bytes before the descriptor, where automation keeps it for arrays that have
// one. The header keeps the descriptor 8-byte aligned.
constexpr std::uint32_t kMark = 0x59415253u;  // "SRAY" in little-endian bytes
constexpr std::size_t kHeader = 8;
constexpr UINT kMaxDims = 0xFFFF;

struct Header {
    std::uint32_t mark;
    std::uint32_t vt;
};
static_assert(sizeof(Header) == kHeader, "header keeps the descriptor aligned");

Header* header_of(SAFEARRAY* array) {
    return reinterpret_cast<Header*>(reinterpret_cast<char*>(array) - kHeader);
}

// Bytes per element of a type that arrays may hold; 0 for any other.
ULONG element_size(VARTYPE vt) {
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
        case VT_ERROR:
        case VT_R4:
            return 4;
        case VT_R8:
        case VT_CY:
        case VT_DATE:
        case VT_I8:
        case VT_UI8:
            return 8;
        case VT_BSTR:
            return sizeof(BSTR);
        default:
            return 0;
    }
}

// The bounds live past the declared one-entry array; reach them through a
// pointer so that no fixed-size array is indexed out of its declared range.
SAFEARRAYBOUND* bounds_of(SAFEARRAY* array) {
    return array->rgsabound;
}

bool valid(SAFEARRAY* array) {
    return array != nullptr && header_of(array)->mark == kMark;
}

bool holds_strings(SAFEARRAY* array) {
    return (array->fFeatures & FADF_BSTR) != 0;
}

std::size_t element_count(SAFEARRAY* array) {
    std::size_t total = 1;
    SAFEARRAYBOUND* bounds = bounds_of(array);
    for (USHORT d = 0; d < array->cDims; ++d)
        total *= bounds[d].cElements;  // checked against overflow at creation
    return total;
}

// The element at `indices`, or null when an index lies outside its dimension.
char* locate(SAFEARRAY* array, const LONG* indices) {
    SAFEARRAYBOUND* bounds = bounds_of(array);
    std::size_t offset = 0;
    std::size_t stride = 1;
    for (USHORT d = 0; d < array->cDims; ++d) {
        std::int64_t at = std::int64_t{indices[d]} - bounds[d].lLbound;
        if (at < 0 || at >= std::int64_t{bounds[d].cElements})
            return nullptr;
        offset += static_cast<std::size_t>(at) * stride;
        stride *= bounds[d].cElements;
    }
    return static_cast<char*>(array->pvData) + offset * array->cbElements;
}

// A copy of `text` with all its units, embedded zeros included; null stays
// null. False on exhaustion.
bool copy_string(BSTR text, BSTR* copy) {
    if (text == nullptr) {
        *copy = nullptr;
        return true;
    }
    *copy = SysAllocStringLen(text, SysStringLen(text));
    return *copy != nullptr;
}

ULONG load_locks(SAFEARRAY* array) {
    return __atomic_load_n(&array->cLocks, __ATOMIC_ACQUIRE);
}

HRESULT get_bound(SAFEARRAY* array, UINT dim, LONG* bound, bool upper) {
    if (!valid(array) || bound == nullptr)
        return E_INVALIDARG;
    if (dim < 1 || dim > array->cDims)
        return DISP_E_BADINDEX;
    const SAFEARRAYBOUND& b = bounds_of(array)[dim - 1];
    if (!upper) {
        *bound = b.lLbound;
        return S_OK;
    }
    std::int64_t last = std::int64_t{b.lLbound} + b.cElements - 1;
    if (last < INT32_MIN)
        return DISP_E_OVERFLOW;
    *bound = static_cast<LONG>(last);
    return S_OK;
}

}  // namespace

extern "C" {

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT dims, SAFEARRAYBOUND* bounds) {
    ULONG size = element_size(vt);
    if (size == 0 || dims == 0 || dims > kMaxDims || bounds == nullptr)
        return nullptr;
    std::size_t total = 1;
    for (UINT d = 0; d < dims; ++d) {
        // The last index of a dimension must be a LONG, or no index reaches it.
        if (std::int64_t{bounds[d].lLbound} + bounds[d].cElements - 1 > INT32_MAX)
            return nullptr;
        if (__builtin_mul_overflow(total, std::size_t{bounds[d].cElements}, &total))
            return nullptr;
    }
    std::size_t bytes;
    if (__builtin_mul_overflow(total, std::size_t{size}, &bytes))
        return nullptr;

    std::size_t descriptor =
        offsetof(SAFEARRAY, rgsabound) + std::size_t{dims} * sizeof(SAFEARRAYBOUND);
    char* block = static_cast<char*>(std::calloc(1, kHeader + descriptor));
    if (block == nullptr)
        return nullptr;
    // Zero bits are 0 for numbers and null for strings; an empty array still
    // gets a real block so that its data address is never null.
    void* data = std::calloc(bytes == 0 ? 1 : bytes, 1);
    if (data == nullptr) {
        std::free(block);
        return nullptr;
    }
    Header* header = reinterpret_cast<Header*>(block);
    header->mark = kMark;
    header->vt = vt;
    SAFEARRAY* array = reinterpret_cast<SAFEARRAY*>(block + kHeader);
    array->cDims = static_cast<USHORT>(dims);
    array->fFeatures = FADF_HAVEVARTYPE | (vt == VT_BSTR ? FADF_BSTR : 0);
    array->cbElements = size;
    array->cLocks = 0;
    array->pvData = data;
    std::memcpy(bounds_of(array), bounds, std::size_t{dims} * sizeof(SAFEARRAYBOUND));
    return array;
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lowerBound, ULONG count) {
    SAFEARRAYBOUND bound{count, lowerBound};
    return SafeArrayCreate(vt, 1, &bound);
}

HRESULT SafeArrayDestroy(SAFEARRAY* array) {
    if (array == nullptr)
        return S_OK;
    if (!valid(array))
        return E_INVALIDARG;
    if (load_locks(array) != 0)
        return DISP_E_ARRAYISLOCKED;
    if (holds_strings(array)) {
        BSTR* strings = static_cast<BSTR*>(array->pvData);
        std::size_t total = element_count(array);
        for (std::size_t i = 0; i < total; ++i)
            SysFreeString(strings[i]);
    }
    std::free(array->pvData);
    Header* header = header_of(array);
    header->mark = 0;  // a second destroy of the same block is then refused
    std::free(header);
    return S_OK;
}

HRESULT SafeArrayPutElement(SAFEARRAY* array, LONG* indices, void* value) {
    if (!valid(array) || indices == nullptr)
        return E_INVALIDARG;
    if (!holds_strings(array) && value == nullptr)
        return E_INVALIDARG;
    char* element = locate(array, indices);
    if (element == nullptr)
        return DISP_E_BADINDEX;
    if (holds_strings(array)) {
        // Copy first: on exhaustion the old string stays in place.
        BSTR copy;
        if (!copy_string(static_cast<BSTR>(value), &copy))
            return E_OUTOFMEMORY;
        BSTR old;
        std::memcpy(&old, element, sizeof old);
        std::memcpy(element, &copy, sizeof copy);
        SysFreeString(old);
        return S_OK;
    }
    std::memcpy(element, value, array->cbElements);
    return S_OK;
}

HRESULT SafeArrayGetElement(SAFEARRAY* array, LONG* indices, void* value) {
    if (!valid(array) || indices == nullptr || value == nullptr)
        return E_INVALIDARG;
    char* element = locate(array, indices);
    if (element == nullptr)
        return DISP_E_BADINDEX;
    if (holds_strings(array)) {
        BSTR stored;
        std::memcpy(&stored, element, sizeof stored);
        BSTR copy;
        if (!copy_string(stored, &copy))
            return E_OUTOFMEMORY;
        std::memcpy(value, &copy, sizeof copy);
        return S_OK;
    }
    std::memcpy(value, element, array->cbElements);
    return S_OK;
}

UINT SafeArrayGetElemsize(SAFEARRAY* array) {
    return valid(array) ? array->cbElements : 0;
}

UINT SafeArrayGetDim(SAFEARRAY* array) {
    return valid(array) ? array->cDims : 0;
}

HRESULT SafeArrayGetLBound(SAFEARRAY* array, UINT dim, LONG* bound) {
    return get_bound(array, dim, bound, false);
}

HRESULT SafeArrayGetUBound(SAFEARRAY* array, UINT dim, LONG* bound) {
    return get_bound(array, dim, bound, true);
}

HRESULT SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* vt) {
    if (!valid(array) || vt == nullptr)
        return E_INVALIDARG;
    *vt = static_cast<VARTYPE>(header_of(array)->vt);
    return S_OK;
}

HRESULT SafeArrayLock(SAFEARRAY* array) {
    if (!valid(array))
        return E_INVALIDARG;
    ULONG locks = load_locks(array);
    do {
        if (locks == 0xFFFFFFFFu)
            return E_UNEXPECTED;
    } while (!__atomic_compare_exchange_n(&array->cLocks, &locks, locks + 1, true, __ATOMIC_ACQ_REL,
                                          __ATOMIC_ACQUIRE));
    return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* array) {
    if (!valid(array))
        return E_INVALIDARG;
    ULONG locks = load_locks(array);
    do {
        if (locks == 0)
            return E_UNEXPECTED;
    } while (!__atomic_compare_exchange_n(&array->cLocks, &locks, locks - 1, true, __ATOMIC_ACQ_REL,
                                          __ATOMIC_ACQUIRE));
    return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* array, void** data) {
    if (!valid(array) || data == nullptr)
        return E_INVALIDARG;
    HRESULT hr = SafeArrayLock(array);
    if (FAILED(hr))
        return hr;
    *data = array->pvData;
    return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* array) {
    return SafeArrayUnlock(array);
}

HRESULT SafeArrayPtrOfIndex(SAFEARRAY* array, LONG* indices, void** element) {
    if (!valid(array) || indices == nullptr || element == nullptr)
        return E_INVALIDARG;
    char* at = locate(array, indices);
    if (at == nullptr)
        return DISP_E_BADINDEX;
    *element = at;
    return S_OK;
}

}  // extern "C"
