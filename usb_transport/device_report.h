#pragma once
// The text report of a USB printer: its descriptors, language list and IEEE
// 1284 device id, in a fixed format ("\r\n" line ends, hex dumps). Pure
// functions over the bytes a device returned; the requests come through
// ReportRequests so the report can be built from canned bytes.
#include "win_types.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tramline {

/// The requests a report makes. Each returns a driver status
/// (USBIO_STATUS_SUCCESS, another USBIO_STATUS_ code or a system error code) and puts the
/// bytes returned, at most `maximum`, into `reply`.
class ReportRequests {
public:
    virtual ~ReportRequests() = default;
    virtual DWORD GetDescriptor(uint8_t type, uint8_t index, uint16_t language, size_t maximum,
                                std::vector<uint8_t>& reply) = 0;
    /// The printer-class GET_DEVICE_ID request (request 0, device to host).
    virtual DWORD GetDeviceId(size_t maximum, std::vector<uint8_t>& reply) = 0;
};

/// Appends the hex dump of `bytes` in offset form (offset, hex, characters).
void AppendOffsetDump(std::string& text, std::span<const uint8_t> bytes);
/// Appends the hex dump of a string descriptor's characters: hex, then the
/// low byte of each UTF-16 character; lines after the first indented under
/// the "bString (hex)       = " label.
void AppendStringDump(std::string& text, std::span<const uint8_t> bytes);
/// Appends every descriptor of `bytes` in turn; stops at a zero or
/// overlong length, at a descriptor shorter than its layout, or at a type
/// it does not know.
void AppendDescriptors(std::string& text, std::span<const uint8_t> bytes);
/// Appends the IEEE 1284 section's body for the reply of GET_DEVICE_ID:
/// the length line, the fields, then the dump of every byte returned.
void AppendDeviceId(std::string& text, std::span<const uint8_t> reply);

/// Appends the whole report. true when complete, false when a request
/// failed (what was appended stays).
bool AppendDeviceReport(std::string& text, ReportRequests& requests);

}  // namespace tramline
