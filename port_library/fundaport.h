#pragma once
// libfundaport: the port library. A compatibility contract: callers link it
// by import and rely on these names, shapes and results; change it only
// deliberately.
//
// One port per process; no call takes a connection handle. Every function
// may be called from any thread, and none lets an exception out: a failure
// inside one (memory exhausted, a system error) gives its failure value (0,
// FALSE, null, FUNDAPORT_CONNECTION_REFUSED; nothing for the two without a
// result) with the calling thread's last error set: ERROR_OUTOFMEMORY when
// memory ran out, the system error when a system call failed, else
// ERROR_INTERNAL_ERROR.
//
// Set-up order, as the communication object drives it:
//   Comm_OpenSetup (when Comm_IsOpened is 0), Comm_IsConnectionValid,
//   Comm_BreakDownCommPort if it asked for a rebuild and the port is
//   connected, Comm_UpdateConnection, Comm_SetConnect(Comm_IsPortAvailable()).
// Then I/O: Comm_WritePort / Comm_ReadPort on the handles and OVERLAPPED
// structures of Comm_GethCommPortTX/RX and Comm_GetOverlappedTX/RX, with the
// overlapped I/O contract of kernel/device_io.h (FALSE with ERROR_IO_PENDING
// = pending; the structure's event is signalled on completion). Nothing
// blocks: a write that the device does not take stays pending until the
// caller's own time-out, Comm_BreakDownCommPort or Comm_CloseCleanuo.
//
// Line codes (serial):
//   baud      0 = 115200, 1 = 57600, 2 = 38400, 3 = 19200, 4 = 9600, 5 = 4800
//   parity    0 none, 1 odd, 2 even
//   handshake 0 none, 1 DTR/DSR, 2 DSR, 3 CTS (RTS/CTS), 4 XON/XOFF
//             1 and 2 hold writes while DSR is low; a device without modem
//             lines (a pseudo-terminal) counts as DSR asserted.
//   data bits 0..3 = 5..8 bits
//   stop bits 0 one, 1 one and a half (sent as two: Linux has no 1.5), 2 two
// Serial index n is the port COM(n+1), parallel index n the port LPT(n+1),
// both through the port map (devices/port_map.h).
#include "kernel/device_io.h"
#include "win_types.h"

/// PortKind of Comm_OpenSetup.
constexpr int FUNDAPORT_KIND_SERIAL = 0;
constexpr int FUNDAPORT_KIND_USB = 1;
constexpr int FUNDAPORT_KIND_PARALLEL = 2;

/// The connection option (second argument of Comm_IsConnectionValid for
/// serial and parallel ports, first for USB): the caller drives the port
/// through overlapped transmit and receive handles. It is the only mode this
/// library offers, so the option must be exactly this value; anything else
/// is refused.
constexpr int FUNDAPORT_OPTION_OVERLAPPED = 64;

/// Results of Comm_IsConnectionValid.
/// Connected, with exactly these settings to a live device: nothing to do.
constexpr unsigned FUNDAPORT_CONNECTION_UNCHANGED = 0;
/// Connected, but with other settings (or another port, or the device hung
/// up): break the connection down, then Comm_UpdateConnection.
constexpr unsigned FUNDAPORT_CONNECTION_REBUILD = 1;
/// Not connected yet: call Comm_UpdateConnection directly.
constexpr unsigned FUNDAPORT_CONNECTION_SET = 2;
/// Not possible: the library is not set up for this kind, or a code or the
/// option is out of range. The caller leaves the connection as it is.
constexpr unsigned FUNDAPORT_CONNECTION_REFUSED = 3;

extern "C" {

/// Sets the library up for one PortKind (`hWnd` may be null; it will receive
/// the USB transport's error messages). `nSetupVersion` is 1 in every call
/// and not otherwise used. 1 on success; 0 when already set up or for an
/// unknown kind.
int Comm_OpenSetup(HWND hWnd, int nPortKind, int nSetupVersion) noexcept;

/// Compares the wanted connection with the current one; returns one of the
/// FUNDAPORT_CONNECTION_ values. Serial: (index, option, baud, parity,
/// handshake, data bits, stop bits). Parallel: (index, option, 0, 0, 0, 0, 0).
/// USB: (option, device, use-interrupt-output flag, 0, 0, 0, 0): UNCHANGED
/// when connected to that device with that choice and nothing needs a
/// reconnection, else REBUILD (go on with Comm_UpdateConnection).
unsigned Comm_IsConnectionValid(int nArg1, int nArg2, int nArg3, int nArg4, int nArg5, int nArg6,
                                int nArg7) noexcept;

/// Opens the port and applies the settings (closing a connection still
/// open first). Serial: (0, index, baud, parity, handshake, data bits, stop
/// bits). Parallel: (0, index, five values not used). USB: (was-open flag,
/// device, use-interrupt-output flag (the real-time flag), interrupt-in,
/// interrupt-out): connects through the USB transport (libtramline.so,
/// loaded from this library's folder, else the loader's path); the last two
/// receive whether the printer has an interrupt input / output. 1 on
/// success, 0 with the last error (ERROR_FILE_NOT_FOUND for an unmapped
/// name, the open's error, ERROR_INVALID_PARAMETER for a code out of range;
/// for USB ERROR_MOD_NOT_FOUND / ERROR_PROC_NOT_FOUND when the transport
/// cannot be loaded, else its driver status). The serial and parallel
/// values are passed by reference as the contract has it and left as they
/// are.
int Comm_UpdateConnection(int nArg1, int nArg2, int& nArg3, int& nArg4, int& nArg5, int& nArg6,
                          int& nArg7) noexcept;

/// 1 when a port is open and its device has not hung up, else 0.
int Comm_IsPortAvailable(void) noexcept;
/// Nonzero with an open port: the port is connected (I/O may start). Zero:
/// not connected, and an open port is closed.
void Comm_SetConnect(int bConnect) noexcept;

/// 1 between Comm_OpenSetup and Comm_CloseCleanuo, else 0.
int Comm_IsOpened(void) noexcept;
/// 1 while connected, else 0.
int Comm_IsConnected(void) noexcept;

/// Ends the connection: pending reads and writes complete with
/// ERROR_OPERATION_ABORTED (their events signalled), the device is closed,
/// the handles become invalid. 1 if there was a port to close, else 0.
int Comm_BreakDownCommPort(void) noexcept;
/// Breaks down and undoes Comm_OpenSetup. The OVERLAPPED structures and
/// their events stay valid for the process's lifetime.
void Comm_CloseCleanuo(void) noexcept;

/// The device handle of the open port for writing / reading (the same
/// handle for both), null without an open port.
HANDLE Comm_GethCommPortTX(void) noexcept;
HANDLE Comm_GethCommPortRX(void) noexcept;
/// The library's OVERLAPPED for writes / reads; each has its own
/// manual-reset event; stable for the process's lifetime. Null (with
/// ERROR_OUTOFMEMORY) only when the library could not allocate its state on
/// its first call.
OVERLAPPED* Comm_GetOverlappedTX(void) noexcept;
OVERLAPPED* Comm_GetOverlappedRX(void) noexcept;

/// Starts writing `dwLength` bytes (WriteFile contract). A write still
/// pending on the same OVERLAPPED, which its caller has given up waiting for,
/// is cancelled first: its unsent rest is dropped, and the new bytes go out.
BOOL Comm_WritePort(HANDLE hPort, const void* pBuffer, DWORD dwLength, DWORD* pdwWritten,
                    OVERLAPPED* pOverlapped) noexcept;
/// Starts reading up to `dwLength` bytes; completes as soon as at least one
/// byte is there (ReadFile contract).
BOOL Comm_ReadPort(HANDLE hPort, void* pBuffer, DWORD dwLength, DWORD* pdwRead, OVERLAPPED* pOverlapped) noexcept;

/// 1 while a port is open and its device has not hung up (for a
/// pseudo-terminal: its other side is still open; for USB: the printer still
/// answers a configuration request, at most 5 s), else 0.
int Comm_IsDevicePresent(void) noexcept;
/// Nonzero for an open parallel port that can be read (opened for reading,
/// and no read was refused by the driver), else 0.
int Comm_IsBidirectional(void) noexcept;

}  // extern "C"
