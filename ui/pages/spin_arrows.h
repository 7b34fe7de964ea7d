#pragma once
// CSpinArrows: a narrow up-down control that steps the integer in the edit
// field beside it (its buddy), as the pages' spin buttons do. GTK's own spin
// button needs room for a field and two buttons side by side (about 70
// pixels); the pages have 15. Clicking the upper or lower half steps the
// value by one (held down, it repeats); with the keyboard focus, Up and Down
// (or + and -) do the same. The buddy's text is set, so its text-change
// handler runs as if the user had typed the value. User-interface thread only.
#include <wx/control.h>
#include <wx/timer.h>

class wxTextCtrl;

class CSpinArrows : public wxControl {
public:
    /// Steps buddy's value within nMin to nMax; a buddy that does not hold an
    /// integer steps from nStart.
    CSpinArrows(wxWindow* parent, wxWindowID id, const wxRect& rect, wxTextCtrl* buddy, int nMin, int nMax,
                int nStart);

    /// Steps by nDelta (+1 up, -1 down) from the buddy's value, clamped to the range.
    void Step(int nDelta);
    int GetMin() const { return m_nMin; }
    int GetMax() const { return m_nMax; }

    bool AcceptsFocus() const override { return IsEnabled(); }
    bool AcceptsFocusFromKeyboard() const override { return IsEnabled(); }

protected:
    wxSize DoGetBestSize() const override { return wxSize(15, 24); }

private:
    void OnPaint(wxPaintEvent& event);
    void OnMouseDown(wxMouseEvent& event);
    void OnMouseUp(wxMouseEvent& event);
    void OnRepeat(wxTimerEvent& event);
    void OnKeyDown(wxKeyEvent& event);
    void OnFocusChange(wxFocusEvent& event);

    wxTextCtrl* m_buddy;
    int m_nMin;
    int m_nMax;
    int m_nStart;
    int m_nHeldDelta = 0;
    wxTimer m_repeat;
};
