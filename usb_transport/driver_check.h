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

/// The loaded drivers' names. False when the kernel's module list cannot be
/// read at all.
bool ListLoadedDrivers(std::vector<std::string>& names);

/// The driver check: 0 when the maker's driver is loaded (or the list is
/// unavailable: the check passes, as it always has when it could not look),
/// else the code to post: 8 when the generic printer driver is loaded, 7
/// otherwise.
WPARAM CheckDrivers(const std::vector<std::string>& names);

}  // namespace tramline
