#pragma once
// The handful of fixed-width names that the component and kernel layers share
// with the contracts that cross library boundaries (ICommunication, the Comm_
// functions, the USB channel). Sizes are those of the contracts: 32-bit
// DWORD/LONG/BOOL/HRESULT, pointer-sized WPARAM/LPARAM/LRESULT.
#include <cstdint>

using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using UINT = uint32_t;
using ULONG = uint32_t;
using LONG = int32_t;
using BOOL = int32_t;
using HRESULT = int32_t;
using SCODE = int32_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
using LCID = uint32_t;
using DISPID = int32_t;
using MEMBERID = int32_t;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

/// Kernel object handle (event, mutex, thread, device); null is "no object".
using HANDLE = struct KernelObject*;
/// Hidden message window owned by one thread; null is "no window".
using HWND = struct MessageWindow*;

constexpr DWORD INFINITE = 0xFFFFFFFFu;
