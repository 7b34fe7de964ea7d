#pragma once
// One open device file of the driver: the requests of the table, and reads
// and writes on the pipe bound to it, as libusb transfers that complete on
// the driver's event thread.
#include "kernel/served_device.h"
#include "usbio_device.h"

#include <map>
#include <memory>
#include <mutex>

namespace usbio {

class UsbioFile final : public marquen::kernel::ServedFile, public std::enable_shared_from_this<UsbioFile> {
public:
    explicit UsbioFile(std::shared_ptr<UsbioDevice> device) : m_device(std::move(device)) {}

    void Start(const marquen::kernel::DeviceOperationPtr& operation) override;
    void Cancel(const marquen::kernel::DeviceOperationPtr& operation) override;
    void Close() override;
    bool IsGone() const override { return m_device->Gone(); }

private:
    struct InFlight;
    static void LIBUSB_CALL TransferDone(libusb_transfer* transfer);

    void IoControl(const marquen::kernel::DeviceOperationPtr& operation);
    void ReadOrWrite(const marquen::kernel::DeviceOperationPtr& operation);
    void ControlIn(const marquen::kernel::DeviceOperationPtr& operation, uint8_t requestType, uint8_t request,
                   uint16_t value, uint16_t index, bool shortAllowed);
    // Submits `transfer`; on failure completes the operation and frees it.
    void Submit(libusb_transfer* transfer, std::unique_ptr<InFlight> inFlight);
    void CancelAll();

    const std::shared_ptr<UsbioDevice> m_device;
    std::mutex m_lock;
    bool m_bound = false;  // GUARDED_BY(m_lock)
    Pipe m_pipe;           // GUARDED_BY(m_lock)
    std::map<marquen::kernel::DeviceOperation*, libusb_transfer*> m_transfers;  // GUARDED_BY(m_lock)
};

}  // namespace usbio
