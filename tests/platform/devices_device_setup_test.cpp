// Device setup's device instances, driver lists and driver installation, and
// the hot-plug broadcasts, against the virtual USB printer: each case runs
// under `vprinter --usb ... --` (CMake registers it with the printer it
// needs) and skips elsewhere. The description rules run anywhere.
#include "devices/device_setup.h"
#include "devices/usb_bus.h"
#include "devices/usb_hotplug.h"
#include "kernel/last_error.h"
#include "usbio.h"
#include "window/device_notify.h"
#include "window_test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

using namespace marquen::devices;
using namespace window_testing;

namespace {

const HDEVINFO kInvalidSet = reinterpret_cast<HDEVINFO>(~uintptr_t{0});

bool InTestbed() { return std::getenv("UMOCKDEV_DIR") != nullptr; }

std::string InformationFile() {
    const char* bin = std::getenv("MARQUEN_BIN_DIR");
    return std::string(bin ? bin : ".") + "/USB Driver/vantrex.inf";
}

// The maker's printer in a fresh set of every device; its set and data.
struct PrinterInSet {
    HDEVINFO set = kInvalidSet;
    SP_DEVINFO_DATA device{};
    bool found = false;

    PrinterInSet() {
        set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
        device.cbSize = sizeof device;
        for (DWORD i = 0; set != kInvalidSet && SetupDiEnumDeviceInfo(set, i, &device); ++i) {
            if (InstanceId().rfind("USB\\VID_F5A7&PID_A000\\", 0) == 0) {
                found = true;
                return;
            }
        }
    }
    ~PrinterInSet() { SetupDiDestroyDeviceInfoList(set); }

    std::string InstanceId() {
        char id[264] = {};
        return SetupDiGetDeviceInstanceIdA(set, &device, id, sizeof id, nullptr) ? id : "";
    }
    std::string Description() {
        char text[264] = {};
        return SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_DEVICEDESC, nullptr,
                                                 reinterpret_cast<BYTE*>(text), sizeof text, nullptr)
                   ? text
                   : "(unreadable)";
    }
    std::vector<std::string> Drivers() {
        std::vector<std::string> names;
        EXPECT_TRUE(SetupDiBuildDriverInfoList(set, &device, SPDIT_COMPATDRIVER));
        SP_DRVINFO_DATA_A driver{};
        driver.cbSize = sizeof driver;
        for (DWORD i = 0; SetupDiEnumDriverInfoA(set, &device, SPDIT_COMPATDRIVER, i, &driver); ++i)
            names.push_back(driver.Description);
        return names;
    }
    /// Selects the device and the driver of the list named `description`,
    /// and installs it.
    BOOL Install(const std::string& description) {
        EXPECT_TRUE(SetupDiSetSelectedDevice(set, &device));
        EXPECT_TRUE(SetupDiBuildDriverInfoList(set, &device, SPDIT_COMPATDRIVER));
        SP_DRVINFO_DATA_A driver{};
        driver.cbSize = sizeof driver;
        for (DWORD i = 0; SetupDiEnumDriverInfoA(set, &device, SPDIT_COMPATDRIVER, i, &driver); ++i) {
            if (description == driver.Description) {
                EXPECT_TRUE(SetupDiSetSelectedDriverA(set, &device, &driver));
                DWORD reboot = 7;
                BOOL done = InstallSelectedDriver(nullptr, set, "", TRUE, &reboot);
                EXPECT_EQ(reboot, 0u);
                return done;
            }
        }
        ADD_FAILURE() << description << " is not in the list";
        return FALSE;
    }
};

TEST(DeviceSetup, TheDescriptionIsTheBoundDriversOrNone) {
    UsbDeviceInstance printer;
    printer.vendorId = USBIO_VENDOR_ID;
    printer.productId = USBIO_PRODUCT_ID;
    UsbDeviceInstance other;
    other.vendorId = 0x1234;
    EXPECT_EQ(DescribeDriver(printer, {true, ""}), std::optional<std::string>("Vantrex USB Driver"));
    EXPECT_EQ(DescribeDriver(printer, {true, "usbfs"}), std::optional<std::string>("Vantrex USB Driver"))
        << "a program using it through libusb is no kernel driver";
    EXPECT_EQ(DescribeDriver(printer, {true, "usblp"}), std::optional<std::string>("USB Printing Support"));
    EXPECT_EQ(DescribeDriver(other, {true, ""}), std::optional<std::string>("USB Device"));
    EXPECT_EQ(DescribeDriver(printer, {false, ""}), std::nullopt) << "unreadable";
    printer.portPath = "1-2.3";
    EXPECT_EQ(InterfacePath(printer), "\\\\?\\usb#vid_f5a7&pid_a000#1-2.3#{6f1c2a94-3b7e-4d05-8a6c-e2b91f4d7035}");
}

TEST(DeviceSetup, BadHandlesAndBuffersAreRefused) {
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    EXPECT_FALSE(SetupDiEnumDeviceInfo(reinterpret_cast<HDEVINFO>(0x1234), 0, &device));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
    ASSERT_NE(set, kInvalidSet);
    device.cbSize = 3;
    EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 0, &device));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_USER_BUFFER);
    device.cbSize = sizeof device;
    EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 100000, &device));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
    device.DevInst = 100000;
    char id[8];
    EXPECT_FALSE(SetupDiGetDeviceInstanceIdA(set, &device, id, sizeof id, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_NO_SUCH_DEVINST);
    EXPECT_FALSE(InstallSelectedDriver(nullptr, set, "", TRUE, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_NO_DEVICE_SELECTED);
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
    EXPECT_FALSE(SetupDiDestroyDeviceInfoList(set));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(DeviceSetup, WithoutTheInformationFileNothingIsInstalled) {
    EXPECT_FALSE(UpdateDriverForPlugAndPlayDevicesA(nullptr, "USB\\Vid_f5a7&Pid_a000", "/nowhere/vantrex.inf",
                                                    INSTALLFLAG_FORCE, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    if (InTestbed())
        return;
    EXPECT_FALSE(UpdateDriverForPlugAndPlayDevicesA(nullptr, "USB\\Vid_f5a7&Pid_a000", InformationFile().c_str(),
                                                    INSTALLFLAG_FORCE, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_NO_SUCH_DEVINST);
}

TEST(DeviceSetup, ThePrinterAsADeviceInstance) {
    if (!InTestbed())
        GTEST_SKIP() << "runs under vprinter --usb";
    PrinterInSet printer;
    ASSERT_TRUE(printer.found);
    const char* serial = std::getenv("EXPECTED_SERIAL");
    EXPECT_EQ(printer.InstanceId(), std::string("USB\\VID_F5A7&PID_A000\\") + (serial ? serial : "VP0000001"));
    char ids[128] = {};
    DWORD type = 0, size = 0;
    ASSERT_TRUE(SetupDiGetDeviceRegistryPropertyA(printer.set, &printer.device, SPDRP_HARDWAREID, &type,
                                                  reinterpret_cast<BYTE*>(ids), sizeof ids, &size));
    EXPECT_EQ(type, REG_MULTI_SZ);
    EXPECT_EQ(std::string(ids, size), std::string("USB\\VID_F5A7&PID_A000&REV_0100\0USB\\VID_F5A7&PID_A000\0\0", 54));
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyA(printer.set, &printer.device, SPDRP_HARDWAREID, &type,
                                                   reinterpret_cast<BYTE*>(ids), 10, &size));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(size, 54u);
    EXPECT_EQ(printer.Drivers(), (std::vector<std::string>{"Vantrex USB Driver", "USB Printing Support"}));
}

TEST(DeviceSetup, InstallingEitherDriverMovesThePrinter) {
    if (!InTestbed())
        GTEST_SKIP() << "runs under vprinter --usb --usb-kernel-driver usblp";
    EXPECT_EQ(PrinterInSet().Description(), "USB Printing Support");
    EXPECT_TRUE(PrinterInSet().Install("Vantrex USB Driver"));
    EXPECT_EQ(PrinterInSet().Description(), "Vantrex USB Driver");
    EXPECT_TRUE(PrinterInSet().Install("USB Printing Support"));
    EXPECT_EQ(PrinterInSet().Description(), "USB Printing Support");

    const std::string file = InformationFile();
    ASSERT_TRUE(UpdateDriverForPlugAndPlayDevicesA(nullptr, "usb\\vid_f5a7&pid_a000", file.c_str(), 0, nullptr))
        << "hardware ids compare ignoring case";
    EXPECT_EQ(PrinterInSet().Description(), "Vantrex USB Driver");
    // Already there, not forced: "not better than the current driver".
    EXPECT_FALSE(UpdateDriverForPlugAndPlayDevicesA(nullptr, "USB\\Vid_f5a7&Pid_a000", file.c_str(), 0, nullptr));
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_TRUE(UpdateDriverForPlugAndPlayDevicesA(nullptr, "USB\\Vid_f5a7&Pid_a000", file.c_str(),
                                                   INSTALLFLAG_FORCE, nullptr));
    EXPECT_FALSE(UpdateDriverForPlugAndPlayDevicesA(nullptr, "USB\\Vid_0001&Pid_0002", file.c_str(),
                                                    INSTALLFLAG_FORCE, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_NO_SUCH_DEVINST);
}

TEST(DeviceSetup, RemovalAndArrivalAreBroadcast) {
    if (!InTestbed())
        GTEST_SKIP() << "runs under vprinter --usb --usb-unplug-after MS --usb-replug-after MS";
    Recorder recorder;
    HWND window = MakeWindow(recorder);
    DEV_BROADCAST_DEVICEINTERFACE filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = ToDeviceClassGuid(USBIO_INTERFACE_CLASS);
    HDEVNOTIFY registration = RegisterDeviceNotification(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    ASSERT_NE(registration, nullptr);
    ASSERT_TRUE(WatchUsbDevices());
    // Held by usblp when it comes back: taken over because the maker's
    // driver was installed in this process, and only then announced.
    ASSERT_TRUE(PrinterInSet().Install("Vantrex USB Driver"));
    ASSERT_TRUE(PumpUntil([&] { return recorder.Count(WM_DEVICECHANGE) >= 2; }, 20000));
    auto changes = recorder.Of(WM_DEVICECHANGE);
    EXPECT_EQ(changes[0].wParam, DBT_DEVICEREMOVECOMPLETE);
    EXPECT_EQ(changes[1].wParam, DBT_DEVICEARRIVAL);
    for (const Received& change : changes) {
        ASSERT_GT(change.record.size(), offsetof(DEV_BROADCAST_DEVICEINTERFACE, dbcc_name));
        DWORD type = 0;
        DeviceClassGuid guid;
        std::memcpy(&type, change.record.data() + offsetof(DEV_BROADCAST_DEVICEINTERFACE, dbcc_devicetype),
                    sizeof type);
        std::memcpy(&guid, change.record.data() + offsetof(DEV_BROADCAST_DEVICEINTERFACE, dbcc_classguid),
                    sizeof guid);
        EXPECT_EQ(type, DBT_DEVTYP_DEVICEINTERFACE);
        EXPECT_TRUE(guid == filter.dbcc_classguid);
        std::string name(reinterpret_cast<const char*>(change.record.data()) +
                         offsetof(DEV_BROADCAST_DEVICEINTERFACE, dbcc_name));
        EXPECT_EQ(name.rfind(USBIO_INTERFACE_PATH_PREFIX, 0), 0u) << name;
    }
    EXPECT_EQ(PrinterInSet().Description(), "Vantrex USB Driver");
    UnregisterDeviceNotification(registration);
    DestroyWindow(window);
}

}  // namespace
