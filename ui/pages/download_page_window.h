#pragma once
// CDownloadPageWindow: the "Download" tab page's window. It builds the
// page's controls, owns the page's logic (CDownloadPage) and serves it as
// IDownloadPageControls with the real widgets, its timer and the wait cursor,
// and runs the memory-size dialog for it. User-interface thread only.
#include "download_page.h"
#include "memory_size_dialog.h"

#include <wx/panel.h>
#include <wx/timer.h>

#include <functional>
#include <map>
#include <memory>

class CMarquenApp;
class wxChoice;
class wxGauge;

// The page's frames and the labels of its memory lines.
inline constexpr int IDC_DOWNLOAD_LEFT_FRAME = 1065;
inline constexpr int IDC_DOWNLOAD_RIGHT_FRAME = 1066;
inline constexpr int IDC_TOTAL_MEMORY_LABEL = 1058;
inline constexpr int IDC_LOGO_AREA_LABEL = 1057;
inline constexpr int IDC_FREE_MEMORY_LABEL = 1059;
inline constexpr int IDC_TOTAL_MEMORY_UNIT = 1062;
inline constexpr int IDC_LOGO_AREA_UNIT = 1063;
inline constexpr int IDC_FREE_MEMORY_UNIT = 1064;

class CDownloadPageWindow : public wxPanel, public IDownloadPageControls {
public:
    /// Builds the controls, then runs the page's creation (which reads the
    /// printer's memory figures). app must outlive the window.
    CDownloadPageWindow(wxWindow* parent, CMarquenApp& app);
    ~CDownloadPageWindow() override;

    CDownloadPage& Logic() { return *m_logic; }
    /// The target of the event sink's three messages.
    ICommMessageTarget& CommMessages() { return m_messages; }
    /// How the page enables and disables the "Communication" page.
    void SetCommunicationPageEnabler(std::function<void(bool)> enabler) { m_enableCommunication = std::move(enabler); }

    /// "Version" changed: the Upload button and the total-memory and
    /// logo-area lines are shown for a nonzero "Version" only; shown, the
    /// figures are read again when the port is open.
    void ApplyVersion();
    /// Whether a download, an upload or an erase is running.
    bool IsTransferBusy();
    /// Ends a running transfer at once: the object's writer stops, the upload
    /// buffer is released, the page returns to idle. Nothing is sent to the
    /// printer.
    void AbortTransfer();

    // --- IDownloadPageControls ------------------------------------------------------
    void EnableControl(int nId, bool bEnable) override;
    std::string GetControlText(int nId) override;
    void SetControlText(int nId, const std::string& text) override;
    void ShowControl(int nId, bool bShow) override;
    void AddLogoNumber(const std::string& text) override;
    int GetLogoSelection() override;
    void SetFocusTo(int nId) override;
    void CheckRadioButton(int nFirst, int nLast, int nCheck) override;
    bool IsButtonChecked(int nId) override;
    void SetProgressPos(int nPos) override;
    int GetProgressPos() override;
    void SetTimer(unsigned nId, unsigned nElapse) override;
    void KillTimer(unsigned nId) override;
    void EnableCommunicationPage(bool bEnable) override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;

private:
    void CreateControls();
    void ShowMemoryFigures(bool bShow);
    void OnPageSize(wxSizeEvent& event);

    CMarquenApp& m_app;
    CMemorySizeDlgWindowRunner m_memoryDialog;
    wxChoice* m_logoNumbers = nullptr;
    wxGauge* m_progress = nullptr;
    std::map<unsigned, std::unique_ptr<wxTimer>> m_timers;
    std::function<void(bool)> m_enableCommunication;
    int m_nWaitCursors = 0;
    std::unique_ptr<CDownloadPage> m_logic;
    CDownloadPageMessages m_messages;
};
