#include "usb_descriptors.h"

#include <algorithm>

namespace vprinter {
namespace {

constexpr uint8_t kDeviceType = 1;
constexpr uint8_t kConfigurationType = 2;
constexpr uint8_t kInterfaceType = 4;
constexpr uint8_t kEndpointType = 5;
constexpr uint8_t kPrinterClass = 7;

// Fills endpoints, interface number and configuration value from a
// configuration already checked for its total length.
bool Walk(UsbDescriptors& descriptors, std::string& error) {
    const auto& bytes = descriptors.configuration;
    descriptors.configurationValue = bytes[5];
    bool sawPrinter = false;
    bool inPrinter = true;  // endpoints before any interface count as the printer's
    bool firstInterface = true;
    size_t at = 0;
    while (at < bytes.size()) {
        uint8_t length = bytes[at];
        if (length < 2 || length > bytes.size() - at) {
            error = "descriptor at offset " + std::to_string(18 + at) + " has a bad length " + std::to_string(length);
            return false;
        }
        uint8_t type = bytes[at + 1];
        if (type == kInterfaceType && length >= 9) {
            bool printer = bytes[at + 5] == kPrinterClass;
            if (printer && !sawPrinter) {
                descriptors.interfaceNumber = bytes[at + 2];
                sawPrinter = true;
                descriptors.endpoints.clear();
                inPrinter = true;
            } else {
                if (firstInterface) {
                    descriptors.interfaceNumber = bytes[at + 2];
                }
                inPrinter = !sawPrinter && firstInterface;
            }
            firstInterface = false;
        } else if (type == kEndpointType && length >= 7 && inPrinter) {
            UsbEndpoint endpoint;
            endpoint.address = bytes[at + 2];
            endpoint.attributes = bytes[at + 3];
            endpoint.maxPacketSize = static_cast<uint16_t>(bytes[at + 4] | bytes[at + 5] << 8);
            descriptors.endpoints.push_back(endpoint);
        }
        at += length;
    }
    return true;
}

}  // namespace

std::vector<uint8_t> UsbDescriptors::Concatenated() const {
    std::vector<uint8_t> all = device;
    all.insert(all.end(), configuration.begin(), configuration.end());
    return all;
}

UsbDescriptors BuiltInDescriptors(const UsbStrings& strings) {
    UsbDescriptors descriptors;
    descriptors.device = {18, kDeviceType, 0x00, 0x02,  // USB 2.0
                          0x00, 0x00, 0x00, 64,         // class in the interface; EP0 64 bytes
                          0xA7, 0xF5, 0x00, 0xA0,       // the maker's vendor and product
                          0x00, 0x01,                   // device release 1.00
                          static_cast<uint8_t>(strings.manufacturer.empty() ? 0 : 1),
                          static_cast<uint8_t>(strings.product.empty() ? 0 : 2),
                          static_cast<uint8_t>(strings.serial.empty() ? 0 : 3), 1};
    descriptors.configuration = {
        9, kConfigurationType, 32, 0, 1, 1, 0, 0xC0, 50,      // self powered, 100 mA
        9, kInterfaceType, 0, 0, 2, kPrinterClass, 1, 2, 0,  // printer, bidirectional
        7, kEndpointType, 0x81, 2, 64, 0, 0,                 // bulk IN
        7, kEndpointType, 0x02, 2, 64, 0, 0,                 // bulk OUT
    };
    std::string ignored;
    Walk(descriptors, ignored);
    return descriptors;
}

std::optional<UsbDescriptors> ParseDescriptors(std::span<const uint8_t> bytes, std::string& error) {
    if (bytes.size() < 18 + 9) {
        error = "the descriptors are " + std::to_string(bytes.size()) +
                " bytes: a device descriptor (18) and a configuration (at least 9) are needed";
        return std::nullopt;
    }
    if (bytes[0] != 18 || bytes[1] != kDeviceType) {
        error = "the first 18 bytes are no device descriptor (length 18, type 1)";
        return std::nullopt;
    }
    auto config = bytes.subspan(18);
    if (config[0] != 9 || config[1] != kConfigurationType) {
        error = "the configuration descriptor does not follow the device descriptor (length 9, type 2)";
        return std::nullopt;
    }
    size_t total = static_cast<size_t>(config[2] | config[3] << 8);
    if (total != config.size()) {
        error = "wTotalLength says " + std::to_string(total) + " bytes but " + std::to_string(config.size()) +
                " follow the device descriptor";
        return std::nullopt;
    }
    UsbDescriptors descriptors;
    descriptors.device.assign(bytes.begin(), bytes.begin() + 18);
    descriptors.configuration.assign(config.begin(), config.end());
    if (!Walk(descriptors, error)) {
        return std::nullopt;
    }
    return descriptors;
}

std::vector<uint8_t> StringDescriptor(const std::string& text) {
    size_t characters = std::min<size_t>(text.size(), 126);
    std::vector<uint8_t> descriptor{static_cast<uint8_t>(2 + 2 * characters), 3};
    for (size_t i = 0; i < characters; ++i) {
        descriptor.push_back(static_cast<uint8_t>(text[i]));
        descriptor.push_back(0);
    }
    return descriptor;
}

std::vector<uint8_t> DeviceIdReply(const std::string& deviceId) {
    size_t length = std::min<size_t>(deviceId.size() + 2, 0xFFFF);
    std::vector<uint8_t> reply(length);
    reply[0] = static_cast<uint8_t>(length >> 8);
    reply[1] = static_cast<uint8_t>(length & 0xFF);
    for (size_t i = 2; i < length; ++i) {
        reply[i] = static_cast<uint8_t>(deviceId[i - 2]);
    }
    return reply;
}

std::string DefaultDeviceId() { return "MFG:Vantrex;CMD:VANTREX;MDL:VP-80;CLS:PRINTER;DES:Vantrex VP-80;"; }

}  // namespace vprinter
