// Variant life cycle: init, clear, copy.
#include "interfaces.h"
#include "variant.h"

#include <cstring>

namespace {

// Types a variant may hold by value.
bool IsValueType(VARTYPE type) {
    switch (type) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_ERROR:
    case VT_BOOL:
    case VT_UNKNOWN:
    case VT_I1:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_INT:
    case VT_UINT:
        return true;
    default:
        return false;
    }
}

bool IsArrayElementType(VARTYPE type) {
    return type != VT_EMPTY && type != VT_NULL && (IsValueType(type) || type == VT_VARIANT);
}

bool IsKnownType(VARTYPE vt) {
    if (vt & VT_BYREF) {
        VARTYPE target = vt & static_cast<VARTYPE>(~VT_BYREF);
        if (target & VT_ARRAY)
            return (target & ~VT_ARRAY) != 0 && IsArrayElementType(target & static_cast<VARTYPE>(~VT_ARRAY));
        return target == VT_VARIANT || (IsValueType(target) && target != VT_EMPTY && target != VT_NULL);
    }
    if (vt & VT_ARRAY)
        return IsArrayElementType(vt & static_cast<VARTYPE>(~VT_ARRAY));
    return IsValueType(vt);
}

}  // namespace

void VariantInit(VARIANTARG* variant) {
    if (!variant)
        return;
    std::memset(variant, 0, sizeof *variant);
    variant->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANTARG* variant) {
    if (!variant)
        return E_INVALIDARG;
    VARTYPE vt = variant->vt;
    if (!IsKnownType(vt))
        return DISP_E_BADVARTYPE;
    if (!(vt & VT_BYREF)) {
        if (vt & VT_ARRAY) {
            HRESULT hr = SafeArrayDestroy(variant->parray);
            if (FAILED(hr))
                return hr;
        } else if (vt == VT_BSTR) {
            SysFreeString(variant->bstrVal);
        } else if (vt == VT_UNKNOWN || vt == VT_DISPATCH) {
            if (variant->punkVal)
                variant->punkVal->Release();
        }
    }
    VariantInit(variant);
    return S_OK;
}

HRESULT VariantCopy(VARIANTARG* destination, const VARIANTARG* source) {
    if (!destination || !source)
        return E_INVALIDARG;
    if (destination == source)
        return S_OK;
    if (!IsKnownType(source->vt))
        return DISP_E_BADVARTYPE;
    HRESULT hr = VariantClear(destination);
    if (FAILED(hr))
        return hr;
    VARTYPE vt = source->vt;
    if (!(vt & VT_BYREF) && (vt & VT_ARRAY)) {
        SAFEARRAY* copy = nullptr;
        hr = SafeArrayCopy(source->parray, &copy);
        if (FAILED(hr))
            return hr;
        destination->parray = copy;
    } else if (vt == VT_BSTR) {
        if (source->bstrVal) {
            destination->bstrVal = SysAllocStringByteLen(reinterpret_cast<const char*>(source->bstrVal),
                                                         SysStringByteLen(source->bstrVal));
            if (!destination->bstrVal)
                return E_OUTOFMEMORY;
        }
    } else {
        std::memcpy(destination, source, sizeof *destination);
        if ((vt == VT_UNKNOWN || vt == VT_DISPATCH) && destination->punkVal)
            destination->punkVal->AddRef();
    }
    destination->vt = vt;
    return S_OK;
}

void ClearExcepInfo(EXCEPINFO* info) {
    if (!info)
        return;
    SysFreeString(info->bstrSource);
    SysFreeString(info->bstrDescription);
    SysFreeString(info->bstrHelpFile);
    std::memset(info, 0, sizeof *info);
}
