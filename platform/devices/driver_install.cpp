// The driver-installation call that binds the maker's printers to the
// maker's driver from its information file.
#include "devices/device_setup.h"
#include "devices/usb_bus.h"

#include "kernel/last_error.h"

#include <strings.h>
#include <sys/stat.h>

extern "C" BOOL UpdateDriverForPlugAndPlayDevicesA(HWND /*parent*/, const char* hardwareId, const char* fullInfPath,
                                                   DWORD installFlags, BOOL* rebootRequired) {
    using namespace marquen::devices;
    if (rebootRequired)
        *rebootRequired = FALSE;
    if (hardwareId == nullptr || fullInfPath == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    struct stat info {};
    if (::stat(fullInfPath, &info) != 0 || !S_ISREG(info.st_mode)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    bool matched = false;
    bool changed = false;
    for (const UsbDeviceInstance& device : ListUsbDevices()) {
        bool matches = false;
        for (const std::string& id : device.hardwareIds)
            matches = matches || ::strcasecmp(id.c_str(), hardwareId) == 0;
        if (!matches)
            continue;
        matched = true;
        if (device.driver.known && !HeldByKernelDriver(device.driver))
            continue;  // already without a kernel driver
        DWORD error = SetKernelDriverAttached(device, false);
        if (error != ERROR_SUCCESS) {
            SetLastError(error);
            return FALSE;
        }
        changed = true;
    }
    if (!matched) {
        SetLastError(ERROR_NO_SUCH_DEVINST);
        return FALSE;
    }
    SetMakerDriverInstalled(true);
    if (!changed && (installFlags & INSTALLFLAG_FORCE) == 0) {
        // Every device already had this driver: nothing better was found.
        SetLastError(ERROR_SUCCESS);
        return FALSE;
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}
