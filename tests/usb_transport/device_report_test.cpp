// The device report's text, byte for byte, from canned descriptor bytes.
#include "device_report.h"

#include "report_golden.h"
#include "usbio.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

using tramline::AppendDescriptors;
using tramline::AppendDeviceId;
using tramline::AppendDeviceReport;
using tramline::AppendStringDump;

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kDevice = {0x12, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x40, 0xA7,
                       0xF5, 0x00, 0xA0, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01};
const Bytes kConfiguration = {0x09, 0x02, 0x20, 0x00, 0x01, 0x01, 0x00, 0xC0, 0x32,  // configuration
                              0x09, 0x04, 0x00, 0x00, 0x02, 0x07, 0x01, 0x02, 0x00,  // printer interface
                              0x07, 0x05, 0x81, 0x02, 0x40, 0x00, 0x00,              // bulk in
                              0x07, 0x05, 0x02, 0x02, 0x40, 0x00, 0x00};             // bulk out
const Bytes kLanguages = {0x04, 0x03, 0x09, 0x04};
const std::string kDeviceIdText = "MFG:A;CMD:B;";

Bytes DeviceId(unsigned declared, const std::string& text) {
    Bytes reply(2 + text.size());
    reply[0] = static_cast<uint8_t>(declared >> 8);
    reply[1] = static_cast<uint8_t>(declared);
    std::copy(text.begin(), text.end(), reply.begin() + 2);
    return reply;
}

// A printer answering from canned bytes; a missing entry answers with the
// given status.
class CannedPrinter : public tramline::ReportRequests {
public:
    std::map<std::pair<int, int>, Bytes> descriptors;
    std::map<std::pair<int, int>, DWORD> failures;
    Bytes deviceId;
    DWORD deviceIdStatus = USBIO_STATUS_SUCCESS;
    std::vector<size_t> maximums;

    DWORD GetDescriptor(uint8_t type, uint8_t index, uint16_t language, size_t maximum, Bytes& reply) override {
        EXPECT_EQ(language, 0);
        maximums.push_back(maximum);
        auto key = std::make_pair(int(type), int(index));
        if (failures.count(key))
            return failures[key];
        auto found = descriptors.find(key);
        if (found == descriptors.end())
            return USBIO_STATUS_STALL;
        reply.assign(found->second.begin(), found->second.begin() + std::min(maximum, found->second.size()));
        return USBIO_STATUS_SUCCESS;
    }
    DWORD GetDeviceId(size_t maximum, Bytes& reply) override {
        maximums.push_back(maximum);
        reply = deviceId;
        return deviceIdStatus;
    }
};

CannedPrinter PrinterWithoutStrings() {
    CannedPrinter printer;
    printer.descriptors[{1, 0}] = kDevice;
    printer.descriptors[{2, 0}] = kConfiguration;
    printer.descriptors[{3, 0}] = kLanguages;
    printer.deviceId = DeviceId(14, kDeviceIdText);
    return printer;
}

TEST(DeviceReport, PrinterWithoutStringsGivesTheWholeReportWithoutStringSections) {
    CannedPrinter printer = PrinterWithoutStrings();
    std::string text = "before ";
    EXPECT_TRUE(AppendDeviceReport(text, printer));
    EXPECT_EQ(text, "before " + kBanner + kDeviceSection + kConfigurationSection + kInterfaceSection +
                        EndpointSection("81", "IN") + EndpointSection("02", "OUT") + kLanguageSection +
                        kDeviceIdSection);
    // The device descriptor is asked for 18 bytes, everything else for at
    // most 2047.
    ASSERT_FALSE(printer.maximums.empty());
    EXPECT_EQ(printer.maximums[0], 18u);
    for (size_t i = 1; i < printer.maximums.size(); ++i)
        EXPECT_EQ(printer.maximums[i], 2047u);
}

TEST(DeviceReport, StalledLanguageRequestSkipsItsSectionAndOtherFailuresStop) {
    CannedPrinter printer = PrinterWithoutStrings();
    printer.descriptors.erase({3, 0});  // answers with a stall
    std::string text;
    EXPECT_TRUE(AppendDeviceReport(text, printer));
    EXPECT_EQ(text, kBanner + kDeviceSection + kConfigurationSection + kInterfaceSection +
                        EndpointSection("81", "IN") + EndpointSection("02", "OUT") + kDeviceIdSection);

    printer.failures[{3, 0}] = USBIO_STATUS_TIMEOUT;
    text.clear();
    EXPECT_FALSE(AppendDeviceReport(text, printer));
    EXPECT_EQ(text.find("IEEE1284"), std::string::npos);

    CannedPrinter failing = PrinterWithoutStrings();
    failing.deviceIdStatus = USBIO_STATUS_TIMEOUT;
    text.clear();
    EXPECT_FALSE(AppendDeviceReport(text, failing));
    EXPECT_TRUE(text.ends_with("************ IEEE1284 DEVICE STRING **********************\r\nERROR")) << text;

    CannedPrinter noDevice;
    text.clear();
    EXPECT_FALSE(AppendDeviceReport(text, noDevice));
    EXPECT_EQ(text, kBanner);
}

TEST(DeviceReport, StringSectionsComeInOrderAndAFailedStringStops) {
    CannedPrinter printer = PrinterWithoutStrings();
    printer.descriptors[{1, 0}][14] = 1;
    printer.descriptors[{1, 0}][16] = 3;
    printer.descriptors[{3, 1}] = {0x06, 0x03, 'V', 0, 'X', 0};
    printer.descriptors[{3, 3}] = {0x04, 0x03, '7', 0};
    std::string text;
    EXPECT_TRUE(AppendDeviceReport(text, printer));
    EXPECT_NE(text.find("iManufacturer       = 0x01\r\niProduct            = 0x00 - Not supported\r\n"
                        "iSerialNumber       = 0x03\r\n"),
              std::string::npos);
    size_t manufacturer = text.find("************ MANUFACTURER ***********************\r\n"
                                    "************ STRING DESCRIPTOR ******************\r\n"
                                    "bLength             = 0x06\r\n");
    size_t serial = text.find("************ SERIAL NUMBER **********************\r\n");
    ASSERT_NE(manufacturer, std::string::npos);
    ASSERT_NE(serial, std::string::npos);
    EXPECT_LT(manufacturer, serial);
    EXPECT_EQ(text.find("PRODUCT *"), std::string::npos);
    EXPECT_NE(text.find("bString (hex)       = 56 00 58 00" + std::string(42, ' ') + "VX\r\n"),
              std::string::npos);

    printer.failures[{3, 3}] = USBIO_STATUS_TIMEOUT;
    text.clear();
    EXPECT_FALSE(AppendDeviceReport(text, printer));
    EXPECT_EQ(text.find("SERIAL NUMBER"), std::string::npos);
}

TEST(DeviceReport, DeviceIdAnsweredShortIsReadOnlyAsFarAsReturned) {
    // Declares 64 bytes, returns 8; a field without its ';' ends the list.
    std::string text;
    AppendDeviceId(text, DeviceId(64, "MFG:A;CM"));
    EXPECT_EQ(text, "Length = 64\r\nData   = MFG:A;\r\n\r\n"
                    "0000: 00 40 4D 46  47 3A 41 3B  43 4D" + std::string(22, ' ') + ".@MFG:A;CM\r\n");

    // Control bytes between fields are skipped; the declared length bounds
    // the fields (it counts its own two bytes).
    text.clear();
    AppendDeviceId(text, DeviceId(8, "\nA:1;B:2;C:3;"));
    EXPECT_TRUE(text.starts_with("Length = 8\r\nData   = A:1;\r\n         B:2;\r\n\r\n0000: ")) << text;

    text.clear();
    AppendDeviceId(text, Bytes{0x00});
    EXPECT_EQ(text, "Length = 0\r\nData   = \r\n0000: 00" + std::string(51, ' ') + ".\r\n");
    text.clear();
    AppendDeviceId(text, Bytes{});
    EXPECT_EQ(text, "Length = 0\r\nData   = \r\nHexDump buffer length: 0\r\n");
}

TEST(DeviceReport, DescriptorsRunningPastTheBytesEndTheWalk) {
    // An endpoint declaring 9 bytes where 7 remain: the configuration and
    // the interface are printed, the endpoint is not.
    Bytes bytes(kConfiguration.begin(), kConfiguration.begin() + 25);
    bytes[18] = 9;
    std::string text;
    AppendDescriptors(text, bytes);
    EXPECT_EQ(text, kConfigurationSection + kInterfaceSection);

    // A device descriptor whose length says 9: its later fields are not
    // there, so nothing of it is printed.
    Bytes shortDevice(kDevice.begin(), kDevice.begin() + 9);
    shortDevice[0] = 9;
    text.clear();
    AppendDescriptors(text, shortDevice);
    EXPECT_EQ(text, "");

    // Lengths 0 and 1 end the walk; 0x21/0x24/0x25 are passed over; an
    // unknown type ends it.
    text.clear();
    AppendDescriptors(text, Bytes{0x03, 0x21, 0x00, 0x09, 0x04, 0, 0, 2, 0x07, 0x01, 0x02, 0, 0x01, 0x03});
    EXPECT_EQ(text, kInterfaceSection);
    text.clear();
    AppendDescriptors(text, Bytes{0x03, 0x30, 0x00, 0x09, 0x04, 0, 0, 0, 0x07, 0x01, 0x02, 0});
    EXPECT_EQ(text, "");
    text.clear();
    AppendDescriptors(text, Bytes{0x02, 0x03, 0x00, 0x00});
    EXPECT_EQ(text, "************ STRING DESCRIPTOR ******************\r\nbLength             = 0x02\r\n"
                    "bDescriptorType     = 0x03\r\nbString (hex)       = HexDump buffer length: 0\r\n\r\n\r\n");
}

TEST(DeviceReport, ClassAndProtocolTextsKeepTheirWording) {
    Bytes interfaceDescriptor = {0x09, 0x04, 0x00, 0x00, 0x00, 0x00, 0x02, 0x09, 0x00};
    std::string text;
    AppendDescriptors(text, interfaceDescriptor);
    EXPECT_NE(text.find("bInterfaceClass     = 0x00 - ERROR : invalid valuer\n"
                        "bInterfaceSubClass  = 0x02\r\n"
                        "bInterfaceProtocol  = 0x09- Reserved for future use\r\n"),
              std::string::npos)
        << text;
    Bytes device = kDevice;
    device[4] = 0x07;
    text.clear();
    AppendDescriptors(text, device);
    EXPECT_NE(text.find("bDeviceClass        = 0x07 - ERROR : Invalid value\r\n"), std::string::npos);
    Bytes configuration = {0x09, 0x02, 0x09, 0x00, 0x01, 0x01, 0x00, 0xA0, 0xFA};
    text.clear();
    AppendDescriptors(text, configuration);
    EXPECT_NE(text.find("bmAttributes        = 0xA0 - Remote Wakeup\r\nMaxPower            = 0xFA - 500 mA\r\n"),
              std::string::npos);
    Bytes interrupt = {0x07, 0x05, 0x83, 0x03, 0x08, 0x00, 0x0A};
    text.clear();
    AppendDescriptors(text, interrupt);
    EXPECT_NE(text.find("bmAttributes        = 0x03 - INTERRUPT\r\nwMaxPacketSize      = 0x0008\r\n"
                        "bInterval           = 0x0A - 10 ms\r\n"),
              std::string::npos);
}

TEST(DeviceReport, StringDumpOfEighteenBytesTakesTwoLinesTheSecondIndented) {
    Bytes characters;
    for (char c : std::string("ABCDEFGHI")) {
        characters.push_back(static_cast<uint8_t>(c));
        characters.push_back(0);
    }
    std::string text;
    AppendStringDump(text, characters);
    EXPECT_EQ(text, "41 00 42 00  43 00 44 00  45 00 46 00  47 00 48 00   ABCDEFGH\r\n" + std::string(22, ' ') +
                        "49 00" + std::string(48, ' ') + "I\r\n");
}

}  // namespace
