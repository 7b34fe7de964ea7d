#pragma once
// Which drivers are loaded: the kernel's modules, the USB drivers the kernel
// has registered (built-in ones appear only there) and the user-mode drivers
// of the platform layer.
#include "win_types.h"

#include <string>
#include <vector>

namespace tramline {

/// The kernel's generic USB printer driver.
constexpr const char* kGenericPrinterDriver = "usblp";

/// The loaded drivers' names. The module list is left out where the system
/// hides it (a container has no /proc/modules); the list itself is always
/// there, so the "list unavailable" posts have no cause on this system.
std::vector<std::string> ListLoadedDrivers();

/// The driver check: 0 when the maker's driver is loaded, else the code to
/// post: 8 when the generic printer driver is loaded, 7 otherwise.
WPARAM CheckDrivers(const std::vector<std::string>& names);

}  // namespace tramline
