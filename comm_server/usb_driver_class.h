#pragma once
// The device-interface class of the maker's USB kernel driver. The
// communication server registers its window for arrivals and removals of
// this class; the USB transport enumerates the driver's devices by it and
// device setup broadcasts arrivals and removals with it.
#include "usbio.h"
#include "window/device_notify.h"

inline const marquen::window::DeviceClassGuid GUID_CLASS_VANTREX_USB_DRIVER =
    marquen::window::ToDeviceClassGuid(USBIO_INTERFACE_CLASS);
