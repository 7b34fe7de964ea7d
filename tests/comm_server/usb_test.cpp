// The USB search, both driver-switch modes, and the port closed on removal
// and reopened on arrival, through the real server. The cases that need a
// printer run under `vprinter --usb ... --` (CMake registers each with the
// printer it needs) and skip elsewhere; the ones about an absent printer run
// outside any testbed.
#include "comm_test_support.h"
#include "usb_driver_class.h"
#include "window/device_notify.h"
#include "window/message_box.h"

#include <cstdlib>

using namespace comm_testing;

namespace {

using marquen::window::SetMessageBoxPresenter;

constexpr LONG kNoSuchDevice = static_cast<LONG>(0xE000020B);
// Removal is seen within a second; arrival waits for the search, which
// finds a printer at once, and then reopens.
constexpr int kRemovalWaitMs = 10000;
constexpr int kArrivalWaitMs = 40000;

bool InTestbed() { return std::getenv("UMOCKDEV_DIR") != nullptr; }

class UsbServer : public CommServerTest {
protected:
    void SetUp() override {
        CommServerTest::SetUp();
        SetMessageBoxPresenter([this](const std::string& text, const std::string&, UINT) {
            std::lock_guard lock(m_shownLock);
            m_shown.push_back(text);
            return marquen::window::IDOK;
        });
    }
    void TearDown() override {
        SetMessageBoxPresenter({});
        CommServerTest::TearDown();
    }

    /// The search: connected, and the driver text.
    std::pair<LONG, std::string> Search() {
        BSTR driver = SysAllocStringUtf8("");
        LONG connected = -5;
        EXPECT_EQ(m_comm->SearchUSBVantrexPrinter(&driver, &connected), S_OK);
        Bstr text = Bstr::Adopt(driver);
        return {connected, text.Utf8()};
    }
    LONG Update(const std::string& location) {
        Bstr argument = Bstr::FromUtf8(location);
        LONG result = -5;
        EXPECT_EQ(m_comm->UpdateUSBDriver(argument.Get(), &result), S_OK);
        return result;
    }
    static std::string InformationFile() {
        return (testing_support::BinaryDir() / "USB Driver" / "vantrex.inf").string();
    }
    std::vector<std::string> Shown() {
        std::lock_guard lock(m_shownLock);
        return m_shown;
    }

    std::mutex m_shownLock;
    std::vector<std::string> m_shown;
};

TEST_F(UsbServer, WithoutAPrinterNothingIsFoundAndNothingSwitched) {
    if (InTestbed())
        GTEST_SKIP() << "runs outside the virtual USB printer";
    EXPECT_EQ(Search(), std::make_pair(LONG{0}, std::string()));
    EXPECT_EQ(Update(InformationFile()), kNoSuchDevice);
    EXPECT_EQ(Shown(), std::vector<std::string>{"The HardwareId does not match any device on the machine.\nYour "
                                                "printer seems not to be connected."});
    // A driver description: no printer, no success and no message.
    EXPECT_EQ(Update("USB Printing Support"), 0);
    EXPECT_EQ(Shown().size(), 1u);
    EXPECT_EQ(Open(L"USB"), 0);
}

TEST_F(UsbServer, SearchNamesTheKernelsPrinterDriver) {
    if (!InTestbed())
        GTEST_SKIP() << "runs under vprinter --usb --usb-kernel-driver usblp";
    EXPECT_EQ(Search(), std::make_pair(LONG{1}, std::string("USB Printing Support")));
}

TEST_F(UsbServer, SearchAnswersEmptyForTheMakersDriver) {
    if (!InTestbed())
        GTEST_SKIP() << "runs under vprinter --usb --usb-kernel-driver none";
    EXPECT_EQ(Search(), std::make_pair(LONG{1}, std::string()));
    EXPECT_EQ(Open(L"USB"), 1);
    // Opened by the maker's driver: still the maker's.
    EXPECT_EQ(Search(), std::make_pair(LONG{1}, std::string()));
}

TEST_F(UsbServer, BothSwitchModes) {
    if (!InTestbed())
        GTEST_SKIP() << "runs under vprinter --usb --usb-kernel-driver usblp";
    // The port cannot be opened while the kernel's driver holds the printer.
    EXPECT_EQ(Open(L"USB"), 0);

    EXPECT_EQ(Update(InformationFile()), 0);
    EXPECT_EQ(Search(), std::make_pair(LONG{1}, std::string()));
    EXPECT_EQ(Update(InformationFile()), 0) << "forced: a second install succeeds too";
    EXPECT_EQ(Open(L"USB"), 1);
    m_comm->ClosePort();

    EXPECT_NE(Update("USB Printing Support"), 0);
    EXPECT_EQ(Search(), std::make_pair(LONG{1}, std::string("USB Printing Support")));
    EXPECT_EQ(Update("Some Other Driver"), 0);
    EXPECT_TRUE(Shown().empty()) << "neither mode had anything to say so far";

    // The information file must be there; the path mode says so.
    EXPECT_EQ(Update("/nowhere/USB Driver/vantrex.inf"), 2);
    EXPECT_EQ(Shown(), std::vector<std::string>{"File not found"});
    EXPECT_EQ(Search(), std::make_pair(LONG{1}, std::string("USB Printing Support")));
}

TEST_F(UsbServer, RemovalClosesThePortAndArrivalReopensIt) {
    if (!InTestbed())
        GTEST_SKIP() << "runs under vprinter --usb --usb-unplug-after MS --usb-replug-after MS";
    // Plugged in again the printer is the kernel driver's; the switch made
    // in this process takes it over as it arrives.
    ASSERT_EQ(Update(InformationFile()), 0);
    ASSERT_EQ(Open(L"USB"), 1);
    ASSERT_TRUE(PumpUntil([&] { return Opened() == 0; }, kRemovalWaitMs)) << "the port stayed open after removal";
    EXPECT_EQ(Search().first, 0);
    ASSERT_TRUE(PumpUntil([&] { return Opened() == 1; }, kArrivalWaitMs)) << "the port was not reopened";
    EXPECT_EQ(Search(), std::make_pair(LONG{1}, std::string()));
    // The reopened port carries bytes (Select logo 0).
    LONG written = 0;
    EXPECT_EQ(Write({0x1D, 0x23, 0x00}, 0, std::nullopt, &written), -1);
    EXPECT_EQ(written, 3);
}

// Only the first object of the process registers for device changes; once
// it is gone nobody hears of them, not even an object made after it.
TEST_F(UsbServer, OnlyTheFirstObjectHearsOfDevices) {
    using namespace marquen::window;
    DEV_BROADCAST_DEVICEINTERFACE record{};
    record.dbcc_size = sizeof record;
    record.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    record.dbcc_classguid = GUID_CLASS_VANTREX_USB_DRIVER;
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(&record);

    ComPtr<ICommunication> second;
    ASSERT_EQ(CoCreateInstance(CLSID_Communication, nullptr, CLSCTX_INPROC_SERVER, IID_ICommunication,
                               second.PutVoid()),
              S_OK);
    EXPECT_EQ(BroadcastDeviceChange(0x0007, header), 1u) << "the first object only";
    m_point->Unadvise(m_cookie);
    m_point.Reset();
    m_comm.Reset();
    EXPECT_EQ(BroadcastDeviceChange(0x0007, header), 0u) << "withdrawn with the first object";
    ComPtr<ICommunication> third;
    ASSERT_EQ(CoCreateInstance(CLSID_Communication, nullptr, CLSCTX_INPROC_SERVER, IID_ICommunication,
                               third.PutVoid()),
              S_OK);
    EXPECT_EQ(BroadcastDeviceChange(0x0007, header), 0u) << "later objects do not register again";
}

}  // namespace
