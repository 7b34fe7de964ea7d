// The virtual USB printer's descriptors: the built-in printer, files that
// declare lengths they do not have, strings and the device id reply.
#include "usb_descriptors.h"

#include <gtest/gtest.h>

using namespace vprinter;

namespace {

std::vector<uint8_t> WithConfiguration(std::vector<uint8_t> configuration) {
    // Element by element: GCC 12 misreads a range insert here (-Warray-bounds).
    std::vector<uint8_t> bytes{18, 1, 0, 2, 0, 0, 0, 64, 0xA7, 0xF5, 0x00, 0xA0, 0, 1, 1, 2, 3, 1};
    for (uint8_t byte : configuration) bytes.push_back(byte);
    return bytes;
}

TEST(UsbDescriptorsTest, BuiltInPrinterHasOnePrinterInterfaceWithTwoBulkPipes) {
    UsbDescriptors d = BuiltInDescriptors(UsbStrings{});
    ASSERT_EQ(d.device.size(), 18u);
    EXPECT_EQ(d.device[8] | d.device[9] << 8, 0xF5A7);
    EXPECT_EQ(d.device[10] | d.device[11] << 8, 0xA000);
    EXPECT_EQ(d.configuration.size(), static_cast<size_t>(d.configuration[2] | d.configuration[3] << 8));
    ASSERT_EQ(d.endpoints.size(), 2u);
    EXPECT_TRUE(d.endpoints[0].IsIn() && d.endpoints[0].IsBulk());
    EXPECT_TRUE(!d.endpoints[1].IsIn() && d.endpoints[1].IsBulk());
    EXPECT_EQ(d.Concatenated().size(), 18u + d.configuration.size());
    // An empty string gets index 0: the device says it has none.
    UsbStrings noSerial;
    noSerial.serial.clear();
    EXPECT_EQ(BuiltInDescriptors(noSerial).SerialIndex(), 0);
    EXPECT_EQ(BuiltInDescriptors(noSerial).ProductIndex(), 2);
}

TEST(UsbDescriptorsTest, FilesWhoseLengthsDoNotAddUpAreRefusedWithAReason) {
    std::string error;
    std::vector<uint8_t> good = WithConfiguration({9, 2, 25, 0, 1, 1, 0, 0x80, 50, 9, 4, 0, 0, 1, 7, 1, 2, 0,
                                                   7, 5, 0x81, 2, 64, 0, 0});
    auto parsed = ParseDescriptors(good, error);
    ASSERT_TRUE(parsed) << error;
    EXPECT_EQ(parsed->endpoints.size(), 1u);

    EXPECT_FALSE(ParseDescriptors(std::vector<uint8_t>(good.begin(), good.begin() + 20), error));
    EXPECT_NE(error.find("are 20 bytes"), std::string::npos) << error;

    auto badDevice = good;
    badDevice[0] = 17;
    EXPECT_FALSE(ParseDescriptors(badDevice, error));
    EXPECT_NE(error.find("no device descriptor"), std::string::npos) << error;

    auto truncated = good;
    truncated.pop_back();
    EXPECT_FALSE(ParseDescriptors(truncated, error));
    EXPECT_NE(error.find("wTotalLength says 25 bytes but 24 follow"), std::string::npos) << error;

    // An endpoint whose length byte runs past the end of the configuration.
    auto overrun = good;
    overrun[18 + 18] = 9;
    EXPECT_FALSE(ParseDescriptors(overrun, error));
    EXPECT_NE(error.find("bad length 9"), std::string::npos) << error;

    auto zero = good;
    zero[18 + 9] = 0;
    EXPECT_FALSE(ParseDescriptors(zero, error));
    EXPECT_NE(error.find("bad length 0"), std::string::npos) << error;
}

TEST(UsbDescriptorsTest, EndpointsAreThoseOfThePrinterInterface) {
    std::string error;
    // A vendor interface with an endpoint first, the printer interface second.
    auto parsed = ParseDescriptors(
        WithConfiguration({9, 2, 41, 0, 2, 1, 0, 0x80, 50, 9, 4, 0, 0, 1, 0xFF, 0, 0, 0, 7, 5, 0x85, 3, 8, 0, 1,
                           9, 4, 1, 0, 1, 7, 1, 2, 0, 7, 5, 0x01, 2, 64, 0, 0}),
        error);
    ASSERT_TRUE(parsed) << error;
    EXPECT_EQ(parsed->interfaceNumber, 1);
    ASSERT_EQ(parsed->endpoints.size(), 1u);
    EXPECT_EQ(parsed->endpoints[0].address, 0x01);
}

TEST(UsbDescriptorsTest, StringsAndDeviceIdReplies) {
    EXPECT_EQ(StringDescriptor("AB"), (std::vector<uint8_t>{6, 3, 'A', 0, 'B', 0}));
    EXPECT_EQ(StringDescriptor(std::string(300, 'x')).size(), 254u);  // the length byte caps it
    EXPECT_EQ(DeviceIdReply("A;"), (std::vector<uint8_t>{0, 4, 'A', ';'}));  // the length counts itself
    EXPECT_EQ(DeviceIdReply("").size(), 2u);
}

}  // namespace
