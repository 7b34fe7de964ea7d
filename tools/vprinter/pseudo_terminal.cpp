#include "pseudo_terminal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace vprinter {

namespace {

std::string ErrnoText(const char* what, int error)
{
    return std::string(what) + ": " + std::strerror(error);
}

}  // namespace

bool PseudoTerminal::Open(std::string& error)
{
    Close();
    int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) {
        error = ErrnoText("posix_openpt", errno);
        return false;
    }
    char name[128];
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 || ::ptsname_r(master, name, sizeof name) != 0) {
        error = ErrnoText("pseudo-terminal set-up", errno);
        ::close(master);
        return false;
    }
    int flags = ::fcntl(master, F_GETFL);
    if (flags < 0 || ::fcntl(master, F_SETFL, flags | O_NONBLOCK) != 0) {
        error = ErrnoText("fcntl", errno);
        ::close(master);
        return false;
    }
    int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (slave < 0) {
        error = ErrnoText(name, errno);
        ::close(master);
        return false;
    }
    // Raw from the start: a client that opens the device without setting the
    // line still gets bytes through unchanged (no echo, no CR/LF mapping).
    termios line {};
    if (::tcgetattr(slave, &line) != 0) {
        error = ErrnoText("tcgetattr", errno);
        ::close(slave);
        ::close(master);
        return false;
    }
    ::cfmakeraw(&line);
    line.c_cflag |= CLOCAL | CREAD;
    if (::tcsetattr(slave, TCSANOW, &line) != 0) {
        error = ErrnoText("tcsetattr", errno);
        ::close(slave);
        ::close(master);
        return false;
    }
    m_master = master;
    m_slave = slave;
    m_slavePath = name;
    return true;
}

void PseudoTerminal::Close()
{
    // Never retried on EINTR: the descriptor is released either way.
    if (m_master >= 0)
        ::close(m_master);
    if (m_slave >= 0)
        ::close(m_slave);
    m_master = -1;
    m_slave = -1;
}

size_t PseudoTerminal::UnreadByClient() const
{
    int count = 0;
    if (m_slave < 0 || ::ioctl(m_slave, FIONREAD, &count) != 0 || count < 0)
        return 0;
    return static_cast<size_t>(count);
}

uint32_t PseudoTerminal::LineBaud() const
{
    // On Linux the master reports the slave's settings, which is where a
    // client sets its speed.
    termios line {};
    if (m_master < 0 || ::tcgetattr(m_master, &line) != 0)
        return 0;
    return BaudOfSpeed(::cfgetospeed(&line));
}

bool PseudoTerminal::ReleaseAbandonedExclusiveMode()
{
    int exclusive = 0;
    if (m_slave < 0 || ::ioctl(m_slave, TIOCGEXCL, &exclusive) != 0 || exclusive == 0)
        return false;
    // Taken only for a moment, and only while the mode is on: a client that
    // holds the line holds the lock, so this fails and changes nothing.
    if (::flock(m_slave, LOCK_EX | LOCK_NB) != 0)
        return false;
    ::ioctl(m_slave, TIOCNXCL);
    ::flock(m_slave, LOCK_UN);
    return true;
}

uint32_t BaudOfSpeed(speed_t speed)
{
    struct Entry {
        speed_t speed;
        uint32_t baud;
    };
    static constexpr Entry kTable[] = {
        {B50, 50},         {B75, 75},         {B110, 110},       {B134, 134},       {B150, 150},
        {B200, 200},       {B300, 300},       {B600, 600},       {B1200, 1200},     {B1800, 1800},
        {B2400, 2400},     {B4800, 4800},     {B9600, 9600},     {B19200, 19200},   {B38400, 38400},
        {B57600, 57600},   {B115200, 115200}, {B230400, 230400}, {B460800, 460800}, {B500000, 500000},
        {B576000, 576000}, {B921600, 921600}, {B1000000, 1000000}, {B1152000, 1152000},
        {B1500000, 1500000}, {B2000000, 2000000}, {B2500000, 2500000}, {B3000000, 3000000},
        {B3500000, 3500000}, {B4000000, 4000000},
    };
    for (const Entry& entry : kTable) {
        if (entry.speed == speed)
            return entry.baud;
    }
    return 0;
}

}  // namespace vprinter
