#pragma once
// The request table of the maker's USB printer driver, as the transport
// library (and anything else) drives it: device files, I/O control codes,
// their input and output layouts, the status codes, the device-interface
// class. A compatibility contract: change it deliberately.
//
// On Linux the driver is a user-space stand-in over libusb-1.0
// (libusbio.so). Nobody links it: the platform layer loads it, as the
// system would have loaded the kernel driver, the first time a program
//   - opens a device file whose name begins with "\\.\" or "\\?\" (CreateFileA),
//   - asks device setup for the interfaces of a class (SetupDiGetClassDevsA
//     with DIGCF_DEVICEINTERFACE), or
//   - asks for the list of loaded drivers (LoadedUserModeDrivers),
// by calling its exported entry point (USBIO_DRIVER_ENTRY_NAME). The entry
// point registers the device files "\\.\USBIO_Device<n>" and the device
// interface paths of USBIO_INTERFACE_CLASS with the platform layer, and the
// driver's file name USBIO_DRIVER_FILE_NAME in the loaded-driver list. The
// library is looked for beside the platform's kernel library, then on the
// loader's path; MARQUEN_USER_DRIVERS (a ':'-separated list of library
// paths or names, empty for none) replaces that default.
//
// Which printers it serves: the maker's (USBIO_VENDOR_ID, USBIO_PRODUCT_ID),
// numbered 0, 1, ... in bus order. A printer is "bound to this driver" when
// no kernel driver holds its printer interface (the stand-in detaches none
// itself); one held by usblp (or any other kernel driver) is not served: it
// has no device file and no interface path until that driver is detached.
//
// Requests: every one is DeviceIoControl on an opened device file, with an
// OVERLAPPED: FALSE with ERROR_IO_PENDING (997) while it runs, its outcome
// from GetOverlappedResult(Ex); a failure's code (one of the USBIO_STATUS_
// codes, or a system error code) is the last error then. Reads and writes
// (ReadFile / WriteFile) go to the pipe bound to the handle; they end when
// the device transfers (a read: at the first packet shorter than the
// endpoint's size, or when the buffer is full); they have no time-out of
// their own: the caller waits on the event (or GetOverlappedResultEx) with
// its time-out and calls CancelIo, after which the operation ends with
// ERROR_OPERATION_ABORTED (995) and the caller's buffer is no longer used.
// A printer pulled out ends every pending request with
// USBIO_STATUS_DEVICE_GONE, and every later one on that handle too.
#include "win_types.h"

#include <cstdint>

// ---------------------------------------------------------------------------
// Identities

/// The maker's printers.
constexpr uint16_t USBIO_VENDOR_ID = 0xF5A7;
constexpr uint16_t USBIO_PRODUCT_ID = 0xA000;

/// API version that driver information reports (the transport refuses any
/// other).
constexpr uint16_t USBIO_API_VERSION = 0x0141;
/// Driver version and build number of this stand-in.
constexpr uint16_t USBIO_DRIVER_VERSION = 0x0100;
constexpr uint32_t USBIO_DRIVER_BUILD = 1;

/// The driver's file name in the loaded-driver list.
constexpr const char* USBIO_DRIVER_FILE_NAME = "Vantrex.sys";
/// The driver's description, as device setup shows it for a bound printer.
constexpr const char* USBIO_DRIVER_DESCRIPTION = "Vantrex USB Driver";

/// printf format of a device file by number ("\\.\USBIO_Device0").
constexpr const char* USBIO_DEVICE_NAME_FORMAT = "\\\\.\\USBIO_Device%d";
/// The prefix every device file by number shares.
constexpr const char* USBIO_DEVICE_NAME_PREFIX = "\\\\.\\USBIO_Device";
/// Device-interface paths look like
///   "\\?\usb#vid_f5a7&pid_a000#<bus>-<port path>#{6f1c2a94-3b7e-4d05-8a6c-e2b91f4d7035}"
/// (lower-case, the class GUID braced at the end); callers treat them as
/// opaque and take them from device setup only.
constexpr const char* USBIO_INTERFACE_PATH_PREFIX = "\\\\?\\usb#vid_f5a7&pid_a000#";

/// The driver's device-interface class (device setup and device-change
/// notifications), laid out as GUID: Data1, Data2, Data3, Data4[8].
struct UsbioClassGuid {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
constexpr UsbioClassGuid USBIO_INTERFACE_CLASS = {
    0x6F1C2A94, 0x3B7E, 0x4D05, {0x8A, 0x6C, 0xE2, 0xB9, 0x1F, 0x4D, 0x70, 0x35}};
/// Its braced string form.
constexpr const char* USBIO_INTERFACE_CLASS_STRING = "{6F1C2A94-3B7E-4D05-8A6C-E2B91F4D7035}";

/// Name of the exported entry point of the driver library:
///   extern "C" DWORD DriverEntry(void);
/// 0 when the driver registered itself (also when it was already running),
/// else a system error code (libusb could not start). Any thread; the
/// platform layer calls it once.
constexpr const char* USBIO_DRIVER_ENTRY_NAME = "DriverEntry";
/// Library file of the driver.
constexpr const char* USBIO_DRIVER_LIBRARY = "libusbio.so";

// ---------------------------------------------------------------------------
// I/O control codes. Inputs and outputs are packed, little-endian.

/// Driver information. Input: none. Output: UsbioDriverInfo (12 bytes).
constexpr DWORD USBIO_IOCTL_GET_DRIVER_INFO = 0x8094206C;
/// Get descriptor. Input: UsbioDescriptorRequest (8 bytes). Output: the
/// descriptor as the device returned it (at most the output size; the byte
/// count is the length returned).
constexpr DWORD USBIO_IOCTL_GET_DESCRIPTOR = 0x80942006;
/// Get configuration. Input: none. Output: 1 byte, the configuration value
/// this driver set (0 = not configured: until set configuration, after
/// unconfigure; the kernel's own choice at plug-in does not count).
constexpr DWORD USBIO_IOCTL_GET_CONFIGURATION = 0x80942018;
/// Set configuration. Input: UsbioSetConfiguration (260 bytes). Output:
/// none. Selects the configuration of the given index and claims its
/// interfaces for this driver (USBIO_STATUS_BUSY when a kernel driver holds
/// one).
constexpr DWORD USBIO_IOCTL_SET_CONFIGURATION = 0x80942024;
/// Class or vendor request, device to host. Input: UsbioClassOrVendorRequest
/// (18 bytes). Output: the reply (up to the output size).
constexpr DWORD USBIO_IOCTL_CLASS_OR_VENDOR_IN_REQUEST = 0x80942032;
/// Unconfigure device: releases the interfaces, unbinds every pipe of the
/// device. Input, output: none.
constexpr DWORD USBIO_IOCTL_UNCONFIGURE_DEVICE = 0x80942054;
/// Bind pipe: ties this handle to one endpoint of the configured device;
/// reads and writes on the handle then go to that endpoint. Input:
/// UsbioBindPipe (1 byte). Output: none.
constexpr DWORD USBIO_IOCTL_BIND_PIPE = 0x80942078;
/// Unbind pipe. Input, output: none.
constexpr DWORD USBIO_IOCTL_UNBIND_PIPE = 0x80942084;

#pragma pack(push, 1)

struct UsbioDriverInfo {
    uint16_t APIVersion;     // USBIO_API_VERSION
    uint16_t DriverVersion;  // USBIO_DRIVER_VERSION
    uint32_t DriverBuildNumber;
    uint32_t Flags;  // 0
};
static_assert(sizeof(UsbioDriverInfo) == 12);

/// Recipient values of a descriptor request and a class or vendor request.
constexpr uint32_t USBIO_RECIPIENT_DEVICE = 0;
constexpr uint32_t USBIO_RECIPIENT_INTERFACE = 1;
constexpr uint32_t USBIO_RECIPIENT_ENDPOINT = 2;
constexpr uint32_t USBIO_RECIPIENT_OTHER = 3;

struct UsbioDescriptorRequest {
    uint32_t Recipient;  // USBIO_RECIPIENT_
    uint8_t DescriptorType;
    uint8_t DescriptorIndex;
    uint16_t LanguageId;
};
static_assert(sizeof(UsbioDescriptorRequest) == 8);

struct UsbioInterfaceSetting {
    uint16_t InterfaceIndex;
    uint16_t AlternateSettingIndex;
    uint32_t MaximumTransferSize;  // 0x4000 from the transport; informative
};
static_assert(sizeof(UsbioInterfaceSetting) == 8);

constexpr int USBIO_MAX_INTERFACES = 32;

struct UsbioSetConfiguration {
    uint16_t ConfigurationIndex;  // index, not value: 0 is the first configuration
    uint16_t NbOfInterfaces;      // 1 to USBIO_MAX_INTERFACES
    UsbioInterfaceSetting InterfaceList[USBIO_MAX_INTERFACES];
};
static_assert(sizeof(UsbioSetConfiguration) == 260);

/// Flags of a class or vendor request.
constexpr uint32_t USBIO_SHORT_TRANSFER_OK = 0x00010000;
/// Type of a class or vendor request.
constexpr uint32_t USBIO_REQUEST_TYPE_CLASS = 1;
constexpr uint32_t USBIO_REQUEST_TYPE_VENDOR = 2;

/// Sent as a control transfer with bmRequestType = 0x80 | Type << 5 |
/// Recipient | RequestTypeReservedBits, bRequest = Request, wValue = Value,
/// wIndex = Index, wLength = the output size. Without
/// USBIO_SHORT_TRANSFER_OK a shorter reply fails (USBIO_STATUS_SHORT_TRANSFER).
struct UsbioClassOrVendorRequest {
    uint32_t Flags;
    uint32_t Type;       // USBIO_REQUEST_TYPE_
    uint32_t Recipient;  // USBIO_RECIPIENT_
    uint8_t RequestTypeReservedBits;
    uint8_t Request;
    uint16_t Value;
    uint16_t Index;
};
static_assert(sizeof(UsbioClassOrVendorRequest) == 18);

struct UsbioBindPipe {
    uint8_t EndpointAddress;  // bit 7 set = IN
};
static_assert(sizeof(UsbioBindPipe) == 1);

#pragma pack(pop)

// ---------------------------------------------------------------------------
// Status codes (the last error after a failed request). Any other value is a
// system error code (ERROR_OPERATION_ABORTED after CancelIo,
// ERROR_INVALID_HANDLE, ...).

constexpr DWORD USBIO_STATUS_SUCCESS = 0;
constexpr DWORD USBIO_STATUS_NO_MEMORY = 0xE0000100;
/// The device stalled the request (a string descriptor it does not have, a
/// class request it does not know, a halted endpoint).
constexpr DWORD USBIO_STATUS_STALL = 0xE0000004;
constexpr DWORD USBIO_STATUS_TIMEOUT = 0xE000100C;
constexpr DWORD USBIO_STATUS_POWER_DOWN = 0xE000101B;
constexpr DWORD USBIO_STATUS_VERSION_MISMATCH = 0xE000101C;
constexpr DWORD USBIO_STATUS_SETUP_API_UNAVAILABLE = 0xE0001000;
/// The device file cannot be opened (no such printer served): the last
/// error of a failed CreateFileA.
constexpr DWORD USBIO_STATUS_DEVICE_NOT_FOUND = 0xE0001100;
constexpr DWORD USBIO_STATUS_DEVICE_NOT_OPEN = 0xE0001102;
constexpr DWORD USBIO_STATUS_NO_SUCH_DEVICE_INSTANCE = 0xE0001104;
/// A request with a missing or short input, an unknown code, a bad pipe
/// address.
constexpr DWORD USBIO_STATUS_INVALID_PARAMETER = 0xE0001105;

// Codes of this stand-in for conditions the table above has no code for.
/// The printer was unplugged.
constexpr DWORD USBIO_STATUS_DEVICE_GONE = 0xE0001110;
/// A kernel driver (usblp) holds an interface: set configuration fails.
constexpr DWORD USBIO_STATUS_BUSY = 0xE0001111;
/// Read or write on a handle with no bound pipe; bind pipe on an
/// unconfigured device.
constexpr DWORD USBIO_STATUS_NOT_BOUND = 0xE0001112;
constexpr DWORD USBIO_STATUS_NOT_CONFIGURED = 0xE0001113;
/// A class or vendor reply shorter than asked without USBIO_SHORT_TRANSFER_OK.
constexpr DWORD USBIO_STATUS_SHORT_TRANSFER = 0xE0001114;
/// A libusb failure with no closer code.
constexpr DWORD USBIO_STATUS_IO_ERROR = 0xE0001115;
/// A pipe is already bound to another handle.
constexpr DWORD USBIO_STATUS_PIPE_BUSY = 0xE0001116;
