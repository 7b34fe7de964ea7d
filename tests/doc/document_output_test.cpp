// The output picture: display toggles, rebuilding from the page's values,
// window cutting, and the download stream.
#include "command_ids.h"
#include "doc_test_util.h"
#include "logo_file.h"

using namespace doc_testing;

namespace {

class DocumentOutputTest : public DocFixture {
protected:
    void OpenPicture(uint32_t width = 32, uint32_t height = 16, const DotRule& black = Diagonal)
    {
        OpenOk(WriteBmp("input.bmp", width, height, black));
    }
};

TEST_F(DocumentOutputTest, TogglesSwitchMarksAndRebuildOnlyTowardOutput)
{
    OpenPicture();
    page.parameters.width = 8;
    page.parameters.height = 8;
    windows.drawn.clear();
    statusLine.texts.clear();

    // "Output picture" while the input is shown: output marked, rebuilt.
    EXPECT_TRUE(doc.OnCommand(ID_WINDOW_OUTPUT));
    EXPECT_FALSE(doc.IsShowInput());
    EXPECT_TRUE(doc.IsChecked(ID_WINDOW_OUTPUT));
    EXPECT_FALSE(doc.IsChecked(ID_WINDOW_INPUT));
    ASSERT_NE(doc.GetOutput(), nullptr);
    EXPECT_EQ(doc.GetOutput()->Width(), 8u);
    EXPECT_FALSE(doc.IsModified());
    EXPECT_FALSE(doc.IsNewInput());
    EXPECT_EQ(windows.drawn.back().hint, HINT_OUTPUT_PICTURE);
    EXPECT_EQ(windows.drawn.back().picture, doc.GetOutput());
    EXPECT_EQ(statusLine.texts.back(), "Output picture displayed - Communication broken");

    // "Output picture" again: back to the input, which is only redrawn.
    const PictureFile* output = doc.GetOutput();
    EXPECT_TRUE(doc.OnCommand(ID_WINDOW_OUTPUT));
    EXPECT_TRUE(doc.IsShowInput());
    EXPECT_TRUE(doc.IsChecked(ID_WINDOW_INPUT));
    EXPECT_FALSE(doc.IsChecked(ID_WINDOW_OUTPUT));
    EXPECT_EQ(doc.GetOutput(), output);
    EXPECT_EQ(windows.drawn.back().hint, HINT_INPUT_PICTURE);
    EXPECT_EQ(statusLine.texts.back(), "Input picture displayed - Communication broken");

    // "Input picture" while the input is shown: to the output, rebuilt with
    // the page's current values.
    page.parameters.width = 16;
    EXPECT_TRUE(doc.OnCommand(ID_WINDOW_INPUT));
    EXPECT_FALSE(doc.IsShowInput());
    EXPECT_TRUE(doc.IsChecked(ID_WINDOW_OUTPUT));
    ASSERT_NE(doc.GetOutput(), nullptr);
    EXPECT_EQ(doc.GetOutput()->Width(), 16u);

    // "Input picture" while the output is shown: back to the input.
    EXPECT_TRUE(doc.OnCommand(ID_WINDOW_INPUT));
    EXPECT_TRUE(doc.IsShowInput());
    EXPECT_TRUE(doc.IsChecked(ID_WINDOW_INPUT));
    EXPECT_FALSE(doc.IsModified());

    EXPECT_EQ(windows.Hints(), (std::vector<long>{0, 1, 0, 1}));
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_FALSE(doc.OnCommand(ID_APP_ABOUT));
}

TEST_F(DocumentOutputTest, ViewActsOnlyOnTheDisplayedPicturesHint)
{
    OpenPicture();
    doc.SetModifiedFlag(true);
    windows.drawn.clear();
    page.shown.clear();

    // Input displayed: an output update is ignored, stale flag and all.
    doc.UpdateAllViews(HINT_OUTPUT_PICTURE);
    doc.UpdateAllViews(7);
    EXPECT_EQ(doc.GetOutput(), nullptr);
    EXPECT_TRUE(doc.IsModified());
    EXPECT_EQ(windows.drawn[0].picture, nullptr);
    EXPECT_EQ(windows.drawn[1].picture, nullptr);
    EXPECT_TRUE(page.shown.empty());

    // A stale output that cannot be rebuilt keeps the flag for the next try.
    doc.OnOutputPicture();
    page.parameters.type = 9;
    messages.shown.clear();
    doc.SetModifiedFlag(true);
    doc.UpdateAllViews(HINT_OUTPUT_PICTURE);
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Error - unknown output type."});
    EXPECT_TRUE(doc.IsModified());
    EXPECT_EQ(doc.GetOutput(), nullptr);
}

TEST_F(DocumentOutputTest, OutputIsTheWindowOfTheInputInTheChosenType)
{
    // A checkerboard of 1-dot squares makes every shift visible.
    auto checker = [](uint32_t x, uint32_t y) { return (x + y) % 2 == 0; };
    OpenPicture(40, 30, checker);
    const std::string path = PathOf("out.log");

    struct Window {
        int x, y, width, height;
    };
    for (Window w : {Window{0, 0, 40, 30}, Window{3, 5, 17, 9}, Window{-8, -5, 24, 12}, Window{10, 40, 8, 4}}) {
        SCOPED_TRACE(testing::Message() << w.x << "," << w.y << " " << w.width << "x" << w.height);
        ASSERT_TRUE(doc.CreateOutputPicture(LOGO, path, w.width, w.height, w.x, w.y));
        const PictureFile* output = doc.GetOutput();
        ASSERT_NE(output, nullptr);
        EXPECT_EQ(output->Type(), LOGO);
        EXPECT_EQ(output->Path(), path);
        EXPECT_EQ(output->Width(), static_cast<uint32_t>(w.width));
        EXPECT_EQ(output->Height(), static_cast<uint32_t>(w.height));
        // Negative offsets bring white dots in from the left and the top.
        std::vector<uint8_t> expected = MakeBits(w.width, w.height, [&](uint32_t x, uint32_t y) {
            int sx = w.x + static_cast<int>(x);
            int sy = w.y + static_cast<int>(y);
            return sx >= 0 && sy >= 0 && sx < 40 && sy < 30 && checker(sx, sy);
        });
        std::span<const uint8_t> bits = output->Bits();
        ASSERT_GE(bits.size(), expected.size());
        const uint32_t rowBytes = BytesPerRow(w.width);
        for (int y = 0; y < w.height; ++y) {
            for (uint32_t j = 0; j < rowBytes; ++j) {
                // Bits beyond the width carry source dots; compare the window only.
                uint32_t keep = (j + 1) * 8 <= static_cast<uint32_t>(w.width) ? 8 : w.width % 8;
                uint8_t mask = static_cast<uint8_t>(0xFF00u >> keep);
                EXPECT_EQ(bits[y * rowBytes + j] & mask, expected[y * rowBytes + j] & mask)
                    << "row " << y << " byte " << j;
            }
        }
        EXPECT_FALSE(doc.IsNewInput());
    }
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(DocumentOutputTest, OutputThatCannotBeMadeLeavesNoOutputPicture)
{
    // No input picture yet: nothing to cut from, nothing to say.
    EXPECT_FALSE(doc.CreateOutputPicture(BITMAP, PathOf("a.bmp"), 8, 8, 0, 0));
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_TRUE(doc.IsNewInput());

    OpenPicture();
    ASSERT_TRUE(doc.CreateOutputPicture(BITMAP, PathOf("a.bmp"), 8, 8, 0, 0));
    for (int type : {-1, 5, 1000}) {
        messages.shown.clear();
        EXPECT_FALSE(doc.CreateOutputPicture(type, PathOf("a.bmp"), 8, 8, 0, 0));
        EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Error - unknown output type."});
        EXPECT_EQ(doc.GetOutput(), nullptr);
    }

    // A window too large to allocate: its message, and no half-made picture
    // that a later save or download would read.
    messages.shown.clear();
    EXPECT_FALSE(doc.CreateOutputPicture(BITMAP, PathOf("a.bmp"), 1 << 20, 1 << 20, 0, 0));
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].text.rfind("Error - ", 0), 0u) << messages.shown[0].text;
    EXPECT_EQ(doc.GetOutput(), nullptr);
    messages.shown.clear();
    EXPECT_FALSE(doc.OnSaveDocument(PathOf("a.bmp")));
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Error - unknown output type."});
    EXPECT_FALSE(std::filesystem::exists(dir / "a.bmp"));
}

TEST_F(DocumentOutputTest, OpeningAnotherFileKeepsTheOutputUntilItIsShownAgain)
{
    OpenPicture(32, 16, LeftHalf);
    page.parameters.width = 16;
    page.parameters.height = 8;
    doc.OnOutputPicture();
    const PictureFile* first = doc.GetOutput();
    ASSERT_NE(first, nullptr);
    std::vector<uint8_t> firstBits(first->Bits().begin(), first->Bits().end());

    OpenOk(WriteBmp("other.bmp", 24, 24, [](uint32_t, uint32_t) { return true; }));
    ASSERT_EQ(doc.GetOutput(), first);
    EXPECT_EQ(std::vector<uint8_t>(doc.GetOutput()->Bits().begin(), doc.GetOutput()->Bits().end()), firstBits);

    // The page took the new input's size; showing the output cuts it anew.
    doc.OnOutputPicture();
    ASSERT_NE(doc.GetOutput(), nullptr);
    EXPECT_EQ(doc.GetOutput()->Width(), 24u);
    EXPECT_EQ(doc.GetOutput()->Bits()[0], 0xFF);
}

std::vector<uint8_t> ExpectedLogo(const PictureFile& picture)
{
    LogoFile logo{std::string()};
    uint64_t length = static_cast<uint64_t>(BytesPerRow(picture.Width())) * picture.Height();
    logo.SetPicture(picture.Bits().data(), static_cast<size_t>(length));
    uint32_t width = picture.Width();
    uint32_t height = picture.Height();
    std::string error;
    std::vector<uint8_t> encoded;
    PictureResult result = logo.EncodeToMemory(width, height, error, encoded);
    EXPECT_TRUE(result == PR_OK || result == PR_SIZE_ADJUSTED) << error;
    return encoded;
}

TEST_F(DocumentOutputTest, DownloadStreamEncodesTheOutputElseTheInput)
{
    std::vector<uint8_t> stream = {1, 2, 3};
    EXPECT_FALSE(doc.BuildDownloadStream(stream));
    EXPECT_EQ(messages.Texts(),
              std::vector<std::string>{"There is no picture to downoad, please display one before to proceed."});
    EXPECT_TRUE(stream.empty());
    messages.shown.clear();

    // Input only: the input, 20 x 12 rounded up to the logo's 24 x 16.
    OpenPicture(20, 12, LeftHalf);
    ASSERT_TRUE(doc.BuildDownloadStream(stream));
    ASSERT_GE(stream.size(), 4u);
    EXPECT_EQ(std::vector<uint8_t>(stream.begin(), stream.begin() + 4), (std::vector<uint8_t>{0x1D, 0x2A, 3, 2}));
    EXPECT_EQ(stream, ExpectedLogo(*doc.GetInput()));

    // An output picture is encoded even while the input is displayed.
    page.parameters.width = 8;
    page.parameters.height = 8;
    page.parameters.offsetX = 4;
    doc.OnOutputPicture();
    doc.OnInputPicture();
    ASSERT_TRUE(doc.IsShowInput());
    ASSERT_TRUE(doc.BuildDownloadStream(stream));
    EXPECT_EQ(std::vector<uint8_t>(stream.begin(), stream.begin() + 4), (std::vector<uint8_t>{0x1D, 0x2A, 1, 1}));
    EXPECT_EQ(stream, ExpectedLogo(*doc.GetOutput()));
    EXPECT_TRUE(messages.shown.empty());

    EXPECT_EQ(doc.DownloadSizeError(), "");

    // Wider than the logo command can hold: the encoder refuses, and says why.
    ASSERT_TRUE(doc.CreateOutputPicture(BITMAP, "", 2048, 8, 0, 0));
    const std::string tooLarge =
        "Error - Picture too large for the Logo format (at most 2040 x 2040 dots, this one is 2048 x 8)";
    EXPECT_EQ(doc.DownloadSizeError(), tooLarge);
    EXPECT_FALSE(doc.BuildDownloadStream(stream));
    EXPECT_TRUE(stream.empty());
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{tooLarge});
}

TEST_F(DocumentOutputTest, StatusLineSaysWhichPictureAndWhetherThePortIsOpen)
{
    OpenPicture();
    statusLine.portOpen = true;
    doc.OnOutputPicture();
    EXPECT_EQ(statusLine.texts.back(), "Output picture displayed - Ready to communicate");
    doc.OnOutputPicture();
    EXPECT_EQ(statusLine.texts.back(), "Input picture displayed - Ready to communicate");

    // Before the main window exists nothing is written.
    statusLine.hasMainWindow = false;
    statusLine.texts.clear();
    doc.OnOutputPicture();
    EXPECT_TRUE(statusLine.texts.empty());
}

}  // namespace
