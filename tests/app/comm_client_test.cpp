// The communication client of the application object against a fake
// Communication object: creation and the sink's connection, the connection
// sequence with the settings, COM errors, the shutdown order, and the upload
// buffer.
#include "app_test_util.h"
#include "fake_communication.h"

using comm_testing::FakeCommunication;

namespace {

class CommApp : public CMarquenApp {
public:
    CommApp(IMessageBox& messageBox, FakeCommunication& comm) : CMarquenApp(messageBox), m_comm(comm) {}

    HRESULT createResult = S_OK;
    bool giveNothing = false;
    std::vector<std::string> statusShown;
    using CMarquenApp::ShutdownCommunication;

protected:
    HRESULT CreateCommunicationInstance(IUnknown** ppUnknown) override
    {
        *ppUnknown = nullptr;
        if (FAILED(createResult))
            return createResult;
        if (giveNothing)
            return S_OK;
        *ppUnknown = static_cast<ICommunication*>(&m_comm);
        m_comm.AddRef();
        return S_OK;
    }
    void ShowStatusText(const std::string& text) override { statusShown.push_back(text); }

private:
    FakeCommunication& m_comm;
};

class CommClientTest : public ::testing::Test {
protected:
    CommClientTest() : app(messages, comm) { app.SetProfilePath((dir / "Marquen.conf").string()); }

    testing_support::TempDir dir;
    FakeCommunication comm;
    testing_support::RecordingMessageBox messages;
    CommApp app;
};

TEST_F(CommClientTest, CreateCommunicationConnectsTheSink)
{
    ASSERT_TRUE(app.CreateCommunication());
    EXPECT_EQ(app.m_pComm.Get(), static_cast<ICommunication*>(&comm));
    ASSERT_NE(app.m_pSink, nullptr);
    EXPECT_EQ(app.m_pSink->m_dwCookie, comm.cookie);
    EXPECT_EQ(comm.sink, static_cast<IDispatch*>(app.m_pSink.get()));
    EXPECT_TRUE(messages.shown.empty());

    // A second run keeps the object and replaces the sink.
    ASSERT_TRUE(app.CreateCommunication());
    EXPECT_EQ(comm.calls, (std::vector<std::string>{"Advise", "Unadvise 4660", "Advise"}));
    EXPECT_EQ(comm.sink, static_cast<IDispatch*>(app.m_pSink.get()));
}

TEST_F(CommClientTest, ASinkThatCannotBeConnectedIsReportedAndStartUpGoesOn)
{
    comm.adviseResult = CONNECT_E_ADVISELIMIT;
    ASSERT_TRUE(app.CreateCommunication());
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{app_strings::kSinkNotConnected});
    ASSERT_NE(app.m_pSink, nullptr);
    EXPECT_EQ(app.m_pSink->m_dwCookie, CCommEventSink::kNotConnected);

    CommApp noPoint(messages, comm);
    comm.hasConnectionPoint = false;
    messages.shown.clear();
    EXPECT_TRUE(noPoint.CreateCommunication());
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{app_strings::kSinkNotConnected});
}

TEST_F(CommClientTest, AnObjectThatCannotBeCreatedEndsTheStartUp)
{
    app.createResult = REGDB_E_CLASSNOTREG;
    EXPECT_FALSE(app.InitInstance());
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].text, std::string("Failed to create ICommunication instance\n") +
                                          SystemMessageText(REGDB_E_CLASSNOTREG));
    EXPECT_EQ(messages.shown[0].icon, MessageIcon::Error);
    EXPECT_FALSE(app.HasMainWindow());
    EXPECT_FALSE(app.m_pComm);

    // A factory that hands out nothing fails the same way.
    CommApp empty(messages, comm);
    empty.giveNothing = true;
    messages.shown.clear();
    EXPECT_FALSE(empty.CreateCommunication());
    EXPECT_EQ(messages.shown.size(), 1u);
}

TEST_F(CommClientTest, TheRealFactoryFindsNoClassInAnEmptyRegistry)
{
    // The registry lives under XDG_CONFIG_HOME; this one is empty.
    const char* old = std::getenv("XDG_CONFIG_HOME");
    std::string saved = old != nullptr ? old : "";
    ::setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
    testing_support::RecordingMessageBox shown;
    {
        CMarquenApp real(shown);
        real.SetProfilePath((dir / "real.conf").string());
        EXPECT_FALSE(real.CreateCommunication());
    }
    if (old != nullptr)
        ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
    ASSERT_EQ(shown.shown.size(), 1u);
    EXPECT_EQ(shown.shown[0].text.rfind("Failed to create ICommunication instance\n", 0), 0u);
}

TEST_F(CommClientTest, ConnectPrinterAppliesTheSettingsAndOpensTheNamedPort)
{
    ASSERT_TRUE(app.CreateCommunication());
    comm.ClearRecords();
    app.m_nInterface = 0;
    app.m_nPort = 2;
    app.m_nBaudRate = 9600;
    app.m_nParity = 2;
    app.m_nStopBits = 1;
    app.m_nFlowControl = 3;
    app.m_nReadTimeout = 1500;
    app.m_nWriteTimeout = 700;
    app.ConnectPrinter();
    const std::vector<std::string> expected = {
        "get_Opened",     "put_Baudrate 9600", "put_Databits 8", "put_Parity 2", "put_Stopbits 1",
        "put_Handshaking 3", "SetTimeout 1500 700", "OpenPort COM3"};
    EXPECT_EQ(comm.calls, expected);

    // Open now: the next connection closes it first; Databits is 8 again.
    comm.ClearRecords();
    app.m_nInterface = 1;
    app.m_nPort = 0;
    app.ConnectPrinter();
    ASSERT_GE(comm.calls.size(), 3u);
    EXPECT_EQ(comm.calls[0], "get_Opened");
    EXPECT_EQ(comm.calls[1], "ClosePort");
    EXPECT_EQ(comm.calls[3], "put_Databits 8");
    EXPECT_EQ(comm.calls.back(), "OpenPort LPT1");
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(CommClientTest, UsbAndUnknownInterfacesOpenNothing)
{
    ASSERT_TRUE(app.CreateCommunication());
    for (int nInterface : {2, 7, -1}) {
        comm.ClearRecords();
        app.m_nInterface = nInterface;
        app.ConnectPrinter();
        EXPECT_EQ(std::count(comm.calls.begin(), comm.calls.end(), "OpenPort USB"), 0) << nInterface;
        for (const std::string& call : comm.calls)
            EXPECT_NE(call.rfind("OpenPort", 0), 0u) << call;
    }
}

TEST_F(CommClientTest, ANetworkPrinterIsOpenedByItsAddress)
{
    ASSERT_TRUE(app.CreateCommunication());
    app.m_nInterface = 3;
    app.m_strHost = "till-2.example";
    app.m_nTcpPort = 9101;
    comm.ClearRecords();
    app.ConnectPrinter();
    ASSERT_FALSE(comm.calls.empty());
    EXPECT_EQ(comm.calls.back(), "OpenPort TCP:till-2.example:9101");
    app.m_strHost = "fd00::12";
    app.ConnectPrinter();
    EXPECT_EQ(comm.calls.back(), "OpenPort TCP:[fd00::12]:9101");
    // No address yet: nothing is opened.
    app.m_strHost.clear();
    comm.ClearRecords();
    app.ConnectPrinter();
    for (const std::string& call : comm.calls)
        EXPECT_NE(call.rfind("OpenPort", 0), 0u) << call;
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(CommClientTest, TheStatusLineFollowsTheConnection)
{
    ASSERT_TRUE(app.InitInstance());
    // Before the main window exists the status line is left alone.
    EXPECT_TRUE(app.statusShown.empty());
    app.ConnectPrinter();
    ASSERT_FALSE(app.statusShown.empty());
    EXPECT_EQ(app.GetStatusText(), "Input picture displayed - Ready to communicate");
    comm.openSucceeds = false;
    app.ConnectPrinter();
    EXPECT_EQ(app.GetStatusText(), "Input picture displayed - Communication broken");
    // A failing Opened reads as closed; the status line never throws.
    comm.failures["get_Opened"] = E_UNEXPECTED;
    EXPECT_FALSE(app.IsPortOpen());
}

TEST_F(CommClientTest, ComErrorsOfTheConnectionAreShownNotThrown)
{
    ASSERT_TRUE(app.CreateCommunication());
    for (const char* member : {"get_Opened", "SetTimeout", "OpenPort"}) {
        comm.failures = {{member, E_ACCESSDENIED}};
        messages.shown.clear();
        EXPECT_NO_THROW(app.ConnectPrinter());
        ASSERT_EQ(messages.shown.size(), 1u) << member;
        EXPECT_NE(messages.shown[0].text.find(SystemMessageText(E_ACCESSDENIED)), std::string::npos);
        EXPECT_NE(messages.shown[0].text.find("0x80070005"), std::string::npos);
    }
    // Property puts are not examined.
    comm.failures = {{"put_Baudrate", E_INVALIDARG}};
    messages.shown.clear();
    comm.ClearRecords();
    app.ConnectPrinter();
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_EQ(comm.calls.back(), "OpenPort COM1");
}

TEST_F(CommClientTest, ShutdownReleasesTheBufferDisconnectsTheSinkAndClosesThePort)
{
    ASSERT_TRUE(app.InitInstance());
    app.StartUpload(100);
    comm.ClearRecords();
    app.ExitInstance();
    EXPECT_EQ(comm.calls, (std::vector<std::string>{"Unadvise 4660", "get_Opened", "ClosePort"}));
    EXPECT_FALSE(app.IsUploadInProgress());
    EXPECT_EQ(app.m_pSink, nullptr);
    EXPECT_TRUE(app.m_pComm);  // released only with the application object

    // A closed port is not closed again.
    comm.ClearRecords();
    app.ShutdownCommunication();
    EXPECT_EQ(comm.calls, std::vector<std::string>{"get_Opened"});
}

TEST_F(CommClientTest, TheObjectIsReleasedWithTheApplicationObject)
{
    ULONG before = comm.references;
    {
        CommApp shortLived(messages, comm);
        ASSERT_TRUE(shortLived.CreateCommunication());
        EXPECT_GT(comm.references, before);
    }
    EXPECT_EQ(comm.references, before);
    EXPECT_EQ(comm.sink, nullptr);  // its sink was disconnected first
}

TEST(UploadBufferTest, HoldsExactlyTheAnnouncedSize)
{
    testing_support::RecordingMessageBox messages;
    CMarquenApp app(messages);
    EXPECT_EQ(app.AppendUpload(reinterpret_cast<const uint8_t*>("abc"), 3), 0);  // no buffer
    EXPECT_EQ(app.GetUploadSize(), -1);
    EXPECT_EQ(app.GetUploadReceived(), -1);

    std::vector<uint8_t> bytes(3000, 0x5A);
    app.StartUpload(2000);
    EXPECT_EQ(app.AppendUpload(bytes.data(), 1023), 51);
    EXPECT_EQ(app.AppendUpload(bytes.data(), 500), 76);
    // Beyond the announced size: dropped, never written.
    EXPECT_EQ(app.AppendUpload(bytes.data(), 1500), 100);
    EXPECT_EQ(app.GetUploadReceived(), 2000);
    EXPECT_EQ(app.AppendUpload(bytes.data(), 10), 100);
    EXPECT_EQ(app.GetUploadReceived(), 2000);

    // A buffer of 0 bytes stores nothing and divides by nothing.
    app.StartUpload(0);
    EXPECT_TRUE(app.IsUploadInProgress());
    EXPECT_EQ(app.AppendUpload(bytes.data(), 10), 0);

    // The percentage of a large upload does not overflow 32 bits.
    const int large = 30'000'000;
    app.StartUpload(large);
    std::vector<uint8_t> block(1'000'000, 1);
    int percent = 0;
    for (int i = 0; i < 29; ++i)
        percent = app.AppendUpload(block.data(), block.size());
    EXPECT_EQ(percent, 96);

    app.StartUpload(-1);
    EXPECT_FALSE(app.IsUploadInProgress());
    EXPECT_EQ(app.GetUploadSize(), -1);
    EXPECT_EQ(app.GetUploadReceived(), -1);
}

}  // namespace
