// The USB branch of connecting the printer against a fake Communication
// object: the search's three outcomes, the switch question and its answers,
// a failed switch, a system where the program cannot switch, and the offer
// to switch back at exit.
#include "app_test_util.h"
#include "fake_communication.h"

using comm_testing::FakeCommunication;
using testing_support::RecordingMessageBox;

namespace {

const std::string kNotFound =
    "Your printer has not been found by the system. Please verify that your printer is well connected and powered "
    "on.";
const std::string kQuestion =
    "Your printer is well connected,but Marquen needs to switch from \"USB Printing Support\"  to \"Vantrex USB "
    "Driver\".\nYou will able to switch back to \"USB Printing Support\" at the end of the session.\nDo you want to "
    "continue ?";
const std::string kDeviceManager =
    "Your printer is well connected,but Marquen needs to switch from \"USB Printing Support\"  to \"Vantrex USB "
    "Driver\".\nYou can do that with the Device manager in the control panel";
const std::string kSwitchBack = "Do you want to re-load \"USB Printing Support\" driver ?";

class UsbApp : public CMarquenApp {
public:
    UsbApp(IMessageBox& messageBox, FakeCommunication& comm) : CMarquenApp(messageBox), m_comm(comm) {}
    bool windowsNT = true;
    using CMarquenApp::OfferDriverSwitchBack;

protected:
    HRESULT CreateCommunicationInstance(IUnknown** ppUnknown) override
    {
        *ppUnknown = static_cast<ICommunication*>(&m_comm);
        m_comm.AddRef();
        return S_OK;
    }
    bool IsWindowsNT() override { return windowsNT; }

private:
    FakeCommunication& m_comm;
};

class UsbSwitchTest : public ::testing::Test {
protected:
    UsbSwitchTest() : app(messages, comm)
    {
        app.SetProfilePath((dir / "Marquen.conf").string());
        app.m_nInterface = 2;
        app.m_strProgramDir = "/opt/marquen";
        EXPECT_TRUE(app.CreateCommunication());
    }

    size_t Count(const std::string& call) const { return std::count(comm.calls.begin(), comm.calls.end(), call); }
    bool OpenedAnything() const
    {
        for (const std::string& call : comm.calls)
            if (call.rfind("OpenPort", 0) == 0)
                return true;
        return false;
    }

    testing_support::TempDir dir;
    FakeCommunication comm;
    RecordingMessageBox messages;
    UsbApp app;
};

TEST_F(UsbSwitchTest, NoPrinterShowsTheNotFoundTextAndAsksNothingAtExit)
{
    app.ConnectPrinter();
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{kNotFound});
    EXPECT_EQ(messages.shown[0].buttons, MessageButtons::Ok);
    EXPECT_FALSE(OpenedAnything());
    app.OfferDriverSwitchBack();
    EXPECT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(Count("UpdateUSBDriver /opt/marquen/USB Driver/vantrex.inf"), 0u);
}

TEST_F(UsbSwitchTest, APrinterOnTheMakersDriverOpensAtOnce)
{
    comm.usbConnected = 1;
    app.ConnectPrinter();
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_EQ(comm.calls.back(), "OpenPort USB");
    EXPECT_TRUE(app.m_strPreviousDriver.empty());
}

TEST_F(UsbSwitchTest, CancelLeavesThePortClosedAndForgetsTheDriver)
{
    comm.usbConnected = 1;
    comm.usbDriver = "USB Printing Support";
    messages.answers.push_back(MessageAnswer::Cancel);
    app.ConnectPrinter();
    ASSERT_EQ(messages.Texts(), std::vector<std::string>{kQuestion});
    EXPECT_EQ(messages.shown[0].buttons, MessageButtons::OkCancel);
    EXPECT_EQ(messages.shown[0].icon, MessageIcon::Question);
    EXPECT_FALSE(OpenedAnything());
    EXPECT_TRUE(app.m_strPreviousDriver.empty());
    app.OfferDriverSwitchBack();
    EXPECT_EQ(messages.shown.size(), 1u);
}

TEST_F(UsbSwitchTest, OkSwitchesOpensAndOffersTheWayBackAtExit)
{
    comm.usbConnected = 1;
    comm.usbDriver = "USB Printing Support";
    app.ConnectPrinter();
    EXPECT_EQ(Count("UpdateUSBDriver /opt/marquen/USB Driver/vantrex.inf"), 1u);
    EXPECT_EQ(comm.calls.back(), "OpenPort USB");
    EXPECT_EQ(app.m_strPreviousDriver, "USB Printing Support");

    // Connecting again with the printer now on the maker's driver keeps the
    // driver to offer at exit.
    comm.usbDriver.clear();
    app.ConnectPrinter();
    EXPECT_EQ(app.m_strPreviousDriver, "USB Printing Support");

    comm.ClearRecords();
    messages.shown.clear();
    messages.answers.push_back(MessageAnswer::Yes);
    EXPECT_EQ(app.ExitInstance(), 0);
    ASSERT_EQ(messages.Texts(), std::vector<std::string>{kSwitchBack});
    EXPECT_EQ(messages.shown[0].buttons, MessageButtons::YesNo);
    ASSERT_EQ(Count("UpdateUSBDriver USB Printing Support"), 1u);
    // The port is closed before the question.
    auto close = std::find(comm.calls.begin(), comm.calls.end(), "ClosePort");
    auto update = std::find(comm.calls.begin(), comm.calls.end(), "UpdateUSBDriver USB Printing Support");
    EXPECT_LT(close, update);
}

TEST_F(UsbSwitchTest, NoAtExitLeavesTheDriver)
{
    comm.usbConnected = 1;
    comm.usbDriver = "USB Printing Support";
    app.ConnectPrinter();
    comm.ClearRecords();
    messages.answers.push_back(MessageAnswer::No);
    app.OfferDriverSwitchBack();
    EXPECT_EQ(Count("UpdateUSBDriver USB Printing Support"), 0u);
}

TEST_F(UsbSwitchTest, AFailedSwitchOpensNothingButKeepsTheDriverForExit)
{
    comm.usbConnected = 1;
    comm.usbDriver = "USB Printing Support";
    comm.updateResult = 2;
    app.ConnectPrinter();
    EXPECT_EQ(messages.shown.size(), 1u) << "no message of its own";
    EXPECT_FALSE(OpenedAnything());
    EXPECT_EQ(app.m_strPreviousDriver, "USB Printing Support");
}

TEST_F(UsbSwitchTest, AFailureTheServerDoesNotExplainIsExplainedHere)
{
    comm.usbConnected = 1;
    comm.usbDriver = "USB Printing Support";
    comm.updateResult = 5;  // no access to the device
    app.ConnectPrinter();
    ASSERT_EQ(messages.shown.size(), 2u);
    EXPECT_EQ(messages.shown[1].text,
              "Marquen could not switch your printer to \"Vantrex USB Driver\": Access is denied.");
    EXPECT_FALSE(OpenedAnything());
    // The server's own codes get no second message.
    comm.updateResult = static_cast<LONG>(0xE000020B);
    messages.shown.clear();
    app.ConnectPrinter();
    EXPECT_EQ(messages.shown.size(), 1u);
}

TEST_F(UsbSwitchTest, OutsideTheFamilyOnlyTheDeviceManagerTextIsShown)
{
    app.windowsNT = false;
    comm.usbConnected = 1;
    comm.usbDriver = "USB Printing Support";
    app.ConnectPrinter();
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{kDeviceManager});
    EXPECT_FALSE(OpenedAnything());
    EXPECT_EQ(Count("UpdateUSBDriver /opt/marquen/USB Driver/vantrex.inf"), 0u);
    app.OfferDriverSwitchBack();
    EXPECT_EQ(messages.shown.size(), 1u);
}

TEST_F(UsbSwitchTest, AFailingSearchIsReportedAsACommunicationError)
{
    comm.failures["SearchUSBVantrexPrinter"] = E_FAIL;
    app.ConnectPrinter();
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].icon, MessageIcon::Error);
    EXPECT_FALSE(OpenedAnything());
}

TEST_F(UsbSwitchTest, TheProgramAnswersThatItCanSwitchDrivers)
{
    RecordingMessageBox box;
    struct Probe : CMarquenApp {
        using CMarquenApp::CMarquenApp;
        using CMarquenApp::IsWindowsNT;
    };
    Probe probe(box);
    EXPECT_TRUE(probe.IsWindowsNT());
}

}  // namespace
