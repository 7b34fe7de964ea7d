#include "driver_check.h"

#include "kernel/served_device.h"
#include "tramline.h"
#include "usbio.h"

#include <dirent.h>

#include <algorithm>
#include <fstream>

namespace tramline {
namespace {

// The USB drivers registered with the kernel's USB bus. The device layer's
// view of /sys is the one the rest of the program uses (a test bed may
// replace it).
void AddUsbBusDrivers(std::vector<std::string>& names) {
    DIR* directory = ::opendir("/sys/bus/usb/drivers");
    if (directory == nullptr)
        return;
    while (dirent* entry = ::readdir(directory)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(directory);
}

}  // namespace

std::vector<std::string> ListLoadedDrivers() {
    std::vector<std::string> names;
    std::ifstream modules("/proc/modules");
    std::string line;
    while (std::getline(modules, line))
        names.push_back(line.substr(0, line.find(' ')));
    AddUsbBusDrivers(names);
    for (std::string& driver : marquen::kernel::LoadedUserModeDrivers())
        names.push_back(std::move(driver));
    return names;
}

WPARAM CheckDrivers(const std::vector<std::string>& names) {
    auto loaded = [&](const char* name) { return std::find(names.begin(), names.end(), name) != names.end(); };
    if (loaded(USBIO_DRIVER_FILE_NAME))
        return 0;
    return loaded(kGenericPrinterDriver) ? TRAMLINE_POST_GENERIC_DRIVER_LOADED : TRAMLINE_POST_DRIVER_NOT_LOADED;
}

}  // namespace tramline
