#pragma once
// Overlapped I/O on device handles that wrap a file descriptor (a serial or
// parallel port node, a pipe, a pseudo-terminal), with the platform's
// contract: ReadFile/WriteFile start an operation and answer TRUE when it
// completed at once, or FALSE with ERROR_IO_PENDING while it goes on in the
// background; the OVERLAPPED's event is signalled when it ends, and
// GetOverlappedResult gives its count and outcome.
//
// Device files served in user space (kernel/served_device.h) take the same
// calls, with their provider's semantics.
//
// A read completes as soon as at least one byte is there (serial ports are
// read "as much as is available"); a write completes when every byte has
// been taken by the device. One worker thread per device handle carries the
// pending operations; it is ended and joined when the handle is closed.
#include "kernel/sync.h"
#include "win_bool.h"
#include "win_types.h"

#include <cstdint>
#include <functional>

/// One overlapped operation, owned by the caller, who keeps it (and the
/// buffer) alive until the operation has completed or been cancelled.
/// `Internal` holds ERROR_IO_PENDING while the operation runs, then its
/// outcome as a system error code (0 = success) in its low 32 bits, with the
/// errno behind a failure above them (GetOverlappedResult hands both on as
/// the last error and its cause); `InternalHigh` the bytes transferred.
/// `Offset` is ignored: device handles are streams.
struct OVERLAPPED {
    uintptr_t Internal = 0;
    uintptr_t InternalHigh = 0;
    DWORD Offset = 0;
    DWORD OffsetHigh = 0;
    HANDLE hEvent = nullptr;
};

/// Wraps `fd` (any readable or writable descriptor) into a device handle
/// and takes ownership of it: the descriptor is closed by CloseHandle, or at
/// once if this call fails (null with the last error). The descriptor is
/// switched to non-blocking mode. A terminal must be in a mode where a read
/// with nothing waiting answers EAGAIN (raw mode with VMIN 1): a read that
/// answers 0 is taken as end of file, i.e. a hang-up.
HANDLE CreateDeviceHandle(int fd);
/// The descriptor behind a device handle, -1 for any other handle. It stays
/// owned by the handle.
int DeviceHandleDescriptor(HANDLE device);

/// Starts reading up to `length` bytes. `overlapped` is required (device
/// handles have no synchronous mode: ERROR_INVALID_PARAMETER without it, or
/// when it is already in use by a pending operation). Resets its event,
/// then: TRUE with *bytesRead set (event signalled) when bytes were there;
/// FALSE with ERROR_IO_PENDING while waiting for them; FALSE with another
/// error on failure (ERROR_HANDLE_EOF once the peer has gone,
/// ERROR_DEVICE_NOT_CONNECTED after a hang-up).
BOOL ReadFile(HANDLE device, void* buffer, DWORD length, DWORD* bytesRead, OVERLAPPED* overlapped);
/// Starts writing `length` bytes; same contract as ReadFile. Writes to one
/// handle go out in the order they were started.
BOOL WriteFile(HANDLE device, const void* buffer, DWORD length, DWORD* bytesWritten, OVERLAPPED* overlapped);
/// Outcome of an operation: TRUE with the count when it succeeded; FALSE with
/// its error (and the errno behind it, GetLastErrno) when it failed (ERROR_OPERATION_ABORTED when cancelled, with
/// the count of bytes moved before); FALSE with ERROR_IO_INCOMPLETE while it
/// is still pending and `wait` is FALSE. With `wait` TRUE it blocks until the
/// operation ends, without a time-out, like the platform's: use it only
/// after its event was seen signalled, or use GetOverlappedResultEx.
BOOL GetOverlappedResult(HANDLE device, OVERLAPPED* overlapped, DWORD* bytesTransferred, BOOL wait);
/// Same, waiting at most `milliseconds` (FALSE with WAIT_TIMEOUT as the last
/// error when it is still pending then). `alertable` is ignored.
BOOL GetOverlappedResultEx(HANDLE device, OVERLAPPED* overlapped, DWORD* bytesTransferred, DWORD milliseconds,
                           BOOL alertable);
/// Cancels every pending operation of the handle (from whichever thread it
/// was started). Each completes with ERROR_OPERATION_ABORTED and its event
/// is signalled; once this returns, no buffer or OVERLAPPED of theirs is
/// touched again.
BOOL CancelIo(HANDLE device);
/// Cancels one operation (all with a null `overlapped`); FALSE with
/// ERROR_NOT_FOUND when it was not pending.
BOOL CancelIoEx(HANDLE device, OVERLAPPED* overlapped);
/// Whether the operation has ended (safe to call from any thread).
BOOL HasOverlappedIoCompleted(const OVERLAPPED* overlapped);

/// Says whether the device may take bytes now. Called with the device's lock
/// held, by the thread starting a write or by the device's worker: it must
/// be quick, must not block and must not call back into this layer for the
/// same handle.
using DeviceWriteGate = std::function<bool()>;
/// Holds every write of `device` back while `gate` answers false, asking it
/// again every `recheckMilliseconds` (a write so stays pending, and can be
/// cancelled, while a handshake line is low). A null gate removes it.
BOOL SetDeviceWriteGate(HANDLE device, DeviceWriteGate gate, DWORD recheckMilliseconds);
/// TRUE once the device has hung up (end of file, EIO, POLLHUP; for a
/// pseudo-terminal: its other side closed), also when no read is pending.
/// FALSE for a live device; TRUE for a handle that is no device.
BOOL IsDeviceHungUp(HANDLE device);
