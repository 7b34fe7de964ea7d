#pragma once
// The window side of the "Download" page and of the memory-size dialog, as
// the page's logic sees it: enabled state, captions and field texts by
// control id, the logo number list, the print-size radio buttons, the
// progress bar, the page's timer, the "Communication" page's enabled state,
// keyboard focus and the wait cursor. The desktop binds these interfaces to
// its widgets; tests bind them to recording fakes and marquen-cli to the
// console. Every member is called on the user-interface thread only.
#include <string>

// Control ids of the "Download" page (dialog template 133).
inline constexpr int IDC_LOGO_NUMBER_LABEL = 1042;
inline constexpr int IDC_LOGO_NUMBER = 1043;  ///< drop-down list "0" to "255"
inline constexpr int IDC_ERASE = 1044;
inline constexpr int IDC_PRINT = 1045;
inline constexpr int IDC_X1H_X1W = 1046;
inline constexpr int IDC_X1H_X2W = 1047;
inline constexpr int IDC_X2H_X1W = 1048;
inline constexpr int IDC_X2H_X2W = 1049;
inline constexpr int IDC_SETUP = 1050;
inline constexpr int IDC_UPLOAD = 1051;
inline constexpr int IDC_REFRESH = 1052;
inline constexpr int IDC_DOWNLOAD = 1053;
inline constexpr int IDC_PROGRESS = 1055;      ///< range 0 to 100
inline constexpr int IDC_TOTAL_MEMORY = 1060;  ///< "Total memory size available", kbytes
inline constexpr int IDC_LOGO_AREA = 1061;     ///< "Memory size available for logo storage", kbytes
inline constexpr int IDC_FREE_MEMORY = 1068;   ///< "Memory size remained for logo storage", bytes
/// "No button" for SetTransferState: busy with every control disabled.
inline constexpr int IDC_NO_BUTTON = -1;

// Controls of the memory-size dialog (template 142).
inline constexpr int IDC_MEMORY_SIZE = 1067;  ///< drop-down list of sizes in kbytes

// End codes of a modal dialog.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

/// Timer of the page that watches an upload for silence.
inline constexpr unsigned kUploadWatchTimerId = 0;
inline constexpr unsigned kUploadWatchTimerMs = 5000;

class IDownloadPageControls {
public:
    virtual ~IDownloadPageControls() = default;

    virtual void EnableControl(int nId, bool bEnable) = 0;
    /// Caption of a button, or text of a field.
    virtual std::string GetControlText(int nId) = 0;
    virtual void SetControlText(int nId, const std::string& text) = 0;
    virtual void ShowControl(int nId, bool bShow) = 0;

    /// Appends an entry to the logo number list.
    virtual void AddLogoNumber(const std::string& text) = 0;
    /// Index of the selected logo number entry, or -1 when none is selected.
    virtual int GetLogoSelection() = 0;
    virtual void SetFocusTo(int nId) = 0;

    /// Checks nCheck and clears the other radio buttons from nFirst to nLast.
    virtual void CheckRadioButton(int nFirst, int nLast, int nCheck) = 0;
    virtual bool IsButtonChecked(int nId) = 0;

    /// Position of the progress bar, 0 to 100.
    virtual void SetProgressPos(int nPos) = 0;
    virtual int GetProgressPos() = 0;

    /// Starts, or restarts, the page's timer nId; the page's OnTimer(nId) runs
    /// on the user-interface thread every nElapse ms until KillTimer.
    virtual void SetTimer(unsigned nId, unsigned nElapse) = 0;
    virtual void KillTimer(unsigned nId) = 0;

    /// Enabled state of the view's third page ("Communication").
    virtual void EnableCommunicationPage(bool bEnable) = 0;

    /// The wait cursor, shown from Begin to End while a request waits for the
    /// printer's reply. Calls pair up and may nest: the cursor comes back with
    /// the last End.
    virtual void BeginWaitCursor() = 0;
    virtual void EndWaitCursor() = 0;
};

/// The memory-size dialog's controls, while the dialog runs.
class IMemorySizeDlgControls {
public:
    virtual ~IMemorySizeDlgControls() = default;

    /// Appends an entry to the size list.
    virtual void AddSize(const std::string& text) = 0;
    /// Index of the selected size entry, or -1 when none is selected.
    virtual int GetSizeSelection() = 0;
    /// Text of the entry at index.
    virtual std::string GetSizeText(int nIndex) = 0;
    virtual void FocusSizeList() = 0;
    /// Closes the dialog; DoModal returns nResult.
    virtual void EndDialog(int nResult) = 0;
};
