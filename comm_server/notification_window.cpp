// The object's hidden window: its creation and destruction, the
// process-wide device notification registration, and device-change handling.
#include "communication.h"

#include "usb_driver_class.h"
#include "usb_search.h"

#include "devices/usb_hotplug.h"
#include "diagnostics/diagnostics.h"

#include <chrono>
#include <string>

namespace quorlink {

using marquen::window::DEV_BROADCAST_DEVICEINTERFACE;
using marquen::window::HDEVNOTIFY;

namespace {

/// How long a USB arrival keeps looking for the printer before reopening.
constexpr auto kArrivalSearchLimit = std::chrono::seconds(30);
constexpr DWORD kArrivalSearchPause = 1000;

// The process-wide notification registration: made by the first object,
// withdrawn when that object goes. The handle keeps its value afterwards, so
// later objects of the process do not register again.
marquen::Mutex g_notificationLock;
HDEVNOTIFY g_notification GUARDED_BY(g_notificationLock) = nullptr;
const void* g_notificationOwner GUARDED_BY(g_notificationLock) = nullptr;

}  // namespace

HRESULT CCommunication::CreateHiddenWindow() {
    // The procedure runs on this thread only, called from the client's
    // message pump, so nothing may be thrown out of it: a message whose
    // handling fails is dropped. The handlers raise events, and a sink may
    // release the object's last reference from inside one: the object is
    // kept for the whole message. An object already on its way out gets
    // nothing.
    auto procedure = [this](HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept -> LRESULT {
        if (!m_inner.TryAddRef())
            return marquen::window::DefWindowProc(window, message, wParam, lParam);
        LRESULT result = 0;
        try {
            result = HandleMessage(message, wParam, lParam);
        } catch (...) {
        }
        m_inner.Release();
        return result;
    };
    m_window = marquen::window::CreateMessageWindow(procedure, kQuorlinkWindowTitle);
    if (!m_window) {
        DWORD error = GetLastError();
        return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
    }

    std::lock_guard guard(g_notificationLock);
    if (!g_notification) {
        DEV_BROADCAST_DEVICEINTERFACE filter{};
        filter.dbcc_size = sizeof filter;
        filter.dbcc_devicetype = marquen::window::DBT_DEVTYP_DEVICEINTERFACE;
        filter.dbcc_classguid = GUID_CLASS_VANTREX_USB_DRIVER;
        g_notification = marquen::window::RegisterDeviceNotification(m_window, &filter,
                                                                      marquen::window::DEVICE_NOTIFY_WINDOW_HANDLE);
        if (g_notification) {
            g_notificationOwner = this;
            // Arrivals and removals come from the USB bus; without hot-plug
            // support the port is not reopened by itself.
            if (!marquen::devices::WatchUsbDevices())
                marquen::diagnostics::Report(marquen::diagnostics::Level::kInfo,
                                             "USB hot-plug is not available: a printer plugged in again is not "
                                             "reopened by itself");
        } else
            marquen::diagnostics::Report(marquen::diagnostics::Level::kDebug,
                                         "RegisterDeviceNotification : Last error : " +
                                             std::to_string(GetLastError()));
    }
    return S_OK;
}

void CCommunication::DestroyHiddenWindow() {
    if (!m_window)
        return;
    {
        std::lock_guard guard(g_notificationLock);
        if (g_notificationOwner == this) {
            marquen::window::UnregisterDeviceNotification(g_notification);
            g_notificationOwner = nullptr;
        }
    }
    // The procedure is never called again once this returns.
    marquen::window::DestroyWindow(m_window);
    m_window = nullptr;
}

void CCommunication::OnDeviceChange(WPARAM event, LPARAM /*record*/) {
    std::wstring name;
    {
        std::lock_guard api(m_apiLock);
        name = m_portName;
    }
    // Only a USB port is closed and reopened for the printer's removal and
    // arrival; serial and parallel ports do not notice.
    if (!PortNameIsUsb(name))
        return;
    const auto portWait = std::chrono::milliseconds(m_link->EndWait());
    if (event == marquen::window::DBT_DEVICEARRIVAL) {
        // The driver needs a moment before the printer can be found; this
        // blocks the window's thread (and so event delivery) while it looks.
        const auto start = std::chrono::steady_clock::now();
        while (!SearchUsbPrinter().found && std::chrono::steady_clock::now() - start < kArrivalSearchLimit)
            Sleep(kArrivalSearchPause);
        if (m_portLock.try_lock_for(portWait)) {
            marquen::AdoptedLock port(m_portLock);
            Bstr portName(name.c_str());
            LONG rc = 0;
            OpenPort(portName.Get(), &rc);
        }
    } else if (event == marquen::window::DBT_DEVICEREMOVECOMPLETE) {
        if (m_portLock.try_lock_for(portWait)) {
            marquen::AdoptedLock port(m_portLock);
            ClosePort();
        }
    }
}

}  // namespace quorlink
