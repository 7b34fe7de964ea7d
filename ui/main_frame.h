#pragma once
// CMainFrame: the program's one top-level window. It owns the menu bar, the
// accelerators and the status bar, shows the file-open dialog, opens the user
// manual, and shows the application's status line in the message pane. The
// view fills its client area. It is also the document's link to the windows:
// view updates, the saved-path broadcast and the Save As dialog.
// Everything runs on the user-interface thread.
#include "document_views.h"

#include <wx/frame.h>
#include <wx/timer.h>

#include <functional>
#include <optional>
#include <string>

class CDesktopApp;
class CMarquenView;
class wxFileHistory;

/// Status-bar indicator ids, pane by pane (pane 0 is the message pane).
inline constexpr int ID_SEPARATOR = 0;
inline constexpr int ID_INDICATOR_SIZE = 59144;
inline constexpr int ID_INDICATOR_BYTES = 59143;
inline constexpr int ID_INDICATOR_CAPS = 59137;
inline constexpr int ID_INDICATOR_NUM = 59138;
inline constexpr int ID_INDICATOR_SCRL = 59139;

/// Smallest and first size of the frame.
inline constexpr int kFrameMinWidth = 600;
inline constexpr int kFrameMinHeight = 250;
inline constexpr int kFrameInitialSize = 600;

class CMainFrame : public wxFrame, public IDocumentWindows {
public:
    explicit CMainFrame(CDesktopApp& app);
    ~CMainFrame() override;

    CMarquenView* GetView() { return m_pView; }
    /// Sets the text of the pane with that indicator id and repaints it;
    /// nothing when no pane has that id.
    void SetPaneText(int nIndicatorId, const wxString& text);
    /// The application's status line, in the message pane.
    void ShowStatusLine(const wxString& text);
    /// Rebuilds the recent-file entries of the File menu from history.
    void RefreshRecentFiles(const wxFileHistory& history);
    /// The status bar's accessible name as set last.
    wxString StatusBarAccessibleName() const;

    /// File > Open: the dialog, then the document.
    void OnFileOpen();
    /// ? > Help: the user manual, or CHelpReaderDlg when no program opens it.
    void OnHelp();
    /// Runs a menu or accelerator command given by its program id.
    void RunCommand(int nSystemId);

    // --- IDocumentWindows ------------------------------------------------------
    void UpdateAllViews(long lHint) override;
    void SendOutputSaved(const std::string& path) override;
    std::optional<std::string> RunSaveDialog(const SaveDialogRequest& request) override;

    /// The path chosen last in the open dialog.
    std::string m_strLastPath;
    /// The path the next open dialog's initial name is made from, shared by
    /// every open dialog of the run.
    static std::string s_strRememberedPath;

    /// Stand-ins for the modal file dialogs, for tests that drive the frame:
    /// given the initial name (or the Save As request), the chosen path or
    /// nothing for Cancel. Unset: the real dialogs.
    std::function<std::optional<std::string>(const std::string&)> m_openDialogOverride;
    std::function<std::optional<std::string>(const SaveDialogRequest&)> m_saveDialogOverride;
    /// Stand-in for the lookup of the program that opens a PDF file: the
    /// command to run for path, empty when none. Unset: the desktop's lookup.
    std::function<wxString(const wxString&)> m_pdfOpenCommandOverride;
    /// Stand-in for CHelpReaderDlg in tests: returns the dialog's answer.
    std::function<int()> m_helpReaderOverride;

private:
    void CreateMenus();
    void CreateStatusPanes();
    void OnMenu(wxCommandEvent& event);
    void OnUpdateUI(wxUpdateUIEvent& event);
    void OnClose(wxCloseEvent& event);
    void OnCharHook(wxKeyEvent& event);
    void OnDropFiles(wxDropFilesEvent& event);
    void UpdateLockIndicators();
    void RefreshStatusAccessibleName();
    wxString PdfOpenCommand(const wxString& path);

    CDesktopApp& m_app;
    CMarquenView* m_pView = nullptr;
    wxMenu* m_pFileMenu = nullptr;
    wxTimer m_lockTimer;
    wxString m_strStatusAccessibleName;
};
