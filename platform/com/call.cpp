// The call-by-description service.
//
// On the 64-bit System V and AArch64 calling conventions every integer or
// pointer argument takes one general register (or one 8-byte stack slot),
// a callee reads only the width it declares, and an integer result comes
// back in the first result register. So a function of up to N such
// arguments can be called through a pointer to a function of N machine
// words, and its result cut to the width described.
#include "call.h"

#include "com_internal.h"

#include <cstring>
#include <utility>

#if !(defined(__x86_64__) || defined(__aarch64__))
#error "the call-by-description service knows the calling conventions of x86-64 and AArch64 only"
#endif

namespace {

using Word = uintptr_t;

enum class Width { None, Bits8, Bits16, Bits32, Bits64, Pointer, Unsupported };

bool IsSigned(VARTYPE type) {
    switch (type) {
    case VT_I1:
    case VT_I2:
    case VT_I4:
    case VT_I8:
    case VT_INT:
    case VT_BOOL:
    case VT_ERROR:
    case VT_HRESULT:
        return true;
    default:
        return false;
    }
}

Width WidthOf(VARTYPE type) {
    if (type & (VT_BYREF | VT_ARRAY))
        return Width::Pointer;
    switch (type) {
    case VT_EMPTY:
    case VT_VOID:
        return Width::None;
    case VT_I1:
    case VT_UI1:
        return Width::Bits8;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
        return Width::Bits16;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_ERROR:
    case VT_HRESULT:
        return Width::Bits32;
    case VT_I8:
    case VT_UI8:
        return Width::Bits64;
    case VT_BSTR:
    case VT_UNKNOWN:
    case VT_DISPATCH:
    case VT_PTR:
        return Width::Pointer;
    default:
        return Width::Unsupported;
    }
}

// `value` cut to `width` and extended back to a word as `type` says.
Word Narrow(uint64_t value, Width width, bool isSigned) {
    switch (width) {
    case Width::Bits8:
        return isSigned ? static_cast<Word>(static_cast<int64_t>(static_cast<int8_t>(value))) : static_cast<uint8_t>(value);
    case Width::Bits16:
        return isSigned ? static_cast<Word>(static_cast<int64_t>(static_cast<int16_t>(value))) : static_cast<uint16_t>(value);
    case Width::Bits32:
        return isSigned ? static_cast<Word>(static_cast<int64_t>(static_cast<int32_t>(value))) : static_cast<uint32_t>(value);
    default:
        return static_cast<Word>(value);
    }
}

HRESULT ArgumentWord(VARTYPE type, const VARIANT* value, Word& word) {
    Width width = WidthOf(type);
    if (width == Width::None || width == Width::Unsupported)
        return DISP_E_BADVARTYPE;
    if (!value)
        return E_INVALIDARG;
    if (width == Width::Pointer) {
        bool matches = type == VT_PTR ? (value->vt & VT_BYREF) != 0 : value->vt == type;
        if (!matches)
            return DISP_E_TYPEMISMATCH;
        word = reinterpret_cast<Word>(value->byref);
        return S_OK;
    }
    int64_t integer = 0;
    if (!VariantIntegerValue(*value, integer))
        return DISP_E_TYPEMISMATCH;
    word = Narrow(static_cast<uint64_t>(integer), width, IsSigned(type));
    return S_OK;
}

template <size_t>
using WordParameter = Word;

// The callee's real type differs from the one called through; that is the
// point here, so clang's function-type check is off for this call.
template <size_t... I>
#if defined(__clang__)
__attribute__((no_sanitize("function")))
#endif
Word CallWords(void* function, const Word* words, std::index_sequence<I...>) {
    (void)words;  // unused when there are no arguments
    using Function = Word (*)(WordParameter<I>...);
    return reinterpret_cast<Function>(function)(words[I]...);
}

Word Call(void* function, const Word* words, size_t count) {
    switch (count) {
    case 0: return CallWords(function, words, std::make_index_sequence<0>{});
    case 1: return CallWords(function, words, std::make_index_sequence<1>{});
    case 2: return CallWords(function, words, std::make_index_sequence<2>{});
    case 3: return CallWords(function, words, std::make_index_sequence<3>{});
    case 4: return CallWords(function, words, std::make_index_sequence<4>{});
    case 5: return CallWords(function, words, std::make_index_sequence<5>{});
    case 6: return CallWords(function, words, std::make_index_sequence<6>{});
    case 7: return CallWords(function, words, std::make_index_sequence<7>{});
    case 8: return CallWords(function, words, std::make_index_sequence<8>{});
    default: return CallWords(function, words, std::make_index_sequence<9>{});
    }
}

}  // namespace

bool VariantIntegerValue(const VARIANT& value, int64_t& out) {
    switch (value.vt) {
    case VT_I1: out = value.cVal; return true;
    case VT_UI1: out = value.bVal; return true;
    case VT_I2: out = value.iVal; return true;
    case VT_UI2: out = value.uiVal; return true;
    case VT_BOOL: out = value.boolVal; return true;
    case VT_I4: out = value.lVal; return true;
    case VT_UI4: out = value.ulVal; return true;
    case VT_INT: out = value.intVal; return true;
    case VT_UINT: out = value.uintVal; return true;
    case VT_ERROR: out = value.scode; return true;
    case VT_I8: out = value.llVal; return true;
    case VT_UI8: out = static_cast<int64_t>(value.ullVal); return true;
    default: return false;
    }
}

HRESULT DispCallFunc(void* instance, ULONG_PTR vtableOffset, CALLCONV callingConvention, VARTYPE returnType,
                     UINT argumentCount, const VARTYPE* argumentTypes, VARIANTARG* const* argumentValues,
                     VARIANT* result) {
    if (callingConvention != CC_STDCALL && callingConvention != CC_CDECL)
        return E_INVALIDARG;
    if (argumentCount > kMaxCallArguments || (argumentCount > 0 && (!argumentTypes || !argumentValues)))
        return E_INVALIDARG;
    Width resultWidth = WidthOf(returnType);
    if (resultWidth == Width::Unsupported)
        return DISP_E_BADVARTYPE;

    void* function = nullptr;
    Word words[kMaxCallArguments + 1] = {};
    size_t count = 0;
    if (instance) {
        if (vtableOffset % sizeof(void*) != 0)
            return E_INVALIDARG;
        void* const* table = *static_cast<void* const* const*>(instance);
        function = table[vtableOffset / sizeof(void*)];
        words[count++] = reinterpret_cast<Word>(instance);
    } else {
        function = reinterpret_cast<void*>(vtableOffset);
    }
    if (!function)
        return E_INVALIDARG;
    for (UINT i = 0; i < argumentCount; ++i) {
        HRESULT hr = ArgumentWord(argumentTypes[i], argumentValues[i], words[count++]);
        if (FAILED(hr))
            return hr;
    }

    Word returned = Call(function, words, count);

    if (!result)
        return S_OK;
    VariantInit(result);
    if (resultWidth == Width::None)
        return S_OK;
    if (resultWidth == Width::Pointer) {
        result->vt = returnType;
        result->byref = reinterpret_cast<void*>(returned);
        return S_OK;
    }
    Word value = Narrow(returned, resultWidth, IsSigned(returnType));
    result->vt = returnType == VT_HRESULT ? static_cast<VARTYPE>(VT_ERROR) : returnType;
    switch (resultWidth) {
    case Width::Bits8: result->bVal = static_cast<BYTE>(value); break;
    case Width::Bits16: result->iVal = static_cast<SHORT>(value); break;
    case Width::Bits32: result->lVal = static_cast<LONG>(value); break;
    default: result->llVal = static_cast<LONGLONG>(value); break;
    }
    return S_OK;
}
