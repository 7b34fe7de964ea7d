// Network printers: the port name that addresses one, and the reconnection
// after the printer closed the connection.
#include "communication.h"

#include "fundaport.h"
#include "port_failure.h"

#include <charconv>

namespace quorlink {

namespace {

constexpr int kDefaultNetworkPort = 9100;

}  // namespace

bool ParseNetworkPortName(const std::string& name, std::string& host, int& port) {
    if (name.size() < 4)
        return false;
    std::string_view rest = std::string_view(name).substr(4);  // after "TCP:"
    std::string_view hostPart;
    std::string_view portPart;
    if (rest.starts_with("[")) {
        size_t close = rest.find(']');
        if (close == std::string_view::npos)
            return false;
        hostPart = rest.substr(1, close - 1);
        std::string_view after = rest.substr(close + 1);
        if (!after.empty()) {
            if (after[0] != ':')
                return false;
            portPart = after.substr(1);
            if (portPart.empty())
                return false;
        }
    } else {
        size_t colon = rest.rfind(':');
        hostPart = rest.substr(0, colon);
        if (colon != std::string_view::npos) {
            portPart = rest.substr(colon + 1);
            if (portPart.empty() || hostPart.find(':') != std::string_view::npos)
                return false;  // an IPv6 address needs its brackets
        }
    }
    if (hostPart.empty())
        return false;
    int number = kDefaultNetworkPort;
    if (!portPart.empty()) {
        auto [end, error] = std::from_chars(portPart.data(), portPart.data() + portPart.size(), number);
        if (error != std::errc() || end != portPart.data() + portPart.size() || number < 1 || number > 65535)
            return false;
    }
    host.assign(hostPart);
    port = number;
    return true;
}

void CCommunication::ReconnectDroppedNetworkPort() {
    if (m_link->portKind.load() != kPortNetwork)
        return;
    // Only a port that was opened and has since lost its printer: a closed
    // one stays closed until OpenPort.
    if (Comm_IsOpened() != 1 || !Comm_IsConnected() || Comm_IsDevicePresent() == 1)
        return;
    std::lock_guard api(m_apiLock);
    if (!AbortEventHandle())
        return;
    ConnectionSetup();
    // The rebuild set AbortEvent to stop the reads on the old connection;
    // the read thread resumes on the new one once it is clear.
    ResetEvent(AbortEventHandle());
    if (Comm_IsDevicePresent() != 1)
        ReportPortFailure("cannot reconnect to ", WideToUtf8(m_portName));
}

}  // namespace quorlink
