// Opening a colour or grey picture: the import question before anything of
// the document changes, the dots it gives as the input picture, a cancel that
// leaves the document as it was, and the choices kept for the next import.
#include "../import/test_module.h"
#include "command_ids.h"
#include "doc_test_util.h"

using namespace doc_testing;
using testing_support::ReadFileBytes;
using testing_support::WriteFileBytes;

namespace {

// Answers with the queued choices (nothing: the user cancels) and records
// what it was asked.
class FakeImportQuestion : public IImportQuestion {
public:
    std::optional<ImportOptions> AskImportOptions(const ImportRequest& request, const ImportOptions& initial) override
    {
        asked.push_back({request.path, request.format, initial});
        // What the dialog would show first, through the preview it is given.
        ImportedPicture dots;
        std::string error;
        previewed = request.preview != nullptr && request.preview->Compute(initial, dots, error);
        std::optional<ImportOptions> answer = answers.empty() ? std::nullopt : answers.front();
        if (!answers.empty())
            answers.erase(answers.begin());
        return answer;
    }
    struct Asked {
        std::string path;
        ImageFormat format;
        ImportOptions initial;
    };
    std::vector<Asked> asked;
    std::vector<std::optional<ImportOptions>> answers;
    bool previewed = false;
};

class MemoryImportStore : public IImportSettingsStore {
public:
    ImportOptions LoadImportOptions() override { return kept; }
    void SaveImportOptions(const ImportOptions& options) override
    {
        kept = options;
        ++saves;
    }
    ImportOptions kept;
    int saves = 0;
};

bool SameOptions(const ImportOptions& a, const ImportOptions& b)
{
    return a.dither.method == b.dither.method && a.dither.threshold == b.dither.threshold &&
           a.dither.invert == b.dither.invert && a.dither.brightness == b.dither.brightness &&
           a.dither.contrast == b.dither.contrast && a.fitWidth == b.fitWidth;
}

std::string DataFile(const std::string& relative)
{
    return (std::filesystem::path(MARQUEN_TEST_DATA_DIR) / relative).string();
}

class DocumentImportTest : public DocFixture {
protected:
    DocumentImportTest() { doc.AttachImportQuestion(&question, &store); }

    std::string CopyLogo(const std::string& name = "shop-logo.png")
    {
        std::filesystem::copy_file(DataFile("ui/shop-logo.png"), dir.path() / name);
        return PathOf(name);
    }

    FakeImportQuestion question;
    MemoryImportStore store;
};

TEST_F(DocumentImportTest, OkMakesTheChosenDotsTheInputBitmapNamedByTheFile)
{
    ASSERT_TRUE(import_test::kModuleLoaded);
    std::string logo = CopyLogo();
    ImportOptions choice;
    choice.dither.method = DitherMethod::None;
    choice.dither.threshold = 100;
    choice.fitWidth = 384;
    question.answers = {choice};

    OpenOk(logo);
    ASSERT_EQ(question.asked.size(), 1u);
    EXPECT_EQ(question.asked[0].path, logo);
    EXPECT_EQ(question.asked[0].format, ImageFormat::Png);
    EXPECT_TRUE(question.previewed);

    const PictureFile& input = *doc.GetInput();
    EXPECT_EQ(input.Type(), BITMAP);
    EXPECT_EQ(input.Width(), 384u);
    EXPECT_EQ(input.Height(), 133u);  // round(200 x 384 / 576)
    ImportedPicture expected;
    std::string error;
    ASSERT_TRUE(ImportPicture(ReadFileBytes(logo), choice, expected, error)) << error;
    ASSERT_GE(input.Bits().size(), expected.bits.size());
    EXPECT_TRUE(std::equal(expected.bits.begin(), expected.bits.end(), input.Bits().begin()));

    // Named by the file, shown as a new input, taken by the page as BITMAP.
    EXPECT_EQ(doc.GetInputPath(), logo);
    EXPECT_EQ(input.Path(), logo);
    EXPECT_TRUE(doc.IsInputImported());
    EXPECT_TRUE(doc.IsNewInput());
    ASSERT_FALSE(windows.drawn.empty());
    EXPECT_EQ(windows.drawn.back().picture, doc.GetInput());
    EXPECT_EQ(doc.GetOutputType(), BITMAP);
}

TEST_F(DocumentImportTest, CancelLeavesEveryPartOfTheDocumentAsItWas)
{
    std::string first = WriteBmp("first.bmp", 32, 16);
    OpenOk(first);
    doc.SetPathName(first);
    doc.OnOutputPicture();
    const PictureFile* input = doc.GetInput();
    const PictureFile* output = doc.GetOutput();
    ASSERT_NE(output, nullptr);
    const bool modified = doc.IsModified();
    const size_t drawn = windows.drawn.size();
    const size_t statusTexts = statusLine.texts.size();

    std::string logo = CopyLogo();
    question.answers = {std::nullopt, std::nullopt};
    EXPECT_FALSE(doc.PrepareOpen(logo));
    EXPECT_TRUE(doc.OpenWasCancelled());
    EXPECT_FALSE(doc.OnOpenDocument(logo));
    EXPECT_TRUE(doc.OpenWasCancelled());
    EXPECT_EQ(question.asked.size(), 2u);

    EXPECT_TRUE(messages.shown.empty());
    EXPECT_EQ(doc.GetInput(), input);
    EXPECT_EQ(doc.GetOutput(), output);
    EXPECT_EQ(doc.GetInputPath(), first);
    EXPECT_EQ(doc.GetPathName(), first);
    EXPECT_EQ(doc.GetTitle(), "first.bmp");
    EXPECT_EQ(doc.IsModified(), modified);
    EXPECT_FALSE(doc.IsShowInput());
    EXPECT_TRUE(doc.IsChecked(ID_WINDOW_OUTPUT));
    EXPECT_EQ(windows.drawn.size(), drawn);
    EXPECT_EQ(statusLine.texts.size(), statusTexts);
    EXPECT_FALSE(doc.IsInputImported());
    // Nothing chosen, nothing kept.
    EXPECT_EQ(store.saves, 0);
}

TEST_F(DocumentImportTest, TheLastChoicesAreOfferedAtTheNextImport)
{
    std::string logo = CopyLogo();
    ImportOptions choice;
    choice.dither.method = DitherMethod::Atkinson;
    choice.dither.invert = true;
    choice.dither.brightness = 30;
    choice.dither.contrast = -20;
    choice.fitWidth = 576;
    question.answers = {choice, std::nullopt, choice};

    OpenOk(logo);
    EXPECT_TRUE(SameOptions(question.asked[0].initial, ImportOptions{}));
    EXPECT_EQ(store.saves, 1);
    EXPECT_TRUE(SameOptions(store.kept, choice));

    // A cancelled import keeps what was chosen before.
    EXPECT_FALSE(doc.OnOpenDocument(CopyLogo("again.png")));
    EXPECT_TRUE(SameOptions(question.asked[1].initial, choice));
    EXPECT_EQ(store.saves, 1);

    // A kept value out of range (a hand-edited profile) is offered clamped.
    store.kept.dither.threshold = 4000;
    store.kept.fitWidth = 100;
    OpenOk(PathOf("again.png"));
    EXPECT_EQ(question.asked[2].initial.dither.threshold, kMaxThreshold);
    EXPECT_EQ(question.asked[2].initial.fitWidth, 0u);
}

TEST_F(DocumentImportTest, SaveNeverWritesABitmapOverTheImportedPicture)
{
    std::string logo = CopyLogo();
    const std::vector<uint8_t> original = ReadFileBytes(logo);
    question.answers = {ImportOptions{}};
    OpenOk(logo);
    // The page took the picture's own path as the output path and BITMAP as
    // the type, the input's own type: Save must still ask for a name.
    doc.OnFileSave();
    ASSERT_EQ(windows.saveRequests.size(), 1u);
    EXPECT_EQ(windows.saveRequests[0].initialFileName, PathOf("shop-logo.bmp"));
    EXPECT_EQ(ReadFileBytes(logo), original);
}

TEST_F(DocumentImportTest, ADamagedPictureIsReportedAndChangesNothing)
{
    OpenOk(WriteBmp("first.bmp", 32, 16));
    const PictureFile* input = doc.GetInput();
    std::filesystem::copy_file(DataFile("import/bad/cut-rgb8.png"), dir.path() / "cut.png");
    question.answers = {ImportOptions{}};
    messages.shown.clear();
    EXPECT_FALSE(doc.OnOpenDocument(PathOf("cut.png")));
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].text.rfind("Error - ", 0), 0u) << messages.shown[0].text;
    EXPECT_FALSE(doc.OpenWasCancelled());
    EXPECT_TRUE(question.asked.empty());
    EXPECT_EQ(doc.GetInput(), input);
    EXPECT_EQ(doc.GetInputPath(), PathOf("first.bmp"));
}

TEST_F(DocumentImportTest, WithoutAQuestionTheKeptChoicesAreUsed)
{
    doc.AttachImportQuestion(nullptr, &store);
    store.kept.dither.method = DitherMethod::None;
    store.kept.dither.invert = true;
    OpenOk(CopyLogo());
    EXPECT_EQ(doc.GetInput()->Width(), 576u);
    ImportedPicture expected;
    std::string error;
    ASSERT_TRUE(ImportPicture(ReadFileBytes(PathOf("shop-logo.png")), store.kept, expected, error));
    EXPECT_TRUE(std::equal(expected.bits.begin(), expected.bits.end(), doc.GetInput()->Bits().begin()));
    EXPECT_EQ(store.saves, 0);
}

TEST_F(DocumentImportTest, MonochromeBitmapsAndPrinterFormatsAreNotAskedAbout)
{
    OpenOk(WriteBmp("mono.bmp", 16, 8));
    WritePicture(PathOf("logo.log"), LOGO, 16, 8, Diagonal);
    OpenOk(PathOf("logo.log"));
    EXPECT_TRUE(question.asked.empty());
    EXPECT_FALSE(doc.IsInputImported());
}

}  // namespace
