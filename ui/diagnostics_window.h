#pragma once
// The diagnostics a user can see: the libraries' recent diagnostics in a small
// read-only window (time, level, message), reached from the About box, with a
// Copy button for a report. Diagnostics may be reported on any thread; the
// handler installed here only asks the user-interface thread to look at the
// log again, and the window reads it there.
#include "diagnostics/diagnostics.h"

#include <wx/dialog.h>

#include <cstdint>
#include <string>

class wxTextCtrl;

/// Control ids of the diagnostics window and of the About box's button.
inline constexpr int IDC_DIAGNOSTICS_TEXT = 1080;
inline constexpr int IDC_DIAGNOSTICS_COPY = 1081;
inline constexpr int IDC_SHOW_DIAGNOSTICS = 1082;

/// One line of the window: "HH:MM:SS.mmm level message", local time.
std::string FormatDiagnostic(const marquen::diagnostics::Entry& entry);

/// Installs the program's diagnostic handler for the object's life (one at a
/// time): each diagnostic reaches an open diagnostics window on the
/// user-interface thread. Made and destroyed on the user-interface thread,
/// while the toolkit's application object exists.
class CDiagnosticsHandler {
public:
    CDiagnosticsHandler();
    ~CDiagnosticsHandler();
    CDiagnosticsHandler(const CDiagnosticsHandler&) = delete;
    CDiagnosticsHandler& operator=(const CDiagnosticsHandler&) = delete;
};

/// "Diagnostics": the recent diagnostics, oldest first, kept current while it
/// is open; Copy puts its text on the clipboard, Close ends it.
class CDiagnosticsDlg : public wxDialog {
public:
    explicit CDiagnosticsDlg(wxWindow* parent);
    ~CDiagnosticsDlg() override;

    /// Adds the diagnostics reported since the last look. User-interface
    /// thread only.
    void AppendNew();
    /// Puts the whole text on the clipboard; false when the clipboard cannot
    /// be opened.
    bool CopyToClipboard();
    wxTextCtrl* Text() const { return m_pText; }
    /// The window open now, if any (user-interface thread only).
    static CDiagnosticsDlg* Open() { return s_pOpen; }

private:
    wxTextCtrl* m_pText;
    uint64_t m_nLastSequence = 0;
    static CDiagnosticsDlg* s_pOpen;
};
