// The Comm_ entry points over one process-wide port.
//
// Every entry point is a guard (entry_guard.h) around its body: whatever the
// body throws ends there as the entry point's failure value and last error.
//
// Locking: g_state.lock guards the state below. It is never held while a
// device handle is closed (closing joins the device's worker) nor during a
// read or write, so the receive thread's reads never wait for the set-up
// calls of another thread.
#include "fundaport.h"

#include "devices/port_lock.h"
#include "diagnostics/diagnostics.h"
#include "entry_guard.h"
#include "kernel/sync.h"
#include "parallel_port.h"
#include "serial_port.h"
#include "thread_annotations.h"
#include "usb_port.h"

#include <mutex>
#include <string>

namespace {

struct PortState {
    marquen::Mutex lock;
    bool opened GUARDED_BY(lock) = false;
    int kind GUARDED_BY(lock) = -1;
    HWND window GUARDED_BY(lock) = nullptr;
    HANDLE device GUARDED_BY(lock) = nullptr;  // the open port, or null
    bool connected GUARDED_BY(lock) = false;
    int index GUARDED_BY(lock) = -1;
    fundaport::LineSettings line GUARDED_BY(lock);
    bool readable GUARDED_BY(lock) = false;
    // Handed out to callers and so kept, with their events, for the life of
    // the process: a caller may still wait on them after a clean-up.
    OVERLAPPED transmit;
    OVERLAPPED receive;

    PortState() {
        transmit.hEvent = CreateEvent(nullptr, TRUE, FALSE, nullptr);
        receive.hEvent = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    }

    // Takes the open port out of the state; the caller closes it once the
    // lock is released.
    HANDLE TakeDevice() REQUIRES(lock) {
        HANDLE taken = device;
        device = nullptr;
        connected = false;
        index = -1;
        readable = false;
        return taken;
    }
};

PortState& State() {
    static PortState* state = new PortState;  // never destroyed: see transmit/receive
    return *state;
}

void CloseDevice(HANDLE device) {
    if (device != nullptr) {
        // The port is free for the next opener once the handle is closed.
        marquen::devices::UnlockPortNode(DeviceHandleDescriptor(device));
        CloseHandle(device);
    }
}

bool IsLive(HANDLE device) { return device != nullptr && !IsDeviceHungUp(device); }

// Names the port and the system's reason in a diagnostic; the last error
// stays as the open left it.
void ReportOpenFailure(int kind, int index) {
    const DWORD error = GetLastError();
    const int cause = GetLastErrno();
    std::string message = "port library: cannot open " +
                          std::string(kind == FUNDAPORT_KIND_SERIAL ? "COM" : "LPT") + std::to_string(index + 1) + ": ";
    if (cause != 0)
        message += LastErrorText();
    else if (error == ERROR_FILE_NOT_FOUND)
        message += "the port map has no such port";
    else
        message += "system error " + std::to_string(error);
    marquen::diagnostics::Report(marquen::diagnostics::Level::kError, message);
    SetLastErrorWithErrno(error, cause);
}

}  // namespace

// The bodies of the entry points. Each runs inside the guard of its Comm_
// function (at the end of this file), so it may throw.
namespace {

int OpenSetup(HWND hWnd, int nPortKind, int /*nSetupVersion*/) {
    PortState& state = State();
    std::lock_guard guard(state.lock);
    if (state.opened || (nPortKind != FUNDAPORT_KIND_SERIAL && nPortKind != FUNDAPORT_KIND_USB &&
                         nPortKind != FUNDAPORT_KIND_PARALLEL)) {
        SetLastError(state.opened ? ERROR_ALREADY_EXISTS : ERROR_INVALID_PARAMETER);
        return 0;
    }
    state.opened = true;
    state.kind = nPortKind;
    state.window = hWnd;
    if (nPortKind == FUNDAPORT_KIND_USB)
        fundaport::UsbSetup(hWnd);
    return 1;
}

unsigned IsConnectionValid(int nArg1, int nArg2, int nArg3, int nArg4, int nArg5, int nArg6, int nArg7) {
    PortState& state = State();
    std::lock_guard guard(state.lock);
    if (!state.opened) {
        return FUNDAPORT_CONNECTION_REFUSED;
    }
    int index = nArg1;
    fundaport::LineSettings line;
    switch (state.kind) {
    case FUNDAPORT_KIND_SERIAL:
        line = {nArg3, nArg4, nArg5, nArg6, nArg7};
        if (nArg2 != FUNDAPORT_OPTION_OVERLAPPED || index < 0 || !fundaport::IsValid(line)) {
            return FUNDAPORT_CONNECTION_REFUSED;
        }
        break;
    case FUNDAPORT_KIND_PARALLEL:
        if (nArg2 != FUNDAPORT_OPTION_OVERLAPPED || index < 0) {
            return FUNDAPORT_CONNECTION_REFUSED;
        }
        break;
    case FUNDAPORT_KIND_USB:
        // USB: (option, device, use-interrupt-output flag, 0, 0, 0, 0).
        return fundaport::UsbConnectionVerdict(nArg1, nArg2, nArg3);
    default:
        return FUNDAPORT_CONNECTION_REFUSED;
    }
    if (state.device == nullptr || !state.connected) {
        return FUNDAPORT_CONNECTION_SET;
    }
    bool same = index == state.index && (state.kind != FUNDAPORT_KIND_SERIAL || line == state.line);
    return same && IsLive(state.device) ? FUNDAPORT_CONNECTION_UNCHANGED : FUNDAPORT_CONNECTION_REBUILD;
}

int UpdateConnection(int nArg1, int nArg2, int& nArg3, int& nArg4, int& nArg5, int& nArg6, int& nArg7) {
    PortState& state = State();
    int kind;
    HANDLE previous;
    {
        std::lock_guard guard(state.lock);
        if (!state.opened) {
            SetLastError(ERROR_NOT_READY);
            return 0;
        }
        kind = state.kind;
        previous = kind == FUNDAPORT_KIND_USB ? nullptr : state.TakeDevice();
    }
    if (kind == FUNDAPORT_KIND_USB) {
        // USB: (reopen flag, device, use-interrupt-output flag, interrupt-in
        // present, interrupt-out present); the two flags come back.
        return fundaport::UsbConnect(nArg1, nArg2, nArg3, nArg4, nArg5);
    }
    CloseDevice(previous);

    const int index = nArg2;
    const fundaport::LineSettings line{nArg3, nArg4, nArg5, nArg6, nArg7};
    HANDLE device = nullptr;
    bool readable = false;
    if (index < 0 || (kind == FUNDAPORT_KIND_SERIAL && !fundaport::IsValid(line))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    device = kind == FUNDAPORT_KIND_SERIAL ? fundaport::OpenSerialPort(index, line)
                                           : fundaport::OpenParallelPort(index, &readable);
    if (device == nullptr) {
        ReportOpenFailure(kind, index);
        return 0;
    }
    HANDLE stale = nullptr;
    {
        std::lock_guard guard(state.lock);
        if (!state.opened || state.kind != kind) {
            stale = device;  // cleaned up meanwhile by another thread
        } else {
            stale = state.TakeDevice();
            state.device = device;
            state.index = index;
            state.line = line;
            state.readable = readable;
        }
    }
    CloseDevice(stale);
    if (stale == device) {
        SetLastError(ERROR_OPERATION_ABORTED);
        return 0;
    }
    return 1;
}

int IsPortAvailable(void) {
    PortState& state = State();
    std::lock_guard guard(state.lock);
    if (state.kind == FUNDAPORT_KIND_USB)
        return fundaport::UsbIsAvailable() ? 1 : 0;
    return IsLive(state.device) ? 1 : 0;
}

void SetConnect(int bConnect) {
    PortState& state = State();
    HANDLE closing = nullptr;
    {
        std::lock_guard guard(state.lock);
        if (state.kind == FUNDAPORT_KIND_USB) {
            state.connected = bConnect && fundaport::UsbIsAvailable();
            if (!state.connected)
                fundaport::UsbBreakDown();
        } else if (bConnect && state.device != nullptr) {
            state.connected = true;
        } else {
            closing = state.TakeDevice();
        }
    }
    CloseDevice(closing);
}

int IsOpened(void) {
    PortState& state = State();
    std::lock_guard guard(state.lock);
    return state.opened ? 1 : 0;
}

int IsConnected(void) {
    PortState& state = State();
    std::lock_guard guard(state.lock);
    return state.connected ? 1 : 0;
}

int BreakDownCommPort(void) {
    PortState& state = State();
    HANDLE closing;
    {
        std::lock_guard guard(state.lock);
        if (state.kind == FUNDAPORT_KIND_USB) {
            state.connected = false;
            return fundaport::UsbBreakDown() ? 1 : 0;
        }
        closing = state.TakeDevice();
    }
    CloseDevice(closing);
    return closing != nullptr ? 1 : 0;
}

void CloseCleanuo(void) {
    PortState& state = State();
    HANDLE closing;
    {
        std::lock_guard guard(state.lock);
        closing = state.TakeDevice();
        if (state.kind == FUNDAPORT_KIND_USB)
            fundaport::UsbBreakDown();
        state.opened = false;
        state.kind = -1;
        state.window = nullptr;
    }
    CloseDevice(closing);
}

HANDLE GethCommPortTX(void) {
    PortState& state = State();
    std::lock_guard guard(state.lock);
    if (state.kind == FUNDAPORT_KIND_USB)
        return fundaport::UsbWriteHandle();
    return state.device;
}

HANDLE GethCommPortRX(void) {
    PortState& state = State();
    std::lock_guard guard(state.lock);
    if (state.kind == FUNDAPORT_KIND_USB)
        return fundaport::UsbReadHandle();
    return state.device;
}

bool IsUsbKind() {
    PortState& state = State();
    std::lock_guard guard(state.lock);
    return state.kind == FUNDAPORT_KIND_USB;
}

OVERLAPPED* GetOverlappedTX(void) { return &State().transmit; }

OVERLAPPED* GetOverlappedRX(void) { return &State().receive; }

BOOL WritePort(HANDLE hPort, const void* pBuffer, DWORD dwLength, DWORD* pdwWritten, OVERLAPPED* pOverlapped) {
    if (pOverlapped != nullptr && !HasOverlappedIoCompleted(pOverlapped)) {
        CancelIoEx(hPort, pOverlapped);
    }
    if (IsUsbKind())
        return fundaport::UsbWrite(hPort, pBuffer, dwLength, pdwWritten, pOverlapped);
    return WriteFile(hPort, pBuffer, dwLength, pdwWritten, pOverlapped);
}

BOOL ReadPort(HANDLE hPort, void* pBuffer, DWORD dwLength, DWORD* pdwRead, OVERLAPPED* pOverlapped) {
    if (IsUsbKind())
        return fundaport::UsbRead(hPort, pBuffer, dwLength, pdwRead, pOverlapped);
    BOOL done = ReadFile(hPort, pBuffer, dwLength, pdwRead, pOverlapped);
    if (!done && pOverlapped != nullptr && HasOverlappedIoCompleted(pOverlapped)) {
        DWORD error = GetLastError();
        int cause = GetLastErrno();
        if (error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED) {
            // The driver refuses reads (a unidirectional parallel printer).
            PortState& state = State();
            std::lock_guard guard(state.lock);
            if (state.device == hPort) state.readable = false;
            SetLastErrorWithErrno(error, cause);
        }
    }
    return done;
}

int IsDevicePresent(void) {
    // USB asks the printer itself, outside the port lock.
    if (IsUsbKind())
        return fundaport::UsbIsDevicePresent() ? 1 : 0;
    PortState& state = State();
    std::lock_guard guard(state.lock);
    return IsLive(state.device) ? 1 : 0;
}

int IsBidirectional(void) {
    PortState& state = State();
    std::lock_guard guard(state.lock);
    return state.kind == FUNDAPORT_KIND_PARALLEL && state.device != nullptr && state.readable ? 1 : 0;
}

}  // namespace

using fundaport::GuardEntry;

extern "C" {

int Comm_OpenSetup(HWND hWnd, int nPortKind, int nSetupVersion) noexcept {
    return GuardEntry("Comm_OpenSetup", 0, [&] { return OpenSetup(hWnd, nPortKind, nSetupVersion); });
}

unsigned Comm_IsConnectionValid(int nArg1, int nArg2, int nArg3, int nArg4, int nArg5, int nArg6,
                                int nArg7) noexcept {
    return GuardEntry("Comm_IsConnectionValid", FUNDAPORT_CONNECTION_REFUSED,
                      [&] { return IsConnectionValid(nArg1, nArg2, nArg3, nArg4, nArg5, nArg6, nArg7); });
}

int Comm_UpdateConnection(int nArg1, int nArg2, int& nArg3, int& nArg4, int& nArg5, int& nArg6,
                          int& nArg7) noexcept {
    return GuardEntry("Comm_UpdateConnection", 0,
                      [&] { return UpdateConnection(nArg1, nArg2, nArg3, nArg4, nArg5, nArg6, nArg7); });
}

int Comm_IsPortAvailable(void) noexcept {
    return GuardEntry("Comm_IsPortAvailable", 0, [] { return IsPortAvailable(); });
}

void Comm_SetConnect(int bConnect) noexcept {
    GuardEntry("Comm_SetConnect", [&] { SetConnect(bConnect); });
}

int Comm_IsOpened(void) noexcept { return GuardEntry("Comm_IsOpened", 0, [] { return IsOpened(); }); }

int Comm_IsConnected(void) noexcept { return GuardEntry("Comm_IsConnected", 0, [] { return IsConnected(); }); }

int Comm_BreakDownCommPort(void) noexcept {
    return GuardEntry("Comm_BreakDownCommPort", 0, [] { return BreakDownCommPort(); });
}

void Comm_CloseCleanuo(void) noexcept { GuardEntry("Comm_CloseCleanuo", [] { CloseCleanuo(); }); }

HANDLE Comm_GethCommPortTX(void) noexcept {
    return GuardEntry("Comm_GethCommPortTX", HANDLE{nullptr}, [] { return GethCommPortTX(); });
}

HANDLE Comm_GethCommPortRX(void) noexcept {
    return GuardEntry("Comm_GethCommPortRX", HANDLE{nullptr}, [] { return GethCommPortRX(); });
}

OVERLAPPED* Comm_GetOverlappedTX(void) noexcept {
    return GuardEntry("Comm_GetOverlappedTX", static_cast<OVERLAPPED*>(nullptr), [] { return GetOverlappedTX(); });
}

OVERLAPPED* Comm_GetOverlappedRX(void) noexcept {
    return GuardEntry("Comm_GetOverlappedRX", static_cast<OVERLAPPED*>(nullptr), [] { return GetOverlappedRX(); });
}

BOOL Comm_WritePort(HANDLE hPort, const void* pBuffer, DWORD dwLength, DWORD* pdwWritten,
                    OVERLAPPED* pOverlapped) noexcept {
    return GuardEntry("Comm_WritePort", BOOL{FALSE},
                      [&] { return WritePort(hPort, pBuffer, dwLength, pdwWritten, pOverlapped); });
}

BOOL Comm_ReadPort(HANDLE hPort, void* pBuffer, DWORD dwLength, DWORD* pdwRead, OVERLAPPED* pOverlapped) noexcept {
    return GuardEntry("Comm_ReadPort", BOOL{FALSE},
                      [&] { return ReadPort(hPort, pBuffer, dwLength, pdwRead, pOverlapped); });
}

int Comm_IsDevicePresent(void) noexcept {
    return GuardEntry("Comm_IsDevicePresent", 0, [] { return IsDevicePresent(); });
}

int Comm_IsBidirectional(void) noexcept {
    return GuardEntry("Comm_IsBidirectional", 0, [] { return IsBidirectional(); });
}

}  // extern "C"
