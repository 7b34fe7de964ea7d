// The "Download" page against a fake Communication object: the bytes of every
// command, the busy/idle switch, progress, the checksum check, the memory
// queries and the size dialog, and what the user is shown.
#include "page_test_util.h"

#include "command_ids.h"

using comm_testing::Bytes;
using namespace page_testing;
namespace strings = printer_strings;

namespace {

const doc_testing::DotRule kAllBlack = [](uint32_t, uint32_t) { return true; };
const doc_testing::DotRule kDiagonal = [](uint32_t x, uint32_t y) { return x == y; };

const std::vector<int> kAllTransferControls = {IDC_LOGO_NUMBER, IDC_ERASE,   IDC_PRINT,  IDC_X1H_X1W,
                                               IDC_X1H_X2W,     IDC_X2H_X1W, IDC_X2H_X2W, IDC_SETUP,
                                               IDC_UPLOAD,      IDC_REFRESH, IDC_DOWNLOAD};

class DownloadPageTest : public PageFixture {
protected:
    /// The 8 x 8 all-black picture: its stream is 1D 2A 01 01 and eight FF.
    void StartDownloadOfBlackSquare(int logo)
    {
        OpenPicture(8, 8, kAllBlack);
        controls.selection = logo;
        page.OnDownload();
    }
    size_t CountCommand(const std::string& text) const
    {
        std::vector<std::string> sent = comm.Commands();
        return static_cast<size_t>(std::count(sent.begin(), sent.end(), text));
    }
};

TEST_F(DownloadPageTest, TransferStateTable)
{
    struct Row {
        bool idle;
        int button;
        std::vector<int> enabled;
        int captionId;
        std::string caption;
    };
    const std::vector<Row> rows = {
        {false, IDC_ERASE, {IDC_ERASE}, IDC_ERASE, "Abort"},
        {true, IDC_ERASE, kAllTransferControls, IDC_ERASE, "Erase"},
        {false, IDC_UPLOAD, {IDC_UPLOAD}, IDC_UPLOAD, "Abort"},
        {true, IDC_UPLOAD, kAllTransferControls, IDC_UPLOAD, "Upload"},
        {false, IDC_DOWNLOAD, {IDC_DOWNLOAD}, IDC_DOWNLOAD, "Abort"},
        {true, IDC_DOWNLOAD, kAllTransferControls, IDC_DOWNLOAD, "Download"},
        {false, IDC_NO_BUTTON, {}, IDC_UPLOAD, "Abort"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.idle) + " " + std::to_string(row.button));
        page.SetTransferState(row.idle, row.button);
        EXPECT_EQ(controls.EnabledTransferControls(), row.enabled);
        EXPECT_EQ(controls.texts[row.captionId], row.caption);
    }
    // Only the idle Erase reads the free memory, before its caption comes back.
    EXPECT_EQ(comm.Commands(), std::vector<std::string>{"1F 77 01"});

    // Idle with no button changes no caption.
    controls.texts[IDC_UPLOAD] = "Abort";
    page.SetTransferState(true, IDC_NO_BUTTON);
    EXPECT_EQ(controls.EnabledTransferControls(), kAllTransferControls);
    EXPECT_EQ(controls.texts[IDC_UPLOAD], "Abort");
}

TEST_F(DownloadPageTest, DownloadSendsSelectLogoThenTheStreamInPacketsAndChecksTheChecksum)
{
    StartDownloadOfBlackSquare(5);
    ASSERT_EQ(comm.writes.size(), 2u);
    EXPECT_EQ(comm.writes[0].bytes, (Bytes{0x1D, 0x23, 0x05}));
    EXPECT_EQ(comm.writes[0].arrayLength, 8u);
    EXPECT_EQ(comm.writes[0].packetSize, 0);
    const Bytes stream = {0x1D, 0x2A, 0x01, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(comm.writes[1].bytes, stream);
    EXPECT_EQ(comm.writes[1].arrayLength, stream.size());
    EXPECT_EQ(comm.writes[1].packetSize, 64);
    EXPECT_EQ(page.m_wChecksum, 0xF7BF);
    // Nothing changes until progress arrives; the array stays with the transfer.
    EXPECT_EQ(controls.EnabledTransferControls(), kAllTransferControls);
    EXPECT_TRUE(page.HasTransferArray());
    EXPECT_TRUE(messages.shown.empty());

    comm.Reply({0x00, 0x01, 0xBF, 0xF7});
    comm.Reply({'4', '0', '9', '6', 0x00});
    comm.RaiseProgress(100);
    ASSERT_EQ(comm.requests.size(), 2u);
    EXPECT_EQ(comm.requests[0].bytes, (Bytes{0x1F, 0x65, 0x05}));
    EXPECT_EQ(comm.requests[0].arrayLength, 4u);
    EXPECT_EQ(comm.requests[0].expected, 4);
    EXPECT_EQ(comm.requests[1].bytes, (Bytes{0x1F, 0x77, 0x01}));
    EXPECT_TRUE(messages.shown.empty()) << messages.Texts().front();
    EXPECT_EQ(controls.texts[IDC_FREE_MEMORY], "4096");
    EXPECT_EQ(controls.progress, 100);
    EXPECT_FALSE(page.HasTransferArray());
}

TEST_F(DownloadPageTest, ChecksumOutcomes)
{
    struct Case {
        Bytes reply;
        std::optional<LONG> read;
        std::vector<std::string> shown;
    };
    const std::vector<Case> cases = {
        {{0x00, 0x01, 0xBF, 0xF7}, std::nullopt, {}},
        {{0x00, 0x01, 0xBF, 0xF6}, std::nullopt, {strings::kChecksumWrong}},
        {{0x00, 0x01, 0xF7, 0xBF}, std::nullopt, {strings::kChecksumWrong}},
        // No logo stored: whatever bytes 2 and 3 hold.
        {{0x00, 0x00, 0xBF, 0xF7}, std::nullopt, {strings::kLogoNotDownloaded}},
        // A short reply is no reply: no byte of it is looked at.
        {{0x00, 0x00, 0xBF}, std::nullopt, {strings::kCommunicationFailure}},
        {{0x00, 0x01, 0xBF, 0xF7}, 3, {strings::kCommunicationFailure}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.reply));
        comm.ClearRecords();
        messages.shown.clear();
        StartDownloadOfBlackSquare(9);
        comm.replies.push_back(comm_testing::ScriptedReply{true, c.reply, c.read});
        comm.RaiseProgress(100);
        EXPECT_EQ(messages.Texts(), c.shown);
    }
    // No reply at all.
    messages.shown.clear();
    StartDownloadOfBlackSquare(9);
    comm.NoReply();
    comm.RaiseProgress(100);
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{strings::kCommunicationFailure});

    // A stream whose byte sum is a multiple of 65536 has checksum 0.
    const Bytes wrapping = {0x1D, 0x2A, 0x01, 0x01, 0xFF, 0xFF, 0xFF, 0xFF};
    uint16_t sum = 0;
    for (uint8_t b : wrapping)
        sum = static_cast<uint16_t>(sum + b);
    Bytes zeroSum = wrapping;
    zeroSum.push_back(static_cast<uint8_t>(0x100 - (sum & 0xFF)));
    uint16_t rest = static_cast<uint16_t>(0x10000 - sum - zeroSum.back());
    while (rest > 0) {
        uint8_t byte = static_cast<uint8_t>(std::min<unsigned>(rest, 0xFF));
        zeroSum.push_back(byte);
        rest = static_cast<uint16_t>(rest - byte);
    }
    EXPECT_EQ(printer_commands::LogoChecksum(zeroSum), 0);
    messages.shown.clear();
    comm.Reply({0x00, 0x01, 0x00, 0x00});
    EXPECT_TRUE(app.GetDocument()->VerifyLogoChecksum(3, 0, app.m_pComm.Get()));
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(DownloadPageTest, ProgressMovesThePageBetweenIdleAndDownloading)
{
    StartDownloadOfBlackSquare(1);
    comm.RaiseProgress(0);
    EXPECT_EQ(controls.EnabledTransferControls(), kAllTransferControls);
    EXPECT_TRUE(controls.communicationPage);
    // A progress of 0 is no end of the transfer: the object still reads the array.
    EXPECT_TRUE(page.HasTransferArray());

    comm.RaiseProgress(30);
    EXPECT_EQ(controls.EnabledTransferControls(), std::vector<int>{IDC_DOWNLOAD});
    EXPECT_EQ(controls.texts[IDC_DOWNLOAD], "Abort");
    EXPECT_FALSE(controls.communicationPage);
    comm.RaiseProgress(60);

    comm.Reply({0x00, 0x01, 0xBF, 0xF7});
    comm.Reply({'9', 0x00});
    comm.RaiseProgress(100);
    EXPECT_EQ(controls.EnabledTransferControls(), kAllTransferControls);
    EXPECT_EQ(controls.texts[IDC_DOWNLOAD], "Download");
    EXPECT_TRUE(controls.communicationPage);
    EXPECT_EQ(controls.progressHistory, (std::vector<int>{0, 30, 60, 100}));
    EXPECT_EQ(CountCommand("1F 65 01"), 1u);
    EXPECT_EQ(controls.texts[IDC_FREE_MEMORY], "9");
    EXPECT_FALSE(page.HasTransferArray());
}

TEST_F(DownloadPageTest, APressBeforeTheFirstProgressAbortsAndStartsNoSecondTransfer)
{
    // No progress yet, then a first one of 0 % (a large logo's first packets):
    // the button still reads "Download", but the transfer runs.
    for (bool zeroFirst : {false, true}) {
        SCOPED_TRACE(zeroFirst);
        StartDownloadOfBlackSquare(3);
        if (zeroFirst)
            comm.RaiseProgress(0);
        ASSERT_EQ(controls.texts[IDC_DOWNLOAD], "Download");
        comm.ClearRecords();
        messages.shown.clear();
        page.OnDownload();
        EXPECT_EQ(comm.calls, std::vector<std::string>{"AbortTransfert"});
        EXPECT_TRUE(comm.writes.empty());
        EXPECT_FALSE(page.HasTransferArray());
        EXPECT_EQ(messages.Texts(), std::vector<std::string>{strings::kPrinterAwaitsLogoRest});
        // Idle again: the next press downloads.
        comm.ClearRecords();
        messages.shown.clear();
        page.OnDownload();
        EXPECT_EQ(comm.writes.size(), 2u);
        EXPECT_TRUE(page.HasTransferArray());
        page.AbortDownload();
    }
}

TEST_F(DownloadPageTest, AbortAndCommunicationFailureEndTheDownload)
{
    StartDownloadOfBlackSquare(2);
    comm.RaiseProgress(40);
    comm.ClearRecords();
    page.OnDownload();  // reads "Abort"
    EXPECT_EQ(comm.calls, std::vector<std::string>{"AbortTransfert"});
    EXPECT_TRUE(comm.writes.empty());
    EXPECT_EQ(controls.progress, 0);
    EXPECT_EQ(controls.texts[IDC_DOWNLOAD], "Download");
    EXPECT_EQ(controls.EnabledTransferControls(), kAllTransferControls);
    EXPECT_FALSE(page.HasTransferArray());
    // The printer counts the logo's bytes from its header: the user learns
    // why the next commands fail, and how to recover.
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{strings::kPrinterAwaitsLogoRest});
    EXPECT_NE(messages.shown[0].text.find("Switch the printer off and on"), std::string::npos);

    // No transfer running: nothing to say.
    messages.shown.clear();
    page.AbortDownload();
    EXPECT_TRUE(messages.shown.empty());

    StartDownloadOfBlackSquare(2);
    comm.RaiseProgress(50);
    comm.ClearRecords();
    comm.RaiseError();
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{std::string(strings::kDownloadStopped) + "\n" +
                                                         strings::kPrinterAwaitsLogoRest});
    EXPECT_EQ(controls.progress, 0);
    EXPECT_EQ(controls.EnabledTransferControls(), kAllTransferControls);
    EXPECT_TRUE(controls.communicationPage);
    EXPECT_TRUE(comm.requests.empty());  // no Logo status check
    EXPECT_FALSE(page.HasTransferArray());
}

TEST_F(DownloadPageTest, NothingIsSentWithoutALogoNumber)
{
    OpenPicture(8, 8, kAllBlack);
    const std::vector<std::string> expected = {strings::kSelectLogoNumber, strings::kCommunicationFailure};
    for (void (CDownloadPage::*handler)() : {&CDownloadPage::OnDownload, &CDownloadPage::OnUpload,
                                             &CDownloadPage::OnPrint}) {
        messages.shown.clear();
        controls.focus.clear();
        (page.*handler)();
        EXPECT_EQ(messages.Texts(), expected);
        EXPECT_EQ(controls.focus, std::vector<int>{IDC_LOGO_NUMBER});
    }
    EXPECT_TRUE(comm.Wire().empty());
}

TEST_F(DownloadPageTest, DownloadFailuresBeforeTheTransfer)
{
    // No picture: only the document's message, after Select logo.
    controls.selection = 4;
    page.OnDownload();
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{doc_strings::kNoPictureToDownload});
    EXPECT_EQ(comm.Commands(), std::vector<std::string>{"1D 23 04"});

    // Select logo not sent: no stream.
    OpenPicture(8, 8, kAllBlack);
    comm.ClearRecords();
    comm.writeResults = {10};
    page.OnDownload();
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{strings::kCommunicationFailure});
    EXPECT_EQ(comm.writes.size(), 1u);

    // The stream not sent: the page stays idle and keeps no array.
    messages.shown.clear();
    comm.writeResults = {-1, 8};
    page.OnDownload();
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{strings::kCommunicationFailure});
    EXPECT_EQ(comm.writes.size(), 3u);
    EXPECT_FALSE(page.HasTransferArray());
    EXPECT_EQ(controls.EnabledTransferControls(), kAllTransferControls);

    // Wider (or taller) than the logo format holds: said why, nothing sent,
    // not even Select logo.
    for (auto [width, height] : {std::pair{2041u, 8u}, std::pair{8u, 2048u}}) {
        OpenPicture(width, height, kAllBlack);
        comm.ClearRecords();
        messages.shown.clear();
        page.OnDownload();
        ASSERT_EQ(messages.shown.size(), 1u);
        EXPECT_NE(messages.shown[0].text.find("too large for the Logo format (at most 2040 x 2040 dots"),
                  std::string::npos)
            << messages.shown[0].text;
        EXPECT_TRUE(comm.Wire().empty());
        EXPECT_FALSE(page.HasTransferArray());
    }
    // 2040 is still a logo.
    OpenPicture(2040, 8, kAllBlack);
    comm.ClearRecords();
    comm.writeResults = {};
    page.OnDownload();
    EXPECT_TRUE(page.HasTransferArray());
}

TEST_F(DownloadPageTest, LogoStatusWaitsLongerForTheBytesStillOnTheLine)
{
    // 12 bytes at 4800 baud: 25 ms of line time added to the read time-out
    // (0 in the fake) for the one request after 100 %, then put back.
    app.m_nInterface = 0;
    app.m_nBaudRate = 4800;
    StartDownloadOfBlackSquare(1);
    comm.ClearRecords();
    comm.RaiseProgress(100);
    auto at = [&](const std::string& call) {
        return std::find(comm.calls.begin(), comm.calls.end(), call) - comm.calls.begin();
    };
    auto request = std::find_if(comm.calls.begin(), comm.calls.end(),
                                [](const std::string& call) { return call.starts_with("WriteAndRead"); });
    ASSERT_NE(request, comm.calls.end());
    const auto requestAt = request - comm.calls.begin();
    EXPECT_LT(at("SetTimeout 25 0"), requestAt);
    EXPECT_GT(at("SetTimeout 0 0"), requestAt);
    EXPECT_LT(at("SetTimeout 0 0"), static_cast<ptrdiff_t>(comm.calls.size()));

    // A parallel port has no line time to allow for.
    app.m_nInterface = 1;
    StartDownloadOfBlackSquare(1);
    comm.ClearRecords();
    comm.RaiseProgress(100);
    EXPECT_EQ(at("GetTimeout"), static_cast<ptrdiff_t>(comm.calls.size()));
}

TEST_F(DownloadPageTest, RoundedStreamAndLogo255)
{
    // 10 x 5 dots go out as 16 x 8: the checksum is that of the bytes sent.
    OpenPicture(10, 5, kDiagonal);
    controls.selection = 255;
    page.OnDownload();
    ASSERT_EQ(comm.writes.size(), 2u);
    EXPECT_EQ(comm.writes[0].bytes, (Bytes{0x1D, 0x23, 0xFF}));
    const Bytes& stream = comm.writes[1].bytes;
    ASSERT_EQ(stream.size(), 4u + 2 * 1 * 8);
    EXPECT_EQ((Bytes{stream[0], stream[1], stream[2], stream[3]}), (Bytes{0x1D, 0x2A, 0x02, 0x01}));
    EXPECT_EQ(page.m_wChecksum, printer_commands::LogoChecksum(stream));

    comm.Reply({0x00, 0x01, static_cast<uint8_t>(page.m_wChecksum), static_cast<uint8_t>(page.m_wChecksum >> 8)});
    comm.RaiseProgress(100);
    EXPECT_EQ(comm.requests.at(0).bytes, (Bytes{0x1F, 0x65, 0xFF}));
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(DownloadPageTest, PrintSendsTheSizeOfTheCheckedRadioAfterSelectLogo)
{
    const std::vector<std::pair<int, uint8_t>> radios = {
        {IDC_X1H_X1W, 0}, {IDC_X1H_X2W, 1}, {IDC_X2H_X1W, 2}, {IDC_X2H_X2W, 3}};
    controls.selection = 7;
    for (auto [radio, mode] : radios) {
        comm.ClearRecords();
        controls.checkedRadio = radio;
        page.OnPrint();
        ASSERT_EQ(comm.writes.size(), 2u);
        EXPECT_EQ(comm.Wire(), (Bytes{0x1D, 0x23, 0x07, 0x1D, 0x2F, mode}));
        EXPECT_EQ(comm.writes[1].arrayLength, 3u);
        EXPECT_EQ(comm.writes[1].packetSize, 0);
    }
    EXPECT_TRUE(messages.shown.empty());
    comm.writeResults = {-1, 12};
    page.OnPrint();
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{strings::kCommunicationFailure});
}

TEST_F(DownloadPageTest, EraseRunsUntilThePrinterAnswers0D)
{
    page.OnErase();
    EXPECT_EQ(comm.Commands(), std::vector<std::string>{"1D 40 31"});
    EXPECT_EQ(comm.writes.at(0).arrayLength, 3u);
    EXPECT_EQ(comm.writes.at(0).packetSize, 0);
    EXPECT_EQ(controls.EnabledTransferControls(), std::vector<int>{IDC_ERASE});
    EXPECT_EQ(controls.texts[IDC_ERASE], "Abort");

    // A single byte other than 0D changes nothing.
    comm.RaiseOnComm({0x0E});
    EXPECT_EQ(controls.texts[IDC_ERASE], "Abort");
    comm.Reply({'1', '0', '2', '4', 0x00});
    comm.RaiseOnComm({0x0D});
    EXPECT_EQ(controls.EnabledTransferControls(), kAllTransferControls);
    EXPECT_EQ(controls.texts[IDC_ERASE], "Erase");
    EXPECT_EQ(controls.texts[IDC_FREE_MEMORY], "1024");

    // Pressing it while it reads "Abort" ends the wait and sends the command again.
    page.OnErase();
    comm.ClearRecords();
    page.OnErase();
    EXPECT_EQ(comm.Commands(), (std::vector<std::string>{"1F 77 01", "1D 40 31"}));
    EXPECT_EQ(controls.texts[IDC_ERASE], "Erase");

    // Not sent: the message, and the page keeps its busy state.
    comm.writeResults = {10};
    page.OnErase();
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{strings::kCommunicationFailure});
    EXPECT_EQ(controls.texts[IDC_ERASE], "Abort");
    EXPECT_TRUE(messages.Texts().size() == 1);
}

TEST_F(DownloadPageTest, MemoryQueriesFollowTheVersionSetting)
{
    app.m_nVersion = 0;
    controls.texts[IDC_TOTAL_MEMORY] = "old";
    comm.Reply({'1', '2', '3', '4', '5'});
    page.OnRefresh();
    EXPECT_EQ(comm.Commands(), std::vector<std::string>{"1F 77 01"});
    EXPECT_EQ(comm.requests[0].arrayLength, 8u);
    EXPECT_EQ(comm.requests[0].expected, 8);
    EXPECT_EQ(controls.texts[IDC_FREE_MEMORY], "12345");
    EXPECT_EQ(controls.texts[IDC_TOTAL_MEMORY], "old");
    EXPECT_EQ(page.m_nTotalMemory, 0);
    EXPECT_EQ(controls.waitCursorShown, 1);
    EXPECT_EQ(controls.waitDepth, 0);

    app.m_nVersion = 1;
    comm.ClearRecords();
    comm.Reply({32});                    // 32 x 64 = 2048 kbytes
    comm.Reply({0x00, 4, 0x00});         // logo area 256 kbytes
    comm.Reply({'7', '7', 0x00, '9'});  // text ends at the 00 byte
    page.OnRefresh();
    EXPECT_EQ(comm.Commands(), (std::vector<std::string>{"1D 0B", "1F 07 55", "1F 77 01"}));
    EXPECT_EQ(comm.requests[0].arrayLength, 2u);
    EXPECT_EQ(comm.requests[0].expected, 1);
    EXPECT_EQ(comm.requests[1].arrayLength, 3u);
    EXPECT_EQ(comm.requests[1].expected, 3);
    EXPECT_EQ(page.m_nTotalMemory, 2048);
    EXPECT_EQ(controls.texts[IDC_TOTAL_MEMORY], "2048");
    EXPECT_EQ(controls.texts[IDC_LOGO_AREA], "256");
    EXPECT_EQ(controls.texts[IDC_FREE_MEMORY], "77");

    // No usable replies: fields unchanged, total 0, and the failure said
    // once.
    comm.ClearRecords();
    comm.NoReply();
    comm.Reply({0x00, 4});
    comm.NoReply();
    page.OnRefresh();
    EXPECT_EQ(page.m_nTotalMemory, 0);
    EXPECT_EQ(controls.texts[IDC_TOTAL_MEMORY], "2048");
    EXPECT_EQ(controls.texts[IDC_LOGO_AREA], "256");
    EXPECT_EQ(controls.texts[IDC_FREE_MEMORY], "77");
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{strings::kCommunicationFailure});
}

TEST_F(DownloadPageTest, RepliesNotOfTheirShapeAreNoFigures)
{
    app.m_nVersion = 1;
    controls.texts[IDC_LOGO_AREA] = "old";
    controls.texts[IDC_FREE_MEMORY] = "old";
    // A reply shifted by a stray byte: the logo area read as 0x55 x 64
    // kbytes, more than the whole memory; bytes of a picture as free memory.
    comm.Reply({32});
    comm.Reply({0x9C, 0x55, 0x04});
    comm.Reply({'B', 'M', 0x3E, 0x02});
    page.OnRefresh();
    EXPECT_EQ(page.m_nTotalMemory, 2048);
    EXPECT_EQ(controls.texts[IDC_LOGO_AREA], "old");
    EXPECT_EQ(controls.texts[IDC_FREE_MEMORY], "old");
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{strings::kCommunicationFailure});

    // Digits, but more free memory than the logo area holds.
    messages.shown.clear();
    comm.Reply({32});
    comm.Reply({0x55, 4, 0x00});
    comm.Reply({'9', '9', '9', '9', '9', '9', '9', 0x00});
    page.OnRefresh();
    EXPECT_EQ(controls.texts[IDC_LOGO_AREA], "256");
    EXPECT_EQ(controls.texts[IDC_FREE_MEMORY], "old");
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{strings::kCommunicationFailure});

    // Whole and sound: no message.
    messages.shown.clear();
    comm.Reply({32});
    comm.Reply({0x55, 4, 0x00});
    comm.Reply({'2', '6', '2', '1', '4', '4', 0x00, 0x00});
    page.OnRefresh();
    EXPECT_EQ(controls.texts[IDC_FREE_MEMORY], "262144");
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(DownloadPageTest, SetupOffersTheSizesAndSetsTheLogoArea)
{
    // "Version" 0: up to 1024 kbytes, 17 sizes.
    app.m_nVersion = 0;
    memoryDialog.cancel = true;
    page.OnSetup();
    EXPECT_EQ(memoryDialog.maxSizeSeen, 1024);
    ASSERT_EQ(memoryDialog.sizes.size(), 17u);
    EXPECT_EQ(memoryDialog.sizes.front(), "0");
    EXPECT_EQ(memoryDialog.sizes.back(), "1024");
    EXPECT_TRUE(comm.Wire().empty());  // cancelled: nothing sent

    // A total memory of 2048 kbytes: the 21 sizes 0 to 1280.
    app.m_nVersion = 1;
    page.m_nTotalMemory = 2048;
    page.OnSetup();
    ASSERT_EQ(memoryDialog.sizes.size(), 21u);
    EXPECT_EQ(memoryDialog.sizes.back(), "1280");

    // OK with nothing selected asks again; 320 kbytes is sent as 5 steps.
    memoryDialog.cancel = false;
    memoryDialog.choices = {std::nullopt, "320"};
    comm.Reply({0x06});
    comm.Reply({32});               // the figures read again
    comm.Reply({0x55, 5, 0x00});
    comm.Reply({'8', 0x00});
    page.OnSetup();
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{strings::kSelectMemorySize});
    EXPECT_EQ(memoryDialog.focusedList, 1);
    ASSERT_FALSE(comm.requests.empty());
    EXPECT_EQ(comm.requests[0].bytes, (Bytes{0x1D, 0x22, 0x55, 0x05, 0x00}));
    EXPECT_EQ(comm.requests[0].arrayLength, 5u);
    EXPECT_EQ(comm.requests[0].expected, 1);
    // The figures are read again after the command.
    EXPECT_EQ(comm.Commands(), (std::vector<std::string>{"1D 22 55 05 00", "1D 0B", "1F 07 55", "1F 77 01"}));

    // A refusal and no reply.
    for (bool refused : {true, false}) {
        messages.shown.clear();
        comm.ClearRecords();
        memoryDialog.choices = {"64"};
        page.m_nTotalMemory = 2048;
        if (refused)
            comm.Reply({0x15});
        else
            comm.NoReply();
        page.OnSetup();
        EXPECT_EQ(messages.Texts(), std::vector<std::string>{refused ? strings::kPrinterReturnedError
                                                                     : strings::kCommunicationFailure});
        EXPECT_EQ(comm.Commands().size(), 4u);
        EXPECT_EQ(controls.waitDepth, 0);
    }
}

TEST(StringTableTest, TextsAreTheSystemsOwnLetterForLetter)
{
    // Typos included: the desktop's string table and any script reading the
    // messages know these texts as they stand.
    const std::vector<std::pair<int, std::string>> table = {
        {printer_strings::IDS_UPLOAD, printer_strings::kUpload},
        {printer_strings::IDS_DOWNLOAD, printer_strings::kDownload},
        {printer_strings::IDS_ERASE, printer_strings::kErase},
        {printer_strings::IDS_ABORT, printer_strings::kAbort},
        {printer_strings::IDS_COMMUNICATION_FAILURE, printer_strings::kCommunicationFailure},
        {printer_strings::IDS_SELECT_MEMORY_SIZE, printer_strings::kSelectMemorySize},
        {printer_strings::IDS_SELECT_LOGO_NUMBER, printer_strings::kSelectLogoNumber},
        {doc_strings::IDS_UNKNOWN_OUTPUT_TYPE, doc_strings::kUnknownOutputType},
        {doc_strings::IDS_PICTURE_NOT_SUPPORTED, doc_strings::kPictureNotSupported},
        {doc_strings::IDS_NO_PICTURE_TO_DOWNLOAD, doc_strings::kNoPictureToDownload},
        {app_strings::IDS_SINK_NOT_CONNECTED, app_strings::kSinkNotConnected},
        {printer_strings::IDS_PRINTER_RETURNED_ERROR, printer_strings::kPrinterReturnedError},
    };
    const std::vector<std::pair<int, std::string>> expected = {
        {61204, "Upload"},
        {61205, "Download"},
        {61206, "Erase"},
        {61207, "Abort"},
        {61208, "The command has not been sent, there is communication failure."},
        {61209, "Please select one memory size."},
        {61210, "Please select a logo number."},
        {61211, "Error - unknown output type."},
        {61213, "Picture type not supported."},
        {61214, "There is no picture to downoad, please display one before to proceed."},
        {61215, "QUORLINK - Events : Unable to connect to the sink object."},
        {61216, "The command has been sent, but the printer has returned one error."},
    };
    EXPECT_EQ(table, expected);

    // The page's literal messages.
    EXPECT_STREQ(strings::kLogoNotDownloaded, "The logo has not been downloaded");
    EXPECT_STREQ(strings::kChecksumWrong,
                 "The logo has been downloaded but the checksum returned from printer is wrong");
    EXPECT_STREQ(strings::kDownloadStopped, "There is communication failure and the download has been stopped");
    EXPECT_STREQ(strings::kNoLogoAtLocation, "There is not logo at this location");
    EXPECT_STREQ(app_strings::kCreateFailed, "Failed to create ICommunication instance\n");
}

TEST(MemorySizeDlgTest, SizesOffered)
{
    EXPECT_EQ(CMemorySizeDlg::SizesOffered(0), std::vector<int>{0});
    EXPECT_TRUE(CMemorySizeDlg::SizesOffered(-64).empty());
    EXPECT_EQ(CMemorySizeDlg::SizesOffered(200), (std::vector<int>{0, 64, 128, 192}));
    EXPECT_EQ(CMemorySizeDlg::SizesOffered(16320).size(), 21u);
}

TEST_F(DownloadPageTest, PageCreationFillsTheControls)
{
    app.m_nVersion = 0;
    comm.Reply({'5', 0x00});
    page.OnInitDialog();
    ASSERT_EQ(controls.logoNumbers.size(), 256u);
    EXPECT_EQ(controls.logoNumbers.front(), "0");
    EXPECT_EQ(controls.logoNumbers.back(), "255");
    EXPECT_EQ(controls.selection, -1);
    EXPECT_EQ(controls.checkedRadio, IDC_X1H_X1W);
    EXPECT_FALSE(controls.shown[IDC_UPLOAD]);
    EXPECT_EQ(controls.texts[IDC_FREE_MEMORY], "5");
    EXPECT_EQ(controls.progress, 0);

    // No printer answering at creation: no figure, and no message either.
    FakePageControls quiet;
    CDownloadPage silent(app, quiet, memoryDialog);
    comm.NoReply();
    silent.OnInitDialog();
    EXPECT_EQ(quiet.texts.count(IDC_FREE_MEMORY), 0u);
    EXPECT_TRUE(messages.shown.empty());

    FakePageControls second;
    CDownloadPage versionOne(app, second, memoryDialog);
    app.m_nVersion = 1;
    versionOne.OnInitDialog();
    EXPECT_TRUE(second.shown[IDC_UPLOAD]);
}

TEST_F(DownloadPageTest, ComErrorsAreShownAndEndOnlyTheHandler)
{
    controls.selection = 3;
    comm.failures["WritePort"] = E_FAIL;
    page.OnPrint();
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_NE(messages.shown[0].text.find(SystemMessageText(E_FAIL)), std::string::npos) << messages.shown[0].text;
    EXPECT_NE(messages.shown[0].text.find("0x80004005"), std::string::npos);
    EXPECT_EQ(messages.shown[0].icon, MessageIcon::Error);

    // The check after the last packet fails: the page still ends idle at 100.
    comm.failures.clear();
    StartDownloadOfBlackSquare(3);
    comm.failures["WriteAndRead"] = E_UNEXPECTED;
    messages.shown.clear();
    comm.RaiseProgress(100);
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_NE(messages.shown[0].text.find(SystemMessageText(E_UNEXPECTED)), std::string::npos);
    EXPECT_EQ(controls.progress, 100);
    EXPECT_EQ(controls.texts[IDC_DOWNLOAD], "Download");

    // Without the object every handler reports the missing object.
    comm.failures.clear();
    app.m_pComm.Reset();
    for (void (CDownloadPage::*handler)() : {&CDownloadPage::OnRefresh, &CDownloadPage::OnErase,
                                             &CDownloadPage::OnUpload, &CDownloadPage::OnDownload}) {
        messages.shown.clear();
        (page.*handler)();
        ASSERT_EQ(messages.shown.size(), 1u);
        EXPECT_NE(messages.shown[0].text.find("0x80004003"), std::string::npos) << messages.shown[0].text;
    }
    EXPECT_EQ(controls.waitDepth, 0);
}

TEST_F(DownloadPageTest, MemoryThatRunsOutInAHandlerIsShownNotThrown)
{
    controls.textsFail = true;
    for (void (CDownloadPage::*handler)() : {&CDownloadPage::OnDownload, &CDownloadPage::OnUpload,
                                             &CDownloadPage::OnErase}) {
        messages.shown.clear();
        EXPECT_NO_THROW((page.*handler)());
        EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Error - Memory Allocation"});
    }
    EXPECT_TRUE(comm.Wire().empty());
}

}  // namespace
