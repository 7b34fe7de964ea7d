#pragma once
// The windows of the program as marquen-cli has them: message boxes print
// their text on standard error, the "Download" page's controls are plain
// state (the command sets the logo number and the print size as a user would
// click them), the progress bar prints a percentage line, the page's timer is
// a timer of a hidden window of the command's thread, and the memory-size
// dialog picks the size named on the command line. One thread only: the one
// that pumps the Communication object's events.
#include "document_views.h"
#include "download_page.h"
#include "user_interface.h"
#include "window/message_window.h"

#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace cli {

/// Prints each text on err, one line per line of text; answers the first
/// button (OK or Yes).
class ConsoleMessageBox : public IMessageBox {
public:
    explicit ConsoleMessageBox(std::ostream& err) : m_err(err) {}
    MessageAnswer ShowMessage(const std::string& text, MessageButtons buttons, MessageIcon icon) override;

    /// What a box with OK and Cancel answers (OK unless set).
    void SetOkCancelAnswer(MessageAnswer answer) { m_okCancelAnswer = answer; }
    /// Whether a box was answered Cancel.
    bool Cancelled() const { return m_cancelled; }
    /// Forgets the texts shown so far (questions that were answered as
    /// asked are no failure of the command that follows).
    void ForgetTexts() { m_texts.clear(); }

    /// How many messages were shown, and the texts.
    size_t Count() const { return m_texts.size(); }
    const std::vector<std::string>& Texts() const { return m_texts; }

private:
    std::ostream& m_err;
    std::vector<std::string> m_texts;
    MessageAnswer m_okCancelAnswer = MessageAnswer::Ok;
    bool m_cancelled = false;
};

/// The document's windows: nothing is drawn, nothing is broadcast, and no
/// Save As dialog ever runs.
class ConsoleDocumentWindows : public IDocumentWindows {
public:
    void UpdateAllViews(long) override {}
    void SendOutputSaved(const std::string&) override {}
    std::optional<std::string> RunSaveDialog(const SaveDialogRequest&) override { return std::nullopt; }
};

class ConsolePageControls : public IDownloadPageControls {
public:
    /// Progress lines go to err while ShowProgress is on.
    explicit ConsolePageControls(std::ostream& err);
    ~ConsolePageControls() override;
    ConsolePageControls(const ConsolePageControls&) = delete;
    ConsolePageControls& operator=(const ConsolePageControls&) = delete;

    /// The page whose OnTimer the timer calls; null detaches it.
    void AttachPage(CDownloadPage* page) { m_page = page; }
    /// Prints "progress: N%" for every new position of the progress bar.
    void ShowProgress(bool show) { m_showProgress = show; }
    /// The logo number entry the user selects (-1: none).
    void SelectLogo(int index) { m_selection = index; }

    void EnableControl(int nId, bool bEnable) override { m_enabled[nId] = bEnable; }
    std::string GetControlText(int nId) override;
    void SetControlText(int nId, const std::string& text) override { m_texts[nId] = text; }
    void ShowControl(int, bool) override {}
    void AddLogoNumber(const std::string&) override {}
    int GetLogoSelection() override { return m_selection; }
    void SetFocusTo(int) override {}
    void CheckRadioButton(int, int, int nCheck) override { m_checkedRadio = nCheck; }
    bool IsButtonChecked(int nId) override { return m_checkedRadio == nId; }
    void SetProgressPos(int nPos) override;
    int GetProgressPos() override { return m_progress; }
    void SetTimer(unsigned nId, unsigned nElapse) override;
    void KillTimer(unsigned nId) override;
    void EnableCommunicationPage(bool) override {}
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}

    /// The text of a field, when the page ever set one.
    std::optional<std::string> FieldText(int nId) const;

private:
    LRESULT OnWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    std::ostream& m_err;
    CDownloadPage* m_page = nullptr;
    HWND m_window = nullptr;
    bool m_showProgress = false;
    std::map<int, bool> m_enabled;
    std::map<int, std::string> m_texts;
    int m_selection = -1;
    int m_checkedRadio = IDC_X1H_X1W;
    int m_progress = 0;
    std::optional<int> m_progressShown;
};

/// Runs the memory-size dialog by choosing the size given: the dialog ends
/// with OK when that size is offered, with Cancel (and a line on err) when
/// it is not.
class ConsoleMemoryDialog : public IMemorySizeDlgRunner, private IMemorySizeDlgControls {
public:
    ConsoleMemoryDialog(std::ostream& err, int nSize) : m_err(err), m_nSize(nSize) {}
    int DoModal(CMemorySizeDlg& dlg) override;
    /// Whether the size was offered the last time the dialog ran.
    bool Offered() const { return m_offered; }

private:
    void AddSize(const std::string& text) override { m_sizes.push_back(text); }
    int GetSizeSelection() override { return m_selection; }
    std::string GetSizeText(int nIndex) override { return m_sizes.at(static_cast<size_t>(nIndex)); }
    void FocusSizeList() override {}
    void EndDialog(int nResult) override { m_result = nResult; }

    std::ostream& m_err;
    int m_nSize;
    std::vector<std::string> m_sizes;
    int m_selection = -1;
    std::optional<int> m_result;
    bool m_offered = false;
};

}  // namespace cli
