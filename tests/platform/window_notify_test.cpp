#include "window/device_notify.h"
#include "window_test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <thread>

using namespace window_testing;
using marquen::kernel::GetCurrentThreadId;

namespace {

const DeviceClassGuid kPrinterClass{0x873FDF, 0x61A8, 0x11D1, {0xAA, 0x5E, 0x00, 0xC0, 0x4F, 0xB1, 0x72, 0x8B}};
const DeviceClassGuid kOtherClass{0x12345678, 0x1, 0x2, {3, 4, 5, 6, 7, 8, 9, 10}};

DEV_BROADCAST_DEVICEINTERFACE FilterFor(const DeviceClassGuid& guid) {
    DEV_BROADCAST_DEVICEINTERFACE filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = guid;
    return filter;
}

// A device-interface record with its name, in freshly allocated memory that
// the broadcaster frees right after the call.
std::unique_ptr<std::vector<uint8_t>> RecordFor(const DeviceClassGuid& guid, const std::string& name) {
    auto bytes = std::make_unique<std::vector<uint8_t>>(offsetof(DEV_BROADCAST_DEVICEINTERFACE, dbcc_name) +
                                                         name.size() + 1);
    DEV_BROADCAST_DEVICEINTERFACE header = FilterFor(guid);
    header.dbcc_size = static_cast<DWORD>(bytes->size());
    std::memcpy(bytes->data(), &header, offsetof(DEV_BROADCAST_DEVICEINTERFACE, dbcc_name));
    std::memcpy(bytes->data() + offsetof(DEV_BROADCAST_DEVICEINTERFACE, dbcc_name), name.c_str(), name.size() + 1);
    return bytes;
}

TEST(WindowNotify, BroadcastReachesOnlyMatchingWindowsOnTheirThread) {
    Recorder printer, other, everything;
    HWND printerWindow = MakeWindow(printer);
    HWND otherWindow = MakeWindow(other);
    HWND anyWindow = MakeWindow(everything);
    auto printerFilter = FilterFor(kPrinterClass);
    auto otherFilter = FilterFor(kOtherClass);
    HDEVNOTIFY a = RegisterDeviceNotification(printerWindow, &printerFilter, DEVICE_NOTIFY_WINDOW_HANDLE);
    HDEVNOTIFY b = RegisterDeviceNotification(otherWindow, &otherFilter, DEVICE_NOTIFY_WINDOW_HANDLE);
    HDEVNOTIFY c = RegisterDeviceNotification(anyWindow, &otherFilter, DEVICE_NOTIFY_ALL_INTERFACE_CLASSES);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    ASSERT_NE(c, nullptr);

    std::thread usbLayer([&] {
        auto record = RecordFor(kPrinterClass, "/dev/bus/usb/001/004");
        EXPECT_EQ(BroadcastDeviceChange(DBT_DEVICEARRIVAL,
                                        reinterpret_cast<const DEV_BROADCAST_HDR*>(record->data())),
                  2u);
        record.reset();  // the windows get copies
    });
    usbLayer.join();
    ASSERT_TRUE(PumpUntil([&] { return printer.Count(WM_DEVICECHANGE) == 1 && everything.Count(WM_DEVICECHANGE) == 1; }));
    EXPECT_EQ(other.Count(WM_DEVICECHANGE), 0u);
    Received arrival = printer.Of(WM_DEVICECHANGE)[0];
    EXPECT_EQ(arrival.wParam, DBT_DEVICEARRIVAL);
    EXPECT_EQ(arrival.threadId, GetCurrentThreadId());
    ASSERT_GE(arrival.record.size(), sizeof(DEV_BROADCAST_DEVICEINTERFACE));
    DEV_BROADCAST_DEVICEINTERFACE seen;
    std::memcpy(&seen, arrival.record.data(), sizeof seen);
    EXPECT_EQ(seen.dbcc_devicetype, DBT_DEVTYP_DEVICEINTERFACE);
    EXPECT_TRUE(seen.dbcc_classguid == kPrinterClass);
    EXPECT_STREQ(reinterpret_cast<const char*>(arrival.record.data()) + offsetof(DEV_BROADCAST_DEVICEINTERFACE, dbcc_name),
                 "/dev/bus/usb/001/004");

    // After unregistering, and for a destroyed window, nothing more arrives.
    EXPECT_TRUE(UnregisterDeviceNotification(a));
    EXPECT_FALSE(UnregisterDeviceNotification(a));
    DestroyWindow(anyWindow);
    auto removal = RecordFor(kPrinterClass, "/dev/bus/usb/001/004");
    EXPECT_EQ(BroadcastDeviceChange(DBT_DEVICEREMOVECOMPLETE, reinterpret_cast<const DEV_BROADCAST_HDR*>(removal->data())),
              0u);
    PumpUntil([] { return false; }, 50);
    EXPECT_EQ(printer.Count(WM_DEVICECHANGE), 1u);

    // Null record: every registered window, lParam 0.
    EXPECT_EQ(BroadcastDeviceChange(0x0007, nullptr), 1u);
    ASSERT_TRUE(PumpUntil([&] { return other.Count(WM_DEVICECHANGE) == 1; }));
    EXPECT_EQ(other.Of(WM_DEVICECHANGE)[0].lParam, 0);
    UnregisterDeviceNotification(b);
    UnregisterDeviceNotification(c);
    DestroyWindow(printerWindow);
    DestroyWindow(otherWindow);
}

TEST(WindowNotify, BadFiltersAndRecordsAreRefused) {
    Recorder recorder;
    HWND window = MakeWindow(recorder);
    auto filter = FilterFor(kPrinterClass);
    filter.dbcc_devicetype = 3;
    EXPECT_EQ(RegisterDeviceNotification(window, &filter, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    filter = FilterFor(kPrinterClass);
    filter.dbcc_size = 12;
    EXPECT_EQ(RegisterDeviceNotification(window, &filter, 0), nullptr);
    filter = FilterFor(kPrinterClass);
    EXPECT_EQ(RegisterDeviceNotification(nullptr, &filter, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);

    DEV_BROADCAST_HDR tooSmall{4, DBT_DEVTYP_DEVICEINTERFACE, 0};
    EXPECT_EQ(BroadcastDeviceChange(DBT_DEVICEARRIVAL, &tooSmall), 0u);
    DEV_BROADCAST_HDR tooLarge{DEVICE_BROADCAST_MAX_SIZE + 1, DBT_DEVTYP_DEVICEINTERFACE, 0};
    EXPECT_EQ(BroadcastDeviceChange(DBT_DEVICEARRIVAL, &tooLarge), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    DestroyWindow(window);
}

}  // namespace
