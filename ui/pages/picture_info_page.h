#pragma once
// CPictureInfoPage: the "Picture Info" tab page. The left half shows the
// facts of the input picture; the right half holds the output picture's
// parameters (type, path, width, height, offsets), which the view reads when
// it rebuilds the output picture. A change of width, height or an offset
// rebuilds the output at once; a change of type is only recorded in the
// document. User-interface thread only.
#include "document_views.h"

#include <wx/panel.h>

#include <string>

class CMarquenApp;
class wxChoice;
class wxTextCtrl;

// Control ids of the page.
inline constexpr int IDC_INPUT_FILE = 1000;
inline constexpr int IDC_INPUT_FRAME = 1001;
inline constexpr int IDC_OUTPUT_FRAME = 1002;
inline constexpr int IDC_INPUT_TYPE = 1003;
inline constexpr int IDC_INPUT_SIZE = 1004;
inline constexpr int IDC_INPUT_WIDTH = 1005;
inline constexpr int IDC_INPUT_HEIGHT = 1006;
inline constexpr int IDC_OPEN_BROWSE = 1007;
inline constexpr int IDC_OUTPUT_FILE = 1008;
inline constexpr int IDC_OUTPUT_TYPE = 1009;
inline constexpr int IDC_OUTPUT_TYPE_LABEL = 1010;
inline constexpr int IDC_OUTPUT_SIZE = 1011;
inline constexpr int IDC_OUTPUT_SIZE_LABEL = 1012;
inline constexpr int IDC_OUTPUT_BYTES_LABEL = 1013;
inline constexpr int IDC_OUTPUT_WIDTH = 1014;
inline constexpr int IDC_OUTPUT_HEIGHT = 1015;
inline constexpr int IDC_OFFSET_X_LABEL = 1016;
inline constexpr int IDC_OFFSET_Y_LABEL = 1017;
inline constexpr int IDC_OUTPUT_WIDTH_LABEL = 1018;
inline constexpr int IDC_OUTPUT_HEIGHT_LABEL = 1019;
inline constexpr int IDC_OFFSET_X = 1020;
inline constexpr int IDC_OFFSET_Y = 1021;
inline constexpr int IDC_OUTPUT_WIDTH_SPIN = 1022;
inline constexpr int IDC_OUTPUT_HEIGHT_SPIN = 1023;
inline constexpr int IDC_OFFSET_X_SPIN = 1024;
inline constexpr int IDC_OFFSET_Y_SPIN = 1025;
inline constexpr int IDC_SAVE_AS_BROWSE = 1026;

namespace picture_info_strings {
inline constexpr const char* kUnknownOutputType = "Error - unknown output type.";  // 61211
/// The range prompt of the width and height fields.
inline constexpr const char* kRangePrompt = "Please enter an integer between 0 and 1000.";
inline constexpr const char* kIntegerPrompt = "Please enter an integer.";
inline constexpr int kMinSize = 0;
inline constexpr int kMaxSize = 1000;
}  // namespace picture_info_strings

class CPictureInfoPage : public wxPanel, public IPictureInfoPage {
public:
    /// app must outlive the page.
    CPictureInfoPage(wxWindow* parent, CMarquenApp& app);

    // --- IPictureInfoPage ---------------------------------------------------------
    OutputPictureParameters GetOutputParameters() override;
    void ShowPictureInfo(const PictureFile& picture, bool bNewInput) override;

    /// The document saved its output picture as path: the output path field
    /// takes it.
    void OnOutputSaved(const std::string& path);

    /// Reads the controls into the fields in their order (type, path, offsets,
    /// height, width). Stops at the first field that does not hold an integer
    /// of its range, after the prompt; false then. A field left empty (or
    /// holding only a sign) while the user types stops the read silently.
    bool ReadControls();
    /// Puts the fields into the controls.
    void PutControls();

    // --- Fields ------------------------------------------------------------------------
    int m_nOutputType = -1;
    std::string m_strOutputFile;
    int m_nOffsetX = 0;
    int m_nOffsetY = 0;
    int m_nHeight = 0;
    int m_nWidth = 0;

private:
    void CreateControls();
    void OnSizeOrOffsetChange(wxCommandEvent& event);
    void OnOutputTypeChange(wxCommandEvent& event);
    void OnPageSize(wxSizeEvent& event);
    void PostToMainWindow(int commandId);
    void ShowMessage(const std::string& text);
    /// Reads one integer field; see ReadControls.
    bool ReadInteger(int id, int& value, bool bRangeChecked);
    void SetOutputDocumentType();

    CMarquenApp& m_app;
    wxChoice* m_outputType = nullptr;
    /// Set while the page itself puts values into the fields.
    bool m_bPutting = false;
    /// The field whose text change is being handled; wxID_NONE otherwise.
    int m_nEditingId = wxID_NONE;
};
