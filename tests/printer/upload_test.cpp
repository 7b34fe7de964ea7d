// Upload: the request, the printer's answer taken apart block by block, the
// upload buffer, the 5-second watch and the abort.
#include "page_test_util.h"

using comm_testing::Bytes;
using namespace page_testing;
namespace strings = printer_strings;

namespace {

const doc_testing::DotRule kChecker = [](uint32_t x, uint32_t y) { return ((x / 3) + (y / 2)) % 2 == 0; };

Bytes AsBytes(std::span<const uint8_t> bits)
{
    return Bytes(bits.begin(), bits.end());
}

Bytes Slice(const Bytes& bytes, size_t from, size_t to)
{
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.begin() + static_cast<std::ptrdiff_t>(to));
}

/// A first block: 6A, a bitmap header announcing size, then filler up to length bytes.
Bytes FirstBlock(uint32_t size, size_t length)
{
    Bytes block(length, 0x55);
    block[0] = 0x6A;
    block[1] = 'B';
    block[2] = 'M';
    for (int i = 0; i < 4; ++i)
        block[3 + i] = static_cast<uint8_t>(size >> (8 * i));
    return block;
}

class UploadTest : public PageFixture {
protected:
    void SetUp() override
    {
        PageFixture::SetUp();
        controls.selection = 12;
    }
};

TEST_F(UploadTest, RequestIsSelectLogoThenUploadLogo)
{
    page.OnUpload();
    EXPECT_EQ(comm.Commands(), (std::vector<std::string>{"1D 23 0C", "1F 6A"}));
    EXPECT_EQ(comm.writes[1].arrayLength, 2u);
    EXPECT_TRUE(messages.shown.empty());

    comm.writeResults = {-1, 10};
    page.OnUpload();
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{strings::kCommunicationFailure});
}

TEST_F(UploadTest, AStoredLogoComesBackAsTheInputPicture)
{
    const Bytes bmp = doc_testing::MakeBmp(64, 40, kChecker);
    ASSERT_EQ(bmp.size(), 382u);
    page.OnUpload();

    comm.RaiseOnComm(Concat({{0x6A}, Slice(bmp, 0, 200)}));
    EXPECT_EQ(app.GetUploadSize(), 382);
    EXPECT_EQ(app.GetUploadReceived(), 200);
    EXPECT_EQ(controls.progress, 0);
    EXPECT_EQ(controls.EnabledTransferControls().size(), 11u);  // idle

    comm.RaiseOnComm(Slice(bmp, 200, 300));
    EXPECT_EQ(controls.progress, 78);
    EXPECT_TRUE(controls.EnabledTransferControls().empty());
    EXPECT_EQ(controls.texts[IDC_UPLOAD], "Abort");
    EXPECT_FALSE(controls.communicationPage);
    EXPECT_TRUE(controls.TimerRunning());
    EXPECT_EQ(controls.timers[kUploadWatchTimerId], 5000u);

    comm.RaiseOnComm(Slice(bmp, 300, bmp.size()));
    EXPECT_EQ(controls.progressHistory, (std::vector<int>{0, 78, 100}));
    EXPECT_EQ(controls.EnabledTransferControls().size(), 11u);
    EXPECT_EQ(controls.texts[IDC_UPLOAD], "Upload");
    EXPECT_TRUE(controls.communicationPage);
    EXPECT_FALSE(app.IsUploadInProgress());
    EXPECT_EQ(app.GetUploadSize(), -1);
    EXPECT_TRUE(messages.shown.empty()) << messages.Texts().front();

    const PictureFile* input = app.GetDocument()->GetInput();
    ASSERT_NE(input, nullptr);
    EXPECT_EQ(input->Width(), 64u);
    EXPECT_EQ(input->Height(), 40u);
    EXPECT_EQ(AsBytes(input->Bits()), doc_testing::MakeBits(64, 40, kChecker));
    EXPECT_FALSE(windows.drawn.empty());

    // The watch, if still running, fires once more and leaves the page idle.
    page.OnTimer(kUploadWatchTimerId);
    EXPECT_FALSE(controls.TimerRunning());
    EXPECT_EQ(controls.EnabledTransferControls().size(), 11u);
    EXPECT_EQ(controls.texts[IDC_UPLOAD], "Upload");
}

TEST_F(UploadTest, BlocksOfTheExampleGiveTheirPercentages)
{
    comm.RaiseOnComm(FirstBlock(2000, 1024));
    EXPECT_EQ(app.GetUploadSize(), 2000);
    EXPECT_EQ(app.GetUploadReceived(), 1023);
    EXPECT_EQ(controls.progress, 0);
    comm.RaiseOnComm(Bytes(500, 0x11));
    EXPECT_EQ(controls.progress, 76);
    EXPECT_TRUE(controls.EnabledTransferControls().empty());
    comm.RaiseOnComm(Bytes(477, 0x22));
    EXPECT_EQ(controls.progress, 100);
    EXPECT_FALSE(app.IsUploadInProgress());
    // Those bytes are no bitmap: the document says so, and nothing is loaded.
    EXPECT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(app.GetDocument()->GetInput(), nullptr);

    // A file of 70000 bytes is expected as 70000 bytes.
    comm.RaiseOnComm(FirstBlock(70000, 16));
    EXPECT_EQ(app.GetUploadSize(), 70000);
    EXPECT_EQ(app.GetUploadReceived(), 15);
}

TEST_F(UploadTest, AWholeBitmapInTheFirstBlockCompletesAtOnceAndExtraBytesAreDropped)
{
    const Bytes bmp = doc_testing::MakeBmp(64, 40, kChecker);
    comm.RaiseOnComm(Concat({{0x6A}, bmp, Bytes(10, 0xEE)}));
    EXPECT_FALSE(app.IsUploadInProgress());
    EXPECT_EQ(controls.progressHistory, std::vector<int>{100});
    EXPECT_EQ(controls.texts[IDC_UPLOAD], "Upload");
    ASSERT_NE(app.GetDocument()->GetInput(), nullptr);
    EXPECT_EQ(AsBytes(app.GetDocument()->GetInput()->Bits()), doc_testing::MakeBits(64, 40, kChecker));
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(UploadTest, AnswersThatAreNoLogo)
{
    comm.RaiseOnComm({0x6A, 0x00, 0x00});
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{strings::kNoLogoAtLocation});
    EXPECT_EQ(controls.EnabledTransferControls().size(), 11u);
    messages.shown.clear();
    comm.RaiseOnComm({0x6A, 0x00, 0x00, 0x00});
    comm.RaiseOnComm({0x6A, 0x42});
    EXPECT_TRUE(messages.shown.empty());

    // A header announcing fewer bytes than a monochrome bitmap needs (or 0) is
    // refused before anything is prepared.
    for (uint32_t size : {0u, 14u, 61u, 0xFFFFFFFFu}) {
        messages.shown.clear();
        comm.RaiseOnComm(FirstBlock(size, 64));
        EXPECT_EQ(messages.Texts(), std::vector<std::string>{strings::kUploadNotAPicture}) << size;
        EXPECT_FALSE(app.IsUploadInProgress());
        EXPECT_TRUE(controls.progressHistory.empty());
    }
    messages.shown.clear();
    comm.RaiseOnComm(FirstBlock(62, 7));
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_TRUE(app.IsUploadInProgress());
}

TEST_F(UploadTest, SlicesOfTheLogoThatLookLikeAnswersAreLogoData)
{
    comm.RaiseOnComm(FirstBlock(400, 100));
    comm.RaiseOnComm({0x6A, 0x00, 0x00});
    comm.RaiseOnComm({0x0D});
    comm.RaiseOnComm(FirstBlock(5000, 20));
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_EQ(app.GetUploadSize(), 400);
    EXPECT_EQ(app.GetUploadReceived(), 99 + 3 + 1 + 20);
    EXPECT_TRUE(comm.requests.empty());  // no free-memory query of a finished erase
}

TEST_F(UploadTest, AnAnswerCutInsideItsFirstSevenBytesIsJoinedWithTheNextBlock)
{
    // The object's timer may cut the answer anywhere: here after 4 bytes.
    const Bytes bmp = doc_testing::MakeBmp(64, 40, kChecker);
    const Bytes answer = Concat({{0x6A}, bmp});
    page.OnUpload();
    comm.RaiseOnComm(Slice(answer, 0, 4));
    EXPECT_FALSE(app.IsUploadInProgress());
    comm.RaiseOnComm(Slice(answer, 4, 200));
    EXPECT_EQ(app.GetUploadSize(), 382);
    EXPECT_EQ(app.GetUploadReceived(), 199);
    EXPECT_EQ(controls.progress, 0);
    comm.RaiseOnComm(Slice(answer, 200, answer.size()));
    ASSERT_NE(app.GetDocument()->GetInput(), nullptr);
    EXPECT_EQ(AsBytes(app.GetDocument()->GetInput()->Bits()), doc_testing::MakeBits(64, 40, kChecker));
    EXPECT_TRUE(messages.shown.empty());

    // 6A 00 00 in three pieces.
    comm.RaiseOnComm({0x6A});
    comm.RaiseOnComm({0x00});
    EXPECT_TRUE(messages.shown.empty());
    comm.RaiseOnComm({0x00});
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{strings::kNoLogoAtLocation});

    // A start that the next block does not continue is forgotten: that block
    // counts on its own.
    messages.shown.clear();
    comm.RaiseOnComm({0x6A, 0x42});
    comm.Reply({'8', 0x00});
    page.OnErase();
    comm.RaiseOnComm({0x0D});
    EXPECT_EQ(controls.texts[IDC_ERASE], "Erase");
    comm.RaiseOnComm({0x6A, 0x42, 0x4D});
    comm.RaiseOnComm(FirstBlock(500, 10));
    EXPECT_EQ(app.GetUploadSize(), 500);
    EXPECT_EQ(app.GetUploadReceived(), 9);
}

TEST_F(UploadTest, SilenceMakesTheUploadAbortable)
{
    page.OnUpload();
    comm.RaiseOnComm(FirstBlock(3000, 1024));
    comm.RaiseOnComm(Bytes(600, 0));
    ASSERT_TRUE(controls.TimerRunning());
    int startsBefore = controls.timerStarts;

    page.OnTimer(kUploadWatchTimerId);
    EXPECT_FALSE(controls.TimerRunning());
    EXPECT_EQ(controls.EnabledTransferControls(), std::vector<int>{IDC_UPLOAD});
    EXPECT_EQ(controls.texts[IDC_UPLOAD], "Abort");
    EXPECT_FALSE(controls.communicationPage);

    // A new block guards the upload again and restarts the watch.
    comm.RaiseOnComm(Bytes(100, 0));
    EXPECT_TRUE(controls.EnabledTransferControls().empty());
    EXPECT_EQ(controls.timerStarts, startsBefore + 1);
    page.OnTimer(kUploadWatchTimerId);

    comm.ClearRecords();
    page.OnUpload();  // reads "Abort"
    EXPECT_EQ(comm.calls, std::vector<std::string>{"AbortTransfert"});
    EXPECT_FALSE(app.IsUploadInProgress());
    EXPECT_EQ(controls.progress, 0);
    EXPECT_EQ(controls.texts[IDC_UPLOAD], "Upload");
    EXPECT_EQ(controls.EnabledTransferControls().size(), 11u);
    EXPECT_TRUE(controls.communicationPage);

    // Another timer's tick does nothing.
    page.OnTimer(7);
    EXPECT_EQ(controls.texts[IDC_UPLOAD], "Upload");
}

TEST_F(UploadTest, ANewRequestDropsWhatIsLeftOfAnEarlierAnswer)
{
    comm.RaiseOnComm(FirstBlock(3000, 64));
    ASSERT_TRUE(app.IsUploadInProgress());
    page.OnUpload();
    EXPECT_FALSE(app.IsUploadInProgress());
    const Bytes bmp = doc_testing::MakeBmp(64, 40, kChecker);
    comm.RaiseOnComm(Concat({{0x6A}, bmp}));
    ASSERT_NE(app.GetDocument()->GetInput(), nullptr);
    EXPECT_EQ(app.GetDocument()->GetInput()->Width(), 64u);
}

}  // namespace
