#include "window/device_notify.h"

#include "kernel/last_error.h"
#include "window/window_internal.h"

#include <cstddef>
#include <cstring>
#include <map>

namespace marquen::window {
namespace {

struct Registration {
    HWND window;
    bool allClasses;
    DeviceClassGuid classGuid;
};

struct RegistrationTable {
    Mutex lock;
    uintptr_t nextId GUARDED_BY(lock) = 1;
    std::map<uintptr_t, Registration> registrations GUARDED_BY(lock);
};

RegistrationTable& Table() {
    static RegistrationTable* table = new RegistrationTable;  // never destroyed, like the window table
    return *table;
}

constexpr size_t kHeaderAndClass = offsetof(DEV_BROADCAST_DEVICEINTERFACE, dbcc_name);

}  // namespace

HDEVNOTIFY RegisterDeviceNotification(HWND window, const void* filter, DWORD flags) {
    if (!IsWindow(window)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    if (filter == nullptr || (flags & ~DEVICE_NOTIFY_ALL_INTERFACE_CLASSES) != DEVICE_NOTIFY_WINDOW_HANDLE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    DEV_BROADCAST_HDR header;
    std::memcpy(&header, filter, sizeof header);
    if (header.dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE || header.dbch_size < kHeaderAndClass) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    Registration registration{window, (flags & DEVICE_NOTIFY_ALL_INTERFACE_CLASSES) != 0, {}};
    std::memcpy(&registration.classGuid,
                static_cast<const uint8_t*>(filter) + offsetof(DEV_BROADCAST_DEVICEINTERFACE, dbcc_classguid),
                sizeof registration.classGuid);
    RegistrationTable& table = Table();
    std::lock_guard guard(table.lock);
    uintptr_t id = table.nextId++;
    table.registrations.emplace(id, registration);
    return reinterpret_cast<HDEVNOTIFY>(id << 2);
}

bool UnregisterDeviceNotification(HDEVNOTIFY registration) {
    RegistrationTable& table = Table();
    std::lock_guard guard(table.lock);
    if (table.registrations.erase(reinterpret_cast<uintptr_t>(registration) >> 2) == 0 ||
        (reinterpret_cast<uintptr_t>(registration) & 3) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    return true;
}

unsigned BroadcastDeviceChange(WPARAM event, const DEV_BROADCAST_HDR* record) {
    std::vector<uint8_t> copy;
    DeviceClassGuid classGuid;
    bool isInterface = false;
    if (record != nullptr) {
        if (record->dbch_size < sizeof(DEV_BROADCAST_HDR) || record->dbch_size > DEVICE_BROADCAST_MAX_SIZE) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        const auto* bytes = reinterpret_cast<const uint8_t*>(record);
        copy.assign(bytes, bytes + record->dbch_size);
        isInterface = record->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE && record->dbch_size >= kHeaderAndClass;
        if (isInterface) {
            std::memcpy(&classGuid, bytes + offsetof(DEV_BROADCAST_DEVICEINTERFACE, dbcc_classguid),
                        sizeof classGuid);
        }
    }
    std::vector<HWND> targets;
    {
        RegistrationTable& table = Table();
        std::lock_guard guard(table.lock);
        for (auto& [id, registration] : table.registrations) {
            bool matches = record == nullptr ||
                           (isInterface && (registration.allClasses || registration.classGuid == classGuid));
            if (matches) targets.push_back(registration.window);
        }
    }
    unsigned posted = 0;
    for (HWND window : targets) {
        bool ok = record == nullptr ? PostMessage(window, WM_DEVICECHANGE, event, 0)
                                    : PostMessageWithPayload(window, WM_DEVICECHANGE, event,
                                                             std::make_shared<std::vector<uint8_t>>(copy));
        if (ok) ++posted;  // windows destroyed meanwhile are skipped
    }
    return posted;
}

}  // namespace marquen::window
