#pragma once
// Device files served in user space: a provider (a user-mode driver such as
// the USB printer driver) registers a path prefix; CreateFileA of a path
// with that prefix opens a file of the provider, and ReadFile, WriteFile,
// DeviceIoControl, GetOverlappedResult(Ex), CancelIo(Ex) and CloseHandle on
// the returned handle work as on any overlapped device handle: FALSE with
// ERROR_IO_PENDING while an operation runs, the OVERLAPPED's event signalled
// when it ends.
//
// The provider sees each operation as a DeviceOperation and finishes it
// with Complete, from any thread, at once or later. Operations work on
// buffers of their own: the caller's output buffer is filled when the
// operation completes, so once CancelIo returns no caller buffer is touched
// again even if a provider finishes late.
//
// User-mode drivers are shared libraries the layer loads by itself the first
// time they may be needed (see LoadUserModeDrivers): programs open device
// files as if the driver had been there all along.
#include "kernel/device_io.h"
#include "win_bool.h"
#include "win_types.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

/// The failure value of CreateFileA (all bits set).
inline const HANDLE INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(~uintptr_t{0});

// CreateFileA arguments (accepted and checked loosely: a served device is
// always opened for reading and writing, shared, existing).
constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD FILE_SHARE_WRITE = 0x2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD FILE_FLAG_OVERLAPPED = 0x40000000u;

namespace marquen::kernel {

class ServedDeviceObject;

/// One read, write or I/O control request on a served device file.
class DeviceOperation {
public:
    enum class Kind { Read, Write, IoControl };

    Kind kind() const { return m_kind; }
    /// The I/O control code (0 for a read or write).
    DWORD controlCode() const { return m_controlCode; }
    /// The input: the bytes to write, or the control request's input.
    const std::vector<uint8_t>& input() const { return m_input; }
    /// Room for the output, sized to the caller's buffer (read length or
    /// control output size); the provider fills its front and passes the
    /// count to Complete.
    std::vector<uint8_t>& output() { return m_output; }

    /// Ends the operation: `status` 0 for success, else a system error code
    /// or a driver status; `bytes` transferred (for a read or control
    /// request, the bytes of output() to hand to the caller). Only the first
    /// call counts. Any thread; never call it with a lock that Cancel of the
    /// same provider takes.
    void Complete(DWORD status, DWORD bytes);
    /// Whether the caller asked to cancel it (CancelIo, CloseHandle).
    bool cancelRequested() const;

    // Internal to the layer.
    DeviceOperation(Kind kind, DWORD controlCode, std::vector<uint8_t> input, size_t outputLength);
    struct Completion;
    std::shared_ptr<Completion> m_completion;

private:
    Kind m_kind;
    DWORD m_controlCode;
    std::vector<uint8_t> m_input;
    std::vector<uint8_t> m_output;
};
using DeviceOperationPtr = std::shared_ptr<DeviceOperation>;

/// One opened device file of a provider. Called from the threads of the
/// callers; a file may get operations from several threads at once.
class ServedFile {
public:
    virtual ~ServedFile() = default;
    /// Starts `operation`; it completes it now or later.
    virtual void Start(const DeviceOperationPtr& operation) = 0;
    /// Asks that `operation` end early; the provider still completes it
    /// (with ERROR_OPERATION_ABORTED, or its real outcome if that came
    /// first). The caller of CancelIo waits up to 2 s for that, then
    /// completes it with ERROR_OPERATION_ABORTED itself.
    virtual void Cancel(const DeviceOperationPtr& operation) = 0;
    /// The last handle of the file was closed, after its pending operations
    /// were cancelled. No call follows.
    virtual void Close() = 0;
    /// Whether the device behind the file has gone (unplugged): what
    /// IsDeviceHungUp answers for it. Any thread; must not block.
    virtual bool IsGone() const { return false; }
};

/// Serves the device files of one path prefix.
class DeviceProvider {
public:
    virtual ~DeviceProvider() = default;
    /// Opens `path` (which begins with the provider's prefix). Null with
    /// *error set (a system error code or a driver status) when there is no
    /// such file.
    virtual std::shared_ptr<ServedFile> Open(const std::string& path, DWORD* error) = 0;
};

/// Serves every path beginning with `prefix` (compared ignoring ASCII
/// case) by `provider`; a later registration of the same prefix replaces
/// it, a longer prefix wins over a shorter one. Any thread.
void RegisterDeviceProvider(const std::string& prefix, std::shared_ptr<DeviceProvider> provider);
/// Withdraws the provider of `prefix`; files already open stay open. Any
/// thread.
void UnregisterDeviceProvider(const std::string& prefix);

/// Records `driverFileName` ("Vantrex.sys") in the list of loaded
/// user-mode drivers. Any thread.
void RegisterUserModeDriver(const std::string& driverFileName);
/// Loads the user-mode driver libraries once per process (later calls do
/// nothing): MARQUEN_USER_DRIVERS (':'-separated paths or names; empty for
/// none), or by default every library of the built-in list found beside
/// this library or on the loader's path; for each it calls its entry point
/// ("DriverEntry": DWORD(void), 0 on success). A library that is
/// missing or fails is skipped (a diagnostic trace says why). Any thread.
void LoadUserModeDrivers();
/// File names of the user-mode drivers that registered themselves (after
/// loading them). Any thread.
std::vector<std::string> LoadedUserModeDrivers();

}  // namespace marquen::kernel

/// Opens a served device file (the only kind of file this layer opens by
/// name). INVALID_HANDLE_VALUE with the last error: the provider's error,
/// ERROR_FILE_NOT_FOUND when no provider serves the path. Loads the
/// user-mode drivers first for a path beginning with "\\.\" or "\\?\". Any
/// thread; the handle is closed by CloseHandle.
HANDLE CreateFileA(const char* fileName, DWORD desiredAccess, DWORD shareMode, void* securityAttributes,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile);

/// Sends an I/O control request to a served device file. `overlapped` is
/// required: FALSE with ERROR_IO_PENDING while it runs, TRUE with
/// *bytesReturned when it completed at once, FALSE with its status as the
/// last error when it failed at once. ERROR_INVALID_HANDLE for any other
/// kind of handle. Any thread; no time-out of its own (wait with
/// GetOverlappedResultEx and cancel with CancelIo).
BOOL DeviceIoControl(HANDLE device, DWORD controlCode, const void* inBuffer, DWORD inBufferSize, void* outBuffer,
                     DWORD outBufferSize, DWORD* bytesReturned, OVERLAPPED* overlapped);
