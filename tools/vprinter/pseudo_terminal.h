#pragma once
// The printer's end of a pseudo-terminal: the master side, which the virtual
// printer reads and writes, and the slave's device path, which clients open
// as if it were a serial port.
#include <cstdint>
#include <string>
#include <termios.h>

namespace vprinter {

class PseudoTerminal {
public:
    PseudoTerminal() = default;
    ~PseudoTerminal() { Close(); }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    /// Creates the pair: the master non-blocking, the slave in raw mode. The
    /// slave is also held open here, so the master never reports a hang-up
    /// while no client has the device open. False with a message (errno text).
    bool Open(std::string& error);
    /// Closes both ends; a client that has the slave open sees a hang-up.
    void Close();
    bool IsOpen() const { return m_master >= 0; }

    int MasterFd() const { return m_master; }
    const std::string& SlavePath() const { return m_slavePath; }
    /// Bytes written to the master that no client has read yet.
    size_t UnreadByClient() const;
    /// The line speed a client last set on the slave, in baud; 0 when none
    /// is set (B0) or it cannot be read.
    uint32_t LineBaud() const;
    /// A client holds the line in the terminal's exclusive mode and under an
    /// advisory lock (flock). One that ended without giving the line up
    /// (killed) leaves the exclusive mode behind, kept alive by the slave
    /// held open here, and no later client but root could open the device.
    /// Ends that mode when no client holds the lock any more. True when it did.
    bool ReleaseAbandonedExclusiveMode();

private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_slavePath;
};

/// Baud rate of a termios speed constant; 0 for B0 or an unknown constant.
uint32_t BaudOfSpeed(speed_t speed);

}  // namespace vprinter
