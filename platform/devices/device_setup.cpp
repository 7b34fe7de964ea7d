// Device setup, device-instance part: sets are snapshots of the USB devices
// present when the set was made; the driver lists and selections live in
// the set.
#include "devices/device_setup.h"
#include "devices/usb_bus.h"

#include "diagnostics/diagnostics.h"
#include "kernel/last_error.h"
#include "thread_annotations.h"
#include "usbio.h"

#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace marquen::devices {
namespace {

// Set handles of this part have the top bit set, so they never meet the
// interface sets' numbers (which count up from 1).
constexpr uintptr_t kInstanceSetTag = uintptr_t{1} << (sizeof(uintptr_t) * 8 - 1);

struct InstanceSet {
    std::vector<UsbDeviceInstance> devices;
    std::vector<std::string> drivers;  ///< the compatible-driver list of `driversOf`
    int driversOf = -1;
    int selectedDevice = -1;
    std::string selectedDriver;
};

struct Sets {
    marquen::Mutex lock;
    std::map<uintptr_t, std::unique_ptr<InstanceSet>> sets GUARDED_BY(lock);
    uintptr_t next GUARDED_BY(lock) = 1;
};
Sets& AllSets() {
    static Sets sets;
    return sets;
}

// Runs `body` on the set with the lock held; FALSE with ERROR_INVALID_HANDLE
// for an unknown set.
template <class Body>
BOOL WithSet(HDEVINFO handle, Body body) {
    auto& sets = AllSets();
    std::lock_guard lock(sets.lock);
    auto found = sets.sets.find(reinterpret_cast<uintptr_t>(handle));
    if (found == sets.sets.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return body(*found->second);
}

// The device an SP_DEVINFO_DATA names (DevInst = index + 1); null with the
// last error set.
UsbDeviceInstance* DeviceOf(InstanceSet& set, const SP_DEVINFO_DATA* data) {
    if (data == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (data->cbSize != sizeof(SP_DEVINFO_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return nullptr;
    }
    if (data->DevInst == 0 || data->DevInst > set.devices.size()) {
        SetLastError(ERROR_NO_SUCH_DEVINST);
        return nullptr;
    }
    return &set.devices[data->DevInst - 1];
}

BOOL CopyOut(const std::string& bytes, BYTE* buffer, DWORD size, DWORD* requiredSize) {
    if (requiredSize)
        *requiredSize = static_cast<DWORD>(bytes.size());
    if (buffer == nullptr || size < bytes.size()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(buffer, bytes.data(), bytes.size());
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

bool IsMakerPrinter(const UsbDeviceInstance& device) {
    return device.vendorId == USBIO_VENDOR_ID && device.productId == USBIO_PRODUCT_ID;
}

}  // namespace

HDEVINFO CreateDeviceInstanceSet() {
    auto set = std::make_unique<InstanceSet>();
    set->devices = ListUsbDevices();  // outside the lock: it asks the bus
    auto& sets = AllSets();
    std::lock_guard lock(sets.lock);
    uintptr_t id = kInstanceSetTag | sets.next++;
    sets.sets.emplace(id, std::move(set));
    SetLastError(ERROR_SUCCESS);
    return reinterpret_cast<HDEVINFO>(id);
}

bool DestroyDeviceInstanceSet(HDEVINFO set) {
    auto& sets = AllSets();
    std::lock_guard lock(sets.lock);
    return sets.sets.erase(reinterpret_cast<uintptr_t>(set)) != 0;
}

}  // namespace marquen::devices

using namespace marquen;
using namespace marquen::devices;

extern "C" BOOL SetupDiEnumDeviceInfo(HDEVINFO handle, DWORD memberIndex, SP_DEVINFO_DATA* data) {
    if (data == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (data->cbSize != sizeof(SP_DEVINFO_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    return WithSet(handle, [&](InstanceSet& set) -> BOOL {
        if (memberIndex >= set.devices.size()) {
            SetLastError(ERROR_NO_MORE_ITEMS);
            return FALSE;
        }
        data->ClassGuid = GUID{};
        data->DevInst = memberIndex + 1;
        data->Reserved = 0;
        return TRUE;
    });
}

extern "C" BOOL SetupDiGetDeviceInstanceIdA(HDEVINFO handle, SP_DEVINFO_DATA* data, char* instanceId,
                                            DWORD instanceIdSize, DWORD* requiredSize) {
    return WithSet(handle, [&](InstanceSet& set) -> BOOL {
        const UsbDeviceInstance* device = DeviceOf(set, data);
        if (!device)
            return FALSE;
        const std::string& id = device->instanceId;
        if (requiredSize)
            *requiredSize = static_cast<DWORD>(id.size() + 1);
        if (instanceId == nullptr || instanceIdSize < id.size() + 1) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        std::memcpy(instanceId, id.c_str(), id.size() + 1);
        return TRUE;
    });
}

extern "C" BOOL SetupDiGetDeviceRegistryPropertyA(HDEVINFO handle, SP_DEVINFO_DATA* data, DWORD property,
                                                  DWORD* propertyRegDataType, BYTE* buffer, DWORD bufferSize,
                                                  DWORD* requiredSize) {
    return WithSet(handle, [&](InstanceSet& set) -> BOOL {
        const UsbDeviceInstance* device = DeviceOf(set, data);
        if (!device)
            return FALSE;
        std::string bytes;
        if (property == SPDRP_DEVICEDESC) {
            if (!device->description) {
                SetLastError(ERROR_INVALID_DATA);
                return FALSE;
            }
            bytes = *device->description;
            bytes.push_back('\0');
            if (propertyRegDataType)
                *propertyRegDataType = REG_SZ;
        } else if (property == SPDRP_HARDWAREID) {
            for (const std::string& id : device->hardwareIds) {
                bytes += id;
                bytes.push_back('\0');
            }
            bytes.push_back('\0');
            if (propertyRegDataType)
                *propertyRegDataType = REG_MULTI_SZ;
        } else {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        return CopyOut(bytes, buffer, bufferSize, requiredSize);
    });
}

extern "C" BOOL SetupDiSetSelectedDevice(HDEVINFO handle, SP_DEVINFO_DATA* data) {
    return WithSet(handle, [&](InstanceSet& set) -> BOOL {
        if (!DeviceOf(set, data))
            return FALSE;
        set.selectedDevice = static_cast<int>(data->DevInst - 1);
        set.selectedDriver.clear();
        return TRUE;
    });
}

extern "C" BOOL SetupDiBuildDriverInfoList(HDEVINFO handle, SP_DEVINFO_DATA* data, DWORD driverType) {
    if (driverType != SPDIT_COMPATDRIVER && driverType != SPDIT_CLASSDRIVER) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return WithSet(handle, [&](InstanceSet& set) -> BOOL {
        const UsbDeviceInstance* device = DeviceOf(set, data);
        if (!device)
            return FALSE;
        set.drivers.clear();
        if (IsMakerPrinter(*device))
            set.drivers.push_back(kMakerDriverDescription);
        if (device->printerClass)
            set.drivers.push_back(kKernelPrinterDriverDescription);
        if (set.drivers.empty() && device->description)
            set.drivers.push_back(*device->description);
        set.driversOf = static_cast<int>(data->DevInst - 1);
        return TRUE;
    });
}

extern "C" BOOL SetupDiEnumDriverInfoA(HDEVINFO handle, SP_DEVINFO_DATA* data, DWORD driverType,
                                       DWORD memberIndex, SP_DRVINFO_DATA_A* info) {
    if (info == nullptr || info->cbSize != sizeof(SP_DRVINFO_DATA_A)) {
        SetLastError(info ? ERROR_INVALID_USER_BUFFER : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return WithSet(handle, [&](InstanceSet& set) -> BOOL {
        if (!DeviceOf(set, data))
            return FALSE;
        if (set.driversOf != static_cast<int>(data->DevInst - 1) || memberIndex >= set.drivers.size()) {
            SetLastError(ERROR_NO_MORE_ITEMS);
            return FALSE;
        }
        const std::string& description = set.drivers[memberIndex];
        info->DriverType = driverType;
        info->Reserved = memberIndex;
        std::snprintf(info->Description, LINE_LEN, "%s", description.c_str());
        std::snprintf(info->MfgName, LINE_LEN, "%s",
                      description == kMakerDriverDescription ? "Vantrex" : "Linux");
        std::snprintf(info->ProviderName, LINE_LEN, "%s", info->MfgName);
        return TRUE;
    });
}

extern "C" BOOL SetupDiSetSelectedDriverA(HDEVINFO handle, SP_DEVINFO_DATA* data, SP_DRVINFO_DATA_A* info) {
    if (info == nullptr || info->cbSize != sizeof(SP_DRVINFO_DATA_A)) {
        SetLastError(info ? ERROR_INVALID_USER_BUFFER : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return WithSet(handle, [&](InstanceSet& set) -> BOOL {
        if (!DeviceOf(set, data))
            return FALSE;
        if (set.driversOf != static_cast<int>(data->DevInst - 1) || info->Reserved >= set.drivers.size()) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        set.selectedDriver = set.drivers[info->Reserved];
        return TRUE;
    });
}

extern "C" BOOL SetupDiDestroyDriverInfoList(HDEVINFO handle, SP_DEVINFO_DATA* /*data*/, DWORD /*driverType*/) {
    return WithSet(handle, [&](InstanceSet& set) -> BOOL {
        set.drivers.clear();
        set.driversOf = -1;
        return TRUE;
    });
}

extern "C" BOOL InstallSelectedDriver(HWND /*parent*/, HDEVINFO handle, const char* /*reserved*/, BOOL /*backup*/,
                                      DWORD* reboot) {
    if (reboot)
        *reboot = 0;
    UsbDeviceInstance device;
    std::string driver;
    BOOL known = WithSet(handle, [&](InstanceSet& set) -> BOOL {
        if (set.selectedDevice < 0) {
            SetLastError(ERROR_NO_DEVICE_SELECTED);
            return FALSE;
        }
        if (set.selectedDriver.empty()) {
            SetLastError(ERROR_NO_DRIVER_SELECTED);
            return FALSE;
        }
        device = set.devices[static_cast<size_t>(set.selectedDevice)];
        driver = set.selectedDriver;
        return TRUE;
    });
    if (!known)
        return FALSE;
    // Outside the set's lock: the bus may take its time.
    const bool maker = driver == kMakerDriverDescription;
    DWORD error = SetKernelDriverAttached(device, !maker);
    if (error != ERROR_SUCCESS) {
        diagnostics::Report(diagnostics::Level::kInfo, "USB device " + device.instanceId + ": binding it to \"" +
                                                           driver + "\" failed (error " + std::to_string(error) +
                                                           ")");
        SetLastError(error);
        return FALSE;
    }
    if (IsMakerPrinter(device))
        SetMakerDriverInstalled(maker);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}
