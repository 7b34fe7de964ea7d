// The start-up and shutdown order, the command line, and the document
// operations the application object serves.
#include "app_test_util.h"
#include "command_ids.h"

using namespace app_testing;
using testing_support::ReadFileBytes;

namespace {

class StartupTest : public AppFixture {};

TEST_F(StartupTest, InitInstanceRunsItsStepsInOrder)
{
    ASSERT_TRUE(app.InitInstance());
    const std::vector<std::string> expected = {
        "InitFrameworkSupport", "CreateWaitThread",   "LoadStdProfileSettings 4",
        "InitComponentSupport", "CreateCommunication", "ConnectPrinter",
        "CreateMainFrame",      "ProcessCommandLine",  "StopWaitThread",
        "ShowMainWindow",
    };
    EXPECT_EQ(app.calls, expected);
    // The printer is connected with the loaded settings, and knows the
    // program folder (the driver file is found beside the program).
    EXPECT_EQ(app.baudRateAtConnect, 115200);
    EXPECT_FALSE(app.programDirAtConnect.empty());
    EXPECT_EQ(app.m_pWaitThread, nullptr);
    EXPECT_TRUE(app.HasMainWindow());
    EXPECT_TRUE(messages.shown.empty());

    // No argument: an empty document.
    ASSERT_NE(app.GetDocument(), nullptr);
    EXPECT_EQ(app.GetDocument()->GetPathName(), "");
    EXPECT_EQ(app.GetDocument()->GetTitle(), doc_strings::kDefaultTitle);
    EXPECT_FALSE(app.IsInputLoaded());
}

TEST_F(StartupTest, MainWindowIsNeverShownWhenStartUpFails)
{
    app.communicationWorks = false;
    EXPECT_FALSE(app.InitInstance());
    const std::vector<std::string> expected = {
        "InitFrameworkSupport", "CreateWaitThread",    "LoadStdProfileSettings 4",
        "InitComponentSupport", "CreateCommunication", "StopWaitThread",
    };
    EXPECT_EQ(app.calls, expected);
    EXPECT_EQ(app.GetDocument(), nullptr);
    EXPECT_FALSE(app.HasMainWindow());

    RecordingApp noFrame(messages, windows);
    noFrame.SetProfilePath(app.GetProfilePath());
    noFrame.mainFrameWorks = false;
    EXPECT_FALSE(noFrame.InitInstance());
    EXPECT_EQ(noFrame.calls.back(), "StopWaitThread");
    EXPECT_EQ(std::count(noFrame.calls.begin(), noFrame.calls.end(), "ShowMainWindow"), 0);
}

TEST_F(StartupTest, FileOnTheCommandLineIsOpenedInsteadOfAnEmptyDocument)
{
    std::string path = WriteBmp("logo.bmp", 24, 16);
    app.SetCommandLine({path});
    ASSERT_TRUE(app.InitInstance());
    CMarquenDoc* doc = app.GetDocument();
    ASSERT_NE(doc, nullptr);
    EXPECT_TRUE(app.IsInputLoaded());
    EXPECT_EQ(doc->GetInput()->Width(), 24u);
    EXPECT_EQ(doc->GetPathName(), path);
    EXPECT_EQ(doc->GetTitle(), "logo.bmp");
    EXPECT_EQ(app.recentFiles, std::vector<std::string>{path});
    // The view had it before the main window was shown.
    ASSERT_FALSE(windows.drawn.empty());
    EXPECT_EQ(windows.drawn.back().picture, doc->GetInput());
    EXPECT_EQ(app.calls.back(), "ShowMainWindow");
}

TEST_F(StartupTest, FileOnTheCommandLineThatCannotBeReadEndsTheStartUp)
{
    testing_support::WriteFileBytes(dir / "notes.txt", {'n', 'o'});
    app.SetCommandLine({(dir / "notes.txt").string()});
    EXPECT_FALSE(app.InitInstance());
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Picture type not supported."});
    EXPECT_EQ(app.calls.back(), "StopWaitThread");
    EXPECT_TRUE(app.recentFiles.empty());
}

TEST_F(StartupTest, ExitInstanceRunsItsStepsInOrderWithoutAskingToSave)
{
    std::string path = WriteBmp("logo.bmp", 24, 16);
    std::vector<uint8_t> original = ReadFileBytes(path);
    app.SetCommandLine({path});
    ASSERT_TRUE(app.InitInstance());
    // The output is stale: the framework would ask whether to save, and a yes
    // would write the output format over the input file.
    app.UpdateOutputPicture();
    ASSERT_TRUE(app.GetDocument()->IsModified());
    app.calls.clear();

    EXPECT_EQ(app.ExitInstance(), 3);
    const std::vector<std::string> expected = {"ShutdownCommunication", "OfferDriverSwitchBack",
                                               "TermComponentSupport", "FrameworkExit"};
    EXPECT_EQ(app.calls, expected);
    EXPECT_TRUE(app.profileWrittenBeforeExit);
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_EQ(ReadFileBytes(path), original);
}

TEST_F(StartupTest, ReopeningTheOpenFileReloadsItFromDisk)
{
    ASSERT_TRUE(app.InitInstance());
    std::string path = WriteBmp("logo.bmp", 24, 16);
    CMarquenDoc* doc = app.OpenDocumentFile(path);
    ASSERT_NE(doc, nullptr);
    ASSERT_EQ(doc->GetInput()->Width(), 24u);

    // The framework alone would only hand back the open document.
    WriteBmp("logo.bmp", 40, 8);
    EXPECT_EQ(app.OpenDocumentFileDefault(path), doc);
    EXPECT_EQ(doc->GetInput()->Width(), 24u);

    doc->SetModifiedFlag(true);
    EXPECT_EQ(app.OpenDocumentFile(path), doc);
    EXPECT_EQ(doc->GetInput()->Width(), 40u);
    EXPECT_EQ(doc->GetInput()->Height(), 8u);
    EXPECT_EQ(doc->GetPathName(), path);
    EXPECT_FALSE(doc->IsModified());
    EXPECT_EQ(app.recentFiles, (std::vector<std::string>{path, path}));
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(StartupTest, FailedOpenKeepsThePathNameAndTheStaleFlag)
{
    ASSERT_TRUE(app.InitInstance());
    std::string path = WriteBmp("logo.bmp", 24, 16);
    CMarquenDoc* doc = app.OpenDocumentFile(path);
    ASSERT_NE(doc, nullptr);
    doc->SetModifiedFlag(true);

    EXPECT_EQ(app.OpenDocumentFile((dir / "missing.bmp").string()), nullptr);
    EXPECT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(doc->GetPathName(), path);
    EXPECT_TRUE(doc->IsModified());
    EXPECT_TRUE(app.IsInputLoaded());

    // A file that opens but holds no picture leaves no input behind.
    testing_support::WriteFileBytes(dir / "notes.txt", {'n', 'o'});
    EXPECT_EQ(app.OpenDocumentFile((dir / "notes.txt").string()), nullptr);
    EXPECT_FALSE(app.IsInputLoaded());
    EXPECT_EQ(doc->GetPathName(), path);
    // Choosing the old file again reads it anew.
    EXPECT_EQ(app.OpenDocumentFile(path), doc);
    EXPECT_TRUE(app.IsInputLoaded());
}

// Answers the import question with the queued answers; nothing: cancel.
class QueuedImportQuestion : public IImportQuestion {
public:
    std::optional<ImportOptions> AskImportOptions(const ImportRequest&, const ImportOptions&) override
    {
        ++asked;
        std::optional<ImportOptions> answer = answers.empty() ? std::nullopt : answers.front();
        if (!answers.empty())
            answers.erase(answers.begin());
        return answer;
    }
    std::vector<std::optional<ImportOptions>> answers;
    int asked = 0;
};

TEST_F(StartupTest, CancellingTheImportOfTheOpenPictureKeepsItsNameAndState)
{
    ASSERT_TRUE(app.InitInstance());
    std::filesystem::copy_file(std::filesystem::path(MARQUEN_TEST_DATA_DIR) / "ui/shop-logo.png", dir / "shop.png");
    const std::string path = (dir / "shop.png").string();
    QueuedImportQuestion question;
    question.answers = {ImportOptions{}, std::nullopt};
    app.GetDocument()->AttachImportQuestion(&question, nullptr);
    CMarquenDoc* doc = app.OpenDocumentFile(path);
    ASSERT_NE(doc, nullptr);
    const PictureFile* input = doc->GetInput();
    ASSERT_NE(input, nullptr);
    EXPECT_EQ(doc->GetTitle(), "shop.png");
    doc->OnOutputPicture();
    const bool newInput = doc->IsNewInput();

    // Opening the same file again reloads it, but only once the user has
    // answered: a cancel must not have forgotten the document's name first.
    EXPECT_EQ(app.OpenDocumentFile(path), nullptr);
    EXPECT_EQ(question.asked, 2);
    EXPECT_TRUE(doc->OpenWasCancelled());
    EXPECT_EQ(doc->GetPathName(), path);
    EXPECT_EQ(doc->GetTitle(), "shop.png");
    EXPECT_EQ(doc->GetInput(), input);
    EXPECT_EQ(doc->IsNewInput(), newInput);
    EXPECT_FALSE(doc->IsShowInput());
    EXPECT_EQ(app.recentFiles, std::vector<std::string>{path});
    EXPECT_TRUE(messages.shown.empty());
    app.GetDocument()->AttachImportQuestion(nullptr, nullptr);
}

TEST_F(StartupTest, APictureWhoseImportIsCancelledAtStartUpGivesAnEmptyDocument)
{
    std::filesystem::copy_file(std::filesystem::path(MARQUEN_TEST_DATA_DIR) / "ui/shop-logo.png", dir / "shop.png");
    QueuedImportQuestion question;  // cancels
    app.SetCommandLine({(dir / "shop.png").string()});
    app.attachImportQuestion = &question;
    ASSERT_TRUE(app.InitInstance());
    EXPECT_EQ(question.asked, 1);
    EXPECT_FALSE(app.IsInputLoaded());
    EXPECT_EQ(app.GetDocument()->GetPathName(), "");
    EXPECT_TRUE(messages.shown.empty());
    app.GetDocument()->AttachImportQuestion(nullptr, nullptr);
}

TEST_F(StartupTest, PageChangesRebuildTheDisplayedOutput)
{
    // Without a document there is nothing to update.
    app.UpdateOutputPicture();
    EXPECT_FALSE(app.IsInputLoaded());

    std::string path = WriteBmp("logo.bmp", 24, 16);
    app.SetCommandLine({path});
    ASSERT_TRUE(app.InitInstance());
    CMarquenDoc* doc = app.GetDocument();
    doc->OnOutputPicture();
    ASSERT_EQ(doc->GetOutput()->Width(), 24u);

    page.parameters.width = 8;
    page.parameters.offsetX = 2;
    windows.drawn.clear();
    app.UpdateOutputPicture();
    EXPECT_EQ(windows.Hints(), std::vector<long>{HINT_OUTPUT_PICTURE});
    ASSERT_NE(doc->GetOutput(), nullptr);
    EXPECT_EQ(doc->GetOutput()->Width(), 8u);
    EXPECT_EQ(doc->GetOutput()->OffsetX(), 2u);
    EXPECT_FALSE(doc->IsModified());
}

TEST_F(StartupTest, CommandsAndStatusLineOfTheApplication)
{
    ASSERT_TRUE(app.InitInstance());
    // Without a communication object, connecting only refreshes the status line.
    app.ConnectPrinter();
    EXPECT_EQ(app.GetStatusText(), "Input picture displayed - Communication broken");
    EXPECT_EQ(app.statusShown, std::vector<std::string>{"Input picture displayed - Communication broken"});

    std::string path = WriteBmp("logo.bmp", 24, 16);
    CMarquenDoc* doc = app.OpenDocumentFile(path);
    ASSERT_NE(doc, nullptr);
    EXPECT_TRUE(app.OnCommand(ID_FILE_NEW));
    EXPECT_EQ(doc->GetPathName(), "");
    EXPECT_EQ(doc->GetTitle(), doc_strings::kDefaultTitle);
    EXPECT_TRUE(app.IsInputLoaded());  // the pictures stay

    EXPECT_TRUE(app.OnCommand(ID_APP_ABOUT));
    EXPECT_EQ(app.calls.back(), "OnAppAbout");
    EXPECT_FALSE(app.OnCommand(ID_FILE_SAVE));
}

TEST(ProgramFolderTest, IsTheFolderOfTheProgramsOwnLibraries)
{
    // The test program lies elsewhere; its libraries are the build's.
    std::string folder = ProgramFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder.back(), '/');
    const char* bin = std::getenv("MARQUEN_BIN_DIR");
    ASSERT_NE(bin, nullptr);
    EXPECT_EQ(std::filesystem::path(folder), std::filesystem::canonical(bin));
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(folder) / "libquorlink.so"));
}

}  // namespace
