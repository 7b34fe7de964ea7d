// Finding the maker's USB printer among the device instances, and binding it
// to the maker's driver (from its information file) or back to a driver
// named by its description, through device setup.
#include "usb_search.h"

#include "devices/device_setup.h"
#include "kernel/last_error.h"
#include "window/message_box.h"

#include <cstring>
#include <string>

namespace quorlink {
namespace {

/// The hardware id handed to the driver update: its spelling differs from
/// the search id, and the update compares ignoring case.
constexpr const char* kUpdateHardwareId = "USB\\Vid_f5a7&Pid_a000";
/// Instance ids and descriptions are read into buffers of this size; a
/// longer one counts as unreadable.
constexpr DWORD kDeviceTextSize = 264;
constexpr const char* kMakerWord = "Vantrex";
constexpr const char* kUnknownDevice = "Unknown Device";

const HDEVINFO kInvalidSet = reinterpret_cast<HDEVINFO>(~uintptr_t{0});

/// The text shown when installing the maker's driver fails with `code`;
/// null for codes that show nothing.
const char* InstallFailureText(DWORD code) {
    switch (code) {
    case 0:
        return "The routine found a match for the HardwareId but the specified driver was not better than the "
               "current driver and the caller did not specify the INSTALLFLAG_FORCE flag.";
    case 2: return "File not found";
    case 0xE0000200: return "ERROR_NO_ASSOCIATED_CLASS";
    case 0xE0000201: return "ERROR_CLASS_MISMATCH";
    case 0xE0000202: return "ERROR_DUPLICATE_FOUND";
    case 0xE0000203: return "ERROR_NO_DRIVER_SELECTED";
    case 0xE0000204: return "ERROR_KEY_DOES_NOT_EXIST";
    case 0xE0000205: return "ERROR_INVALID_DEVINST_NAME";
    case 0xE0000206: return "ERROR_INVALID_CLASS";
    case 0xE0000207: return "ERROR_DEVINST_ALREADY_EXISTS";
    case 0xE0000208: return "ERROR_DEVINFO_NOT_REGISTERED";
    case 0xE0000209: return "ERROR_INVALID_REG_PROPERTY";
    case 0xE000020A: return "ERROR_NO_INF";
    case 0xE000020B:
        return "The HardwareId does not match any device on the machine.\nYour printer seems not to be connected.";
    case 0xE000020C: return "ERROR_CANT_LOAD_CLASS_ICON";
    case 0xE000020D: return "ERROR_INVALID_CLASS_INSTALLER";
    case 0xE000020E: return "ERROR_DI_DO_DEFAULT";
    case 0xE000020F: return "ERROR_DI_NOFILECOPY";
    case 0xE0000210: return "ERROR_INVALID_HWPROFILE";
    case 0xE0000211: return "ERROR_NO_DEVICE_SELECTED";
    case 0xE0000212: return "ERROR_DEVINFO_LIST_LOCKED";
    case 0xE0000213: return "ERROR_DEVINFO_DATA_LOCKED";
    case 0xE0000214: return "ERROR_DI_BAD_PATH";
    case 0xE0000215: return "ERROR_NO_CLASSINSTALL_PARAMS";
    case 0xE0000216: return "ERROR_FILEQUEUE_LOCKED";
    case 0xE0000217: return "ERROR_BAD_SERVICE_INSTALLSECT";
    case 0xE0000218: return "ERROR_NO_CLASS_DRIVER_LIST";
    default:
        if (code >= 0xE0000219 && code <= 0xE000022C)
            return "ERROR_NO_ASSOCIATED_CLASS";
        return nullptr;
    }
}

bool IsPrinterInstance(HDEVINFO set, SP_DEVINFO_DATA& device) {
    char instanceId[kDeviceTextSize] = {};
    if (!SetupDiGetDeviceInstanceIdA(set, &device, instanceId, sizeof instanceId, nullptr))
        return false;
    return std::strncmp(instanceId, kUsbPrinterHardwareId, std::strlen(kUsbPrinterHardwareId)) == 0;
}

LONG InstallFromInformationFile(const std::string& path) {
    if (UpdateDriverForPlugAndPlayDevicesA(nullptr, kUpdateHardwareId, path.c_str(), INSTALLFLAG_FORCE, nullptr))
        return 0;
    const DWORD code = GetLastError();
    if (const char* text = InstallFailureText(code))
        marquen::window::MessageBoxA(nullptr, text, "Quorlink", marquen::window::MB_OK);
    return static_cast<LONG>(code);
}

LONG InstallByDescription(std::string_view description) {
    LONG result = 0;
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
    if (set == kInvalidSet)
        return 0;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    bool stop = false;
    for (DWORD index = 0; !stop && SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        if (!IsPrinterInstance(set, device))
            continue;
        if (!SetupDiSetSelectedDevice(set, &device))
            break;
        if (!SetupDiBuildDriverInfoList(set, &device, SPDIT_COMPATDRIVER))
            continue;
        SP_DRVINFO_DATA_A driver{};
        driver.cbSize = sizeof driver;
        for (DWORD member = 0; !stop && SetupDiEnumDriverInfoA(set, &device, SPDIT_COMPATDRIVER, member, &driver);
             ++member) {
            if (std::strncmp(driver.Description, description.data(), description.size()) != 0)
                continue;
            if (!SetupDiSetSelectedDriverA(set, &device, &driver)) {
                stop = true;
                break;
            }
            DWORD reboot = 0;
            result = InstallSelectedDriver(nullptr, set, "", TRUE, &reboot);
            // Success ends everything; a failure goes on with the next device.
            stop = result != 0;
            break;
        }
        SetupDiDestroyDriverInfoList(set, &device, SPDIT_COMPATDRIVER);
    }
    SetupDiDestroyDeviceInfoList(set);
    return result;
}

}  // namespace

UsbSearchResult SearchUsbPrinter() {
    UsbSearchResult result;
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
    if (set == kInvalidSet)
        return result;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        if (!IsPrinterInstance(set, device))
            continue;
        char description[kDeviceTextSize] = {};
        std::string text = kUnknownDevice;
        if (SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_DEVICEDESC, nullptr,
                                              reinterpret_cast<BYTE*>(description), sizeof description - 1,
                                              nullptr))
            text = description;
        result.found = true;
        if (text.find(kMakerWord) == std::string::npos)
            result.text = text;
        break;
    }
    SetupDiDestroyDeviceInfoList(set);
    return result;
}

LONG UpdateUsbDriver(std::string_view location) {
    if (location.find(kUsbDriverInfFile) != std::string_view::npos)
        return InstallFromInformationFile(std::string(location));
    return InstallByDescription(location);
}

}  // namespace quorlink
