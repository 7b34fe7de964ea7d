#include "diagnostics_window.h"

#include "accessibility.h"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/clipbrd.h>
#include <wx/sizer.h>
#include <wx/textctrl.h>

#include <atomic>
#include <ctime>

namespace diagnostics = marquen::diagnostics;

namespace {

// One wake-up of the user-interface thread at a time: a burst of diagnostics
// is read there in one go.
std::atomic<bool> g_bWakePending{false};

void OnDiagnosticsReported()
{
    g_bWakePending.store(false);
    if (CDiagnosticsDlg* open = CDiagnosticsDlg::Open())
        open->AppendNew();
}

}  // namespace

std::string FormatDiagnostic(const diagnostics::Entry& entry)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(entry.time);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(entry.time.time_since_epoch()).count() % 1000;
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(millis < 0 ? millis + 1000 : millis));
    return std::string(stamp) + " " + diagnostics::LevelName(entry.level) + " " + entry.message;
}

CDiagnosticsHandler::CDiagnosticsHandler()
{
    diagnostics::SetHandler([](diagnostics::Level, std::string_view) {
        // Any thread: nothing of the windows is touched here. The log itself
        // holds the message; the user-interface thread reads it.
        if (g_bWakePending.exchange(true))
            return;
        if (wxAppConsole* app = wxAppConsole::GetInstance())
            app->CallAfter(&OnDiagnosticsReported);
        else
            g_bWakePending.store(false);
    });
}

CDiagnosticsHandler::~CDiagnosticsHandler()
{
    // Once this returns the handler runs no more; a wake-up already queued
    // finds no window, or one that reads the log.
    diagnostics::SetHandler({});
}

CDiagnosticsDlg* CDiagnosticsDlg::s_pOpen = nullptr;

CDiagnosticsDlg::CDiagnosticsDlg(wxWindow* parent)
    : wxDialog(parent, wxID_ANY, "Diagnostics", wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER)
{
    m_pText = new wxTextCtrl(this, IDC_DIAGNOSTICS_TEXT, wxEmptyString, wxDefaultPosition, wxSize(640, 300),
                             wxTE_MULTILINE | wxTE_READONLY | wxTE_DONTWRAP | wxHSCROLL);
    SetAccessibleName(m_pText, "Diagnostics");
    auto* copy = new wxButton(this, IDC_DIAGNOSTICS_COPY, "&Copy");
    auto* close = new wxButton(this, wxID_CLOSE, "Close");
    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    buttons->Add(copy, 0, wxRIGHT, 8);
    buttons->Add(close);
    auto* all = new wxBoxSizer(wxVERTICAL);
    all->Add(m_pText, 1, wxEXPAND | wxALL, 10);
    all->Add(buttons, 0, wxALIGN_RIGHT | wxLEFT | wxRIGHT | wxBOTTOM, 10);
    SetSizerAndFit(all);
    SetEscapeId(wxID_CLOSE);
    close->SetDefault();
    copy->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { CopyToClipboard(); });
    close->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
        if (IsModal())
            EndModal(wxID_CLOSE);
        else
            Destroy();
    });
    s_pOpen = this;
    AppendNew();
    if (m_nLastSequence == 0)
        m_pText->ChangeValue("No diagnostics have been reported.\n");
    CentreOnParent();
}

CDiagnosticsDlg::~CDiagnosticsDlg()
{
    if (s_pOpen == this)
        s_pOpen = nullptr;
}

void CDiagnosticsDlg::AppendNew()
{
    const std::vector<diagnostics::Entry> entries = diagnostics::Recent(m_nLastSequence);
    if (entries.empty())
        return;
    if (m_nLastSequence == 0)
        m_pText->Clear();
    wxString lines;
    for (const diagnostics::Entry& entry : entries)
        lines << wxString::FromUTF8(FormatDiagnostic(entry)) << '\n';
    m_pText->AppendText(lines);
    m_nLastSequence = entries.back().sequence;
}

bool CDiagnosticsDlg::CopyToClipboard()
{
    wxClipboardLocker locker;
    if (!locker)
        return false;
    return wxTheClipboard->SetData(new wxTextDataObject(m_pText->GetValue()));
}
