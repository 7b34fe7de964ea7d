#pragma once
// Finding the maker's USB printer and binding it to a driver, through
// device setup (platform/devices). Both run on the caller's thread; the
// device arrival handling uses the search too.
#include "win_types.h"

#include <string>
#include <string_view>

namespace quorlink {

/// Hardware identifier that selects the printer among device instances.
constexpr const char* kUsbPrinterHardwareId = "USB\\VID_F5A7&PID_A000";
/// Information file name that selects the path mode of the driver switch.
constexpr const char* kUsbDriverInfFile = "vantrex.inf";

struct UsbSearchResult {
    bool found = false;
    /// "" when bound to the maker's driver (or not found), otherwise the
    /// description of the driver it is bound to.
    std::string text;
};

/// Looks for the printer: found, and "" when it is bound to the maker's
/// driver, else the description of its driver ("Unknown Device" when that
/// cannot be read). Calling thread; asks the bus (a few milliseconds).
UsbSearchResult SearchUsbPrinter();
/// Binds the printer to the driver of the information file at `location`
/// (a path containing "vantrex.inf": 0 on success, else a system error
/// code) or to the driver described by `location` (nonzero on success, 0 on
/// failure). A failure of the path mode with a known code shows its text in
/// a message box. Calling thread; blocks while the driver is switched.
LONG UpdateUsbDriver(std::string_view location);

}  // namespace quorlink
