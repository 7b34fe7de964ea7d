#pragma once
// The call-by-description service: calls a function, or a slot of an
// interface's table, with arguments given as variants and a list of the
// argument types the callee takes.
//
// Every supported argument is one machine word in the platform's normal
// calling convention (the "standard call" of the contract): integer types go
// as their own width, sign- or zero-extended; strings, interfaces, arrays and
// every VT_BYREF type go as the full 64-bit pointer. A pointer is never cut
// to 32 bits: an argument described as a 32-bit integer whose variant holds a
// pointer is refused. Floating-point and by-value VARIANT arguments are not
// supported.
#include "hresult.h"
#include "variant.h"
#include "win_types.h"

enum CALLCONV : int {
    CC_FASTCALL = 0,
    CC_CDECL = 1,
    CC_PASCAL = 2,
    CC_MACPASCAL = 3,
    CC_STDCALL = 4,
    CC_FPFASTCALL = 5,
    CC_SYSCALL = 6,
};

/// Most arguments one call takes (besides the instance).
constexpr UINT kMaxCallArguments = 8;

/// Calls the function at `vtableOffset` bytes into the table of `instance`
/// (passed as the first argument), or, when `instance` is null, the function
/// whose address is `vtableOffset`. Argument i is taken from
/// `*argumentValues[i]` as type `argumentTypes[i]`:
/// - an integer type (VT_I1..VT_UI8, VT_INT, VT_UINT, VT_BOOL, VT_ERROR,
///   VT_HRESULT) accepts a variant of any integer type and passes its value
///   cut to the described width;
/// - a pointer type (VT_BSTR, VT_UNKNOWN, VT_DISPATCH, VT_ARRAY|x, VT_BYREF|x,
///   VT_PTR) needs a variant of exactly that type (VT_PTR: any VT_BYREF) and
///   passes the pointer it holds.
/// `returnType` VT_EMPTY or VT_VOID discards the result; integer types store
/// it in `*result` (VT_HRESULT as VT_ERROR); pointer types as that type.
/// `result` may be null. Returns S_OK when the call was made (the callee's
/// own result is in `*result`), E_INVALIDARG for a calling convention other
/// than CC_STDCALL/CC_CDECL, more than kMaxCallArguments arguments, a null
/// function, or a misaligned offset; DISP_E_BADVARTYPE for an unsupported
/// type; DISP_E_TYPEMISMATCH when a variant does not fit its type.
HRESULT DispCallFunc(void* instance, ULONG_PTR vtableOffset, CALLCONV callingConvention, VARTYPE returnType,
                     UINT argumentCount, const VARTYPE* argumentTypes, VARIANTARG* const* argumentValues,
                     VARIANT* result);
