#pragma once
// The application object with its windows: CMarquenApp's hooks bound to the
// main frame, the view, the wait dialog's helper process, the recent-file list
// and the toolkit's message boxes; and the hook of the Communication object's
// message queue into the toolkit's event loop.
#include "diagnostics_window.h"
#include "import_dialog.h"
#include "marquen_app.h"
#include "user_interface.h"

#include <wx/evtloopsrc.h>
#include <wx/filehistory.h>

#include <functional>
#include <memory>
#include <string>

class CMainFrame;

/// Message boxes as the toolkit's modal message dialogs, over the main frame
/// when there is one.
class CWxMessageBox : public IMessageBox {
public:
    MessageAnswer ShowMessage(const std::string& text, MessageButtons buttons, MessageIcon icon) override;
    /// Runs before each box: the application ends its wait dialog there, so
    /// that no box opens behind it during the start-up.
    std::function<void()> m_beforeShow;
};

/// The Communication object's events come from hidden message windows owned by
/// this thread: their queue's wake-up descriptor is watched by the toolkit's
/// event loop (and by every modal loop, since they share the main context),
/// and each wake-up handles what is pending, in slices of about 8 ms so that
/// the loop still draws and takes input between them. Attach once a loop runs.
class CMessageQueueSource {
public:
    ~CMessageQueueSource() { Detach(); }
    /// Hooks the descriptor into the active event loop; false when no loop is
    /// active yet or the toolkit refuses it. Idempotent.
    bool Attach();
    void Detach();
    bool IsAttached() const { return m_pSource != nullptr; }

private:
    wxEventLoopSource* m_pSource = nullptr;
    std::unique_ptr<wxEventLoopSourceHandler> m_pHandler;
};

class CDesktopApp : public CMarquenApp {
public:
    explicit CDesktopApp(IMessageBox& messageBox);
    ~CDesktopApp() override;

    /// The program the wait dialog's helper runs (this program's file by
    /// default); empty: no wait dialog.
    void SetWaitDialogProgram(std::string program) { m_strWaitDialogProgram = std::move(program); }
    CMainFrame* GetFrame() { return m_pFrame; }
    /// The frame is going away: the document and the sink forget it.
    void OnFrameDestroyed();
    const wxFileHistory& History() const { return m_history; }
    /// Opens recent-file entry n (0 to 3); an entry that no longer opens is
    /// removed from the list.
    void OpenRecentFile(int n);
    /// Runs the About box.
    void ShowAbout() { OnAppAbout(); }
    /// The import dialog's side of the document (tests drive its dialog).
    CWxImportQuestion& ImportQuestion() { return m_importQuestion; }
    /// Start-up time measurement: set by ShowMainWindow.
    bool IsMainWindowShown() const { return m_bShown; }

protected:
    std::unique_ptr<IWaitThread> CreateWaitThread() override;
    void LoadStdProfileSettings(wxConfigBase& profile, int nRecentFiles) override;
    bool CreateMainFrame(CMarquenDoc& doc) override;
    void ShowMainWindow() override;
    void AddToRecentFileList(const std::string& path) override;
    void ShowStatusText(const std::string& text) override;
    void OnAppAbout() override;
    int FrameworkExit() override;

private:
    void SaveHistory();

    std::string m_strWaitDialogProgram;
    wxFileHistory m_history;
    // The libraries' diagnostics reach the diagnostics window while the
    // program runs.
    CDiagnosticsHandler m_diagnostics;
    CMainFrame* m_pFrame = nullptr;
    bool m_bShown = false;
    CWxImportQuestion m_importQuestion;
    CProfileImportStore m_importStore;
};
