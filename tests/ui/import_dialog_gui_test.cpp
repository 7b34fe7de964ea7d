// The import dialog on a virtual X server: a colour logo opened through the
// document's open flow with the desktop's real question, the preview
// following a change of method, OK making the dots the input picture, every
// control reachable by Tab and named for screen readers, and a screenshot of
// the dialog for the manual.
#include "accessibility.h"
#include "doc_test_util.h"
#include "gui_test_main.h"
#include "import_dialog.h"
#include "test_module.h"  // the image library module, loaded from the build
#include "test_support.h"
#include "ui_fakes.h"

#include <gtest/gtest.h>

#include <wx/app.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/evtloop.h>
#include <wx/fileconf.h>
#include <wx/spinctrl.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace fs = std::filesystem;
using namespace import_dialog_ids;

namespace {

std::string Env(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string Logo()
{
    return (fs::path(Env("MARQUEN_SOURCE_DIR")) / "tests/data/ui/shop-logo.png").string();
}

// Lets the toolkit draw what is pending (from inside the dialog's own loop).
void Settle(int ms)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        wxEventLoopBase::GetActive()->YieldFor(wxEVT_CATEGORY_ALL);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// The dialog's window alone, cropped from the screen.
void Screenshot(wxWindow& window, const std::string& name)
{
    std::string folder = Env("MARQUEN_SCREENSHOT_DIR");
    if (folder.empty())
        return;
    fs::create_directories(folder);
    const wxRect rect = window.GetScreenRect();
    std::string command = "import -window root -crop " + std::to_string(rect.width) + "x" +
                          std::to_string(rect.height) + "+" + std::to_string(rect.x) + "+" +
                          std::to_string(rect.y) + " +repage '" + (fs::path(folder) / name).string() +
                          "' 2>/dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
}

void Choose(wxChoice& choice, int index)
{
    choice.SetSelection(index);
    wxCommandEvent event(wxEVT_CHOICE, choice.GetId());
    event.SetEventObject(&choice);
    event.SetInt(index);
    choice.GetEventHandler()->ProcessEvent(event);
}

class ImportDialogGuiTest : public doc_testing::DocFixture {
protected:
    ImportDialogGuiTest() : question([] { return nullptr; }) {}
    CWxImportQuestion question;
};

TEST_F(ImportDialogGuiTest, ThePreviewFollowsTheMethodAndOkMakesTheDotsTheInputPicture)
{
    std::string logo = PathOf("shop-logo.png");
    fs::copy_file(Logo(), logo);
    doc.AttachImportQuestion(&question, nullptr);

    bool shown = false;
    std::vector<uint8_t> floydDots;
    std::vector<uint8_t> thresholdDots;
    ImportOptions chosen;
    question.m_onShow = [&](CImportDlg& dialog) {
        wxTheApp->CallAfter([&] {
            shown = true;
            Settle(300);
            // Floyd-Steinberg is the method a first import starts with.
            auto* method = static_cast<wxChoice*>(dialog.FindWindow(IDC_IMPORT_METHOD));
            EXPECT_EQ(method->GetStringSelection(), "floyd-steinberg");
            EXPECT_FALSE(dialog.FindWindow(IDC_IMPORT_THRESHOLD)->IsEnabled());
            EXPECT_EQ(dialog.PreviewDots().width, 576u);
            EXPECT_EQ(dialog.PreviewDots().height, 200u);
            floydDots = dialog.PreviewDots().bits;
            std::printf("preview of 576 x 200 dots: %.2f ms (floyd-steinberg)\n", dialog.LastPreviewMilliseconds());

            Choose(*method, static_cast<int>(DitherMethod::None));
            EXPECT_TRUE(dialog.FindWindow(IDC_IMPORT_THRESHOLD)->IsEnabled());
            thresholdDots = dialog.PreviewDots().bits;
            std::printf("preview of 576 x 200 dots: %.2f ms (none)\n", dialog.LastPreviewMilliseconds());
            Choose(*method, static_cast<int>(DitherMethod::Atkinson));
            Settle(300);
            Screenshot(dialog, "import.png");

            // Every control is reached with Tab and carries a name a screen
            // reader can say.
            for (int id : {IDC_IMPORT_METHOD, IDC_IMPORT_THRESHOLD, IDC_IMPORT_FIT_WIDTH, IDC_IMPORT_BRIGHTNESS,
                           IDC_IMPORT_CONTRAST, IDC_IMPORT_INVERT, int{wxID_OK}, int{wxID_CANCEL}}) {
                wxWindow* control = dialog.FindWindow(id);
                ASSERT_NE(control, nullptr) << id;
                EXPECT_TRUE(control->AcceptsFocusFromKeyboard()) << id;
            }
            EXPECT_EQ(GetAccessibleName(dialog.FindWindow(IDC_IMPORT_METHOD)), "Dithering method");
            EXPECT_EQ(GetAccessibleName(dialog.FindWindow(IDC_IMPORT_THRESHOLD)), "Threshold");
            EXPECT_EQ(GetAccessibleName(dialog.FindWindow(IDC_IMPORT_FIT_WIDTH)), "Fit width");
            EXPECT_EQ(GetAccessibleName(dialog.FindWindow(IDC_IMPORT_BRIGHTNESS)), "Brightness");
            EXPECT_EQ(GetAccessibleName(dialog.FindWindow(IDC_IMPORT_CONTRAST)), "Contrast");
            EXPECT_EQ(GetAccessibleName(dialog.FindWindow(IDC_IMPORT_PREVIEW)), "Preview");

            // Fitting to 384 dots shows the picture at that width.
            Choose(*static_cast<wxChoice*>(dialog.FindWindow(IDC_IMPORT_FIT_WIDTH)), 1);
            EXPECT_EQ(dialog.PreviewDots().width, 384u);
            EXPECT_EQ(dialog.PreviewDots().height, 133u);
            chosen = dialog.GetOptions();
            dialog.EndModal(wxID_OK);
        });
    };

    ASSERT_TRUE(doc.OnOpenDocument(logo)) << ::testing::PrintToString(messages.Texts());
    ASSERT_TRUE(shown);
    EXPECT_NE(floydDots, thresholdDots);
    EXPECT_EQ(chosen.dither.method, DitherMethod::Atkinson);
    EXPECT_EQ(chosen.fitWidth, 384u);

    // The dots the dialog showed last are the input picture now, a bitmap
    // named by the file.
    ASSERT_NE(doc.GetInput(), nullptr);
    EXPECT_EQ(doc.GetInput()->Type(), BITMAP);
    EXPECT_EQ(doc.GetInput()->Width(), 384u);
    EXPECT_EQ(doc.GetInput()->Height(), 133u);
    EXPECT_EQ(doc.GetInputPath(), logo);
    EXPECT_EQ(doc.GetInput()->Path(), logo);
    ImportOptions same = chosen;
    ImportedPicture expected;
    std::string error;
    ASSERT_TRUE(ImportPicture(testing_support::ReadFileBytes(logo), same, expected, error)) << error;
    std::span<const uint8_t> bits = doc.GetInput()->Bits();
    EXPECT_TRUE(std::equal(expected.bits.begin(), expected.bits.end(), bits.begin()));
}

TEST_F(ImportDialogGuiTest, CancelLeavesTheDocumentAsItWas)
{
    OpenOk(WriteBmp("first.bmp", 32, 16));
    const PictureFile* input = doc.GetInput();
    std::string logo = PathOf("shop-logo.png");
    fs::copy_file(Logo(), logo);
    doc.AttachImportQuestion(&question, nullptr);
    question.m_onShow = [](CImportDlg& dialog) {
        wxTheApp->CallAfter([&dialog] { dialog.EndModal(wxID_CANCEL); });
    };
    EXPECT_FALSE(doc.OnOpenDocument(logo));
    EXPECT_TRUE(doc.OpenWasCancelled());
    EXPECT_TRUE(messages.shown.empty());
    EXPECT_EQ(doc.GetInput(), input);
    EXPECT_EQ(doc.GetInputPath(), PathOf("first.bmp"));
}

TEST(ImportProfileTest, TheLastChoicesComeBackFromTheProfileAndBadValuesGiveDefaults)
{
    testing_support::TempDir dir;
    const wxString file = wxString::FromUTF8((dir.path() / "Marquen.conf").string());
    {
        wxFileConfig profile(wxEmptyString, wxEmptyString, file, wxEmptyString, wxCONFIG_USE_LOCAL_FILE);
        CProfileImportStore store([&]() -> wxConfigBase& { return profile; }, [&] { profile.Flush(); });
        ImportOptions defaults = store.LoadImportOptions();
        EXPECT_EQ(defaults.dither.method, DitherMethod::FloydSteinberg);
        EXPECT_EQ(defaults.dither.threshold, 128);
        EXPECT_EQ(defaults.fitWidth, 0u);
        ImportOptions options;
        options.dither.method = DitherMethod::Stucki;
        options.dither.threshold = 90;
        options.dither.invert = true;
        options.dither.brightness = -40;
        options.dither.contrast = 25;
        options.fitWidth = 512;
        store.SaveImportOptions(options);
    }
    {
        wxFileConfig profile(wxEmptyString, wxEmptyString, file, wxEmptyString, wxCONFIG_USE_LOCAL_FILE);
        CProfileImportStore store([&]() -> wxConfigBase& { return profile; }, nullptr);
        ImportOptions back = store.LoadImportOptions();
        EXPECT_EQ(back.dither.method, DitherMethod::Stucki);
        EXPECT_EQ(back.dither.threshold, 90);
        EXPECT_TRUE(back.dither.invert);
        EXPECT_EQ(back.dither.brightness, -40);
        EXPECT_EQ(back.dither.contrast, 25);
        EXPECT_EQ(back.fitWidth, 512u);
        // A profile edited by hand: unknown method, values out of range, a
        // width no printer has.
        profile.Write("/Import/Method", "sharpest");
        profile.Write("/Import/Threshold", 999L);
        profile.Write("/Import/Brightness", -1000L);
        profile.Write("/Import/Fit width", 100L);
        back = store.LoadImportOptions();
        EXPECT_EQ(back.dither.method, DitherMethod::FloydSteinberg);
        EXPECT_EQ(back.dither.threshold, 256);
        EXPECT_EQ(back.dither.brightness, -255);
        EXPECT_EQ(back.fitWidth, 0u);
    }
}

}  // namespace

int main(int argc, char** argv) { return testing_support::RunGuiTestProgram(argc, argv); }
