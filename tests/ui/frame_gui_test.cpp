// The program's windows, in this process, on a virtual X server: the
// application object with its frame, view and dialogs, a Communication object
// created by class id from a scratch registry, and a virtual printer on COM1.
// Modal file dialogs are answered through the frame's stand-ins; everything
// else goes through the real windows and the toolkit's event loop.
#include "accessibility.h"
#include "command_ids.h"
#include "command_table.h"
#include "desktop_app.h"
#include "gui_test_main.h"
#include "main_frame.h"
#include "marquen_view.h"
#include "picture_info_page.h"
#include "picture_loader.h"
#include "small_dialogs.h"
#include "test_support.h"
#include "ui_fakes.h"
#include "virtual_printer.h"
#include "wait_dialog.h"
#include "window/message_window.h"

#include <gtest/gtest.h>

#include <wx/app.h>
#include <wx/choice.h>
#include <wx/evtloop.h>
#include <wx/fileconf.h>
#include <wx/iconbndl.h>
#include <wx/image.h>
#include <wx/menu.h>
#include <wx/notebook.h>
#include <wx/scrolbar.h>
#include <wx/statusbr.h>
#include <wx/textctrl.h>
#include <wx/timer.h>
#include <wx/uiaction.h>
#include <wx/wfstream.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sys/wait.h>
#include <thread>

namespace fs = std::filesystem;

namespace {

std::string Env(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// Runs the toolkit's events (and, through the wake-up descriptor, the
// Communication object's) until done() holds or timeoutMs pass.
bool SpinUntil(const std::function<bool()>& done, int timeoutMs = 10000)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        wxEventLoopBase::GetActive()->YieldFor(wxEVT_CATEGORY_ALL);
        wxTheApp->ProcessIdle();
        if (done && done())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void Spin(int ms)
{
    SpinUntil(nullptr, ms);
}

void Screenshot(const std::string& name)
{
    std::string folder = Env("MARQUEN_SCREENSHOT_DIR");
    if (folder.empty())
        return;
    fs::create_directories(folder);
    std::string command = "import -window root '" + (fs::path(folder) / name).string() + "' 2>/dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
}

// The colour of the screen at point (screen coordinates), read from a
// capture of the virtual X server's root window: what the user sees.
std::optional<wxColour> ScreenColourAt(const wxPoint& point, const fs::path& capture)
{
    std::string command = "import -window root '" + capture.string() + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0)
        return std::nullopt;
    if (wxImage::FindHandler(wxBITMAP_TYPE_PNG) == nullptr)
        wxImage::AddHandler(new wxPNGHandler);
    wxImage image;
    if (!image.LoadFile(wxString(capture.string()), wxBITMAP_TYPE_PNG) || point.x < 0 || point.y < 0 ||
        point.x >= image.GetWidth() || point.y >= image.GetHeight())
        return std::nullopt;
    return wxColour(image.GetRed(point.x, point.y), image.GetGreen(point.x, point.y), image.GetBlue(point.x, point.y));
}

struct Shared {
    testing_support::TempDir dir;
    vprinter::VirtualPrinter printer;
    CMessageQueueSource queue;
};
Shared* g_shared = nullptr;

class FrameGuiTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ++s_count;
        folder = g_shared->dir.path() / ("case-" + std::to_string(s_count));
        fs::create_directories(folder);
        sample = (folder / "marquen-logo.bmp").string();
        fs::copy_file(fs::path(Env("MARQUEN_SOURCE_DIR")) / "resources/samples/marquen-logo.bmp", sample);
        sampleBytes = testing_support::ReadFileBytes(sample);
    }

    void TearDown() override
    {
        if (app) {
            if (CMainFrame* open = app->GetFrame())
                open->Close();
            Spin(50);
            app->ExitInstance();
            app.reset();
        }
    }

    /// Starts the program's application object with arguments.
    void Start(std::vector<std::string> arguments)
    {
        app = std::make_unique<CDesktopApp>(messages);
        app->SetProfilePath((folder / "Marquen.conf").string());
        app->SetWaitDialogProgram("");
        app->SetCommandLine(std::move(arguments));
        ASSERT_TRUE(app->InitInstance()) << ::testing::PrintToString(messages.Texts());
        ASSERT_TRUE(g_shared->queue.Attach());
        frame = app->GetFrame();
        ASSERT_NE(frame, nullptr);
        view = frame->GetView();
        Spin(200);
    }

    CMarquenDoc& Doc() { return *app->GetDocument(); }
    wxString Pane(int i) { return frame->GetStatusBar()->GetStatusText(i); }

public:
    void VetoClose(wxCloseEvent& event)
    {
        ++closes;
        event.Veto();
    }

protected:
    static inline int s_count = 0;
    int closes = 0;
    fs::path folder;
    std::string sample;
    std::vector<uint8_t> sampleBytes;
    testing_support::RecordingMessageBox messages;
    std::unique_ptr<CDesktopApp> app;
    CMainFrame* frame = nullptr;
    CMarquenView* view = nullptr;
};

TEST_F(FrameGuiTest, PictureOnTheCommandLineIsShownAndSwitchesToTheOutput)
{
    Start({sample});
    EXPECT_TRUE(messages.shown.empty()) << ::testing::PrintToString(messages.Texts());
    ASSERT_TRUE(frame->IsShown());
    EXPECT_EQ(frame->GetSize(), wxSize(600, 600));
    EXPECT_EQ(frame->GetMinSize(), wxSize(600, 250));
    ASSERT_NE(Doc().GetInput(), nullptr);
    EXPECT_EQ(view->DisplayedPicture(), Doc().GetInput());
    EXPECT_EQ(Pane(0), "Input picture displayed - Ready to communicate");
    EXPECT_EQ(Pane(1), "Width:576 - Height:240");
    EXPECT_EQ(Pane(2), wxString::Format("%zu bytes", sampleBytes.size()));
    EXPECT_EQ(frame->StatusBarAccessibleName(),
              wxString::Format("Input picture displayed - Ready to communicate\nWidth:576 - Height:240\n%zu bytes",
                               sampleBytes.size()) +
                  (Pane(3).empty() ? "" : "\n" + Pane(3)) + (Pane(4).empty() ? "" : "\n" + Pane(4)) +
                  (Pane(5).empty() ? "" : "\n" + Pane(5)));
    EXPECT_EQ(GetAccessibleName(view->PictureArea()), "Picture");
    EXPECT_EQ(view->TabControl()->GetPageCount(), 3u);
    EXPECT_EQ(view->TabControl()->GetPageText(0), "Picture Info");
    EXPECT_EQ(view->TabControl()->GetPageText(1), "Download");
    EXPECT_EQ(view->TabControl()->GetPageText(2), "Communication");
    EXPECT_EQ(view->TabControl()->GetSize().y, 200);
    // 576 dots in a client about 600 wide: 560 < 576, so a horizontal bar.
    EXPECT_TRUE(view->HorizontalBar()->IsShown());
    EXPECT_FALSE(view->VerticalBar()->IsShown());

    const wxString pages[] = {"picture-info", "download", "communication"};
    for (int i = 0; i < 3; ++i) {
        view->TabControl()->SetSelection(i);
        Spin(300);
        Screenshot("test-" + std::string(pages[i].utf8_str()) + ".png");
    }
    view->TabControl()->SetSelection(0);

    frame->RunCommand(ID_WINDOW_OUTPUT);
    Spin(100);
    EXPECT_FALSE(Doc().IsShowInput());
    ASSERT_NE(Doc().GetOutput(), nullptr);
    EXPECT_EQ(view->DisplayedPicture(), Doc().GetOutput());
    EXPECT_EQ(Pane(0), "Output picture displayed - Ready to communicate");
    frame->RunCommand(ID_WINDOW_OUTPUT);
    EXPECT_TRUE(Doc().IsShowInput());
    EXPECT_EQ(Pane(0), "Input picture displayed - Ready to communicate");
    // The recent-file list holds the picture, in the profile too.
    ASSERT_EQ(app->History().GetCount(), 1u);
    EXPECT_EQ(std::string(app->History().GetHistoryFile(0).utf8_str()), sample);
}

TEST_F(FrameGuiTest, ANewWidthOrOffsetOnThePageRebuildsTheOutputShown)
{
    Start({sample});
    frame->RunCommand(ID_WINDOW_OUTPUT);
    Spin(50);
    ASSERT_NE(Doc().GetOutput(), nullptr);
    auto* width = dynamic_cast<wxTextCtrl*>(view->TabControl()->GetPage(0)->FindWindow(IDC_OUTPUT_WIDTH));
    auto* offsetX = dynamic_cast<wxTextCtrl*>(view->TabControl()->GetPage(0)->FindWindow(IDC_OFFSET_X));
    ASSERT_NE(width, nullptr);
    ASSERT_NE(offsetX, nullptr);
    width->SetValue("100");  // as typed: the page's text-change handler runs
    Spin(100);
    ASSERT_NE(Doc().GetOutput(), nullptr);
    EXPECT_EQ(Doc().GetOutput()->Width(), 100u);
    EXPECT_EQ(view->DisplayedPicture(), Doc().GetOutput());
    EXPECT_EQ(Pane(1), "Width:100 - Height:240");
    offsetX->SetValue("8");
    Spin(100);
    EXPECT_EQ(Doc().GetOutput()->OffsetX(), 8u);
    EXPECT_EQ(Doc().GetOutput()->Width(), 100u);
    Screenshot("test-output-100-wide.png");
}

TEST_F(FrameGuiTest, SaveAsWritesEveryTypeAndTheOpenDialogRemembersTheFolder)
{
    Start({});
    EXPECT_EQ(Doc().GetInput(), nullptr);
    std::string initialName;
    frame->m_openDialogOverride = [&](const std::string& initial) -> std::optional<std::string> {
        initialName = initial;
        return sample;
    };
    frame->RunCommand(ID_FILE_OPEN);
    EXPECT_EQ(initialName, "*.*");
    ASSERT_NE(Doc().GetInput(), nullptr);
    frame->RunCommand(ID_FILE_OPEN);
    EXPECT_EQ(initialName, (folder / "*.bmp").string());

    const std::pair<PictureType, const char*> types[] = {
        {BITMAP, "bmp"}, {EPSON_GFX, "gfx"}, {LOGO, "log"}, {RASTER_GFX, "gfx"}, {RASTER_GFX_EXT, "gfx"}};
    for (const auto& [type, extension] : types) {
        SCOPED_TRACE(PictureTypeEnumeratorName(type));
        std::string base = (folder / (std::string("saved-") + PictureTypeEnumeratorName(type))).string();
        frame->m_saveDialogOverride = [&](const SaveDialogRequest& request) -> std::optional<std::string> {
            EXPECT_EQ(request.defaultExtension, extension);
            EXPECT_EQ(CSaveDlg::Wildcard(request), wxString::FromUTF8(request.filterText) + "|*");
            return ApplyDefaultExtension(base, request.defaultExtension);
        };
        Doc().SetOutputType(type);
        frame->RunCommand(ID_FILE_SAVE_AS);
        Spin(20);
        LoadedPicture saved = LoadPictureFile(base + "." + extension);
        ASSERT_EQ(saved.outcome, LoadOutcome::Loaded) << saved.error;
        EXPECT_EQ(saved.picture->Type(), type);
        EXPECT_EQ(saved.picture->Width(), 576u);
        EXPECT_FALSE(Doc().IsShowInput());
    }
    EXPECT_EQ(testing_support::ReadFileBytes(sample), sampleBytes);
}

TEST_F(FrameGuiTest, SaveNeverWritesAnotherFormatOverTheOpenedPicture)
{
    Start({sample});
    std::vector<SaveDialogRequest> asked;
    frame->m_saveDialogOverride = [&](const SaveDialogRequest& request) -> std::optional<std::string> {
        asked.push_back(request);
        return std::nullopt;
    };
    Doc().SetOutputType(LOGO);
    frame->RunCommand(ID_FILE_SAVE);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].initialFileName, (folder / "marquen-logo.log").string());
    EXPECT_EQ(testing_support::ReadFileBytes(sample), sampleBytes);
    EXPECT_FALSE(fs::exists(folder / "marquen-logo.log"));
}

TEST_F(FrameGuiTest, EnterAndEscapeInAnEditFieldCloseNothing)
{
    Start({sample});
    // The first edit field of the Picture Info page that takes typing, at any
    // depth (a spin control's own field counts).
    std::function<wxTextCtrl*(wxWindow*)> findField = [&](wxWindow* parent) -> wxTextCtrl* {
        for (wxWindow* child : parent->GetChildren()) {
            auto* text = dynamic_cast<wxTextCtrl*>(child);
            if (text != nullptr && text->IsShownOnScreen() && text->IsEnabled() && text->IsEditable())
                return text;
            if (wxTextCtrl* inner = findField(child))
                return inner;
        }
        return nullptr;
    };
    wxTextCtrl* field = findField(view->TabControl()->GetPage(0));
    ASSERT_NE(field, nullptr) << "the Picture Info page has no edit field";
    wxUIActionSimulator input;
    wxPoint centre = field->GetScreenRect().GetPosition() + wxPoint(5, 5);
    input.MouseMove(centre);
    Spin(50);
    input.MouseClick();
    Spin(100);
    ASSERT_TRUE(SpinUntil([&] { return wxWindow::FindFocus() == field; }, 3000));
    const wxString typed = field->GetValue();
    frame->Bind(wxEVT_CLOSE_WINDOW, &FrameGuiTest::VetoClose, this);
    input.Char(WXK_RETURN);
    Spin(100);
    input.Char(WXK_ESCAPE);
    Spin(100);
    frame->Unbind(wxEVT_CLOSE_WINDOW, &FrameGuiTest::VetoClose, this);
    EXPECT_EQ(closes, 0);
    EXPECT_EQ(field->GetValue(), typed);  // Enter typed nothing into the field
    EXPECT_TRUE(frame->IsShown());
    EXPECT_TRUE(view->TabControl()->GetPage(0)->IsShown());
    EXPECT_EQ(view->TabControl()->GetSelection(), 0);
    EXPECT_TRUE(messages.shown.empty());

    // Ctrl+Tab runs through the pages and wraps; Ctrl+Shift+Tab goes back.
    for (int expected : {1, 2, 0}) {
        input.Char(WXK_TAB, wxMOD_CONTROL);
        ASSERT_TRUE(SpinUntil([&] { return view->TabControl()->GetSelection() == expected; }, 3000)) << expected;
    }
    input.Char(WXK_TAB, wxMOD_CONTROL | wxMOD_SHIFT);
    EXPECT_TRUE(SpinUntil([&] { return view->TabControl()->GetSelection() == 2; }, 3000));
}

TEST_F(FrameGuiTest, ASmallClientAreaKeepsSoundScrollBars)
{
    Start({sample});
    // The smallest frame leaves less than 220 pixels down: no room for the
    // picture. Nothing wraps: a bar is either hidden with no picture area, or
    // shown with a page within its range, and the picture can be scrolled
    // through to its last row.
    frame->SetSize(wxSize(600, 250));
    Spin(200);
    ASSERT_LT(view->GetClientSize().y, 220);
    wxScrollBar* down = view->VerticalBar();
    EXPECT_EQ(down->GetRange(), 241);
    EXPECT_GE(down->GetThumbSize(), 1);
    EXPECT_LE(down->GetThumbSize(), down->GetRange());
    if (!down->IsShown()) {
        EXPECT_FALSE(view->PictureArea()->IsShown());
    }
    view->Scroll(true, view_logic::ScrollCode::PageDown);
    view->Scroll(true, view_logic::ScrollCode::LineDown);
    EXPECT_EQ(view->VerticalPosition(), 11);
    view->Scroll(true, view_logic::ScrollCode::ThumbPosition, 240);
    EXPECT_EQ(view->VerticalPosition(), 240);
    // A little taller: the bar shows with a page of what is left.
    frame->SetSize(wxSize(600, 290));
    Spin(200);
    int room = view->GetClientSize().y - 220;
    ASSERT_GE(room, 10);
    EXPECT_TRUE(down->IsShown());
    EXPECT_EQ(down->GetThumbSize(), room);
    EXPECT_TRUE(view->PictureArea()->IsShown());

    // Back to a tall window: the picture fits, the bar goes and the picture
    // starts at its top again.
    frame->SetSize(wxSize(700, 700));
    Spin(200);
    EXPECT_FALSE(view->VerticalBar()->IsShown());
    EXPECT_EQ(view->VerticalPosition(), 0);
    // The wheel pages the one visible bar.
    frame->SetSize(wxSize(600, 600));
    Spin(200);
    ASSERT_TRUE(view->HorizontalBar()->IsShown());
    view->OnWheel(-120);
    EXPECT_EQ(view->HorizontalPosition(), 10);

    // A click gives the picture the keyboard: arrows move it a dot.
    wxUIActionSimulator input;
    input.MouseMove(view->PictureArea()->GetScreenRect().GetPosition() + wxPoint(5, 5));
    Spin(50);
    input.MouseClick();
    ASSERT_TRUE(SpinUntil([&] { return wxWindow::FindFocus() == view->PictureArea(); }, 3000));
    input.Char(WXK_RIGHT);
    EXPECT_TRUE(SpinUntil([&] { return view->HorizontalPosition() == 11; }, 3000));
    input.Char(WXK_LEFT);
    input.Char(WXK_LEFT);
    EXPECT_TRUE(SpinUntil([&] { return view->HorizontalPosition() == 9; }, 3000));
}

TEST_F(FrameGuiTest, HelpOffersTheReaderPageWhenNothingOpensTheManual)
{
    Start({});
    int lookups = 0;
    int dialogs = 0;
    frame->m_pdfOpenCommandOverride = [&](const wxString& path) {
        ++lookups;
        EXPECT_TRUE(path.EndsWith("/user manual.pdf")) << path;
        return wxString();
    };
    frame->m_helpReaderOverride = [&] {
        ++dialogs;
        return static_cast<int>(wxID_CANCEL);
    };
    frame->RunCommand(ID_HELP_MANUAL);
    EXPECT_EQ(lookups, 1);
    EXPECT_EQ(dialogs, 1);
    // "Continue" looks once more; a program found then opens the manual.
    fs::path marker = folder / "opened";
    frame->m_pdfOpenCommandOverride = [&](const wxString&) {
        ++lookups;
        return lookups < 3 ? wxString() : wxString("touch '" + marker.string() + "'");
    };
    frame->m_helpReaderOverride = [&] { return static_cast<int>(wxID_OK); };
    frame->RunCommand(ID_HELP_MANUAL);
    EXPECT_EQ(lookups, 3);
    EXPECT_TRUE(SpinUntil([&] { return fs::exists(marker); }, 5000));

    // The dialog itself: its link has the hand cursor and is underlined while
    // the pointer is on it.
    CHelpReaderDlg dialog(frame, kDefaultReaderSite);
    dialog.Show();
    Spin(200);
    CHyperlink* link = dialog.Link();
    EXPECT_EQ(link->GetURL(), kDefaultReaderSite);
    EXPECT_FALSE(link->IsUnderlined());
    wxUIActionSimulator input;
    input.MouseMove(link->GetScreenRect().GetPosition() + wxPoint(4, 4));
    EXPECT_TRUE(SpinUntil([&] { return link->IsUnderlined(); }, 3000));
    Screenshot("help-reader-dialog.png");
    input.MouseMove(dialog.GetScreenRect().GetBottomRight() + wxPoint(40, 40));
    EXPECT_TRUE(SpinUntil([&] { return !link->IsUnderlined(); }, 3000));
    dialog.Hide();
}

TEST_F(FrameGuiTest, TheWindowCarriesTheProgramsIconInEverySize)
{
    // The build lays the icons out beside the programs' folder as the package
    // does (share/icons next to bin); this test program's folder is a sibling.
    // (The program's own folder, where its libraries lie, is not the place:
    // installed, that is /usr/lib/<arch>/marquen.)
    Start({});
    const wxIconBundle icons = frame->GetIcons();
    EXPECT_EQ(icons.GetIconCount(), static_cast<size_t>(7));
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        const wxIcon icon = icons.GetIcon(wxSize(size, size), wxIconBundle::FALLBACK_NONE);
        ASSERT_TRUE(icon.IsOk()) << size;
        EXPECT_EQ(icon.GetWidth(), size);
        EXPECT_EQ(icon.GetHeight(), size);
    }
}

TEST_F(FrameGuiTest, QuittingSavesTheSettingsAndTheRecentFiles)
{
    Start({sample});
    app->m_crBackground = 0x00FF00;
    frame->RunCommand(ID_APP_EXIT);
    ASSERT_TRUE(SpinUntil([&] { return app->GetFrame() == nullptr; }, 3000));
    app->ExitInstance();
    app.reset();
    wxFileInputStream stream(wxString((folder / "Marquen.conf").string()));
    ASSERT_TRUE(stream.IsOk());
    wxFileConfig profile(stream);
    for (const char* key : {"Interface", "Port", "Baud rate", "Parity", "Stop", "Flow control", "ReadTimeout",
                            "WriteTimeout", "Version", "Backgound color"})
        EXPECT_TRUE(profile.Exists(wxString("/Settings/") + key)) << key;
    EXPECT_EQ(profile.ReadLong("/Settings/Backgound color", 0), 0x00FF00);
    EXPECT_EQ(profile.Read("/Recent File List/file1", ""), wxString(sample));
}

TEST_F(FrameGuiTest, BackgroundColorFromTheContextMenuRepaintsAndIsSavedOnQuit)
{
    Start({sample});
    app->m_crBackground = 0xC0C0C0;
    view->Refresh();
    view->PictureArea()->Refresh();
    Spin(100);
    std::vector<wxColour> asked;
    std::optional<wxColour> answer = wxColour(0x12, 0x34, 0x56);
    view->m_colourChooser = [&](wxWindow* parent, const wxColour& current) -> std::optional<wxColour> {
        EXPECT_EQ(parent, static_cast<wxWindow*>(view));
        asked.push_back(current);
        return answer;
    };
    // The picture area's context menu, opened with the pointer; its one entry
    // is chosen from the keyboard.
    std::vector<wxString> entries;
    view->Bind(wxEVT_MENU_OPEN, [&](wxMenuEvent& event) {
        if (wxMenu* menu = event.GetMenu()) {
            entries.clear();
            for (wxMenuItem* item : menu->GetMenuItems())
                entries.push_back(item->GetItemLabelText());
        }
        event.Skip();
    });
    wxUIActionSimulator input;
    wxTimer choose;
    choose.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        if (entries.empty())
            return;
        choose.Stop();
        input.Char(WXK_DOWN);
        input.Char(WXK_RETURN);
    });
    // A stop for a menu that never takes the keys: the test fails, not hangs.
    wxTimer giveUp;
    giveUp.Bind(wxEVT_TIMER, [&](wxTimerEvent&) { input.Char(WXK_ESCAPE); });
    input.MouseMove(view->PictureArea()->GetScreenRect().GetPosition() + wxPoint(8, 8));
    Spin(50);
    choose.Start(50);
    giveUp.StartOnce(5000);
    input.MouseClick(wxMOUSE_BTN_RIGHT);
    ASSERT_TRUE(SpinUntil([&] { return !asked.empty(); }, 6000)) << "the menu's entry ran no chooser";
    choose.Stop();
    giveUp.Stop();
    EXPECT_EQ(entries, std::vector<wxString>{"Background color"});
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], wxColour(0xC0, 0xC0, 0xC0));
    // The settings keep red in the low byte.
    EXPECT_EQ(app->m_crBackground, 0x563412u);
    EXPECT_EQ(view->GetBackgroundColour(), wxColour(0x12, 0x34, 0x56));
    // The picture starts 20 pixels in: the corner is background, repainted.
    const wxPoint margin = view->PictureArea()->GetScreenRect().GetPosition() + wxPoint(4, 4);
    const fs::path capture = folder / "background.png";
    std::optional<wxColour> shown;
    EXPECT_TRUE(SpinUntil([&] {
        shown = ScreenColourAt(margin, capture);
        return shown == wxColour(0x12, 0x34, 0x56);
    }, 5000)) << (shown ? shown->GetAsString(wxC2S_HTML_SYNTAX) : wxString("no capture"));
    Screenshot("view-background-color.png");

    // Cancelled: nothing changes.
    answer = std::nullopt;
    view->OnBackgroundColor();
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[1], wxColour(0x12, 0x34, 0x56));
    EXPECT_EQ(app->m_crBackground, 0x563412u);
    EXPECT_EQ(view->GetBackgroundColour(), wxColour(0x12, 0x34, 0x56));

    // Kept in the profile at the end of the run.
    frame->RunCommand(ID_APP_EXIT);
    ASSERT_TRUE(SpinUntil([&] { return app->GetFrame() == nullptr; }, 3000));
    app->ExitInstance();
    app.reset();
    wxFileInputStream stream(wxString((folder / "Marquen.conf").string()));
    ASSERT_TRUE(stream.IsOk());
    wxFileConfig profile(stream);
    EXPECT_EQ(profile.ReadLong("/Settings/Backgound color", 0), 0x563412);
}

TEST_F(FrameGuiTest, DroppedAndRecentFilesOpenLikeChosenOnes)
{
    Start({});
    wxMenuBar* menus = frame->GetMenuBar();
    wxMenuItem* placeholder = menus->FindItem(command_table::RecentFileWxId(0));
    ASSERT_NE(placeholder, nullptr);
    EXPECT_EQ(placeholder->GetItemLabelText(), "Recent file");
    EXPECT_FALSE(placeholder->IsEnabled());

    // A file dropped on the window opens as the document.
    auto* files = new wxString[1]{wxString::FromUTF8(sample)};
    wxDropFilesEvent drop(wxEVT_DROP_FILES, 1, files);
    frame->GetEventHandler()->ProcessEvent(drop);
    ASSERT_NE(Doc().GetInput(), nullptr);
    EXPECT_EQ(Doc().GetPathName(), sample);
    wxMenuItem* first = menus->FindItem(command_table::RecentFileWxId(0));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->GetItemLabel(), "&1 " + wxString::FromUTF8(sample));
    EXPECT_TRUE(first->IsEnabled());

    // The recent entry reopens it (the file changed on disk meanwhile).
    std::string other = (folder / "second.bmp").string();
    fs::copy_file(sample, other);
    frame->m_openDialogOverride = [&](const std::string&) -> std::optional<std::string> { return other; };
    frame->RunCommand(ID_FILE_OPEN);
    EXPECT_EQ(Doc().GetPathName(), other);
    EXPECT_EQ(std::string(app->History().GetHistoryFile(1).utf8_str()), sample);
    frame->RunCommand(ID_FILE_MRU_FIRST + 1);
    EXPECT_EQ(Doc().GetPathName(), sample);
    // An entry whose file is gone leaves the list when chosen.
    fs::remove(other);
    frame->RunCommand(ID_FILE_MRU_FIRST + 1);
    EXPECT_EQ(app->History().GetCount(), 1u);
    EXPECT_EQ(messages.shown.size(), 1u);
}

TEST_F(FrameGuiTest, AColourPictureDroppedOnTheWindowIsImportedThroughItsDialog)
{
    Start({});
    std::string logo = (folder / "shop-logo.png").string();
    fs::copy_file(fs::path(Env("MARQUEN_SOURCE_DIR")) / "tests/data/ui/shop-logo.png", logo);
    int shown = 0;
    std::vector<uint8_t> before;
    std::vector<uint8_t> after;
    bool cancel = false;
    app->ImportQuestion().m_onShow = [&](CImportDlg& dialog) {
        ++shown;
        wxTheApp->CallAfter([&] {
            before = dialog.PreviewDots().bits;
            auto* method = static_cast<wxChoice*>(dialog.FindWindow(import_dialog_ids::IDC_IMPORT_METHOD));
            method->SetSelection(static_cast<int>(DitherMethod::Ordered));
            wxCommandEvent event(wxEVT_CHOICE, method->GetId());
            event.SetEventObject(method);
            method->GetEventHandler()->ProcessEvent(event);
            after = dialog.PreviewDots().bits;
            dialog.EndModal(cancel ? wxID_CANCEL : wxID_OK);
        });
    };
    auto* files = new wxString[1]{wxString::FromUTF8(logo)};
    wxDropFilesEvent drop(wxEVT_DROP_FILES, 1, files);
    frame->GetEventHandler()->ProcessEvent(drop);
    EXPECT_EQ(shown, 1);
    EXPECT_NE(before, after);
    ASSERT_NE(Doc().GetInput(), nullptr);
    EXPECT_EQ(Doc().GetInput()->Type(), BITMAP);
    EXPECT_EQ(Doc().GetPathName(), logo);
    EXPECT_EQ(Doc().GetTitle(), "shop-logo.png");
    EXPECT_TRUE(messages.shown.empty());
    // The choice is kept in the profile for the next import.
    wxFileConfig profile(wxEmptyString, wxEmptyString, wxString::FromUTF8((folder / "Marquen.conf").string()),
                         wxEmptyString, wxCONFIG_USE_LOCAL_FILE);
    EXPECT_EQ(profile.Read("/Import/Method", wxEmptyString), "ordered");

    // Chosen again from the recent files and cancelled: the entry stays and
    // the picture is the same one.
    const PictureFile* input = Doc().GetInput();
    cancel = true;
    frame->RunCommand(ID_FILE_MRU_FIRST);
    EXPECT_EQ(shown, 2);
    EXPECT_EQ(Doc().GetInput(), input);
    EXPECT_EQ(Doc().GetPathName(), logo);
    EXPECT_EQ(app->History().GetCount(), 1u);
    app->ImportQuestion().m_onShow = nullptr;
}

// A hidden window of this thread, as the Communication object's is: its
// messages must be handled by the toolkit's loop alone.
TEST_F(FrameGuiTest, TheCommunicationObjectsMessagesArriveThroughTheToolkitsLoop)
{
    namespace window = marquen::window;
    Start({sample});
    // The sink's messages go to this view.
    EXPECT_EQ(app->FindActiveView(), static_cast<ICommMessageTarget*>(view));

    constexpr UINT kCount = window::WM_APP + 2;
    std::atomic<int> seen{0};
    HWND hidden = window::CreateMessageWindow([&](HWND, UINT message, WPARAM, LPARAM) -> LRESULT {
        if (message == kCount)
            ++seen;
        return 0;
    });
    ASSERT_NE(hidden, nullptr);
    // Posted from another thread, as the object's threads do.
    std::thread poster([hidden] {
        for (int i = 0; i < 3; ++i)
            window::PostMessage(hidden, kCount, 0, 0);
    });
    poster.join();
    EXPECT_TRUE(SpinUntil([&] { return seen == 3; }, 5000)) << seen;
    // And while a modal loop runs (a message box), too.
    window::PostMessage(hidden, kCount, 0, 0);
    wxGUIEventLoop modal;
    wxEventLoopActivator active(&modal);
    EXPECT_TRUE(SpinUntil([&] { return seen == 4; }, 5000)) << seen;
    window::DestroyWindow(hidden);
}

TEST_F(FrameGuiTest, AFileThatIsNoPictureEndsTheStartUpWithItsMessage)
{
    std::string text = (folder / "notes.bmp").string();
    std::ofstream(text) << "not a picture\n";
    app = std::make_unique<CDesktopApp>(messages);
    app->SetProfilePath((folder / "Marquen.conf").string());
    app->SetWaitDialogProgram("");
    app->SetCommandLine({text});
    EXPECT_FALSE(app->InitInstance());
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Picture type not supported."});
    ASSERT_NE(app->GetFrame(), nullptr);
    EXPECT_FALSE(app->GetFrame()->IsShown());
    // The frame, its view and pages go with the application object.
    app.reset();
    Spin(50);
}

TEST(WaitDialogTest, HelperShowsTheDialogAndEndsWhenTold)
{
    std::unique_ptr<CWaitProcess> helper =
        CWaitProcess::Start((fs::path(Env("MARQUEN_BIN_DIR")) / "marquen").string());
    ASSERT_NE(helper, nullptr);
    pid_t pid = helper->Pid();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    Screenshot("wait-dialog.png");
    EXPECT_EQ(::waitpid(pid, nullptr, WNOHANG), 0) << "the helper ended on its own";
    helper->Stop();
    helper.reset();  // returns at once; the process is collected meanwhile
    bool gone = false;
    for (int i = 0; i < 300 && !gone; ++i) {
        gone = ::kill(pid, 0) != 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(gone) << "the helper is still there after 3 s";

    // In the program's own process the dialog animates its line.
    CWaitDlg dialog;
    dialog.Tick();
    dialog.Tick();
    EXPECT_EQ(dialog.TextLine()->GetValue(), dialog.m_strText);
    EXPECT_TRUE(dialog.m_strText.StartsWith("--Please wait") || dialog.m_strText.StartsWith("-Please wait"));
    EXPECT_FALSE(dialog.TextLine()->IsEnabled());
}

}  // namespace

int main(int argc, char** argv)
{
    return testing_support::RunGuiTestProgram(argc, argv, [] {
        int result = 1;
        Shared shared;
        g_shared = &shared;
        ::setenv("XDG_CONFIG_HOME", shared.dir.path().c_str(), 1);
        std::string regsvr = "'" + (fs::path(Env("MARQUEN_BIN_DIR")) / "regsvr").string() + "' '" +
                             (fs::path(Env("MARQUEN_BIN_DIR")) / "libquorlink.so").string() + "' >/dev/null";
        std::string error;
        if (std::system(regsvr.c_str()) != 0 || !shared.printer.Start(error)) {
            std::fprintf(stderr, "set-up failed: %s\n", error.c_str());
        } else {
            std::ofstream((shared.dir.path() / "ports").string()) << "COM1=" << shared.printer.SlavePath() << "\n";
            ::setenv("QUORLINK_PORT_MAP", (shared.dir.path() / "ports").c_str(), 1);
            result = RUN_ALL_TESTS();
        }
        shared.queue.Detach();
        shared.printer.Stop();
        g_shared = nullptr;
        return result;
    });
}
