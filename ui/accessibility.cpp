#include "accessibility.h"

#include <dlfcn.h>
#include <wx/string.h>
#include <wx/window.h>

namespace {

// GTK and ATK are loaded with wxWidgets' GTK port; their two functions are
// looked up at run time so the build needs no GTK development headers.
using GetAccessibleFn = void* (*)(void* widget);
using SetNameFn = void (*)(void* accessible, const char* name);
using GetNameFn = const char* (*)(void* accessible);

struct AtkFunctions {
    GetAccessibleFn getAccessible = nullptr;
    SetNameFn setName = nullptr;
    GetNameFn getName = nullptr;
};

const AtkFunctions& Functions()
{
    static const AtkFunctions functions = [] {
        AtkFunctions f;
        f.getAccessible = reinterpret_cast<GetAccessibleFn>(dlsym(RTLD_DEFAULT, "gtk_widget_get_accessible"));
        f.setName = reinterpret_cast<SetNameFn>(dlsym(RTLD_DEFAULT, "atk_object_set_name"));
        f.getName = reinterpret_cast<GetNameFn>(dlsym(RTLD_DEFAULT, "atk_object_get_name"));
        return f;
    }();
    return functions;
}

void* AccessibleOf(wxWindow* window)
{
    const AtkFunctions& f = Functions();
    if (window == nullptr || f.getAccessible == nullptr)
        return nullptr;
    void* widget = window->GetHandle();
    return widget != nullptr ? f.getAccessible(widget) : nullptr;
}

}  // namespace

void SetAccessibleName(wxWindow* window, const wxString& name)
{
    void* accessible = AccessibleOf(window);
    if (accessible != nullptr && Functions().setName != nullptr)
        Functions().setName(accessible, name.utf8_str().data());
}

wxString GetAccessibleName(wxWindow* window)
{
    void* accessible = AccessibleOf(window);
    if (accessible == nullptr || Functions().getName == nullptr)
        return {};
    const char* name = Functions().getName(accessible);
    return name != nullptr ? wxString::FromUTF8(name) : wxString();
}
