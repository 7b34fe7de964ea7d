#pragma once
// Device-change notifications for message windows. A window registers a
// filter (device interfaces of one class); whoever learns of a device arrival
// or removal (the USB layer) broadcasts it, and every window whose filter
// matches receives WM_DEVICECHANGE, posted to its own thread, with wParam the
// event and lParam a copy of the record.
#include "window/message_window.h"
#include "win_types.h"

#include <cstdint>

namespace marquen::window {

using HDEVNOTIFY = void*;

/// A class identifier, laid out as the component layer's GUID (16 bytes:
/// Data1..Data4), so either converts to the other field by field.
struct DeviceClassGuid {
    uint32_t Data1 = 0;
    uint16_t Data2 = 0;
    uint16_t Data3 = 0;
    uint8_t Data4[8] = {};
};
static_assert(sizeof(DeviceClassGuid) == 16);

inline bool operator==(const DeviceClassGuid& a, const DeviceClassGuid& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i) {
        if (a.Data4[i] != b.Data4[i]) return false;
    }
    return true;
}

/// Copies any GUID-like struct (Data1..Data4) into a DeviceClassGuid.
template <class Guid>
DeviceClassGuid ToDeviceClassGuid(const Guid& guid) {
    DeviceClassGuid copy;
    copy.Data1 = guid.Data1;
    copy.Data2 = guid.Data2;
    copy.Data3 = guid.Data3;
    for (int i = 0; i < 8; ++i) copy.Data4[i] = guid.Data4[i];
    return copy;
}

constexpr WPARAM DBT_DEVICEARRIVAL = 0x8000;
constexpr WPARAM DBT_DEVICEREMOVECOMPLETE = 0x8004;
constexpr DWORD DBT_DEVTYP_DEVICEINTERFACE = 5;
constexpr DWORD DEVICE_NOTIFY_WINDOW_HANDLE = 0;
constexpr DWORD DEVICE_NOTIFY_ALL_INTERFACE_CLASSES = 4;
/// Largest record a broadcast copies.
constexpr DWORD DEVICE_BROADCAST_MAX_SIZE = 4096;

struct DEV_BROADCAST_HDR {
    DWORD dbch_size;
    DWORD dbch_devicetype;
    DWORD dbch_reserved;
};

/// Filter and record for device interfaces: 32 bytes, as the platform's
/// narrow form; the device's name (a path) follows in place of dbcc_name.
struct DEV_BROADCAST_DEVICEINTERFACE {
    DWORD dbcc_size;
    DWORD dbcc_devicetype;
    DWORD dbcc_reserved;
    DeviceClassGuid dbcc_classguid;
    char dbcc_name[1];
};
static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE) == 32);

/// Registers `window` for notifications matching `filter` (a
/// DEV_BROADCAST_DEVICEINTERFACE; with DEVICE_NOTIFY_ALL_INTERFACE_CLASSES its
/// class is ignored). Null with ERROR_INVALID_WINDOW_HANDLE or
/// ERROR_INVALID_PARAMETER. Any thread.
HDEVNOTIFY RegisterDeviceNotification(HWND window, const void* filter, DWORD flags);
/// Ends a registration. False with ERROR_INVALID_HANDLE if unknown.
bool UnregisterDeviceNotification(HDEVNOTIFY registration);
/// Posts WM_DEVICECHANGE(event, copy of `record`) to every registered window
/// whose filter matches the record (all registered windows for a null
/// record, then with lParam 0). Records larger than
/// DEVICE_BROADCAST_MAX_SIZE or smaller than their header are refused.
/// Returns how many windows it was posted to. Any thread.
unsigned BroadcastDeviceChange(WPARAM event, const DEV_BROADCAST_HDR* record);

}  // namespace marquen::window
