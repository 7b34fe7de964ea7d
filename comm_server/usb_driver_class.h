#pragma once
// The device-interface class of the maker's USB kernel driver. The
// communication server registers its window for arrivals and removals of
// this class; the USB transport enumerates the driver's devices by it and
// whoever learns of an arrival or removal broadcasts it with this class.
#include "window/device_notify.h"

constexpr marquen::window::DeviceClassGuid GUID_CLASS_VANTREX_USB_DRIVER = {
    0x66D356BC, 0x31EC, 0x4D5A, {0x89, 0xDD, 0xE2, 0xD2, 0x16, 0x2C, 0x0D, 0xE4}};
