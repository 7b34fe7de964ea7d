#pragma once
// Accessible names for controls that have no text of their own (edit fields,
// drop-down lists, spin buttons, the progress bar, the picture area). GTK
// exposes a wxWidgets control to screen readers through the native widget's
// ATK object; a labelled-by relation gives it no name, so the name is set on
// that object directly. Call on the user-interface thread.
class wxString;
class wxWindow;

/// Sets the accessible name of window's native widget. Does nothing when the
/// window has no native widget or the toolkit's accessibility functions are
/// not there (a program started with the bridge missing still runs).
void SetAccessibleName(wxWindow* window, const wxString& name);

/// The accessible name last set on window's native widget; empty when none
/// was set or it cannot be read. Tests read the names back through it.
wxString GetAccessibleName(wxWindow* window);
