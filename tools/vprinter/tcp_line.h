#pragma once
// The virtual printer on a TCP port, as a network printer's raw port: one
// client at a time, its bytes passed to the printer's line and the printer's
// replies passed back. A hang-up fault closes the client's connection; the
// printer is then switched back on (stored logos kept) for the next client.
#include "virtual_printer.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace vprinter {

class TcpLine {
public:
    /// Serves `printer` (started, outliving this object).
    explicit TcpLine(VirtualPrinter& printer);
    ~TcpLine();  ///< Stop
    TcpLine(const TcpLine&) = delete;
    TcpLine& operator=(const TcpLine&) = delete;

    /// Listens on address:port (port 0: one the system picks) and starts
    /// serving on a thread of its own. False with a message.
    bool Start(const std::string& address, uint16_t port, std::string& error);
    /// Ends the thread (joined) and closes every socket. Safe to call twice.
    void Stop();
    /// The port listened on, after Start.
    uint16_t Port() const { return m_port; }
    /// Connections closed by a hang-up fault so far.
    uint64_t HangUps() const { return m_hangUps.load(); }

private:
    void Serve();
    /// Opens the printer's line from the client's side; false when it failed.
    bool OpenPrinterLine();
    void CloseClient();

    VirtualPrinter& m_printer;
    int m_listen = -1;
    int m_client = -1;
    int m_line = -1;  ///< the printer's pseudo-terminal, from the client's side
    int m_wakeFd = -1;
    uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<uint64_t> m_hangUps{0};
    std::thread m_thread;
};

/// Splits "[ADDRESS:]PORT" (ADDRESS defaults to 127.0.0.1). False when it is
/// not of that shape.
bool ParseTcpEndpoint(const std::string& text, std::string& address, uint16_t& port);

}  // namespace vprinter
