#include "serial_port.h"

#include "devices/port_lock.h"
#include "devices/port_map.h"
#include "kernel/device_io.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>

namespace fundaport {
namespace {

constexpr speed_t kSpeeds[] = {B115200, B57600, B38400, B19200, B9600, B4800};
constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
// How often a write held back by a low DSR looks at the line again.
constexpr DWORD kDsrRecheckMilliseconds = 10;

int ReadModemLinesByIoctl(int fd, int* bits) { return ::ioctl(fd, TIOCMGET, bits); }

std::atomic<ModemLineReader> g_modemLineReader{ReadModemLinesByIoctl};

// DSR as the write gate sees it. A device without modem lines (a
// pseudo-terminal answers ENOTTY) counts as asserted, so every handshake
// setting works on it; so does a failure of another kind, which the write
// itself will then report.
bool DsrAsserted(int fd) {
    int bits = 0;
    if (g_modemLineReader.load()(fd, &bits) != 0) {
        return true;
    }
    return (bits & TIOCM_DSR) != 0;
}

}  // namespace

bool IsValid(const LineSettings& s) {
    return s.baud >= 0 && s.baud <= 5 && s.parity >= 0 && s.parity <= 2 && s.handshake >= 0 && s.handshake <= 4 &&
           s.dataBits >= 0 && s.dataBits <= 3 && s.stopBits >= 0 && s.stopBits <= 2;
}

termios BuildTermios(const LineSettings& s, const termios& base) {
    termios t = base;
    cfmakeraw(&t);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD | kSizes[s.dataBits];
    if (s.parity == 1) t.c_cflag |= PARENB | PARODD;
    if (s.parity == 2) t.c_cflag |= PARENB;
    if (s.stopBits != 0) t.c_cflag |= CSTOPB;
    if (s.handshake == 3) t.c_cflag |= CRTSCTS;
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    if (s.handshake == 4) t.c_iflag |= IXON | IXOFF;
    t.c_cc[VSTART] = 0x11;
    t.c_cc[VSTOP] = 0x13;
    // VMIN 1 is what makes a non-blocking read with nothing waiting answer
    // EAGAIN; with VMIN 0 it answers 0, which means end of file.
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, kSpeeds[s.baud]);
    cfsetospeed(&t, kSpeeds[s.baud]);
    return t;
}

void SetModemLineReaderForTesting(ModemLineReader reader) {
    g_modemLineReader = reader != nullptr ? reader : ReadModemLinesByIoctl;
}

HANDLE OpenSerialPort(int index, const LineSettings& settings) {
    auto node = marquen::devices::ResolvePortName("COM" + std::to_string(index + 1));
    if (!node) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    int fd = ::open(node->c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        SetLastErrorFromErrno(errno);
        return nullptr;
    }
    // Before anything touches the line: a port in use keeps its holder's
    // settings and queued bytes.
    if (int error = marquen::devices::LockPortNode(fd); error != 0) {
        ::close(fd);
        SetLastErrorFromErrno(error);
        return nullptr;
    }
    termios current{};
    if (::tcgetattr(fd, &current) != 0) {
        int error = errno;  // ENOTTY: mapped to something that is no serial port
        marquen::devices::UnlockPortNode(fd);
        ::close(fd);
        SetLastErrorFromErrno(error);
        return nullptr;
    }
    termios wanted = BuildTermios(settings, current);
    if (::tcsetattr(fd, TCSANOW, &wanted) != 0) {
        int error = errno;
        marquen::devices::UnlockPortNode(fd);
        ::close(fd);
        SetLastErrorFromErrno(error);
        return nullptr;
    }
    ::tcflush(fd, TCIOFLUSH);  // nothing from before this connection
    // DTR and RTS on, as a port opened for a printer has them; failures
    // (no modem lines) do not matter.
    int lines = TIOCM_DTR | TIOCM_RTS;
    (void)::ioctl(fd, TIOCMBIS, &lines);

    HANDLE device = CreateDeviceHandle(fd);
    if (device != nullptr && (settings.handshake == 1 || settings.handshake == 2)) {
        SetDeviceWriteGate(device, [fd] { return DsrAsserted(fd); }, kDsrRecheckMilliseconds);
    }
    return device;
}

}  // namespace fundaport
