#pragma once
// Internal to device setup: what the layer learns of the USB devices through
// libusb and usbfs. One libusb context per process, made on first use.
#include "win_types.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct libusb_context;
struct libusb_device;

namespace marquen::devices {

/// Which kernel driver holds a device's printer interface.
struct InterfaceDriver {
    bool known = false;  ///< false: it could not be read
    std::string name;    ///< "" when none holds it; "usbfs" when a program does
};

/// Whether a kernel driver (not a program through usbfs) holds the interface.
inline bool HeldByKernelDriver(const InterfaceDriver& driver) {
    return driver.known && !driver.name.empty() && driver.name != "usbfs";
}

/// One USB device as a device instance.
struct UsbDeviceInstance {
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    uint16_t release = 0;
    uint8_t bus = 0;
    uint8_t address = 0;
    std::string portPath;  ///< "1-2.3"
    std::string instanceId;
    std::vector<std::string> hardwareIds;
    bool printerClass = false;
    int printerInterface = 0;  ///< the interface the driver switch acts on
    InterfaceDriver driver;
    /// The bound driver's description; none when the driver could not be read.
    std::optional<std::string> description;
};

/// The layer's libusb context, for listing and opening devices (no thread
/// handles its events: nothing asynchronous runs on it); null (with the
/// libusb code in *error) when libusb cannot start. Any thread.
libusb_context* UsbContext(int* error = nullptr);
/// The device's place on the bus, "1-2.3" (bus, then the port numbers);
/// readable after the device is gone.
std::string UsbPortPath(libusb_device* device);
/// Reads a device as an instance (opens it briefly for its serial number and
/// its printer interface's driver). Any thread.
UsbDeviceInstance ReadUsbDevice(libusb_device* device);
/// Every present USB device, in bus order. Empty when libusb cannot start.
std::vector<UsbDeviceInstance> ListUsbDevices();
/// The present device at `bus` and `address`; none when there is none.
std::optional<UsbDeviceInstance> FindUsbDevice(uint8_t bus, uint8_t address);
/// The description a device shows for the driver `driver` bound to it.
std::optional<std::string> DescribeDriver(const UsbDeviceInstance& device, const InterfaceDriver& driver);
/// The device's printer interface path for device-change records
/// ("\\?\usb#vid_f5a7&pid_a000#1-2#{class}").
std::string InterfacePath(const UsbDeviceInstance& device);

/// Detaches (attach false) or re-attaches (attach true) the kernel driver
/// of the device's printer interface. ERROR_SUCCESS, or a system error code:
/// ERROR_ACCESS_DENIED, ERROR_NO_SUCH_DEVINST (gone), ERROR_BUSY (a program
/// has claimed it), ERROR_GEN_FAILURE. Calling thread.
DWORD SetKernelDriverAttached(const UsbDeviceInstance& device, bool attach);

/// Whether the maker's driver was installed in this process (and not bound
/// back since): arriving printers of the maker are then taken over.
bool MakerDriverInstalled();
void SetMakerDriverInstalled(bool installed);

}  // namespace marquen::devices
