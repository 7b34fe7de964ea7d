// Saving the output picture: Save, Save As, the types and their dialogs, and
// what a failed save leaves on disk.
#include "command_ids.h"
#include "doc_test_util.h"

using namespace doc_testing;
using testing_support::ReadFileBytes;
using testing_support::WriteFileBytes;

namespace {

class DocumentSaveTest : public DocFixture {
protected:
    // Opens a 32 x 24 bitmap with a black frame, so that the formats that
    // measure their extent from the dots read back the whole size.
    std::string OpenInput()
    {
        std::string input =
            WriteBmp("input.bmp", 32, 24, [](uint32_t x, uint32_t y) { return x == 0 || x == 31 || y == 0 || y == 23; });
        OpenOk(input);
        inputBytes = ReadFileBytes(input);
        return input;
    }

    // Files in the scratch folder, so a stray temporary file shows.
    std::vector<std::string> FolderContent() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::vector<uint8_t> inputBytes;
};

TEST_F(DocumentSaveTest, SaveWritesTheOutputPathInTheCurrentType)
{
    std::string input = OpenInput();
    // The page starts with the input's path; the user gives another one.
    ASSERT_EQ(page.parameters.path, input);
    page.parameters.path = PathOf("made.gfx");
    doc.OnOutputPicture();
    doc.OnOutputPicture();  // back to the input; the output keeps its path

    // Another type picked on the page changes nothing until the save.
    doc.SetOutputType(RASTER_GFX);
    page.parameters.path = PathOf("ignored.gfx");
    page.parameters.type = RASTER_GFX;
    windows.drawn.clear();

    EXPECT_TRUE(doc.OnCommand(ID_FILE_SAVE));
    EXPECT_TRUE(messages.shown.empty());
    // Saving showed the output first, which rebuilt it from the page.
    EXPECT_FALSE(doc.IsShowInput());
    EXPECT_EQ(windows.drawn.front().hint, HINT_OUTPUT_PICTURE);
    EXPECT_TRUE(std::filesystem::exists(dir / "ignored.gfx"));

    // With the output displayed, Save does not rebuild it: the output keeps
    // the path it was made with, whatever the page says now.
    page.parameters.path = PathOf("later.gfx");
    doc.SetOutputType(RASTER_GFX_EXT);
    doc.OnFileSave();
    EXPECT_FALSE(std::filesystem::exists(dir / "later.gfx"));
    LoadedPicture saved = ReadBack(dir / "ignored.gfx");
    ASSERT_EQ(saved.outcome, LoadOutcome::Loaded) << saved.error;
    EXPECT_EQ(saved.picture->Type(), RASTER_GFX_EXT);
    EXPECT_EQ(saved.picture->Width(), 32u);
    EXPECT_EQ(saved.picture->Height(), 24u);
    // Saving changes neither the document's path name nor its stale flag, and
    // the input file is left as it was.
    EXPECT_EQ(doc.GetPathName(), "");
    EXPECT_FALSE(doc.IsModified());
    EXPECT_EQ(ReadFileBytes(input), inputBytes);
}

TEST_F(DocumentSaveTest, SaveAsOffersTheOutputTypeAndBroadcastsThePath)
{
    struct Case {
        PictureType type;
        const char* filter;
        const char* extension;
    };
    const Case cases[] = {
        {BITMAP, "Windows bitmap (*.bmp)", "bmp"},
        {EPSON_GFX, "EPSON GFX (*.gfx)", "gfx"},
        {LOGO, "LOGO (*.log)", "log"},
        {RASTER_GFX, "RASTER GFX (*.gfx)", "gfx"},
        {RASTER_GFX_EXT, "RASTER GFX EXT(*.gfx)", "gfx"},
    };
    OpenInput();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.filter);
        windows.saveRequests.clear();
        windows.outputSaved.clear();
        doc.SetOutputType(c.type);
        page.parameters.type = c.type;
        std::string typed = PathOf(std::string("saved-") + PictureTypeEnumeratorName(c.type));
        windows.saveAnswer = typed;

        EXPECT_TRUE(doc.OnCommand(ID_FILE_SAVE_AS));
        ASSERT_EQ(windows.saveRequests.size(), 1u);
        const SaveDialogRequest& request = windows.saveRequests[0];
        EXPECT_EQ(request.filterText, c.filter);
        EXPECT_EQ(request.defaultExtension, c.extension);
        EXPECT_EQ(request.initialFileName, "");
        EXPECT_TRUE(request.overwritePrompt);
        EXPECT_TRUE(request.hideReadOnly);

        // A name typed without extension gets the type's.
        std::string written = typed + "." + c.extension;
        EXPECT_EQ(windows.outputSaved, std::vector<std::string>{written});
        EXPECT_EQ(page.parameters.path, written);
        EXPECT_EQ(doc.GetOutput()->Path(), written);
        LoadedPicture saved = ReadBack(written);
        ASSERT_EQ(saved.outcome, LoadOutcome::Loaded) << saved.error;
        EXPECT_EQ(saved.picture->Type(), c.type);
        EXPECT_EQ(saved.picture->Width(), 32u);
    }
    // EPSON GFX rounds the height up to 24 rows, which 24 already is.
    EXPECT_TRUE(messages.shown.empty());

    // Save then goes to the path chosen last.
    std::filesystem::remove(PathOf("saved-RASTER_GFX_EXT.gfx"));
    doc.OnFileSave();
    EXPECT_TRUE(std::filesystem::exists(dir / "saved-RASTER_GFX_EXT.gfx"));
}

TEST_F(DocumentSaveTest, SaveAsCancelledOrWithUnknownTypeWritesNothing)
{
    OpenInput();
    std::vector<std::string> before = FolderContent();

    windows.saveAnswer.reset();
    doc.OnFileSaveAs();
    EXPECT_EQ(windows.saveRequests.size(), 1u);
    EXPECT_TRUE(windows.outputSaved.empty());

    doc.SetOutputType(static_cast<PictureType>(5));
    windows.saveAnswer = PathOf("never");
    doc.OnFileSaveAs();
    EXPECT_EQ(windows.saveRequests.size(), 1u);  // no dialog
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Error - unknown output type."});
    EXPECT_TRUE(windows.outputSaved.empty());
    EXPECT_EQ(FolderContent(), before);

    // Save with that type: the same message, nothing written.
    messages.shown.clear();
    doc.OnFileSave();
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Error - unknown output type."});
    EXPECT_EQ(FolderContent(), before);
}

TEST_F(DocumentSaveTest, RoundedSizeIsWrittenAndReported)
{
    OpenInput();
    page.parameters.width = 10;
    page.parameters.height = 10;
    page.parameters.path = PathOf("rounded.log");
    doc.SetOutputType(LOGO);
    doc.OnOutputPicture();

    EXPECT_FALSE(doc.OnSaveDocument(std::string()));
    EXPECT_EQ(messages.Texts(),
              std::vector<std::string>{
                  "Picture Width & Height have been adjusted to be compatible with selected output format"});
    LoadedPicture saved = ReadBack(dir / "rounded.log");
    ASSERT_EQ(saved.outcome, LoadOutcome::Loaded) << saved.error;
    EXPECT_EQ(saved.picture->Type(), LOGO);
    EXPECT_EQ(saved.picture->Width(), 16u);
    EXPECT_EQ(saved.picture->Height(), 16u);
}

TEST_F(DocumentSaveTest, FailedSaveLeavesTheExistingFileIntact)
{
    OpenInput();
    const std::vector<uint8_t> precious = {'k', 'e', 'e', 'p'};
    WriteFileBytes(dir / "precious.log", precious);

    // Too wide for the logo format: the writer refuses after the target was
    // opened for writing.
    ASSERT_TRUE(doc.CreateOutputPicture(LOGO, PathOf("precious.log"), 2048, 8, 0, 0));
    doc.SetOutputType(LOGO);
    std::vector<std::string> before = FolderContent();
    EXPECT_FALSE(doc.OnSaveDocument(std::string()));
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].text.rfind("Error - ", 0), 0u) << messages.shown[0].text;
    EXPECT_EQ(ReadFileBytes(dir / "precious.log"), precious);
    EXPECT_EQ(FolderContent(), before);

    // A target in a folder that does not exist cannot be created.
    messages.shown.clear();
    std::string unreachable = PathOf("no-such-folder/out.bmp");
    doc.SetOutputType(BITMAP);
    EXPECT_FALSE(doc.OnSaveDocument(unreachable));
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Error - File Open : " + unreachable});
    EXPECT_EQ(FolderContent(), before);
}

TEST_F(DocumentSaveTest, DefaultExtensionIsAddedOnlyToANameWithout)
{
    EXPECT_EQ(ApplyDefaultExtension("/a/logo", "log"), "/a/logo.log");
    EXPECT_EQ(ApplyDefaultExtension("/a/logo.gfx", "log"), "/a/logo.gfx");
    EXPECT_EQ(ApplyDefaultExtension("/a.b/logo", "bmp"), "/a.b/logo.bmp");
    EXPECT_EQ(ApplyDefaultExtension("logo", "gfx"), "logo.gfx");
    EXPECT_EQ(ApplyDefaultExtension("/a/.hidden", "log"), "/a/.hidden.log");
    EXPECT_EQ(ApplyDefaultExtension("/a/", "log"), "/a/");
    EXPECT_EQ(ApplyDefaultExtension("/a/logo", ""), "/a/logo");
}

}  // namespace

TEST_F(DocumentSaveTest, SaveNeverWritesAnotherFormatOverTheInputFile)
{
    std::string input = OpenInput();
    // The page starts with the input's own path as the output path.
    ASSERT_EQ(page.parameters.path, input);
    doc.SetOutputType(LOGO);
    page.parameters.type = LOGO;

    // Save asks for a name instead, offering the input's with ".log"; a
    // cancelled dialog writes nothing anywhere.
    doc.OnFileSave();
    ASSERT_EQ(windows.saveRequests.size(), 1u);
    EXPECT_EQ(windows.saveRequests[0].initialFileName, PathOf("input.log"));
    EXPECT_EQ(windows.saveRequests[0].filterText, "LOGO (*.log)");
    EXPECT_EQ(ReadFileBytes(input), inputBytes);
    EXPECT_EQ(FolderContent(), std::vector<std::string>{"input.bmp"});

    // The same file under another spelling is still the input file.
    page.parameters.path = (dir.path() / "." / "input.bmp").string();
    doc.OnOutputPicture();  // back to the input; Save rebuilds the output
    doc.OnFileSave();
    ASSERT_EQ(windows.saveRequests.size(), 2u);
    EXPECT_EQ(doc.GetOutput()->Path(), page.parameters.path);
    EXPECT_EQ(ReadFileBytes(input), inputBytes);

    // Confirmed: the logo goes to the chosen file, the page takes its path,
    // and the next Save writes there without asking.
    windows.saveAnswer = PathOf("input");
    doc.OnFileSave();
    EXPECT_EQ(windows.saveRequests.size(), 3u);
    EXPECT_EQ(windows.outputSaved, std::vector<std::string>{PathOf("input.log")});
    EXPECT_EQ(ReadFileBytes(input), inputBytes);
    LoadedPicture saved = ReadBack(dir / "input.log");
    ASSERT_EQ(saved.outcome, LoadOutcome::Loaded) << saved.error;
    EXPECT_EQ(saved.picture->Type(), LOGO);
    std::filesystem::remove(dir / "input.log");
    doc.OnFileSave();
    EXPECT_EQ(windows.saveRequests.size(), 3u);
    EXPECT_TRUE(std::filesystem::exists(dir / "input.log"));
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(DocumentSaveTest, SaveInTheInputsOwnFormatStillWritesToItsPath)
{
    std::string input = OpenInput();
    doc.SetOutputType(BITMAP);
    page.parameters.type = BITMAP;
    page.parameters.width = 16;
    doc.OnFileSave();
    EXPECT_TRUE(windows.saveRequests.empty());
    LoadedPicture saved = ReadBack(input);
    ASSERT_EQ(saved.outcome, LoadOutcome::Loaded) << saved.error;
    EXPECT_EQ(saved.picture->Type(), BITMAP);
    EXPECT_EQ(saved.picture->Width(), 16u);

    EXPECT_EQ(SaveAsSuggestion("/a.b/shop", RASTER_GFX), "/a.b/shop.gfx");
    EXPECT_EQ(SaveAsSuggestion("/x/shop.bmp", BITMAP), "/x/shop.bmp");
    EXPECT_EQ(SaveAsSuggestion("/x/shop.old.bmp", EPSON_GFX), "/x/shop.old.gfx");
}
