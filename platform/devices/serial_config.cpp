#include "devices/serial_config.h"

#include "devices/port_map.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <string_view>

namespace {

struct SpeedEntry {
    speed_t code;
    DWORD rate;
};

constexpr SpeedEntry kSpeeds[] = {
    {B50, 50},         {B75, 75},         {B110, 110},       {B134, 134},       {B150, 150},
    {B200, 200},       {B300, 300},       {B600, 600},       {B1200, 1200},     {B1800, 1800},
    {B2400, 2400},     {B4800, 4800},     {B9600, 9600},     {B19200, 19200},   {B38400, 38400},
    {B57600, 57600},   {B115200, 115200}, {B230400, 230400}, {B460800, 460800}, {B500000, 500000},
    {B576000, 576000}, {B921600, 921600}, {B1000000, 1000000}};

bool IsComName(std::string_view name) {
    return name.size() > 3 && std::toupper(static_cast<unsigned char>(name[0])) == 'C' &&
           std::toupper(static_cast<unsigned char>(name[1])) == 'O' &&
           std::toupper(static_cast<unsigned char>(name[2])) == 'M';
}

}  // namespace

DWORD BaudRateFromSpeed(speed_t speed) {
    for (const SpeedEntry& entry : kSpeeds) {
        if (entry.code == speed) return entry.rate;
    }
    return 0;
}

speed_t SpeedFromBaudRate(DWORD baudRate) {
    for (const SpeedEntry& entry : kSpeeds) {
        if (entry.rate == baudRate) return entry.code;
    }
    return B0;
}

DCB DcbFromTermios(const termios& settings) {
    DCB dcb;
    dcb.BaudRate = BaudRateFromSpeed(cfgetospeed(&settings));
    switch (settings.c_cflag & CSIZE) {
    case CS5: dcb.ByteSize = 5; break;
    case CS6: dcb.ByteSize = 6; break;
    case CS7: dcb.ByteSize = 7; break;
    default: dcb.ByteSize = 8; break;
    }
    if (!(settings.c_cflag & PARENB)) {
        dcb.Parity = NOPARITY;
    } else if (settings.c_cflag & CMSPAR) {
        dcb.Parity = (settings.c_cflag & PARODD) ? MARKPARITY : SPACEPARITY;
    } else {
        dcb.Parity = (settings.c_cflag & PARODD) ? ODDPARITY : EVENPARITY;
    }
    // A UART sends 1.5 stop bits when asked for two with five data bits.
    if (settings.c_cflag & CSTOPB) {
        dcb.StopBits = dcb.ByteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS;
    } else {
        dcb.StopBits = ONESTOPBIT;
    }
    dcb.fParity = (settings.c_iflag & INPCK) ? 1 : 0;
    dcb.fOutxCtsFlow = (settings.c_cflag & CRTSCTS) ? 1 : 0;
    dcb.fRtsControl = (settings.c_cflag & CRTSCTS) ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    dcb.fOutX = (settings.c_iflag & IXON) ? 1 : 0;
    dcb.fInX = (settings.c_iflag & IXOFF) ? 1 : 0;
    dcb.XonChar = static_cast<char>(settings.c_cc[VSTART]);
    dcb.XoffChar = static_cast<char>(settings.c_cc[VSTOP]);
    return dcb;
}

BOOL GetDefaultCommConfig(const char* name, COMMCONFIG* config, DWORD* size) {
    if (name == nullptr || size == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (config == nullptr || *size < sizeof(COMMCONFIG)) {
        *size = sizeof(COMMCONFIG);
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    auto node = IsComName(name) ? marquen::devices::ResolvePortName(name) : std::nullopt;
    if (!node) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    int fd = ::open(node->c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        SetLastErrorFromErrno(errno);
        return FALSE;
    }
    termios settings{};
    int result = ::tcgetattr(fd, &settings);
    int error = errno;
    ::close(fd);
    if (result != 0) {
        SetLastErrorFromErrno(error);
        return FALSE;
    }
    *config = COMMCONFIG{};
    config->dcb = DcbFromTermios(settings);
    *size = sizeof(COMMCONFIG);
    return TRUE;
}
