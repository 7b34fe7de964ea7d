#pragma once
// The window of the memory-size dialog: the modal "Marquen" dialog in which
// the user picks the new size of the printer's logo area. Its behaviour is
// CMemorySizeDlg's; this class gives it its controls and runs it modally.
// User-interface thread only.
#include "memory_size_dlg.h"

#include <wx/dialog.h>

class wxChoice;

class CMemorySizeDlgWindow : public wxDialog, public IMemorySizeDlgControls {
public:
    /// Builds the controls and fills the size list through dlg.OnInitDialog.
    /// dlg must outlive the window.
    CMemorySizeDlgWindow(wxWindow* parent, CMemorySizeDlg& dlg);

    /// Runs the dialog; IDOK or IDCANCEL (also for Escape and the close box).
    int Run();

    // --- IMemorySizeDlgControls ---------------------------------------------------
    void AddSize(const std::string& text) override;
    int GetSizeSelection() override;
    std::string GetSizeText(int nIndex) override;
    void FocusSizeList() override;
    void EndDialog(int nResult) override;

private:
    CMemorySizeDlg& m_dlg;
    wxChoice* m_sizes = nullptr;
};

/// Runs CMemorySizeDlg as a window over parent.
class CMemorySizeDlgWindowRunner : public IMemorySizeDlgRunner {
public:
    explicit CMemorySizeDlgWindowRunner(wxWindow* parent) : m_parent(parent) {}
    int DoModal(CMemorySizeDlg& dlg) override;

private:
    wxWindow* m_parent;
};
