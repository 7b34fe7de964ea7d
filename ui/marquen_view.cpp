#include "marquen_view.h"

#include "accessibility.h"
#include "command_ids.h"
#include "command_table.h"
#include "main_frame.h"
#include "marquen_app.h"
#include "picture_painter.h"

#include <wx/colordlg.h>
#include <wx/dcbuffer.h>
#include <wx/menu.h>
#include <wx/notebook.h>
#include <wx/scrolbar.h>

#include <algorithm>

using view_logic::ScrollCode;

namespace {

// The profile keeps colours as red + 256 x green + 65536 x blue.
wxColour ColourFromSetting(uint32_t value)
{
    return wxColour(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF);
}

uint32_t SettingFromColour(const wxColour& colour)
{
    return static_cast<uint32_t>(colour.Red()) | (static_cast<uint32_t>(colour.Green()) << 8) |
           (static_cast<uint32_t>(colour.Blue()) << 16);
}

// The picture area: everything below the tab control that the scroll bars
// leave. It draws the picture and takes the wheel, the focus and the context
// menu.
class CPictureArea : public wxWindow {
public:
    explicit CPictureArea(CMarquenView* view)
        : wxWindow(view, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxFULL_REPAINT_ON_RESIZE | wxWANTS_CHARS),
          m_pView(view)
    {
        SetBackgroundStyle(wxBG_STYLE_PAINT);
        Bind(wxEVT_PAINT, [this](wxPaintEvent&) {
            wxAutoBufferedPaintDC dc(this);
            m_pView->DrawPicture(dc, GetClientSize());
        });
        Bind(wxEVT_LEFT_DOWN, [this](wxMouseEvent& event) {
            SetFocus();  // so that the wheel reaches the view
            event.Skip();
        });
        Bind(wxEVT_MOUSEWHEEL, [this](wxMouseEvent& event) {
            m_pView->OnWheel(event.GetWheelRotation());
            event.Skip();
        });
        // From the keyboard: arrows move a dot, Page Up and Page Down a page
        // (Shift for across); Tab still moves on to the next control.
        Bind(wxEVT_KEY_DOWN, [this](wxKeyEvent& event) {
            using view_logic::ScrollCode;
            switch (event.GetKeyCode()) {
            case WXK_LEFT:
                m_pView->Scroll(false, ScrollCode::LineUp);
                break;
            case WXK_RIGHT:
                m_pView->Scroll(false, ScrollCode::LineDown);
                break;
            case WXK_UP:
                m_pView->Scroll(true, ScrollCode::LineUp);
                break;
            case WXK_DOWN:
                m_pView->Scroll(true, ScrollCode::LineDown);
                break;
            case WXK_PAGEUP:
                m_pView->Scroll(!event.ShiftDown(), ScrollCode::PageUp);
                break;
            case WXK_PAGEDOWN:
                m_pView->Scroll(!event.ShiftDown(), ScrollCode::PageDown);
                break;
            case WXK_TAB:
                Navigate(event.ShiftDown() ? wxNavigationKeyEvent::IsBackward : wxNavigationKeyEvent::IsForward);
                break;
            default:
                event.Skip();
            }
        });
    }
    bool AcceptsFocus() const override { return true; }

private:
    CMarquenView* m_pView;
};

}  // namespace

CMarquenView::CMarquenView(CMainFrame* frame, CMarquenApp& app)
    : wxPanel(frame, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL | wxCLIP_CHILDREN),
      m_pFrame(frame),
      m_app(app)
{
    SetBackgroundColour(ColourFromSetting(m_app.m_crBackground));
    m_pTabs = new wxNotebook(this, IDC_TAB_CONTROL, wxPoint(0, 0), wxSize(600, view_logic::kTabHeight));
    m_pPages = CreateViewPages(m_pTabs, m_app);
    for (int i = 0; i < kViewPageCount; ++i)
        m_pTabs->AddPage(m_pPages->Page(i), m_pPages->Caption(i), i == 0);

    m_pPictureArea = new CPictureArea(this);
    SetAccessibleName(m_pPictureArea, "Picture");
    m_pHorizontal = new wxScrollBar(this, IDC_SCROLL_BAR, wxDefaultPosition, wxDefaultSize, wxSB_HORIZONTAL);
    m_pVertical = new wxScrollBar(this, IDC_SCROLL_BAR, wxDefaultPosition, wxDefaultSize, wxSB_VERTICAL);
    m_pHorizontal->Hide();
    m_pVertical->Hide();
    m_pHorizontal->Bind(wxEVT_SCROLL_LINEUP, [this](wxScrollEvent& e) { OnScrollEvent(e, false); });
    m_pHorizontal->Bind(wxEVT_SCROLL_LINEDOWN, [this](wxScrollEvent& e) { OnScrollEvent(e, false); });
    m_pHorizontal->Bind(wxEVT_SCROLL_PAGEUP, [this](wxScrollEvent& e) { OnScrollEvent(e, false); });
    m_pHorizontal->Bind(wxEVT_SCROLL_PAGEDOWN, [this](wxScrollEvent& e) { OnScrollEvent(e, false); });
    m_pHorizontal->Bind(wxEVT_SCROLL_THUMBRELEASE, [this](wxScrollEvent& e) { OnScrollEvent(e, false); });
    m_pHorizontal->Bind(wxEVT_SCROLL_CHANGED, [this](wxScrollEvent& e) { OnScrollEvent(e, false); });
    m_pVertical->Bind(wxEVT_SCROLL_LINEUP, [this](wxScrollEvent& e) { OnScrollEvent(e, true); });
    m_pVertical->Bind(wxEVT_SCROLL_LINEDOWN, [this](wxScrollEvent& e) { OnScrollEvent(e, true); });
    m_pVertical->Bind(wxEVT_SCROLL_PAGEUP, [this](wxScrollEvent& e) { OnScrollEvent(e, true); });
    m_pVertical->Bind(wxEVT_SCROLL_PAGEDOWN, [this](wxScrollEvent& e) { OnScrollEvent(e, true); });
    m_pVertical->Bind(wxEVT_SCROLL_THUMBRELEASE, [this](wxScrollEvent& e) { OnScrollEvent(e, true); });
    m_pVertical->Bind(wxEVT_SCROLL_CHANGED, [this](wxScrollEvent& e) { OnScrollEvent(e, true); });

    Bind(wxEVT_SIZE, &CMarquenView::OnSize, this);
    Bind(wxEVT_CONTEXT_MENU, [this](wxContextMenuEvent&) {
        wxMenu menu;
        menu.Append(command_table::ToWxId(ID_BACKGROUND_COLOR), "Background color");
        PopupMenu(&menu);
    });
    Bind(wxEVT_MENU, [this](wxCommandEvent&) { OnBackgroundColor(); }, command_table::ToWxId(ID_BACKGROUND_COLOR));
    // Showing a page gives it the keyboard focus, as a click on its tab does.
    m_pTabs->Bind(wxEVT_NOTEBOOK_PAGE_CHANGED, [this](wxBookCtrlEvent& event) {
        if (wxWindow* page = m_pTabs->GetCurrentPage())
            page->SetFocus();
        event.Skip();
    });
    m_app.SetCommView(this);
}

CMarquenView::~CMarquenView()
{
    // The sink must not find a view that is going away.
    if (m_app.FindActiveView() == this)
        m_app.SetCommView(nullptr);
    // The page windows go while the pages' logic still exists: a window being
    // destroyed may still send an event (a lost focus) to its handlers.
    DestroyChildren();
    m_pPages.reset();
}

const PictureFile* CMarquenView::DisplayedPicture() const
{
    const CMarquenDoc* doc = m_app.GetDocument();
    if (doc == nullptr)
        return nullptr;
    const PictureFile* picture = doc->IsShowInput() ? doc->GetInput() : doc->GetOutput();
    if (picture == nullptr || !picture->HasPicture())
        return nullptr;
    return picture;
}

void CMarquenView::OnUpdate(long lHint)
{
    CMarquenDoc* doc = m_app.GetDocument();
    if (doc == nullptr)
        return;
    const PictureFile* picture = ApplyDocumentUpdate(*doc, lHint, m_pPages->PictureInfo());
    if (picture == nullptr)
        return;
    view_logic::Invalidation changed =
        view_logic::InvalidateAfterUpdate(m_repaint, doc->IsShowInput(), static_cast<int>(picture->Width()),
                                          static_cast<int>(picture->Height()), static_cast<int>(picture->OffsetX()),
                                          static_cast<int>(picture->OffsetY()));
    if (changed.wholeClient) {
        Refresh();
        m_pPictureArea->Refresh();
    } else {
        // The rules speak of the view's coordinates; the area starts below the
        // tab control.
        for (const view_logic::Rect& area : changed.areas) {
            wxRect rect(area.x, area.y - view_logic::kTabHeight, area.width, area.height);
            m_pPictureArea->RefreshRect(rect, true);
        }
    }
    ShowStatusPanes(*picture);
    Relayout();
}

void CMarquenView::ShowStatusPanes(const PictureFile& picture)
{
    m_pFrame->SetPaneText(ID_INDICATOR_SIZE,
                          wxString::FromUTF8(view_logic::PictureSizeText(picture.Width(), picture.Height())));
    m_pFrame->SetPaneText(ID_INDICATOR_BYTES, wxString::FromUTF8(view_logic::PictureBytesText(picture.Size())));
}

void CMarquenView::OnSize(wxSizeEvent& event)
{
    Relayout();
    event.Skip();
}

void CMarquenView::Relayout()
{
    wxSize size = GetClientSize();
    if (size.x < 1 || size.y < 1)
        return;
    const PictureFile* picture = DisplayedPicture();
    int width = picture ? static_cast<int>(picture->Width()) : 0;
    int height = picture ? static_cast<int>(picture->Height()) : 0;
    m_layout = view_logic::ComputeViewLayout(size.x, size.y, width, height);
    auto place = [](wxWindow* window, const view_logic::Rect& r) { window->SetSize(r.x, r.y, r.width, r.height); };
    place(m_pTabs, m_layout.tabControl);
    place(m_pVertical, m_layout.verticalBar);
    place(m_pHorizontal, m_layout.horizontalBar);
    place(m_pPictureArea, m_layout.pictureArea);
    m_pPictureArea->Show(m_layout.pictureArea.width > 0 && m_layout.pictureArea.height > 0);

    // The bars run from 0 to the picture's extent; the last position leaves at
    // least one dot in view.
    auto setBar = [](wxScrollBar* bar, const view_logic::ScrollBarState& state, int& position) {
        position = std::clamp(position, 0, std::max(0, state.range + 1 - state.page));
        bar->SetScrollbar(position, state.page, state.range + 1, state.page);
        bar->Show(state.visible);
    };
    setBar(m_pHorizontal, m_layout.horizontal, m_nHorizontal);
    setBar(m_pVertical, m_layout.vertical, m_nVertical);
}

void CMarquenView::OnScrollEvent(wxScrollEvent& event, bool bVertical)
{
    const wxEventType type = event.GetEventType();
    ScrollCode code = ScrollCode::Other;
    if (type == wxEVT_SCROLL_LINEUP)
        code = ScrollCode::LineUp;
    else if (type == wxEVT_SCROLL_LINEDOWN)
        code = ScrollCode::LineDown;
    else if (type == wxEVT_SCROLL_PAGEUP)
        code = ScrollCode::PageUp;
    else if (type == wxEVT_SCROLL_PAGEDOWN)
        code = ScrollCode::PageDown;
    else if (type == wxEVT_SCROLL_THUMBRELEASE || type == wxEVT_SCROLL_CHANGED)
        code = ScrollCode::ThumbPosition;
    Scroll(bVertical, code, event.GetPosition());
}

void CMarquenView::Scroll(bool bVertical, ScrollCode code, int thumb)
{
    const PictureFile* picture = DisplayedPicture();
    if (picture == nullptr)
        return;
    wxScrollBar* bar = bVertical ? m_pVertical : m_pHorizontal;
    int& position = bVertical ? m_nVertical : m_nHorizontal;
    const int limit = static_cast<int>(bVertical ? picture->Height() : picture->Width());
    int next = view_logic::ScrollStep(code, position, limit, thumb);
    // The toolkit's bar stops where its thumb reaches the end.
    next = std::clamp(next, 0, std::max(0, bar->GetRange() - bar->GetThumbSize()));
    position = next;
    bar->SetThumbPosition(position);
    m_pPictureArea->Refresh();
}

void CMarquenView::OnWheel(int delta)
{
    using view_logic::WheelAction;
    switch (view_logic::WheelActionFor(m_pHorizontal->IsShown(), m_pVertical->IsShown(), delta)) {
    case WheelAction::PageLeft:
        Scroll(false, ScrollCode::PageUp);
        break;
    case WheelAction::PageRight:
        Scroll(false, ScrollCode::PageDown);
        break;
    case WheelAction::PageUp:
        Scroll(true, ScrollCode::PageUp);
        break;
    case WheelAction::PageDown:
        Scroll(true, ScrollCode::PageDown);
        break;
    case WheelAction::None:
        break;
    }
}

void CMarquenView::DrawPicture(wxDC& dc, const wxSize& size)
{
    PaintPicture(dc, size, ColourFromSetting(m_app.m_crBackground), DisplayedPicture(), m_nHorizontal, m_nVertical);
}

bool CMarquenView::FilterKey(const wxKeyEvent& event)
{
    const int key = event.GetKeyCode();
    if (key == WXK_TAB && event.ControlDown()) {
        AdvancePage(!event.ShiftDown());
        return true;
    }
    // The pages are dialogs: Enter and Escape would close them or press a
    // button of theirs.
    return key == WXK_RETURN || key == WXK_NUMPAD_ENTER || key == WXK_ESCAPE;
}

void CMarquenView::AdvancePage(bool bForward)
{
    int count = static_cast<int>(m_pTabs->GetPageCount());
    if (count == 0)
        return;
    int current = m_pTabs->GetSelection();
    int next = ((current < 0 ? 0 : current) + (bForward ? 1 : count - 1)) % count;
    m_pTabs->SetSelection(next);
    if (wxWindow* page = m_pTabs->GetCurrentPage())
        page->SetFocus();
}

std::optional<wxColour> CMarquenView::RunColourDialog(wxWindow* parent, const wxColour& current)
{
    wxColourData data;
    data.SetChooseFull(true);
    data.SetColour(current);
    wxColourDialog dialog(parent, &data);
    if (dialog.ShowModal() != wxID_OK)
        return std::nullopt;
    return dialog.GetColourData().GetColour();
}

void CMarquenView::OnBackgroundColor()
{
    std::optional<wxColour> chosen = m_colourChooser(this, ColourFromSetting(m_app.m_crBackground));
    if (!chosen)
        return;
    m_app.m_crBackground = SettingFromColour(*chosen);
    SetBackgroundColour(ColourFromSetting(m_app.m_crBackground));
    Refresh();
    m_pPictureArea->Refresh();
}

LRESULT CMarquenView::SendCommMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COMM_BYTES || message == WM_COMM_PROGRESS || message == WM_COMM_ERROR)
        return m_pPages->CommMessages().SendCommMessage(message, wParam, lParam);
    return 0;
}
