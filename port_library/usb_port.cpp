// The USB kind of the port library over the USB transport.
#include "usb_port.h"

#include "diagnostics/diagnostics.h"
#include "fundaport.h"
#include "kernel/last_error.h"
#include "kernel/sync.h"
#include "tramline.h"

#include <dlfcn.h>

#include <memory>
#include <mutex>
#include <string>

namespace fundaport {
namespace {

using GetNewUsbInfoFunction = CCommInfo* (*)(HWND, int);

// The folder this library was loaded from: the program folder, where the
// transport is installed beside it.
std::string OwnFolder() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&UsbSetup), &info) == 0 || info.dli_fname == nullptr)
        return {};
    std::string path = info.dli_fname;
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Loads the transport once; the library stays loaded (objects it made may
// outlive any caller's interest in it). Null with the last error.
GetNewUsbInfoFunction LoadTransport() {
    static std::mutex lock;
    static GetNewUsbInfoFunction function = nullptr;
    std::lock_guard guard(lock);
    if (function != nullptr)
        return function;
    std::string besideUs = OwnFolder() + TRAMLINE_LIBRARY_NAME;
    void* library = ::dlopen(besideUs.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (library == nullptr)
        library = ::dlopen(TRAMLINE_LIBRARY_NAME, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (library == nullptr) {
        const char* why = ::dlerror();
        marquen::diagnostics::Report(marquen::diagnostics::Level::kError,
                                     std::string("port library: cannot load the USB transport: ") +
                                         (why != nullptr ? why : TRAMLINE_LIBRARY_NAME));
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    function = reinterpret_cast<GetNewUsbInfoFunction>(::dlsym(library, TRAMLINE_GET_NEW_USB_INFO_SYMBOL));
    if (function == nullptr)
        SetLastError(ERROR_PROC_NOT_FOUND);
    return function;
}

struct UsbState {
    std::mutex lock;
    // All GUARDED_BY(lock).
    HWND window = nullptr;
    std::unique_ptr<CCommInfo> info;
    bool connected = false;
    int device = -1;
    int useInterruptOut = -1;
};

UsbState& Usb() {
    static UsbState* state = new UsbState;  // lives as long as the port state
    return *state;
}

// Lock held. Cancels the pipes' transfers and lets the transport go.
void BreakDownLocked(UsbState& state) {
    if (!state.info)
        return;
    if (state.info->m_hWrite != nullptr)
        CancelIo(state.info->m_hWrite);
    if (state.info->m_hRead != nullptr)
        CancelIo(state.info->m_hRead);
    if (state.info->m_hStatus != nullptr)
        CancelIo(state.info->m_hStatus);
    state.info->Disconnect();
    state.info->Reset();
    state.info.reset();
    state.connected = false;
}

}  // namespace

void UsbSetup(HWND window) {
    UsbState& state = Usb();
    std::lock_guard guard(state.lock);
    state.window = window;
}

unsigned UsbConnectionVerdict(int option, int device, int useInterruptOut) {
    if (option != FUNDAPORT_OPTION_OVERLAPPED)
        return FUNDAPORT_CONNECTION_REFUSED;
    UsbState& state = Usb();
    std::lock_guard guard(state.lock);
    if (!state.info || !state.connected || state.info->m_hWrite == nullptr)
        return FUNDAPORT_CONNECTION_REBUILD;
    // The transfer size index 8 (4096 bytes) is the transport's own default.
    return state.info->NeedsReconnect(8, device, useInterruptOut, 0, 0, 0, 0) == 0
               ? FUNDAPORT_CONNECTION_UNCHANGED
               : FUNDAPORT_CONNECTION_REBUILD;
}

int UsbConnect(int /*reopen*/, int device, int useInterruptOut, int& hasInterruptIn, int& hasInterruptOut) {
    GetNewUsbInfoFunction create = LoadTransport();
    if (create == nullptr)
        return 0;
    UsbState& state = Usb();
    std::lock_guard guard(state.lock);
    // The transport reopens its own pipes when it had a connection; a
    // connection broken down has no object left to reopen.
    const int reopen = state.info && state.connected ? 1 : 0;
    if (!state.info) {
        state.info.reset(create(state.window, 1));
        if (!state.info)
            return 0;
    }
    int use = useInterruptOut;
    int result = state.info->Connect(reopen, device, &use, &hasInterruptIn, &hasInterruptOut, 0, 0);
    if (result == 0) {
        const DWORD error = GetLastError();
        BreakDownLocked(state);
        SetLastError(error);
        return 0;
    }
    state.connected = true;
    state.device = device;
    state.useInterruptOut = use;
    return 1;
}

bool UsbIsAvailable() {
    UsbState& state = Usb();
    std::lock_guard guard(state.lock);
    return state.info && state.connected && state.info->m_hWrite != nullptr && state.info->m_hRead != nullptr;
}

bool UsbIsDevicePresent() {
    UsbState& state = Usb();
    std::lock_guard guard(state.lock);
    return state.info && state.connected && state.info->m_hRead != nullptr && state.info->IsConfigured() == 1;
}

HANDLE UsbWriteHandle() {
    UsbState& state = Usb();
    std::lock_guard guard(state.lock);
    return state.info ? state.info->m_hWrite : nullptr;
}

HANDLE UsbReadHandle() {
    UsbState& state = Usb();
    std::lock_guard guard(state.lock);
    return state.info ? state.info->m_hRead : nullptr;
}

BOOL UsbWrite(HANDLE handle, const void* buffer, DWORD length, DWORD* written, OVERLAPPED* overlapped) {
    UsbState& state = Usb();
    std::lock_guard guard(state.lock);
    if (!state.info) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return state.info->WriteData(handle, buffer, length, written, overlapped);
}

BOOL UsbRead(HANDLE handle, void* buffer, DWORD length, DWORD* read, OVERLAPPED* overlapped) {
    UsbState& state = Usb();
    std::lock_guard guard(state.lock);
    if (!state.info) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return state.info->ReadData(handle, buffer, length, read, overlapped);
}

bool UsbBreakDown() {
    UsbState& state = Usb();
    std::lock_guard guard(state.lock);
    const bool had = state.info != nullptr;
    BreakDownLocked(state);
    return had;
}

}  // namespace fundaport
