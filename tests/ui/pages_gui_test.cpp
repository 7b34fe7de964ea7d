// The three pages in a frame with a tab control, as the view hosts them, under
// an X server (Xvfb): accessible names, the Picture Info page's fields and
// range prompts, the Communication page writing the settings and
// reconnecting (a fake Communication object), and the Download page's
// buttons driving a download to the virtual printer through the real
// communication server. Each page leaves a screenshot in the build's
// screenshots folder.
#include "accessibility.h"
#include "communication_page.h"
#include "download_page_window.h"
#include "event_pump.h"
#include "page_test_util.h"
#include "picture_info_page.h"
#include "spin_arrows.h"
#include "view_pages.h"
#include "virtual_printer.h"

#include <dlfcn.h>

#include <wx/app.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/frame.h>
#include <wx/gauge.h>
#include <wx/init.h>
#include <wx/notebook.h>
#include <wx/panel.h>
#include <wx/radiobut.h>
#include <wx/textctrl.h>
#include <wx/uiaction.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <functional>
#include <optional>
#include <set>
#include <thread>

using namespace std::chrono_literals;
namespace strings = printer_strings;

namespace {

const doc_testing::DotRule kPattern = [](uint32_t x, uint32_t y) { return (x * 5 + y * 3) % 7 < 3; };

/// Lets wxWidgets and the Communication object's hidden windows run until
/// done() holds or timeout passes. True when it held.
bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 20s)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        wxTheApp->Yield(true);
        if (done())
            return true;
        PumpMessagesUntil(done, 5ms);
        if (done())
            return true;
    }
    return done();
}

/// The control of page that holds the keyboard focus; -1 when none does.
/// wxWidgets does not see the focus inside a drop-down list (it sits on the
/// list's inner button), so GTK is asked which child of the page holds it.
int FocusedControl(wxWindow* page)
{
    if (wxWindow* focus = wxWindow::FindFocus(); focus != nullptr && focus->GetParent() == page)
        return focus->GetId();
    using FocusChildFn = void* (*)(void* container);
    static const auto focusChild =
        reinterpret_cast<FocusChildFn>(dlsym(RTLD_DEFAULT, "gtk_container_get_focus_child"));
    void* child = focusChild != nullptr && page->GetHandle() != nullptr ? focusChild(page->GetHandle()) : nullptr;
    for (wxWindow* control : page->GetChildren()) {
        if (child != nullptr && control->GetHandle() == child)
            return control->GetId();
    }
    return -1;
}

/// The role a screen reader is told for window ("spin button", "text", ...).
std::string AccessibleRole(wxWindow* window)
{
    using GetAccessibleFn = void* (*)(void* widget);
    using GetRoleFn = int (*)(void* accessible);
    using RoleNameFn = const char* (*)(int role);
    static const auto getAccessible =
        reinterpret_cast<GetAccessibleFn>(dlsym(RTLD_DEFAULT, "gtk_widget_get_accessible"));
    static const auto getRole = reinterpret_cast<GetRoleFn>(dlsym(RTLD_DEFAULT, "atk_object_get_role"));
    static const auto roleName = reinterpret_cast<RoleNameFn>(dlsym(RTLD_DEFAULT, "atk_role_get_name"));
    if (getAccessible == nullptr || getRole == nullptr || roleName == nullptr || window == nullptr)
        return {};
    void* accessible = getAccessible(window->GetHandle());
    const char* name = accessible != nullptr ? roleName(getRole(accessible)) : nullptr;
    return name != nullptr ? name : "";
}

void RunFor(std::chrono::milliseconds duration)
{
    RunUntil([] { return false; }, duration);
}

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

/// The recording box, open for a while as a modal box is: whileUp runs inside
/// ShowMessage (once), with the event loop turned by the test as the box's own
/// loop would turn it.
class ModalMessageBox : public testing_support::RecordingMessageBox {
public:
    MessageAnswer ShowMessage(const std::string& text, MessageButtons buttons, MessageIcon icon) override
    {
        MessageAnswer answer = RecordingMessageBox::ShowMessage(text, buttons, icon);
        if (whileUp) {
            std::function<void()> run = std::move(whileUp);
            whileUp = nullptr;
            run();
        }
        return answer;
    }

    std::function<void()> whileUp;
};

/// The application object with the pages as its view: the document's updates
/// go through the real "Picture Info" page. A fake Communication object when
/// one is given, else the real server created by class id.
class PagesApp : public CMarquenApp, public IDocumentWindows {
public:
    PagesApp(IMessageBox& messageBox, comm_testing::FakeCommunication* fake) : CMarquenApp(messageBox), m_fake(fake) {}

    std::function<void(CMarquenApp&)> beforeConnect;
    IViewPages* pages = nullptr;
    int connects = 0;

    void ConnectPrinter() override
    {
        ++connects;
        if (beforeConnect)
            beforeConnect(*this);
        CMarquenApp::ConnectPrinter();
    }

    void UpdateAllViews(long lHint) override
    {
        if (pages != nullptr && GetDocument() != nullptr)
            ApplyDocumentUpdate(*GetDocument(), lHint, pages->PictureInfo());
    }
    void SendOutputSaved(const std::string& path) override
    {
        if (pages != nullptr)
            pages->OnOutputSaved(path);
    }
    std::optional<std::string> RunSaveDialog(const SaveDialogRequest&) override { return std::nullopt; }

protected:
    HRESULT CreateCommunicationInstance(IUnknown** ppUnknown) override
    {
        if (m_fake == nullptr)
            return CMarquenApp::CreateCommunicationInstance(ppUnknown);
        *ppUnknown = static_cast<ICommunication*>(m_fake);
        m_fake->AddRef();
        return S_OK;
    }
    bool CreateMainFrame(CMarquenDoc& doc) override
    {
        doc.AttachWindows(this);
        return true;
    }

private:
    comm_testing::FakeCommunication* m_fake;
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

class PagesTest : public ::testing::Test {
protected:
    PagesTest()
        : config("XDG_CONFIG_HOME", (dir / "config").string()), portMap("QUORLINK_PORT_MAP", (dir / "ports").string())
    {
        std::filesystem::create_directories(dir / "config");
    }

    ~PagesTest() override
    {
        if (app) {
            app->SetCommView(nullptr);
            app->pages = nullptr;
        }
        if (frame != nullptr)
            frame->Destroy();
        RunFor(50ms);
        pages.reset();
        if (app)
            app->ExitInstance();
        app.reset();
        printer.Stop();
    }

    /// Starts the application (fake object, or the real server on the virtual
    /// printer as COM7) and shows the pages in a frame.
    void Start(bool bVirtualPrinter, int version = 1)
    {
        if (bVirtualPrinter) {
            RegisterServer();
            std::string error;
            ASSERT_TRUE(printer.Start(error)) << error;
            testing_support::WriteFileBytes(dir / "ports", ToBytes("COM7=" + printer.SlavePath() + "\n"));
        }
        app = std::make_unique<PagesApp>(messages, bVirtualPrinter ? nullptr : &comm);
        app->SetProfilePath((dir / "config/Marquen.conf").string());
        app->beforeConnect = [bVirtualPrinter, version, first = true](CMarquenApp& a) mutable {
            if (!first)
                return;
            first = false;
            a.m_nVersion = version;
            if (bVirtualPrinter) {
                a.m_nInterface = 0;
                a.m_nPort = 6;  // COM7 among COM1 to COM8
                a.m_nReadTimeout = 5000;
            }
        };
        ASSERT_TRUE(app->InitInstance());

        // The tab control 200 pixels high, as the view has it, over the
        // picture's place.
        frame = new wxFrame(nullptr, wxID_ANY, "Marquen pages", wxPoint(0, 0), wxSize(800, 260));
        auto* client = new wxPanel(frame);
        notebook = new wxNotebook(client, wxID_ANY, wxPoint(0, 0), wxSize(800, 200));
        pages = CreateViewPages(notebook, *app);
        for (int index = 0; index < kViewPageCount; ++index)
            notebook->AddPage(pages->Page(index), pages->Caption(index));
        app->pages = pages.get();
        app->SetCommView(&pages->CommMessages());
        frame->Show();
        RunFor(200ms);
        messages.shown.clear();
    }

    static comm_testing::Bytes ToBytes(const std::string& text) { return {text.begin(), text.end()}; }

    std::filesystem::path OpenPicture(uint32_t width, uint32_t height)
    {
        std::filesystem::path file = dir / ("picture" + std::to_string(width) + ".bmp");
        testing_support::WriteFileBytes(file, doc_testing::MakeBmp(width, height, kPattern));
        EXPECT_NE(app->OpenDocumentFile(file.string()), nullptr);
        RunFor(50ms);
        return file;
    }

    template <typename Control>
    Control* Find(int index, int id)
    {
        auto* control = dynamic_cast<Control*>(pages->Page(index)->FindWindow(id));
        EXPECT_NE(control, nullptr) << id;
        return control;
    }

    /// Chooses entry in a list as the user does: the selection, then its event.
    void Choose(int index, int id, const wxString& entry)
    {
        auto* list = Find<wxChoice>(index, id);
        ASSERT_NE(list->FindString(entry), wxNOT_FOUND) << entry;
        list->SetStringSelection(entry);
        wxCommandEvent event(wxEVT_CHOICE, id);
        event.SetEventObject(list);
        event.SetInt(list->GetSelection());
        list->GetEventHandler()->ProcessEvent(event);
    }

    void Click(int index, int id)
    {
        auto* radio = Find<wxRadioButton>(index, id);
        radio->SetValue(true);
        wxCommandEvent event(wxEVT_RADIOBUTTON, id);
        event.SetEventObject(radio);
        event.SetInt(1);
        radio->GetEventHandler()->ProcessEvent(event);
    }

    /// Clicks a control with the pointer, as a user does.
    void PointerClick(wxWindow* control)
    {
        wxUIActionSimulator simulator;
        simulator.MouseMove(control->GetScreenRect().GetPosition() + control->GetSize() / 2);
        RunFor(30ms);
        simulator.MouseClick();
        RunFor(30ms);
    }

    void Screenshot(int index, const std::string& name)
    {
        notebook->SetSelection(index);
        RunFor(300ms);
        ScreenshotOf(notebook, name);
    }

    void ScreenshotOf(wxWindow* window, const std::string& name, std::chrono::milliseconds settle = 200ms)
    {
        RunFor(settle);
        const char* folder = std::getenv("MARQUEN_SCREENSHOT_DIR");
        if (folder == nullptr)
            return;
        std::filesystem::create_directories(folder);
        const wxRect rect = window->GetScreenRect();
        std::string command = "import -window root -crop " + std::to_string(rect.width) + "x" +
                              std::to_string(rect.height) + "+" + std::to_string(rect.x) + "+" +
                              std::to_string(rect.y) + " '" + (std::filesystem::path(folder) / name).string() + "'";
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
    }

    testing_support::TempDir dir;
    ScopedEnvironment config;
    ScopedEnvironment portMap;
    vprinter::VirtualPrinter printer;
    ModalMessageBox messages;
    comm_testing::FakeCommunication comm;
    std::unique_ptr<PagesApp> app;
    wxFrame* frame = nullptr;
    wxNotebook* notebook = nullptr;
    std::unique_ptr<IViewPages> pages;
};

TEST_F(PagesTest, ControlsWithoutTextOfTheirOwnCarryTheirAccessibleNames)
{
    Start(false);
    const std::pair<int, const char*> pictureInfo[] = {
        {1000, "Input file"},    {1003, "Input type"},        {1004, "Input size"},
        {1005, "Input width"},   {1006, "Input height"},      {1008, "Output file"},
        {1009, "Output type"},   {1011, "Output size"},       {1014, "Output width"},
        {1015, "Output height"}, {1020, "Offset X"},          {1021, "Offset Y"},
        {1022, "Output width spin"}, {1023, "Output height spin"}, {1024, "Offset X spin"},
        {1025, "Offset Y spin"}};
    for (const auto& [id, name] : pictureInfo)
        EXPECT_EQ(GetAccessibleName(pages->Page(kPictureInfoPageIndex)->FindWindow(id)), name) << id;
    // The narrow spin buttons are spin buttons to a screen reader too.
    for (int id : {IDC_OUTPUT_WIDTH_SPIN, IDC_OUTPUT_HEIGHT_SPIN, IDC_OFFSET_X_SPIN, IDC_OFFSET_Y_SPIN})
        EXPECT_EQ(AccessibleRole(pages->Page(kPictureInfoPageIndex)->FindWindow(id)), "spin button") << id;
    EXPECT_EQ(AccessibleRole(pages->Page(kPictureInfoPageIndex)->FindWindow(IDC_OUTPUT_WIDTH)), "text");
    const std::pair<int, const char*> download[] = {{1043, "Logo Number"},
                                                    {1060, "Total memory size available"},
                                                    {1061, "Memory size available for logo storage"},
                                                    {1068, "Memory size remained for logo storage"},
                                                    {1055, "Progress"}};
    for (const auto& [id, name] : download)
        EXPECT_EQ(GetAccessibleName(pages->Page(kDownloadPageIndex)->FindWindow(id)), name) << id;
    const std::pair<int, const char*> communication[] = {{1035, "Serial port"}, {1041, "Parallel port"},
                                                         {1036, "Baudrate"},    {1037, "Parity"},
                                                         {1070, "Stop bits"},   {1038, "Handshaking"}};
    for (const auto& [id, name] : communication)
        EXPECT_EQ(GetAccessibleName(pages->Page(kCommunicationPageIndex)->FindWindow(id)), name) << id;
    EXPECT_EQ(Find<wxCheckBox>(kCommunicationPageIndex, IDC_PRINTER_VERSION)->GetLabel(),
              "Printer with memory queries and upload");

    // The tab captions, and the print-size tooltips with "&&" shown as "&".
    EXPECT_EQ(notebook->GetPageText(0), "Picture Info");
    EXPECT_EQ(notebook->GetPageText(1), "Download");
    EXPECT_EQ(notebook->GetPageText(2), "Communication");
    EXPECT_EQ(pages->Page(kDownloadPageIndex)->FindWindow(IDC_X1H_X2W)->GetToolTipText(),
              "single height & double width ");
    EXPECT_EQ(pages->Page(kDownloadPageIndex)->FindWindow(IDC_X2H_X2W)->GetToolTipText(),
              "double height & double width");
    EXPECT_EQ(pages->Page(kDownloadPageIndex)->FindWindow(IDC_UPLOAD)->GetToolTipText(), "");
}

TEST_F(PagesTest, PictureInfoShowsANewPictureAndRebuildsTheOutput)
{
    Start(false);
    // The output side waits for the first picture.
    EXPECT_FALSE(Find<wxTextCtrl>(0, IDC_OUTPUT_WIDTH)->IsEnabled());
    EXPECT_FALSE(Find<wxChoice>(0, IDC_OUTPUT_TYPE)->IsEnabled());
    const std::filesystem::path file = OpenPicture(200, 100);
    EXPECT_EQ(Find<wxTextCtrl>(0, IDC_INPUT_TYPE)->GetValue(), "BITMAP");
    EXPECT_EQ(Find<wxTextCtrl>(0, IDC_INPUT_WIDTH)->GetValue(), "200");
    EXPECT_EQ(Find<wxTextCtrl>(0, IDC_INPUT_HEIGHT)->GetValue(), "100");
    EXPECT_EQ(Find<wxTextCtrl>(0, IDC_OUTPUT_WIDTH)->GetValue(), "200");
    EXPECT_EQ(Find<wxTextCtrl>(0, IDC_OUTPUT_HEIGHT)->GetValue(), "100");
    EXPECT_EQ(Find<wxTextCtrl>(0, IDC_INPUT_FILE)->GetValue(), file.string());
    EXPECT_EQ(Find<wxTextCtrl>(0, IDC_OUTPUT_FILE)->GetValue(), file.string());
    EXPECT_EQ(Find<wxChoice>(0, IDC_OUTPUT_TYPE)->GetStringSelection(), "BITMAP");
    EXPECT_TRUE(Find<wxTextCtrl>(0, IDC_OUTPUT_WIDTH)->IsEnabled());
    wxChoice* types = Find<wxChoice>(0, IDC_OUTPUT_TYPE);
    ASSERT_EQ(types->GetCount(), 5u);
    EXPECT_EQ(types->GetString(1), "EPSON GFX");
    EXPECT_EQ(types->GetString(4), "RASTER GFX EXT");

    // "LOGO" only goes into the document.
    Choose(0, IDC_OUTPUT_TYPE, "LOGO");
    EXPECT_EQ(app->GetDocument()->GetOutputType(), LOGO);

    // With the output shown, a new width rebuilds it at once.
    app->GetDocument()->OnOutputPicture();
    RunFor(50ms);
    Find<wxTextCtrl>(0, IDC_OUTPUT_WIDTH)->SetValue("64");
    ASSERT_NE(app->GetDocument()->GetOutput(), nullptr);
    EXPECT_EQ(app->GetDocument()->GetOutput()->Width(), 64u);
    EXPECT_EQ(app->GetDocument()->GetOutput()->Type(), LOGO);
    Find<wxTextCtrl>(0, IDC_OFFSET_X)->SetValue("-8");
    auto* pictureInfo = dynamic_cast<CPictureInfoPage*>(pages->Page(0));
    ASSERT_NE(pictureInfo, nullptr);
    EXPECT_EQ(pictureInfo->GetOutputParameters().offsetX, -8);
    EXPECT_TRUE(messages.shown.empty());

    // Saved under a new name: the output path follows.
    pages->OnOutputSaved((dir / "saved.log").string());
    EXPECT_EQ(Find<wxTextCtrl>(0, IDC_OUTPUT_FILE)->GetValue(), (dir / "saved.log").string());
    Screenshot(kPictureInfoPageIndex, "page-picture-info.png");
}

TEST_F(PagesTest, SizesOutsideTheRangeBringThePromptOnEveryStep)
{
    Start(false);
    OpenPicture(200, 100);
    auto* widthSpin = Find<CSpinArrows>(0, IDC_OUTPUT_WIDTH_SPIN);
    auto* width = Find<wxTextCtrl>(0, IDC_OUTPUT_WIDTH);
    width->SetValue("999");
    EXPECT_TRUE(messages.shown.empty());
    widthSpin->Step(1);
    EXPECT_EQ(width->GetValue(), "1000");
    EXPECT_TRUE(messages.shown.empty());
    widthSpin->Step(1);
    widthSpin->Step(1);
    EXPECT_EQ(width->GetValue(), "1002");
    EXPECT_EQ(messages.Texts(), (std::vector<std::string>{picture_info_strings::kRangePrompt,
                                                          picture_info_strings::kRangePrompt}));
    // The read stopped at the width: the field keeps the last value in range.
    auto* pictureInfo = dynamic_cast<CPictureInfoPage*>(pages->Page(0));
    EXPECT_EQ(pictureInfo->m_nWidth, 1000);
    // The spin button's own range ends at 3000; the offsets spin from -500 to 500.
    width->SetValue("3000");
    messages.shown.clear();
    widthSpin->Step(1);
    EXPECT_EQ(width->GetValue(), "3000");
    auto* offset = Find<wxTextCtrl>(0, IDC_OFFSET_Y);
    offset->SetValue("-500");
    Find<CSpinArrows>(0, IDC_OFFSET_Y_SPIN)->Step(-1);
    EXPECT_EQ(offset->GetValue(), "-500");
    offset->SetValue("499");
    Find<CSpinArrows>(0, IDC_OFFSET_Y_SPIN)->Step(1);
    Find<CSpinArrows>(0, IDC_OFFSET_Y_SPIN)->Step(1);
    EXPECT_EQ(offset->GetValue(), "500");
    // Text that is not a number: the framework's integer prompt.
    messages.shown.clear();
    Find<wxTextCtrl>(0, IDC_OFFSET_X)->SetValue("abc");
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{picture_info_strings::kIntegerPrompt});
    // A field emptied while the user types prompts nothing.
    messages.shown.clear();
    Find<wxTextCtrl>(0, IDC_OFFSET_X)->SetValue("");
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(PagesTest, TheFieldBeingTypedInKeepsItsTextWhileTheOutputIsRebuilt)
{
    Start(false);
    OpenPicture(200, 100);
    app->GetDocument()->OnOutputPicture();
    RunFor(50ms);
    auto* width = Find<wxTextCtrl>(0, IDC_OUTPUT_WIDTH);
    width->SetValue("");  // the user clears the field to type anew
    EXPECT_EQ(width->GetValue(), "");
    EXPECT_TRUE(messages.shown.empty());
    width->SetValue("1500");
    EXPECT_EQ(width->GetValue(), "1500");
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{picture_info_strings::kRangePrompt});
    // The output was rebuilt with the width last read; the other fields follow the page.
    EXPECT_EQ(app->GetDocument()->GetOutput()->Width(), 200u);
    width->SetValue("150");
    EXPECT_EQ(app->GetDocument()->GetOutput()->Width(), 150u);
    EXPECT_EQ(Find<wxTextCtrl>(0, IDC_OUTPUT_HEIGHT)->GetValue(), "100");
}

TEST_F(PagesTest, EnterInAnEditFieldPressesNoButton)
{
    Start(false);
    OpenPicture(200, 100);
    // A default button of the frame, set after the pages joined the tab control.
    int pressed = 0;
    auto* button = new wxButton(notebook->GetParent(), wxID_OK, "OK", wxPoint(700, 205));
    button->Bind(wxEVT_BUTTON, [&pressed](wxCommandEvent&) { ++pressed; });
    button->SetDefault();
    RunFor(100ms);
    auto* width = Find<wxTextCtrl>(0, IDC_OUTPUT_WIDTH);
    PointerClick(width);
    ASSERT_TRUE(RunUntil([&] { return width->HasFocus(); }, 2s));
    wxUIActionSimulator simulator;
    simulator.Char(WXK_RETURN);
    RunFor(200ms);
    EXPECT_EQ(pressed, 0);
    EXPECT_TRUE(frame->IsShown());
    // Up in the field steps it as its spin button does.
    simulator.Char(WXK_UP);
    RunFor(200ms);
    EXPECT_EQ(width->GetValue(), "201");
}

TEST_F(PagesTest, EveryControlIsReachedWithTab)
{
    Start(false);
    OpenPicture(200, 100);
    const std::vector<std::vector<int>> expected = {
        {IDC_INPUT_FILE, IDC_OPEN_BROWSE, IDC_OUTPUT_FILE, IDC_SAVE_AS_BROWSE, IDC_OUTPUT_TYPE, IDC_OUTPUT_WIDTH,
         IDC_OUTPUT_WIDTH_SPIN, IDC_OFFSET_X, IDC_OFFSET_X_SPIN, IDC_OUTPUT_HEIGHT, IDC_OUTPUT_HEIGHT_SPIN,
         IDC_OFFSET_Y, IDC_OFFSET_Y_SPIN},
        {IDC_LOGO_NUMBER, IDC_UPLOAD, IDC_X1H_X1W, IDC_DOWNLOAD, IDC_PRINT, IDC_SETUP, IDC_REFRESH, IDC_ERASE},
        {IDC_RS232, IDC_PRINTER_VERSION, IDC_SERIAL_PORT, IDC_BAUD_RATE, IDC_PARITY, IDC_STOP_BITS, IDC_HANDSHAKE},
    };
    wxUIActionSimulator simulator;
    for (int index = 0; index < kViewPageCount; ++index) {
        notebook->SetSelection(index);
        RunFor(100ms);
        pages->Page(index)->FindWindow(expected[static_cast<size_t>(index)].front())->SetFocus();
        std::set<int> reached;
        for (int step = 0; step < 40; ++step) {
            reached.insert(FocusedControl(pages->Page(index)));
            simulator.Char(WXK_TAB);
            RunFor(30ms);
        }
        for (int id : expected[static_cast<size_t>(index)])
            EXPECT_TRUE(reached.count(id)) << "page " << index << " control " << id << " of "
                                           << ::testing::PrintToString(reached);
    }

    // The spin buttons answer the arrow keys.
    notebook->SetSelection(kPictureInfoPageIndex);
    RunFor(100ms);
    auto* spin = Find<CSpinArrows>(0, IDC_OFFSET_X_SPIN);
    spin->SetFocus();
    ASSERT_TRUE(RunUntil([&] { return spin->HasFocus(); }, 2s));
    simulator.Char(WXK_UP);
    simulator.Char(WXK_UP);
    simulator.Char(WXK_DOWN);
    RunFor(200ms);
    EXPECT_EQ(Find<wxTextCtrl>(0, IDC_OFFSET_X)->GetValue(), "1");
}

TEST_F(PagesTest, CommunicationPageWritesTheSettingsAndReconnects)
{
    comm.comPorts = {L"COM2", L"COM10", L"COM1"};
    comm.lptPorts = {L"LPT2", L"LPT1"};
    Start(false);
    auto* serial = Find<wxChoice>(2, IDC_SERIAL_PORT);
    ASSERT_EQ(serial->GetCount(), 3u);
    EXPECT_EQ(serial->GetString(0), "COM1");
    EXPECT_EQ(serial->GetString(1), "COM10");  // alphabetical, not numeric
    EXPECT_EQ(serial->GetString(2), "COM2");
    EXPECT_EQ(Find<wxChoice>(2, IDC_PARALLEL_PORT)->GetString(0), "LPT1");
    EXPECT_EQ(Find<wxChoice>(2, IDC_BAUD_RATE)->GetStringSelection(), "115200");
    EXPECT_EQ(Find<wxChoice>(2, IDC_HANDSHAKE)->GetStringSelection(), "DTR/DSR");
    EXPECT_TRUE(Find<wxRadioButton>(2, IDC_RS232)->GetValue());
    EXPECT_FALSE(Find<wxChoice>(2, IDC_PARALLEL_PORT)->IsShown());

    const int connects = app->connects;
    comm.ClearRecords();
    Choose(2, IDC_BAUD_RATE, "9600");
    EXPECT_EQ(app->m_nBaudRate, 9600);
    EXPECT_EQ(app->connects, connects + 1);
    RunFor(50ms);
    EXPECT_EQ(GetAccessibleName(Find<wxChoice>(2, IDC_BAUD_RATE)), "Baudrate");  // not the entry chosen
    EXPECT_NE(std::find(comm.calls.begin(), comm.calls.end(), "put_Baudrate 9600"), comm.calls.end());
    // "Port" is the chosen port's number less one, whatever its place in the
    // sorted list: COM2 is 1 (its index, 2, would open COM3).
    Choose(2, IDC_SERIAL_PORT, "COM2");
    EXPECT_EQ(app->m_nPort, 1);
    Choose(2, IDC_SERIAL_PORT, "COM10");
    EXPECT_EQ(app->m_nPort, 9);
    Choose(2, IDC_SERIAL_PORT, "COM2");
    EXPECT_EQ(app->m_nPort, 1);
    Choose(2, IDC_STOP_BITS, "TWO");
    EXPECT_EQ(app->m_nStopBits, 2);
    Choose(2, IDC_HANDSHAKE, "XON/XOFF");
    EXPECT_EQ(app->m_nFlowControl, 4);
    Choose(2, IDC_PARITY, "EVEN");
    EXPECT_EQ(app->m_nParity, 2);

    // USB hides every serial control; the port stays as it was. No USB
    // printer is here, and the program says so.
    Click(2, IDC_USB);
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{app_strings::kPrinterNotFound});
    messages.shown.clear();
    EXPECT_EQ(app->m_nInterface, 2);
    EXPECT_EQ(app->m_nPort, 1);
    for (int id : {IDC_PORT_LABEL, IDC_SERIAL_PORT, IDC_BAUD_RATE, IDC_PARITY, IDC_STOP_BITS, IDC_HANDSHAKE,
                   IDC_PARALLEL_PORT})
        EXPECT_FALSE(pages->Page(2)->FindWindow(id)->IsShown()) << id;
    // Parallel: the port label and the parallel list only, in the serial list's place.
    Click(2, IDC_IEEE1284);
    EXPECT_EQ(app->m_nInterface, 1);
    EXPECT_TRUE(Find<wxChoice>(2, IDC_PARALLEL_PORT)->IsShown());
    EXPECT_FALSE(Find<wxChoice>(2, IDC_BAUD_RATE)->IsShown());
    EXPECT_EQ(Find<wxChoice>(2, IDC_PARALLEL_PORT)->GetRect(), serial->GetRect());
    Choose(2, IDC_PARALLEL_PORT, "LPT2");
    EXPECT_EQ(app->m_nPort, 1);
    // Back to serial: what the serial lists show is applied.
    Click(2, IDC_RS232);
    EXPECT_EQ(app->m_nInterface, 0);
    EXPECT_EQ(app->m_nPort, 1);
    EXPECT_EQ(app->m_nBaudRate, 9600);

    // The check box sets "Version" and shows or hides Upload at once.
    auto* version = Find<wxCheckBox>(2, IDC_PRINTER_VERSION);
    EXPECT_TRUE(version->GetValue());
    EXPECT_TRUE(pages->Page(1)->FindWindow(IDC_UPLOAD)->IsShown());
    version->SetValue(false);
    wxCommandEvent event(wxEVT_CHECKBOX, IDC_PRINTER_VERSION);
    event.SetEventObject(version);
    event.SetInt(0);
    version->GetEventHandler()->ProcessEvent(event);
    EXPECT_EQ(app->m_nVersion, 0);
    EXPECT_FALSE(pages->Page(1)->FindWindow(IDC_UPLOAD)->IsShown());
    EXPECT_FALSE(pages->Page(1)->FindWindow(IDC_TOTAL_MEMORY)->IsShown());
    EXPECT_TRUE(pages->Page(1)->FindWindow(IDC_FREE_MEMORY)->IsShown());
    EXPECT_TRUE(messages.shown.empty());
    Click(2, IDC_RS232);
    Screenshot(kCommunicationPageIndex, "page-communication.png");
}

TEST_F(PagesTest, NetworkStoresAndAppliesHostAndPortWhenAnEditIsLeft)
{
    Start(false);
    auto* host = Find<wxTextCtrl>(2, IDC_HOST);
    auto* port = Find<wxTextCtrl>(2, IDC_TCP_PORT);
    EXPECT_EQ(GetAccessibleName(host), "Host");
    EXPECT_EQ(GetAccessibleName(port), "TCP port");
    EXPECT_FALSE(host->IsShown());
    EXPECT_EQ(port->GetValue(), "9100");

    Click(2, IDC_NETWORK);
    EXPECT_EQ(app->m_nInterface, 3);
    EXPECT_TRUE(host->IsShown());
    EXPECT_TRUE(port->IsShown());
    for (int id : {IDC_PORT_LABEL, IDC_SERIAL_PORT, IDC_BAUD_RATE, IDC_PARALLEL_PORT})
        EXPECT_FALSE(pages->Page(2)->FindWindow(id)->IsShown()) << id;

    // Typing applies nothing; Enter applies and reconnects once.
    comm.ClearRecords();
    const int connects = app->connects;
    host->SetFocus();
    host->SetValue("printer-7.example");
    RunFor(50ms);
    EXPECT_EQ(app->connects, connects);
    wxCommandEvent enter(wxEVT_TEXT_ENTER, IDC_HOST);
    enter.SetEventObject(host);
    host->GetEventHandler()->ProcessEvent(enter);
    EXPECT_EQ(app->m_strHost, "printer-7.example");
    EXPECT_EQ(app->connects, connects + 1);
    EXPECT_NE(std::find(comm.calls.begin(), comm.calls.end(), "OpenPort TCP:printer-7.example:9100"),
              comm.calls.end());

    // Leaving the port edit applies it; leaving it unchanged does nothing.
    port->SetFocus();
    RunFor(50ms);
    port->SetValue("9101");
    RunFor(50ms);
    EXPECT_EQ(app->connects, connects + 1);
    host->SetFocus();
    RunFor(200ms);
    EXPECT_EQ(app->m_nTcpPort, 9101);
    EXPECT_EQ(app->connects, connects + 2);
    port->SetFocus();
    RunFor(50ms);
    host->SetFocus();
    RunFor(200ms);
    EXPECT_EQ(app->connects, connects + 2);

    // A port that is no port is put back.
    port->SetValue("70000");
    wxCommandEvent enterPort(wxEVT_TEXT_ENTER, IDC_TCP_PORT);
    enterPort.SetEventObject(port);
    port->GetEventHandler()->ProcessEvent(enterPort);
    EXPECT_EQ(port->GetValue(), "9101");
    EXPECT_EQ(app->m_nTcpPort, 9101);

    // Written to the profile, and shown again next time.
    ASSERT_TRUE(app->SaveSettings());
    std::ifstream profile(dir / "config/Marquen.conf");
    std::string text((std::istreambuf_iterator<char>(profile)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("Interface=3"), std::string::npos) << text;
    EXPECT_NE(text.find("Host=printer-7.example"), std::string::npos) << text;
    EXPECT_NE(text.find("9101"), std::string::npos) << text;
    Click(2, IDC_RS232);
    EXPECT_EQ(app->m_nInterface, 0);
    EXPECT_FALSE(host->IsShown());
}

TEST_F(PagesTest, StoredSettingsAreShownAtCreation)
{
    comm.comPorts = {L"COM1", L"COM3"};
    // Written before the start: a profile the program reads.
    {
        std::ofstream profile(dir / "config/Marquen.conf");
        profile << "[Settings]\nInterface=0\nPort=2\nBaud rate=9600\nStop=1\nFlow control=3\nParity=1\n";
    }
    Start(false);
    // Port 2 is COM3, the second entry of the list.
    EXPECT_EQ(Find<wxChoice>(2, IDC_SERIAL_PORT)->GetStringSelection(), "COM3");
    EXPECT_EQ(Find<wxChoice>(2, IDC_BAUD_RATE)->GetStringSelection(), "9600");
    EXPECT_EQ(Find<wxChoice>(2, IDC_STOP_BITS)->GetStringSelection(), "ONE");  // one and a half
    EXPECT_EQ(Find<wxChoice>(2, IDC_HANDSHAKE)->GetStringSelection(), "CTS");
    EXPECT_EQ(Find<wxChoice>(2, IDC_PARITY)->GetStringSelection(), "ODD");
    Choose(2, IDC_PARITY, "NONE");
    EXPECT_EQ(app->m_nStopBits, 0);
    EXPECT_EQ(app->m_nPort, 2);
}

TEST_F(PagesTest, AStoredPortTheMachineLacksIsNeitherShownNorReplaced)
{
    comm.comPorts = {L"COM7"};
    {
        std::ofstream profile(dir / "config/Marquen.conf");
        profile << "[Settings]\nInterface=0\nPort=0\n";
    }
    Start(false);
    // COM1 is not there: no entry is chosen, and another choice on the page
    // keeps the stored port.
    EXPECT_EQ(Find<wxChoice>(2, IDC_SERIAL_PORT)->GetSelection(), wxNOT_FOUND);
    Choose(2, IDC_BAUD_RATE, "9600");
    EXPECT_EQ(app->m_nPort, 0);
    Choose(2, IDC_SERIAL_PORT, "COM7");
    EXPECT_EQ(app->m_nPort, 6);
}

TEST_F(PagesTest, PagesFollowTheirLayoutsDownTo400Pixels)
{
    Start(false);
    OpenPicture(120, 80);
    // The narrowest main window: 600 pixels.
    notebook->SetSize(600, 200);
    RunFor(200ms);
    wxWindow* download = pages->Page(kDownloadPageIndex);
    const int width = download->GetClientSize().x;
    ASSERT_GT(width, 400);
    EXPECT_EQ(download->FindWindow(IDC_DOWNLOAD_LEFT_FRAME)->GetSize().x, static_cast<int>(width * 5.0 / 11));
    EXPECT_EQ(download->FindWindow(IDC_PROGRESS)->GetRect().GetBottom() + 1, download->GetClientSize().y);
    wxWindow* communication = pages->Page(kCommunicationPageIndex);
    EXPECT_EQ(communication->FindWindow(IDC_SERIAL_PORT)->GetPosition().x,
              communication->FindWindow(IDC_COMM_RIGHT_FRAME)->GetPosition().x + 125);
    Screenshot(kPictureInfoPageIndex, "page-picture-info-600.png");
    Screenshot(kDownloadPageIndex, "page-download-600.png");
    Screenshot(kCommunicationPageIndex, "page-communication-600.png");

    // 400 pixels or less: every control stays where it was.
    for (int index = 0; index < kViewPageCount; ++index) {
        wxWindow* page = pages->Page(index);
        std::vector<wxRect> before;
        for (wxWindow* child : page->GetChildren())
            before.push_back(child->GetRect());
        page->SetSize(400, 150);
        page->SetSize(250, 100);
        RunFor(50ms);
        size_t i = 0;
        for (wxWindow* child : page->GetChildren())
            EXPECT_EQ(child->GetRect(), before[i++]) << index << " " << child->GetId();
    }
}

TEST_F(PagesTest, DownloadButtonDrivesADownloadToTheVirtualPrinter)
{
    Start(true);
    ASSERT_TRUE(app->IsPortOpen());
    auto* logos = Find<wxChoice>(1, IDC_LOGO_NUMBER);
    EXPECT_EQ(logos->GetCount(), 256u);
    EXPECT_EQ(logos->GetSelection(), wxNOT_FOUND);
    auto* progress = Find<wxGauge>(1, IDC_PROGRESS);
    EXPECT_EQ(progress->GetValue(), 0);
    EXPECT_TRUE(Find<wxRadioButton>(1, IDC_X1H_X1W)->GetValue());
    // The memory figures were read when the page was created.
    EXPECT_FALSE(Find<wxTextCtrl>(1, IDC_TOTAL_MEMORY)->GetValue().empty());
    EXPECT_FALSE(Find<wxTextCtrl>(1, IDC_FREE_MEMORY)->GetValue().empty());

    printer.SetPacing(38400, false);
    OpenPicture(576, 240);  // 17 284 bytes: about 4.5 s of line
    notebook->SetSelection(kDownloadPageIndex);
    RunFor(100ms);
    logos->SetSelection(5);
    auto* download = Find<wxButton>(1, IDC_DOWNLOAD);
    PointerClick(download);
    // The bar is sampled as the loop turns. The first packets fill the
    // line's buffer at once; the rest go at the line's pace.
    std::vector<int> seen;
    std::set<int> between;
    bool communicationDisabled = false;
    bool screenshotTaken = false;
    ASSERT_TRUE(RunUntil([&] {
        const int value = progress->GetValue();
        if (seen.empty() || seen.back() != value)
            seen.push_back(value);
        if (value > 0 && value < 100)
            between.insert(value);
        if (!pages->Page(kCommunicationPageIndex)->IsEnabled())
            communicationDisabled = true;
        // The screenshot stops the sampling for a moment: taken once the bar
        // has been seen moving.
        if (!screenshotTaken && between.size() > 3 && value < 90) {
            screenshotTaken = true;
            EXPECT_EQ(download->GetLabel(), "Abort");
            EXPECT_FALSE(Find<wxButton>(1, IDC_PRINT)->IsEnabled());
            EXPECT_TRUE(pages->IsTransferBusy());
            ScreenshotOf(notebook, "page-download-busy.png", 0ms);
        }
        return progress->GetValue() == 100 && download->GetLabel() == "Download";
    }, 60s)) << messages.Texts().size();
    EXPECT_GT(between.size(), 3u) << ::testing::PrintToString(seen);
    EXPECT_TRUE(screenshotTaken);
    EXPECT_TRUE(communicationDisabled);
    EXPECT_TRUE(pages->Page(kCommunicationPageIndex)->IsEnabled());
    EXPECT_FALSE(pages->IsTransferBusy());
    EXPECT_TRUE(Find<wxButton>(1, IDC_PRINT)->IsEnabled());
    EXPECT_TRUE(messages.shown.empty()) << messages.Texts().front();
    vprinter::PrinterModel model = printer.Snapshot();
    ASSERT_TRUE(model.Slot(5).stored);
    EXPECT_EQ(model.Slot(5).stream.size(), 4u + 72 * 30 * 8);
    EXPECT_EQ(Find<wxTextCtrl>(1, IDC_FREE_MEMORY)->GetValue(), std::to_string(model.FreeLogoBytes()));
    Screenshot(kDownloadPageIndex, "page-download.png");
}

TEST_F(PagesTest, UploadButtonBringsTheStoredLogoBackAsTheInput)
{
    Start(true);
    OpenPicture(64, 40);
    notebook->SetSelection(kDownloadPageIndex);
    RunFor(100ms);
    Find<wxChoice>(1, IDC_LOGO_NUMBER)->SetSelection(4);
    auto* download = Find<wxButton>(1, IDC_DOWNLOAD);
    PointerClick(download);
    ASSERT_TRUE(RunUntil([&] { return !pages->IsTransferBusy() && Find<wxGauge>(1, IDC_PROGRESS)->GetValue() == 100; }));
    ASSERT_TRUE(printer.Snapshot().Slot(4).stored);
    OpenPicture(16, 8);
    ASSERT_EQ(Find<wxTextCtrl>(0, IDC_INPUT_WIDTH)->GetValue(), "16");

    PointerClick(Find<wxButton>(1, IDC_UPLOAD));
    ASSERT_TRUE(RunUntil([&] {
        const PictureFile* input = app->GetDocument()->GetInput();
        return input != nullptr && input->Width() == 64 && !pages->IsTransferBusy();
    }));
    EXPECT_EQ(app->GetDocument()->GetInput()->Height(), 40u);
    // The page shows the uploaded picture as the new input.
    EXPECT_EQ(Find<wxTextCtrl>(0, IDC_INPUT_WIDTH)->GetValue(), "64");
    EXPECT_EQ(Find<wxTextCtrl>(0, IDC_OUTPUT_HEIGHT)->GetValue(), "40");
    EXPECT_EQ(Find<wxButton>(1, IDC_UPLOAD)->GetLabel(), "Upload");
    EXPECT_TRUE(Find<wxButton>(1, IDC_DOWNLOAD)->IsEnabled());
    EXPECT_TRUE(messages.shown.empty()) << messages.Texts().front();
}

TEST_F(PagesTest, EraseWaitsForThePrinterAndPrintSendsTheChosenSize)
{
    Start(true);
    OpenPicture(64, 40);
    notebook->SetSelection(kDownloadPageIndex);
    RunFor(100ms);
    Find<wxChoice>(1, IDC_LOGO_NUMBER)->SetSelection(2);
    PointerClick(Find<wxButton>(1, IDC_DOWNLOAD));
    ASSERT_TRUE(RunUntil([&] { return !pages->IsTransferBusy() && Find<wxGauge>(1, IDC_PROGRESS)->GetValue() == 100; }));
    ASSERT_TRUE(printer.Snapshot().Slot(2).stored);

    // Print at double height and width.
    PointerClick(Find<wxRadioButton>(1, IDC_X2H_X2W));
    ASSERT_TRUE(Find<wxRadioButton>(1, IDC_X2H_X2W)->GetValue());
    PointerClick(Find<wxButton>(1, IDC_PRINT));
    ASSERT_TRUE(RunUntil([&] { return printer.Snapshot().PrintLog().size() == 1; }));
    EXPECT_EQ(printer.Snapshot().PrintLog().front().slot, 2);
    EXPECT_EQ(printer.Snapshot().PrintLog().front().mode, 3);
    EXPECT_TRUE(printer.Snapshot().PrintLog().front().stored);

    // Erase: "Abort" until the printer's 0D, then idle with the memory read again.
    auto* erase = Find<wxButton>(1, IDC_ERASE);
    PointerClick(erase);
    ASSERT_TRUE(RunUntil([&] { return erase->GetLabel() == "Erase" && Find<wxButton>(1, IDC_PRINT)->IsEnabled(); }));
    EXPECT_FALSE(printer.Snapshot().Slot(2).stored);
    EXPECT_EQ(Find<wxTextCtrl>(1, IDC_FREE_MEMORY)->GetValue(), std::to_string(printer.Snapshot().FreeLogoBytes()));
    EXPECT_TRUE(messages.shown.empty()) << messages.Texts().front();
}

TEST_F(PagesTest, AbortFromTheViewStopsARunningDownload)
{
    Start(true);
    printer.SetPacing(9600, false);
    OpenPicture(576, 240);
    Find<wxChoice>(1, IDC_LOGO_NUMBER)->SetSelection(8);
    dynamic_cast<CDownloadPageWindow*>(pages->Page(1))->Logic().OnDownload();
    auto* progress = Find<wxGauge>(1, IDC_PROGRESS);
    ASSERT_TRUE(RunUntil([&] { return progress->GetValue() > 0; }));
    EXPECT_TRUE(pages->IsTransferBusy());
    pages->AbortTransfer();
    EXPECT_FALSE(pages->IsTransferBusy());
    EXPECT_EQ(progress->GetValue(), 0);
    EXPECT_EQ(Find<wxButton>(1, IDC_DOWNLOAD)->GetLabel(), "Download");
    EXPECT_TRUE(pages->Page(kCommunicationPageIndex)->IsEnabled());
    RunFor(500ms);
    EXPECT_EQ(printer.Snapshot().DefineCount(8), 0u);
    // The user is told the printer still waits for the rest of the logo.
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{printer_strings::kPrinterAwaitsLogoRest});
}

TEST_F(PagesTest, ADownloadPressedUnderAMessageBoxStartsNoSecondTransfer)
{
    Start(true);
    printer.SetPacing(38400, false);
    OpenPicture(576, 240);  // a stream of 17 284 bytes: about 4.5 s of line
    notebook->SetSelection(kDownloadPageIndex);
    RunFor(100ms);
    Find<wxChoice>(1, IDC_LOGO_NUMBER)->SetSelection(6);
    auto* download = Find<wxButton>(1, IDC_DOWNLOAD);
    auto* offsetX = Find<wxTextCtrl>(0, IDC_OFFSET_X);
    const size_t streamBytes = 4u + 72 * 30 * 8;
    auto press = [&] {
        wxCommandEvent click(wxEVT_BUTTON, IDC_DOWNLOAD);
        click.SetEventObject(download);
        download->GetEventHandler()->ProcessEvent(click);
    };
    printer.WithModel([](vprinter::PrinterModel& model) { model.ClearHistory(); });
    const uint64_t before = printer.Counters().bytesReceived;

    // Download, and at once, before the first progress has come back, a box
    // from another field of the window; while it is up, Download again.
    press();
    std::string captionUnderTheBox;
    messages.whileUp = [&] {
        captionUnderTheBox = std::string(download->GetLabel().utf8_str());
        press();
        RunFor(500ms);  // the box's loop: the object's messages keep coming
    };
    offsetX->SetValue("abc");
    ASSERT_FALSE(messages.shown.empty());
    EXPECT_EQ(messages.shown[0].text, picture_info_strings::kIntegerPrompt);
    EXPECT_EQ(captionUnderTheBox, "Download");
    // The page comes back to idle, and the printer has been sent one Select
    // logo and at most one logo's bytes.
    ASSERT_TRUE(RunUntil([&] { return !pages->IsTransferBusy(); }, 30s));
    // What the line still held reaches the paced printer: until nothing more
    // comes for half a second.
    uint64_t last = printer.Counters().bytesReceived;
    auto quietSince = std::chrono::steady_clock::now();
    ASSERT_TRUE(RunUntil([&] {
        const uint64_t now = printer.Counters().bytesReceived;
        if (now != last) {
            last = now;
            quietSince = std::chrono::steady_clock::now();
        }
        return std::chrono::steady_clock::now() - quietSince > 500ms;
    }, 30s));
    EXPECT_LE(printer.Counters().bytesReceived - before, 3 + streamBytes + 3 /* Logo status */ + 3 /* free memory */);
    vprinter::PrinterModel model = printer.Snapshot();
    EXPECT_EQ(model.CommandCount(vprinter::Command::SelectLogo), 1u);
    EXPECT_LE(model.CommandCount(vprinter::Command::DefineLogo), 1u);
    EXPECT_EQ(model.UnknownByteCount(), 0u);
    // The second press was the first transfer's Abort, said as such.
    EXPECT_EQ(messages.Texts(),
              (std::vector<std::string>{picture_info_strings::kIntegerPrompt, strings::kPrinterAwaitsLogoRest}));
    EXPECT_EQ(download->GetLabel(), "Download");
}

// A box that comes up while the download runs: the download goes on under it
// and ends as usual.
TEST_F(PagesTest, ADownloadGoesOnUnderAMessageBoxAndEndsAsUsual)
{
    Start(true);
    printer.SetPacing(38400, false);
    OpenPicture(576, 240);
    notebook->SetSelection(kDownloadPageIndex);
    RunFor(100ms);
    Find<wxChoice>(1, IDC_LOGO_NUMBER)->SetSelection(6);
    auto* download = Find<wxButton>(1, IDC_DOWNLOAD);
    auto* progress = Find<wxGauge>(1, IDC_PROGRESS);
    auto* offsetX = Find<wxTextCtrl>(0, IDC_OFFSET_X);
    const size_t streamBytes = 4u + 72 * 30 * 8;
    auto press = [&] {
        wxCommandEvent click(wxEVT_BUTTON, IDC_DOWNLOAD);
        click.SetEventObject(download);
        download->GetEventHandler()->ProcessEvent(click);
    };
    printer.WithModel([](vprinter::PrinterModel& m) { m.ClearHistory(); });
    messages.shown.clear();
    press();
    ASSERT_TRUE(RunUntil([&] { return progress->GetValue() > 0 && download->GetLabel() == "Abort"; }));
    bool endedUnderTheBox = false;
    messages.whileUp = [&] {
        endedUnderTheBox =
            RunUntil([&] { return progress->GetValue() == 100 && download->GetLabel() == "Download"; }, 30s);
    };
    offsetX->SetValue("xyz");
    EXPECT_TRUE(endedUnderTheBox);
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{picture_info_strings::kIntegerPrompt});
    EXPECT_FALSE(pages->IsTransferBusy());
    vprinter::PrinterModel model = printer.Snapshot();
    EXPECT_EQ(model.DefineCount(6), 1u);
    ASSERT_TRUE(model.Slot(6).stored);
    EXPECT_EQ(model.Slot(6).stream.size(), streamBytes);
    EXPECT_EQ(model.CommandCount(vprinter::Command::SelectLogo), 1u);
}

TEST_F(PagesTest, SetupChangesTheLogoAreaThroughTheDialog)
{
    Start(true);
    // The dialog is answered once it runs: 320 kbytes, then OK.
    wxTimer answer;
    answer.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        for (wxWindow* window : wxTopLevelWindows) {
            auto* dialog = dynamic_cast<CMemorySizeDlgWindow*>(window);
            if (dialog == nullptr || !dialog->IsModal())
                continue;
            answer.Stop();
            auto* sizes = dynamic_cast<wxChoice*>(dialog->FindWindow(IDC_MEMORY_SIZE));
            ASSERT_NE(sizes, nullptr);
            EXPECT_EQ(sizes->GetSelection(), wxNOT_FOUND);
            EXPECT_EQ(GetAccessibleName(sizes), "New memory size for logo storage");
            sizes->SetStringSelection("320");
            ScreenshotOf(dialog, "memory-size-dialog.png");
            wxCommandEvent ok(wxEVT_BUTTON, wxID_OK);
            ok.SetEventObject(dialog->FindWindow(wxID_OK));
            dialog->FindWindow(wxID_OK)->GetEventHandler()->ProcessEvent(ok);
        }
    });
    answer.Start(100);
    notebook->SetSelection(kDownloadPageIndex);
    RunFor(100ms);
    PointerClick(pages->Page(1)->FindWindow(IDC_SETUP));
    ASSERT_TRUE(RunUntil([&] { return !answer.IsRunning(); }));
    RunFor(300ms);
    EXPECT_TRUE(messages.shown.empty()) << messages.Texts().front();
    EXPECT_EQ(printer.Snapshot().Config().logoAreaKbytes, 320u);
    EXPECT_EQ(Find<wxTextCtrl>(1, IDC_LOGO_AREA)->GetValue(), "320");
}

}  // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    wxApp::SetInstance(new wxApp());
    if (!wxEntryStart(argc, argv) || !wxTheApp->CallOnInit()) {
        std::fprintf(stderr, "no display: run under xvfb-run\n");
        return 1;
    }
    int result = RUN_ALL_TESTS();
    wxTheApp->OnExit();
    wxEntryCleanup();
    return result;
}
