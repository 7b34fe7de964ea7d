#pragma once
// The virtual USB printer's descriptors: the built-in set of the maker's
// printer (one interface of class 07/01/02 with a bulk IN and a bulk OUT
// endpoint), descriptors read from a file, the endpoints they declare, and
// the string and device-id replies.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vprinter {

struct UsbStrings {
    std::string manufacturer = "Vantrex";
    std::string product = "Receipt Printer VP-80";
    std::string serial = "VP0000001";
};

struct UsbEndpoint {
    uint8_t address = 0;     ///< bit 7 set = IN
    uint8_t attributes = 0;  ///< low two bits: 2 bulk, 3 interrupt
    uint16_t maxPacketSize = 0;
    bool IsIn() const { return (address & 0x80) != 0; }
    bool IsBulk() const { return (attributes & 3) == 2; }
    bool IsInterrupt() const { return (attributes & 3) == 3; }
};

struct UsbDescriptors {
    std::vector<uint8_t> device;         ///< 18 bytes
    std::vector<uint8_t> configuration;  ///< wTotalLength bytes
    std::vector<UsbEndpoint> endpoints;  ///< in the order the configuration lists them
    uint8_t interfaceNumber = 0;         ///< of the printer interface (class 7), else the first
    uint8_t configurationValue = 1;
    uint8_t ManufacturerIndex() const { return device[14]; }
    uint8_t ProductIndex() const { return device[15]; }
    uint8_t SerialIndex() const { return device[16]; }
    /// The device descriptor followed by the configuration, as sysfs shows them.
    std::vector<uint8_t> Concatenated() const;
};

/// The maker's printer; an empty string of `strings` gets index 0 (no string).
UsbDescriptors BuiltInDescriptors(const UsbStrings& strings);

/// Parses the raw 18-byte device descriptor followed by the configuration
/// descriptor and everything after it (exactly wTotalLength bytes). Nothing,
/// with a one-line reason in `error`, when a length or type does not add up.
std::optional<UsbDescriptors> ParseDescriptors(std::span<const uint8_t> bytes, std::string& error);

/// String descriptor of `text` (UTF-8 taken as Latin-1 bytes, each one UTF-16
/// character), at most 255 bytes long.
std::vector<uint8_t> StringDescriptor(const std::string& text);

/// The printer class's GET_DEVICE_ID reply: 2-byte big-endian length that
/// counts itself, then the id.
std::vector<uint8_t> DeviceIdReply(const std::string& deviceId);

/// The default IEEE 1284 device id.
std::string DefaultDeviceId();

}  // namespace vprinter
