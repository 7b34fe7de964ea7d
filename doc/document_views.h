#pragma once
// The window side of the document: the view that draws the displayed picture,
// the "Picture Info" page that holds the output parameters, the broadcast of a
// saved path, and the Save As dialog. The desktop layer implements these
// interfaces with its windows; tests bind them to recording fakes.
// Everything here runs on the user-interface thread.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class CMarquenDoc;
class PictureFile;

/// The six values the view takes from the "Picture Info" page when it rebuilds
/// the output picture. The page keeps them as plain integers: the type is the
/// output-type list index (-1 before a picture was shown), the offsets may be
/// negative (the window then starts left of or above the input picture).
struct OutputPictureParameters {
    int type = -1;
    std::string path;
    int width = 0;
    int height = 0;
    int offsetX = 0;
    int offsetY = 0;
};

/// The "Picture Info" page as the view and the document see it.
class IPictureInfoPage {
public:
    virtual ~IPictureInfoPage() = default;

    /// The page's current output type, output path, width, height and offsets.
    virtual OutputPictureParameters GetOutputParameters() = 0;
    /// Called whenever the view shows a picture. With bNewInput the page takes
    /// the picture's type, path, width and height as the initial output values
    /// and writes the output type into the document.
    virtual void ShowPictureInfo(const PictureFile& picture, bool bNewInput) = 0;
};

/// What the Save As dialog is asked to do. The dialog lists the one filter
/// (description only, no pattern), keeps the user from changing the type, and
/// appends the default extension to a name typed without one.
struct SaveDialogRequest {
    std::string initialFileName;   ///< empty: no name suggested
    std::string filterText;        ///< e.g. "LOGO (*.log)"
    std::string defaultExtension;  ///< without the dot, e.g. "log"
    bool overwritePrompt = true;   ///< ask before replacing an existing file
    bool hideReadOnly = true;      ///< no read-only check box
};

/// The windows the document talks to.
class IDocumentWindows {
public:
    virtual ~IDocumentWindows() = default;

    /// Tells every view that a picture changed (HINT_INPUT_PICTURE or
    /// HINT_OUTPUT_PICTURE). A view answers with ApplyDocumentUpdate.
    virtual void UpdateAllViews(long lHint) = 0;
    /// WM_OUTPUT_SAVED to every window below the main frame, at all depths, with
    /// the saved path; the string is valid during the call only.
    virtual void SendOutputSaved(const std::string& path) = 0;
    /// Runs the Save As dialog modally; the chosen path (default extension
    /// applied), or nothing when the user cancels.
    virtual std::optional<std::string> RunSaveDialog(const SaveDialogRequest& request) = 0;
};

/// The document's part of a view's update: ignores a hint that does not match
/// the displayed picture; for the output picture, rebuilds it from the page's
/// values when it is stale and clears the stale flag when that works; then
/// hands the picture and the new-input flag to the page. Returns the picture
/// the view must now draw, or null when there is nothing to draw (the view
/// then leaves its display as it is).
const PictureFile* ApplyDocumentUpdate(CMarquenDoc& doc, long lHint, IPictureInfoPage& page);

/// path with "." + extension appended when its file name has no extension;
/// unchanged otherwise, and when extension is empty.
std::string ApplyDefaultExtension(std::string path, std::string_view extension);
