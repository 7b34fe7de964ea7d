#pragma once
// Choosing the printer's pipes from its configuration descriptor (with all
// that follows it). Pure: no device is touched.
#include <cstdint>
#include <span>

namespace tramline {

struct EndpointSelection {
    bool ok = false;
    /// When !ok because of the descriptor itself: the code to post (empty
    /// configuration, unknown descriptor type), else 0.
    unsigned post = 0;
    uint8_t bulkIn = 0;
    uint8_t bulkOut = 0;
    uint8_t interruptIn = 0;
    uint8_t interruptOut = 0;
    bool hasInterruptIn = false;
    bool hasInterruptOut = false;
    /// The use-interrupt-output flag, cleared when there is no interrupt
    /// output.
    int useInterruptOut = 0;
    uint8_t readPipe = 0;    // bulk input
    uint8_t statusPipe = 0;  // interrupt input, 0 when none
    uint8_t outputPipe = 0;  // interrupt output when used, else bulk output
};

/// Walks the descriptors: device, configuration, string, interface and the
/// class-specific types 0x21, 0x24, 0x25 are passed over; an endpoint is
/// taken by direction and transfer type (bulk, interrupt); any other type
/// fails with the unknown-descriptor post, an empty descriptor (or none at
/// all) with the empty-configuration post. A length running past the bytes
/// ends the walk. Fails without a bulk input or without an output.
EndpointSelection SelectEndpoints(std::span<const uint8_t> configuration, int useInterruptOut);

/// Copies one device's serial into slot `device` of a caller's buffer of
/// `bufferSize` bytes: the UTF-16 characters of the string descriptor taken
/// as single bytes, NUL-terminated, cut to fit the 128-byte slot; nothing
/// when the slot lies past the buffer. False when nothing was written.
bool StoreSerial(char* buffer, size_t bufferSize, int device, std::span<const uint8_t> stringDescriptor);

}  // namespace tramline
