#pragma once
// Finding the maker's USB printer and binding it to a driver.
//
// USB comes later: the USB transport and the device-setup layer it needs do
// not exist yet, so the search finds no printer (found 0, text "") and a
// driver switch fails (120, "not supported on this system", for an
// information-file path; 0 for a driver description). The shapes are the
// final ones, so the device arrival handling and the two ICommunication
// members already call through them.
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

/// Looks for the printer. Calling thread; does not block.
UsbSearchResult SearchUsbPrinter();
/// Binds the printer to the driver of the information file at `location`
/// (a path containing "vantrex.inf": 0 on success, else a system error
/// code) or to the driver described by `location` (nonzero on success, 0 on
/// failure). Calling thread.
LONG UpdateUsbDriver(std::string_view location);

}  // namespace quorlink
