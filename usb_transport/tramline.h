#pragma once
// libtramline.so: the USB transport. A compatibility contract: the port
// library loads it by name, looks up GetNewUsbInfo and drives the returned
// CCommInfo through its virtual slots, in the order below; change it only
// deliberately (the member order and the slot order are the contract).
//
// No slot and no export lets an exception out: a failure inside one
// (memory exhausted included) gives the slot's failure value (0, FALSE;
// nothing for Reset and the destructor) with the calling thread's last error
// set (ERROR_OUTOFMEMORY when memory ran out).
//
// Errors a caller cannot see in a result are posted to the window given at
// creation as TRAMLINE_MESSAGE_ERROR with wParam one of the TRAMLINE_POST_
// codes and lParam 0. Driver status codes are kept as the last error.
//
// On this platform the destructor takes the first two entries of the virtual
// table (the complete and the deleting destructor) and the slots follow in
// the order declared; a caller built against this header sees them so.
#include "kernel/device_io.h"
#include "win_bool.h"
#include "win_types.h"

/// Message posted to the creation window on an error.
constexpr UINT TRAMLINE_MESSAGE_ERROR = 0x800E;
/// wParam codes of TRAMLINE_MESSAGE_ERROR.
constexpr WPARAM TRAMLINE_POST_DRIVER_NOT_LOADED = 7;  // or, without driver check: the connection failed
constexpr WPARAM TRAMLINE_POST_GENERIC_DRIVER_LOADED = 8;
/// The driver list cannot be read (9) or lacks an entry point (10, 11).
/// Kept for callers that know them; never posted here, where the list is
/// always there (the kernel's modules and USB drivers, and the user-mode
/// drivers).
constexpr WPARAM TRAMLINE_POST_DRIVER_LIST_UNAVAILABLE = 9;
constexpr WPARAM TRAMLINE_POST_DRIVER_LIST_MISSING = 10;
constexpr WPARAM TRAMLINE_POST_DRIVER_NAME_MISSING = 11;
constexpr WPARAM TRAMLINE_POST_EMPTY_CONFIGURATION = 13;
constexpr WPARAM TRAMLINE_POST_UNKNOWN_DESCRIPTOR = 14;

/// Driver status codes (usbio.h) are kept as the last error; the object's
/// own checks add this one: the configuration offers no usable pipes.
constexpr DWORD TRAMLINE_STATUS_NO_PIPES = 12;

/// Bytes of one device's serial-number slot in Reconnect's buffer, and the
/// number of slots a caller's buffer must hold: Reconnect writes device n's
/// serial (at most 127 characters and its NUL) at TRAMLINE_SERIAL_SLOT × n
/// and nothing for devices past the last slot.
constexpr unsigned TRAMLINE_SERIAL_SLOT = 128;
constexpr unsigned TRAMLINE_SERIAL_SLOTS = 16;
constexpr unsigned TRAMLINE_SERIALS_SIZE = TRAMLINE_SERIAL_SLOT * TRAMLINE_SERIAL_SLOTS;

/// Size of the caller's text buffer for GetDeviceReport: the report is
/// appended after the text already there and cut so that the whole text
/// with its NUL fits (a full report is a few kilobytes).
constexpr unsigned TRAMLINE_REPORT_TEXT_SIZE = 65536;

/// One USB printer channel. Created by GetNewUsbInfo, deleted by the caller.
/// The slots may be called from several threads at once: the requests to the
/// driver are serialised per device channel; Connect, Reconnect, Disconnect
/// and Reset are the caller's to serialise against each other.
class CCommInfo {
public:
    // Slot 0.
    virtual ~CCommInfo() noexcept = default;
    /// Slot 1. 1 when the device is configured.
    virtual int IsConfigured() noexcept { return 1; }
    /// Slot 2. Opens device `device` and binds its pipes (closing them first
    /// when `reopen`); see the USB class. 1 on success, 0 on failure. The
    /// out-values are written in every case.
    virtual int Connect(int reopen, int device, int* useInterruptOut, int* hasInterruptIn, int* hasInterruptOut,
                        int unused1, int unused2) noexcept = 0;
    /// Slot 3. Starts an overlapped write on `handle` (WriteFile contract).
    virtual BOOL WriteData(HANDLE handle, const void* buffer, DWORD length, DWORD* written,
                           OVERLAPPED* overlapped) noexcept = 0;
    /// Slot 4. Starts an overlapped read on `handle` (ReadFile contract).
    virtual BOOL ReadData(HANDLE handle, void* buffer, DWORD length, DWORD* read, OVERLAPPED* overlapped) noexcept = 0;
    /// Slot 5. Appends the device report to the NUL-terminated `text` of
    /// TRAMLINE_REPORT_TEXT_SIZE bytes. 1 when complete, 0 when a request
    /// failed (what was appended stays).
    virtual int GetDeviceReport(char* /*text*/) noexcept { return 1; }
    /// Slots 6 and 7: kept for the table's shape; constants.
    virtual int Reserved6(int, int, int, int) noexcept = 0;
    virtual int Reserved7(int, int, int) noexcept = 0;
    /// Slot 8. Checks the driver, lists the devices (count and serials into
    /// a TRAMLINE_SERIALS_SIZE buffer; either may be null), configures and
    /// binds again. 0 when the driver check fails, else 1.
    virtual int Reconnect(int* /*hasInterruptIn*/, int* /*hasInterruptOut*/, int* /*deviceCount*/,
                          char* /*serials*/) noexcept {
        return 1;
    }
    /// Slot 9. Sets the transfer size from `sizeIndex`; 1 when a (re)connect
    /// is needed.
    virtual int NeedsReconnect(int sizeIndex, int device, int useInterruptOut, int, int, int, int) noexcept = 0;
    /// Slots 10 and 11: constants.
    virtual int Reserved10() noexcept { return 1; }
    virtual int Reserved11() noexcept { return 1; }
    /// Slot 12. Unconfigures and closes the device. 1.
    virtual int Disconnect() noexcept = 0;
    /// Slot 13. Forgets the pipe handles and the connection.
    virtual void Reset() noexcept = 0;

    // Members, in the contract's order.
    HANDLE m_hWrite = nullptr;
    HANDLE m_hRead = nullptr;
    HANDLE m_hStatus = nullptr;
    OVERLAPPED m_ReadOverlapped{};
    OVERLAPPED m_WriteOverlapped{};
    OVERLAPPED m_StatusOverlapped{};
    int m_nReserved0 = 0;
    int m_nReserved1 = 1;
    int m_bConnected = 0;
    int m_bReset = 0;
    int m_nBufferSize = 0x4000;
    int m_nTransferSize = 4096;
    int m_nBufferSize2 = 0x4000;
    int m_nReserved2 = -1;
    int m_bCheckDriver = 0;
    HWND m_hWnd = nullptr;
};

/// Creates the USB object for the printer behind the maker's driver, posting
/// its errors to `window` (may be null) and checking the loaded drivers on
/// Connect when `checkDriver` is 1. The caller deletes it. Null (with
/// ERROR_OUTOFMEMORY) when it cannot be allocated. Any thread.
CCommInfo* GetNewUsbInfo(HWND window, int checkDriver) noexcept;

/// The exported (decorated) name of GetNewUsbInfo, for dlsym.
constexpr const char* TRAMLINE_GET_NEW_USB_INFO_SYMBOL = "_Z13GetNewUsbInfoP13MessageWindowi";
/// The library's file name, looked up in the program folder.
constexpr const char* TRAMLINE_LIBRARY_NAME = "libtramline.so";
