// Opening files and uploaded logos as the input picture: the format search,
// its messages, and the state the document is left in.
#include "command_ids.h"
#include "doc_test_util.h"

using namespace doc_testing;
using testing_support::ReadFileBytes;
using testing_support::WriteFileBytes;

namespace {

class DocumentOpenTest : public DocFixture {};

TEST_F(DocumentOpenTest, EveryFormatIsFoundAndShownAsNewInput)
{
    const PictureType types[] = {BITMAP, EPSON_GFX, LOGO, RASTER_GFX, RASTER_GFX_EXT};
    for (PictureType type : types) {
        SCOPED_TRACE(PictureTypeDisplayString(type));
        std::string path = PathOf(std::string("picture-") + PictureTypeEnumeratorName(type));
        WritePicture(path, type, 48, 48, Diagonal);
        OpenOk(path);
        EXPECT_EQ(doc.GetInput()->Type(), type);
        EXPECT_EQ(doc.GetInput()->Width(), 48u);
        EXPECT_EQ(doc.GetInput()->Height(), 48u);
        EXPECT_EQ(doc.GetInputPath(), path);
        EXPECT_TRUE(doc.IsNewInput());
        // The view showed the input, and the page took it as the new output values.
        ASSERT_FALSE(windows.drawn.empty());
        EXPECT_EQ(windows.drawn.back().hint, HINT_INPUT_PICTURE);
        EXPECT_EQ(windows.drawn.back().picture, doc.GetInput());
        ASSERT_FALSE(page.shown.empty());
        EXPECT_TRUE(page.shown.back().bNewInput);
        EXPECT_EQ(doc.GetOutputType(), type);
    }
}

TEST_F(DocumentOpenTest, FirstClassWhoseSignatureMatchesDecides)
{
    // 0x11 lines of two data bytes, which also hold the ESC * signature: the
    // raster format is tried first and takes the file.
    std::vector<uint8_t> lines;
    for (int i = 0; i < 3; ++i)
        lines.insert(lines.end(), {0x11, 0x1B, 0x2A});
    WriteFileBytes(dir / "both.gfx", lines);
    OpenOk(PathOf("both.gfx"));
    EXPECT_EQ(doc.GetInput()->Type(), RASTER_GFX);
    EXPECT_EQ(doc.GetInput()->Width(), 16u);
    EXPECT_EQ(doc.GetInput()->Height(), 3u);

    // Starts like raster lines but has no line length; a valid logo follows.
    // The raster verdict is final: the logo reader never sees the file.
    std::vector<uint8_t> refused = {0x11, 0x1D, 0x2A, 0x01, 0x01, 0, 0, 0, 0, 0, 0, 0, 0};
    WriteFileBytes(dir / "refused.log", refused);
    EXPECT_FALSE(doc.OnOpenDocument(PathOf("refused.log")));
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Error - File Format is not Raster Graphics (11)"});
    EXPECT_EQ(doc.GetInput(), nullptr);
}

TEST_F(DocumentOpenTest, BitmapThatIsNotMonochromeGoesToTheImporterNotToLaterFormats)
{
    std::vector<uint8_t> bytes = MakeBmp(8, 8, Diagonal, 24);
    // A complete logo command in the pixel area: the logo reader would take it.
    const uint8_t logo[] = {0x1D, 0x2A, 0x01, 0x01, 0x80, 0, 0, 0, 0, 0, 0, 0};
    std::copy(std::begin(logo), std::end(logo), bytes.begin() + 62);
    WriteFileBytes(dir / "colour.bmp", bytes);

    // A 24-bit bitmap of 8 x 8 needs 192 bytes of pixels; these are too few,
    // and the importer's reason is the one shown.
    EXPECT_FALSE(doc.OnOpenDocument(PathOf("colour.bmp")));
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].text.rfind("Error - ", 0), 0u) << messages.shown[0].text;
    EXPECT_EQ(doc.GetInput(), nullptr);
}

TEST_F(DocumentOpenTest, UnknownFileLeavesNoInputDisablesSaveAndKeepsOutput)
{
    OpenOk(WriteBmp("first.bmp", 32, 16));
    doc.OnOutputPicture();
    ASSERT_NE(doc.GetOutput(), nullptr);
    const PictureFile* output = doc.GetOutput();

    WriteFileBytes(dir / "notes.txt", {'h', 'e', 'l', 'l', 'o', '\n'});
    messages.shown.clear();
    EXPECT_FALSE(doc.OnOpenDocument(PathOf("notes.txt")));
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Picture type not supported."});
    EXPECT_EQ(doc.GetInput(), nullptr);
    EXPECT_FALSE(doc.OnUpdateFileSave());
    EXPECT_EQ(doc.OnUpdateCommand(ID_FILE_SAVE), std::optional<bool>(false));
    EXPECT_EQ(doc.OnUpdateCommand(ID_FILE_SAVE_AS), std::optional<bool>(false));
    // Opening never rebuilds or drops the output picture.
    EXPECT_EQ(doc.GetOutput(), output);
    // The open switched the display back to the input.
    EXPECT_TRUE(doc.IsChecked(ID_WINDOW_INPUT));
    EXPECT_FALSE(doc.IsChecked(ID_WINDOW_OUTPUT));

    // Commands that are disabled do nothing when they arrive anyway.
    windows.drawn.clear();
    doc.OnFileSave();
    doc.OnFileSaveAs();
    EXPECT_TRUE(windows.drawn.empty());
    EXPECT_TRUE(windows.saveRequests.empty());
}

TEST_F(DocumentOpenTest, FileThatCannotBeOpenedChangesNothing)
{
    std::string first = WriteBmp("first.bmp", 16, 16);
    OpenOk(first);
    const PictureFile* input = doc.GetInput();
    doc.SetModifiedFlag(true);

    for (const std::string& path : {PathOf("missing.bmp"), dir.path().string()}) {
        SCOPED_TRACE(path);
        messages.shown.clear();
        EXPECT_FALSE(doc.OnOpenDocument(path));
        ASSERT_EQ(messages.shown.size(), 1u);
        EXPECT_NE(messages.shown[0].text.find(path), std::string::npos) << messages.shown[0].text;
        EXPECT_EQ(messages.shown[0].buttons, MessageButtons::Ok);
        EXPECT_EQ(doc.GetInput(), input);
        EXPECT_EQ(doc.GetInputPath(), first);
        EXPECT_TRUE(doc.IsModified());
    }
}

TEST_F(DocumentOpenTest, OpeningWhileOutputIsShownSwitchesBackToInput)
{
    OpenOk(WriteBmp("first.bmp", 16, 16));
    doc.OnOutputPicture();
    ASSERT_FALSE(doc.IsShowInput());
    ASSERT_TRUE(doc.IsChecked(ID_WINDOW_OUTPUT));
    statusLine.texts.clear();
    windows.drawn.clear();

    OpenOk(WriteBmp("second.bmp", 24, 8));
    EXPECT_TRUE(doc.IsShowInput());
    EXPECT_TRUE(doc.IsChecked(ID_WINDOW_INPUT));
    EXPECT_FALSE(doc.IsChecked(ID_WINDOW_OUTPUT));
    EXPECT_EQ(windows.Hints(), std::vector<long>{HINT_INPUT_PICTURE});
    EXPECT_EQ(windows.drawn.back().picture, doc.GetInput());
    // The status line follows the switch.
    EXPECT_EQ(statusLine.texts, std::vector<std::string>{"Input picture displayed - Communication broken"});
}

TEST_F(DocumentOpenTest, NewDocumentKeepsPicturesAndMarksInputNew)
{
    std::string path = WriteBmp("first.bmp", 16, 16);
    OpenOk(path);
    doc.SetPathName(path);
    doc.OnOutputPicture();
    ASSERT_FALSE(doc.IsNewInput());
    doc.SetModifiedFlag(true);

    EXPECT_TRUE(doc.OnNewDocument());
    EXPECT_EQ(doc.GetPathName(), "");
    EXPECT_EQ(doc.GetTitle(), doc_strings::kDefaultTitle);
    EXPECT_FALSE(doc.IsModified());
    EXPECT_TRUE(doc.IsNewInput());
    EXPECT_NE(doc.GetInput(), nullptr);
    EXPECT_NE(doc.GetOutput(), nullptr);
}

TEST_F(DocumentOpenTest, UploadedLogoReplacesInputRemovesOutputAndShowsInput)
{
    std::string path = WriteBmp("first.bmp", 16, 16);
    OpenOk(path);
    doc.SetPathName(path);
    doc.OnOutputPicture();
    ASSERT_NE(doc.GetOutput(), nullptr);
    windows.drawn.clear();
    page.shown.clear();

    std::vector<uint8_t> upload = MakeBmp(40, 24, LeftHalf);
    doc.LoadInputFromMemory(upload.data(), upload.size());
    EXPECT_TRUE(messages.shown.empty());
    ASSERT_NE(doc.GetInput(), nullptr);
    EXPECT_EQ(doc.GetInput()->Width(), 40u);
    EXPECT_EQ(doc.GetInput()->Height(), 24u);
    EXPECT_EQ(doc.GetInput()->Path(), "");
    EXPECT_EQ(doc.GetOutput(), nullptr);
    EXPECT_EQ(doc.GetInputPath(), path);
    EXPECT_EQ(doc.GetPathName(), path);
    EXPECT_EQ(doc.GetTitle(), "first.bmp");
    EXPECT_TRUE(doc.IsShowInput());
    EXPECT_TRUE(doc.IsChecked(ID_WINDOW_INPUT));
    EXPECT_EQ(windows.Hints(), std::vector<long>{HINT_INPUT_PICTURE});
    ASSERT_EQ(page.shown.size(), 1u);
    EXPECT_TRUE(page.shown[0].bNewInput);

    // With the input already displayed: one update, no switch.
    windows.drawn.clear();
    doc.LoadInputFromMemory(upload.data(), upload.size());
    EXPECT_EQ(windows.Hints(), std::vector<long>{HINT_INPUT_PICTURE});
    EXPECT_TRUE(doc.IsChecked(ID_WINDOW_INPUT));
}

TEST_F(DocumentOpenTest, FailedUploadLeavesNeitherPicture)
{
    struct Case {
        std::vector<uint8_t> bytes;
        std::string message;
    };
    std::vector<uint8_t> truncated = MakeBmp(64, 64, Diagonal);
    truncated.resize(70);
    const Case cases[] = {
        {{0x1D, 0x2A, 0x01, 0x01, 0, 0, 0, 0, 0, 0, 0, 0}, "Picture type not supported."},
        {MakeBmp(8, 8, Diagonal, 24), "Error - Bmp File is not monochrome"},
        {{}, "Picture type not supported."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        OpenOk(WriteBmp("first.bmp", 16, 16));
        doc.OnOutputPicture();
        messages.shown.clear();
        windows.drawn.clear();
        doc.LoadInputFromMemory(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(messages.Texts(), std::vector<std::string>{c.message});
        EXPECT_EQ(doc.GetInput(), nullptr);
        EXPECT_EQ(doc.GetOutput(), nullptr);
        EXPECT_TRUE(windows.drawn.empty());
        // The output stays selected, with nothing to rebuild it from: a page
        // change then draws nothing and says nothing.
        messages.shown.clear();
        doc.SetModifiedFlag(true);
        doc.UpdateAllViews(HINT_OUTPUT_PICTURE);
        EXPECT_TRUE(messages.shown.empty());
        EXPECT_EQ(windows.drawn.back().picture, nullptr);
    }
    // A truncated bitmap is refused by the reader with a message of its own.
    messages.shown.clear();
    doc.LoadInputFromMemory(truncated.data(), truncated.size());
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].text.rfind("Error - ", 0), 0u) << messages.shown[0].text;
    EXPECT_EQ(doc.GetInput(), nullptr);
}

}  // namespace
