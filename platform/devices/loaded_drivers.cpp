// The loaded-driver list: user-mode drivers, kernel modules, the kernel's
// registered USB drivers.
#include "devices/loaded_drivers.h"

#include "kernel/last_error.h"
#include "kernel/served_device.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

namespace {

// Driver values are small made-up addresses (the list index plus one, in
// pages): nothing may dereference them.
constexpr uintptr_t kDriverValueStep = 0x1000;

std::mutex g_lock;
std::vector<std::string> g_drivers;  // GUARDED_BY(g_lock): the last list given

std::string KernelName(const std::string& module) {
    if (module == "usblp")
        return "usbprint.sys";
    return module + ".ko";
}

std::vector<std::string> ListDrivers() {
    std::vector<std::string> names = marquen::kernel::LoadedUserModeDrivers();
    auto add = [&](const std::string& module) {
        std::string name = KernelName(module);
        if (std::find(names.begin(), names.end(), name) == names.end())
            names.push_back(name);
    };
    const char* override = std::getenv("MARQUEN_KERNEL_MODULES");
    std::ifstream modules(override ? override : "/proc/modules");
    std::string line;
    while (std::getline(modules, line)) {
        std::string module = line.substr(0, line.find(' '));
        if (!module.empty())
            add(module);
    }
    if (DIR* drivers = ::opendir("/sys/bus/usb/drivers")) {
        while (const dirent* entry = ::readdir(drivers)) {
            if (entry->d_name[0] != '.')
                add(entry->d_name);
        }
        ::closedir(drivers);
    }
    return names;
}

}  // namespace

extern "C" BOOL EnumDeviceDrivers(void** imageBase, DWORD cb, DWORD* needed) {
    if (needed == nullptr || (imageBase == nullptr && cb != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::vector<std::string> drivers = ListDrivers();
    std::lock_guard lock(g_lock);
    g_drivers = std::move(drivers);
    *needed = static_cast<DWORD>(g_drivers.size() * sizeof(void*));
    size_t room = cb / sizeof(void*);
    for (size_t i = 0; i < g_drivers.size() && i < room; ++i)
        imageBase[i] = reinterpret_cast<void*>((i + 1) * kDriverValueStep);
    return TRUE;
}

extern "C" DWORD GetDeviceDriverBaseNameA(void* imageBase, char* baseName, DWORD size) {
    auto value = reinterpret_cast<uintptr_t>(imageBase);
    std::lock_guard lock(g_lock);
    size_t index = value / kDriverValueStep;
    if (value % kDriverValueStep != 0 || index == 0 || index > g_drivers.size() || baseName == nullptr ||
        size == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::string& name = g_drivers[index - 1];
    size_t copied = std::min<size_t>(name.size(), size - 1);
    std::memcpy(baseName, name.data(), copied);
    baseName[copied] = '\0';
    return static_cast<DWORD>(copied);
}
