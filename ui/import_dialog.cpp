#include "import_dialog.h"

#include "accessibility.h"

#include <wx/bitmap.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/confbase.h>
#include <wx/image.h>
#include <wx/scrolwin.h>
#include <wx/sizer.h>
#include <wx/spinctrl.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include <chrono>

using namespace import_dialog_ids;

namespace {

constexpr const char* kGroup = "/Import";
// The preview area: large enough for a 576-dot logo at 1:1 on a small screen;
// a larger picture scrolls.
const wxSize kPreviewSize(600, 300);

wxBitmap DotsBitmap(const ImportedPicture& dots)
{
    if (dots.width == 0 || dots.height == 0)
        return wxBitmap(1, 1);
    wxImage image(static_cast<int>(dots.width), static_cast<int>(dots.height), false);
    unsigned char* rgb = image.GetData();
    const size_t rowBytes = (dots.width + 7) / 8;
    for (uint32_t y = 0; y < dots.height; ++y) {
        const uint8_t* row = dots.bits.data() + y * rowBytes;
        for (uint32_t x = 0; x < dots.width; ++x) {
            const unsigned char level = (row[x / 8] & (0x80u >> (x % 8))) ? 0 : 255;
            rgb[0] = rgb[1] = rgb[2] = level;
            rgb += 3;
        }
    }
    return wxBitmap(image);
}

wxSpinCtrl* NewSpin(wxWindow* parent, int id, int low, int high, int value)
{
    auto* spin = new wxSpinCtrl(parent, id, wxEmptyString, wxDefaultPosition, wxSize(110, -1),
                                wxSP_ARROW_KEYS, low, high, value);
    return spin;
}

}  // namespace

CImportDlg::CImportDlg(wxWindow* parent, const ImportRequest& request, const ImportOptions& initial)
    : wxDialog(parent, wxID_ANY, "Import picture", wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER),
      m_preview(*request.preview)
{
    const ImportOptions options = ClampImportOptions(initial);
    auto* grid = new wxFlexGridSizer(2, wxSize(8, 6));
    auto addRow = [&](const wxString& label, wxWindow* control, const wxString& name) {
        grid->Add(new wxStaticText(this, wxID_ANY, label), 0, wxALIGN_CENTER_VERTICAL);
        grid->Add(control, 0, wxEXPAND);
        SetAccessibleName(control, name);
    };

    m_pMethod = new wxChoice(this, IDC_IMPORT_METHOD);
    for (DitherMethod method : {DitherMethod::None, DitherMethod::Ordered, DitherMethod::FloydSteinberg,
                                DitherMethod::Atkinson, DitherMethod::Jarvis, DitherMethod::Stucki})
        m_pMethod->Append(wxString::FromUTF8(std::string(DitherMethodName(method))));
    m_pMethod->SetSelection(static_cast<int>(options.dither.method));
    addRow("&Method:", m_pMethod, "Dithering method");

    m_pThreshold = NewSpin(this, IDC_IMPORT_THRESHOLD, kMinThreshold, kMaxThreshold, options.dither.threshold);
    m_pThreshold->SetToolTip("With the method none: a dot is black when its grey level is below this");
    addRow("&Threshold:", m_pThreshold, "Threshold");

    m_pFitWidth = new wxChoice(this, IDC_IMPORT_FIT_WIDTH);
    m_pFitWidth->Append(wxString::Format("Own width (%u dots)", m_preview.SourceWidth()));
    int fitIndex = 0;
    for (size_t i = 0; i < std::size(kImportFitWidths); ++i) {
        m_pFitWidth->Append(wxString::Format("%u dots", kImportFitWidths[i]));
        if (kImportFitWidths[i] == options.fitWidth)
            fitIndex = static_cast<int>(i) + 1;
    }
    m_pFitWidth->SetSelection(fitIndex);
    addRow("&Fit width:", m_pFitWidth, "Fit width");

    m_pBrightness = NewSpin(this, IDC_IMPORT_BRIGHTNESS, -kMaxBrightness, kMaxBrightness, options.dither.brightness);
    addRow("&Brightness:", m_pBrightness, "Brightness");
    m_pContrast = NewSpin(this, IDC_IMPORT_CONTRAST, -kMaxContrast, kMaxContrast, options.dither.contrast);
    m_pContrast->SetToolTip("Percent: above 0 moves the grey levels away from the middle grey");
    addRow("&Contrast:", m_pContrast, "Contrast");

    m_pInvert = new wxCheckBox(this, IDC_IMPORT_INVERT, "&Invert (white dots on black)");
    m_pInvert->SetValue(options.dither.invert);
    grid->AddSpacer(0);
    grid->Add(m_pInvert);

    m_pSize = new wxStaticText(this, IDC_IMPORT_SIZE, wxEmptyString);
    m_pPreviewArea = new wxScrolledWindow(this, IDC_IMPORT_PREVIEW, wxDefaultPosition, kPreviewSize,
                                          wxHSCROLL | wxVSCROLL | wxBORDER_SUNKEN);
    m_pPreviewArea->SetBackgroundColour(*wxLIGHT_GREY);
    m_pPreviewArea->SetScrollRate(16, 16);
    m_pPreviewBitmap = new wxStaticBitmap(m_pPreviewArea, wxID_ANY, wxBitmap(1, 1));
    SetAccessibleName(m_pPreviewArea, "Preview");
    SetAccessibleName(m_pPreviewBitmap, "Preview of the dots");

    auto* top = new wxBoxSizer(wxVERTICAL);
    // The file's name (the whole path in its tooltip), its format and size.
    const wxString path = wxString::FromUTF8(request.path);
    auto* heading = new wxStaticText(this, wxID_ANY,
                                     wxString::Format("%s (%s, %u x %u)", path.AfterLast('/'),
                                                      wxString::FromUTF8(std::string(ImageFormatName(request.format))),
                                                      m_preview.SourceWidth(), m_preview.SourceHeight()));
    heading->SetToolTip(path);
    top->Add(heading, 0, wxALL, 8);
    top->Add(grid, 0, wxLEFT | wxRIGHT, 8);
    top->Add(m_pSize, 0, wxLEFT | wxRIGHT | wxTOP, 8);
    top->Add(m_pPreviewArea, 1, wxEXPAND | wxALL, 8);
    top->Add(CreateStdDialogButtonSizer(wxOK | wxCANCEL), 0, wxEXPAND | wxALL, 8);
    SetSizerAndFit(top);

    auto changed = [this](wxCommandEvent&) { UpdatePreview(); };
    m_pMethod->Bind(wxEVT_CHOICE, changed);
    m_pFitWidth->Bind(wxEVT_CHOICE, changed);
    m_pInvert->Bind(wxEVT_CHECKBOX, changed);
    for (wxSpinCtrl* spin : {m_pThreshold, m_pBrightness, m_pContrast}) {
        spin->Bind(wxEVT_SPINCTRL, [this](wxSpinEvent&) { UpdatePreview(); });
        // Typing changes the value too, before the field loses the focus.
        spin->Bind(wxEVT_TEXT, changed);
    }
    UpdatePreview();
    m_pMethod->SetFocus();
}

ImportOptions CImportDlg::GetOptions() const
{
    ImportOptions options;
    const int method = m_pMethod->GetSelection();
    options.dither.method = method >= 0 ? static_cast<DitherMethod>(method) : kDefaultDitherMethod;
    options.dither.threshold = m_pThreshold->GetValue();
    const int fit = m_pFitWidth->GetSelection();
    options.fitWidth = fit > 0 ? kImportFitWidths[fit - 1] : 0;
    options.dither.invert = m_pInvert->GetValue();
    options.dither.brightness = m_pBrightness->GetValue();
    options.dither.contrast = m_pContrast->GetValue();
    return ClampImportOptions(options);
}

void CImportDlg::EnableThreshold()
{
    m_pThreshold->Enable(m_pMethod->GetSelection() == static_cast<int>(DitherMethod::None));
}

void CImportDlg::UpdatePreview()
{
    const auto start = std::chrono::steady_clock::now();
    EnableThreshold();
    std::string error;
    ImportedPicture dots;
    if (m_preview.Compute(GetOptions(), dots, error)) {
        m_dots = std::move(dots);
        m_pPreviewBitmap->SetBitmap(DotsBitmap(m_dots));
        m_pPreviewBitmap->SetSize(static_cast<int>(m_dots.width), static_cast<int>(m_dots.height));
        m_pPreviewArea->SetVirtualSize(static_cast<int>(m_dots.width), static_cast<int>(m_dots.height));
        m_pSize->SetLabel(wxString::Format("Dots: %u x %u (preview at 1:1)", m_dots.width, m_dots.height));
    } else {
        m_dots = ImportedPicture{};
        m_pPreviewBitmap->SetBitmap(wxBitmap(1, 1));
        m_pSize->SetLabel(wxString::FromUTF8(error));
    }
    m_lastPreviewMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

std::optional<ImportOptions> CWxImportQuestion::AskImportOptions(const ImportRequest& request,
                                                                 const ImportOptions& initial)
{
    if (m_beforeShow)
        m_beforeShow();
    CImportDlg dialog(m_parent ? m_parent() : nullptr, request, initial);
    if (m_onShow)
        m_onShow(dialog);
    if (dialog.ShowModal() != wxID_OK)
        return std::nullopt;
    return dialog.GetOptions();
}

ImportOptions CProfileImportStore::LoadImportOptions()
{
    wxConfigBase& profile = m_profile();
    ImportOptions options;
    wxString method;
    if (profile.Read(wxString(kGroup) + "/Method", &method)) {
        if (std::optional<DitherMethod> parsed = ParseDitherMethod(std::string(method.utf8_str())))
            options.dither.method = *parsed;
    }
    long value = 0;
    if (profile.Read(wxString(kGroup) + "/Threshold", &value))
        options.dither.threshold = static_cast<int>(value);
    if (profile.Read(wxString(kGroup) + "/Fit width", &value) && value >= 0)
        options.fitWidth = static_cast<uint32_t>(value);
    if (profile.Read(wxString(kGroup) + "/Brightness", &value))
        options.dither.brightness = static_cast<int>(value);
    if (profile.Read(wxString(kGroup) + "/Contrast", &value))
        options.dither.contrast = static_cast<int>(value);
    bool invert = false;
    if (profile.Read(wxString(kGroup) + "/Invert", &invert))
        options.dither.invert = invert;
    return ClampImportOptions(options);
}

void CProfileImportStore::SaveImportOptions(const ImportOptions& options)
{
    wxConfigBase& profile = m_profile();
    profile.Write(wxString(kGroup) + "/Method", wxString::FromUTF8(std::string(DitherMethodName(options.dither.method))));
    profile.Write(wxString(kGroup) + "/Threshold", static_cast<long>(options.dither.threshold));
    profile.Write(wxString(kGroup) + "/Fit width", static_cast<long>(options.fitWidth));
    profile.Write(wxString(kGroup) + "/Invert", options.dither.invert);
    profile.Write(wxString(kGroup) + "/Brightness", static_cast<long>(options.dither.brightness));
    profile.Write(wxString(kGroup) + "/Contrast", static_cast<long>(options.dither.contrast));
    if (m_flush)
        m_flush();
}
