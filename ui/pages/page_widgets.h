#pragma once
// What the three pages share when they build their controls: the pixel sizes
// of their "dialog template", edit fields that swallow Enter, the pages' font
// and background, and the bridge between a control's rectangle and the pure
// layouts. User-interface thread only.
#include "page_layout.h"

#include <wx/gdicmn.h>

#include <initializer_list>
#include <utility>

class wxChoice;
class wxPanel;
class wxStaticText;
class wxString;
class wxTextCtrl;
class wxWindow;

namespace page_widgets {

// Heights the controls are given. GTK draws an entry and a drop-down list
// readable at these heights with the pages' font; they keep the five rows of
// the "Picture Info" page and the "Communication" page inside the 200-pixel
// tab control.
inline constexpr int kEditHeight = 24;
inline constexpr int kListHeight = 30;
inline constexpr int kButtonHeight = 30;
inline constexpr int kLabelHeight = 18;

/// The pages' font (one point smaller than the desktop's, as dialog pages
/// are) and the button-face background every page and its static controls use.
void PreparePage(wxPanel* page);

/// A single-line edit field. Enter in it is consumed: it presses no default
/// button and closes nothing. disabled: created disabled.
wxTextCtrl* MakeEdit(wxWindow* parent, int id, const wxRect& rect, const wxString& accessibleName,
                     bool disabled = false);

/// A static text whose text sits in the middle of its rectangle's height, so
/// that it lines up with the field beside it at any height the layout gives.
wxStaticText* MakeLabel(wxWindow* parent, int id, const wxString& text, const wxRect& rect);

/// Makes label's font smaller, down to 6 points, until its text fits width.
void ShrinkToFit(wxStaticText* label, int width);

/// Selects nIndex in list, or nothing when nIndex is not an entry's index.
void SelectIndex(wxChoice* list, int nIndex);

page_layout::Rect ToLayout(const wxRect& rect);
wxRect FromLayout(const page_layout::Rect& rect);

/// Control id and the layout rectangle it reads from and writes to.
using RectBinding = std::pair<int, page_layout::Rect*>;

/// Copies the rectangles of the page's controls into their layout rectangles.
void ReadRects(wxWindow* page, std::initializer_list<RectBinding> bindings);
/// Moves the page's controls to their layout rectangles.
void WriteRects(wxWindow* page, std::initializer_list<RectBinding> bindings);

}  // namespace page_widgets
