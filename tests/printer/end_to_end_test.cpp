// End to end: the application object with its real communication client
// (libquorlink.so created by class id from a registry in a scratch folder)
// and the "Download" page, talking to the virtual printer on a
// pseudo-terminal that the port map names COM7. The page's windows are the
// recording fakes; the test thread pumps the object's events.
#include "app_test_util.h"
#include "event_pump.h"
#include "page_test_util.h"
#include "virtual_printer.h"

#include <dlfcn.h>

#include <cstdlib>

using comm_testing::Bytes;
using namespace page_testing;
using std::chrono::milliseconds;
namespace strings = printer_strings;

namespace {

// Generous: the machines running the suite are shared and slow.
constexpr milliseconds kEventTimeout{20000};

const doc_testing::DotRule kPattern = [](uint32_t x, uint32_t y) { return (x * 7 + y * 3) % 11 < 4; };

/// An environment variable set for the object's life, restored after.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const std::string& value) : m_name(name)
    {
        if (const char* old = std::getenv(name))
            m_old = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnvironment()
    {
        if (m_old)
            ::setenv(m_name, m_old->c_str(), 1);
        else
            ::unsetenv(m_name);
    }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

/// The application object as the program runs it, with the main frame replaced
/// by the fake view, and the port and time-outs set before the connection.
class EndToEndApp : public CMarquenApp {
public:
    EndToEndApp(IMessageBox& messageBox, testing_support::FakeDocumentWindows& windows)
        : CMarquenApp(messageBox), m_windows(windows)
    {
    }
    std::function<void(CMarquenApp&)> beforeConnect;

    void ConnectPrinter() override
    {
        if (beforeConnect)
            beforeConnect(*this);
        CMarquenApp::ConnectPrinter();
    }

protected:
    bool CreateMainFrame(CMarquenDoc& doc) override
    {
        m_windows.Attach(doc);
        return true;
    }

private:
    testing_support::FakeDocumentWindows& m_windows;
};

void RegisterServer()
{
    std::filesystem::path module = testing_support::BinaryDir() / "libquorlink.so";
    void* handle = ::dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << ::dlerror();
    auto reg = reinterpret_cast<HRESULT (*)()>(::dlsym(handle, "DllRegisterServer"));
    ASSERT_NE(reg, nullptr);
    EXPECT_EQ(reg(), S_OK);
    ::dlclose(handle);
}

class EndToEndTest : public ::testing::Test {
protected:
    EndToEndTest()
        : config("XDG_CONFIG_HOME", (dir / "config").string()), portMap("QUORLINK_PORT_MAP", (dir / "ports").string())
    {
    }

    void SetUp() override
    {
        std::filesystem::create_directories(dir / "config");
        RegisterServer();
        std::string error;
        ASSERT_TRUE(printer.Start(error)) << error;
        testing_support::WriteFileBytes(dir / "ports", ToBytes("COM7=" + printer.SlavePath() + "\n"));
        StartApp(1);
    }

    void TearDown() override
    {
        if (app) {
            app->SetCommView(nullptr);
            page.reset();
            app->ExitInstance();
            app.reset();
        }
        printer.Stop();
    }

    static Bytes ToBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

    /// Starts the application on COM7 with the given "Version" and creates its page.
    void StartApp(int version, int readTimeout = 5000)
    {
        app = std::make_unique<EndToEndApp>(messages, windows);
        app->SetProfilePath((dir / "config/Marquen.conf").string());
        app->beforeConnect = [version, readTimeout](CMarquenApp& a) {
            a.m_nPort = 6;
            a.m_nVersion = version;
            a.m_nReadTimeout = readTimeout;
        };
        ASSERT_TRUE(app->InitInstance());
        ASSERT_TRUE(app->IsPortOpen());
        page = std::make_unique<CDownloadPage>(*app, controls, memoryDialog);
        forward = std::make_unique<CDownloadPageMessages>(*page);
        app->SetCommView(forward.get());
        messages.shown.clear();
    }

    void OpenPicture(uint32_t width, uint32_t height)
    {
        std::filesystem::path file = dir / "picture.bmp";
        testing_support::WriteFileBytes(file, doc_testing::MakeBmp(width, height, kPattern));
        ASSERT_NE(app->OpenDocumentFile(file.string()), nullptr);
        messages.shown.clear();
    }

    /// Download of the open picture into slot, to its end.
    void Download(int slot)
    {
        controls.selection = slot;
        page->OnDownload();
        ASSERT_TRUE(page->HasTransferArray()) << ::testing::PrintToString(messages.Texts());
        ASSERT_TRUE(PumpMessagesUntil([&] { return !page->HasTransferArray(); }, kEventTimeout));
    }

    bool PumpUntil(const std::function<bool()>& done) { return PumpMessagesUntil(done, kEventTimeout); }

    testing_support::TempDir dir;
    ScopedEnvironment config;
    ScopedEnvironment portMap;
    vprinter::VirtualPrinter printer;
    testing_support::RecordingMessageBox messages;
    testing_support::FakePictureInfoPage infoPage;
    testing_support::FakeDocumentWindows windows{infoPage};
    FakePageControls controls;
    FakeMemoryDialog memoryDialog;
    std::unique_ptr<EndToEndApp> app;
    std::unique_ptr<CDownloadPage> page;
    std::unique_ptr<CDownloadPageMessages> forward;
};

TEST_F(EndToEndTest, DownloadIsStoredWithTheRightChecksum)
{
    OpenPicture(64, 40);
    Download(5);
    EXPECT_TRUE(messages.shown.empty()) << messages.Texts().front();
    EXPECT_EQ(controls.progress, 100);
    EXPECT_EQ(controls.texts[IDC_DOWNLOAD], "Download");
    vprinter::PrinterModel model = printer.Snapshot();
    ASSERT_TRUE(model.Slot(5).stored);
    EXPECT_EQ(model.Slot(5).checksum, page->m_wChecksum);
    EXPECT_EQ(model.Slot(5).stream.size(), 4u + 8 * 5 * 8);
    EXPECT_EQ(model.CommandCount(vprinter::Command::LogoStatus), 1u);
    EXPECT_EQ(controls.texts[IDC_FREE_MEMORY], std::to_string(model.FreeLogoBytes()));
}

TEST_F(EndToEndTest, TheThreeVerdictsOfTheChecksumCheck)
{
    OpenPicture(64, 40);
    printer.WithModel([](vprinter::PrinterModel& model) { model.Faults().corruptChecksum = true; });
    Download(1);
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{strings::kChecksumWrong});

    // A logo area too small for the logo: the printer keeps nothing.
    messages.shown.clear();
    printer.WithModel([](vprinter::PrinterModel& model) {
        model.Faults().corruptChecksum = false;
        model.ClearSlot(1);
        EXPECT_TRUE(model.SetLogoAreaKbytes(0));
    });
    Download(2);
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{strings::kLogoNotDownloaded});
}

TEST_F(EndToEndTest, ALostLogoStatusReplyIsACommunicationFailure)
{
    app->ExitInstance();
    page.reset();
    StartApp(1, 800);
    OpenPicture(16, 16);
    printer.WithModel([](vprinter::PrinterModel& model) {
        model.Faults().dropRepliesOf[static_cast<size_t>(vprinter::Command::LogoStatus)] = true;
    });
    Download(3);
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{strings::kCommunicationFailure});
}

TEST_F(EndToEndTest, AbortDuringAPacedDownload)
{
    printer.SetPacing(9600, false);
    OpenPicture(576, 240);  // 17 284 bytes: 18 s of line at 9600 baud
    controls.selection = 8;
    page->OnDownload();
    ASSERT_TRUE(PumpUntil([&] { return controls.progress > 0 && controls.progress < 100; }));
    EXPECT_EQ(controls.texts[IDC_DOWNLOAD], "Abort");
    page->OnDownload();
    EXPECT_EQ(controls.progress, 0);
    EXPECT_EQ(controls.texts[IDC_DOWNLOAD], "Download");
    EXPECT_EQ(controls.EnabledTransferControls().size(), 11u);
    EXPECT_FALSE(page->HasTransferArray());
    size_t events = controls.progressHistory.size();
    PumpMessagesFor(milliseconds(600));
    EXPECT_EQ(controls.progressHistory.size(), events);  // no progress after the abort
    EXPECT_EQ(printer.Snapshot().DefineCount(8), 0u);
    // The printer still waits for the rest of the logo, and the user is told.
    EXPECT_GT(printer.Snapshot().DefineBytesAwaited(), 0u);
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{printer_strings::kPrinterAwaitsLogoRest});
}

TEST_F(EndToEndTest, UploadGivesBackTheDownloadedPicture)
{
    OpenPicture(576, 240);
    Download(4);
    ASSERT_TRUE(messages.shown.empty());
    const Bytes original = doc_testing::MakeBits(576, 240, kPattern);
    // Another picture on display, so that the one shown next can only be the upload.
    OpenPicture(8, 8);
    controls.progressHistory.clear();
    std::vector<std::vector<int>> enabledWhile;

    page->OnUpload();
    ASSERT_TRUE(PumpUntil([&] {
        if (controls.progress > 0 && controls.progress < 100)
            enabledWhile.push_back(controls.EnabledTransferControls());
        return !controls.progressHistory.empty() && controls.progressHistory.back() == 100;
    }));
    EXPECT_TRUE(messages.shown.empty()) << messages.Texts().front();
    const PictureFile* input = app->GetDocument()->GetInput();
    ASSERT_NE(input, nullptr);
    EXPECT_EQ(input->Width(), 576u);
    EXPECT_EQ(input->Height(), 240u);
    EXPECT_EQ(Bytes(input->Bits().begin(), input->Bits().end()), original);

    // Idle at 0, busy in between, idle at 100.
    const std::vector<int>& history = controls.progressHistory;
    ASSERT_GE(history.size(), 3u);
    EXPECT_EQ(history.front(), 0);
    EXPECT_EQ(history.back(), 100);
    for (size_t i = 1; i + 1 < history.size(); ++i) {
        EXPECT_GT(history[i], history[i - 1]);
        EXPECT_LT(history[i], 100);
    }
    for (const std::vector<int>& enabled : enabledWhile)
        EXPECT_TRUE(enabled.empty());
    EXPECT_EQ(controls.EnabledTransferControls().size(), 11u);
    EXPECT_EQ(controls.texts[IDC_UPLOAD], "Upload");
    EXPECT_FALSE(app->IsUploadInProgress());
}

TEST_F(EndToEndTest, UploadOfAnEmptySlot)
{
    controls.selection = 200;
    page->OnUpload();
    ASSERT_TRUE(PumpUntil([&] { return !messages.shown.empty(); }));
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{strings::kNoLogoAtLocation});
    EXPECT_EQ(controls.EnabledTransferControls().size(), 11u);
}

TEST_F(EndToEndTest, EraseReturnsToIdleOnThePrintersAnswer)
{
    OpenPicture(16, 16);
    Download(6);
    page->OnErase();
    EXPECT_EQ(controls.EnabledTransferControls(), std::vector<int>{IDC_ERASE});
    ASSERT_TRUE(PumpUntil([&] { return controls.texts[IDC_ERASE] == "Erase"; }));
    EXPECT_EQ(controls.EnabledTransferControls().size(), 11u);
    vprinter::PrinterModel model = printer.Snapshot();
    EXPECT_FALSE(model.Slot(6).stored);
    EXPECT_EQ(controls.texts[IDC_FREE_MEMORY], std::to_string(model.FreeLogoBytes()));
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(EndToEndTest, PrintSendsTheCheckedSizeAfterSelectLogo)
{
    OpenPicture(16, 16);
    Download(9);
    const std::vector<int> radios = {IDC_X1H_X1W, IDC_X1H_X2W, IDC_X2H_X1W, IDC_X2H_X2W};
    for (int radio : radios) {
        controls.checkedRadio = radio;
        page->OnPrint();
    }
    ASSERT_TRUE(printer.WaitUntil([](const vprinter::PrinterModel& m) { return m.PrintLog().size() == 4; },
                                  kEventTimeout));
    vprinter::PrinterModel model = printer.Snapshot();
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(model.PrintLog()[i].slot, 9);
        EXPECT_EQ(model.PrintLog()[i].mode, i);
        EXPECT_TRUE(model.PrintLog()[i].stored);
    }
    // Each Print logo comes right after its Select logo.
    std::vector<vprinter::Command> order;
    for (const vprinter::CommandRecord& record : model.CommandLog())
        order.push_back(record.command);
    ASSERT_GE(order.size(), 8u);
    for (size_t i = order.size() - 8; i < order.size(); i += 2) {
        EXPECT_EQ(order[i], vprinter::Command::SelectLogo);
        EXPECT_EQ(order[i + 1], vprinter::Command::PrintLogo);
    }
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(EndToEndTest, MemoryQueriesAndSetupWithVersion1ThenVersion0)
{
    page->OnRefresh();
    EXPECT_EQ(page->m_nTotalMemory, 2048);
    EXPECT_EQ(controls.texts[IDC_TOTAL_MEMORY], "2048");
    EXPECT_EQ(controls.texts[IDC_LOGO_AREA], "256");
    EXPECT_EQ(controls.texts[IDC_FREE_MEMORY], "262144");

    memoryDialog.choices = {"320"};
    page->OnSetup();
    EXPECT_EQ(memoryDialog.sizes.size(), 21u);
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_EQ(printer.Snapshot().Config().logoAreaKbytes, 320u);
    EXPECT_EQ(controls.texts[IDC_LOGO_AREA], "320");

    // "Version" 0: the printer is asked for its free memory only.
    app->ExitInstance();
    page.reset();
    printer.WithModel([](vprinter::PrinterModel& model) { model.ClearHistory(); });
    controls = FakePageControls();
    StartApp(0);
    page->OnRefresh();
    vprinter::PrinterModel model = printer.Snapshot();
    EXPECT_EQ(model.CommandCount(vprinter::Command::ReadTotalMemory), 0u);
    EXPECT_EQ(model.CommandCount(vprinter::Command::ReadLogoArea), 0u);
    EXPECT_EQ(model.CommandCount(vprinter::Command::ReadFreeLogoMemory), 1u);
    EXPECT_EQ(controls.texts.count(IDC_TOTAL_MEMORY), 0u);
    EXPECT_EQ(controls.texts[IDC_FREE_MEMORY], "327680");
    memoryDialog.cancel = true;
    page->OnSetup();
    EXPECT_EQ(memoryDialog.sizes.size(), 17u);
}

TEST(EndToEndSettings, DefaultsOnAFirstRunAndEveryKeyAfterExit)
{
    testing_support::TempDir dir;
    ScopedEnvironment config("XDG_CONFIG_HOME", (dir / "config").string());
    ScopedEnvironment portMap("QUORLINK_PORT_MAP", (dir / "ports").string());
    std::filesystem::create_directories(dir / "config");
    RegisterServer();
    testing_support::WriteFileBytes(dir / "ports", Bytes{});

    testing_support::RecordingMessageBox messages;
    testing_support::FakePictureInfoPage infoPage;
    testing_support::FakeDocumentWindows windows(infoPage);
    std::string profile = (dir / "config/Marquen.conf").string();
    {
        EndToEndApp app(messages, windows);
        app.SetProfilePath(profile);
        ASSERT_TRUE(app.InitInstance());
        EXPECT_TRUE(app.m_pComm);
        EXPECT_EQ(app.m_nBaudRate, 115200);
        EXPECT_EQ(app.m_nFlowControl, 1);
        EXPECT_EQ(app.m_nReadTimeout, 20000);
        EXPECT_EQ(app.m_nWriteTimeout, 5000);
        EXPECT_EQ(app.m_crBackground, 0xFF0000u);
        EXPECT_EQ(app.m_nInterface, 0);
        EXPECT_EQ(app.m_nPort, 0);
        // COM1 is not in the (empty) port map: it stays closed, nothing is shown.
        EXPECT_FALSE(app.IsPortOpen());
        EXPECT_TRUE(messages.shown.empty());
        app.ExitInstance();
    }
    std::vector<std::pair<std::string, long>> entries = app_testing::ReadSection(profile);
    const std::vector<std::pair<std::string, long>> expected = {
        {"Interface", 0},      {"Port", 0},           {"Baud rate", 115200}, {"Parity", 0},
        {"Stop", 0},           {"Flow control", 1},   {"ReadTimeout", 20000}, {"WriteTimeout", 5000},
        {"Version", 0},        {"Backgound color", 0xFF0000},
        {"Host", -12345},  // text, empty: no integer (ReadSection's marker)
        {"TCP port", 9100}};
    EXPECT_EQ(entries, expected);
}

}  // namespace
