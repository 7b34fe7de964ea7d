// Device setup, device-interface part: sets are snapshots of the interface
// paths that the registered listers gave when the set was made.
#include "devices/device_interfaces.h"
#include "devices/device_setup.h"

#include "kernel/last_error.h"
#include "kernel/served_device.h"

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace marquen::devices {
namespace {

struct ClassLister {
    GUID classGuid;
    DeviceInterfaceLister lister;
};

struct InterfaceSet {
    GUID classGuid;
    std::vector<std::string> paths;
};

struct Registry {
    std::mutex lock;
    std::vector<ClassLister> listers;                       // GUARDED_BY(lock)
    std::map<uintptr_t, std::unique_ptr<InterfaceSet>> sets;  // GUARDED_BY(lock)
    uintptr_t nextSet = 1;                                  // GUARDED_BY(lock); never reused
};
Registry& Sets() {
    static Registry registry;
    return registry;
}

HDEVINFO InvalidSet() { return reinterpret_cast<HDEVINFO>(~uintptr_t{0}); }

}  // namespace

void RegisterDeviceInterfaceClass(const GUID& classGuid, DeviceInterfaceLister lister) {
    auto& registry = Sets();
    std::lock_guard lock(registry.lock);
    auto& listers = registry.listers;
    for (auto it = listers.begin(); it != listers.end(); ++it) {
        if (it->classGuid == classGuid) {
            listers.erase(it);
            break;
        }
    }
    if (lister) {
        listers.push_back({classGuid, std::move(lister)});
    }
}

}  // namespace marquen::devices

using namespace marquen::devices;

extern "C" HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, const char* /*enumerator*/, HWND /*parent*/,
                                         DWORD flags) {
    if ((flags & DIGCF_ALLCLASSES) != 0) {
        return marquen::devices::CreateDeviceInstanceSet();  // the device instances (device_setup.cpp)
    }
    if (classGuid == nullptr || (flags & DIGCF_DEVICEINTERFACE) == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return InvalidSet();
    }
    marquen::kernel::LoadUserModeDrivers();
    DeviceInterfaceLister lister;
    {
        auto& registry = Sets();
        std::lock_guard lock(registry.lock);
        for (const auto& entry : registry.listers) {
            if (entry.classGuid == *classGuid) {
                lister = entry.lister;
            }
        }
    }
    auto set = std::make_unique<InterfaceSet>();
    set->classGuid = *classGuid;
    if (lister) {
        set->paths = lister();  // outside the lock: a lister may be slow (it asks the bus)
    }
    auto& registry = Sets();
    std::lock_guard lock(registry.lock);
    uintptr_t id = registry.nextSet++;
    registry.sets.emplace(id, std::move(set));
    SetLastError(ERROR_SUCCESS);
    return reinterpret_cast<HDEVINFO>(id);
}

extern "C" BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, SP_DEVINFO_DATA* /*deviceInfoData*/,
                                            const GUID* interfaceClassGuid, DWORD memberIndex,
                                            SP_DEVICE_INTERFACE_DATA* data) {
    if (interfaceClassGuid == nullptr || data == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    auto& registry = Sets();
    std::lock_guard lock(registry.lock);
    auto found = registry.sets.find(reinterpret_cast<uintptr_t>(set));
    if (found == registry.sets.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const InterfaceSet& interfaces = *found->second;
    if (!(interfaces.classGuid == *interfaceClassGuid) || memberIndex >= interfaces.paths.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    data->InterfaceClassGuid = interfaces.classGuid;
    data->Flags = SPINT_ACTIVE;
    data->Reserved = memberIndex;  // which path of the set the detail call gives
    return TRUE;
}

extern "C" BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data,
                                                 SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail, DWORD detailSize,
                                                 DWORD* requiredSize, SP_DEVINFO_DATA* deviceInfoData) {
    if (data == nullptr || (detail == nullptr && detailSize != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto& registry = Sets();
    std::lock_guard lock(registry.lock);
    auto found = registry.sets.find(reinterpret_cast<uintptr_t>(set));
    if (found == registry.sets.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const InterfaceSet& interfaces = *found->second;
    if (data->Reserved >= interfaces.paths.size()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::string& path = interfaces.paths[data->Reserved];
    auto needed = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1);
    if (requiredSize != nullptr) {
        *requiredSize = needed;
    }
    if (deviceInfoData != nullptr && deviceInfoData->cbSize == sizeof(SP_DEVINFO_DATA)) {
        deviceInfoData->ClassGuid = interfaces.classGuid;
        deviceInfoData->DevInst = static_cast<DWORD>(data->Reserved + 1);
    }
    if (detail == nullptr || detailSize < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    std::memcpy(detail->DevicePath, path.c_str(), path.size() + 1);
    return TRUE;
}

extern "C" BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) {
    if (marquen::devices::DestroyDeviceInstanceSet(set)) {
        return TRUE;
    }
    auto& registry = Sets();
    std::lock_guard lock(registry.lock);
    if (registry.sets.erase(reinterpret_cast<uintptr_t>(set)) == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}
