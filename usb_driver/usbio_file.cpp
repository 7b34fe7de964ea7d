// Requests of one device file. Control requests and pipe transfers are
// asynchronous libusb transfers; the rest is answered at once. Operations
// are completed with no lock of this file held (the platform layer's rule).
#include "usbio_file.h"

#include <cstring>

namespace usbio {

using marquen::kernel::DeviceOperation;
using marquen::kernel::DeviceOperationPtr;

struct UsbioFile::InFlight {
    std::shared_ptr<UsbioFile> file;  // keeps the file until the transfer is done
    DeviceOperationPtr operation;
    bool control = false;
    bool shortAllowed = true;
    std::vector<uint8_t> controlBuffer;  // setup packet + data
};

void UsbioFile::Start(const DeviceOperationPtr& operation) {
    if (operation->cancelRequested()) {
        operation->Complete(ERROR_OPERATION_ABORTED, 0);
        return;
    }
    if (m_device->Gone()) {
        operation->Complete(USBIO_STATUS_DEVICE_GONE, 0);
        return;
    }
    if (operation->kind() == DeviceOperation::Kind::IoControl) {
        IoControl(operation);
    } else {
        ReadOrWrite(operation);
    }
}

void UsbioFile::IoControl(const DeviceOperationPtr& operation) {
    const auto& input = operation->input();
    auto& output = operation->output();
    switch (operation->controlCode()) {
    case USBIO_IOCTL_GET_DRIVER_INFO: {
        if (output.size() < sizeof(UsbioDriverInfo)) {
            operation->Complete(USBIO_STATUS_INVALID_PARAMETER, 0);
            return;
        }
        UsbioDriverInfo info{USBIO_API_VERSION, USBIO_DRIVER_VERSION, USBIO_DRIVER_BUILD, 0};
        std::memcpy(output.data(), &info, sizeof info);
        operation->Complete(USBIO_STATUS_SUCCESS, sizeof info);
        return;
    }
    case USBIO_IOCTL_GET_DESCRIPTOR: {
        UsbioDescriptorRequest request{};
        if (input.size() < sizeof request || output.empty()) {
            operation->Complete(USBIO_STATUS_INVALID_PARAMETER, 0);
            return;
        }
        std::memcpy(&request, input.data(), sizeof request);
        if (request.Recipient > USBIO_RECIPIENT_OTHER) {
            operation->Complete(USBIO_STATUS_INVALID_PARAMETER, 0);
            return;
        }
        ControlIn(operation, static_cast<uint8_t>(LIBUSB_ENDPOINT_IN | request.Recipient),
                  LIBUSB_REQUEST_GET_DESCRIPTOR,
                  static_cast<uint16_t>(request.DescriptorType << 8 | request.DescriptorIndex), request.LanguageId,
                  true);
        return;
    }
    case USBIO_IOCTL_GET_CONFIGURATION: {
        // What this driver set: a printer the kernel configured at plug-in is
        // still unconfigured for this driver until set configuration.
        if (output.empty()) {
            operation->Complete(USBIO_STATUS_INVALID_PARAMETER, 0);
            return;
        }
        output[0] = m_device->ConfigurationValue();
        operation->Complete(USBIO_STATUS_SUCCESS, 1);
        return;
    }
    case USBIO_IOCTL_SET_CONFIGURATION: {
        UsbioSetConfiguration request{};
        if (input.size() < 4) {
            operation->Complete(USBIO_STATUS_INVALID_PARAMETER, 0);
            return;
        }
        std::memcpy(&request, input.data(), std::min(input.size(), sizeof request));
        size_t needed = 4 + size_t{request.NbOfInterfaces} * sizeof(UsbioInterfaceSetting);
        if (request.NbOfInterfaces > USBIO_MAX_INTERFACES || input.size() < needed) {
            operation->Complete(USBIO_STATUS_INVALID_PARAMETER, 0);
            return;
        }
        operation->Complete(m_device->Configure(request), 0);
        return;
    }
    case USBIO_IOCTL_CLASS_OR_VENDOR_IN_REQUEST: {
        UsbioClassOrVendorRequest request{};
        if (input.size() < sizeof request) {
            operation->Complete(USBIO_STATUS_INVALID_PARAMETER, 0);
            return;
        }
        std::memcpy(&request, input.data(), sizeof request);
        if ((request.Type != USBIO_REQUEST_TYPE_CLASS && request.Type != USBIO_REQUEST_TYPE_VENDOR) ||
            request.Recipient > USBIO_RECIPIENT_OTHER) {
            operation->Complete(USBIO_STATUS_INVALID_PARAMETER, 0);
            return;
        }
        auto requestType = static_cast<uint8_t>(LIBUSB_ENDPOINT_IN | request.Type << 5 | request.Recipient |
                                                (request.RequestTypeReservedBits & 0x1F));
        ControlIn(operation, requestType, request.Request, request.Value, request.Index,
                  (request.Flags & USBIO_SHORT_TRANSFER_OK) != 0);
        return;
    }
    case USBIO_IOCTL_UNCONFIGURE_DEVICE:
        m_device->Unconfigure();
        {
            std::lock_guard lock(m_lock);
            m_bound = false;
        }
        operation->Complete(USBIO_STATUS_SUCCESS, 0);
        return;
    case USBIO_IOCTL_BIND_PIPE: {
        if (input.empty()) {
            operation->Complete(USBIO_STATUS_INVALID_PARAMETER, 0);
            return;
        }
        Pipe pipe;
        DWORD status = m_device->BindPipe(input[0], this, pipe);
        if (status == USBIO_STATUS_SUCCESS) {
            std::lock_guard lock(m_lock);
            m_bound = true;
            m_pipe = pipe;
        }
        operation->Complete(status, 0);
        return;
    }
    case USBIO_IOCTL_UNBIND_PIPE:
        CancelAll();
        m_device->UnbindPipe(this);
        {
            std::lock_guard lock(m_lock);
            m_bound = false;
        }
        operation->Complete(USBIO_STATUS_SUCCESS, 0);
        return;
    default:
        operation->Complete(USBIO_STATUS_INVALID_PARAMETER, 0);
        return;
    }
}

void UsbioFile::ControlIn(const DeviceOperationPtr& operation, uint8_t requestType, uint8_t request, uint16_t value,
                          uint16_t index, bool shortAllowed) {
    auto length = static_cast<uint16_t>(std::min<size_t>(operation->output().size(), 0xFFFF));
    auto inFlight = std::make_unique<InFlight>();
    inFlight->file = shared_from_this();
    inFlight->operation = operation;
    inFlight->control = true;
    inFlight->shortAllowed = shortAllowed;
    inFlight->controlBuffer.resize(LIBUSB_CONTROL_SETUP_SIZE + length);
    libusb_fill_control_setup(inFlight->controlBuffer.data(), requestType, request, value, index, length);
    libusb_transfer* transfer = libusb_alloc_transfer(0);
    if (transfer == nullptr) {
        operation->Complete(USBIO_STATUS_NO_MEMORY, 0);
        return;
    }
    libusb_fill_control_transfer(transfer, m_device->Handle(), inFlight->controlBuffer.data(), TransferDone,
                                 nullptr, 0);
    Submit(transfer, std::move(inFlight));
}

void UsbioFile::ReadOrWrite(const DeviceOperationPtr& operation) {
    bool isRead = operation->kind() == DeviceOperation::Kind::Read;
    Pipe pipe;
    {
        std::lock_guard lock(m_lock);
        if (!m_bound) {
            operation->Complete(USBIO_STATUS_NOT_BOUND, 0);  // no lock of ours is taken by Complete's callers
            return;
        }
        pipe = m_pipe;
    }
    if (pipe.IsIn() != isRead) {
        operation->Complete(USBIO_STATUS_INVALID_PARAMETER, 0);
        return;
    }
    size_t length = isRead ? operation->output().size() : operation->input().size();
    if (length == 0) {
        operation->Complete(USBIO_STATUS_SUCCESS, 0);
        return;
    }
    if (length > 0x7FFFFFFF) {
        operation->Complete(USBIO_STATUS_INVALID_PARAMETER, 0);
        return;
    }
    libusb_transfer* transfer = libusb_alloc_transfer(0);
    if (transfer == nullptr) {
        operation->Complete(USBIO_STATUS_NO_MEMORY, 0);
        return;
    }
    // The operation owns both buffers and lives until the transfer is done;
    // libusb never writes to an OUT buffer.
    auto* buffer = isRead ? operation->output().data() : const_cast<uint8_t*>(operation->input().data());
    auto inFlight = std::make_unique<InFlight>();
    inFlight->file = shared_from_this();
    inFlight->operation = operation;
    if ((pipe.attributes & 3) == LIBUSB_TRANSFER_TYPE_INTERRUPT) {
        libusb_fill_interrupt_transfer(transfer, m_device->Handle(), pipe.address, buffer, static_cast<int>(length),
                                       TransferDone, nullptr, 0);
    } else {
        libusb_fill_bulk_transfer(transfer, m_device->Handle(), pipe.address, buffer, static_cast<int>(length),
                                  TransferDone, nullptr, 0);
    }
    Submit(transfer, std::move(inFlight));
}

void UsbioFile::Submit(libusb_transfer* transfer, std::unique_ptr<InFlight> inFlight) {
    DeviceOperationPtr operation = inFlight->operation;
    transfer->user_data = inFlight.get();
    {
        std::lock_guard lock(m_lock);
        m_transfers[operation.get()] = transfer;
    }
    int result = libusb_submit_transfer(transfer);
    if (result != LIBUSB_SUCCESS) {
        {
            std::lock_guard lock(m_lock);
            m_transfers.erase(operation.get());
        }
        libusb_free_transfer(transfer);
        if (result == LIBUSB_ERROR_NO_DEVICE) {
            m_device->MarkGone();
        }
        operation->Complete(StatusFromLibusb(result), 0);
        return;
    }
    inFlight.release();  // TransferDone takes it back
}

void LIBUSB_CALL UsbioFile::TransferDone(libusb_transfer* transfer) {
    std::unique_ptr<InFlight> inFlight(static_cast<InFlight*>(transfer->user_data));
    UsbioFile& file = *inFlight->file;
    {
        std::lock_guard lock(file.m_lock);
        file.m_transfers.erase(inFlight->operation.get());
    }
    DWORD status;
    DWORD bytes = 0;
    switch (transfer->status) {
    case LIBUSB_TRANSFER_COMPLETED:
        status = USBIO_STATUS_SUCCESS;
        bytes = static_cast<DWORD>(transfer->actual_length);
        break;
    case LIBUSB_TRANSFER_CANCELLED:
        status = file.m_device->Gone() ? USBIO_STATUS_DEVICE_GONE : ERROR_OPERATION_ABORTED;
        break;
    case LIBUSB_TRANSFER_NO_DEVICE:
        file.m_device->MarkGone();
        status = USBIO_STATUS_DEVICE_GONE;
        break;
    case LIBUSB_TRANSFER_STALL:
        status = USBIO_STATUS_STALL;
        break;
    case LIBUSB_TRANSFER_TIMED_OUT:
        status = USBIO_STATUS_TIMEOUT;
        break;
    default:
        status = USBIO_STATUS_IO_ERROR;
        break;
    }
    if (inFlight->control && status == USBIO_STATUS_SUCCESS) {
        auto& output = inFlight->operation->output();
        bytes = std::min<DWORD>(bytes, static_cast<DWORD>(output.size()));
        std::memcpy(output.data(), inFlight->controlBuffer.data() + LIBUSB_CONTROL_SETUP_SIZE, bytes);
        if (!inFlight->shortAllowed && bytes < output.size()) {
            status = USBIO_STATUS_SHORT_TRANSFER;
        }
    }
    libusb_free_transfer(transfer);
    inFlight->operation->Complete(status, bytes);
    ReleaseOutsideCallbacks(std::move(inFlight->file));
}

void UsbioFile::Cancel(const DeviceOperationPtr& operation) {
    // Under the lock: TransferDone takes it before it frees the transfer, so
    // a transfer found here is still alive. libusb calls no callback from
    // inside libusb_cancel_transfer.
    std::lock_guard lock(m_lock);
    auto found = m_transfers.find(operation.get());
    if (found != m_transfers.end()) {
        libusb_cancel_transfer(found->second);
    }
}

void UsbioFile::CancelAll() {
    std::lock_guard lock(m_lock);
    for (auto& [operation, transfer] : m_transfers) {
        libusb_cancel_transfer(transfer);
    }
}

void UsbioFile::Close() {
    CancelAll();
    m_device->UnbindPipe(this);
}

}  // namespace usbio
