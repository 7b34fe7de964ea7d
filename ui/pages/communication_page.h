#pragma once
// CCommunicationPage: the "Communication" tab page. The user chooses how the
// printer is connected (serial or Bluetooth serial, parallel, USB, network)
// and the serial line or the network printer's address ("Host", "TCP port":
// applied when an edit loses the focus or Enter is pressed); every change is written into the application's settings and
// applied at once (the application reconnects). A check box tells whether
// the printer answers the memory queries and knows Upload ("Version").
// The whole page is disabled while a logo transfer runs.
// User-interface thread only.
#include <wx/panel.h>

#include <functional>

class CMarquenApp;
class wxCheckBox;
class wxChoice;
class wxRadioButton;
class wxTextCtrl;

// Control ids of the page.
inline constexpr int IDC_RS232 = 1028;
inline constexpr int IDC_IEEE1284 = 1029;
inline constexpr int IDC_USB = 1030;
inline constexpr int IDC_PORT_LABEL = 1031;
inline constexpr int IDC_BAUD_LABEL = 1032;
inline constexpr int IDC_PARITY_LABEL = 1033;
inline constexpr int IDC_HANDSHAKE_LABEL = 1034;
inline constexpr int IDC_SERIAL_PORT = 1035;
inline constexpr int IDC_BAUD_RATE = 1036;
inline constexpr int IDC_PARITY = 1037;
inline constexpr int IDC_HANDSHAKE = 1038;
inline constexpr int IDC_COMM_LEFT_FRAME = 1039;
inline constexpr int IDC_COMM_RIGHT_FRAME = 1040;
inline constexpr int IDC_PARALLEL_PORT = 1041;
inline constexpr int IDC_STOP_BITS_LABEL = 1069;
inline constexpr int IDC_STOP_BITS = 1070;
/// "Printer with memory queries and upload": the "Version" setting.
inline constexpr int IDC_PRINTER_VERSION = 1076;
/// The network printer: its radio button, and its address edits with their
/// labels (in the right frame, where the port and baud rows are).
inline constexpr int IDC_NETWORK = 1077;
inline constexpr int IDC_HOST_LABEL = 1078;
inline constexpr int IDC_HOST = 1079;
inline constexpr int IDC_TCP_PORT_LABEL = 1080;
inline constexpr int IDC_TCP_PORT = 1081;

namespace communication_page {
/// "Baud rate" values in the order of the baud list.
inline constexpr int kBaudRates[] = {115200, 57600, 38400, 19200, 9600, 4800};
/// The position of rate in the baud list; 0 for a rate that is not there.
int BaudIndex(int rate);
/// "Stop" for the stop-bits list: "ONE" 0, "TWO" 2.
inline constexpr int kStopValues[] = {0, 2};
}  // namespace communication_page

class CCommunicationPage : public wxPanel {
public:
    /// Fills the port lists from the application's Communication object and
    /// shows the current settings. app must outlive the page.
    CCommunicationPage(wxWindow* parent, CMarquenApp& app);

    /// Called after "Version" changed, to show or hide what depends on it.
    void SetVersionChanged(std::function<void()> handler) { m_versionChanged = std::move(handler); }

    /// Reads the lists into the fields, writes the settings of the checked
    /// interface and reconnects.
    void Apply();

    // --- Fields: list indexes, -1 for a list with no selection ------------------------
    int m_nBaud = 0;
    int m_nHandshaking = 0;
    int m_nParity = 0;
    int m_nSerialPort = 0;
    int m_nParallelPort = 0;
    int m_nStopBits = 0;

private:
    void CreateControls();
    void FillPortLists();
    void ShowCurrentSettings();
    void ShowHide();
    void ReadLists();
    void PutLists();
    void OnVersion();
    /// Applies the address edits when they differ from the settings; a port
    /// that is no number from 1 to 65535 is put back as it was.
    void ApplyAddress();
    void OnPageSize(wxSizeEvent& event);

    CMarquenApp& m_app;
    wxRadioButton* m_rs232 = nullptr;
    wxRadioButton* m_ieee1284 = nullptr;
    wxRadioButton* m_usb = nullptr;
    wxRadioButton* m_network = nullptr;
    wxTextCtrl* m_host = nullptr;
    wxTextCtrl* m_tcpPort = nullptr;
    wxChoice* m_serialPorts = nullptr;
    wxChoice* m_parallelPorts = nullptr;
    wxChoice* m_baudRates = nullptr;
    wxChoice* m_parities = nullptr;
    wxChoice* m_stopBits = nullptr;
    wxChoice* m_handshakes = nullptr;
    wxCheckBox* m_version = nullptr;
    std::function<void()> m_versionChanged;
};
