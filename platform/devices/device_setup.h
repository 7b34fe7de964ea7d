#pragma once
// Device setup, device-instance part: the set of every present device (the
// USB devices of the machine), their instance ids, hardware ids and
// descriptions, the compatible drivers of a device, and the two
// driver-installation calls that bind the maker's USB printer to the maker's
// driver or back to another one.
//
// On Linux a device instance is a USB device: instance id
// "USB\VID_xxxx&PID_xxxx\<serial>" (the bus and port path when it has no
// serial number), hardware ids "USB\VID_xxxx&PID_xxxx&REV_xxxx" and
// "USB\VID_xxxx&PID_xxxx", and as description the description of the driver
// bound to it: "USB Printing Support" when the kernel's usblp holds its
// printer interface, "Vantrex USB Driver" for the maker's printer when no
// kernel driver holds it (user space reaches it through libusb). Binding to
// the maker's driver detaches the kernel driver from the printer interface;
// binding back re-attaches it.
//
// The calls have C linkage under their platform names. Sets of this part are
// made by SetupDiGetClassDevsA with DIGCF_ALLCLASSES and released by
// SetupDiDestroyDeviceInfoList (device_interfaces.h).
#include "devices/device_interfaces.h"
#include "win_bool.h"
#include "win_types.h"

#include <string>

constexpr DWORD SPDRP_DEVICEDESC = 0x00000000;
constexpr DWORD SPDRP_HARDWAREID = 0x00000001;
constexpr DWORD SPDRP_COMPATIBLEIDS = 0x00000002;
constexpr DWORD SPDRP_DRIVER = 0x00000009;

constexpr DWORD SPDIT_CLASSDRIVER = 0x00000001;
constexpr DWORD SPDIT_COMPATDRIVER = 0x00000002;

constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_MULTI_SZ = 7;

constexpr DWORD INSTALLFLAG_FORCE = 0x00000001;

// Device-installation errors.
constexpr DWORD ERROR_NO_SUCH_DEVINST = 0xE000020B;
constexpr DWORD ERROR_NO_DRIVER_SELECTED = 0xE0000203;
constexpr DWORD ERROR_NO_DEVICE_SELECTED = 0xE0000211;
constexpr DWORD ERROR_INVALID_DATA = 13;

constexpr size_t LINE_LEN = 256;

/// One driver of a device's driver list (narrow form).
struct SP_DRVINFO_DATA_A {
    DWORD cbSize;  // sizeof(SP_DRVINFO_DATA_A)
    DWORD DriverType;
    uintptr_t Reserved;
    char Description[LINE_LEN];
    char MfgName[LINE_LEN];
    char ProviderName[LINE_LEN];
};

extern "C" {

/// The `memberIndex`-th device of a set made with DIGCF_ALLCLASSES, in bus
/// order. FALSE with ERROR_NO_MORE_ITEMS past the end,
/// ERROR_INVALID_USER_BUFFER for a wrong cbSize, ERROR_INVALID_HANDLE for an
/// unknown set.
BOOL SetupDiEnumDeviceInfo(HDEVINFO set, DWORD memberIndex, SP_DEVINFO_DATA* deviceInfoData);
/// The device's instance id, NUL-terminated. FALSE with
/// ERROR_INSUFFICIENT_BUFFER (and *requiredSize) when it does not fit.
BOOL SetupDiGetDeviceInstanceIdA(HDEVINFO set, SP_DEVINFO_DATA* deviceInfoData, char* instanceId,
                                 DWORD instanceIdSize, DWORD* requiredSize);
/// A property of the device: SPDRP_DEVICEDESC (REG_SZ), SPDRP_HARDWAREID
/// (REG_MULTI_SZ). FALSE with ERROR_INSUFFICIENT_BUFFER (and *requiredSize),
/// ERROR_INVALID_DATA when the device does not have it (a description that
/// could not be read), ERROR_INVALID_PARAMETER for another property.
BOOL SetupDiGetDeviceRegistryPropertyA(HDEVINFO set, SP_DEVINFO_DATA* deviceInfoData, DWORD property,
                                       DWORD* propertyRegDataType, BYTE* propertyBuffer, DWORD propertyBufferSize,
                                       DWORD* requiredSize);
/// Makes the device the set's selected device (the one InstallSelectedDriver
/// acts on).
BOOL SetupDiSetSelectedDevice(HDEVINFO set, SP_DEVINFO_DATA* deviceInfoData);
/// Builds the device's list of compatible drivers (SPDIT_COMPATDRIVER):
/// the maker's driver for the maker's printer, then the kernel's printer
/// driver for a printer-class device, or the driver it is bound to.
BOOL SetupDiBuildDriverInfoList(HDEVINFO set, SP_DEVINFO_DATA* deviceInfoData, DWORD driverType);
/// The `memberIndex`-th driver of the list. FALSE with ERROR_NO_MORE_ITEMS.
BOOL SetupDiEnumDriverInfoA(HDEVINFO set, SP_DEVINFO_DATA* deviceInfoData, DWORD driverType, DWORD memberIndex,
                            SP_DRVINFO_DATA_A* driverInfoData);
/// Makes a driver of the list the device's selected driver.
BOOL SetupDiSetSelectedDriverA(HDEVINFO set, SP_DEVINFO_DATA* deviceInfoData, SP_DRVINFO_DATA_A* driverInfoData);
/// Releases the driver list.
BOOL SetupDiDestroyDriverInfoList(HDEVINFO set, SP_DEVINFO_DATA* deviceInfoData, DWORD driverType);

// The driver-installation library.

/// Binds every present device with hardware id `hardwareId` (compared
/// ignoring case) to the driver of the information file `fullInfPath`: the
/// kernel driver holding its printer interface is detached. The choice is
/// remembered for the process, so a printer plugged in again is taken over
/// as it arrives. FALSE with ERROR_FILE_NOT_FOUND when the file is missing,
/// ERROR_NO_SUCH_DEVINST when no device matches, 0 when every device was
/// already bound to it and INSTALLFLAG_FORCE was not given,
/// ERROR_ACCESS_DENIED when the device may not be opened. Calling thread;
/// takes as long as the bus does (a few milliseconds).
BOOL UpdateDriverForPlugAndPlayDevicesA(HWND parent, const char* hardwareId, const char* fullInfPath,
                                        DWORD installFlags, BOOL* rebootRequired);
/// Binds the set's selected device to its selected driver: the kernel's
/// printer driver is attached to the printer interface, or (for the maker's
/// driver) the kernel driver is detached. FALSE with the reason as the last
/// error.
BOOL InstallSelectedDriver(HWND parent, HDEVINFO set, const char* reserved, BOOL backup, DWORD* reboot);

}  // extern "C"

namespace marquen::devices {

/// Descriptions of the drivers a USB printer can be bound to.
inline constexpr const char* kMakerDriverDescription = "Vantrex USB Driver";
inline constexpr const char* kKernelPrinterDriverDescription = "USB Printing Support";

// Internal to the layer: device_interfaces.cpp hands sets of all classes
// here.
HDEVINFO CreateDeviceInstanceSet();
bool DestroyDeviceInstanceSet(HDEVINFO set);

}  // namespace marquen::devices
