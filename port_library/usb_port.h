#pragma once
// Inside of the port library: the USB kind, driven through the USB
// transport (libtramline.so), loaded by name the first time a USB port is
// set up and kept loaded for the rest of the process.
//
// Locking: one lock of its own guards the transport object and what it
// handed out. The communication object stops its receive thread before it
// breaks a connection down or cleans up, so a read never meets an object
// being deleted.
#include "kernel/device_io.h"
#include "win_types.h"

namespace fundaport {

/// Sets up the USB kind for `window` (the transport's error posts go
/// there; may be null).
void UsbSetup(HWND window);
/// What Comm_IsConnectionValid answers for USB: UNCHANGED when connected to
/// the same device with the same choice and the transport says no
/// reconnection is needed, else REBUILD (go on with Comm_UpdateConnection).
unsigned UsbConnectionVerdict(int option, int device, int useInterruptOut);
/// Connects (or reconnects) device `device`; `useInterruptOut` in, the two
/// presence flags out. 1 on success, 0 with the last error: ERROR_MOD_NOT_FOUND
/// or ERROR_PROC_NOT_FOUND when the transport cannot be loaded, else the
/// transport's status.
int UsbConnect(int reopen, int device, int useInterruptOut, int& hasInterruptIn, int& hasInterruptOut);
/// True while a connection has its pipes.
bool UsbIsAvailable();
/// True while a connection has its pipes and the printer still answers (a
/// configuration request; a printer pulled out answers no more). Waits at
/// most the transport's request time-out.
bool UsbIsDevicePresent();
/// The output pipe / the bulk-input pipe, null without a connection.
HANDLE UsbWriteHandle();
HANDLE UsbReadHandle();
/// Reads and writes through the transport (its ReadData/WriteData).
BOOL UsbWrite(HANDLE handle, const void* buffer, DWORD length, DWORD* written, OVERLAPPED* overlapped);
BOOL UsbRead(HANDLE handle, void* buffer, DWORD length, DWORD* read, OVERLAPPED* overlapped);
/// Ends the connection: pending transfers are cancelled, the device is
/// unconfigured and closed, the transport object deleted. True when there
/// was one.
bool UsbBreakDown();

}  // namespace fundaport
