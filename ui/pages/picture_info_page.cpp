#include "picture_info_page.h"

#include "accessibility.h"
#include "command_ids.h"
#include "marquen_app.h"
#include "page_widgets.h"
#include "picture_file.h"
#include "spin_arrows.h"

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <array>
#include <climits>

using page_layout::PictureInfoRects;
using page_widgets::kEditHeight;
using page_widgets::kListHeight;
using page_widgets::MakeEdit;
using page_widgets::MakeLabel;

namespace {

/// Type names by picture type, the order of the sorted output type list.
constexpr std::array<const char*, 5> kTypeNames = {"BITMAP", "EPSON GFX", "LOGO", "RASTER GFX", "RASTER GFX EXT"};

// Rows of the page, the same on both halves.
constexpr int kFileRow = 16;
constexpr int kTypeRow = 43;
constexpr int kSizeRow = 75;
constexpr int kWidthRow = 102;
constexpr int kHeightRow = 129;
/// The page size the controls are first placed for.
constexpr int kTemplateWidth = 600;
constexpr int kTemplateHeight = 160;
constexpr int kSizeFieldWidth = 60;

}  // namespace

CPictureInfoPage::CPictureInfoPage(wxWindow* parent, CMarquenApp& app)
    : wxPanel(parent, wxID_ANY, wxDefaultPosition, wxSize(kTemplateWidth, kTemplateHeight),
              wxTAB_TRAVERSAL | wxBORDER_NONE),
      m_app(app)
{
    page_widgets::PreparePage(this);
    CreateControls();
    Bind(wxEVT_SIZE, &CPictureInfoPage::OnPageSize, this);
}

void CPictureInfoPage::CreateControls()
{
    // Frames first, so that every other control is drawn above them.
    new wxStaticBox(this, IDC_INPUT_FRAME, "Input picture info", wxPoint(0, 0),
                    wxSize(kTemplateWidth / 2 - 10, kTemplateHeight));
    new wxStaticBox(this, IDC_OUTPUT_FRAME, "Output picture info", wxPoint(kTemplateWidth / 2 + 10, 0),
                    wxSize(kTemplateWidth / 2 - 10, kTemplateHeight));

    // Input half, in tab order. The "..." buttons are as narrow as GTK lets a
    // button be.
    MakeEdit(this, IDC_INPUT_FILE, wxRect(10, kFileRow, 200, kEditHeight), "Input file");
    auto* open = new wxButton(this, IDC_OPEN_BROWSE, "...", wxPoint(210, kFileRow), wxSize(-1, kEditHeight),
                              wxBU_EXACTFIT);
    MakeLabel(this, wxID_ANY, "Type", wxRect(10, kTypeRow, 40, kListHeight));
    MakeEdit(this, IDC_INPUT_TYPE, wxRect(55, kTypeRow + 3, 120, kEditHeight), "Input type", true);
    MakeLabel(this, wxID_ANY, "Size", wxRect(10, kSizeRow, 40, kEditHeight));
    MakeEdit(this, IDC_INPUT_SIZE, wxRect(55, kSizeRow, kSizeFieldWidth, kEditHeight), "Input size", true);
    MakeLabel(this, wxID_ANY, "Bytes", wxRect(125, kSizeRow, 50, kEditHeight));
    MakeLabel(this, wxID_ANY, "Width", wxRect(10, kWidthRow, 45, kEditHeight));
    MakeEdit(this, IDC_INPUT_WIDTH, wxRect(55, kWidthRow, kSizeFieldWidth, kEditHeight), "Input width", true);
    MakeLabel(this, wxID_ANY, "Pixels", wxRect(125, kWidthRow, 50, kEditHeight));
    MakeLabel(this, wxID_ANY, "Height", wxRect(10, kHeightRow, 45, kEditHeight));
    MakeEdit(this, IDC_INPUT_HEIGHT, wxRect(55, kHeightRow, kSizeFieldWidth, kEditHeight), "Input height", true);
    MakeLabel(this, wxID_ANY, "Pixels", wxRect(125, kHeightRow, 50, kEditHeight));

    // Output half, in tab order; placed by the layout below.
    MakeEdit(this, IDC_OUTPUT_FILE, wxRect(0, kFileRow, 200, kEditHeight), "Output file", true);
    auto* saveAs = new wxButton(this, IDC_SAVE_AS_BROWSE, "...", wxPoint(0, kFileRow), wxSize(-1, kEditHeight),
                                wxBU_EXACTFIT);
    MakeLabel(this, IDC_OUTPUT_TYPE_LABEL, "Type", wxRect(0, kTypeRow, 40, kListHeight));
    m_outputType = new wxChoice(this, IDC_OUTPUT_TYPE, wxPoint(0, kTypeRow), wxSize(130, kListHeight));
    // The template lists "RASTER GFX", "BITMAP", "LOGO", "EPSON GFX",
    // "RASTER GFX EXT"; sorted, the index of each entry is its picture type.
    for (const char* name : kTypeNames)
        m_outputType->Append(name);
    m_outputType->Disable();
    SetAccessibleName(m_outputType, "Output type");
    MakeLabel(this, IDC_OUTPUT_SIZE_LABEL, "Size", wxRect(0, kSizeRow, 40, kEditHeight));
    MakeEdit(this, IDC_OUTPUT_SIZE, wxRect(0, kSizeRow, kSizeFieldWidth, kEditHeight), "Output size", true);
    MakeLabel(this, IDC_OUTPUT_BYTES_LABEL, "Bytes", wxRect(0, kSizeRow, kSizeFieldWidth, kEditHeight));

    struct SpinRow {
        int labelId;
        const char* label;
        int editId;
        const char* editName;
        int spinId;
        const char* spinName;
        int nMin;
        int nMax;
        int nStart;
        int row;
        bool isOffset;
    };
    const SpinRow rows[] = {
        {IDC_OUTPUT_WIDTH_LABEL, "Width", IDC_OUTPUT_WIDTH, "Output width", IDC_OUTPUT_WIDTH_SPIN,
         "Output width spin", 1, 3000, 1, kWidthRow, false},
        {IDC_OFFSET_X_LABEL, "OffsetX", IDC_OFFSET_X, "Offset X", IDC_OFFSET_X_SPIN, "Offset X spin", -500, 500, 0,
         kWidthRow, true},
        {IDC_OUTPUT_HEIGHT_LABEL, "Height", IDC_OUTPUT_HEIGHT, "Output height", IDC_OUTPUT_HEIGHT_SPIN,
         "Output height spin", 1, 3000, 1, kHeightRow, false},
        {IDC_OFFSET_Y_LABEL, "OffsetY", IDC_OFFSET_Y, "Offset Y", IDC_OFFSET_Y_SPIN, "Offset Y spin", -500, 500, 0,
         kHeightRow, true},
    };
    for (const SpinRow& row : rows) {
        wxStaticText* label = MakeLabel(this, row.labelId, row.label, wxRect(0, row.row, 40, kEditHeight));
        // The offset labels get 35 pixels.
        if (row.isOffset)
            page_widgets::ShrinkToFit(label, 35);
        wxTextCtrl* edit = MakeEdit(this, row.editId, wxRect(0, row.row, kSizeFieldWidth, kEditHeight), row.editName,
                                    true);
        edit->Bind(wxEVT_TEXT, &CPictureInfoPage::OnSizeOrOffsetChange, this);
        auto* spin = new CSpinArrows(this, row.spinId, wxRect(0, row.row, 15, kEditHeight), edit, row.nMin,
                                     row.nMax, row.nStart);
        spin->Disable();  // until the first picture, as its field
        SetAccessibleName(spin, row.spinName);
        // Up and Down in the field step it as its spin button does.
        edit->Bind(wxEVT_KEY_DOWN, [spin](wxKeyEvent& event) {
            if (event.GetKeyCode() == WXK_UP)
                spin->Step(1);
            else if (event.GetKeyCode() == WXK_DOWN)
                spin->Step(-1);
            else
                event.Skip();
        });
    }

    m_outputType->Bind(wxEVT_CHOICE, &CPictureInfoPage::OnOutputTypeChange, this);
    open->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { PostToMainWindow(wxID_OPEN); });
    saveAs->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { PostToMainWindow(wxID_SAVEAS); });
    // The page's own events stop here: nothing of it reaches the frame's
    // command handlers, whose ids may meet the page's.
    Bind(wxEVT_TEXT, [](wxCommandEvent&) {});
    // Place the output half for the template's size; narrower pages keep it.
    wxSizeEvent none(wxSize(kTemplateWidth, kTemplateHeight));
    OnPageSize(none);
}

OutputPictureParameters CPictureInfoPage::GetOutputParameters()
{
    OutputPictureParameters values;
    values.type = m_nOutputType;
    values.path = m_strOutputFile;
    values.width = m_nWidth;
    values.height = m_nHeight;
    values.offsetX = m_nOffsetX;
    values.offsetY = m_nOffsetY;
    return values;
}

void CPictureInfoPage::ShowPictureInfo(const PictureFile& picture, bool bNewInput)
{
    const wxString size = wxString::Format("%u", static_cast<unsigned>(picture.Size()));
    if (bNewInput) {
        for (int id : {IDC_OUTPUT_SIZE, IDC_OFFSET_X, IDC_OFFSET_Y, IDC_OUTPUT_WIDTH, IDC_OUTPUT_HEIGHT,
                       IDC_OUTPUT_TYPE, IDC_OUTPUT_FILE, IDC_OUTPUT_WIDTH_SPIN, IDC_OUTPUT_HEIGHT_SPIN,
                       IDC_OFFSET_X_SPIN, IDC_OFFSET_Y_SPIN})
            FindWindow(id)->Enable();
        const wxString path = wxString::FromUTF8(picture.Path());
        static_cast<wxTextCtrl*>(FindWindow(IDC_INPUT_FILE))->ChangeValue(path);
        m_strOutputFile = picture.Path();
        static_cast<wxTextCtrl*>(FindWindow(IDC_OUTPUT_SIZE))->ChangeValue(size);
        static_cast<wxTextCtrl*>(FindWindow(IDC_INPUT_SIZE))->ChangeValue(size);
        m_nWidth = static_cast<int>(std::min<uint32_t>(picture.Width(), INT_MAX));
        m_nHeight = static_cast<int>(std::min<uint32_t>(picture.Height(), INT_MAX));
        static_cast<wxTextCtrl*>(FindWindow(IDC_INPUT_WIDTH))->ChangeValue(wxString::Format("%d", m_nWidth));
        static_cast<wxTextCtrl*>(FindWindow(IDC_INPUT_HEIGHT))->ChangeValue(wxString::Format("%d", m_nHeight));
        auto* inputType = static_cast<wxTextCtrl*>(FindWindow(IDC_INPUT_TYPE));
        if (picture.Type() < kTypeNames.size()) {
            inputType->ChangeValue(kTypeNames[picture.Type()]);
            m_nOutputType = static_cast<int>(picture.Type());
        } else {
            ShowMessage(picture_info_strings::kUnknownOutputType);
            inputType->ChangeValue(wxEmptyString);
        }
        SetOutputDocumentType();
    } else {
        static_cast<wxTextCtrl*>(FindWindow(IDC_OUTPUT_SIZE))->ChangeValue(size);
    }
    PutControls();
}

void CPictureInfoPage::OnOutputSaved(const std::string& path)
{
    m_strOutputFile = path;
    PutControls();
}

void CPictureInfoPage::PutControls()
{
    page_widgets::SelectIndex(m_outputType, m_nOutputType);
    static_cast<wxTextCtrl*>(FindWindow(IDC_OUTPUT_FILE))->ChangeValue(wxString::FromUTF8(m_strOutputFile));
    bool changed = false;
    const std::pair<int, int> numbers[] = {{IDC_OFFSET_X, m_nOffsetX},
                                           {IDC_OFFSET_Y, m_nOffsetY},
                                           {IDC_OUTPUT_HEIGHT, m_nHeight},
                                           {IDC_OUTPUT_WIDTH, m_nWidth}};
    for (const auto& [id, value] : numbers) {
        // The field the user is typing in keeps the text typed, even where
        // it was not read (empty, or out of range after the prompt).
        if (id == m_nEditingId)
            continue;
        auto* edit = static_cast<wxTextCtrl*>(FindWindow(id));
        const wxString text = wxString::Format("%d", value);
        if (edit->GetValue() != text) {
            edit->ChangeValue(text);
            changed = true;
        }
    }
    // A size or offset that changed rebuilds the output, as if typed; the
    // fields already hold what the controls show, so nothing is read back
    // (a picture wider than the typing range brings no prompt).
    if (changed && !m_bPutting) {
        m_bPutting = true;
        m_app.UpdateOutputPicture();
        m_bPutting = false;
    }
}

bool CPictureInfoPage::ReadInteger(int id, int& value, bool bRangeChecked)
{
    const wxString text = static_cast<wxTextCtrl*>(FindWindow(id))->GetValue().Strip(wxString::both);
    if (text.empty() || text == "-" || text == "+")
        return false;
    long number = 0;
    if (!text.ToLong(&number) || number < INT_MIN || number > INT_MAX) {
        ShowMessage(picture_info_strings::kIntegerPrompt);
        return false;
    }
    if (bRangeChecked && (number < picture_info_strings::kMinSize || number > picture_info_strings::kMaxSize)) {
        ShowMessage(picture_info_strings::kRangePrompt);
        return false;
    }
    value = static_cast<int>(number);
    return true;
}

bool CPictureInfoPage::ReadControls()
{
    m_nOutputType = m_outputType->GetSelection();
    m_strOutputFile = static_cast<wxTextCtrl*>(FindWindow(IDC_OUTPUT_FILE))->GetValue().utf8_string();
    return ReadInteger(IDC_OFFSET_X, m_nOffsetX, false) && ReadInteger(IDC_OFFSET_Y, m_nOffsetY, false) &&
           ReadInteger(IDC_OUTPUT_HEIGHT, m_nHeight, true) && ReadInteger(IDC_OUTPUT_WIDTH, m_nWidth, true);
}

void CPictureInfoPage::OnSizeOrOffsetChange(wxCommandEvent& event)
{
    if (m_bPutting)
        return;
    ReadControls();
    m_bPutting = true;
    m_nEditingId = event.GetId();
    m_app.UpdateOutputPicture();
    m_nEditingId = wxID_NONE;
    m_bPutting = false;
}

void CPictureInfoPage::OnOutputTypeChange(wxCommandEvent&)
{
    ReadControls();
    SetOutputDocumentType();
}

void CPictureInfoPage::SetOutputDocumentType()
{
    CMarquenDoc* doc = m_app.GetDocument();
    if (doc != nullptr && m_nOutputType >= 0 && static_cast<uint32_t>(m_nOutputType) < kPictureTypeCount)
        doc->SetOutputType(static_cast<PictureType>(m_nOutputType));
}

void CPictureInfoPage::PostToMainWindow(int commandId)
{
    wxWindow* frame = wxGetTopLevelParent(this);
    if (frame == nullptr)
        return;
    auto* event = new wxCommandEvent(wxEVT_MENU, commandId);
    event->SetEventObject(frame);
    wxQueueEvent(frame, event);
}

void CPictureInfoPage::ShowMessage(const std::string& text)
{
    m_app.GetMessageBox().ShowMessage(text, MessageButtons::Ok, MessageIcon::Warning);
}

void CPictureInfoPage::OnPageSize(wxSizeEvent& event)
{
    PictureInfoRects r;
    using page_widgets::RectBinding;
    const std::initializer_list<RectBinding> bindings = {
        {IDC_INPUT_FRAME, &r.inputFrame},       {IDC_OUTPUT_FRAME, &r.outputFrame},
        {IDC_INPUT_FILE, &r.inputFile},         {IDC_OPEN_BROWSE, &r.openButton},
        {IDC_OUTPUT_FILE, &r.outputFile},       {IDC_SAVE_AS_BROWSE, &r.saveAsButton},
        {IDC_OUTPUT_TYPE_LABEL, &r.typeLabel},  {IDC_OUTPUT_SIZE_LABEL, &r.sizeLabel},
        {IDC_OUTPUT_WIDTH_LABEL, &r.widthLabel}, {IDC_OUTPUT_HEIGHT_LABEL, &r.heightLabel},
        {IDC_OUTPUT_TYPE, &r.outputType},       {IDC_OUTPUT_SIZE, &r.outputSize},
        {IDC_OUTPUT_WIDTH, &r.outputWidth},     {IDC_OUTPUT_HEIGHT, &r.outputHeight},
        {IDC_OUTPUT_BYTES_LABEL, &r.bytesLabel}, {IDC_OUTPUT_WIDTH_SPIN, &r.widthSpin},
        {IDC_OFFSET_X_LABEL, &r.offsetXLabel},  {IDC_OFFSET_X, &r.offsetX},
        {IDC_OFFSET_X_SPIN, &r.offsetXSpin},    {IDC_OUTPUT_HEIGHT_SPIN, &r.heightSpin},
        {IDC_OFFSET_Y_LABEL, &r.offsetYLabel},  {IDC_OFFSET_Y, &r.offsetY},
        {IDC_OFFSET_Y_SPIN, &r.offsetYSpin},
    };
    page_widgets::ReadRects(this, bindings);
    r.browseButtonWidth = FindWindow(IDC_OPEN_BROWSE)->GetBestSize().x;
    const wxSize size = event.GetSize();
    if (page_layout::LayoutPictureInfoPage(size.x, size.y, r))
        page_widgets::WriteRects(this, bindings);
    event.Skip();
}
