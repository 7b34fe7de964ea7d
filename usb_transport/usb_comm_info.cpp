// The USB object: connecting the printer through the maker's driver and
// describing it.
//
// Threads: the port library calls Connect, Reconnect, Disconnect and Reset
// from its set-up path (one thread at a time) and WriteData/ReadData from
// its I/O threads; the driver requests of one channel are serialised by the
// channel.
#include "usb_comm_info.h"

#include "device_report.h"
#include "driver_check.h"
#include "endpoints.h"
#include "kernel/last_error.h"
#include "kernel/served_device.h"
#include "kernel/sync.h"
#include "kernel/threads.h"
#include "usbio.h"
#include "window/message_window.h"

#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace tramline {
namespace {

constexpr size_t kMaximumConfiguration = 2047;

// Runs a slot's body; whatever it throws ends here as the slot's failure
// value, with the last error saying why.
template <typename Result, typename Body>
Result Guarded(Result failure, Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_OUTOFMEMORY);
    } catch (...) {
        SetLastError(ERROR_INTERNAL_ERROR);
    }
    return failure;
}

class ChannelRequests : public ReportRequests {
public:
    explicit ChannelRequests(DeviceChannel& channel) : m_channel(channel) {}
    DWORD GetDescriptor(uint8_t type, uint8_t index, uint16_t language, size_t maximum,
                        std::vector<uint8_t>& reply) override {
        return m_channel.GetDescriptor(type, index, language, maximum, reply);
    }
    DWORD GetDeviceId(size_t maximum, std::vector<uint8_t>& reply) override {
        return m_channel.GetDeviceId(maximum, reply);
    }

private:
    DeviceChannel& m_channel;
};

// The object GetNewUsbInfo made last (process-wide); cleared when it is
// deleted.
CCommInfo* g_pUsbInfo = nullptr;

}  // namespace

CUsbCommInfo::CUsbCommInfo(HWND window, int checkDriver) : m_ClassGuid(DriverInterfaceClass()) {
    m_hWnd = window;
    m_bCheckDriver = checkDriver;
}

CUsbCommInfo::~CUsbCommInfo() noexcept {
    Guarded(0, [&] {
        ClosePipes();
        m_Device.Close();
        ReleaseDeviceSet();
        if (g_pUsbInfo == this)
            g_pUsbInfo = nullptr;
        return 0;
    });
}

void CUsbCommInfo::Post(WPARAM code) const {
    if (m_hWnd != nullptr)
        marquen::window::PostMessage(m_hWnd, TRAMLINE_MESSAGE_ERROR, code, 0);
}

bool CUsbCommInfo::DriverCheck() {
    if (m_bCheckDriver != 1)
        return true;
    WPARAM code = CheckDrivers(ListLoadedDrivers());
    if (code == 0)
        return true;
    Post(code);
    return false;
}

void CUsbCommInfo::ReleaseDeviceSet() {
    if (m_hDevInfo != nullptr) {
        SetupDiDestroyDeviceInfoList(m_hDevInfo);
        m_hDevInfo = nullptr;
    }
}

void CUsbCommInfo::ClosePipes() {
    m_pReadPipe.reset();
    m_pStatusPipe.reset();
    m_pWritePipe.reset();
}

DWORD CUsbCommInfo::Enumerate(int* deviceCount, char* serials) {
    ReleaseDeviceSet();
    HDEVINFO set = SetupDiGetClassDevsA(&m_ClassGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == nullptr || set == reinterpret_cast<HDEVINFO>(INVALID_HANDLE_VALUE))
        return GetLastError() != 0 ? GetLastError() : USBIO_STATUS_DEVICE_NOT_FOUND;
    m_hDevInfo = set;
    const bool collect = deviceCount != nullptr && serials != nullptr;
    if (collect)
        *deviceCount = 0;
    for (int number = 0;; ++number) {
        DeviceChannel channel;
        DWORD status = channel.Open(number, m_hDevInfo, m_ClassGuid);
        if (status == USBIO_STATUS_NO_SUCH_DEVICE_INSTANCE)
            return USBIO_STATUS_SUCCESS;
        if (status != USBIO_STATUS_SUCCESS)
            return status;
        std::vector<uint8_t> device;
        status = channel.GetDescriptor(1, 0, 0, 18, device);
        if (status != USBIO_STATUS_SUCCESS)
            return status;
        if (device.size() < 18)
            return USBIO_STATUS_INVALID_PARAMETER;
        // A printer without a serial number has string index 0, which is the
        // language list, not a serial: it gets an empty serial instead of a
        // request that a printer may stall.
        std::vector<uint8_t> serial;
        if (device[16] != 0) {
            status = channel.GetDescriptor(3, device[16], 0, 255, serial);
            if (status != USBIO_STATUS_SUCCESS)
                return status;
        }
        if (collect) {
            StoreSerial(serials, TRAMLINE_SERIALS_SIZE, number, serial);
            ++*deviceCount;
        }
    }
}

DWORD CUsbCommInfo::BindOne(Pipe& pipe, uint8_t endpoint) {
    pipe.endpoint = endpoint;
    DWORD status = pipe.channel.Open(m_nDevice, m_hDevInfo, m_ClassGuid);
    if (status == USBIO_STATUS_SUCCESS)
        status = pipe.channel.BindPipe(endpoint);
    return status;
}

DWORD CUsbCommInfo::ConfigureAndBind() {
    DWORD status = m_Device.Open(m_nDevice, m_hDevInfo, m_ClassGuid);
    if (status != USBIO_STATUS_SUCCESS)
        return status;
    std::vector<uint8_t> configuration;
    status = m_Device.GetDescriptor(2, 0, 0, kMaximumConfiguration, configuration);
    if (status != USBIO_STATUS_SUCCESS)
        return status;
    EndpointSelection selection = SelectEndpoints(configuration, m_bUseInterruptOut);
    m_bHasInterruptIn = selection.hasInterruptIn ? 1 : 0;
    m_bHasInterruptOut = selection.hasInterruptOut ? 1 : 0;
    m_bUseInterruptOut = selection.useInterruptOut;
    if (!selection.ok) {
        if (selection.post != 0)
            Post(selection.post);
        return TRAMLINE_STATUS_NO_PIPES;
    }
    status = m_Device.SetConfiguration();
    if (status != USBIO_STATUS_SUCCESS)
        return status;

    status = BindOne(*m_pWritePipe, selection.outputPipe);
    if (status != USBIO_STATUS_SUCCESS)
        return status;
    m_hWrite = m_pWritePipe->channel.handle();
    m_WriteOverlapped = m_pWritePipe->channel.overlapped();

    status = BindOne(*m_pReadPipe, selection.readPipe);
    if (status != USBIO_STATUS_SUCCESS)
        return status;
    m_hRead = m_pReadPipe->channel.handle();
    m_ReadOverlapped = m_pReadPipe->channel.overlapped();

    if (selection.hasInterruptIn) {
        status = BindOne(*m_pStatusPipe, selection.statusPipe);
        if (status != USBIO_STATUS_SUCCESS)
            return status;
        m_hStatus = m_pStatusPipe->channel.handle();
        m_StatusOverlapped = m_pStatusPipe->channel.overlapped();
    }
    return USBIO_STATUS_SUCCESS;
}

int CUsbCommInfo::IsConfigured() noexcept {
    return Guarded(0, [&] {
        uint8_t value = 0;
        DWORD status = m_Device.GetConfiguration(value);
        if (status != USBIO_STATUS_SUCCESS) {
            SetLastError(status);
            return 0;
        }
        return value != 0 ? 1 : 0;
    });
}

int CUsbCommInfo::Connect(int reopen, int device, int* useInterruptOut, int* hasInterruptIn, int* hasInterruptOut,
                          int /*unused1*/, int /*unused2*/) noexcept {
    return Guarded(0, [&] {
        if (reopen) {
            m_hRead = nullptr;
            m_hStatus = nullptr;
            if (m_pReadPipe)
                m_pReadPipe->channel.Close();
            if (m_pStatusPipe)
                m_pStatusPipe->channel.Close();
            // Lets a transfer that was just cancelled settle in the device
            // before it is unconfigured.
            Sleep(500);
            m_Device.Unconfigure();
            m_Device.Close();
            ClosePipes();
            m_hWrite = nullptr;
        }
        m_pReadPipe = std::make_unique<Pipe>();
        m_pStatusPipe = std::make_unique<Pipe>();
        m_pWritePipe = std::make_unique<Pipe>();
        m_nDevice = device;
        m_bUseInterruptOut = useInterruptOut != nullptr ? *useInterruptOut : 0;
        m_hRead = nullptr;

        DWORD status = USBIO_STATUS_SUCCESS;
        bool ok = DriverCheck();
        if (ok) {
            status = Enumerate(nullptr, nullptr);
            ok = status == USBIO_STATUS_SUCCESS;
        }
        if (ok) {
            status = ConfigureAndBind();
            ok = status == USBIO_STATUS_SUCCESS;
        }
        if (!ok && m_bCheckDriver != 1)
            Post(TRAMLINE_POST_DRIVER_NOT_LOADED);
        if (hasInterruptIn != nullptr)
            *hasInterruptIn = m_bHasInterruptIn;
        if (hasInterruptOut != nullptr)
            *hasInterruptOut = m_bHasInterruptOut;
        m_bConnected = 1;
        if (useInterruptOut != nullptr)
            *useInterruptOut = m_bUseInterruptOut;
        if (!ok && status != USBIO_STATUS_SUCCESS)
            SetLastError(status);
        return ok ? 1 : 0;
    });
}

BOOL CUsbCommInfo::WriteData(HANDLE handle, const void* buffer, DWORD length, DWORD* written,
                             OVERLAPPED* overlapped) noexcept {
    return Guarded(BOOL{FALSE}, [&] { return WriteFile(handle, buffer, length, written, overlapped); });
}

BOOL CUsbCommInfo::ReadData(HANDLE handle, void* buffer, DWORD length, DWORD* read, OVERLAPPED* overlapped) noexcept {
    return Guarded(BOOL{FALSE}, [&] { return ReadFile(handle, buffer, length, read, overlapped); });
}

int CUsbCommInfo::GetDeviceReport(char* text) noexcept {
    return Guarded(0, [&] {
        if (text == nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        std::string report;
        ChannelRequests requests(m_Device);
        bool complete = AppendDeviceReport(report, requests);
        // Appended after the caller's text, cut so that the whole text and
        // its NUL stay inside the caller's buffer.
        size_t used = strnlen(text, TRAMLINE_REPORT_TEXT_SIZE - 1);
        size_t room = TRAMLINE_REPORT_TEXT_SIZE - 1 - used;
        size_t count = std::min(room, report.size());
        std::memcpy(text + used, report.data(), count);
        text[used + count] = '\0';
        return complete ? 1 : 0;
    });
}

int CUsbCommInfo::Reconnect(int* hasInterruptIn, int* hasInterruptOut, int* deviceCount, char* serials) noexcept {
    return Guarded(0, [&] {
        if (!DriverCheck())
            return 0;
        // Listed twice, as a reconnection always has been; the count and the
        // serials are those of the second listing.
        Enumerate(deviceCount, serials);
        Enumerate(deviceCount, serials);
        if (!m_pReadPipe)
            m_pReadPipe = std::make_unique<Pipe>();
        if (!m_pStatusPipe)
            m_pStatusPipe = std::make_unique<Pipe>();
        if (!m_pWritePipe)
            m_pWritePipe = std::make_unique<Pipe>();
        ConfigureAndBind();
        if (hasInterruptIn != nullptr)
            *hasInterruptIn = m_bHasInterruptIn;
        if (hasInterruptOut != nullptr)
            *hasInterruptOut = m_bHasInterruptOut;
        return 1;
    });
}

int CUsbCommInfo::NeedsReconnect(int sizeIndex, int device, int useInterruptOut, int, int, int, int) noexcept {
    return Guarded(1, [&] {
        static constexpr int kTransferSizes[] = {1, 2, 4, 8, 16, 32, 256, 1024, 4096};
        // An index outside the table leaves the transfer size as it is
        // rather than reading past the table.
        if (sizeIndex >= 0 && sizeIndex < static_cast<int>(std::size(kTransferSizes)))
            m_nTransferSize = kTransferSizes[sizeIndex];
        if (!IsConfigured())
            return 1;
        return device != m_nDevice || useInterruptOut != m_bUseInterruptOut ? 1 : 0;
    });
}

int CUsbCommInfo::Disconnect() noexcept {
    return Guarded(0, [&] {
        m_Device.Unconfigure();
        m_Device.Close();
        return 1;
    });
}

void CUsbCommInfo::Reset() noexcept {
    m_hWrite = nullptr;
    m_hRead = nullptr;
    m_hStatus = nullptr;
    m_bConnected = 0;
    m_bReset = 1;
}

}  // namespace tramline

CCommInfo* GetNewUsbInfo(HWND window, int checkDriver) noexcept {
    try {
        auto* info = new tramline::CUsbCommInfo(window, checkDriver);
        tramline::g_pUsbInfo = info;
        return info;
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_OUTOFMEMORY);
    } catch (...) {
        SetLastError(ERROR_INTERNAL_ERROR);
    }
    return nullptr;
}
