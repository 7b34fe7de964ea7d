#pragma once
// The import dialog: how a colour or grey picture becomes printer dots
// (dithering method, threshold, fit width, invert, brightness, contrast),
// with a preview of the dots at 1:1 that follows every change. Also the
// desktop's answer to the document's import question, and the store of the
// last choices in the user's profile (group "Import").
#include "import_question.h"

#include <wx/dialog.h>

#include <functional>

class wxCheckBox;
class wxChoice;
class wxConfigBase;
class wxScrolledWindow;
class wxSpinCtrl;
class wxStaticBitmap;
class wxStaticText;

/// Control ids of the import dialog.
namespace import_dialog_ids {
inline constexpr int IDC_IMPORT_METHOD = 1200;
inline constexpr int IDC_IMPORT_THRESHOLD = 1201;
inline constexpr int IDC_IMPORT_FIT_WIDTH = 1202;
inline constexpr int IDC_IMPORT_INVERT = 1203;
inline constexpr int IDC_IMPORT_BRIGHTNESS = 1204;
inline constexpr int IDC_IMPORT_CONTRAST = 1205;
inline constexpr int IDC_IMPORT_PREVIEW = 1206;
inline constexpr int IDC_IMPORT_SIZE = 1207;
}  // namespace import_dialog_ids

class CImportDlg : public wxDialog {
public:
    /// preview must outlive the dialog.
    CImportDlg(wxWindow* parent, const ImportRequest& request, const ImportOptions& initial);

    /// The choices the controls hold now.
    ImportOptions GetOptions() const;
    /// The dots the preview shows now (empty bits before the first preview or
    /// after a failure).
    const ImportedPicture& PreviewDots() const { return m_dots; }
    /// Milliseconds the last preview update took, from the change to the new
    /// bitmap on screen (the dots computed and the bitmap made).
    double LastPreviewMilliseconds() const { return m_lastPreviewMs; }
    /// Recomputes the preview from the controls; called on every change.
    void UpdatePreview();

private:
    void EnableThreshold();

    ImportPreview& m_preview;
    ImportedPicture m_dots;
    double m_lastPreviewMs = 0.0;
    wxChoice* m_pMethod = nullptr;
    wxSpinCtrl* m_pThreshold = nullptr;
    wxChoice* m_pFitWidth = nullptr;
    wxCheckBox* m_pInvert = nullptr;
    wxSpinCtrl* m_pBrightness = nullptr;
    wxSpinCtrl* m_pContrast = nullptr;
    wxStaticText* m_pSize = nullptr;
    wxScrolledWindow* m_pPreviewArea = nullptr;
    wxStaticBitmap* m_pPreviewBitmap = nullptr;
};

/// The document's import question, answered with CImportDlg over parent.
class CWxImportQuestion : public IImportQuestion {
public:
    /// parent() gives the window the dialog belongs to (may give null).
    explicit CWxImportQuestion(std::function<wxWindow*()> parent) : m_parent(std::move(parent)) {}
    std::optional<ImportOptions> AskImportOptions(const ImportRequest& request,
                                                  const ImportOptions& initial) override;
    /// Runs before the dialog is built (the application ends its wait dialog
    /// there, so that nothing covers the question at start-up).
    std::function<void()> m_beforeShow;
    /// Called with the dialog once it is built, before it is shown modally
    /// (tests drive it from there).
    std::function<void(CImportDlg&)> m_onShow;

private:
    std::function<wxWindow*()> m_parent;
};

/// The last choices kept in the profile, group "Import": "Method" (the
/// method's name), "Threshold", "Fit width", "Invert", "Brightness",
/// "Contrast". Written to the profile file at once.
class CProfileImportStore : public IImportSettingsStore {
public:
    /// profile() gives the opened profile; flush() writes it out.
    CProfileImportStore(std::function<wxConfigBase&()> profile, std::function<void()> flush)
        : m_profile(std::move(profile)), m_flush(std::move(flush))
    {
    }
    ImportOptions LoadImportOptions() override;
    void SaveImportOptions(const ImportOptions& options) override;

private:
    std::function<wxConfigBase&()> m_profile;
    std::function<void()> m_flush;
};
