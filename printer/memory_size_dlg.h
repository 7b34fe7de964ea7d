#pragma once
// CMemorySizeDlg: the modal dialog (template 142, caption "Marquen") in which
// the user chooses the new size of the printer's logo area. Its controls are
// reached through IMemorySizeDlgControls; whoever runs it modally (the
// desktop's dialog, a test, marquen-cli) calls OnInitDialog once the controls
// exist and OnOK / OnCancel for the two buttons. User-interface thread only.
#include "download_page_controls.h"
#include "user_interface.h"

#include <vector>

class CMemorySizeDlg {
public:
    /// messageBox must outlive the dialog.
    explicit CMemorySizeDlg(IMessageBox& messageBox) : m_messageBox(messageBox) {}

    /// Fills the size list with the sizes offered; no entry is selected.
    void OnInitDialog(IMemorySizeDlgControls& controls);
    /// With no entry selected: "Please select one memory size.", focus on the
    /// list, the dialog stays open. Otherwise m_nSize = the selected size and
    /// the dialog ends with IDOK.
    void OnOK(IMemorySizeDlgControls& controls);
    /// Ends with IDCANCEL; m_nSize is left as it was.
    void OnCancel(IMemorySizeDlgControls& controls) { controls.EndDialog(IDCANCEL); }

    /// 0, 64, 128, ... up to nMaxSize and never past 1280 kbytes; none for a
    /// negative nMaxSize.
    static std::vector<int> SizesOffered(int nMaxSize);

    int m_nSize = 0;     ///< the size chosen, kbytes
    int m_nMaxSize = 0;  ///< the largest size offered, kbytes

private:
    IMessageBox& m_messageBox;
};

/// Runs a memory-size dialog modally: creates its window, calls OnInitDialog,
/// routes OK and Cancel to the dialog until it ends, and returns its end code
/// (IDOK or IDCANCEL; a dialog closed by other means answers IDCANCEL).
class IMemorySizeDlgRunner {
public:
    virtual ~IMemorySizeDlgRunner() = default;
    virtual int DoModal(CMemorySizeDlg& dlg) = 0;
};
