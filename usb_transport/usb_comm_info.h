#pragma once
// The USB object behind CCommInfo: the printer's device channel, its three
// pipes and what the endpoint choice found.
#include "device_channel.h"
#include "devices/device_interfaces.h"
#include "tramline.h"

#include <memory>
#include <span>

namespace tramline {

class CUsbCommInfo : public CCommInfo {
public:
    CUsbCommInfo(HWND window, int checkDriver);
    ~CUsbCommInfo() noexcept override;

    int IsConfigured() noexcept override;
    int Connect(int reopen, int device, int* useInterruptOut, int* hasInterruptIn, int* hasInterruptOut, int unused1,
                int unused2) noexcept override;
    BOOL WriteData(HANDLE handle, const void* buffer, DWORD length, DWORD* written,
                   OVERLAPPED* overlapped) noexcept override;
    BOOL ReadData(HANDLE handle, void* buffer, DWORD length, DWORD* read, OVERLAPPED* overlapped) noexcept override;
    int GetDeviceReport(char* text) noexcept override;
    int Reserved6(int, int, int, int) noexcept override { return 1; }
    int Reserved7(int, int, int) noexcept override { return 0; }
    int Reconnect(int* hasInterruptIn, int* hasInterruptOut, int* deviceCount, char* serials) noexcept override;
    int NeedsReconnect(int sizeIndex, int device, int useInterruptOut, int, int, int, int) noexcept override;
    int Disconnect() noexcept override;
    void Reset() noexcept override;

    // The USB part, in the contract's order.
    std::unique_ptr<Pipe> m_pReadPipe;
    std::unique_ptr<Pipe> m_pStatusPipe;
    std::unique_ptr<Pipe> m_pWritePipe;
    DeviceChannel m_Device;
    HDEVINFO m_hDevInfo = nullptr;
    GUID m_ClassGuid;
    int m_bUseInterruptOut = -1;
    int m_nDevice = -1;
    int m_bHasInterruptIn = 0;
    int m_bHasInterruptOut = 1;

private:
    void Post(WPARAM code) const;
    /// True when the check passes (or is off); else it posted why.
    bool DriverCheck();
    /// Lists the devices of the driver's class; with a count and a buffer,
    /// counts them and stores their serials. A driver status.
    DWORD Enumerate(int* deviceCount, char* serials);
    DWORD ConfigureAndBind();
    DWORD BindOne(Pipe& pipe, uint8_t endpoint);
    void ReleaseDeviceSet();
    void ClosePipes();
};

}  // namespace tramline
