#pragma once
// One opened device file of the printer driver: its handle, the event of its
// own OVERLAPPED, and the lock that serialises its requests. A pipe is a
// channel bound to one endpoint.
#include "com/guid.h"
#include "devices/device_interfaces.h"
#include "kernel/device_io.h"
#include "win_types.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace tramline {

class DeviceChannel {
public:
    DeviceChannel() = default;
    DeviceChannel(const DeviceChannel&) = delete;
    DeviceChannel& operator=(const DeviceChannel&) = delete;
    ~DeviceChannel() { Close(); }

    /// Opens device `number`: the `number`-th interface of `classGuid` in
    /// `set` when a set is given, else the device file by number. Checks the
    /// driver's API version. USBIO_STATUS_SUCCESS (also when already open) or
    /// the status that stopped it. Not concurrently with other calls.
    DWORD Open(int number, HDEVINFO set, const GUID& classGuid);
    /// Closes the file (its pending I/O is cancelled). Not concurrently with
    /// requests.
    void Close();
    bool IsOpen() const { return m_file != nullptr; }

    /// One I/O control request, serialised with the channel's other
    /// requests; waits at most kRequestTimeoutMs, then cancels it
    /// (USBIO_STATUS_TIMEOUT). USBIO_STATUS_DEVICE_NOT_OPEN without a file.
    DWORD Request(DWORD code, const void* input, DWORD inputSize, void* output, DWORD outputSize,
                  DWORD* returned = nullptr);

    DWORD GetDescriptor(uint8_t type, uint8_t index, uint16_t language, size_t maximum,
                        std::vector<uint8_t>& reply);
    /// The printer-class GET_DEVICE_ID request (class request 0, device to
    /// host, short reply allowed).
    DWORD GetDeviceId(size_t maximum, std::vector<uint8_t>& reply);
    DWORD GetConfiguration(uint8_t& value);
    /// Configuration index 0, interface 0 alternate setting 0.
    DWORD SetConfiguration();
    DWORD Unconfigure();
    DWORD BindPipe(uint8_t endpointAddress);

    HANDLE handle() const { return m_file; }
    const OVERLAPPED& overlapped() const { return m_overlapped; }

    /// How long one request may take: far more than any control transfer of
    /// a working printer, short enough that a wedged one does not hang the
    /// caller.
    static constexpr DWORD kRequestTimeoutMs = 5000;

private:
    HANDLE m_file = nullptr;
    OVERLAPPED m_overlapped{};  // its auto-reset event lives as long as the file
    std::mutex m_lock;          // one request at a time
    std::string m_path;
};

/// A pipe: a channel of its own to the device, bound to one endpoint.
struct Pipe {
    DeviceChannel channel;
    uint8_t endpoint = 0;
};

/// GUID form of the driver's interface class.
GUID DriverInterfaceClass();

}  // namespace tramline
