#pragma once
// A serial port's configuration in the platform's DCB shape, and the default
// configuration of a port by its COMn name, read from the device's termios.
#include "kernel/last_error.h"
#include "win_types.h"

#include <termios.h>

constexpr BYTE NOPARITY = 0;
constexpr BYTE ODDPARITY = 1;
constexpr BYTE EVENPARITY = 2;
constexpr BYTE MARKPARITY = 3;
constexpr BYTE SPACEPARITY = 4;
constexpr BYTE ONESTOPBIT = 0;
constexpr BYTE ONE5STOPBITS = 1;
constexpr BYTE TWOSTOPBITS = 2;
constexpr DWORD DTR_CONTROL_DISABLE = 0;
constexpr DWORD DTR_CONTROL_ENABLE = 1;
constexpr DWORD DTR_CONTROL_HANDSHAKE = 2;
constexpr DWORD RTS_CONTROL_DISABLE = 0;
constexpr DWORD RTS_CONTROL_ENABLE = 1;
constexpr DWORD RTS_CONTROL_HANDSHAKE = 2;
constexpr DWORD PST_RS232 = 1;

struct DCB {
    DWORD DCBlength = sizeof(DCB);
    DWORD BaudRate = 0;
    DWORD fBinary : 1;
    DWORD fParity : 1;       // input parity checking
    DWORD fOutxCtsFlow : 1;  // output held while CTS is low
    DWORD fOutxDsrFlow : 1;  // output held while DSR is low
    DWORD fDtrControl : 2;
    DWORD fDsrSensitivity : 1;
    DWORD fTXContinueOnXoff : 1;
    DWORD fOutX : 1;  // XON/XOFF on output
    DWORD fInX : 1;   // XON/XOFF on input
    DWORD fErrorChar : 1;
    DWORD fNull : 1;
    DWORD fRtsControl : 2;
    DWORD fAbortOnError : 1;
    DWORD fDummy2 : 17;
    WORD wReserved = 0;
    WORD XonLim = 0;
    WORD XoffLim = 0;
    BYTE ByteSize = 8;
    BYTE Parity = NOPARITY;
    BYTE StopBits = ONESTOPBIT;
    char XonChar = 0x11;
    char XoffChar = 0x13;
    char ErrorChar = 0;
    char EofChar = 0;
    char EvtChar = 0;
    WORD wReserved1 = 0;

    DCB()
        : fBinary(1), fParity(0), fOutxCtsFlow(0), fOutxDsrFlow(0), fDtrControl(DTR_CONTROL_ENABLE),
          fDsrSensitivity(0), fTXContinueOnXoff(0), fOutX(0), fInX(0), fErrorChar(0), fNull(0),
          fRtsControl(RTS_CONTROL_ENABLE), fAbortOnError(0), fDummy2(0) {}
};

struct COMMCONFIG {
    DWORD dwSize = sizeof(COMMCONFIG);
    WORD wVersion = 1;
    WORD wReserved = 0;
    DCB dcb;
    DWORD dwProviderSubType = PST_RS232;
    DWORD dwProviderOffset = 0;
    DWORD dwProviderSize = 0;
};

/// The default configuration of serial port `name` (COMn through the port
/// map; case and a trailing ':' do not matter): its node is opened
/// non-blocking, its termios read and the node closed again. If *size is
/// below sizeof(COMMCONFIG): FALSE, ERROR_INSUFFICIENT_BUFFER, *size set.
/// Otherwise FALSE with ERROR_FILE_NOT_FOUND when the name is not a mapped
/// COM port, the open's error (ERROR_ACCESS_DENIED, ...) or
/// ERROR_NOT_SUPPORTED when the node is no terminal.
BOOL GetDefaultCommConfig(const char* name, COMMCONFIG* config, DWORD* size);

/// The DCB that describes a termios setting. Linux has no DSR output flow
/// control, so fOutxDsrFlow is always 0.
DCB DcbFromTermios(const termios& settings);
/// Bits per second of a termios speed code, 0 for one without a number.
DWORD BaudRateFromSpeed(speed_t speed);
/// The termios speed code of a rate, B0 for a rate termios cannot set.
speed_t SpeedFromBaudRate(DWORD baudRate);
