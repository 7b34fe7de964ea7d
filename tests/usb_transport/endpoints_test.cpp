// Choosing the pipes from a configuration descriptor, and bounding the
// serial numbers written into a caller's buffer.
#include "endpoints.h"

#include "tramline.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using tramline::SelectEndpoints;
using tramline::StoreSerial;

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kHead = {0x09, 0x02, 0x00, 0x00, 0x01, 0x01, 0x00, 0xC0, 0x32,
                     0x09, 0x04, 0x00, 0x00, 0x02, 0x07, 0x01, 0x02, 0x00};

Bytes Endpoint(uint8_t address, uint8_t attributes) { return {0x07, 0x05, address, attributes, 0x40, 0x00, 0x00}; }

Bytes Configuration(std::initializer_list<Bytes> parts) {
    Bytes bytes = kHead;
    for (const Bytes& part : parts)
        bytes.insert(bytes.end(), part.begin(), part.end());
    return bytes;
}

TEST(Endpoints, BulkOnlyPrinterClearsUseInterruptOut) {
    auto selection = SelectEndpoints(Configuration({Endpoint(0x81, 2), Endpoint(0x02, 2)}), 1);
    ASSERT_TRUE(selection.ok);
    EXPECT_EQ(selection.readPipe, 0x81);
    EXPECT_EQ(selection.outputPipe, 0x02);
    EXPECT_EQ(selection.statusPipe, 0);
    EXPECT_FALSE(selection.hasInterruptIn);
    EXPECT_FALSE(selection.hasInterruptOut);
    EXPECT_EQ(selection.useInterruptOut, 0);
}

TEST(Endpoints, InterruptOutputIsUsedOnlyWhenAskedFor) {
    // A class-specific descriptor (0x24) among them is passed over.
    Bytes withInterrupts = Configuration({Endpoint(0x81, 2), Bytes{0x03, 0x24, 0x00}, Endpoint(0x02, 2),
                                          Endpoint(0x83, 3), Endpoint(0x04, 3)});
    auto used = SelectEndpoints(withInterrupts, 1);
    ASSERT_TRUE(used.ok);
    EXPECT_EQ(used.outputPipe, 0x04);
    EXPECT_EQ(used.statusPipe, 0x83);
    EXPECT_TRUE(used.hasInterruptIn);
    EXPECT_TRUE(used.hasInterruptOut);
    EXPECT_EQ(used.useInterruptOut, 1);

    auto unused = SelectEndpoints(withInterrupts, 0);
    ASSERT_TRUE(unused.ok);
    EXPECT_EQ(unused.outputPipe, 0x02);
    EXPECT_TRUE(unused.hasInterruptOut);
    EXPECT_EQ(unused.useInterruptOut, 0);
}

TEST(Endpoints, MissingPipesAndBadDescriptorsFail) {
    auto noInput = SelectEndpoints(Configuration({Endpoint(0x02, 2)}), 0);
    EXPECT_FALSE(noInput.ok);
    EXPECT_EQ(noInput.post, 0u);
    // Only an interrupt output, not asked for: no output pipe.
    auto noOutput = SelectEndpoints(Configuration({Endpoint(0x81, 2), Endpoint(0x04, 3)}), 0);
    EXPECT_FALSE(noOutput.ok);

    auto unknown = SelectEndpoints(Configuration({Bytes{0x03, 0x30, 0x00}, Endpoint(0x81, 2), Endpoint(0x02, 2)}), 0);
    EXPECT_FALSE(unknown.ok);
    EXPECT_EQ(unknown.post, TRAMLINE_POST_UNKNOWN_DESCRIPTOR);

    EXPECT_EQ(SelectEndpoints(Bytes{}, 0).post, TRAMLINE_POST_EMPTY_CONFIGURATION);
    EXPECT_EQ(SelectEndpoints(Bytes{0x00, 0x02}, 0).post, TRAMLINE_POST_EMPTY_CONFIGURATION);

    // An endpoint whose length runs past the bytes is not taken.
    Bytes overlong = Configuration({Endpoint(0x81, 2), Endpoint(0x02, 2)});
    overlong[overlong.size() - 7] = 0x20;
    EXPECT_FALSE(SelectEndpoints(overlong, 0).ok);
}

TEST(Endpoints, SerialsStayInsideTheirSlotAndTheBuffer) {
    std::vector<char> buffer(3 * TRAMLINE_SERIAL_SLOT + 10, '#');
    EXPECT_TRUE(StoreSerial(buffer.data(), buffer.size(), 1, Bytes{0x08, 0x03, 'A', 0, 'B', 0, 'C', 0}));
    EXPECT_STREQ(buffer.data() + TRAMLINE_SERIAL_SLOT, "ABC");
    EXPECT_EQ(buffer[0], '#');

    // The longest serial (126 characters) and its NUL stay in slot 0.
    Bytes longSerial = {0xFF, 0x03};
    for (int i = 0; i < 126; ++i) {
        longSerial.push_back('x');
        longSerial.push_back(0);
    }
    std::vector<char> two(2 * TRAMLINE_SERIAL_SLOT, '#');
    EXPECT_TRUE(StoreSerial(two.data(), two.size(), 0, longSerial));
    EXPECT_EQ(std::strlen(two.data()), 126u);  // the most a string descriptor holds
    EXPECT_EQ(two[TRAMLINE_SERIAL_SLOT], '#');

    // A slot past the buffer is not written; a slot cut by the buffer's end
    // holds what fits.
    EXPECT_FALSE(StoreSerial(buffer.data(), buffer.size(), 4, Bytes{0x04, 0x03, 'Z', 0}));
    EXPECT_TRUE(StoreSerial(buffer.data(), buffer.size(), 3, longSerial));
    EXPECT_EQ(std::strlen(buffer.data() + 3 * TRAMLINE_SERIAL_SLOT), 9u);
    EXPECT_FALSE(StoreSerial(nullptr, 0, 0, longSerial));
    // A declared length past the bytes returned counts only what is there.
    EXPECT_TRUE(StoreSerial(buffer.data(), buffer.size(), 0, Bytes{0x40, 0x03, 'Q', 0}));
    EXPECT_STREQ(buffer.data(), "Q");
}

}  // namespace
