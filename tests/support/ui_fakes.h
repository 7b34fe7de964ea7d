#pragma once
// Recording fakes of the interfaces through which the document, the
// application object and the printer commands reach the desktop: message
// boxes, the status line, the view with its "Picture Info" page, and the
// Save As dialog. They keep what they were asked, answer what the test set,
// and model the page and the view as far as the document relies on them.
#include "document_views.h"
#include "marquen_doc.h"
#include "user_interface.h"

#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

struct ShownMessage {
    std::string text;
    MessageButtons buttons;
    MessageIcon icon;
};

/// Answers with the queued answers in order, then with the first button of
/// the box (Ok or Yes).
class RecordingMessageBox : public IMessageBox {
public:
    MessageAnswer ShowMessage(const std::string& text, MessageButtons buttons, MessageIcon icon) override;

    /// The texts shown, in order.
    std::vector<std::string> Texts() const;

    std::vector<ShownMessage> shown;
    std::deque<MessageAnswer> answers;
};

class RecordingStatusLine : public IStatusLine {
public:
    bool HasMainWindow() const override { return hasMainWindow; }
    bool IsPortOpen() override { return portOpen; }
    void SetStatusText(const std::string& text) override { texts.push_back(text); }

    bool hasMainWindow = true;
    bool portOpen = false;
    std::vector<std::string> texts;
};

/// The "Picture Info" page as far as the document sees it: holds the output
/// parameters; on a picture shown with new input it takes the picture's type,
/// path, width and height and writes the type into the document; after Save
/// As it takes the saved path.
class FakePictureInfoPage : public IPictureInfoPage {
public:
    struct Shown {
        PictureType type;
        std::string path;
        uint32_t width;
        uint32_t height;
        bool bNewInput;
    };

    OutputPictureParameters GetOutputParameters() override { return parameters; }
    void ShowPictureInfo(const PictureFile& picture, bool bNewInput) override;
    void OnOutputSaved(const std::string& path) { parameters.path = path; }

    CMarquenDoc* doc = nullptr;
    OutputPictureParameters parameters;
    std::vector<Shown> shown;
};

/// The view and the frame's other windows: every update runs the document's
/// part of the view update with the page and records what would be drawn.
class FakeDocumentWindows : public IDocumentWindows {
public:
    struct Drawn {
        long hint;
        const PictureFile* picture;  ///< null: the view drew nothing new
    };

    explicit FakeDocumentWindows(FakePictureInfoPage& page) : m_page(page) {}
    /// Attaches to doc, and the page to the same document.
    void Attach(CMarquenDoc& doc);

    void UpdateAllViews(long lHint) override;
    void SendOutputSaved(const std::string& path) override;
    std::optional<std::string> RunSaveDialog(const SaveDialogRequest& request) override;

    /// The hints received, in order.
    std::vector<long> Hints() const;

    std::vector<Drawn> drawn;
    std::vector<std::string> outputSaved;
    std::vector<SaveDialogRequest> saveRequests;
    /// What the Save As dialog returns (the default extension is applied, as
    /// the real dialog does); nothing means the user cancels.
    std::optional<std::string> saveAnswer;

private:
    FakePictureInfoPage& m_page;
    CMarquenDoc* m_doc = nullptr;
};

}  // namespace testing_support
