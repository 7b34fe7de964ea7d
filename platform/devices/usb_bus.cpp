// What device setup learns of the USB devices: libusb for the bus and the
// descriptors, usbfs (or sysfs) for the driver that holds an interface.
#include "devices/usb_bus.h"
#include "devices/device_setup.h"

#include "usbio.h"

#include <libusb.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/ioctl.h>
#include <linux/usbdevice_fs.h>
#include <unistd.h>

namespace marquen::devices {
namespace {

constexpr uint8_t kPrinterClass = 0x07;
// A string descriptor read for the instance id; serials are short.
constexpr int kSerialLimit = 127;

std::atomic<bool> g_makerDriverInstalled{false};

std::string Hex4(uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", value);
    return text;
}

}  // namespace

std::string UsbPortPath(libusb_device* device) {
    uint8_t ports[8];
    int count = libusb_get_port_numbers(device, ports, sizeof ports);
    std::string path = std::to_string(libusb_get_bus_number(device)) + "-";
    if (count <= 0)
        return path + "0";
    for (int i = 0; i < count; ++i) {
        if (i > 0)
            path += '.';
        path += std::to_string(ports[i]);
    }
    return path;
}

namespace {

// Keeps the characters an instance id may hold; a serial with others (or
// none) is replaced by the port path, as the system does for devices without
// a usable serial number.
bool UsableSerial(const std::string& serial) {
    if (serial.empty())
        return false;
    for (unsigned char c : serial) {
        if (c < 0x20 || c > 0x7E || c == '\\')
            return false;
    }
    return true;
}

std::string ReadSysfs(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    char buffer[256];
    ssize_t got;
    do {
        got = ::read(fd, buffer, sizeof buffer - 1);
    } while (got < 0 && errno == EINTR);
    ::close(fd);
    if (got <= 0)
        return {};
    std::string text(buffer, static_cast<size_t>(got));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

// The driver of one interface: usbfs's answer on the device node, or the
// sysfs link when the node may not be opened.
InterfaceDriver ReadInterfaceDriver(const UsbDeviceInstance& device, uint8_t configuration) {
    char node[64];
    std::snprintf(node, sizeof node, "/dev/bus/usb/%03u/%03u", device.bus, device.address);
    int fd = ::open(node, O_RDWR | O_CLOEXEC);
    if (fd < 0)
        fd = ::open(node, O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        usbdevfs_getdriver request{};
        request.interface = static_cast<unsigned>(device.printerInterface);
        int rc;
        do {
            rc = ::ioctl(fd, USBDEVFS_GETDRIVER, &request);
        } while (rc < 0 && errno == EINTR);
        int error = errno;
        ::close(fd);
        if (rc == 0) {
            request.driver[sizeof request.driver - 1] = '\0';
            return {true, request.driver};
        }
        if (error == ENODATA)
            return {true, ""};
    }
    char link[160];
    std::snprintf(link, sizeof link, "/sys/bus/usb/devices/%s:%u.%d/driver", device.portPath.c_str(),
                  configuration, device.printerInterface);
    char target[256];
    ssize_t length = ::readlink(link, target, sizeof target - 1);
    if (length > 0) {
        target[length] = '\0';
        const char* name = std::strrchr(target, '/');
        return {true, name ? name + 1 : target};
    }
    if (errno == ENOENT) {
        // The interface exists but nothing is bound to it.
        std::snprintf(link, sizeof link, "/sys/bus/usb/devices/%s:%u.%d", device.portPath.c_str(), configuration,
                      device.printerInterface);
        if (::access(link, F_OK) == 0)
            return {true, ""};
    }
    return {};
}

DWORD FromLibusb(int code) {
    switch (code) {
    case LIBUSB_SUCCESS:
        return ERROR_SUCCESS;
    case LIBUSB_ERROR_ACCESS:
        return ERROR_ACCESS_DENIED;
    case LIBUSB_ERROR_NO_DEVICE:
        return ERROR_NO_SUCH_DEVINST;
    case LIBUSB_ERROR_BUSY:
        return ERROR_BUSY;
    case LIBUSB_ERROR_NOT_SUPPORTED:
        return ERROR_NOT_SUPPORTED;
    default:
        return ERROR_GEN_FAILURE;
    }
}

}  // namespace

libusb_context* UsbContext(int* error) {
    static std::once_flag once;
    static libusb_context* context = nullptr;
    static int startError = 0;
    std::call_once(once, [] { startError = libusb_init(&context); });
    if (error)
        *error = startError;
    return startError == 0 ? context : nullptr;
}

UsbDeviceInstance ReadUsbDevice(libusb_device* usbDevice) {
    UsbDeviceInstance device;
    device.bus = libusb_get_bus_number(usbDevice);
    device.address = libusb_get_device_address(usbDevice);
    device.portPath = UsbPortPath(usbDevice);
    libusb_device_descriptor descriptor{};
    libusb_get_device_descriptor(usbDevice, &descriptor);
    device.vendorId = descriptor.idVendor;
    device.productId = descriptor.idProduct;
    device.release = descriptor.bcdDevice;

    uint8_t configurationValue = 1;
    libusb_config_descriptor* configuration = nullptr;
    if (libusb_get_active_config_descriptor(usbDevice, &configuration) == 0 ||
        libusb_get_config_descriptor(usbDevice, 0, &configuration) == 0) {
        configurationValue = configuration->bConfigurationValue;
        for (int i = 0; i < configuration->bNumInterfaces; ++i) {
            const libusb_interface& interface = configuration->interface[i];
            if (interface.num_altsetting > 0 && interface.altsetting[0].bInterfaceClass == kPrinterClass) {
                device.printerClass = true;
                device.printerInterface = interface.altsetting[0].bInterfaceNumber;
                break;
            }
        }
        libusb_free_config_descriptor(configuration);
    }

    std::string serial;
    if (descriptor.iSerialNumber != 0) {
        libusb_device_handle* handle = nullptr;
        if (libusb_open(usbDevice, &handle) == 0) {
            unsigned char text[kSerialLimit + 1] = {};
            int length = libusb_get_string_descriptor_ascii(handle, descriptor.iSerialNumber, text, kSerialLimit);
            if (length > 0)
                serial.assign(reinterpret_cast<char*>(text), static_cast<size_t>(length));
            libusb_close(handle);
        } else {
            serial = ReadSysfs("/sys/bus/usb/devices/" + device.portPath + "/serial");
        }
    }
    if (!UsableSerial(serial))
        serial = device.portPath;

    const std::string ids = "USB\\VID_" + Hex4(device.vendorId) + "&PID_" + Hex4(device.productId);
    device.instanceId = ids + "\\" + serial;
    device.hardwareIds = {ids + "&REV_" + Hex4(device.release), ids};
    device.driver = ReadInterfaceDriver(device, configurationValue);
    device.description = DescribeDriver(device, device.driver);
    return device;
}

std::vector<UsbDeviceInstance> ListUsbDevices() {
    std::vector<UsbDeviceInstance> devices;
    libusb_context* context = UsbContext();
    if (!context)
        return devices;
    libusb_device** list = nullptr;
    ssize_t count = libusb_get_device_list(context, &list);
    for (ssize_t i = 0; i < count; ++i)
        devices.push_back(ReadUsbDevice(list[i]));
    if (count >= 0)
        libusb_free_device_list(list, 1);
    return devices;
}

std::optional<UsbDeviceInstance> FindUsbDevice(uint8_t bus, uint8_t address) {
    libusb_context* context = UsbContext();
    if (!context)
        return std::nullopt;
    libusb_device** list = nullptr;
    ssize_t count = libusb_get_device_list(context, &list);
    std::optional<UsbDeviceInstance> found;
    for (ssize_t i = 0; i < count && !found; ++i) {
        if (libusb_get_bus_number(list[i]) == bus && libusb_get_device_address(list[i]) == address)
            found = ReadUsbDevice(list[i]);
    }
    if (count >= 0)
        libusb_free_device_list(list, 1);
    return found;
}

std::optional<std::string> DescribeDriver(const UsbDeviceInstance& device, const InterfaceDriver& driver) {
    if (!driver.known)
        return std::nullopt;
    const bool maker = device.vendorId == USBIO_VENDOR_ID && device.productId == USBIO_PRODUCT_ID;
    // usbfs is a program (the maker's driver stand-in among them) using the
    // device through libusb: no kernel driver stands in the way.
    if (driver.name.empty() || driver.name == "usbfs")
        return maker ? kMakerDriverDescription : "USB Device";
    if (driver.name == "usblp")
        return kKernelPrinterDriverDescription;
    if (driver.name == "hub")
        return "USB Hub";
    if (driver.name == "usbhid")
        return "USB Input Device";
    if (driver.name == "usb-storage" || driver.name == "uas")
        return "USB Mass Storage Device";
    return driver.name;
}

std::string InterfacePath(const UsbDeviceInstance& device) {
    char ids[32];
    std::snprintf(ids, sizeof ids, "usb#vid_%04x&pid_%04x#", device.vendorId, device.productId);
    std::string guid = USBIO_INTERFACE_CLASS_STRING;
    for (char& c : guid)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return std::string("\\\\?\\") + ids + device.portPath + "#" + guid;
}

DWORD SetKernelDriverAttached(const UsbDeviceInstance& device, bool attach) {
    libusb_context* context = UsbContext();
    if (!context)
        return ERROR_GEN_FAILURE;
    libusb_device** list = nullptr;
    ssize_t count = libusb_get_device_list(context, &list);
    DWORD result = ERROR_NO_SUCH_DEVINST;
    for (ssize_t i = 0; i < count; ++i) {
        if (libusb_get_bus_number(list[i]) != device.bus || libusb_get_device_address(list[i]) != device.address)
            continue;
        libusb_device_handle* handle = nullptr;
        int rc = libusb_open(list[i], &handle);
        if (rc == 0) {
            int active = libusb_kernel_driver_active(handle, device.printerInterface);
            if (attach) {
                rc = active == 1 ? LIBUSB_SUCCESS : libusb_attach_kernel_driver(handle, device.printerInterface);
                // libusb reads the kernel's "no driver bound" (0) as
                // NOT_FOUND; what counts is whether one holds it now.
                if (rc == LIBUSB_ERROR_NOT_FOUND && libusb_kernel_driver_active(handle, device.printerInterface) == 1)
                    rc = LIBUSB_SUCCESS;
            } else
                rc = active == 0 ? LIBUSB_SUCCESS : libusb_detach_kernel_driver(handle, device.printerInterface);
            // Detaching what is no longer there is done.
            if (!attach && rc == LIBUSB_ERROR_NOT_FOUND)
                rc = LIBUSB_SUCCESS;
            libusb_close(handle);
        }
        result = FromLibusb(rc);
        break;
    }
    if (count >= 0)
        libusb_free_device_list(list, 1);
    return result;
}

bool MakerDriverInstalled() { return g_makerDriverInstalled.load(); }
void SetMakerDriverInstalled(bool installed) { g_makerDriverInstalled.store(installed); }

}  // namespace marquen::devices
