#include "console_ui.h"


namespace cli {

MessageAnswer ConsoleMessageBox::ShowMessage(const std::string& text, MessageButtons buttons, MessageIcon)
{
    m_texts.push_back(text);
    m_err << text << '\n';
    m_err.flush();
    switch (buttons) {
    case MessageButtons::YesNo:
    case MessageButtons::YesNoCancel:
        return MessageAnswer::Yes;
    case MessageButtons::OkCancel:
        m_cancelled = m_cancelled || m_okCancelAnswer == MessageAnswer::Cancel;
        return m_okCancelAnswer;
    default:
        return MessageAnswer::Ok;
    }
}

ConsolePageControls::ConsolePageControls(std::ostream& err) : m_err(err)
{
    m_texts[IDC_ERASE] = printer_strings::kErase;
    m_texts[IDC_UPLOAD] = printer_strings::kUpload;
    m_texts[IDC_DOWNLOAD] = printer_strings::kDownload;
    m_window = marquen::window::CreateMessageWindow(
        [this](HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
            return OnWindowMessage(window, message, wParam, lParam);
        });
}

ConsolePageControls::~ConsolePageControls()
{
    if (m_window != nullptr)
        marquen::window::DestroyWindow(m_window);
}

LRESULT ConsolePageControls::OnWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == marquen::window::WM_TIMER && m_page != nullptr) {
        m_page->OnTimer(static_cast<unsigned>(wParam));
        return 0;
    }
    return marquen::window::DefWindowProc(window, message, wParam, lParam);
}

std::string ConsolePageControls::GetControlText(int nId)
{
    auto found = m_texts.find(nId);
    return found != m_texts.end() ? found->second : std::string();
}

void ConsolePageControls::SetProgressPos(int nPos)
{
    m_progress = nPos;
    if (!m_showProgress || m_progressShown == nPos)
        return;
    m_progressShown = nPos;
    m_err << "progress: " << nPos << "%\n";
    m_err.flush();
}

void ConsolePageControls::SetTimer(unsigned nId, unsigned nElapse)
{
    if (m_window != nullptr)
        marquen::window::SetTimer(m_window, nId, nElapse);
}

void ConsolePageControls::KillTimer(unsigned nId)
{
    if (m_window != nullptr)
        marquen::window::KillTimer(m_window, nId);
}

std::optional<std::string> ConsolePageControls::FieldText(int nId) const
{
    auto found = m_texts.find(nId);
    if (found == m_texts.end())
        return std::nullopt;
    return found->second;
}

int ConsoleMemoryDialog::DoModal(CMemorySizeDlg& dlg)
{
    m_sizes.clear();
    m_result.reset();
    m_selection = -1;
    dlg.OnInitDialog(*this);
    const std::string wanted = std::to_string(m_nSize);
    for (size_t i = 0; i < m_sizes.size(); ++i) {
        if (m_sizes[i] == wanted)
            m_selection = static_cast<int>(i);
    }
    m_offered = m_selection >= 0;
    if (!m_offered) {
        m_err << "marquen-cli: " << m_nSize << " kbytes is not a size this printer offers (";
        if (m_sizes.empty())
            m_err << "none";
        else
            m_err << m_sizes.front() << " to " << m_sizes.back() << " in steps of 64";
        m_err << ")\n";
        dlg.OnCancel(*this);
    } else {
        dlg.OnOK(*this);
    }
    return m_result.value_or(IDCANCEL);
}

}  // namespace cli
