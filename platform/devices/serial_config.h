#pragma once
// The default line settings of a serial port by its COMn name, read from the
// device's termios: only the few a port's client takes over.
#include "win_types.h"

#include <termios.h>

#include <string_view>

namespace marquen::devices {

enum class SerialParity : BYTE { None = 0, Odd = 1, Even = 2, Mark = 3, Space = 4 };
enum class SerialStopBits : BYTE { One = 0, OneAndHalf = 1, Two = 2 };

struct SerialDefaults {
    DWORD baudRate = 0;  ///< bits per second, 0 for a speed without a number
    BYTE dataBits = 8;
    SerialParity parity = SerialParity::None;
    SerialStopBits stopBits = SerialStopBits::One;
    bool ctsFlow = false;  ///< output held while CTS is low (RTS/CTS handshake)
    bool xonXoff = false;  ///< XON/XOFF on output
};

/// The default settings of serial port `name` (COMn through the port map;
/// case and a trailing ':' do not matter): its node is opened non-blocking,
/// its termios read and the node closed again. False with the last error:
/// ERROR_FILE_NOT_FOUND when the name is not a mapped COM port, the open's
/// error (ERROR_ACCESS_DENIED, ...) or ERROR_NOT_SUPPORTED when the node is no
/// terminal. Any thread; does not block.
bool ReadSerialDefaults(std::string_view name, SerialDefaults& defaults);

/// The settings a termios describes.
SerialDefaults SerialDefaultsFromTermios(const termios& settings);
/// Bits per second of a termios speed code, 0 for one without a number.
DWORD BaudRateFromSpeed(speed_t speed);
/// The termios speed code of a rate, B0 for a rate termios cannot set.
speed_t SpeedFromBaudRate(DWORD baudRate);

}  // namespace marquen::devices
