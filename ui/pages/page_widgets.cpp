#include "page_widgets.h"

#include "accessibility.h"

#include <wx/choice.h>
#include <wx/panel.h>
#include <wx/settings.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <dlfcn.h>

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

wxStaticText* MakeLabel(wxWindow* parent, int id, const wxString& text, const wxRect& rect)
{
    auto* label = new wxStaticText(parent, id, text, rect.GetPosition(), rect.GetSize(), wxST_NO_AUTORESIZE);
    // wxWidgets puts a label's text at the top; GTK centres it when asked.
    // Looked up at run time, as the accessibility calls are.
    using SetYAlignFn = void (*)(void* label, float yalign);
    static const auto setYAlign = reinterpret_cast<SetYAlignFn>(dlsym(RTLD_DEFAULT, "gtk_label_set_yalign"));
    if (setYAlign != nullptr && label->GetHandle() != nullptr)
        setYAlign(label->GetHandle(), 0.5F);
    return label;
}

void ShrinkToFit(wxStaticText* label, int width)
{
    wxFont font = label->GetFont();
    while (font.GetPointSize() > 6 && label->GetTextExtent(label->GetLabel()).x > width) {
        font.SetPointSize(font.GetPointSize() - 1);
        label->SetFont(font);
    }
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
