#include "main_frame.h"

#include "accessibility.h"
#include "command_ids.h"
#include "command_table.h"
#include "desktop_app.h"
#include "marquen_view.h"
#include "small_dialogs.h"
#include "view_logic.h"

#include <wx/accel.h>
#include <wx/confbase.h>
#include <wx/filedlg.h>
#include <wx/filehistory.h>
#include <wx/filename.h>
#include <wx/iconbndl.h>
#include <wx/image.h>
#include <wx/imagpng.h>
#include <wx/log.h>
#include <wx/menu.h>
#include <wx/mimetype.h>
#include <wx/statusbr.h>
#include <wx/utils.h>

#include <filesystem>
#include <system_error>

using command_table::ToWxId;

std::string CMainFrame::s_strRememberedPath;

namespace {

// Pane texts of the status bar: each indicator's string is its first text
// and sets its width.
struct Pane {
    int indicatorId;
    const char* text;
};
constexpr Pane kPanes[] = {
    {ID_SEPARATOR, ""},
    {ID_INDICATOR_SIZE, "width:     - height:            "},
    {ID_INDICATOR_BYTES, "             bytes"},
    {ID_INDICATOR_CAPS, "MAJ"},
    {ID_INDICATOR_NUM, "NUM"},
    {ID_INDICATOR_SCRL, "DEF"},
};
constexpr int kPaneCount = static_cast<int>(std::size(kPanes));
// The framework's status-bar id, 59393, is beyond the toolkit's id range
// (below 0x7FFF); the bar takes this one instead.
constexpr int kStatusBarId = 59393 - 0x7000;

// Position of the first recent-file entry in the File menu.
constexpr size_t kRecentFilePosition = 4;

// Settings key of the page offered for a PDF reader.
constexpr const char* kReaderSiteKey = "Acrobat Web site";
constexpr const char* kManualName = "user manual.pdf";

// The program's icon in the sizes the desktop picks from, in the icon theme's
// folder beside the folder of the running program file: /usr/share/icons for
// /usr/bin/marquen, and the build's share/icons (copied there by the build)
// for build/bin/marquen.
constexpr int kIconSizes[] = {16, 24, 32, 48, 64, 128, 256};

wxIconBundle ProgramIcons()
{
    wxIconBundle icons;
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error || !program.has_parent_path())
        return icons;
    const std::string programDir = program.parent_path().string();
    if (wxImage::FindHandler(wxBITMAP_TYPE_PNG) == nullptr)
        wxImage::AddHandler(new wxPNGHandler);
    // A missing or damaged icon leaves the toolkit's own: no message for it.
    wxLogNull quiet;
    for (int size : kIconSizes) {
        const wxString path = wxString::FromUTF8(programDir) +
                              wxString::Format("/../share/icons/hicolor/%dx%d/apps/marquen.png", size, size);
        wxImage image;
        if (!wxFileName::FileExists(path) || !image.LoadFile(path, wxBITMAP_TYPE_PNG))
            continue;
        wxIcon icon;
        icon.CopyFromBitmap(wxBitmap(image));
        icons.AddIcon(icon);
    }
    return icons;
}

}  // namespace

CMainFrame::CMainFrame(CDesktopApp& app)
    : wxFrame(nullptr, wxID_ANY, "Marquen", wxDefaultPosition, wxSize(kFrameInitialSize, kFrameInitialSize)),
      m_app(app),
      m_lockTimer(this)
{
    CreateMenus();
    CreateStatusPanes();
    // The message pane shows the application's status line, never a menu
    // item's help text.
    SetStatusBarPane(-1);
    SetMinSize(wxSize(kFrameMinWidth, kFrameMinHeight));
    SetSize(wxSize(kFrameInitialSize, kFrameInitialSize));
    const wxIconBundle icons = ProgramIcons();
    if (!icons.IsEmpty())
        SetIcons(icons);

    m_pView = new CMarquenView(this, m_app);

    Bind(wxEVT_MENU, &CMainFrame::OnMenu, this);
    Bind(wxEVT_UPDATE_UI, &CMainFrame::OnUpdateUI, this);
    Bind(wxEVT_CLOSE_WINDOW, &CMainFrame::OnClose, this);
    Bind(wxEVT_CHAR_HOOK, &CMainFrame::OnCharHook, this);
    Bind(wxEVT_DROP_FILES, &CMainFrame::OnDropFiles, this);
    Bind(wxEVT_TIMER, [this](wxTimerEvent&) { UpdateLockIndicators(); });
    m_lockTimer.Start(500);
    UpdateLockIndicators();
}

CMainFrame::~CMainFrame()
{
    m_lockTimer.Stop();
    m_app.OnFrameDestroyed();
}

void CMainFrame::CreateMenus()
{
    m_pFileMenu = new wxMenu;
    m_pFileMenu->Append(ToWxId(ID_FILE_OPEN), "&Open...\tCtrl+O");
    m_pFileMenu->Append(ToWxId(ID_FILE_SAVE), "&Save\tCtrl+S");
    m_pFileMenu->Append(ToWxId(ID_FILE_SAVE_AS), "S&ave as...");
    m_pFileMenu->AppendSeparator();
    m_pFileMenu->AppendSeparator();
    m_pFileMenu->Append(ToWxId(ID_APP_EXIT), "&Quit");

    auto* window = new wxMenu;
    window->AppendCheckItem(ToWxId(ID_WINDOW_INPUT), "Input picture");
    window->AppendCheckItem(ToWxId(ID_WINDOW_OUTPUT), "Output picture");
    window->Check(ToWxId(ID_WINDOW_INPUT), true);

    auto* help = new wxMenu;
    help->Append(ToWxId(ID_HELP_MANUAL), "&Help");
    help->Append(ToWxId(ID_APP_ABOUT), "&About Marquen...");

    auto* bar = new wxMenuBar;
    bar->Append(m_pFileMenu, "&File");
    bar->Append(window, "Window");
    bar->Append(help, "&?");
    SetMenuBar(bar);

    // Only the keys that reach a handler are bound: the editing keys (Ctrl+C,
    // Ctrl+V, ...) stay with the edit fields, which would lose them to
    // commands that nothing handles.
    wxAcceleratorEntry keys[] = {
        {wxACCEL_CTRL, 'N', ToWxId(ID_FILE_NEW)},
        {wxACCEL_CTRL, 'O', ToWxId(ID_FILE_OPEN)},
        {wxACCEL_CTRL, 'S', ToWxId(ID_FILE_SAVE)},
    };
    SetAcceleratorTable(wxAcceleratorTable(static_cast<int>(std::size(keys)), keys));
}

void CMainFrame::CreateStatusPanes()
{
    wxStatusBar* bar = CreateStatusBar(kPaneCount, wxSTB_DEFAULT_STYLE, kStatusBarId);
    int widths[kPaneCount];
    for (int i = 0; i < kPaneCount; ++i) {
        widths[i] = i == 0 ? -1 : bar->GetTextExtent(kPanes[i].text).x + 12;
        bar->SetStatusText(kPanes[i].text, i);
    }
    bar->SetStatusWidths(kPaneCount, widths);
    RefreshStatusAccessibleName();
}

void CMainFrame::SetPaneText(int nIndicatorId, const wxString& text)
{
    wxStatusBar* bar = GetStatusBar();
    if (bar == nullptr)
        return;
    for (int i = 0; i < kPaneCount; ++i) {
        if (kPanes[i].indicatorId == nIndicatorId && nIndicatorId != ID_SEPARATOR) {
            if (bar->GetStatusText(i) != text) {
                bar->SetStatusText(text, i);
                RefreshStatusAccessibleName();
            }
            return;
        }
    }
}

void CMainFrame::ShowStatusLine(const wxString& text)
{
    if (wxStatusBar* bar = GetStatusBar()) {
        bar->SetStatusText(text, 0);
        RefreshStatusAccessibleName();
    }
}

void CMainFrame::UpdateLockIndicators()
{
    // The framework's lock indicators: the text while the lock is on, blank
    // while it is off.
    struct Lock {
        int indicatorId;
        wxKeyCode key;
        const char* text;
    };
    const Lock locks[] = {{ID_INDICATOR_CAPS, WXK_CAPITAL, "MAJ"},
                          {ID_INDICATOR_NUM, WXK_NUMLOCK, "NUM"},
                          {ID_INDICATOR_SCRL, WXK_SCROLL, "DEF"}};
    for (const Lock& lock : locks)
        SetPaneText(lock.indicatorId, wxGetKeyState(lock.key) ? lock.text : "");
}

void CMainFrame::RefreshStatusAccessibleName()
{
    wxStatusBar* bar = GetStatusBar();
    if (bar == nullptr)
        return;
    std::vector<std::string> panes;
    for (int i = 0; i < bar->GetFieldsCount(); ++i)
        panes.emplace_back(bar->GetStatusText(i).utf8_str());
    wxString name = wxString::FromUTF8(view_logic::StatusBarAccessibleText(panes));
    if (name == m_strStatusAccessibleName)
        return;
    m_strStatusAccessibleName = name;
    SetAccessibleName(bar, name);
}

wxString CMainFrame::StatusBarAccessibleName() const
{
    return m_strStatusAccessibleName;
}

void CMainFrame::RefreshRecentFiles(const wxFileHistory& history)
{
    // The entries sit between the two separators; "Recent file", greyed, holds
    // the place while the list is empty.
    while (m_pFileMenu->GetMenuItemCount() > kRecentFilePosition + 2)
        m_pFileMenu->Destroy(m_pFileMenu->FindItemByPosition(kRecentFilePosition));
    const size_t count = history.GetCount();
    if (count == 0) {
        wxMenuItem* item =
            m_pFileMenu->Insert(kRecentFilePosition, command_table::RecentFileWxId(0), "Recent file");
        item->Enable(false);
        return;
    }
    for (size_t i = 0; i < count; ++i) {
        wxString file = history.GetHistoryFile(i);
        file.Replace("&", "&&");
        wxString label = wxString::Format("&%zu %s", i + 1, file);
        m_pFileMenu->Insert(kRecentFilePosition + i, command_table::RecentFileWxId(static_cast<int>(i)), label);
    }
}

void CMainFrame::OnMenu(wxCommandEvent& event)
{
    int systemId = command_table::ToSystemId(event.GetId());
    if (systemId == 0) {
        event.Skip();
        return;
    }
    RunCommand(systemId);
}

void CMainFrame::RunCommand(int nSystemId)
{
    if (nSystemId >= ID_FILE_MRU_FIRST && nSystemId < ID_FILE_MRU_FIRST + app_settings::kRecentFileCount) {
        m_app.OpenRecentFile(nSystemId - ID_FILE_MRU_FIRST);
        return;
    }
    switch (nSystemId) {
    case ID_FILE_OPEN:
        OnFileOpen();
        return;
    case ID_HELP_MANUAL:
        OnHelp();
        return;
    case ID_APP_EXIT:
        Close();
        return;
    case ID_BACKGROUND_COLOR:
        m_pView->OnBackgroundColor();
        return;
    default:
        break;
    }
    if (CMarquenDoc* doc = m_app.GetDocument()) {
        if (doc->OnCommand(nSystemId))
            return;
    }
    m_app.OnCommand(nSystemId);
}

void CMainFrame::OnUpdateUI(wxUpdateUIEvent& event)
{
    const int systemId = command_table::ToSystemId(event.GetId());
    CMarquenDoc* doc = m_app.GetDocument();
    switch (systemId) {
    case ID_WINDOW_INPUT:
    case ID_WINDOW_OUTPUT:
        event.Enable(m_app.IsInputLoaded());
        if (doc != nullptr)
            event.Check(doc->IsChecked(systemId));
        return;
    case ID_FILE_SAVE:
    case ID_FILE_SAVE_AS:
        event.Enable(doc != nullptr && doc->OnUpdateCommand(systemId).value_or(false));
        return;
    default:
        event.Skip();
    }
}

void CMainFrame::OnFileOpen()
{
    const std::string initial = view_logic::InitialOpenFileName(s_strRememberedPath);
    std::optional<std::string> chosen;
    if (m_openDialogOverride) {
        chosen = m_openDialogOverride(initial);
    } else {
        const wxString filters =
            " All Files (*.*)|*|"
            " Bitmap Files (*.bmp)|*.bmp|"
            " Graphics Files (*.gfx)|*.gfx|"
            " Logo Files (*.log)|*.log";
        wxFileName start(wxString::FromUTF8(initial));
        wxFileDialog dialog(this, wxString(), start.GetPath(), start.GetFullName(), filters,
                            wxFD_OPEN | wxFD_FILE_MUST_EXIST);
        dialog.SetFilterIndex(0);
        if (dialog.ShowModal() == wxID_OK)
            chosen = std::string(dialog.GetPath().utf8_str());
    }
    if (!chosen)
        return;
    m_strLastPath = *chosen;
    s_strRememberedPath = *chosen;
    m_app.OpenDocumentFile(*chosen);
}

wxString CMainFrame::PdfOpenCommand(const wxString& path)
{
    if (m_pdfOpenCommandOverride)
        return m_pdfOpenCommandOverride(path);
    std::unique_ptr<wxFileType> type(wxTheMimeTypesManager->GetFileTypeFromExtension("pdf"));
    if (!type)
        return wxString();
    wxString command;
    if (!type->GetOpenCommand(&command, wxFileType::MessageParameters(path, wxString())))
        return wxString();
    return command;
}

void CMainFrame::OnHelp()
{
    const wxString folder = wxString::FromUTF8(m_app.m_strProgramDir);
    const wxString manual = wxFileName(folder, kManualName).GetFullPath();
    wxString command = PdfOpenCommand(manual);
    if (command.empty()) {
        wxConfigBase& profile = m_app.GetProfile();
        wxString site = profile.Read(wxString("/") + app_settings::kSection + "/" + kReaderSiteKey,
                                     wxString(kDefaultReaderSite));
        int answer;
        if (m_helpReaderOverride) {
            answer = m_helpReaderOverride();
        } else {
            CHelpReaderDlg dialog(this, site);
            answer = dialog.ShowModal();
        }
        if (answer != wxID_OK)
            return;
        command = PdfOpenCommand(manual);
        if (command.empty())
            return;
    }
    wxExecuteEnv environment;
    environment.cwd = folder;
    wxExecute(command, wxEXEC_ASYNC, nullptr, &environment);
}

void CMainFrame::UpdateAllViews(long lHint)
{
    if (m_pView != nullptr)
        m_pView->OnUpdate(lHint);
}

void CMainFrame::SendOutputSaved(const std::string& path)
{
    if (m_pView != nullptr)
        m_pView->Pages().OnOutputSaved(path);
}

std::optional<std::string> CMainFrame::RunSaveDialog(const SaveDialogRequest& request)
{
    if (m_saveDialogOverride)
        return m_saveDialogOverride(request);
    CSaveDlg dialog(this, request);
    return dialog.Run();
}

void CMainFrame::OnCharHook(wxKeyEvent& event)
{
    if (m_pView != nullptr && m_pView->FilterKey(event))
        return;
    event.Skip();
}

void CMainFrame::OnDropFiles(wxDropFilesEvent& event)
{
    // One document: the first file dropped is opened, like one chosen in the
    // open dialog.
    if (event.GetNumberOfFiles() < 1)
        return;
    const std::string path(event.GetFiles()[0].utf8_str());
    m_app.OpenDocumentFile(path);
}

void CMainFrame::OnClose(wxCloseEvent& event)
{
    (void)event;
    // A transfer in progress ends here: the object's writer must not read a
    // buffer the pages are about to release.
    if (m_pView != nullptr && m_pView->Pages().IsTransferBusy())
        m_pView->Pages().AbortTransfer();
    m_lockTimer.Stop();
    if (CMarquenDoc* doc = m_app.GetDocument())
        doc->AttachWindows(nullptr);
    m_app.SetCommView(nullptr);
    Destroy();
}
