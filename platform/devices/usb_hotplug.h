#pragma once
// Arrival and removal of the maker's USB printers, from libusb's hot-plug
// events, broadcast to the registered windows as device-change messages
// (DBT_DEVICEARRIVAL / DBT_DEVICEREMOVECOMPLETE, a device-interface record
// of the maker's driver class with the printer's interface path).
//
// A printer that arrives after the maker's driver was installed in this
// process is taken over from the kernel's printer driver first, as the
// system binds a device to the driver it was last given; its arrival is
// broadcast once no kernel driver holds it (a printer left to the kernel's
// driver does not arrive for the maker's driver).

namespace marquen::devices {

/// Starts watching (once per process; later calls do nothing). False when
/// libusb cannot start or has no hot-plug support on this system. The
/// watching thread ends when the process does. Any thread.
bool WatchUsbDevices();

}  // namespace marquen::devices
