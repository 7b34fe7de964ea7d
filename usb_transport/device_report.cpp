// The device report. Every piece is formatted into a 2048-byte area, as the
// report always was, so a single over-long piece (a device-id field without
// line breaks) is cut at 2047 characters rather than growing without bound.
#include "device_report.h"

#include "usbio.h"

#include <cstdarg>
#include <cstdio>

namespace tramline {
namespace {

constexpr size_t kPieceSize = 2048;
constexpr size_t kMaximumReply = 2047;

constexpr uint8_t kDeviceType = 1;
constexpr uint8_t kConfigurationType = 2;
constexpr uint8_t kStringType = 3;
constexpr uint8_t kInterfaceType = 4;
constexpr uint8_t kEndpointType = 5;

[[gnu::format(printf, 2, 3)]] void Append(std::string& text, const char* format, ...) {
    char piece[kPieceSize];
    va_list arguments;
    va_start(arguments, format);
    int length = std::vsnprintf(piece, sizeof piece, format, arguments);
    va_end(arguments);
    if (length > 0)
        text.append(piece, std::min(static_cast<size_t>(length), kPieceSize - 1));
}

unsigned Word(std::span<const uint8_t> bytes, size_t offset) {
    return bytes[offset] | (bytes[offset + 1] << 8);
}

const char* DeviceClassText(unsigned code) {
    switch (code) {
    case 0x00: return " - See Interface Descriptors\r\n";
    case 0x02: return " - Communication\r\n";
    case 0x09: return " - HUB\r\n";
    case 0xDC: return " - Diagnostic Device\r\n";
    case 0xE0: return " - Wireless Controller\r\n";
    case 0xFF: return " - Vendor Specific\r\n";
    default: return " - ERROR : Invalid value\r\n";
    }
}

const char* InterfaceClassText(unsigned code) {
    switch (code) {
    case 0x01: return " - Audio\r\n";
    case 0x02: return " - CDC Control\r\n";
    case 0x03: return " - HID\r\n";
    case 0x05: return " - Physical\r\n";
    case 0x06: return " - Image\r\n";
    case 0x07: return " - Printer\r\n";
    case 0x08: return " - Mass Storage\r\n";
    case 0x09: return " - HUB\r\n";
    case 0x0A: return " - CDC Data\r\n";
    case 0x0B: return " - Chip/Smart Card\r\n";
    case 0x0D: return " - Content Security\r\n";
    case 0xDC: return " - Diagnostic Device\r\n";
    case 0xE0: return " - Wireless Controller\r\n";
    case 0xFE: return " - Application Specific\r\n";
    case 0xFF: return " - Vendor Specific\r\n";
    // The report has always ended this one with a bare "\n"; kept.
    default: return " - ERROR : invalid valuer\n";
    }
}

const char* InterfaceProtocolText(unsigned code) {
    switch (code) {
    case 0x00: return " - Reserved, undefined\r\n";
    case 0x01: return " - Unidirectional interface\r\n";
    case 0x02: return " - Bidirectional interface\r\n";
    case 0x03: return " - 1284.4 compatible Bidirectional interface\r\n";
    case 0xFF: return " - Vendor specific\r\n";
    default: return "- Reserved for future use\r\n";
    }
}

void AppendCommon(std::string& text, std::span<const uint8_t> d) {
    Append(text, "bLength             = 0x%02X\r\n", d[0]);
    Append(text, "bDescriptorType     = 0x%02X\r\n", d[1]);
}

void AppendIndex(std::string& text, const char* format, unsigned index) {
    Append(text, format, index);
    Append(text, "%s\r\n", index == 0 ? " - Not supported" : "");
}

void AppendDevice(std::string& text, std::span<const uint8_t> d) {
    Append(text, "************ DEVICE DESCRIPTOR ******************\r\n");
    AppendCommon(text, d);
    Append(text, "bcdUSB              = 0x%04X\r\n", Word(d, 2));
    Append(text, "bDeviceClass        = 0x%02X%s", d[4], DeviceClassText(d[4]));
    Append(text, "bDeviceSubClass     = 0x%02X\r\n", d[5]);
    Append(text, "bDeviceProtocol     = 0x%02X\r\n", d[6]);
    Append(text, "bMaxPacketSize0     = 0x%02X\r\n", d[7]);
    Append(text, "idVendor            = 0x%04X\r\n", Word(d, 8));
    Append(text, "idProduct           = 0x%04X\r\n", Word(d, 10));
    Append(text, "bcdDevice           = 0x%04X\r\n", Word(d, 12));
    AppendIndex(text, "iManufacturer       = 0x%02X", d[14]);
    AppendIndex(text, "iProduct            = 0x%02X", d[15]);
    AppendIndex(text, "iSerialNumber       = 0x%02X", d[16]);
    Append(text, "bNumConfigurations  = 0x%02X\r\n\r\n", d[17]);
}

void AppendConfiguration(std::string& text, std::span<const uint8_t> d) {
    Append(text, "************ CONFIGURATION DESCRIPTOR ***********\r\n");
    AppendCommon(text, d);
    Append(text, "wTotalLength        = 0x%04X\r\n", Word(d, 2));
    Append(text, "bNumInterfaces      = 0x%02X\r\n", d[4]);
    Append(text, "bConfigurationValue = 0x%02X\r\n", d[5]);
    Append(text, "iConfiguration      = 0x%02X\r\n", d[6]);
    Append(text, "bmAttributes        = 0x%02X%s%s\r\n", d[7], (d[7] & 0x40) ? " - Self powered" : "",
           (d[7] & 0x20) ? " - Remote Wakeup" : "");
    Append(text, "MaxPower            = 0x%02X - %d mA\r\n\r\n", d[8], d[8] * 2);
}

void AppendString(std::string& text, std::span<const uint8_t> d) {
    Append(text, "************ STRING DESCRIPTOR ******************\r\n");
    AppendCommon(text, d);
    Append(text, "bString (hex)       = ");
    AppendStringDump(text, d.subspan(2));
    Append(text, "\r\n\r\n");
}

void AppendInterface(std::string& text, std::span<const uint8_t> d) {
    Append(text, "************ INTERFACE DESCRIPTOR ***************\r\n");
    AppendCommon(text, d);
    Append(text, "bInterfaceNumber    = 0x%02X\r\n", d[2]);
    Append(text, "bAlternateSetting   = 0x%02X\r\n", d[3]);
    Append(text, "bNumEndpoints       = 0x%02X\r\n", d[4]);
    Append(text, "bInterfaceClass     = 0x%02X%s", d[5], InterfaceClassText(d[5]));
    Append(text, "bInterfaceSubClass  = 0x%02X%s", d[6], d[6] == 1 ? " - Printer\r\n" : "\r\n");
    Append(text, "bInterfaceProtocol  = 0x%02X%s", d[7], InterfaceProtocolText(d[7]));
    Append(text, "iInterface          = 0x%02X\r\n\r\n", d[8]);
}

void AppendEndpoint(std::string& text, std::span<const uint8_t> d) {
    static const char* const kTransferTypes[] = {"- CONTROL\r\n", "- ISOCHRONOUS\r\n", "- BULK\r\n",
                                                 "- INTERRUPT\r\n"};
    Append(text, "************ ENDPOINT DESCRIPTOR ****************\r\n");
    AppendCommon(text, d);
    Append(text, "bEndpointAddress    = 0x%02X %s", d[2], (d[2] & 0x80) ? "- IN\r\n" : "- OUT\r\n");
    Append(text, "bmAttributes        = 0x%02X %s", d[3], kTransferTypes[d[3] & 3]);
    Append(text, "wMaxPacketSize      = 0x%04X\r\n", Word(d, 4));
    Append(text, "bInterval           = 0x%02X - %d ms\r\n\r\n", d[6], d[6]);
}

// The fixed layout length of each descriptor type the walk prints. A device
// may declare a shorter length; its fields past that length are not there,
// so such a descriptor ends the walk rather than being read past its end.
size_t LayoutLength(uint8_t type) {
    switch (type) {
    case kDeviceType: return 18;
    case kConfigurationType: return 9;
    case kStringType: return 2;
    case kInterfaceType: return 9;
    case kEndpointType: return 7;
    default: return 2;
    }
}

char Shown(uint8_t byte) { return byte < 32 || byte > 127 ? '.' : static_cast<char>(byte); }

constexpr char kHexDigits[] = "0123456789ABCDEF";

// Writes byte `column` (0 to 15) of a line in hex at `start` of `line`.
void PutHex(std::string& line, size_t start, size_t column, uint8_t byte) {
    size_t at = start + column * 3 + column / 4;
    line[at] = kHexDigits[byte >> 4];
    line[at + 1] = kHexDigits[byte & 15];
}

// A dump line is built in an area of spaces and cut after its last
// character; the area grows as needed (the string form's indented lines
// reach past 80 columns).
void EndLine(std::string& text, std::string& line, size_t end) {
    line.resize(end);
    text += line;
    text += "\r\n";
}

}  // namespace

void AppendOffsetDump(std::string& text, std::span<const uint8_t> bytes) {
    if (bytes.empty()) {
        Append(text, "HexDump buffer length: 0\r\n");
        return;
    }
    constexpr size_t kHexStart = 6;
    constexpr size_t kCharacterStart = 59;
    for (size_t first = 0; first < bytes.size(); first += 16) {
        std::string line(80, ' ');
        char offset[8];
        std::snprintf(offset, sizeof offset, "%04X:", static_cast<unsigned>(first & 0xFFFF));
        line.replace(0, 5, offset);
        size_t count = std::min<size_t>(16, bytes.size() - first);
        for (size_t column = 0; column < count; ++column) {
            PutHex(line, kHexStart, column, bytes[first + column]);
            line[kCharacterStart + column] = Shown(bytes[first + column]);
        }
        EndLine(text, line, kCharacterStart + count);
    }
}

void AppendStringDump(std::string& text, std::span<const uint8_t> bytes) {
    if (bytes.empty()) {
        Append(text, "HexDump buffer length: 0\r\n");
        return;
    }
    constexpr size_t kIndent = 22;  // under the "bString (hex)       = " label
    constexpr size_t kCharacterOffset = 53;
    for (size_t first = 0; first < bytes.size(); first += 16) {
        size_t start = first == 0 ? 0 : kIndent;
        std::string line(start + kCharacterOffset + 8, ' ');
        size_t count = std::min<size_t>(16, bytes.size() - first);
        size_t shown = 0;
        for (size_t column = 0; column < count; ++column) {
            PutHex(line, start, column, bytes[first + column]);
            if ((first + column) % 2 == 0)
                line[start + kCharacterOffset + shown++] = Shown(bytes[first + column]);
        }
        EndLine(text, line, start + kCharacterOffset + shown);
    }
}

void AppendDescriptors(std::string& text, std::span<const uint8_t> bytes) {
    while (!bytes.empty()) {
        size_t length = bytes[0];
        if (length == 0 || length > bytes.size() || length < 2)
            return;
        auto descriptor = bytes.first(length);
        uint8_t type = descriptor[1];
        if (length < LayoutLength(type))
            return;
        switch (type) {
        case kDeviceType: AppendDevice(text, descriptor); break;
        case kConfigurationType: AppendConfiguration(text, descriptor); break;
        case kStringType: AppendString(text, descriptor); break;
        case kInterfaceType: AppendInterface(text, descriptor); break;
        case kEndpointType: AppendEndpoint(text, descriptor); break;
        case 0x21:
        case 0x24:
        case 0x25: break;
        default: return;
        }
        bytes = bytes.subspan(length);
    }
}

void AppendDeviceId(std::string& text, std::span<const uint8_t> reply) {
    // The declared length counts its own two bytes on printer-class devices
    // and may exceed what the device returned: the fields are read only from
    // the bytes returned.
    unsigned declared = (reply.size() > 0 ? reply[0] << 8 : 0) | (reply.size() > 1 ? reply[1] : 0);
    Append(text, "Length = %d\r\n", static_cast<int>(declared));
    Append(text, "Data   = ");
    auto data = reply.size() > 2 ? reply.subspan(2) : std::span<const uint8_t>();
    size_t consumed = 0;
    bool first = true;
    while (consumed < declared && consumed < data.size()) {
        if (data[consumed] < 32) {
            ++consumed;
            continue;
        }
        size_t end = consumed;
        while (end < data.size() && data[end] != ';')
            ++end;
        if (end == data.size())
            break;
        std::string field(reinterpret_cast<const char*>(data.data() + consumed), end + 1 - consumed);
        Append(text, first ? "%s\r\n" : "         %s\r\n", field.c_str());
        first = false;
        consumed = end + 1;
    }
    Append(text, "\r\n");
    AppendOffsetDump(text, reply);
}

bool AppendDeviceReport(std::string& text, ReportRequests& requests) {
    Append(text, "*************************************************\r\n");
    Append(text, "*            USB DEVICE PROPERTIES              *\r\n");
    Append(text, "*************************************************\r\n\r\n");

    std::vector<uint8_t> device;
    if (requests.GetDescriptor(kDeviceType, 0, 0, 18, device) != USBIO_STATUS_SUCCESS)
        return false;
    AppendDescriptors(text, device);
    // A device descriptor answered short names no strings.
    uint8_t manufacturer = device.size() > 14 ? device[14] : 0;
    uint8_t product = device.size() > 15 ? device[15] : 0;
    uint8_t serial = device.size() > 16 ? device[16] : 0;

    std::vector<uint8_t> configuration;
    if (requests.GetDescriptor(kConfigurationType, 0, 0, kMaximumReply, configuration) != USBIO_STATUS_SUCCESS)
        return false;
    AppendDescriptors(text, configuration);

    const struct {
        uint8_t index;
        const char* header;
    } strings[] = {
        {manufacturer, "************ MANUFACTURER ***********************\r\n"},
        {product, "************ PRODUCT ****************************\r\n"},
        {serial, "************ SERIAL NUMBER **********************\r\n"},
    };
    for (const auto& string : strings) {
        if (string.index == 0)
            continue;
        std::vector<uint8_t> reply;
        if (requests.GetDescriptor(kStringType, string.index, 0, kMaximumReply, reply) != USBIO_STATUS_SUCCESS)
            return false;
        Append(text, "%s", string.header);
        AppendDescriptors(text, reply);
    }

    std::vector<uint8_t> languages;
    DWORD status = requests.GetDescriptor(kStringType, 0, 0, kMaximumReply, languages);
    if (status == USBIO_STATUS_SUCCESS) {
        Append(text, "************ LANGUAGE ID ************************\r\n");
        AppendDescriptors(text, languages);
    } else if (status != USBIO_STATUS_STALL) {
        return false;
    }

    Append(text, "************ IEEE1284 DEVICE STRING **********************\r\n");
    std::vector<uint8_t> deviceId;
    if (requests.GetDeviceId(kMaximumReply, deviceId) != USBIO_STATUS_SUCCESS) {
        Append(text, "ERROR");
        return false;
    }
    AppendDeviceId(text, deviceId);
    return true;
}

}  // namespace tramline
