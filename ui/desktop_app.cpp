#include "desktop_app.h"

#include "command_table.h"
#include "main_frame.h"
#include "marquen_view.h"
#include "small_dialogs.h"
#include "wait_dialog.h"
#include "window/message_window.h"

#include <wx/app.h>
#include <wx/confbase.h>
#include <wx/evtloop.h>
#include <wx/filename.h>
#include <wx/msgdlg.h>

#include <chrono>

using marquen::window::DispatchMessage;
using marquen::window::GetMessageTimeout;
using marquen::window::MessageQueueWakeFd;
using marquen::window::MSG;
using marquen::window::PumpPendingMessages;

namespace {

// Where the recent-file list lives in the profile.
const char* const kRecentFileGroup = "/Recent File List";

// Longest time one wake-up spends on the queue. A paced line hands over the
// object's progress in bursts (a hundred and more messages at once); handled
// in one go they would hold the loop for tens of milliseconds.
constexpr std::chrono::milliseconds kPumpSlice{8};

// A start-up that ends within this time shows no wait dialog: the helper's
// process, which takes about as long to get its dialog on screen, would only
// slow the main window down.
constexpr std::chrono::milliseconds kWaitDialogDelay{250};

void PumpSlice()
{
    const auto end = std::chrono::steady_clock::now() + kPumpSlice;
    MSG message;
    // A retrieval that waits 0 ms: whatever is pending, nothing more.
    while (GetMessageTimeout(&message, 0)) {
        DispatchMessage(&message);
        if (std::chrono::steady_clock::now() >= end) {
            // The rest after the loop has drawn and answered the user; the
            // descriptor may have been emptied already, so it is not relied on.
            if (wxTheApp != nullptr)
                wxTheApp->CallAfter(&PumpSlice);
            return;
        }
    }
    // Empties the descriptor and arms the next timer.
    PumpPendingMessages();
}

class QueueHandler : public wxEventLoopSourceHandler {
public:
    void OnReadWaiting() override { PumpSlice(); }
    void OnWriteWaiting() override {}
    void OnExceptionWaiting() override {}
};

}  // namespace

MessageAnswer CWxMessageBox::ShowMessage(const std::string& text, MessageButtons buttons, MessageIcon icon)
{
    if (m_beforeShow)
        m_beforeShow();
    long style = 0;
    switch (buttons) {
    case MessageButtons::Ok:
        style = wxOK;
        break;
    case MessageButtons::OkCancel:
        style = wxOK | wxCANCEL;
        break;
    case MessageButtons::YesNo:
        style = wxYES_NO;
        break;
    case MessageButtons::YesNoCancel:
        style = wxYES_NO | wxCANCEL;
        break;
    }
    switch (icon) {
    case MessageIcon::None:
        style |= wxICON_NONE;
        break;
    case MessageIcon::Error:
        style |= wxICON_ERROR;
        break;
    case MessageIcon::Warning:
        style |= wxICON_WARNING;
        break;
    case MessageIcon::Information:
        style |= wxICON_INFORMATION;
        break;
    case MessageIcon::Question:
        style |= wxICON_QUESTION;
        break;
    }
    wxWindow* parent = wxTheApp != nullptr ? wxTheApp->GetTopWindow() : nullptr;
    if (parent != nullptr && !parent->IsShown())
        parent = nullptr;
    wxMessageDialog dialog(parent, wxString::FromUTF8(text), "Marquen", style);
    switch (dialog.ShowModal()) {
    case wxID_OK:
        return MessageAnswer::Ok;
    case wxID_YES:
        return MessageAnswer::Yes;
    case wxID_NO:
        return MessageAnswer::No;
    default:
        return buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Cancel;
    }
}

bool CMessageQueueSource::Attach()
{
    if (m_pSource != nullptr)
        return true;
    wxEventLoopBase* loop = wxEventLoopBase::GetActive();
    if (loop == nullptr)
        return false;
    m_pHandler = std::make_unique<QueueHandler>();
    m_pSource = loop->AddSourceForFD(MessageQueueWakeFd(), m_pHandler.get(), wxEVENT_SOURCE_INPUT);
    if (m_pSource == nullptr)
        return false;
    // Whatever arrived before the loop ran is handled now.
    PumpPendingMessages();
    return true;
}

void CMessageQueueSource::Detach()
{
    delete m_pSource;
    m_pSource = nullptr;
    m_pHandler.reset();
}

CDesktopApp::CDesktopApp(IMessageBox& messageBox)
    : CMarquenApp(messageBox), m_strWaitDialogProgram("/proc/self/exe"),
      m_history(app_settings::kRecentFileCount, command_table::RecentFileWxId(0)),
      m_importQuestion([this]() -> wxWindow* {
          // Over the main window once it shows; at start-up (a picture named
          // on the command line) the dialog stands alone.
          return m_pFrame != nullptr && m_pFrame->IsShown() ? m_pFrame : nullptr;
      }),
      m_importStore([this]() -> wxConfigBase& { return GetProfile(); }, [this] { WriteProfile(); })
{
    m_importQuestion.m_beforeShow = [this] { StopWaitThread(); };
}

CDesktopApp::~CDesktopApp()
{
    // The document outlives this part of the object.
    if (CMarquenDoc* doc = GetDocument())
        doc->AttachImportQuestion(nullptr, nullptr);
    // The frame, the view and the pages refer to this object: they go first,
    // now, even when the frame was only marked for deletion at the next idle
    // time (a start-up that failed, or a loop that ended before that time).
    if (m_pFrame != nullptr) {
        wxPendingDelete.DeleteObject(m_pFrame);
        delete m_pFrame;  // its destructor calls OnFrameDestroyed
    }
}

std::unique_ptr<IWaitThread> CDesktopApp::CreateWaitThread()
{
    if (m_strWaitDialogProgram.empty())
        return nullptr;
    return std::make_unique<CDelayedWaitProcess>(m_strWaitDialogProgram, kWaitDialogDelay);
}

void CDesktopApp::LoadStdProfileSettings(wxConfigBase& profile, int nRecentFiles)
{
    (void)nRecentFiles;  // the list was made with that many entries
    wxString previous = profile.GetPath();
    profile.SetPath(kRecentFileGroup);
    m_history.Load(profile);
    profile.SetPath(previous);
}

void CDesktopApp::SaveHistory()
{
    wxConfigBase& profile = GetProfile();
    wxString previous = profile.GetPath();
    profile.DeleteGroup(kRecentFileGroup);
    profile.SetPath(kRecentFileGroup);
    m_history.Save(profile);
    profile.SetPath(previous);
}

bool CDesktopApp::CreateMainFrame(CMarquenDoc& doc)
{
    if (m_pFrame == nullptr)
        m_pFrame = new CMainFrame(*this);
    doc.AttachWindows(m_pFrame);
    doc.AttachImportQuestion(&m_importQuestion, &m_importStore);
    m_pFrame->RefreshRecentFiles(m_history);
    return true;
}

void CDesktopApp::OnFrameDestroyed()
{
    if (CMarquenDoc* doc = GetDocument())
        doc->AttachWindows(nullptr);
    SetCommView(nullptr);
    m_pFrame = nullptr;
}

void CDesktopApp::ShowMainWindow()
{
    if (m_pFrame == nullptr)
        return;
    m_pFrame->Show();
    m_pFrame->Raise();
    m_pFrame->DragAcceptFiles(true);
    m_bShown = true;
    // The view's first update: the status line says what is displayed and
    // whether the printer answers.
    RefreshStatusLine();
}

void CDesktopApp::AddToRecentFileList(const std::string& path)
{
    // The list outlives the folder the program was started from.
    wxFileName file(wxString::FromUTF8(path));
    file.MakeAbsolute();
    m_history.AddFileToHistory(file.GetFullPath());
    SaveHistory();
    if (m_pFrame != nullptr)
        m_pFrame->RefreshRecentFiles(m_history);
}

void CDesktopApp::OpenRecentFile(int n)
{
    if (n < 0 || static_cast<size_t>(n) >= m_history.GetCount())
        return;
    const std::string path(m_history.GetHistoryFile(static_cast<size_t>(n)).utf8_str());
    if (OpenDocumentFile(path) == nullptr && !(GetDocument() != nullptr && GetDocument()->OpenWasCancelled())) {
        // The framework forgets an entry that does not open any more (one
        // whose import the user cancelled still opens).
        m_history.RemoveFileFromHistory(static_cast<size_t>(n));
        SaveHistory();
        if (m_pFrame != nullptr)
            m_pFrame->RefreshRecentFiles(m_history);
    }
}

void CDesktopApp::ShowStatusText(const std::string& text)
{
    if (m_pFrame != nullptr)
        m_pFrame->ShowStatusLine(wxString::FromUTF8(text));
}

void CDesktopApp::OnAppAbout()
{
    CAboutDlg dialog(m_pFrame);
    dialog.ShowModal();
}

int CDesktopApp::FrameworkExit()
{
    return 0;
}
