// The three tab pages as the view sees them.
#include "view_pages.h"

#include "command_ids.h"
#include "communication_page.h"
#include "download_page_window.h"
#include "picture_info_page.h"

#include <wx/string.h>

namespace {

class CViewPages : public IViewPages {
public:
    CViewPages(wxWindow* tabControl, CMarquenApp& app)
        : m_pictureInfo(new CPictureInfoPage(tabControl, app)),
          m_download(new CDownloadPageWindow(tabControl, app)),
          m_communication(new CCommunicationPage(tabControl, app))
    {
        // The pages are windows of the tab control, which destroys them; the
        // links between them are cut when the first of them goes.
        CCommunicationPage* communication = m_communication;
        m_download->SetCommunicationPageEnabler([communication](bool bEnable) { communication->Enable(bEnable); });
        CDownloadPageWindow* download = m_download;
        m_communication->SetVersionChanged([download] { download->ApplyVersion(); });
        m_communication->Bind(wxEVT_DESTROY, [download](wxWindowDestroyEvent& event) {
            download->SetCommunicationPageEnabler(nullptr);
            event.Skip();
        });
    }

    wxWindow* Page(int nIndex) override
    {
        switch (nIndex) {
        case kPictureInfoPageIndex:
            return m_pictureInfo;
        case kDownloadPageIndex:
            return m_download;
        case kCommunicationPageIndex:
            return m_communication;
        default:
            return nullptr;
        }
    }

    wxString Caption(int nIndex) override
    {
        switch (nIndex) {
        case kPictureInfoPageIndex:
            return "Picture Info";
        case kDownloadPageIndex:
            return "Download";
        case kCommunicationPageIndex:
            return "Communication";
        default:
            return wxString();
        }
    }

    IPictureInfoPage& PictureInfo() override { return *m_pictureInfo; }
    ICommMessageTarget& CommMessages() override { return m_download->CommMessages(); }
    void OnOutputSaved(const std::string& path) override { m_pictureInfo->OnOutputSaved(path); }
    bool IsTransferBusy() override { return m_download->IsTransferBusy(); }
    void AbortTransfer() override { m_download->AbortTransfer(); }

private:
    CPictureInfoPage* m_pictureInfo;
    CDownloadPageWindow* m_download;
    CCommunicationPage* m_communication;
};

}  // namespace

std::unique_ptr<IViewPages> CreateViewPages(wxWindow* tabControl, CMarquenApp& app)
{
    return std::make_unique<CViewPages>(tabControl, app);
}
