// The driver's entry point: libusb, its event thread, the hot-plug watch
// and the registrations with the platform layer. The driver lives until the
// process ends: its state is never freed, so no destructor of a static can
// stop the event thread while a transfer still runs.
#include "devices/device_interfaces.h"
#include "kernel/served_device.h"
#include "usbio.h"
#include "usbio_device.h"
#include "usbio_file.h"

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

namespace usbio {
namespace {

struct Driver {
    libusb_context* context = nullptr;
    DeviceTable* table = nullptr;
    std::thread events;
    std::mutex releaseLock;
    std::vector<std::shared_ptr<void>> toRelease;  // GUARDED_BY(releaseLock)
};

Driver* g_driver = nullptr;  // set once, never freed

class ByNumber final : public marquen::kernel::DeviceProvider {
public:
    std::shared_ptr<marquen::kernel::ServedFile> Open(const std::string& path, DWORD* error) override {
        std::string number = path.substr(std::string(USBIO_DEVICE_NAME_PREFIX).size());
        if (number.empty() || number.size() > 4 || number.find_first_not_of("0123456789") != std::string::npos) {
            *error = USBIO_STATUS_DEVICE_NOT_FOUND;
            return nullptr;
        }
        auto device = g_driver->table->OpenByNumber(std::atoi(number.c_str()), error);
        return device ? std::make_shared<UsbioFile>(device) : nullptr;
    }
};

class ByInterfacePath final : public marquen::kernel::DeviceProvider {
public:
    std::shared_ptr<marquen::kernel::ServedFile> Open(const std::string& path, DWORD* error) override {
        auto device = g_driver->table->OpenByPath(path, error);
        return device ? std::make_shared<UsbioFile>(device) : nullptr;
    }
};

int LIBUSB_CALL DeviceLeft(libusb_context*, libusb_device* device, libusb_hotplug_event, void*) {
    g_driver->table->DeviceLeft(device);
    return 0;  // stay registered
}

DWORD Start() {
    auto* driver = new Driver;
    int result = libusb_init(&driver->context);
    if (result != LIBUSB_SUCCESS) {
        delete driver;
        return ERROR_NOT_READY;
    }
    driver->table = new DeviceTable(driver->context);
    g_driver = driver;
    if (libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)) {
        libusb_hotplug_register_callback(driver->context, LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT, LIBUSB_HOTPLUG_NO_FLAGS,
                                         USBIO_VENDOR_ID, USBIO_PRODUCT_ID, LIBUSB_HOTPLUG_MATCH_ANY, DeviceLeft,
                                         nullptr, nullptr);
    }
    driver->events = std::thread([driver] {
        for (;;) {
            // The time-out bounds how late a hot-plug event is seen and how
            // long a closed file's device stays open.
            timeval period{0, 100000};
            libusb_handle_events_timeout_completed(driver->context, &period, nullptr);
            std::vector<std::shared_ptr<void>> released;
            {
                std::lock_guard lock(driver->releaseLock);
                released.swap(driver->toRelease);
            }
            released.clear();  // outside libusb's event handling and every lock
        }
    });
    driver->events.detach();

    marquen::kernel::RegisterDeviceProvider(USBIO_DEVICE_NAME_PREFIX, std::make_shared<ByNumber>());
    marquen::kernel::RegisterDeviceProvider(USBIO_INTERFACE_PATH_PREFIX, std::make_shared<ByInterfacePath>());
    GUID interfaceClass{USBIO_INTERFACE_CLASS.Data1, USBIO_INTERFACE_CLASS.Data2, USBIO_INTERFACE_CLASS.Data3, {}};
    for (int i = 0; i < 8; ++i) {
        interfaceClass.Data4[i] = USBIO_INTERFACE_CLASS.Data4[i];
    }
    marquen::devices::RegisterDeviceInterfaceClass(interfaceClass, [] { return g_driver->table->ServedPaths(); });
    marquen::kernel::RegisterUserModeDriver(USBIO_DRIVER_FILE_NAME);
    return 0;
}

}  // namespace

void ReleaseOutsideCallbacks(std::shared_ptr<void> object) {
    if (g_driver == nullptr || !object) {
        return;
    }
    std::lock_guard lock(g_driver->releaseLock);
    g_driver->toRelease.push_back(std::move(object));
}

}  // namespace usbio

/// The driver's entry point (see usbio.h): starts it once per process. 0 on
/// success (also when it runs already), else a system error code.
extern "C" __attribute__((visibility("default"))) DWORD DriverEntry() {
    static std::once_flag once;
    static DWORD result = 0;
    std::call_once(once, [] { result = usbio::Start(); });
    return result;
}
