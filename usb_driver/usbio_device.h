#pragma once
// The printers the driver serves and their shared state. One UsbioDevice
// per physical printer while at least one device file of it is open: the
// libusb handle, the configuration this driver set, the claimed interfaces
// and which file each pipe is bound to.
#include "usbio.h"

#include <libusb.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace usbio {

class UsbioFile;

/// One endpoint of a claimed interface.
struct Pipe {
    uint8_t address = 0;
    uint8_t attributes = 0;  // low two bits: 2 bulk, 3 interrupt
    bool IsIn() const { return (address & 0x80) != 0; }
};

class UsbioDevice {
public:
    UsbioDevice(libusb_device* device, libusb_device_handle* handle, std::string interfacePath);
    ~UsbioDevice();  ///< releases the interfaces, closes the handle

    libusb_device_handle* Handle() const { return m_handle; }
    libusb_device* Device() const { return m_device; }
    const std::string& InterfacePath() const { return m_interfacePath; }

    /// The printer was unplugged: every request fails from now on.
    void MarkGone();
    bool Gone() const;

    /// Configuration value this driver set (0 when not configured).
    uint8_t ConfigurationValue() const;
    /// Selects configuration `index` and claims the listed interfaces;
    /// a driver status.
    DWORD Configure(const UsbioSetConfiguration& request);
    /// Releases every interface and unbinds every pipe (their files' pending
    /// transfers are cancelled by the caller).
    void Unconfigure();

    /// Binds `address` to `file`; a driver status. Fills `pipe`.
    DWORD BindPipe(uint8_t address, const UsbioFile* file, Pipe& pipe);
    void UnbindPipe(const UsbioFile* file);

private:
    libusb_device* m_device;  // a reference
    libusb_device_handle* m_handle;
    const std::string m_interfacePath;
    mutable std::mutex m_lock;
    bool m_gone = false;                          // GUARDED_BY(m_lock)
    uint8_t m_configuration = 0;                  // GUARDED_BY(m_lock)
    std::vector<int> m_claimed;                   // GUARDED_BY(m_lock)
    std::vector<Pipe> m_pipes;                    // GUARDED_BY(m_lock): endpoints of the claimed interfaces
    std::vector<std::pair<uint8_t, const UsbioFile*>> m_bound;  // GUARDED_BY(m_lock)
};

/// The device table: which printers are served, in bus order.
class DeviceTable {
public:
    explicit DeviceTable(libusb_context* context) : m_context(context) {}

    /// Interface paths of the printers served now (present, of the maker,
    /// printer interface free of kernel drivers), in bus order.
    std::vector<std::string> ServedPaths();
    /// The served printer of that number or path, opened (shared with the
    /// files already open on it). Null with a driver status when none.
    std::shared_ptr<UsbioDevice> OpenByNumber(int number, DWORD* error);
    std::shared_ptr<UsbioDevice> OpenByPath(const std::string& path, DWORD* error);
    /// The printer behind `device` left the bus.
    void DeviceLeft(libusb_device* device);

private:
    struct Candidate {
        libusb_device* device;
        std::string path;
    };
    // With m_lock held: the served printers; each candidate's device is
    // referenced (unref with ReleaseCandidates).
    std::vector<Candidate> ListServed();
    static void ReleaseCandidates(std::vector<Candidate>& candidates);
    std::shared_ptr<UsbioDevice> Open(Candidate& candidate, DWORD* error);

    // The printers open now, as strong references; the caller drops them
    // outside every lock (dropping the last one closes a libusb handle).
    std::vector<std::shared_ptr<UsbioDevice>> OpenDevices();

    libusb_context* m_context;
    // Serialises listing and opening. Held across libusb calls, so the
    // hot-plug callback (which runs with libusb's event lock held, the lock
    // libusb_close waits for) must never take it.
    std::mutex m_lock;
    // Guards m_open only; never held across a libusb call or while a
    // UsbioDevice may be destroyed.
    std::mutex m_openLock;
    std::vector<std::weak_ptr<UsbioDevice>> m_open;  // GUARDED_BY(m_openLock)
};

/// Keeps `object` alive until the event thread is out of libusb's event
/// handling. Callbacks (transfer done, hot-plug) hand their references here:
/// dropping the last reference to a device inside one would call
/// libusb_close from within event handling, which deadlocks against a
/// libusb_open on another thread.
void ReleaseOutsideCallbacks(std::shared_ptr<void> object);

/// "\\?\usb#vid_f5a7&pid_a000#<bus>-<port>.<port>#{class}" of a device.
std::string InterfacePathOf(libusb_device* device);
/// The interface number of the printer interface (class 7) of the first
/// configuration, or the first interface; none when unreadable.
std::optional<int> PrinterInterfaceOf(libusb_device* device);
/// A driver status for a libusb error code.
DWORD StatusFromLibusb(int error);

}  // namespace usbio
