#pragma once
// Device setup, device-interface part: the set of present devices that
// expose the interfaces of one class, walking it, and the device path of
// each interface (which CreateFileA opens). User-mode drivers say which
// interfaces are present by registering a lister for their class.
//
// The four calls have C linkage under their platform names so a library
// that looks them up by name (dlsym on this library) finds them. Device
// instances, properties and driver installation are not here.
#include "com/guid.h"
#include "win_bool.h"
#include "win_types.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

using HDEVINFO = void*;

constexpr DWORD DIGCF_DEFAULT = 0x01;
constexpr DWORD DIGCF_PRESENT = 0x02;
constexpr DWORD DIGCF_ALLCLASSES = 0x04;
constexpr DWORD DIGCF_PROFILE = 0x08;
constexpr DWORD DIGCF_DEVICEINTERFACE = 0x10;

constexpr DWORD ERROR_NO_MORE_ITEMS = 259;
constexpr DWORD ERROR_INVALID_USER_BUFFER = 1784;

/// One device of a set.
struct SP_DEVINFO_DATA {
    DWORD cbSize;  // sizeof(SP_DEVINFO_DATA)
    GUID ClassGuid;
    DWORD DevInst;
    uintptr_t Reserved;
};

/// One device interface of a set.
struct SP_DEVICE_INTERFACE_DATA {
    DWORD cbSize;  // sizeof(SP_DEVICE_INTERFACE_DATA)
    GUID InterfaceClassGuid;
    DWORD Flags;  // SPINT_ACTIVE
    uintptr_t Reserved;
};
constexpr DWORD SPINT_ACTIVE = 0x1;

/// A device interface's path, NUL-terminated, in a caller's buffer of the
/// size the detail call asked for; cbSize must be
/// sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) (8).
struct SP_DEVICE_INTERFACE_DETAIL_DATA_A {
    DWORD cbSize;
    char DevicePath[1];
};

extern "C" {

/// The set of devices exposing interfaces of `classGuid`. Served: flags with
/// DIGCF_DEVICEINTERFACE (DIGCF_PRESENT is implied: absent devices are never
/// listed); `enumerator` and `parent` are ignored. The interfaces are taken
/// now (the set is a snapshot). Loads the user-mode drivers first.
/// INVALID_HANDLE_VALUE (all bits set) with ERROR_INVALID_PARAMETER for a
/// null class or without DIGCF_DEVICEINTERFACE. With DIGCF_ALLCLASSES: the
/// set of every present device instance (device_setup.h; class and
/// interface flag ignored). Any thread; release with
/// SetupDiDestroyDeviceInfoList.
HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, const char* enumerator, HWND parent, DWORD flags);
/// The `memberIndex`-th interface of class `interfaceClassGuid` in the set
/// (`deviceInfoData` ignored). FALSE with ERROR_NO_MORE_ITEMS past the end,
/// ERROR_INVALID_USER_BUFFER when data->cbSize is wrong,
/// ERROR_INVALID_HANDLE for an unknown set.
BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, SP_DEVINFO_DATA* deviceInfoData, const GUID* interfaceClassGuid,
                                 DWORD memberIndex, SP_DEVICE_INTERFACE_DATA* data);
/// The path of an interface found by SetupDiEnumDeviceInterfaces. With a
/// null `detail` (size 0): FALSE with ERROR_INSUFFICIENT_BUFFER and
/// *requiredSize. With a buffer too small: the same. Otherwise TRUE with the
/// path in detail->DevicePath. `deviceInfoData` (optional) gets the device.
BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data,
                                      SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail, DWORD detailSize,
                                      DWORD* requiredSize, SP_DEVINFO_DATA* deviceInfoData);
/// Releases a set. FALSE with ERROR_INVALID_HANDLE for an unknown one.
BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set);

}  // extern "C"

namespace marquen::devices {

/// Lists the device paths of the present interfaces of one class, in the
/// order of their numbers. Called on the thread of SetupDiGetClassDevsA,
/// without any lock of this layer held.
using DeviceInterfaceLister = std::function<std::vector<std::string>()>;

/// Makes `lister` the source of the interfaces of `classGuid` (replacing any
/// earlier one; an empty function removes it). Any thread.
void RegisterDeviceInterfaceClass(const GUID& classGuid, DeviceInterfaceLister lister);

}  // namespace marquen::devices
