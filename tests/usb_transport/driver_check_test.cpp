// The driver check, in a process where the maker's driver never registers.
#include "driver_check.h"
#include "fake_printer_driver.h"
#include "usb_test_support.h"

#include <gtest/gtest.h>

#include <memory>

using namespace tramline_test;

namespace {

TEST(DriverCheck, GenericDriverLoadedPostsEightOtherwiseSeven) {
    EXPECT_EQ(tramline::CheckDrivers({"usblp", "Vantrex.sys"}), 0u);
    EXPECT_EQ(tramline::CheckDrivers({"usbhid", "usblp"}), TRAMLINE_POST_GENERIC_DRIVER_LOADED);
    EXPECT_EQ(tramline::CheckDrivers({"usbhid", "vantrex.sys"}), TRAMLINE_POST_DRIVER_NOT_LOADED);
    EXPECT_EQ(tramline::CheckDrivers({}), TRAMLINE_POST_DRIVER_NOT_LOADED);
}

TEST(DriverCheck, ConnectWithoutTheMakersDriverFailsWithAPost) {
    FakePrinterDriver driver({MakerPrinter(false, "")}, /*registerDriverName=*/false);
    PostRecorder posts;
    std::unique_ptr<CCommInfo> info(GetNewUsbInfo(posts.window(), 1));
    int useInterruptOut = 0, hasIn = 0, hasOut = 0;
    EXPECT_EQ(info->Connect(0, 0, &useInterruptOut, &hasIn, &hasOut, 0, 0), 0);
    // This machine has no usblp: 7.
    auto names = tramline::ListLoadedDrivers();
    bool generic = std::find(names.begin(), names.end(), "usblp") != names.end();
    EXPECT_EQ(posts.Codes(), (std::vector<WPARAM>{generic ? TRAMLINE_POST_GENERIC_DRIVER_LOADED
                                                          : TRAMLINE_POST_DRIVER_NOT_LOADED}));
    EXPECT_EQ(info->Reconnect(nullptr, nullptr, nullptr, nullptr), 0);
    // Without the check the same printer connects.
    std::unique_ptr<CCommInfo> unchecked(GetNewUsbInfo(nullptr, 0));
    EXPECT_EQ(unchecked->Connect(0, 0, &useInterruptOut, &hasIn, &hasOut, 0, 0), 1);
}

}  // namespace
