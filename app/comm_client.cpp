// The communication client of the application object: creating the one
// Communication object, connecting the event sink, applying the settings and
// opening the port, and the shutdown of all three.
#include "marquen_app.h"

#include <cstdio>

namespace {

// Interface values of the "Communication" page.
constexpr int kInterfaceSerial = 0;
constexpr int kInterfaceParallel = 1;
constexpr int kInterfaceUsb = 2;

}  // namespace

std::string ComErrorText(const _com_error& error)
{
    char code[32];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(error.Error()));
    return std::string("Communication error: ") + error.ErrorMessage() + " (" + code + ")";
}

void CMarquenApp::ReportComError(const _com_error& error)
{
    m_messageBox.ShowMessage(ComErrorText(error), MessageButtons::Ok, MessageIcon::Error);
}

HRESULT CMarquenApp::CreateCommunicationInstance(IUnknown** ppUnknown)
{
    return CoCreateInstance(CLSID_Communication, nullptr,
                            CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER, IID_IUnknown,
                            reinterpret_cast<void**>(ppUnknown));
}

bool CMarquenApp::CreateCommunication()
{
    if (!m_pComm) {
        ComPtr<IUnknown> unknown;
        HRESULT hr = CreateCommunicationInstance(unknown.Put());
        if (SUCCEEDED(hr) && !unknown)
            hr = E_POINTER;
        if (SUCCEEDED(hr))
            hr = OleRun(unknown.Get());
        ComPtr<ICommunication> comm;
        if (SUCCEEDED(hr))
            hr = unknown.As(comm);
        if (SUCCEEDED(hr) && !comm)
            hr = E_NOINTERFACE;
        if (FAILED(hr)) {
            m_messageBox.ShowMessage(app_strings::kCreateFailed + SystemMessageText(hr), MessageButtons::Ok,
                                     MessageIcon::Error);
            return false;
        }
        m_pComm = std::move(comm);
    }

    DisconnectSink();
    m_pSink = std::make_unique<CCommEventSink>(*this);
    if (FAILED(AdviseCommEventSink(m_pComm.Get(), *m_pSink)))
        m_messageBox.ShowMessage(app_strings::kSinkNotConnected, MessageButtons::Ok, MessageIcon::Warning);
    return true;
}

void CMarquenApp::DisconnectSink()
{
    if (!m_pSink)
        return;
    UnadviseCommEventSink(m_pComm.Get(), *m_pSink);
    m_pSink.reset();
}

void CMarquenApp::ConnectPrinter()
{
    try {
        ApplySettingsAndOpenPort();
    } catch (const _com_error& error) {
        ReportComError(error);
        RefreshStatusLine();
    }
}

void CMarquenApp::ApplySettingsAndOpenPort()
{
    if (!m_pComm) {
        RefreshStatusLine();
        return;
    }
    ICommunication* comm = m_pComm.Get();
    LONG opened = 0;
    ThrowIfFailed(comm->get_Opened(&opened), IID_ICommunication);
    if (opened != 0)
        ThrowIfFailed(comm->ClosePort(), IID_ICommunication);

    // The object keeps what it is given; it judges the values when it opens.
    comm->put_Baudrate(static_cast<tBaudRate>(m_nBaudRate));
    comm->put_Databits(DBITS_8);
    comm->put_Parity(static_cast<tParity>(m_nParity));
    comm->put_Stopbits(static_cast<tStopBits>(m_nStopBits));
    comm->put_Handshaking(static_cast<tHandshaking>(m_nFlowControl));
    ThrowIfFailed(comm->SetTimeout(m_nReadTimeout, m_nWriteTimeout), IID_ICommunication);

    std::string portName;
    // The number is formatted wide so that an edited profile's largest port
    // number still gives a name, if one that opens nothing.
    long long number = static_cast<long long>(m_nPort) + 1;
    switch (m_nInterface) {
    case kInterfaceSerial:
        portName = "COM" + std::to_string(number);
        break;
    case kInterfaceParallel:
        portName = "LPT" + std::to_string(number);
        break;
    case kInterfaceUsb:
        if (!ConnectUsbPrinter(portName))
            return;
        break;
    default:
        // Only an edited profile holds another interface; it names no port.
        RefreshStatusLine();
        return;
    }

    Bstr name = Bstr::FromUtf8(portName);
    if (!name.Get())
        _com_issue_errorex(E_OUTOFMEMORY, comm, IID_ICommunication);
    LONG rc = 0;
    ThrowIfFailed(comm->OpenPort(name.Get(), &rc), IID_ICommunication);
    RefreshStatusLine();
}

bool CMarquenApp::IsPortOpen()
{
    if (!m_pComm)
        return false;
    LONG opened = 0;
    return SUCCEEDED(m_pComm->get_Opened(&opened)) && opened != 0;
}

void CMarquenApp::ShutdownCommunication()
{
    StartUpload(-1);
    DisconnectSink();
    if (!m_pComm)
        return;
    try {
        LONG opened = 0;
        ThrowIfFailed(m_pComm->get_Opened(&opened), IID_ICommunication);
        if (opened != 0)
            ThrowIfFailed(m_pComm->ClosePort(), IID_ICommunication);
    } catch (const _com_error& error) {
        ReportComError(error);
    }
}
