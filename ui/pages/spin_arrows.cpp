#include "spin_arrows.h"

#include <wx/dcbuffer.h>
#include <wx/renderer.h>
#include <wx/settings.h>
#include <wx/textctrl.h>

#include <dlfcn.h>

#include <algorithm>

namespace {

/// Tells screen readers that the control is a spin button (GTK would call a
/// drawn control a panel). The toolkit's functions are looked up at run time,
/// as for the accessible names; without them nothing happens.
void SetSpinButtonRole(wxWindow* window)
{
    using GetAccessibleFn = void* (*)(void* widget);
    using RoleForNameFn = int (*)(const char* name);
    using SetRoleFn = void (*)(void* accessible, int role);
    static const auto getAccessible =
        reinterpret_cast<GetAccessibleFn>(dlsym(RTLD_DEFAULT, "gtk_widget_get_accessible"));
    static const auto roleForName = reinterpret_cast<RoleForNameFn>(dlsym(RTLD_DEFAULT, "atk_role_for_name"));
    static const auto setRole = reinterpret_cast<SetRoleFn>(dlsym(RTLD_DEFAULT, "atk_object_set_role"));
    if (getAccessible == nullptr || roleForName == nullptr || setRole == nullptr || window->GetHandle() == nullptr)
        return;
    const int role = roleForName("spin button");
    void* accessible = getAccessible(window->GetHandle());
    if (role != 0 && accessible != nullptr)
        setRole(accessible, role);
}

// First repeat after the usual keyboard delay, then a steady rate.
constexpr int kFirstRepeatMs = 400;
constexpr int kRepeatMs = 80;

}  // namespace

CSpinArrows::CSpinArrows(wxWindow* parent, wxWindowID id, const wxRect& rect, wxTextCtrl* buddy, int nMin, int nMax,
                         int nStart)
    : wxControl(parent, id, rect.GetPosition(), rect.GetSize(), wxBORDER_NONE | wxWANTS_CHARS),
      m_buddy(buddy),
      m_nMin(nMin),
      m_nMax(nMax),
      m_nStart(nStart),
      m_repeat(this)
{
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    Bind(wxEVT_PAINT, &CSpinArrows::OnPaint, this);
    Bind(wxEVT_LEFT_DOWN, &CSpinArrows::OnMouseDown, this);
    Bind(wxEVT_LEFT_DCLICK, &CSpinArrows::OnMouseDown, this);
    Bind(wxEVT_LEFT_UP, &CSpinArrows::OnMouseUp, this);
    Bind(wxEVT_MOUSE_CAPTURE_LOST, [this](wxMouseCaptureLostEvent&) { m_repeat.Stop(); m_nHeldDelta = 0; });
    Bind(wxEVT_TIMER, &CSpinArrows::OnRepeat, this);
    Bind(wxEVT_KEY_DOWN, &CSpinArrows::OnKeyDown, this);
    Bind(wxEVT_SET_FOCUS, &CSpinArrows::OnFocusChange, this);
    Bind(wxEVT_KILL_FOCUS, &CSpinArrows::OnFocusChange, this);
    SetSpinButtonRole(this);
}

void CSpinArrows::Step(int nDelta)
{
    if (m_buddy == nullptr || !IsEnabled())
        return;
    long value = 0;
    if (!m_buddy->GetValue().ToLong(&value))
        value = m_nStart;
    value = std::clamp<long>(value + nDelta, m_nMin, m_nMax);
    m_buddy->SetValue(wxString::Format("%ld", value));
}

void CSpinArrows::OnPaint(wxPaintEvent&)
{
    wxAutoBufferedPaintDC dc(this);
    const wxSize size = GetClientSize();
    const bool enabled = IsEnabled();
    dc.SetBackground(wxBrush(GetParent()->GetBackgroundColour()));
    dc.Clear();
    const int half = size.y / 2;
    wxRendererNative& renderer = wxRendererNative::Get();
    const int pressed = wxCONTROL_PRESSED;
    const int disabled = wxCONTROL_DISABLED;
    const int upFlags = enabled ? (m_nHeldDelta > 0 ? pressed : 0) : disabled;
    const int downFlags = enabled ? (m_nHeldDelta < 0 ? pressed : 0) : disabled;
    renderer.DrawPushButton(this, dc, wxRect(0, 0, size.x, half), upFlags);
    renderer.DrawPushButton(this, dc, wxRect(0, half, size.x, size.y - half), downFlags);

    const wxColour arrow = wxSystemSettings::GetColour(enabled ? wxSYS_COLOUR_BTNTEXT : wxSYS_COLOUR_GRAYTEXT);
    dc.SetBrush(wxBrush(arrow));
    dc.SetPen(wxPen(arrow));
    const int cx = size.x / 2;
    const int w = std::max(2, std::min(size.x / 2 - 2, half / 2));
    const int upY = half / 2;
    const int downY = half + (size.y - half) / 2;
    const wxPoint up[] = {{cx - w, upY + w / 2}, {cx + w, upY + w / 2}, {cx, upY - w / 2}};
    const wxPoint down[] = {{cx - w, downY - w / 2}, {cx + w, downY - w / 2}, {cx, downY + w / 2}};
    dc.DrawPolygon(3, up);
    dc.DrawPolygon(3, down);
    if (HasFocus())
        renderer.DrawFocusRect(this, dc, wxRect(size).Deflate(1));
}

void CSpinArrows::OnMouseDown(wxMouseEvent& event)
{
    if (!IsEnabled())
        return;
    SetFocus();
    m_nHeldDelta = event.GetY() < GetClientSize().y / 2 ? 1 : -1;
    if (!HasCapture())
        CaptureMouse();
    Step(m_nHeldDelta);
    m_repeat.StartOnce(kFirstRepeatMs);
    Refresh();
}

void CSpinArrows::OnMouseUp(wxMouseEvent&)
{
    m_repeat.Stop();
    m_nHeldDelta = 0;
    if (HasCapture())
        ReleaseMouse();
    Refresh();
}

void CSpinArrows::OnRepeat(wxTimerEvent&)
{
    if (m_nHeldDelta == 0)
        return;
    Step(m_nHeldDelta);
    m_repeat.StartOnce(kRepeatMs);
}

void CSpinArrows::OnKeyDown(wxKeyEvent& event)
{
    switch (event.GetKeyCode()) {
    case WXK_UP:
    case WXK_NUMPAD_UP:
    case '+':
    case WXK_NUMPAD_ADD:
        Step(1);
        return;
    case WXK_DOWN:
    case WXK_NUMPAD_DOWN:
    case '-':
    case WXK_NUMPAD_SUBTRACT:
        Step(-1);
        return;
    case WXK_TAB:
        Navigate(event.ShiftDown() ? wxNavigationKeyEvent::IsBackward : wxNavigationKeyEvent::IsForward);
        return;
    default:
        event.Skip();
    }
}

void CSpinArrows::OnFocusChange(wxFocusEvent& event)
{
    Refresh();
    event.Skip();
}
