#pragma once
// Inside of the kernel layer: how the generic device calls (ReadFile,
// WriteFile, GetOverlappedResultEx, CancelIo) reach a served device file.
#include "kernel/device_io.h"
#include "win_types.h"

#include <cstddef>

namespace marquen::kernel {

/// Whether `handle` is a served device file.
bool IsServedDevice(HANDLE handle);
/// ReadFile / WriteFile on a served device file.
BOOL ServedReadWrite(HANDLE handle, bool isRead, void* buffer, DWORD length, DWORD* transferred,
                     OVERLAPPED* overlapped);
/// Waits at most `milliseconds` for `overlapped` to end; false on time-out
/// or for an unknown handle.
bool ServedWaitResult(HANDLE handle, OVERLAPPED* overlapped, DWORD milliseconds);
/// Cancels `overlapped` (all with null); how many were pending.
size_t ServedCancel(HANDLE handle, OVERLAPPED* overlapped);
/// Whether the device of a served file has gone.
bool ServedIsGone(HANDLE handle);

}  // namespace marquen::kernel
