#pragma once
// Recording fakes of the "Download" page's controls and of the memory-size
// dialog, and an application object whose Communication object is a
// FakeCommunication, started the way the program starts.
#include "doc_test_util.h"
#include "download_page.h"
#include "fake_communication.h"
#include "marquen_app.h"
#include "test_support.h"
#include "ui_fakes.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <new>
#include <optional>
#include <string>
#include <vector>

namespace page_testing {

class FakePageControls : public IDownloadPageControls {
public:
    FakePageControls()
    {
        texts[IDC_ERASE] = "Erase";
        texts[IDC_UPLOAD] = "Upload";
        texts[IDC_DOWNLOAD] = "Download";
    }

    void EnableControl(int nId, bool bEnable) override { enabled[nId] = bEnable; }
    std::string GetControlText(int nId) override
    {
        if (textsFail)
            throw std::bad_alloc();
        return texts[nId];
    }
    void SetControlText(int nId, const std::string& text) override { texts[nId] = text; }
    void ShowControl(int nId, bool bShow) override { shown[nId] = bShow; }
    void AddLogoNumber(const std::string& text) override { logoNumbers.push_back(text); }
    int GetLogoSelection() override { return selection; }
    void SetFocusTo(int nId) override { focus.push_back(nId); }
    void CheckRadioButton(int, int, int nCheck) override { checkedRadio = nCheck; }
    bool IsButtonChecked(int nId) override { return checkedRadio == nId; }
    void SetProgressPos(int nPos) override
    {
        progress = nPos;
        progressHistory.push_back(nPos);
    }
    int GetProgressPos() override { return progress; }
    void SetTimer(unsigned nId, unsigned nElapse) override
    {
        timers[nId] = nElapse;
        ++timerStarts;
    }
    void KillTimer(unsigned nId) override { timers.erase(nId); }
    void EnableCommunicationPage(bool bEnable) override { communicationPage = bEnable; }
    void BeginWaitCursor() override
    {
        ++waitDepth;
        ++waitCursorShown;
    }
    void EndWaitCursor() override { --waitDepth; }

    /// Enabled unless disabled.
    bool Enabled(int nId) const
    {
        auto found = enabled.find(nId);
        return found == enabled.end() || found->second;
    }
    /// The transfer controls that are enabled, in id order.
    std::vector<int> EnabledTransferControls() const
    {
        std::vector<int> ids;
        for (int id : {IDC_LOGO_NUMBER, IDC_ERASE, IDC_PRINT, IDC_X1H_X1W, IDC_X1H_X2W, IDC_X2H_X1W, IDC_X2H_X2W,
                       IDC_SETUP, IDC_UPLOAD, IDC_REFRESH, IDC_DOWNLOAD}) {
            if (Enabled(id))
                ids.push_back(id);
        }
        return ids;
    }
    bool TimerRunning() const { return timers.count(kUploadWatchTimerId) != 0; }

    std::map<int, bool> enabled;
    std::map<int, std::string> texts;
    std::map<int, bool> shown;
    std::vector<std::string> logoNumbers;
    int selection = -1;
    std::vector<int> focus;
    int checkedRadio = 0;
    int progress = 0;
    std::vector<int> progressHistory;
    std::map<unsigned, unsigned> timers;
    int timerStarts = 0;
    bool communicationPage = true;
    int waitDepth = 0;
    int waitCursorShown = 0;
    /// Reading a caption runs out of memory.
    bool textsFail = false;
};

/// Runs the memory-size dialog as a user would: for each press of OK the
/// next choice (a size text, or none selected), or Cancel.
class FakeMemoryDialog : public IMemorySizeDlgRunner, public IMemorySizeDlgControls {
public:
    int DoModal(CMemorySizeDlg& dlg) override
    {
        sizes.clear();
        maxSizeSeen = dlg.m_nMaxSize;
        m_result.reset();
        dlg.OnInitDialog(*this);
        ++runs;
        while (!m_result) {
            if (cancel || choices.empty()) {
                dlg.OnCancel(*this);
                break;
            }
            std::optional<std::string> choice = choices.front();
            choices.pop_front();
            m_selection = -1;
            for (size_t i = 0; choice && i < sizes.size(); ++i) {
                if (sizes[i] == *choice)
                    m_selection = static_cast<int>(i);
            }
            dlg.OnOK(*this);
        }
        return *m_result;
    }

    void AddSize(const std::string& text) override { sizes.push_back(text); }
    int GetSizeSelection() override { return m_selection; }
    std::string GetSizeText(int nIndex) override { return sizes.at(static_cast<size_t>(nIndex)); }
    void FocusSizeList() override { ++focusedList; }
    void EndDialog(int nResult) override { m_result = nResult; }

    std::deque<std::optional<std::string>> choices;
    bool cancel = false;
    std::vector<std::string> sizes;
    int maxSizeSeen = -12345;
    int runs = 0;
    int focusedList = 0;

private:
    int m_selection = -1;
    std::optional<int> m_result;
};

/// An application object whose Communication object is the test's fake, and
/// whose main frame is the fake view of the document tests.
class FakeCommApp : public CMarquenApp {
public:
    FakeCommApp(IMessageBox& messageBox, testing_support::FakeDocumentWindows& windows,
                comm_testing::FakeCommunication& comm)
        : CMarquenApp(messageBox), m_windows(windows), m_comm(comm)
    {
    }

    HRESULT createResult = S_OK;
    std::vector<std::string> statusShown;
    using CMarquenApp::ShutdownCommunication;

protected:
    HRESULT CreateCommunicationInstance(IUnknown** ppUnknown) override
    {
        if (FAILED(createResult)) {
            *ppUnknown = nullptr;
            return createResult;
        }
        *ppUnknown = static_cast<ICommunication*>(&m_comm);
        m_comm.AddRef();
        return S_OK;
    }
    bool CreateMainFrame(CMarquenDoc& doc) override
    {
        m_windows.Attach(doc);
        return true;
    }
    void ShowStatusText(const std::string& text) override { statusShown.push_back(text); }

private:
    testing_support::FakeDocumentWindows& m_windows;
    comm_testing::FakeCommunication& m_comm;
};

/// The started application with its page, wired as the program wires them:
/// the sink's messages reach the page through the view's forwarding.
class PageFixture : public ::testing::Test {
protected:
    PageFixture() : windows(infoPage), app(messages, windows, comm), page(app, controls, memoryDialog), forward(page)
    {
        app.SetProfilePath((dir / "config/Marquen.conf").string());
    }

    void SetUp() override
    {
        ASSERT_TRUE(app.InitInstance());
        app.SetCommView(&forward);
        comm.ClearRecords();
        messages.shown.clear();
    }
    void TearDown() override { app.SetCommView(nullptr); }

    /// Opens a bitmap of width x height with dots from rule as the document.
    void OpenPicture(uint32_t width, uint32_t height, const doc_testing::DotRule& rule)
    {
        std::filesystem::path file = dir / "picture.bmp";
        testing_support::WriteFileBytes(file, doc_testing::MakeBmp(width, height, rule));
        ASSERT_NE(app.OpenDocumentFile(file.string()), nullptr);
        messages.shown.clear();
    }

    testing_support::TempDir dir;
    comm_testing::FakeCommunication comm;
    testing_support::RecordingMessageBox messages;
    testing_support::FakePictureInfoPage infoPage;
    testing_support::FakeDocumentWindows windows;
    FakeCommApp app;
    FakePageControls controls;
    FakeMemoryDialog memoryDialog;
    CDownloadPage page;
    CDownloadPageMessages forward;
};

inline comm_testing::Bytes Concat(std::initializer_list<comm_testing::Bytes> parts)
{
    comm_testing::Bytes all;
    for (const comm_testing::Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

}  // namespace page_testing
