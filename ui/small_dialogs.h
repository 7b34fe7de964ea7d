#pragma once
// The program's small dialogs: the About box, the dialog offered when no
// program opens the user manual (with its hyperlink), and the Save As file
// dialog. Everything here runs on the user-interface thread.
#include "document_views.h"

#include <wx/dialog.h>
#include <wx/hyperlink.h>

#include <optional>
#include <string>

/// Control id of the hyperlink line of CHelpReaderDlg.
inline constexpr int IDC_HELP_LINK = 1071;
/// The page offered for a PDF reader when the profile names none.
inline constexpr const char* kDefaultReaderSite = "https://get.adobe.com/reader/";

/// A hyperlink line: dark blue text, the hand cursor over it, underlined while
/// the pointer is on it; a click (or Enter or Space when it has the focus)
/// opens the address in the user's browser.
class CHyperlink : public wxGenericHyperlinkCtrl {
public:
    CHyperlink(wxWindow* parent, wxWindowID id, const wxString& url);
    /// Whether it is drawn underlined now.
    bool IsUnderlined() const { return GetFont().GetUnderlined(); }
    /// The pointer entered or left the control.
    void SetHover(bool bHover);
};

/// "Marquen": no program opens "user manual.pdf". "Continue" (wxID_OK) asks
/// again, "Abort" (wxID_CANCEL) gives up.
class CHelpReaderDlg : public wxDialog {
public:
    CHelpReaderDlg(wxWindow* parent, const wxString& url);
    CHyperlink* Link() { return m_pLink; }
    wxString m_strUrl;

private:
    CHyperlink* m_pLink = nullptr;
};

/// "About Marquen": the program's icon, "Marquen version 1.0" and OK.
class CAboutDlg : public wxDialog {
public:
    explicit CAboutDlg(wxWindow* parent);
};

/// The Save As dialog: one file type (the output type), which the user cannot
/// change; the default extension is added to a name typed without one, and
/// replacing an existing file is confirmed (also when the extension added
/// names one).
class CSaveDlg {
public:
    CSaveDlg(wxWindow* parent, const SaveDialogRequest& request);
    /// Runs the dialog modally; the chosen path, or nothing when cancelled.
    std::optional<std::string> Run();
    /// The toolkit's wildcard for a filter text: the description alone, listing
    /// every file, as the one entry of the type list.
    static wxString Wildcard(const SaveDialogRequest& request);

private:
    wxWindow* m_pParent;
    SaveDialogRequest m_request;
};
