#include "download_page_window.h"

#include "accessibility.h"
#include "marquen_app.h"
#include "page_widgets.h"

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/gauge.h>
#include <wx/radiobut.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/utils.h>

#include <algorithm>

using page_layout::DownloadRects;
using page_widgets::kButtonHeight;
using page_widgets::kEditHeight;
using page_widgets::kListHeight;

namespace {

constexpr int kTemplateWidth = 600;
constexpr int kTemplateHeight = 160;
constexpr int kButtonWidth = 80;
// The memory lines fit a 600-pixel main window: a label's text ends before
// the value column (seven tenths into the right frame) and the value before
// the unit, 40 pixels from the frame's right edge.
constexpr int kValueWidth = 60;
constexpr int kMemoryLabelWidth = 205;
constexpr int kProgressHeight = 16;

/// Tooltips of the print-size buttons as stored: "&&" shows as "&".
struct PrintSizeTip {
    int id;
    const char* text;
};
constexpr PrintSizeTip kPrintSizeTips[] = {
    {IDC_X1H_X1W, "single height && single width"},
    {IDC_X1H_X2W, "single height && double width "},
    {IDC_X2H_X1W, "double height && single width"},
    {IDC_X2H_X2W, "double height && double width"},
};

wxString TooltipText(const char* stored)
{
    wxString text(stored);
    text.Replace("&&", "&");
    return text;
}

}  // namespace

CDownloadPageWindow::CDownloadPageWindow(wxWindow* parent, CMarquenApp& app)
    : wxPanel(parent, wxID_ANY, wxDefaultPosition, wxSize(kTemplateWidth, kTemplateHeight),
              wxTAB_TRAVERSAL | wxBORDER_NONE),
      m_app(app),
      m_memoryDialog(this),
      m_logic(std::make_unique<CDownloadPage>(app, *this, m_memoryDialog)),
      m_messages(*m_logic)
{
    page_widgets::PreparePage(this);
    CreateControls();
    Bind(wxEVT_SIZE, &CDownloadPageWindow::OnPageSize, this);
    wxSizeEvent templateSize(wxSize(kTemplateWidth, kTemplateHeight));
    OnPageSize(templateSize);
    ShowMemoryFigures(m_app.m_nVersion != 0);
    // The page's own start (the memory query, the 256 logo numbers) runs as
    // soon as the event loop turns, that is once the main window is on
    // screen: a printer that is slow to answer, or a port that is not there,
    // does not hold the window back.
    CallAfter([this] { m_logic->OnInitDialog(); });
}

CDownloadPageWindow::~CDownloadPageWindow()
{
    for (auto& [id, timer] : m_timers)
        timer->Stop();
    while (m_nWaitCursors > 0)
        EndWaitCursor();
    // The logic's destructor may still call its controls (an abort): it goes
    // while the widgets exist.
    m_logic.reset();
}

void CDownloadPageWindow::CreateControls()
{
    new wxStaticBox(this, IDC_DOWNLOAD_LEFT_FRAME, wxEmptyString, wxPoint(0, 0), wxSize(272, 144));
    new wxStaticBox(this, IDC_DOWNLOAD_RIGHT_FRAME, wxEmptyString, wxPoint(282, 0), wxSize(318, 144));

    // Left frame, in tab order.
    wxStaticText* logoLabel = page_widgets::MakeLabel(this, IDC_LOGO_NUMBER_LABEL, "Logo Number", wxRect());
    logoLabel->SetSize(logoLabel->GetBestSize().x, kListHeight);
    m_logoNumbers = new wxChoice(this, IDC_LOGO_NUMBER, wxDefaultPosition, wxSize(70, kListHeight));
    SetAccessibleName(m_logoNumbers, "Logo Number");
    auto* upload = new wxButton(this, IDC_UPLOAD, "Upload", wxDefaultPosition, wxSize(kButtonWidth, kButtonHeight));
    auto* x1h1w = new wxRadioButton(this, IDC_X1H_X1W, "x1H x1W", wxDefaultPosition, wxDefaultSize, wxRB_GROUP);
    auto* x1h2w = new wxRadioButton(this, IDC_X1H_X2W, "x1H x2W");
    auto* download =
        new wxButton(this, IDC_DOWNLOAD, "Download", wxDefaultPosition, wxSize(kButtonWidth, kButtonHeight));
    auto* x2h1w = new wxRadioButton(this, IDC_X2H_X1W, "x2H x1W");
    auto* x2h2w = new wxRadioButton(this, IDC_X2H_X2W, "x2H x2W");
    auto* print = new wxButton(this, IDC_PRINT, "Print", wxDefaultPosition, wxSize(kButtonWidth, kButtonHeight));
    // The radio buttons of one row share their size.
    wxSize radio = x1h1w->GetBestSize();
    for (wxRadioButton* button : {x1h2w, x2h1w, x2h2w})
        radio.IncTo(button->GetBestSize());
    for (wxRadioButton* button : {x1h1w, x1h2w, x2h1w, x2h2w})
        button->SetSize(radio.x, kButtonHeight);
    for (const PrintSizeTip& tip : kPrintSizeTips)
        FindWindow(tip.id)->SetToolTip(TooltipText(tip.text));

    // Right frame: the memory lines, display only.
    struct MemoryLine {
        int labelId;
        const char* label;
        int valueId;
        int unitId;
        const char* unit;
    };
    const MemoryLine lines[] = {
        {IDC_TOTAL_MEMORY_LABEL, "Total memory size available", IDC_TOTAL_MEMORY, IDC_TOTAL_MEMORY_UNIT, "kbytes"},
        {IDC_LOGO_AREA_LABEL, "Memory size available for logo storage", IDC_LOGO_AREA, IDC_LOGO_AREA_UNIT,
         "kbytes"},
        {IDC_FREE_MEMORY_LABEL, "Memory size remained for logo storage", IDC_FREE_MEMORY, IDC_FREE_MEMORY_UNIT,
         " bytes"},
    };
    // One font for the three lines: the largest at which the longest label
    // fits its column.
    wxStaticText* longest = nullptr;
    for (const MemoryLine& line : lines) {
        wxStaticText* label = page_widgets::MakeLabel(this, line.labelId, line.label, wxRect());
        if (longest == nullptr || label->GetBestSize().x > longest->GetBestSize().x)
            longest = label;
        page_widgets::MakeEdit(this, line.valueId, wxRect(0, 0, kValueWidth, kEditHeight), line.label, true);
        // The unit sits 40 pixels from the frame's right edge.
        wxStaticText* unit = page_widgets::MakeLabel(this, line.unitId, line.unit, wxRect());
        page_widgets::ShrinkToFit(unit, 36);
        unit->SetSize(std::min(unit->GetBestSize().x, 36), kEditHeight);
    }
    page_widgets::ShrinkToFit(longest, kMemoryLabelWidth);
    for (const MemoryLine& line : lines) {
        for (int id : {line.labelId, line.valueId})
            FindWindow(id)->SetFont(longest->GetFont());
        FindWindow(line.labelId)->SetSize(std::min(FindWindow(line.labelId)->GetBestSize().x, kMemoryLabelWidth),
                                          kEditHeight);
    }
    auto* setup = new wxButton(this, IDC_SETUP, "Setup", wxDefaultPosition, wxSize(kButtonWidth, kButtonHeight));
    auto* refresh = new wxButton(this, IDC_REFRESH, "Refresh", wxDefaultPosition, wxSize(kButtonWidth, kButtonHeight));
    auto* erase = new wxButton(this, IDC_ERASE, "Erase", wxDefaultPosition, wxSize(kButtonWidth, kButtonHeight));
    m_progress = new wxGauge(this, IDC_PROGRESS, 100, wxPoint(0, kTemplateHeight - kProgressHeight),
                             wxSize(kTemplateWidth, kProgressHeight));
    SetAccessibleName(m_progress, "Progress");

    upload->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { m_logic->OnUpload(); });
    download->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { m_logic->OnDownload(); });
    print->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { m_logic->OnPrint(); });
    setup->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { m_logic->OnSetup(); });
    refresh->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { m_logic->OnRefresh(); });
    erase->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { m_logic->OnErase(); });
    // The page's own events stop here: nothing of it reaches the frame's
    // command handlers, whose ids may meet the page's.
    Bind(wxEVT_BUTTON, [](wxCommandEvent&) {});
    Bind(wxEVT_RADIOBUTTON, [](wxCommandEvent&) {});
    Bind(wxEVT_CHOICE, [](wxCommandEvent&) {});
}

void CDownloadPageWindow::ShowMemoryFigures(bool bShow)
{
    for (int id : {IDC_TOTAL_MEMORY_LABEL, IDC_TOTAL_MEMORY, IDC_TOTAL_MEMORY_UNIT, IDC_LOGO_AREA_LABEL,
                   IDC_LOGO_AREA, IDC_LOGO_AREA_UNIT})
        FindWindow(id)->Show(bShow);
}

void CDownloadPageWindow::ApplyVersion()
{
    const bool withQueries = m_app.m_nVersion != 0;
    ShowControl(IDC_UPLOAD, withQueries);
    ShowMemoryFigures(withQueries);
    // Read at once from a printer that is there; a closed port would only
    // keep the user waiting for the replies' time-outs.
    if (withQueries && !IsTransferBusy() && m_app.IsPortOpen())
        m_logic->OnRefresh();
}

bool CDownloadPageWindow::IsTransferBusy()
{
    const std::string& abort = m_logic->m_strAbort;
    return m_logic->HasTransferArray() || m_app.IsUploadInProgress() || GetControlText(IDC_DOWNLOAD) == abort ||
           GetControlText(IDC_UPLOAD) == abort || GetControlText(IDC_ERASE) == abort;
}

void CDownloadPageWindow::AbortTransfer()
{
    const std::string& abort = m_logic->m_strAbort;
    if (GetControlText(IDC_DOWNLOAD) == abort) {
        m_logic->OnDownload();  // the page's own abort
    } else if (m_logic->HasTransferArray() && m_app.m_pComm) {
        // Started, no progress yet: stop the writer; the array goes with the logic.
        m_app.m_pComm->AbortTransfert();
    }
    if (GetControlText(IDC_UPLOAD) == abort) {
        m_logic->OnUpload();  // the page's own abort
    } else if (m_app.IsUploadInProgress()) {
        m_app.StartUpload(-1);
        m_logic->OnTransferProgress(0, IDC_UPLOAD);
    }
    if (GetControlText(IDC_ERASE) == abort) {
        // The printer finishes an erase by itself; the page only stops waiting.
        m_logic->SetTransferState(true, IDC_NO_BUTTON);
        SetControlText(IDC_ERASE, printer_strings::kErase);
    }
    KillTimer(kUploadWatchTimerId);
}

// --- IDownloadPageControls ----------------------------------------------------------------

void CDownloadPageWindow::EnableControl(int nId, bool bEnable)
{
    if (wxWindow* control = FindWindow(nId))
        control->Enable(bEnable);
}

std::string CDownloadPageWindow::GetControlText(int nId)
{
    wxWindow* control = FindWindow(nId);
    if (control == nullptr)
        return {};
    if (auto* edit = dynamic_cast<wxTextCtrl*>(control))
        return edit->GetValue().utf8_string();
    return control->GetLabel().utf8_string();
}

void CDownloadPageWindow::SetControlText(int nId, const std::string& text)
{
    wxWindow* control = FindWindow(nId);
    if (control == nullptr)
        return;
    const wxString value = wxString::FromUTF8(text);
    if (auto* edit = dynamic_cast<wxTextCtrl*>(control))
        edit->ChangeValue(value);
    else
        control->SetLabel(value);
}

void CDownloadPageWindow::ShowControl(int nId, bool bShow)
{
    if (wxWindow* control = FindWindow(nId))
        control->Show(bShow);
}

void CDownloadPageWindow::AddLogoNumber(const std::string& text)
{
    m_logoNumbers->Append(wxString::FromUTF8(text));
}

int CDownloadPageWindow::GetLogoSelection()
{
    return m_logoNumbers->GetSelection();
}

void CDownloadPageWindow::SetFocusTo(int nId)
{
    if (wxWindow* control = FindWindow(nId))
        control->SetFocus();
}

void CDownloadPageWindow::CheckRadioButton(int nFirst, int nLast, int nCheck)
{
    for (int id = nFirst; id <= nLast; ++id) {
        if (auto* radio = dynamic_cast<wxRadioButton*>(FindWindow(id)))
            radio->SetValue(id == nCheck);
    }
}

bool CDownloadPageWindow::IsButtonChecked(int nId)
{
    auto* radio = dynamic_cast<wxRadioButton*>(FindWindow(nId));
    return radio != nullptr && radio->GetValue();
}

void CDownloadPageWindow::SetProgressPos(int nPos)
{
    m_progress->SetValue(std::clamp(nPos, 0, 100));
}

int CDownloadPageWindow::GetProgressPos()
{
    return m_progress->GetValue();
}

void CDownloadPageWindow::SetTimer(unsigned nId, unsigned nElapse)
{
    std::unique_ptr<wxTimer>& timer = m_timers[nId];
    if (!timer) {
        timer = std::make_unique<wxTimer>();
        timer->Bind(wxEVT_TIMER, [this, nId](wxTimerEvent&) { m_logic->OnTimer(nId); });
    }
    timer->Start(static_cast<int>(nElapse), wxTIMER_CONTINUOUS);
}

void CDownloadPageWindow::KillTimer(unsigned nId)
{
    auto found = m_timers.find(nId);
    if (found != m_timers.end())
        found->second->Stop();
}

void CDownloadPageWindow::EnableCommunicationPage(bool bEnable)
{
    if (m_enableCommunication)
        m_enableCommunication(bEnable);
}

void CDownloadPageWindow::BeginWaitCursor()
{
    ++m_nWaitCursors;
    wxBeginBusyCursor();
}

void CDownloadPageWindow::EndWaitCursor()
{
    if (m_nWaitCursors == 0)
        return;
    --m_nWaitCursors;
    wxEndBusyCursor();
}

// --- Layout ----------------------------------------------------------------------------------

void CDownloadPageWindow::OnPageSize(wxSizeEvent& event)
{
    DownloadRects r;
    using page_widgets::RectBinding;
    const std::initializer_list<RectBinding> bindings = {
        {IDC_PROGRESS, &r.progress},
        {IDC_DOWNLOAD_LEFT_FRAME, &r.leftFrame},
        {IDC_LOGO_NUMBER_LABEL, &r.logoNumberLabel},
        {IDC_LOGO_NUMBER, &r.logoNumber},
        {IDC_UPLOAD, &r.upload},
        {IDC_X1H_X1W, &r.x1hx1w},
        {IDC_X1H_X2W, &r.x1hx2w},
        {IDC_DOWNLOAD, &r.download},
        {IDC_X2H_X1W, &r.x2hx1w},
        {IDC_X2H_X2W, &r.x2hx2w},
        {IDC_PRINT, &r.print},
        {IDC_DOWNLOAD_RIGHT_FRAME, &r.rightFrame},
        {IDC_TOTAL_MEMORY_LABEL, &r.memoryLabels[0]},
        {IDC_LOGO_AREA_LABEL, &r.memoryLabels[1]},
        {IDC_FREE_MEMORY_LABEL, &r.memoryLabels[2]},
        {IDC_TOTAL_MEMORY, &r.memoryValues[0]},
        {IDC_LOGO_AREA, &r.memoryValues[1]},
        {IDC_FREE_MEMORY, &r.memoryValues[2]},
        {IDC_TOTAL_MEMORY_UNIT, &r.memoryUnits[0]},
        {IDC_LOGO_AREA_UNIT, &r.memoryUnits[1]},
        {IDC_FREE_MEMORY_UNIT, &r.memoryUnits[2]},
        {IDC_SETUP, &r.setup},
        {IDC_ERASE, &r.erase},
        {IDC_REFRESH, &r.refresh},
    };
    page_widgets::ReadRects(this, bindings);
    const wxSize size = event.GetSize();
    if (page_layout::LayoutDownloadPage(size.x, size.y, r))
        page_widgets::WriteRects(this, bindings);
    event.Skip();
}
