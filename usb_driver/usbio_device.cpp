// Served printers: finding them, opening them once, configuring and binding.
#include "usbio_device.h"

#include <algorithm>
#include <cstdio>

namespace usbio {

DWORD StatusFromLibusb(int error) {
    switch (error) {
    case LIBUSB_SUCCESS: return USBIO_STATUS_SUCCESS;
    case LIBUSB_ERROR_NO_DEVICE: return USBIO_STATUS_DEVICE_GONE;
    case LIBUSB_ERROR_BUSY: return USBIO_STATUS_BUSY;
    case LIBUSB_ERROR_PIPE: return USBIO_STATUS_STALL;
    case LIBUSB_ERROR_TIMEOUT: return USBIO_STATUS_TIMEOUT;
    case LIBUSB_ERROR_NO_MEM: return USBIO_STATUS_NO_MEMORY;
    case LIBUSB_ERROR_INVALID_PARAM: return USBIO_STATUS_INVALID_PARAMETER;
    case LIBUSB_ERROR_NOT_FOUND: return USBIO_STATUS_DEVICE_NOT_FOUND;
    default: return USBIO_STATUS_IO_ERROR;
    }
}

std::string InterfacePathOf(libusb_device* device) {
    uint8_t ports[8];
    int count = libusb_get_port_numbers(device, ports, sizeof ports);
    char text[64];
    std::snprintf(text, sizeof text, "%u-", libusb_get_bus_number(device));
    std::string location = text;
    if (count <= 0) {
        std::snprintf(text, sizeof text, "a%u", libusb_get_device_address(device));
        location += text;
    }
    for (int i = 0; i < count; ++i) {
        std::snprintf(text, sizeof text, i == 0 ? "%u" : ".%u", ports[i]);
        location += text;
    }
    std::string guid = USBIO_INTERFACE_CLASS_STRING;
    std::transform(guid.begin(), guid.end(), guid.begin(), [](unsigned char c) { return std::tolower(c); });
    return std::string(USBIO_INTERFACE_PATH_PREFIX) + location + "#" + guid;
}

std::optional<int> PrinterInterfaceOf(libusb_device* device) {
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_config_descriptor(device, 0, &config) != LIBUSB_SUCCESS || config == nullptr) {
        return std::nullopt;
    }
    std::optional<int> found;
    for (int i = 0; i < config->bNumInterfaces && !found; ++i) {
        const auto& interface = config->interface[i];
        if (interface.num_altsetting > 0 && interface.altsetting[0].bInterfaceClass == LIBUSB_CLASS_PRINTER) {
            found = interface.altsetting[0].bInterfaceNumber;
        }
    }
    if (!found && config->bNumInterfaces > 0 && config->interface[0].num_altsetting > 0) {
        found = config->interface[0].altsetting[0].bInterfaceNumber;
    }
    libusb_free_config_descriptor(config);
    return found;
}

UsbioDevice::UsbioDevice(libusb_device* device, libusb_device_handle* handle, std::string interfacePath)
    : m_device(libusb_ref_device(device)), m_handle(handle), m_interfacePath(std::move(interfacePath)) {}

UsbioDevice::~UsbioDevice() {
    Unconfigure();
    libusb_close(m_handle);
    libusb_unref_device(m_device);
}

void UsbioDevice::MarkGone() {
    std::lock_guard lock(m_lock);
    m_gone = true;
}

bool UsbioDevice::Gone() const {
    std::lock_guard lock(m_lock);
    return m_gone;
}

uint8_t UsbioDevice::ConfigurationValue() const {
    std::lock_guard lock(m_lock);
    return m_configuration;
}

DWORD UsbioDevice::Configure(const UsbioSetConfiguration& request) {
    if (request.NbOfInterfaces == 0 || request.NbOfInterfaces > USBIO_MAX_INTERFACES) {
        return USBIO_STATUS_INVALID_PARAMETER;
    }
    std::lock_guard lock(m_lock);
    if (m_gone) {
        return USBIO_STATUS_DEVICE_GONE;
    }
    libusb_config_descriptor* config = nullptr;
    int result = libusb_get_config_descriptor(m_device, request.ConfigurationIndex, &config);
    if (result != LIBUSB_SUCCESS) {
        return result == LIBUSB_ERROR_NOT_FOUND ? USBIO_STATUS_INVALID_PARAMETER : StatusFromLibusb(result);
    }
    // A second configure while configured starts over, as the device would.
    for (int number : m_claimed) {
        libusb_release_interface(m_handle, number);
    }
    m_claimed.clear();
    m_pipes.clear();
    m_bound.clear();
    m_configuration = 0;
    DWORD status = USBIO_STATUS_SUCCESS;
    int current = 0;
    if (libusb_get_configuration(m_handle, &current) != LIBUSB_SUCCESS || current != config->bConfigurationValue) {
        result = libusb_set_configuration(m_handle, config->bConfigurationValue);
        if (result != LIBUSB_SUCCESS) {
            status = StatusFromLibusb(result);
        }
    }
    for (int i = 0; status == USBIO_STATUS_SUCCESS && i < request.NbOfInterfaces; ++i) {
        const UsbioInterfaceSetting& setting = request.InterfaceList[i];
        if (setting.InterfaceIndex >= config->bNumInterfaces ||
            setting.AlternateSettingIndex >= config->interface[setting.InterfaceIndex].num_altsetting) {
            status = USBIO_STATUS_INVALID_PARAMETER;
            break;
        }
        const libusb_interface_descriptor& alternate =
            config->interface[setting.InterfaceIndex].altsetting[setting.AlternateSettingIndex];
        int number = alternate.bInterfaceNumber;
        // A kernel driver (usblp) holding the interface means the printer is
        // bound to another driver: it is not taken away here.
        if (libusb_kernel_driver_active(m_handle, number) == 1) {
            status = USBIO_STATUS_BUSY;
            break;
        }
        result = libusb_claim_interface(m_handle, number);
        if (result != LIBUSB_SUCCESS) {
            status = StatusFromLibusb(result);
            break;
        }
        m_claimed.push_back(number);
        if (setting.AlternateSettingIndex != 0) {
            result = libusb_set_interface_alt_setting(m_handle, number, alternate.bAlternateSetting);
            if (result != LIBUSB_SUCCESS) {
                status = StatusFromLibusb(result);
                break;
            }
        }
        for (int e = 0; e < alternate.bNumEndpoints; ++e) {
            m_pipes.push_back({alternate.endpoint[e].bEndpointAddress, alternate.endpoint[e].bmAttributes});
        }
    }
    if (status == USBIO_STATUS_SUCCESS) {
        m_configuration = config->bConfigurationValue;
    } else {
        for (int number : m_claimed) {
            libusb_release_interface(m_handle, number);
        }
        m_claimed.clear();
        m_pipes.clear();
    }
    libusb_free_config_descriptor(config);
    return status;
}

void UsbioDevice::Unconfigure() {
    std::lock_guard lock(m_lock);
    for (int number : m_claimed) {
        libusb_release_interface(m_handle, number);
    }
    m_claimed.clear();
    m_pipes.clear();
    m_bound.clear();
    m_configuration = 0;
}

DWORD UsbioDevice::BindPipe(uint8_t address, const UsbioFile* file, Pipe& pipe) {
    std::lock_guard lock(m_lock);
    if (m_gone) {
        return USBIO_STATUS_DEVICE_GONE;
    }
    if (m_configuration == 0) {
        return USBIO_STATUS_NOT_CONFIGURED;
    }
    auto found = std::find_if(m_pipes.begin(), m_pipes.end(), [&](const Pipe& p) { return p.address == address; });
    if (found == m_pipes.end() || (found->attributes & 3) < 2) {
        return USBIO_STATUS_INVALID_PARAMETER;  // no bulk or interrupt endpoint of a claimed interface
    }
    for (const auto& [bound, owner] : m_bound) {
        if (bound == address && owner != file) {
            return USBIO_STATUS_PIPE_BUSY;
        }
        if (owner == file) {
            return USBIO_STATUS_INVALID_PARAMETER;  // this file is bound already
        }
    }
    m_bound.emplace_back(address, file);
    pipe = *found;
    return USBIO_STATUS_SUCCESS;
}

void UsbioDevice::UnbindPipe(const UsbioFile* file) {
    std::lock_guard lock(m_lock);
    std::erase_if(m_bound, [&](const auto& entry) { return entry.second == file; });
}

std::vector<DeviceTable::Candidate> DeviceTable::ListServed() {
    std::vector<Candidate> served;
    libusb_device** list = nullptr;
    ssize_t count = libusb_get_device_list(m_context, &list);
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device* device = list[i];
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS ||
            descriptor.idVendor != USBIO_VENDOR_ID || descriptor.idProduct != USBIO_PRODUCT_ID) {
            continue;
        }
        std::optional<int> printer = PrinterInterfaceOf(device);
        if (!printer) {
            continue;
        }
        // Already open here: ours, whatever the kernel says.
        std::string path = InterfacePathOf(device);
        auto openNow = OpenDevices();
        bool open = std::any_of(openNow.begin(), openNow.end(), [&](const std::shared_ptr<UsbioDevice>& strong) {
            return !strong->Gone() && strong->InterfacePath() == path;
        });
        openNow.clear();
        if (!open) {
            libusb_device_handle* handle = nullptr;
            if (libusb_open(device, &handle) != LIBUSB_SUCCESS) {
                continue;  // no access: not ours to serve
            }
            // 0: no kernel driver. 1 (usblp holds it) or an error (a printer
            // that is leaving, whose removal libusb has not seen yet) is not served.
            int held = libusb_kernel_driver_active(handle, *printer);
            libusb_close(handle);
            if (held != 0) {
                continue;
            }
        }
        served.push_back({libusb_ref_device(device), path});
    }
    if (count >= 0) {
        libusb_free_device_list(list, 1);
    }
    std::sort(served.begin(), served.end(), [](const Candidate& a, const Candidate& b) { return a.path < b.path; });
    return served;
}

void DeviceTable::ReleaseCandidates(std::vector<Candidate>& candidates) {
    for (auto& candidate : candidates) {
        libusb_unref_device(candidate.device);
    }
    candidates.clear();
}

std::vector<std::string> DeviceTable::ServedPaths() {
    std::lock_guard lock(m_lock);
    auto served = ListServed();
    std::vector<std::string> paths;
    for (const auto& candidate : served) {
        paths.push_back(candidate.path);
    }
    ReleaseCandidates(served);
    return paths;
}

std::vector<std::shared_ptr<UsbioDevice>> DeviceTable::OpenDevices() {
    std::lock_guard lock(m_openLock);
    std::erase_if(m_open, [](const std::weak_ptr<UsbioDevice>& weak) { return weak.expired(); });
    std::vector<std::shared_ptr<UsbioDevice>> open;
    for (auto& weak : m_open) {
        if (auto strong = weak.lock()) {
            open.push_back(std::move(strong));
        }
    }
    return open;
}

std::shared_ptr<UsbioDevice> DeviceTable::Open(Candidate& candidate, DWORD* error) {
    for (auto& strong : OpenDevices()) {
        if (!strong->Gone() && strong->InterfacePath() == candidate.path) {
            return strong;
        }
    }
    libusb_device_handle* handle = nullptr;
    int result = libusb_open(candidate.device, &handle);
    if (result != LIBUSB_SUCCESS) {
        *error = USBIO_STATUS_DEVICE_NOT_FOUND;
        return nullptr;
    }
    auto device = std::make_shared<UsbioDevice>(candidate.device, handle, candidate.path);
    std::lock_guard lock(m_openLock);
    m_open.push_back(device);
    return device;
}

std::shared_ptr<UsbioDevice> DeviceTable::OpenByNumber(int number, DWORD* error) {
    std::lock_guard lock(m_lock);
    auto served = ListServed();
    std::shared_ptr<UsbioDevice> device;
    if (number >= 0 && static_cast<size_t>(number) < served.size()) {
        device = Open(served[static_cast<size_t>(number)], error);
    } else {
        *error = USBIO_STATUS_DEVICE_NOT_FOUND;
    }
    ReleaseCandidates(served);
    return device;
}

std::shared_ptr<UsbioDevice> DeviceTable::OpenByPath(const std::string& path, DWORD* error) {
    std::string wanted = path;
    std::transform(wanted.begin(), wanted.end(), wanted.begin(), [](unsigned char c) { return std::tolower(c); });
    std::lock_guard lock(m_lock);
    auto served = ListServed();
    std::shared_ptr<UsbioDevice> device;
    *error = USBIO_STATUS_DEVICE_NOT_FOUND;
    for (auto& candidate : served) {
        if (candidate.path == wanted) {
            device = Open(candidate, error);
        }
    }
    ReleaseCandidates(served);
    return device;
}

void DeviceTable::DeviceLeft(libusb_device* device) {
    for (auto& strong : OpenDevices()) {
        if (strong->Device() == device) {
            strong->MarkGone();
        }
        ReleaseOutsideCallbacks(std::move(strong));  // called from libusb's event handling
    }
}

}  // namespace usbio
