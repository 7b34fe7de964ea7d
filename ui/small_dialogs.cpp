#include "small_dialogs.h"

#include "accessibility.h"
#include "diagnostics_window.h"

#include <wx/artprov.h>
#include <wx/button.h>
#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

CHyperlink::CHyperlink(wxWindow* parent, wxWindowID id, const wxString& url)
    : wxGenericHyperlinkCtrl(parent, id, url, url, wxDefaultPosition, wxDefaultSize,
                             wxHL_CONTEXTMENU | wxHL_ALIGN_LEFT | wxNO_BORDER)
{
    const wxColour darkBlue(0x00, 0x00, 0xC0);
    SetNormalColour(darkBlue);
    SetVisitedColour(darkBlue);
    SetHoverColour(darkBlue);
    wxFont font = GetFont();
    font.SetUnderlined(false);
    SetFont(font);
    SetCursor(wxCursor(wxCURSOR_HAND));
    Bind(wxEVT_ENTER_WINDOW, [this](wxMouseEvent& event) {
        SetHover(true);
        event.Skip();
    });
    Bind(wxEVT_LEAVE_WINDOW, [this](wxMouseEvent& event) {
        SetHover(false);
        event.Skip();
    });
}

void CHyperlink::SetHover(bool bHover)
{
    wxFont font = GetFont();
    if (font.GetUnderlined() == bHover)
        return;
    font.SetUnderlined(bHover);
    SetFont(font);
    Refresh();
}

CHelpReaderDlg::CHelpReaderDlg(wxWindow* parent, const wxString& url)
    : wxDialog(parent, wxID_ANY, "Marquen"), m_strUrl(url)
{
    auto* top = new wxBoxSizer(wxHORIZONTAL);
    top->Add(new wxStaticBitmap(this, wxID_ANY, wxArtProvider::GetBitmap(wxART_QUESTION, wxART_MESSAGE_BOX)), 0,
             wxALL, 10);
    auto* texts = new wxBoxSizer(wxVERTICAL);
    texts->Add(new wxStaticText(this, wxID_ANY,
                                "No application is associated to open the help file. You can download Acrobat "
                                "Reader with this link below :"),
               0, wxBOTTOM, 8);
    m_pLink = new CHyperlink(this, IDC_HELP_LINK, m_strUrl);
    texts->Add(m_pLink, 0, wxBOTTOM, 4);
    top->Add(texts, 1, wxALL, 10);
    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    buttons->AddStretchSpacer();
    auto* ok = new wxButton(this, wxID_OK, "Continue");
    buttons->Add(ok, 0, wxRIGHT, 8);
    buttons->Add(new wxButton(this, wxID_CANCEL, "Abort"), 0);
    auto* all = new wxBoxSizer(wxVERTICAL);
    all->Add(top, 1, wxEXPAND);
    all->Add(buttons, 0, wxEXPAND | wxALL, 10);
    SetSizerAndFit(all);
    ok->SetDefault();
    CentreOnParent();
}

CAboutDlg::CAboutDlg(wxWindow* parent) : wxDialog(parent, wxID_ANY, "About Marquen")
{
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    row->Add(new wxStaticBitmap(this, wxID_ANY, wxArtProvider::GetBitmap(wxART_INFORMATION, wxART_MESSAGE_BOX)), 0,
             wxALL, 12);
    row->Add(new wxStaticText(this, wxID_ANY, "Marquen version 1.0"), 0, wxALIGN_CENTER_VERTICAL | wxALL, 12);
    auto* all = new wxBoxSizer(wxVERTICAL);
    all->Add(row, 1, wxEXPAND);
    auto* ok = new wxButton(this, wxID_OK, "OK");
    // What the libraries reported (a port that failed, a setting ignored),
    // for the user or for a report.
    auto* diagnostics = new wxButton(this, IDC_SHOW_DIAGNOSTICS, "Show diagnostics...");
    diagnostics->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
        CDiagnosticsDlg dialog(this);
        dialog.ShowModal();
    });
    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    buttons->Add(diagnostics, 0, wxRIGHT, 8);
    buttons->Add(ok);
    all->Add(buttons, 0, wxALIGN_RIGHT | wxALL, 10);
    SetSizerAndFit(all);
    ok->SetDefault();
    CentreOnParent();
}

CSaveDlg::CSaveDlg(wxWindow* parent, const SaveDialogRequest& request) : m_pParent(parent), m_request(request) {}

wxString CSaveDlg::Wildcard(const SaveDialogRequest& request)
{
    // The filter is a description without a pattern: every file is listed, and
    // with one entry only the type list offers no other choice.
    return wxString::FromUTF8(request.filterText) + "|*";
}

std::optional<std::string> CSaveDlg::Run()
{
    long style = wxFD_SAVE;
    if (m_request.overwritePrompt)
        style |= wxFD_OVERWRITE_PROMPT;
    wxFileDialog dialog(m_pParent, wxString(), wxString(), wxString::FromUTF8(m_request.initialFileName),
                        Wildcard(m_request), style);
    if (!m_request.initialFileName.empty()) {
        wxFileName suggested(wxString::FromUTF8(m_request.initialFileName));
        dialog.SetDirectory(suggested.GetPath());
        dialog.SetFilename(suggested.GetFullName());
    }
    for (;;) {
        if (dialog.ShowModal() != wxID_OK)
            return std::nullopt;
        const std::string typed(dialog.GetPath().utf8_str());
        std::string path = ApplyDefaultExtension(typed, m_request.defaultExtension);
        // The dialog asked about the name as typed; the name with the extension
        // added may be another existing file, which is not replaced unasked.
        if (path != typed && m_request.overwritePrompt && wxFileName::Exists(wxString::FromUTF8(path))) {
            wxMessageDialog question(m_pParent,
                                     wxString::FromUTF8(path) + " already exists.\nDo you want to replace it?",
                                     "Save As", wxYES_NO | wxNO_DEFAULT | wxICON_WARNING);
            if (question.ShowModal() != wxID_YES)
                continue;
        }
        return path;
    }
}
