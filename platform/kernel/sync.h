#pragma once
// Events, waits on handles and Sleep, with the platform's names and results:
// the shapes the port library's contract hands out (an OVERLAPPED's event,
// a device handle, the last error). Objects are local to the process: names
// passed to CreateEvent are ignored, and security attributes must be null.
//
// Waits take a time-out in milliseconds; INFINITE is accepted, but code of
// this system always passes a bound.
#include "kernel/last_error.h"
#include "win_bool.h"
#include "win_types.h"

#include <span>

constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;
/// Most handles one WaitForAnyObject call accepts.
constexpr DWORD MAXIMUM_WAIT_OBJECTS = 64;

/// New event: manual reset (stays signalled until ResetEvent) or auto reset
/// (one satisfied wait clears it). Null with the last error on failure.
HANDLE CreateEvent(void* securityAttributes, BOOL manualReset, BOOL initialState, const char* name);
/// Signals the event. FALSE with ERROR_INVALID_HANDLE for a non-event.
BOOL SetEvent(HANDLE event);
/// Clears the event. FALSE with ERROR_INVALID_HANDLE for a non-event.
BOOL ResetEvent(HANDLE event);

/// Waits until `handle` (event or thread) is signalled or `milliseconds`
/// pass. WAIT_OBJECT_0, WAIT_TIMEOUT, or WAIT_FAILED with the last error
/// (ERROR_INVALID_HANDLE for a closed or unwaitable handle).
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
/// Waits for any one of `handles` (an OVERLAPPED event beside an abort
/// event): WAIT_OBJECT_0 + the lowest signalled index, WAIT_TIMEOUT, or
/// WAIT_FAILED (ERROR_INVALID_PARAMETER for 0 or more than 64 handles).
DWORD WaitForAnyObject(std::span<const HANDLE> handles, DWORD milliseconds);

/// Closes a handle of any kind of this layer. The object lives on while a
/// wait or an I/O call still uses it; a device handle cancels its pending I/O
/// first. FALSE with ERROR_INVALID_HANDLE for an unknown handle.
BOOL CloseHandle(HANDLE handle);

/// Blocks the calling thread for `milliseconds`.
void Sleep(DWORD milliseconds);
