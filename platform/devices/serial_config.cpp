#include "devices/serial_config.h"

#include "devices/port_map.h"
#include "kernel/last_error.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <string_view>

namespace marquen::devices {
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

SerialDefaults SerialDefaultsFromTermios(const termios& settings) {
    SerialDefaults defaults;
    defaults.baudRate = BaudRateFromSpeed(cfgetospeed(&settings));
    switch (settings.c_cflag & CSIZE) {
    case CS5: defaults.dataBits = 5; break;
    case CS6: defaults.dataBits = 6; break;
    case CS7: defaults.dataBits = 7; break;
    default: defaults.dataBits = 8; break;
    }
    if (!(settings.c_cflag & PARENB)) {
        defaults.parity = SerialParity::None;
    } else if (settings.c_cflag & CMSPAR) {
        defaults.parity = (settings.c_cflag & PARODD) ? SerialParity::Mark : SerialParity::Space;
    } else {
        defaults.parity = (settings.c_cflag & PARODD) ? SerialParity::Odd : SerialParity::Even;
    }
    // A UART sends 1.5 stop bits when asked for two with five data bits.
    if (settings.c_cflag & CSTOPB)
        defaults.stopBits = defaults.dataBits == 5 ? SerialStopBits::OneAndHalf : SerialStopBits::Two;
    else
        defaults.stopBits = SerialStopBits::One;
    defaults.ctsFlow = (settings.c_cflag & CRTSCTS) != 0;
    defaults.xonXoff = (settings.c_iflag & IXON) != 0;
    return defaults;
}

bool ReadSerialDefaults(std::string_view name, SerialDefaults& defaults) {
    auto node = IsComName(name) ? ResolvePortName(name) : std::nullopt;
    if (!node) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    int fd = ::open(node->c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        SetLastErrorFromErrno(errno);
        return false;
    }
    termios settings{};
    int result = ::tcgetattr(fd, &settings);
    int error = errno;
    ::close(fd);
    if (result != 0) {
        SetLastErrorFromErrno(error);
        return false;
    }
    defaults = SerialDefaultsFromTermios(settings);
    return true;
}

}  // namespace marquen::devices
