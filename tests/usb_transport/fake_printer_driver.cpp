#include "fake_printer_driver.h"

#include "devices/device_interfaces.h"
#include "device_channel.h"
#include "usbio.h"

#include <cstdlib>
#include <cstring>

using namespace marquen::kernel;

namespace tramline_test {

struct FakePrinterDriver::State {
    std::mutex lock;
    std::vector<FakePrinter> printers;
    std::vector<std::pair<DeviceOperationPtr, std::pair<size_t, uint8_t>>> pendingReads;
};

namespace {

constexpr const char* kPathPrefix = "\\\\?\\usb#vid_f5a7&pid_a000#";

std::string InterfacePath(size_t n) {
    return std::string(kPathPrefix) + "1-" + std::to_string(n + 1) + "#" + USBIO_INTERFACE_CLASS_STRING;
}

class FakeFile : public ServedFile {
public:
    FakeFile(std::shared_ptr<FakePrinterDriver::State> state, size_t printer) : m_state(state), m_printer(printer) {}

    void Start(const DeviceOperationPtr& operation) override {
        std::unique_lock lock(m_state->lock);
        FakePrinter& printer = m_state->printers[m_printer];
        DWORD status = 0;
        DWORD count = 0;
        auto reply = [&](const Bytes& bytes) {
            count = static_cast<DWORD>(std::min(bytes.size(), operation->output().size()));
            std::copy(bytes.begin(), bytes.begin() + count, operation->output().begin());
        };
        const Bytes& input = operation->input();
        switch (operation->kind()) {
        case DeviceOperation::Kind::IoControl:
            switch (operation->controlCode()) {
            case USBIO_IOCTL_GET_DRIVER_INFO: {
                UsbioDriverInfo info{printer.apiVersion, USBIO_DRIVER_VERSION, USBIO_DRIVER_BUILD, 0};
                Bytes bytes(sizeof info);
                std::memcpy(bytes.data(), &info, sizeof info);
                reply(bytes);
                break;
            }
            case USBIO_IOCTL_GET_DESCRIPTOR: {
                if (input.size() < sizeof(UsbioDescriptorRequest)) {
                    status = USBIO_STATUS_INVALID_PARAMETER;
                    break;
                }
                UsbioDescriptorRequest request;
                std::memcpy(&request, input.data(), sizeof request);
                if (request.DescriptorType == 1)
                    reply(printer.device);
                else if (request.DescriptorType == 2)
                    reply(printer.configuration);
                else if (request.DescriptorType == 3 && printer.strings.count(request.DescriptorIndex))
                    reply(printer.strings[request.DescriptorIndex]);
                else
                    status = USBIO_STATUS_STALL;
                break;
            }
            case USBIO_IOCTL_GET_CONFIGURATION: reply(Bytes{printer.configurationValue}); break;
            case USBIO_IOCTL_SET_CONFIGURATION:
                if (input.size() != sizeof(UsbioSetConfiguration))
                    status = USBIO_STATUS_INVALID_PARAMETER;
                else
                    printer.configurationValue = 1;
                break;
            case USBIO_IOCTL_CLASS_OR_VENDOR_IN_REQUEST:
                if (input.size() != sizeof(UsbioClassOrVendorRequest))
                    status = USBIO_STATUS_INVALID_PARAMETER;
                else
                    reply(printer.deviceId);
                break;
            case USBIO_IOCTL_UNCONFIGURE_DEVICE:
                printer.configurationValue = 0;
                ++printer.unconfigures;
                break;
            case USBIO_IOCTL_BIND_PIPE:
                if (input.size() != 1 || printer.configurationValue == 0) {
                    status = USBIO_STATUS_NOT_CONFIGURED;
                } else {
                    m_endpoint = input[0];
                    printer.boundPipes.push_back(input[0]);
                }
                break;
            default: status = USBIO_STATUS_INVALID_PARAMETER; break;
            }
            break;
        case DeviceOperation::Kind::Write:
            if (m_endpoint == 0 || (m_endpoint & 0x80)) {
                status = USBIO_STATUS_NOT_BOUND;
            } else {
                Bytes& written = printer.written[m_endpoint];
                written.insert(written.end(), input.begin(), input.end());
                count = static_cast<DWORD>(input.size());
            }
            break;
        case DeviceOperation::Kind::Read: {
            Bytes& queued = printer.toRead[m_endpoint];
            if (queued.empty()) {
                m_state->pendingReads.push_back({operation, {m_printer, m_endpoint}});
                return;
            }
            reply(queued);
            queued.erase(queued.begin(), queued.begin() + count);
            break;
        }
        }
        lock.unlock();
        operation->Complete(status, count);
    }

    void Cancel(const DeviceOperationPtr& operation) override {
        {
            std::lock_guard guard(m_state->lock);
            std::erase_if(m_state->pendingReads, [&](const auto& read) { return read.first == operation; });
        }
        operation->Complete(ERROR_OPERATION_ABORTED, 0);
    }
    void Close() override {}

private:
    std::shared_ptr<FakePrinterDriver::State> m_state;
    size_t m_printer;
    uint8_t m_endpoint = 0;
};

class FakeProvider : public DeviceProvider {
public:
    explicit FakeProvider(std::shared_ptr<FakePrinterDriver::State> state) : m_state(state) {}
    std::shared_ptr<ServedFile> Open(const std::string& path, DWORD* error) override {
        std::lock_guard guard(m_state->lock);
        for (size_t n = 0; n < m_state->printers.size(); ++n) {
            if (path == InterfacePath(n) || path == std::string(USBIO_DEVICE_NAME_PREFIX) + std::to_string(n))
                return std::make_shared<FakeFile>(m_state, n);
        }
        *error = USBIO_STATUS_DEVICE_NOT_FOUND;
        return nullptr;
    }

private:
    std::shared_ptr<FakePrinterDriver::State> m_state;
};

Bytes StringDescriptor(const std::string& text) {
    Bytes bytes = {static_cast<uint8_t>(2 + 2 * text.size()), 3};
    for (char c : text) {
        bytes.push_back(static_cast<uint8_t>(c));
        bytes.push_back(0);
    }
    return bytes;
}

}  // namespace

FakePrinter MakerPrinter(bool interrupts, const std::string& serial) {
    FakePrinter printer;
    printer.device = {0x12, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x40, 0xA7,
                      0xF5, 0x00, 0xA0, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01};
    uint8_t endpoints = interrupts ? 4 : 2;
    uint8_t total = static_cast<uint8_t>(18 + 7 * endpoints);
    printer.configuration = {0x09, 0x02, total, 0x00, 0x01, 0x01, 0x00, 0xC0, 0x32,
                             0x09, 0x04, 0x00, 0x00, endpoints, 0x07, 0x01, 0x02, 0x00,
                             0x07, 0x05, 0x81, 0x02, 0x40, 0x00, 0x00,
                             0x07, 0x05, 0x02, 0x02, 0x40, 0x00, 0x00};
    if (interrupts) {
        Bytes more = {0x07, 0x05, 0x83, 0x03, 0x08, 0x00, 0x0A, 0x07, 0x05, 0x04, 0x03, 0x08, 0x00, 0x0A};
        printer.configuration.insert(printer.configuration.end(), more.begin(), more.end());
    }
    printer.strings[0] = {0x04, 0x03, 0x09, 0x04};
    if (!serial.empty()) {
        printer.device[16] = 3;
        printer.strings[3] = StringDescriptor(serial);
    }
    std::string id = "MFG:Vantrex;CMD:ESC;";
    printer.deviceId = {0, static_cast<uint8_t>(id.size() + 2)};
    printer.deviceId.insert(printer.deviceId.end(), id.begin(), id.end());
    return printer;
}

FakePrinterDriver::FakePrinterDriver(std::vector<FakePrinter> printers, bool registerDriverName)
    : m_state(std::make_shared<State>()) {
    // Only this driver: no stand-in library is loaded beside it.
    ::setenv("MARQUEN_USER_DRIVERS", "", 1);
    m_state->printers = std::move(printers);
    auto provider = std::make_shared<FakeProvider>(m_state);
    RegisterDeviceProvider(kPathPrefix, provider);
    RegisterDeviceProvider(USBIO_DEVICE_NAME_PREFIX, provider);
    std::weak_ptr<State> weak = m_state;
    marquen::devices::RegisterDeviceInterfaceClass(tramline::DriverInterfaceClass(), [weak] {
        std::vector<std::string> paths;
        if (auto state = weak.lock()) {
            std::lock_guard guard(state->lock);
            for (size_t n = 0; n < state->printers.size(); ++n)
                paths.push_back(InterfacePath(n));
        }
        return paths;
    });
    if (registerDriverName)
        RegisterUserModeDriver(USBIO_DRIVER_FILE_NAME);
}

FakePrinterDriver::~FakePrinterDriver() {
    UnregisterDeviceProvider(kPathPrefix);
    UnregisterDeviceProvider(USBIO_DEVICE_NAME_PREFIX);
    marquen::devices::RegisterDeviceInterfaceClass(tramline::DriverInterfaceClass(), {});
    std::vector<DeviceOperationPtr> reads;
    {
        std::lock_guard guard(m_state->lock);
        for (auto& read : m_state->pendingReads)
            reads.push_back(read.first);
        m_state->pendingReads.clear();
    }
    for (auto& read : reads)
        read->Complete(ERROR_OPERATION_ABORTED, 0);
}

FakePrinter FakePrinterDriver::Printer(size_t n) {
    std::lock_guard guard(m_state->lock);
    return m_state->printers.at(n);
}

void FakePrinterDriver::QueueRead(size_t n, uint8_t endpoint, const Bytes& bytes) {
    std::vector<std::pair<DeviceOperationPtr, DWORD>> done;
    {
        std::lock_guard guard(m_state->lock);
        Bytes& queued = m_state->printers.at(n).toRead[endpoint];
        queued.insert(queued.end(), bytes.begin(), bytes.end());
        for (auto it = m_state->pendingReads.begin(); it != m_state->pendingReads.end() && !queued.empty();) {
            if (it->second != std::make_pair(n, endpoint)) {
                ++it;
                continue;
            }
            auto& output = it->first->output();
            DWORD count = static_cast<DWORD>(std::min(queued.size(), output.size()));
            std::copy(queued.begin(), queued.begin() + count, output.begin());
            queued.erase(queued.begin(), queued.begin() + count);
            done.push_back({it->first, count});
            it = m_state->pendingReads.erase(it);
        }
    }
    for (auto& [operation, count] : done)
        operation->Complete(0, count);
}

}  // namespace tramline_test
