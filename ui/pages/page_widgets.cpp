#include "page_widgets.h"

#include "accessibility.h"

#include <wx/choice.h>
#include <wx/panel.h>
#include <wx/settings.h>
#include <wx/textctrl.h>

namespace page_widgets {

void PreparePage(wxPanel* page)
{
    wxFont font = wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT);
    if (font.GetPointSize() > 8)
        font.SetPointSize(font.GetPointSize() - 1);
    page->SetFont(font);
    page->SetBackgroundColour(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE));
}

wxTextCtrl* MakeEdit(wxWindow* parent, int id, const wxRect& rect, const wxString& accessibleName, bool disabled)
{
    auto* edit = new wxTextCtrl(parent, id, wxEmptyString, rect.GetPosition(), rect.GetSize(), wxTE_PROCESS_ENTER);
    edit->Bind(wxEVT_TEXT_ENTER, [](wxCommandEvent&) {});
    if (disabled)
        edit->Disable();
    SetAccessibleName(edit, accessibleName);
    return edit;
}

void SelectIndex(wxChoice* list, int nIndex)
{
    if (nIndex >= 0 && static_cast<unsigned>(nIndex) < list->GetCount())
        list->SetSelection(nIndex);
    else
        list->SetSelection(wxNOT_FOUND);
}

page_layout::Rect ToLayout(const wxRect& rect)
{
    return {rect.x, rect.y, rect.width, rect.height};
}

wxRect FromLayout(const page_layout::Rect& rect)
{
    return {rect.x, rect.y, rect.width, rect.height};
}

void ReadRects(wxWindow* page, std::initializer_list<RectBinding> bindings)
{
    for (const RectBinding& binding : bindings) {
        if (wxWindow* control = page->FindWindow(binding.first))
            *binding.second = ToLayout(control->GetRect());
    }
}

void WriteRects(wxWindow* page, std::initializer_list<RectBinding> bindings)
{
    for (const RectBinding& binding : bindings) {
        wxWindow* control = page->FindWindow(binding.first);
        if (control != nullptr && control->GetRect() != FromLayout(*binding.second))
            control->SetSize(FromLayout(*binding.second));
    }
}

}  // namespace page_widgets
