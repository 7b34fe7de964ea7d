// The program's entry: the two informational options answered without a
// window, the wait dialog's helper mode, and the toolkit application that runs
// CMarquenApp's start-up, event loop and shutdown.
#include "desktop_app.h"
#include "wait_dialog.h"
#include "window/message_box.h"

#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/evtloopsrc.h>
#include <wx/timer.h>
#include <wx/window.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr const char* kUsage =
    "Usage: marquen [FILE]\n"
    "Prepares logos for receipt printers and manages a printer's logo memory.\n"
    "Opens FILE at start-up: a monochrome .bmp, a .log or .gfx printer logo, or a\n"
    "colour or grey picture (PNG, JPEG, GIF, WebP, TIFF, bitmap) to import.\n"
    "\n"
    "  --help      show this text and exit\n"
    "  --version   show the version and exit\n"
    "\n"
    "The printer connection is chosen on the Communication page and kept in\n"
    "~/.config/Marquen.conf (or $XDG_CONFIG_HOME/Marquen.conf).\n";

bool g_bWaitDialogHelper = false;

// SIGTERM (a session that ends) and SIGINT (Ctrl+C in a terminal) end the
// program as its Quit command does, settings saved: the handler only writes
// to a pipe that the event loop watches.
int g_signalPipe[2] = {-1, -1};

extern "C" void OnTerminationSignal(int)
{
    const char byte = 1;
    ssize_t ignored = ::write(g_signalPipe[1], &byte, 1);
    (void)ignored;
}

class TerminationHandler : public wxEventLoopSourceHandler {
public:
    void OnReadWaiting() override
    {
        char bytes[16];
        while (::read(g_signalPipe[0], bytes, sizeof bytes) > 0) {
        }
        CloseWhenIdle();
    }

private:
    // A modal dialog (a message box, a file dialog) has code of the frame
    // below it on the stack: the frame is closed once that dialog is gone.
    void CloseWhenIdle()
    {
        if (wxEventLoopBase::GetActive() != wxTheApp->GetMainLoop()) {
            if (!m_pRetry) {
                m_pRetry = std::make_unique<wxTimer>();
                m_pRetry->Bind(wxEVT_TIMER, [this](wxTimerEvent&) { CloseWhenIdle(); });
            }
            m_pRetry->StartOnce(200);
            return;
        }
        if (wxWindow* top = wxTheApp->GetTopWindow())
            top->Close();
        else
            wxTheApp->ExitMainLoop();
        // The frame goes in the next idle time, which a wake-up from outside
        // the toolkit does not schedule by itself.
        wxTheApp->WakeUpIdle();
    }

    std::unique_ptr<wxTimer> m_pRetry;

public:
    /// Ends the retry timer while the toolkit still runs.
    void Release() { m_pRetry.reset(); }
    void OnWriteWaiting() override {}
    void OnExceptionWaiting() override {}
};

class CMarquenWxApp : public wxApp {
public:
    bool OnInit() override
    {
        if (g_bWaitDialogHelper)
            return RunWaitDialogHelper();
        SetAppName("Marquen");
        SetVendorName("VANTREX");
        m_pApp = std::make_unique<CDesktopApp>(m_messageBox);
        m_messageBox.m_beforeShow = [this] {
            if (m_pApp)
                m_pApp->StopWaitThread();
        };
        std::vector<std::string> arguments;
        for (int i = 1; i < argc; ++i)
            arguments.emplace_back(argv[i].utf8_str());
        m_pApp->SetCommandLine(std::move(arguments));
        // The communication server's own messages (why a USB driver switch
        // failed) come up as the program's message boxes, on this thread.
        marquen::window::SetMessageBoxPresenter([this](const std::string& text, const std::string&, UINT) {
            m_messageBox.ShowMessage(text, MessageButtons::Ok, MessageIcon::Warning);
            return marquen::window::IDOK;
        });
        if (!m_pApp->InitInstance()) {
            marquen::window::SetMessageBoxPresenter({});
            m_messageBox.m_beforeShow = nullptr;
            m_queue.Detach();
            ReleaseSignalSource();
            m_pApp.reset();
            return false;
        }
        return true;
    }

    void OnEventLoopEnter(wxEventLoopBase* loop) override
    {
        wxApp::OnEventLoopEnter(loop);
        // The first loop that runs (the main one, or a message box's during the
        // start-up) takes the queue's descriptor; the main context keeps it for
        // every loop after.
        if (m_pApp && !m_queue.IsAttached())
            m_queue.Attach();
        if (m_pApp && m_pSignalSource == nullptr && ::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
            m_pSignalSource = loop->AddSourceForFD(g_signalPipe[0], &m_terminationHandler, wxEVENT_SOURCE_INPUT);
            struct sigaction action {};
            action.sa_handler = OnTerminationSignal;
            ::sigemptyset(&action.sa_mask);
            action.sa_flags = SA_RESTART;
            ::sigaction(SIGTERM, &action, nullptr);
            ::sigaction(SIGINT, &action, nullptr);
        }
    }

    int OnExit() override
    {
        int code = 0;
        if (m_pApp) {
            code = m_pApp->ExitInstance();
            marquen::window::SetMessageBoxPresenter({});
            m_queue.Detach();
            m_messageBox.m_beforeShow = nullptr;
            m_pApp.reset();
        }
        ReleaseSignalSource();
        wxApp::OnExit();
        return code;
    }

private:
    void ReleaseSignalSource()
    {
        if (m_pSignalSource == nullptr)
            return;
        ::signal(SIGTERM, SIG_DFL);
        ::signal(SIGINT, SIG_DFL);
        delete m_pSignalSource;
        m_pSignalSource = nullptr;
        m_terminationHandler.Release();
    }

    CWxMessageBox m_messageBox;
    CMessageQueueSource m_queue;
    TerminationHandler m_terminationHandler;
    wxEventLoopSource* m_pSignalSource = nullptr;
    std::unique_ptr<CDesktopApp> m_pApp;
};

}  // namespace

// The macro also defines wxGetApp(), which nothing here calls: the
// application class is private to this file, so clang sees an unused
// function with internal linkage.
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wunused-function"
#endif
wxIMPLEMENT_APP_NO_MAIN(CMarquenWxApp);
#if defined(__clang__)
#pragma clang diagnostic pop
#endif

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("Marquen version 1.0");
            return 0;
        }
    }
    g_bWaitDialogHelper = argc == 2 && std::strcmp(argv[1], kWaitDialogOption) == 0;
    return wxEntry(argc, argv);
}
