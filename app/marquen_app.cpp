#include "marquen_app.h"

#include "command_ids.h"
#include "diagnostics/diagnostics.h"

#include <wx/confbase.h>

#include <dlfcn.h>

#include <filesystem>
#include <system_error>

std::string ProgramFolder()
{
    // The folder the program's own shared libraries were loaded from: in the
    // build that is the folder of the programs too; installed, the programs
    // lie in /usr/bin and their files (libraries, the manual, the driver
    // information file) in the package's private library folder.
    Dl_info info{};
    if (::dladdr(reinterpret_cast<const void*>(&marquen::diagnostics::Report), &info) == 0 ||
        info.dli_fname == nullptr)
        return {};
    std::error_code error;
    std::filesystem::path library = std::filesystem::canonical(info.dli_fname, error);
    if (error || !library.has_parent_path())
        return {};
    std::string folder = library.parent_path().string();
    // The root folder would keep its separator; the rule is "no trailing one".
    while (!folder.empty() && folder.back() == '/')
        folder.pop_back();
    return folder;
}

CMarquenApp::CMarquenApp(IMessageBox& messageBox) : m_messageBox(messageBox)
{
    // The Communication object lives in this thread's apartment and raises
    // its events here.
    m_bComInitialized = SUCCEEDED(CoInitialize(nullptr));
}

CMarquenApp::~CMarquenApp()
{
    // The document talks to this object's status line; it goes first.
    m_pDocument.reset();
    // Whatever reached the profile after the settings were saved (the
    // recent-file list) is kept; a failure here has no one left to tell.
    WriteProfile();
    m_pProfile.reset();
    // Without ExitInstance (a start-up that failed) the sink may still be
    // connected; it must be gone before the object it is connected to.
    DisconnectSink();
    m_pComm.Reset();
    // Only now may the component library unload the object's module.
    if (m_bComInitialized)
        CoUninitialize();
}

bool CMarquenApp::InitInstance()
{
    InitFrameworkSupport();
    m_pWaitThread = CreateWaitThread();

    OpenProfile();
    LoadStdProfileSettings(*m_pProfile, app_settings::kRecentFileCount);
    LoadSettings();

    InitComponentSupport();
    // Every way out of the start-up ends the wait dialog first: it would
    // otherwise stay on screen until the process has gone.
    if (!CreateCommunication()) {
        StopWaitThread();
        return false;
    }
    m_strProgramDir = ProgramFolder();
    ConnectPrinter();

    if (!CreateDocumentTemplate() || !ProcessCommandLine()) {
        StopWaitThread();
        return false;
    }
    StopWaitThread();
    ShowMainWindow();
    return true;
}

int CMarquenApp::ExitInstance()
{
    ShutdownCommunication();
    OfferDriverSwitchBack();
    TermComponentSupport();
    SaveSettings();
    return FrameworkExit();
}

bool CMarquenApp::CreateDocumentTemplate()
{
    if (!m_pDocument)
        m_pDocument = std::make_unique<CMarquenDoc>(m_messageBox, *this);
    if (!CreateMainFrame(*m_pDocument))
        return false;
    m_bMainWindow = true;
    return true;
}

bool CMarquenApp::ProcessCommandLine()
{
    // The first argument names the file to open; later ones are ignored.
    for (const std::string& argument : m_arguments) {
        if (argument.empty())
            continue;
        if (OpenDocumentFile(argument) != nullptr)
            return true;
        // A picture whose import the user cancelled is no failure: the
        // program starts with an empty document.
        if (m_pDocument == nullptr || !m_pDocument->OpenWasCancelled())
            return false;
        break;
    }
    OnFileNew();
    return true;
}

void CMarquenApp::StopWaitThread()
{
    if (!m_pWaitThread)
        return;
    m_pWaitThread->Stop();
    m_pWaitThread.reset();
}

void CMarquenApp::RefreshStatusLine()
{
    if (m_pDocument)
        m_pDocument->UpdateStatusText();
}

void CMarquenApp::SetStatusText(const std::string& text)
{
    m_strStatusText = text;
    ShowStatusText(m_strStatusText);
}

CMarquenDoc* CMarquenApp::OpenDocumentFile(const std::string& path)
{
    // A colour or grey picture is first put to the user (how to make dots of
    // it); a cancel must leave the open document exactly as it is, so the
    // question comes before the reload below forgets its path.
    if (m_pDocument && !m_pDocument->PrepareOpen(path))
        return nullptr;
    // The framework only activates a document whose path is the one asked
    // for; forgetting the path first makes it read the file again, so choosing
    // the open file once more shows what is on disk now.
    if (m_pDocument && m_pDocument->GetPathName() == path) {
        m_pDocument->SetModifiedFlag(false);
        m_pDocument->OnNewDocument();
    }
    return OpenDocumentFileDefault(path);
}

CMarquenDoc* CMarquenApp::OpenDocumentFileDefault(const std::string& path)
{
    if (!m_pDocument)
        return nullptr;
    CMarquenDoc& doc = *m_pDocument;
    if (!path.empty() && doc.GetPathName() == path)
        return &doc;
    if (!doc.SaveModified())
        return nullptr;
    bool wasModified = doc.IsModified();
    doc.SetModifiedFlag(false);
    if (!doc.OnOpenDocument(path)) {
        if (!doc.IsModified()) {
            doc.SetModifiedFlag(wasModified);
        } else {
            doc.SetTitle(doc_strings::kDefaultTitle);
            doc.OnNewDocument();
        }
        return nullptr;
    }
    doc.SetPathName(path);
    AddToRecentFileList(path);
    return &doc;
}

void CMarquenApp::OnFileNew()
{
    if (!m_pDocument)
        return;
    if (!m_pDocument->SaveModified())
        return;
    m_pDocument->SetTitle(doc_strings::kDefaultTitle);
    m_pDocument->OnNewDocument();
}

bool CMarquenApp::OnCommand(int nCommandId)
{
    switch (nCommandId) {
    case ID_FILE_NEW:
        OnFileNew();
        return true;
    case ID_APP_ABOUT:
        OnAppAbout();
        return true;
    default:
        return false;
    }
}

void CMarquenApp::UpdateOutputPicture()
{
    if (!m_pDocument)
        return;
    m_pDocument->SetModifiedFlag(true);
    m_pDocument->UpdateAllViews(HINT_OUTPUT_PICTURE);
}

bool CMarquenApp::IsInputLoaded() const
{
    return m_pDocument && m_pDocument->GetInput() != nullptr;
}
