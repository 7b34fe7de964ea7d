#include "memory_size_dialog.h"

#include "accessibility.h"

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

CMemorySizeDlgWindow::CMemorySizeDlgWindow(wxWindow* parent, CMemorySizeDlg& dlg)
    : wxDialog(parent, wxID_ANY, "Marquen"), m_dlg(dlg)
{
    auto* top = new wxBoxSizer(wxVERTICAL);
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    row->Add(new wxStaticText(this, wxID_ANY, "New memory size for logo storage :"), 0,
             wxALIGN_CENTER_VERTICAL | wxRIGHT, 8);
    m_sizes = new wxChoice(this, IDC_MEMORY_SIZE, wxDefaultPosition, wxSize(90, -1));
    SetAccessibleName(m_sizes, "New memory size for logo storage");
    row->Add(m_sizes, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 8);
    row->Add(new wxStaticText(this, wxID_ANY, "kbytes"), 0, wxALIGN_CENTER_VERTICAL);
    top->Add(row, 0, wxALL, 12);
    top->Add(new wxStaticText(this, wxID_ANY, "(check user's manual for available values)."), 0,
             wxLEFT | wxRIGHT | wxBOTTOM, 12);

    // The buttons end the dialog through its logic: OK keeps it open while
    // no size is chosen.
    auto* buttons = new wxStdDialogButtonSizer();
    auto* ok = new wxButton(this, wxID_OK, "OK");
    auto* cancel = new wxButton(this, wxID_CANCEL, "Cancel");
    buttons->AddButton(ok);
    buttons->AddButton(cancel);
    buttons->Realize();
    top->Add(buttons, 0, wxALIGN_RIGHT | wxLEFT | wxRIGHT | wxBOTTOM, 12);
    SetSizerAndFit(top);
    ok->SetDefault();
    ok->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { m_dlg.OnOK(*this); });
    cancel->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { m_dlg.OnCancel(*this); });
    Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) { m_dlg.OnCancel(*this); });
    CentreOnParent();
    m_dlg.OnInitDialog(*this);
}

int CMemorySizeDlgWindow::Run()
{
    return ShowModal() == IDOK ? IDOK : IDCANCEL;
}

void CMemorySizeDlgWindow::AddSize(const std::string& text)
{
    m_sizes->Append(wxString::FromUTF8(text));
}

int CMemorySizeDlgWindow::GetSizeSelection()
{
    return m_sizes->GetSelection();
}

std::string CMemorySizeDlgWindow::GetSizeText(int nIndex)
{
    if (nIndex < 0 || static_cast<unsigned>(nIndex) >= m_sizes->GetCount())
        return {};
    return m_sizes->GetString(nIndex).utf8_string();
}

void CMemorySizeDlgWindow::FocusSizeList()
{
    m_sizes->SetFocus();
}

void CMemorySizeDlgWindow::EndDialog(int nResult)
{
    if (IsModal())
        EndModal(nResult);
    else
        SetReturnCode(nResult);
}

int CMemorySizeDlgWindowRunner::DoModal(CMemorySizeDlg& dlg)
{
    CMemorySizeDlgWindow window(m_parent, dlg);
    return window.Run();
}
