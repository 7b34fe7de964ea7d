#include "communication_page.h"

#include "accessibility.h"
#include "marquen_app.h"
#include "page_widgets.h"

#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/radiobut.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <algorithm>
#include <iterator>
#include <vector>

using page_layout::CommunicationRects;
using page_widgets::kListHeight;
using page_widgets::SelectIndex;

namespace communication_page {

int BaudIndex(int rate)
{
    const auto* found = std::find(std::begin(kBaudRates), std::end(kBaudRates), rate);
    return found == std::end(kBaudRates) ? 0 : static_cast<int>(found - std::begin(kBaudRates));
}

}  // namespace communication_page

namespace {

using namespace communication_page;

constexpr int kTemplateWidth = 600;
constexpr int kTemplateHeight = 160;
/// Tops of the five rows of the right frame: a drop-down list each.
constexpr int kRowTops[] = {2, 33, 64, 95, 126};

/// The names of a port list the object put into list, in the list's order.
std::vector<wxString> PortNames(const VARIANT& list)
{
    std::vector<wxString> names;
    if (list.vt != (VT_ARRAY | VT_BSTR) || list.parray == nullptr || SafeArrayGetDim(list.parray) != 1)
        return names;
    LONG lower = 0;
    LONG upper = -1;
    SafeArrayGetLBound(list.parray, 1, &lower);
    SafeArrayGetUBound(list.parray, 1, &upper);
    for (LONG i = lower; i <= upper; ++i) {
        BSTR name = nullptr;
        if (SUCCEEDED(SafeArrayGetElement(list.parray, &i, &name)))
            names.push_back(wxString::FromUTF8(Bstr::Adopt(name).Utf8()));
    }
    return names;
}

/// Adds names to list in alphabetical order, as a sorted list keeps them
/// ("COM10" before "COM2").
void AddSorted(wxChoice* list, std::vector<wxString> names)
{
    std::stable_sort(names.begin(), names.end(),
                     [](const wxString& a, const wxString& b) { return a.CmpNoCase(b) < 0; });
    for (const wxString& name : names)
        list->Append(name);
}

// The profile's "Port" is the port's number less one (0 is COM1): that is how
// the application names the port it opens. The lists are sorted by name and
// hold only the ports the machine has, so an entry's index is no port number
// ("COM10" sorts before "COM2"; a machine may have COM7 alone): storing the
// index opened another port than the one chosen. The page keeps list indexes
// and turns them into port numbers and back here.

/// The number of the port an entry names ("COM7" with prefix "COM": 7); -1
/// for no entry or a name of another form.
int PortNumberOfEntry(const wxChoice* list, int nIndex, const char* prefix)
{
    if (nIndex < 0 || nIndex >= static_cast<int>(list->GetCount()))
        return -1;
    wxString digits;
    long number = 0;
    if (!list->GetString(static_cast<unsigned>(nIndex)).Upper().StartsWith(prefix, &digits) || digits.empty() ||
        !digits.IsNumber() || !digits.ToLong(&number) || number < 1 || number > 0x7FFFFFFF)
        return -1;
    return static_cast<int>(number);
}

/// The index of the entry that names port number nNumber; -1 when none does.
int EntryOfPortNumber(const wxChoice* list, int nNumber, const char* prefix)
{
    for (int i = 0; i < static_cast<int>(list->GetCount()); ++i) {
        if (PortNumberOfEntry(list, i, prefix) == nNumber)
            return i;
    }
    return -1;
}

/// The "Port" setting for the entry chosen in list: its number less one. An
/// empty list stores -1; a list with no entry chosen (the stored port is not
/// on this machine) keeps the setting as it is.
int PortSettingOf(const wxChoice* list, int nIndex, const char* prefix, int nCurrent)
{
    if (list->GetCount() == 0)
        return -1;
    const int number = PortNumberOfEntry(list, nIndex, prefix);
    return number > 0 ? number - 1 : nCurrent;
}

}  // namespace

CCommunicationPage::CCommunicationPage(wxWindow* parent, CMarquenApp& app)
    : wxPanel(parent, wxID_ANY, wxDefaultPosition, wxSize(kTemplateWidth, kTemplateHeight),
              wxTAB_TRAVERSAL | wxBORDER_NONE),
      m_app(app)
{
    page_widgets::PreparePage(this);
    CreateControls();
    Bind(wxEVT_SIZE, &CCommunicationPage::OnPageSize, this);
    wxSizeEvent templateSize(wxSize(kTemplateWidth, kTemplateHeight));
    OnPageSize(templateSize);
    FillPortLists();
    ShowCurrentSettings();
}

void CCommunicationPage::CreateControls()
{
    new wxStaticBox(this, IDC_COMM_LEFT_FRAME, wxEmptyString, wxPoint(0, 0),
                    wxSize(kTemplateWidth / 2 - 10, kTemplateHeight));
    new wxStaticBox(this, IDC_COMM_RIGHT_FRAME, wxEmptyString, wxPoint(kTemplateWidth / 2 + 10, 0),
                    wxSize(kTemplateWidth / 2 - 10, kTemplateHeight));

    m_rs232 = new wxRadioButton(this, IDC_RS232, "RS232 / Bluetooth", wxPoint(15, 12), wxDefaultSize, wxRB_GROUP);
    m_ieee1284 = new wxRadioButton(this, IDC_IEEE1284, "IEEE1284", wxPoint(15, 42));
    m_usb = new wxRadioButton(this, IDC_USB, "USB", wxPoint(15, 72));
    m_network = new wxRadioButton(this, IDC_NETWORK, "Network", wxPoint(15, 102));
    m_version = new wxCheckBox(this, IDC_PRINTER_VERSION, "Printer with memory queries and upload", wxPoint(15, 132));

    // Right frame, one row per line setting; labels first, so that the lists
    // are drawn above the labels' stretched rectangles.
    constexpr int left = kTemplateWidth / 2 + 10;
    struct Row {
        int labelId;
        const char* label;
    };
    const Row labels[] = {{IDC_PORT_LABEL, "Port"},
                          {IDC_BAUD_LABEL, "Baudrate"},
                          {IDC_PARITY_LABEL, "Parity"},
                          {IDC_STOP_BITS_LABEL, "Stop bits"},
                          {IDC_HANDSHAKE_LABEL, "Handshaking"}};
    for (size_t row = 0; row < std::size(labels); ++row)
        page_widgets::MakeLabel(this, labels[row].labelId, labels[row].label,
                                wxRect(left + 20, kRowTops[row], 100, kListHeight));
    // The network printer's address takes the first two rows when shown.
    page_widgets::MakeLabel(this, IDC_HOST_LABEL, "Host", wxRect(left + 20, kRowTops[0], 100, kListHeight));
    page_widgets::MakeLabel(this, IDC_TCP_PORT_LABEL, "TCP port", wxRect(left + 20, kRowTops[1], 100, kListHeight));
    m_host = new wxTextCtrl(this, IDC_HOST, wxString::FromUTF8(m_app.m_strHost), wxPoint(left + 125, kRowTops[0]),
                            wxSize(150, kListHeight), wxTE_PROCESS_ENTER);
    SetAccessibleName(m_host, "Host");
    m_tcpPort = new wxTextCtrl(this, IDC_TCP_PORT, wxString::Format("%d", m_app.m_nTcpPort),
                               wxPoint(left + 125, kRowTops[1]), wxSize(80, kListHeight), wxTE_PROCESS_ENTER);
    SetAccessibleName(m_tcpPort, "TCP port");
    for (wxTextCtrl* edit : {m_host, m_tcpPort}) {
        edit->Bind(wxEVT_TEXT_ENTER, [this](wxCommandEvent&) { ApplyAddress(); });
        edit->Bind(wxEVT_KILL_FOCUS, [this](wxFocusEvent& event) {
            event.Skip();
            // After the focus has moved: the reconnection may take a while.
            CallAfter([this] { ApplyAddress(); });
        });
    }

    auto list = [this](int id, int row, int width, const char* name) {
        auto* choice = new wxChoice(this, id, wxPoint(left + 125, kRowTops[row]), wxSize(width, kListHeight));
        SetAccessibleName(choice, name);
        return choice;
    };
    m_serialPorts = list(IDC_SERIAL_PORT, 0, 120, "Serial port");
    m_parallelPorts = list(IDC_PARALLEL_PORT, 0, 120, "Parallel port");
    m_parallelPorts->Hide();
    m_baudRates = list(IDC_BAUD_RATE, 1, 100, "Baudrate");
    for (int rate : kBaudRates)
        m_baudRates->Append(wxString::Format("%d", rate));
    m_parities = list(IDC_PARITY, 2, 100, "Parity");
    for (const char* parity : {"NONE", "ODD", "EVEN"})
        m_parities->Append(parity);
    m_stopBits = list(IDC_STOP_BITS, 3, 100, "Stop bits");
    for (const char* stop : {"ONE", "TWO"})  // sorted
        m_stopBits->Append(stop);
    m_handshakes = list(IDC_HANDSHAKE, 4, 120, "Handshaking");
    for (const char* handshake : {"DTR/DSR", "DSR", "CTS", "XON/XOFF"})
        m_handshakes->Append(handshake);

    for (wxRadioButton* radio : {m_rs232, m_ieee1284, m_usb, m_network})
        radio->Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) {
            ShowHide();
            Apply();
        });
    for (wxChoice* choice : {m_serialPorts, m_parallelPorts, m_baudRates, m_parities, m_stopBits, m_handshakes})
        choice->Bind(wxEVT_CHOICE, [this](wxCommandEvent&) { Apply(); });
    m_version->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { OnVersion(); });
}

void CCommunicationPage::FillPortLists()
{
    ICommunication* comm = m_app.m_pComm.Get();
    if (comm == nullptr)
        return;
    try {
        for (wxChoice* target : {m_serialPorts, m_parallelPorts}) {
            VARIANT list;
            VariantInit(&list);
            LONG count = 0;
            HRESULT hr = target == m_serialPorts ? comm->GetComPorts(&list, &count) : comm->GetLptPorts(&list, &count);
            std::vector<wxString> names = PortNames(list);
            VariantClear(&list);
            ThrowIfFailed(hr, IID_ICommunication);
            if (count >= 0 && static_cast<size_t>(count) < names.size())
                names.resize(static_cast<size_t>(count));
            AddSorted(target, std::move(names));
        }
    } catch (const _com_error& error) {
        m_app.ReportComError(error);
    }
}

void CCommunicationPage::ShowCurrentSettings()
{
    switch (m_app.m_nInterface) {
    case 0:
        m_rs232->SetValue(true);
        m_nSerialPort = EntryOfPortNumber(m_serialPorts, m_app.m_nPort + 1, "COM");
        m_nBaud = BaudIndex(m_app.m_nBaudRate);
        m_nParity = m_app.m_nParity;
        if (m_app.m_nStopBits == 0)
            m_nStopBits = 0;
        else if (m_app.m_nStopBits == 2)
            m_nStopBits = 1;
        if (m_app.m_nFlowControl >= 1 && m_app.m_nFlowControl <= 4)
            m_nHandshaking = m_app.m_nFlowControl - 1;
        break;
    case 1:
        m_ieee1284->SetValue(true);
        m_nParallelPort = EntryOfPortNumber(m_parallelPorts, m_app.m_nPort + 1, "LPT");
        break;
    case 2:
        m_usb->SetValue(true);
        break;
    case 3:
        m_network->SetValue(true);
        break;
    default:
        // GTK keeps one radio button of a group checked; none of them
        // means anything for an unknown interface.
        for (wxRadioButton* radio : {m_rs232, m_ieee1284, m_usb, m_network})
            radio->SetValue(false);
        break;
    }
    ShowHide();
    PutLists();
    m_version->SetValue(m_app.m_nVersion != 0);
}

void CCommunicationPage::ShowHide()
{
    const bool serial = m_rs232->GetValue();
    const bool parallel = m_ieee1284->GetValue();
    FindWindow(IDC_PORT_LABEL)->Show(serial || parallel);
    for (int id : {IDC_SERIAL_PORT, IDC_BAUD_RATE, IDC_PARITY, IDC_HANDSHAKE, IDC_STOP_BITS, IDC_BAUD_LABEL,
                   IDC_PARITY_LABEL, IDC_HANDSHAKE_LABEL, IDC_STOP_BITS_LABEL})
        FindWindow(id)->Show(serial);
    m_parallelPorts->Show(parallel);
    const bool network = m_network->GetValue();
    for (int id : {IDC_HOST_LABEL, IDC_HOST, IDC_TCP_PORT_LABEL, IDC_TCP_PORT})
        FindWindow(id)->Show(network);
}

void CCommunicationPage::ReadLists()
{
    m_nBaud = m_baudRates->GetSelection();
    m_nHandshaking = m_handshakes->GetSelection();
    m_nParity = m_parities->GetSelection();
    m_nSerialPort = m_serialPorts->GetSelection();
    m_nParallelPort = m_parallelPorts->GetSelection();
    m_nStopBits = m_stopBits->GetSelection();
}

void CCommunicationPage::PutLists()
{
    SelectIndex(m_baudRates, m_nBaud);
    SelectIndex(m_handshakes, m_nHandshaking);
    SelectIndex(m_parities, m_nParity);
    SelectIndex(m_serialPorts, m_nSerialPort);
    SelectIndex(m_parallelPorts, m_nParallelPort);
    SelectIndex(m_stopBits, m_nStopBits);
}

void CCommunicationPage::Apply()
{
    ReadLists();
    if (m_rs232->GetValue()) {
        m_app.m_nInterface = 0;
        m_app.m_nPort = PortSettingOf(m_serialPorts, m_nSerialPort, "COM", m_app.m_nPort);
        if (m_nBaud >= 0 && m_nBaud < static_cast<int>(std::size(kBaudRates)))
            m_app.m_nBaudRate = kBaudRates[m_nBaud];
        m_app.m_nParity = m_nParity;
        if (m_nStopBits == 0 || m_nStopBits == 1)
            m_app.m_nStopBits = kStopValues[m_nStopBits];
        if (m_nHandshaking >= 0 && m_nHandshaking <= 3)
            m_app.m_nFlowControl = m_nHandshaking + 1;
    } else if (m_ieee1284->GetValue()) {
        m_app.m_nInterface = 1;
        m_app.m_nPort = PortSettingOf(m_parallelPorts, m_nParallelPort, "LPT", m_app.m_nPort);
    } else if (m_network->GetValue()) {
        m_app.m_nInterface = app_settings::kInterfaceNetwork;
        m_app.m_strHost = m_host->GetValue().Strip(wxString::both).utf8_string();
        long port = 0;
        if (m_tcpPort->GetValue().ToLong(&port) && port >= 1 && port <= 65535)
            m_app.m_nTcpPort = static_cast<int>(port);
    } else {
        m_app.m_nInterface = 2;
    }
    // Opening a serial port takes about a second, a network printer that
    // does not answer at most the connect time-out (5 s).
    wxBusyCursor wait;
    m_app.ConnectPrinter();
}

void CCommunicationPage::ApplyAddress()
{
    const std::string host = m_host->GetValue().Strip(wxString::both).utf8_string();
    long port = 0;
    if (!m_tcpPort->GetValue().ToLong(&port) || port < 1 || port > 65535) {
        m_tcpPort->ChangeValue(wxString::Format("%d", m_app.m_nTcpPort));
        wxBell();
        port = m_app.m_nTcpPort;
    }
    const bool changed = host != m_app.m_strHost || port != m_app.m_nTcpPort;
    if (!changed || !m_network->GetValue())
        return;
    Apply();
}

void CCommunicationPage::OnVersion()
{
    m_app.m_nVersion = m_version->GetValue() ? 1 : 0;
    if (m_versionChanged)
        m_versionChanged();
}

void CCommunicationPage::OnPageSize(wxSizeEvent& event)
{
    CommunicationRects r;
    using page_widgets::RectBinding;
    const std::initializer_list<RectBinding> bindings = {
        {IDC_COMM_LEFT_FRAME, &r.leftFrame},   {IDC_COMM_RIGHT_FRAME, &r.rightFrame},
        {IDC_PORT_LABEL, &r.portLabel},        {IDC_BAUD_LABEL, &r.baudLabel},
        {IDC_PARITY_LABEL, &r.parityLabel},    {IDC_STOP_BITS_LABEL, &r.stopBitsLabel},
        {IDC_HANDSHAKE_LABEL, &r.handshakeLabel}, {IDC_SERIAL_PORT, &r.serialPorts},
        {IDC_PARALLEL_PORT, &r.parallelPorts}, {IDC_BAUD_RATE, &r.baudRate},
        {IDC_PARITY, &r.parity},               {IDC_STOP_BITS, &r.stopBits},
        {IDC_HANDSHAKE, &r.handshaking},
    };
    page_widgets::ReadRects(this, bindings);
    const wxSize size = event.GetSize();
    if (page_layout::LayoutCommunicationPage(size.x, size.y, r)) {
        page_widgets::WriteRects(this, bindings);
        // The address rows follow the port and baud rows.
        auto follow = [this](int id, const page_layout::Rect& row) {
            if (wxWindow* window = FindWindow(id)) {
                window->SetPosition(wxPoint(row.x, window->GetPosition().y));
                if (id == IDC_HOST_LABEL || id == IDC_TCP_PORT_LABEL)
                    window->SetSize(row.width, -1);
            }
        };
        follow(IDC_HOST_LABEL, r.portLabel);
        follow(IDC_TCP_PORT_LABEL, r.baudLabel);
        follow(IDC_HOST, r.serialPorts);
        follow(IDC_TCP_PORT, r.baudRate);
    }
    event.Skip();
}
