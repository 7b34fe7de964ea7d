#pragma once
// Inside of the port library: serial line settings, their termios, and the
// opening of a serial port.
#include "win_types.h"

#include <termios.h>

namespace fundaport {

struct LineSettings {
    int baud = 0;
    int parity = 0;
    int handshake = 0;
    int dataBits = 3;
    int stopBits = 0;
    bool operator==(const LineSettings&) const = default;
};

/// Every code within its range.
bool IsValid(const LineSettings& settings);
/// Turns `settings` (valid) into raw-mode termios flags on top of `base`.
termios BuildTermios(const LineSettings& settings, const termios& base);
/// Opens COM(index+1) through the port map and applies `settings`. The
/// device handle, or null with the last error.
HANDLE OpenSerialPort(int index, const LineSettings& settings);

/// Reads the modem lines of a descriptor (TIOCM_ bits); 0, or -1 with errno.
using ModemLineReader = int (*)(int fd, int* bits);
/// Replaces the modem-line reader, so tests can hold DSR low on a device
/// that has no modem lines; null restores the ioctl.
void SetModemLineReaderForTesting(ModemLineReader reader);

}  // namespace fundaport
