#pragma once
// The three tab pages of the view, as the view sees them. The view creates
// them once, as children of its tab control, and from then on only shows,
// hides and sizes them; what happens inside a page is the page's own
// business. Everything here runs on the user-interface thread.
#include "comm_event_sink.h"
#include "document_views.h"

#include <memory>
#include <string>

class CMarquenApp;
class wxString;
class wxWindow;

/// Tab order of the pages.
inline constexpr int kPictureInfoPageIndex = 0;
inline constexpr int kDownloadPageIndex = 1;
inline constexpr int kCommunicationPageIndex = 2;
inline constexpr int kViewPageCount = 3;

class IViewPages {
public:
    virtual ~IViewPages() = default;

    /// The page window at a tab index (0 to 2); a child of the tab control.
    virtual wxWindow* Page(int nIndex) = 0;
    /// The page's caption, the text of its tab: "Picture Info", "Download",
    /// "Communication".
    virtual wxString Caption(int nIndex) = 0;

    /// The "Picture Info" page, for the view's update and the document.
    virtual IPictureInfoPage& PictureInfo() = 0;
    /// The "Download" page's handlers of WM_COMM_BYTES, WM_COMM_PROGRESS and
    /// WM_COMM_ERROR; the view forwards the event sink's messages to it.
    virtual ICommMessageTarget& CommMessages() = 0;
    /// WM_OUTPUT_SAVED: the document saved its output picture as path.
    virtual void OnOutputSaved(const std::string& path) = 0;

    /// Whether a download or an upload is running.
    virtual bool IsTransferBusy() = 0;
    /// Ends a running transfer at once (the frame is closing): the printer is
    /// told nothing more, the object's writer is stopped, the array released.
    virtual void AbortTransfer() = 0;
};

/// Creates the three pages as children of tabControl (a wxNotebook); the view
/// adds them as its tabs, in index order. app must outlive the pages.
std::unique_ptr<IViewPages> CreateViewPages(wxWindow* tabControl, CMarquenApp& app);
