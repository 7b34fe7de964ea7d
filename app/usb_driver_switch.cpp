// The USB branch of connecting the printer: the search for the maker's
// printer, the question before switching it to the maker's driver, and the
// offer to switch it back at exit.
#include "marquen_app.h"

#include <string_view>

namespace {

// Puts `value` in place of every "%s" of `text`, in order (a driver's
// description is never taken as a format).
std::string Fill(std::string_view text, const std::string& value)
{
    std::string filled;
    size_t start = 0;
    for (size_t at = text.find("%s"); at != std::string_view::npos; at = text.find("%s", start)) {
        filled.append(text.substr(start, at - start));
        filled += value;
        start = at + 2;
    }
    filled.append(text.substr(start));
    return filled;
}

// The codes whose text the communication server shows itself when the
// switch to the maker's driver fails.
bool ServerExplainsSwitchFailure(LONG code)
{
    const auto value = static_cast<uint32_t>(code);
    return value == 0 || value == 2 || (value >= 0xE0000200 && value <= 0xE000022C);
}

}  // namespace

bool CMarquenApp::IsWindowsNT()
{
    return true;
}

bool CMarquenApp::ConnectUsbPrinter(std::string& portName)
{
    ICommunication* comm = m_pComm.Get();
    BSTR driver = SysAllocStringUtf8("");
    LONG connected = 0;
    HRESULT hr = comm->SearchUSBVantrexPrinter(&driver, &connected);
    Bstr description = Bstr::Adopt(driver);
    ThrowIfFailed(hr, IID_ICommunication);

    if (connected == 0) {
        StopWaitThread();
        m_messageBox.ShowMessage(app_strings::kPrinterNotFound, MessageButtons::Ok, MessageIcon::None);
        RefreshStatusLine();
        return false;
    }
    const std::string previous = description.Utf8();
    if (!previous.empty()) {
        StopWaitThread();
        m_strPreviousDriver = previous;
        if (!IsWindowsNT()) {
            m_messageBox.ShowMessage(Fill(app_strings::kSwitchWithDeviceManager, previous), MessageButtons::Ok,
                                     MessageIcon::None);
            RefreshStatusLine();
            return false;
        }
        MessageAnswer answer = m_messageBox.ShowMessage(Fill(app_strings::kSwitchQuestion, previous),
                                                        MessageButtons::OkCancel, MessageIcon::Question);
        if (answer != MessageAnswer::Ok) {
            m_strPreviousDriver.clear();
            RefreshStatusLine();
            return false;
        }
        Bstr location = Bstr::FromUtf8(m_strProgramDir + app_strings::kDriverInformationFile);
        if (!location.Get())
            _com_issue_errorex(E_OUTOFMEMORY, comm, IID_ICommunication);
        LONG result = 0;
        ThrowIfFailed(comm->UpdateUSBDriver(location.Get(), &result), IID_ICommunication);
        if (result != 0) {
            // The server shows the texts of its own table; any other code
            // (no access to the device, the device busy) would otherwise
            // leave the user without a word. The previous driver is kept, so
            // the question at exit still offers it.
            if (!ServerExplainsSwitchFailure(result))
                m_messageBox.ShowMessage(app_strings::kSwitchFailed + SystemMessageText(HRESULT_FROM_WIN32(
                                                                          static_cast<DWORD>(result))),
                                         MessageButtons::Ok, MessageIcon::Error);
            RefreshStatusLine();
            return false;
        }
    }
    portName = "USB";
    return true;
}

void CMarquenApp::OfferDriverSwitchBack()
{
    if (m_strPreviousDriver.empty() || !IsWindowsNT() || !m_pComm)
        return;
    MessageAnswer answer = m_messageBox.ShowMessage(Fill(app_strings::kSwitchBackQuestion, m_strPreviousDriver),
                                                    MessageButtons::YesNo, MessageIcon::Question);
    if (answer != MessageAnswer::Yes)
        return;
    Bstr description = Bstr::FromUtf8(m_strPreviousDriver);
    LONG result = 0;
    // Its result is not used: the program ends either way.
    if (description.Get())
        m_pComm->UpdateUSBDriver(description.Get(), &result);
}
