// libusb hot-plug events turned into device-change broadcasts.
#include "devices/usb_hotplug.h"
#include "devices/usb_bus.h"

#include "diagnostics/diagnostics.h"
#include "thread_annotations.h"
#include "usbio.h"
#include "window/device_notify.h"

#include <libusb.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace marquen::devices {
namespace {

// How often the watching thread looks up from libusb to see whether the
// process is ending.
constexpr long kEventWaitMicroseconds = 200000;

struct Event {
    libusb_device* device;  // referenced
    bool arrived;
};

class Watcher {
public:
    bool Start() {
        // A context of its own: it only watches. Devices are opened on the
        // layer's context, which has no event thread, so a handle's file
        // descriptor never lands in this one's poll set.
        libusb_context* context = nullptr;
        if (!libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG) || libusb_init(&context) != LIBUSB_SUCCESS)
            return false;
        m_context = context;
        int rc = libusb_hotplug_register_callback(
            context, static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED |
                                                       LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
            LIBUSB_HOTPLUG_NO_FLAGS, USBIO_VENDOR_ID, USBIO_PRODUCT_ID, LIBUSB_HOTPLUG_MATCH_ANY, &Watcher::OnEvent,
            this, &m_callback);
        if (rc != LIBUSB_SUCCESS) {
            libusb_exit(context);
            m_context = nullptr;
            return false;
        }
        m_thread = std::thread([this, context] { Run(context); });
        return true;
    }

    ~Watcher() {
        if (!m_thread.joinable())
            return;
        m_stop = true;
        libusb_hotplug_deregister_callback(m_context, m_callback);
        m_thread.join();
        {
            std::lock_guard lock(m_lock);
            for (const Event& event : m_events)
                libusb_unref_device(event.device);
            m_events.clear();
        }
        libusb_exit(m_context);
    }

private:
    // libusb's event thread: only queue, no I/O here.
    static int LIBUSB_CALL OnEvent(libusb_context*, libusb_device* device, libusb_hotplug_event event,
                                   void* self) {
        auto* watcher = static_cast<Watcher*>(self);
        std::lock_guard lock(watcher->m_lock);
        watcher->m_events.push_back({libusb_ref_device(device), event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED});
        return 0;
    }

    void Run(libusb_context* context) {
        while (!m_stop) {
            timeval wait{0, kEventWaitMicroseconds};
            libusb_handle_events_timeout_completed(context, &wait, nullptr);
            std::vector<Event> events;
            {
                std::lock_guard lock(m_lock);
                events.swap(m_events);
            }
            for (const Event& event : events) {
                Deliver(event);
                libusb_unref_device(event.device);
            }
        }
    }

    static void Deliver(const Event& event) {
        UsbDeviceInstance device;
        if (event.arrived) {
            std::optional<UsbDeviceInstance> found = FindUsbDevice(libusb_get_bus_number(event.device),
                                                                   libusb_get_device_address(event.device));
            if (!found)
                return;  // gone again before it could be read
            device = *found;
            if (MakerDriverInstalled() && HeldByKernelDriver(device.driver)) {
                DWORD error = SetKernelDriverAttached(device, false);
                if (error != ERROR_SUCCESS)
                    diagnostics::Report(diagnostics::Level::kWarning,
                                        "USB printer " + device.instanceId +
                                            ": the kernel driver could not be detached (error " +
                                            std::to_string(error) + ")");
                found = FindUsbDevice(device.bus, device.address);
                if (!found)
                    return;
                device = *found;
            }
            if (HeldByKernelDriver(device.driver))
                return;  // held by a kernel driver: not an interface of the maker's driver
        } else {
            // Gone: only what libusb remembers of it can be read.
            device.vendorId = USBIO_VENDOR_ID;
            device.productId = USBIO_PRODUCT_ID;
            device.bus = libusb_get_bus_number(event.device);
            device.address = libusb_get_device_address(event.device);
            device.portPath = UsbPortPath(event.device);
        }
        const std::string path = InterfacePath(device);
        std::vector<unsigned char> record(offsetof(window::DEV_BROADCAST_DEVICEINTERFACE, dbcc_name) + path.size() + 1);
        window::DEV_BROADCAST_DEVICEINTERFACE header{};
        header.dbcc_size = static_cast<DWORD>(record.size());
        header.dbcc_devicetype = window::DBT_DEVTYP_DEVICEINTERFACE;
        header.dbcc_classguid = window::ToDeviceClassGuid(USBIO_INTERFACE_CLASS);
        std::memcpy(record.data(), &header, offsetof(window::DEV_BROADCAST_DEVICEINTERFACE, dbcc_name));
        std::memcpy(record.data() + offsetof(window::DEV_BROADCAST_DEVICEINTERFACE, dbcc_name), path.c_str(),
                    path.size() + 1);
        window::BroadcastDeviceChange(event.arrived ? window::DBT_DEVICEARRIVAL : window::DBT_DEVICEREMOVECOMPLETE,
                                      reinterpret_cast<const window::DEV_BROADCAST_HDR*>(record.data()));
    }

    libusb_context* m_context = nullptr;
    std::atomic<bool> m_stop{false};
    libusb_hotplug_callback_handle m_callback = 0;
    std::thread m_thread;
    marquen::Mutex m_lock;
    std::vector<Event> m_events GUARDED_BY(m_lock);
};

}  // namespace

bool WatchUsbDevices() {
    static Watcher watcher;
    static const bool started = watcher.Start();
    return started;
}

}  // namespace marquen::devices
