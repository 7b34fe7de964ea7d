// The object's hidden window: its class, creation and destruction, the
// process-wide device notification registration, and device-change handling.
#include "communication.h"

#include "usb_driver_class.h"
#include "usb_search.h"

#include "diagnostics/diagnostics.h"

#include <chrono>
#include <string>

namespace quorlink {
namespace {

constexpr const char* kWindowClass = "QuorlinkCommunicationWindow";
/// How long a USB arrival keeps looking for the printer before reopening.
constexpr auto kArrivalSearchLimit = std::chrono::seconds(30);
constexpr DWORD kArrivalSearchPause = 1000;

// The window class is registered while any window of the module exists and
// forgotten with the last: it holds the address of this module's window
// procedure, which must not outlive the module.
std::mutex g_classLock;
int g_windows = 0;  // GUARDED_BY(g_classLock)

// The process-wide notification registration: made by the first object,
// withdrawn when that object goes. The handle keeps its value afterwards, so
// later objects of the process do not register again.
std::mutex g_notificationLock;
HDEVNOTIFY g_notification = nullptr;        // GUARDED_BY(g_notificationLock)
const void* g_notificationOwner = nullptr;  // GUARDED_BY(g_notificationLock)

bool AddWindowClassUser() {
    std::lock_guard guard(g_classLock);
    if (g_windows == 0) {
        WNDCLASS windowClass{};
        windowClass.lpfnWndProc = CCommunication::WindowProcedure;
        windowClass.lpszClassName = kWindowClass;
        if (!RegisterClass(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
            return false;
    }
    ++g_windows;
    return true;
}

void RemoveWindowClassUser() {
    std::lock_guard guard(g_classLock);
    if (--g_windows == 0)
        UnregisterClass(kWindowClass, nullptr);
}

}  // namespace

HRESULT CCommunication::CreateHiddenWindow() {
    if (!AddWindowClassUser()) {
        DWORD error = GetLastError();
        return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
    }
    m_window = CreateWindowEx(0, kWindowClass, kQuorlinkWindowTitle, WS_POPUP, 0, 0, 100, 100, nullptr, nullptr,
                              nullptr, this);
    if (!m_window) {
        DWORD error = GetLastError();
        RemoveWindowClassUser();
        return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
    }
    InitializeCriticalSection(&m_portLock);
    m_portLockReady = true;

    std::lock_guard guard(g_notificationLock);
    if (!g_notification) {
        DEV_BROADCAST_DEVICEINTERFACE filter{};
        filter.dbcc_size = sizeof filter;
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        filter.dbcc_classguid = GUID_CLASS_VANTREX_USB_DRIVER;
        g_notification = RegisterDeviceNotification(m_window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
        if (g_notification)
            g_notificationOwner = this;
        else
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
            UnregisterDeviceNotification(g_notification);
            g_notificationOwner = nullptr;
        }
    }
    // The procedure finds no object from here on.
    SetWindowLongPtr(m_window, GWLP_USERDATA, 0);
    DestroyWindow(m_window);
    m_window = nullptr;
    if (m_portLockReady) {
        DeleteCriticalSection(&m_portLock);
        m_portLockReady = false;
    }
    RemoveWindowClassUser();
}

LRESULT CCommunication::WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CREATE) {
        auto* create = reinterpret_cast<CREATESTRUCT*>(lParam);
        SetWindowLongPtr(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        return 0;
    }
    auto* object = reinterpret_cast<CCommunication*>(GetWindowLongPtr(window, GWLP_USERDATA));
    // The handlers raise events, and a sink may release the object's last
    // reference from inside one: the object is kept for the whole message.
    // An object already on its way out gets nothing.
    if (!object || !object->m_inner.TryAddRef())
        return DefWindowProc(window, message, wParam, lParam);
    LRESULT result = object->HandleMessage(message, wParam, lParam);
    object->m_inner.Release();
    return result;
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
    if (event == DBT_DEVICEARRIVAL) {
        // The driver needs a moment before the printer can be found; this
        // blocks the window's thread (and so event delivery) while it looks.
        const auto start = std::chrono::steady_clock::now();
        while (!SearchUsbPrinter().found && std::chrono::steady_clock::now() - start < kArrivalSearchLimit)
            Sleep(kArrivalSearchPause);
        if (EnterCriticalSectionTimeout(&m_portLock, m_link->EndWait())) {
            Bstr port(name.c_str());
            LONG rc = 0;
            OpenPort(port.Get(), &rc);
            LeaveCriticalSection(&m_portLock);
        }
    } else if (event == DBT_DEVICEREMOVECOMPLETE) {
        if (EnterCriticalSectionTimeout(&m_portLock, m_link->EndWait())) {
            ClosePort();
            LeaveCriticalSection(&m_portLock);
        }
    }
}

}  // namespace quorlink
