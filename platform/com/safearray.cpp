// Safe arrays. The descriptor is allocated behind a small prefix that keeps
// the element type; the data is a separate zero-filled block.
#include "interfaces.h"
#include "variant.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {

// Prefix before the descriptor; 16 bytes keep the descriptor as aligned as
// malloc's block.
constexpr size_t kPrefixBytes = 16;
constexpr ULONG kMaxLocks = 65535;

UINT ElementSize(VARTYPE type) {
    switch (type) {
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
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
        return 8;
    case VT_BSTR:
    case VT_UNKNOWN:
    case VT_DISPATCH:
        return sizeof(void*);
    case VT_VARIANT:
        return sizeof(VARIANT);
    default:
        return 0;
    }
}

USHORT FeaturesOf(VARTYPE type) {
    switch (type) {
    case VT_BSTR: return FADF_HAVEVARTYPE | FADF_BSTR;
    case VT_UNKNOWN: return FADF_HAVEVARTYPE | FADF_UNKNOWN;
    case VT_DISPATCH: return FADF_HAVEVARTYPE | FADF_DISPATCH;
    case VT_VARIANT: return FADF_HAVEVARTYPE | FADF_VARIANT;
    default: return FADF_HAVEVARTYPE;
    }
}

SAFEARRAYBOUND* Bounds(SAFEARRAY* array) { return array->rgsabound; }

unsigned char* BlockOf(SAFEARRAY* array) { return reinterpret_cast<unsigned char*>(array) - kPrefixBytes; }

VARTYPE StoredType(SAFEARRAY* array) {
    VARTYPE type;
    std::memcpy(&type, BlockOf(array), sizeof type);
    return type;
}

// Element count; bounded at creation, so the product cannot overflow.
size_t ElementCount(SAFEARRAY* array) {
    size_t count = 1;
    for (USHORT d = 0; d < array->cDims; ++d)
        count *= Bounds(array)[d].cElements;
    return count;
}

// New array whose bounds are given in stored order (last dimension first).
SAFEARRAY* CreateStored(VARTYPE type, UINT dimensionCount, const SAFEARRAYBOUND* storedBounds) {
    UINT elementSize = ElementSize(type);
    if (elementSize == 0 || dimensionCount == 0 || dimensionCount > 0xFFFF || !storedBounds)
        return nullptr;
    size_t bytes = elementSize;
    for (UINT d = 0; d < dimensionCount; ++d) {
        const SAFEARRAYBOUND& bound = storedBounds[d];
        if (bound.cElements != 0 && static_cast<int64_t>(bound.lLbound) + bound.cElements - 1 > INT32_MAX)
            return nullptr;
        if (bound.cElements != 0 && bytes > kMaxSafeArrayDataBytes / bound.cElements)
            return nullptr;
        bytes *= bound.cElements;
    }
    if (bytes > kMaxSafeArrayDataBytes)
        return nullptr;
    size_t descriptorBytes = offsetof(SAFEARRAY, rgsabound) + dimensionCount * sizeof(SAFEARRAYBOUND);
    auto* block = static_cast<unsigned char*>(std::calloc(1, kPrefixBytes + descriptorBytes));
    if (!block)
        return nullptr;
    // Never a null data address, even for an empty array: callers hand it to
    // memcpy with a zero length.
    void* data = std::calloc(bytes ? bytes : 1, 1);
    if (!data) {
        std::free(block);
        return nullptr;
    }
    std::memcpy(block, &type, sizeof type);
    auto* array = reinterpret_cast<SAFEARRAY*>(block + kPrefixBytes);
    array->cDims = static_cast<USHORT>(dimensionCount);
    array->fFeatures = FeaturesOf(type);
    array->cbElements = elementSize;
    array->cLocks = 0;
    array->pvData = data;
    std::memcpy(Bounds(array), storedBounds, dimensionCount * sizeof(SAFEARRAYBOUND));
    return array;
}

void ReleaseElements(SAFEARRAY* array) {
    size_t count = ElementCount(array);
    if (array->fFeatures & FADF_BSTR) {
        auto* strings = static_cast<BSTR*>(array->pvData);
        for (size_t i = 0; i < count; ++i)
            SysFreeString(strings[i]);
    } else if (array->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
        auto* objects = static_cast<IUnknown**>(array->pvData);
        for (size_t i = 0; i < count; ++i) {
            if (objects[i])
                objects[i]->Release();
        }
    } else if (array->fFeatures & FADF_VARIANT) {
        auto* variants = static_cast<VARIANT*>(array->pvData);
        for (size_t i = 0; i < count; ++i)
            VariantClear(&variants[i]);
    }
}

std::atomic_ref<ULONG> Locks(SAFEARRAY* array) { return std::atomic_ref<ULONG>(array->cLocks); }

}  // namespace

SAFEARRAY* SafeArrayCreate(VARTYPE elementType, UINT dimensionCount, const SAFEARRAYBOUND* bounds) {
    if (dimensionCount == 0 || dimensionCount > 0xFFFF || !bounds)
        return nullptr;
    // Stored last dimension first.
    SAFEARRAYBOUND stored[64];
    SAFEARRAYBOUND* reversed = stored;
    SAFEARRAYBOUND* allocated = nullptr;
    if (dimensionCount > 64) {
        allocated = static_cast<SAFEARRAYBOUND*>(std::malloc(dimensionCount * sizeof(SAFEARRAYBOUND)));
        if (!allocated)
            return nullptr;
        reversed = allocated;
    }
    for (UINT d = 0; d < dimensionCount; ++d)
        reversed[d] = bounds[dimensionCount - 1 - d];
    SAFEARRAY* array = CreateStored(elementType, dimensionCount, reversed);
    std::free(allocated);
    return array;
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE elementType, LONG lowerBound, ULONG elementCount) {
    SAFEARRAYBOUND bound{elementCount, lowerBound};
    return CreateStored(elementType, 1, &bound);
}

HRESULT SafeArrayDestroy(SAFEARRAY* array) {
    if (!array)
        return S_OK;
    if (Locks(array).load() != 0)
        return DISP_E_ARRAYISLOCKED;
    ReleaseElements(array);
    std::free(array->pvData);
    std::free(BlockOf(array));
    return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* array, SAFEARRAY** copy) {
    if (!copy)
        return E_INVALIDARG;
    *copy = nullptr;
    if (!array)
        return S_OK;
    SAFEARRAY* result = CreateStored(StoredType(array), array->cDims, Bounds(array));
    if (!result)
        return E_OUTOFMEMORY;
    size_t count = ElementCount(array);
    if (array->fFeatures & FADF_BSTR) {
        auto* from = static_cast<BSTR*>(array->pvData);
        auto* to = static_cast<BSTR*>(result->pvData);
        for (size_t i = 0; i < count; ++i) {
            if (!from[i])
                continue;
            to[i] = SysAllocStringByteLen(reinterpret_cast<const char*>(from[i]), SysStringByteLen(from[i]));
            if (!to[i]) {
                SafeArrayDestroy(result);
                return E_OUTOFMEMORY;
            }
        }
    } else if (array->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
        auto* from = static_cast<IUnknown**>(array->pvData);
        auto* to = static_cast<IUnknown**>(result->pvData);
        for (size_t i = 0; i < count; ++i) {
            to[i] = from[i];
            if (to[i])
                to[i]->AddRef();
        }
    } else if (array->fFeatures & FADF_VARIANT) {
        auto* from = static_cast<VARIANT*>(array->pvData);
        auto* to = static_cast<VARIANT*>(result->pvData);
        for (size_t i = 0; i < count; ++i) {
            HRESULT hr = VariantCopy(&to[i], &from[i]);
            if (FAILED(hr)) {
                SafeArrayDestroy(result);
                return hr;
            }
        }
    } else {
        std::memcpy(result->pvData, array->pvData, count * array->cbElements);
    }
    *copy = result;
    return S_OK;
}

UINT SafeArrayGetDim(SAFEARRAY* array) { return array ? array->cDims : 0; }

UINT SafeArrayGetElemsize(SAFEARRAY* array) { return array ? array->cbElements : 0; }

HRESULT SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* elementType) {
    if (!array || !elementType)
        return E_INVALIDARG;
    *elementType = StoredType(array);
    return S_OK;
}

HRESULT SafeArrayGetLBound(SAFEARRAY* array, UINT dimension, LONG* lowerBound) {
    if (!array || !lowerBound)
        return E_INVALIDARG;
    if (dimension < 1 || dimension > array->cDims)
        return DISP_E_BADINDEX;
    *lowerBound = Bounds(array)[array->cDims - dimension].lLbound;
    return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* array, UINT dimension, LONG* upperBound) {
    if (!array || !upperBound)
        return E_INVALIDARG;
    if (dimension < 1 || dimension > array->cDims)
        return DISP_E_BADINDEX;
    const SAFEARRAYBOUND& bound = Bounds(array)[array->cDims - dimension];
    // Checked at creation to stay in range; an empty dimension gives lower - 1.
    *upperBound = static_cast<LONG>(static_cast<int64_t>(bound.lLbound) + bound.cElements - 1);
    return S_OK;
}

HRESULT SafeArrayLock(SAFEARRAY* array) {
    if (!array)
        return E_INVALIDARG;
    std::atomic_ref<ULONG> locks = Locks(array);
    ULONG current = locks.load();
    do {
        if (current >= kMaxLocks)
            return E_UNEXPECTED;
    } while (!locks.compare_exchange_weak(current, current + 1));
    return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* array) {
    if (!array)
        return E_INVALIDARG;
    std::atomic_ref<ULONG> locks = Locks(array);
    ULONG current = locks.load();
    do {
        if (current == 0)
            return E_UNEXPECTED;
    } while (!locks.compare_exchange_weak(current, current - 1));
    return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* array, void** data) {
    if (!array || !data)
        return E_INVALIDARG;
    HRESULT hr = SafeArrayLock(array);
    if (FAILED(hr))
        return hr;
    *data = array->pvData;
    return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* array) { return SafeArrayUnlock(array); }

HRESULT SafeArrayPtrOfIndex(SAFEARRAY* array, const LONG* indexes, void** element) {
    if (!array || !indexes || !element)
        return E_INVALIDARG;
    size_t offset = 0;
    size_t stride = 1;
    for (USHORT d = 0; d < array->cDims; ++d) {
        const SAFEARRAYBOUND& bound = Bounds(array)[d];
        int64_t relative = static_cast<int64_t>(indexes[d]) - bound.lLbound;
        if (relative < 0 || relative >= static_cast<int64_t>(bound.cElements))
            return DISP_E_BADINDEX;
        offset += static_cast<size_t>(relative) * stride;
        stride *= bound.cElements;
    }
    *element = static_cast<unsigned char*>(array->pvData) + offset * array->cbElements;
    return S_OK;
}

HRESULT SafeArrayPutElement(SAFEARRAY* array, const LONG* indexes, void* value) {
    void* element = nullptr;
    HRESULT hr = SafeArrayPtrOfIndex(array, indexes, &element);
    if (FAILED(hr))
        return hr;
    if (array->fFeatures & FADF_BSTR) {
        BSTR text = static_cast<BSTR>(value);
        BSTR copy = nullptr;
        if (text) {
            copy = SysAllocStringByteLen(reinterpret_cast<const char*>(text), SysStringByteLen(text));
            if (!copy)
                return E_OUTOFMEMORY;
        }
        auto* slot = static_cast<BSTR*>(element);
        SysFreeString(*slot);
        *slot = copy;
    } else if (array->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
        auto* object = static_cast<IUnknown*>(value);
        if (object)
            object->AddRef();
        auto* slot = static_cast<IUnknown**>(element);
        if (*slot)
            (*slot)->Release();
        *slot = object;
    } else if (array->fFeatures & FADF_VARIANT) {
        if (!value)
            return E_INVALIDARG;
        return VariantCopy(static_cast<VARIANT*>(element), static_cast<const VARIANT*>(value));
    } else {
        if (!value)
            return E_INVALIDARG;
        std::memcpy(element, value, array->cbElements);
    }
    return S_OK;
}

HRESULT SafeArrayGetElement(SAFEARRAY* array, const LONG* indexes, void* value) {
    if (!value)
        return E_INVALIDARG;
    void* element = nullptr;
    HRESULT hr = SafeArrayPtrOfIndex(array, indexes, &element);
    if (FAILED(hr))
        return hr;
    if (array->fFeatures & FADF_BSTR) {
        BSTR text = *static_cast<BSTR*>(element);
        BSTR copy = nullptr;
        if (text) {
            copy = SysAllocStringByteLen(reinterpret_cast<const char*>(text), SysStringByteLen(text));
            if (!copy)
                return E_OUTOFMEMORY;
        }
        *static_cast<BSTR*>(value) = copy;
    } else if (array->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
        IUnknown* object = *static_cast<IUnknown**>(element);
        if (object)
            object->AddRef();
        *static_cast<IUnknown**>(value) = object;
    } else if (array->fFeatures & FADF_VARIANT) {
        auto* destination = static_cast<VARIANT*>(value);
        VariantInit(destination);
        return VariantCopy(destination, static_cast<const VARIANT*>(element));
    } else {
        std::memcpy(value, element, array->cbElements);
    }
    return S_OK;
}
