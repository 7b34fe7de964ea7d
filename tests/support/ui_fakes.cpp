#include "ui_fakes.h"

namespace testing_support {

MessageAnswer RecordingMessageBox::ShowMessage(const std::string& text, MessageButtons buttons, MessageIcon icon)
{
    shown.push_back({text, buttons, icon});
    if (!answers.empty()) {
        MessageAnswer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    return buttons == MessageButtons::YesNo || buttons == MessageButtons::YesNoCancel ? MessageAnswer::Yes
                                                                                        : MessageAnswer::Ok;
}

std::vector<std::string> RecordingMessageBox::Texts() const
{
    std::vector<std::string> texts;
    for (const ShownMessage& message : shown)
        texts.push_back(message.text);
    return texts;
}

void FakePictureInfoPage::ShowPictureInfo(const PictureFile& picture, bool bNewInput)
{
    shown.push_back({picture.Type(), picture.Path(), picture.Width(), picture.Height(), bNewInput});
    if (!bNewInput)
        return;
    parameters.type = static_cast<int>(picture.Type());
    parameters.path = picture.Path();
    parameters.width = static_cast<int>(picture.Width());
    parameters.height = static_cast<int>(picture.Height());
    if (doc != nullptr)
        doc->SetOutputType(picture.Type());
}

void FakeDocumentWindows::Attach(CMarquenDoc& doc)
{
    m_doc = &doc;
    m_page.doc = &doc;
    doc.AttachWindows(this);
}

void FakeDocumentWindows::UpdateAllViews(long lHint)
{
    const PictureFile* picture = m_doc != nullptr ? ApplyDocumentUpdate(*m_doc, lHint, m_page) : nullptr;
    drawn.push_back({lHint, picture});
}

void FakeDocumentWindows::SendOutputSaved(const std::string& path)
{
    outputSaved.push_back(path);
    m_page.OnOutputSaved(path);
}

std::optional<std::string> FakeDocumentWindows::RunSaveDialog(const SaveDialogRequest& request)
{
    saveRequests.push_back(request);
    if (!saveAnswer)
        return std::nullopt;
    return ApplyDefaultExtension(*saveAnswer, request.defaultExtension);
}

std::vector<long> FakeDocumentWindows::Hints() const
{
    std::vector<long> hints;
    for (const Drawn& entry : drawn)
        hints.push_back(entry.hint);
    return hints;
}

}  // namespace testing_support
