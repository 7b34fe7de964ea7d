#pragma once
// The list of loaded device drivers, as the process status library gives
// it: the user-mode drivers (the maker's USB driver stand-in, "Vantrex.sys"),
// then the kernel's modules (/proc/modules) and the USB drivers the kernel
// has registered (built-in ones too, /sys/bus/usb/drivers), each under its
// module name with ".ko". The kernel's USB printer driver usblp is listed
// under the generic printer driver's file name "usbprint.sys", which is the
// name a driver check looks for.
//
// MARQUEN_KERNEL_MODULES names a file to read instead of /proc/modules
// (tests; an empty value lists no kernel module).
#include "win_bool.h"
#include "win_types.h"

extern "C" {

/// Fills `imageBase` with one value per driver (cb bytes of room) and
/// *needed with the bytes the whole list takes. TRUE also when the room is
/// short (the list is cut; compare *needed with cb). Any thread.
BOOL EnumDeviceDrivers(void** imageBase, DWORD cb, DWORD* needed);
/// The file name of the driver whose value EnumDeviceDrivers gave, cut to
/// size - 1 characters and NUL-terminated; the characters copied, 0 for an
/// unknown value (ERROR_INVALID_PARAMETER).
DWORD GetDeviceDriverBaseNameA(void* imageBase, char* baseName, DWORD size);

}  // extern "C"
