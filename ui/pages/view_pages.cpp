// The three tab pages as the view sees them.
#include "view_pages.h"

#include "command_ids.h"
#include "communication_page.h"
#include "download_page_window.h"
#include "picture_info_page.h"

#include <wx/string.h>
#include <wx/weakref.h>

namespace {

class CViewPages : public IViewPages {
public:
    CViewPages(wxWindow* tabControl, CMarquenApp& app)
        : m_pictureInfo(new CPictureInfoPage(tabControl, app)),
          m_download(new CDownloadPageWindow(tabControl, app)),
          m_communication(new CCommunicationPage(tabControl, app))
    {
        // The pages are windows of the tab control, which destroys them in an
        // order of its own: each link between them holds a weak reference.
        wxWeakRef<CCommunicationPage> communication(m_communication.get());
        m_download->SetCommunicationPageEnabler([communication](bool bEnable) {
            if (communication)
                communication->Enable(bEnable);
        });
        wxWeakRef<CDownloadPageWindow> download(m_download.get());
        m_communication->SetVersionChanged([download] {
            if (download)
                download->ApplyVersion();
        });
    }

    wxWindow* Page(int nIndex) override
    {
        switch (nIndex) {
        case kPictureInfoPageIndex:
            return m_pictureInfo.get();
        case kDownloadPageIndex:
            return m_download.get();
        case kCommunicationPageIndex:
            return m_communication.get();
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
    // Owned by the tab control; the view keeps this object no longer than
    // the tab control's pages.
    wxWeakRef<CPictureInfoPage> m_pictureInfo;
    wxWeakRef<CDownloadPageWindow> m_download;
    wxWeakRef<CCommunicationPage> m_communication;
};

}  // namespace

std::unique_ptr<IViewPages> CreateViewPages(wxWindow* tabControl, CMarquenApp& app)
{
    return std::make_unique<CViewPages>(tabControl, app);
}
