#pragma once
// Variants, safe arrays and the argument blocks of dispatch calls.
//
// Ownership follows the component rules: VariantClear frees what a variant
// holds by value (string, array, interface reference) and nothing behind a
// VT_BYREF pointer; VariantCopy makes deep copies of strings and arrays. Like
// strings, arrays come from this one library, so either side of a component
// boundary may free them.
//
// Safe arrays keep their bounds in reverse order of creation, as the
// component layout does: rgsabound[0] is the last (fastest varying)
// dimension, and an index vector names that dimension first. For the
// one-dimensional arrays the system passes around this makes no difference.
// The lock count is changed atomically, so an array may be locked and
// unlocked from several threads; its elements are not guarded.
#include "bstr.h"
#include "hresult.h"
#include "win_types.h"

#include <cstddef>

struct IUnknown;
struct IDispatch;
struct SAFEARRAY;

using VARTYPE = WORD;
using VARIANT_BOOL = int16_t;
using USHORT = uint16_t;
using SHORT = int16_t;
using CHAR = char;
using INT = int32_t;
using LONGLONG = int64_t;
using ULONGLONG = uint64_t;
using FLOAT = float;
using DOUBLE = double;
using ULONG_PTR = uintptr_t;

constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

enum VARENUM : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_CY = 6,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_DECIMAL = 14,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
    VT_VOID = 24,
    VT_HRESULT = 25,
    VT_PTR = 26,
    VT_SAFEARRAY = 27,
    VT_USERDEFINED = 29,
    VT_RECORD = 36,
    VT_ARRAY = 0x2000,
    VT_BYREF = 0x4000,
    VT_TYPEMASK = 0x0FFF,
};

/// Storage of a record variant; records are not supported, the member only
/// gives VARIANT its size (24 bytes on 64-bit systems).
struct VariantRecord {
    void* pvRecord;
    void* pRecInfo;
};

struct VARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONGLONG llVal;
        LONG lVal;
        BYTE bVal;
        SHORT iVal;
        FLOAT fltVal;
        DOUBLE dblVal;
        VARIANT_BOOL boolVal;
        SCODE scode;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        SAFEARRAY* parray;
        BYTE* pbVal;
        SHORT* piVal;
        LONG* plVal;
        LONGLONG* pllVal;
        VARIANT_BOOL* pboolVal;
        SCODE* pscode;
        BSTR* pbstrVal;
        IUnknown** ppunkVal;
        IDispatch** ppdispVal;
        SAFEARRAY** pparray;
        VARIANT* pvarVal;
        void* byref;
        CHAR cVal;
        USHORT uiVal;
        ULONG ulVal;
        ULONGLONG ullVal;
        INT intVal;
        UINT uintVal;
        CHAR* pcVal;
        USHORT* puiVal;
        ULONG* pulVal;
        ULONGLONG* pullVal;
        INT* pintVal;
        UINT* puintVal;
        VariantRecord record;
    };
};
using VARIANTARG = VARIANT;

// Accessors in the usual spelling, for code that reads like its callers.
#define V_VT(v) ((v)->vt)
#define V_ISBYREF(v) (((v)->vt & VT_BYREF) != 0)
#define V_ISARRAY(v) (((v)->vt & VT_ARRAY) != 0)
#define V_UI1(v) ((v)->bVal)
#define V_I4(v) ((v)->lVal)
#define V_I4REF(v) ((v)->plVal)
#define V_BOOL(v) ((v)->boolVal)
#define V_ERROR(v) ((v)->scode)
#define V_BSTR(v) ((v)->bstrVal)
#define V_BSTRREF(v) ((v)->pbstrVal)
#define V_UNKNOWN(v) ((v)->punkVal)
#define V_DISPATCH(v) ((v)->pdispVal)
#define V_ARRAY(v) ((v)->parray)
#define V_ARRAYREF(v) ((v)->pparray)
#define V_VARIANTREF(v) ((v)->pvarVal)
#define V_BYREF(v) ((v)->byref)

/// Sets the type to VT_EMPTY without looking at the old content.
void VariantInit(VARIANTARG* variant);
/// Frees what the variant owns and leaves it VT_EMPTY. DISP_E_BADVARTYPE for
/// a type this library does not know, DISP_E_ARRAYISLOCKED when it holds a
/// locked array (the variant is then left as it was).
HRESULT VariantClear(VARIANTARG* variant);
/// Clears `destination` and makes it a copy of `source`: strings and arrays
/// deep, interface references counted, VT_BYREF pointers shallow. On failure
/// `destination` is left VT_EMPTY (E_OUTOFMEMORY) or untouched (clear failed,
/// DISP_E_BADVARTYPE).
HRESULT VariantCopy(VARIANTARG* destination, const VARIANTARG* source);

struct SAFEARRAYBOUND {
    ULONG cElements;
    LONG lLbound;
};

struct SAFEARRAY {
    USHORT cDims;
    USHORT fFeatures;
    ULONG cbElements;
    ULONG cLocks;
    void* pvData;
    /// cDims bounds, last dimension first; the block is allocated to hold them.
    SAFEARRAYBOUND rgsabound[1];
};

constexpr USHORT FADF_AUTO = 0x0001;
constexpr USHORT FADF_STATIC = 0x0002;
constexpr USHORT FADF_EMBEDDED = 0x0004;
constexpr USHORT FADF_FIXEDSIZE = 0x0010;
constexpr USHORT FADF_HAVEVARTYPE = 0x0080;
constexpr USHORT FADF_BSTR = 0x0100;
constexpr USHORT FADF_UNKNOWN = 0x0200;
constexpr USHORT FADF_DISPATCH = 0x0400;
constexpr USHORT FADF_VARIANT = 0x0800;

/// Largest data block of one array: element indexes are 32-bit, and no
/// array of this system comes near it. Bigger arrays are refused.
constexpr size_t kMaxSafeArrayDataBytes = 0x7FFFFFFF;

/// New zero-filled array of `dimensionCount` dimensions with the bounds given
/// first dimension first. Element types: the integer types, VT_R4, VT_R8,
/// VT_BOOL, VT_ERROR, VT_BSTR, VT_UNKNOWN, VT_DISPATCH, VT_VARIANT. Null for
/// another type, no dimensions, a data size above kMaxSafeArrayDataBytes, an
/// upper bound past the LONG range, or when memory runs out.
SAFEARRAY* SafeArrayCreate(VARTYPE elementType, UINT dimensionCount, const SAFEARRAYBOUND* bounds);
/// One-dimensional array of `elementCount` elements from `lowerBound`.
SAFEARRAY* SafeArrayCreateVector(VARTYPE elementType, LONG lowerBound, ULONG elementCount);
/// Frees the elements (strings, references, variants) and the array. S_OK for
/// null; DISP_E_ARRAYISLOCKED, with nothing freed, while it is locked.
HRESULT SafeArrayDestroy(SAFEARRAY* array);
/// Deep copy (strings and variants copied, references counted). Null in
/// `*copy` with S_OK for a null array; E_OUTOFMEMORY on failure.
HRESULT SafeArrayCopy(SAFEARRAY* array, SAFEARRAY** copy);
/// Number of dimensions (0 for null).
UINT SafeArrayGetDim(SAFEARRAY* array);
/// Size of one element in bytes (0 for null).
UINT SafeArrayGetElemsize(SAFEARRAY* array);
/// Element type given at creation. E_INVALIDARG for null arguments.
HRESULT SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* elementType);
/// Lower bound of dimension `dimension` (1 = first). DISP_E_BADINDEX for a
/// dimension outside 1..cDims, E_INVALIDARG for null arguments.
HRESULT SafeArrayGetLBound(SAFEARRAY* array, UINT dimension, LONG* lowerBound);
/// Upper bound of dimension `dimension` (lower bound - 1 when it is empty).
HRESULT SafeArrayGetUBound(SAFEARRAY* array, UINT dimension, LONG* upperBound);
/// Adds one lock; a locked array cannot be destroyed. E_UNEXPECTED past
/// 65535 locks.
HRESULT SafeArrayLock(SAFEARRAY* array);
/// Removes one lock; E_UNEXPECTED when it holds none.
HRESULT SafeArrayUnlock(SAFEARRAY* array);
/// Locks the array and hands out its data address.
HRESULT SafeArrayAccessData(SAFEARRAY* array, void** data);
/// Pairs with SafeArrayAccessData.
HRESULT SafeArrayUnaccessData(SAFEARRAY* array);
/// Address of one element; `indexes` holds one index per dimension, last
/// dimension first. DISP_E_BADINDEX outside the bounds.
HRESULT SafeArrayPtrOfIndex(SAFEARRAY* array, const LONG* indexes, void** element);
/// Stores a copy of `value` at the element: for VT_BSTR `value` is the BSTR
/// itself (copied), for VT_UNKNOWN/VT_DISPATCH the interface (counted), for
/// VT_VARIANT a VARIANT* (copied), otherwise the address of the value. The
/// old element is freed. DISP_E_BADINDEX, E_OUTOFMEMORY.
HRESULT SafeArrayPutElement(SAFEARRAY* array, const LONG* indexes, void* value);
/// Copies the element out to `value`: a new BSTR, a counted reference, a
/// VARIANT copy (the destination is treated as uninitialised) or the bytes.
HRESULT SafeArrayGetElement(SAFEARRAY* array, const LONG* indexes, void* value);

struct DISPPARAMS {
    VARIANTARG* rgvarg;
    DISPID* rgdispidNamedArgs;
    UINT cArgs;
    UINT cNamedArgs;
};

struct EXCEPINFO {
    WORD wCode;
    WORD wReserved;
    BSTR bstrSource;
    BSTR bstrDescription;
    BSTR bstrHelpFile;
    DWORD dwHelpContext;
    void* pvReserved;
    HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
    SCODE scode;
};
/// Frees the strings of an EXCEPINFO and zeroes it.
void ClearExcepInfo(EXCEPINFO* info);

constexpr DISPID DISPID_UNKNOWN = -1;
constexpr DISPID DISPID_VALUE = 0;
constexpr DISPID DISPID_PROPERTYPUT = -3;
constexpr MEMBERID MEMBERID_NIL = -1;

constexpr WORD DISPATCH_METHOD = 0x1;
constexpr WORD DISPATCH_PROPERTYGET = 0x2;
constexpr WORD DISPATCH_PROPERTYPUT = 0x4;
constexpr WORD DISPATCH_PROPERTYPUTREF = 0x8;

constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;
