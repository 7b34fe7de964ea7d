#include "bmp_file.h"

#include "picture_test_util.h"

#include <gtest/gtest.h>

using namespace picture_test;

namespace {

// The window one dot at a time, all eight bits of every output byte filled,
// with 32-bit wrapping offsets.
std::vector<uint8_t> ReferenceWindow(uint32_t sourceWidth, uint32_t sourceHeight, const std::vector<uint8_t>& source,
                                     uint32_t offsetX, uint32_t offsetY, uint32_t width, uint32_t height)
{
    const uint32_t rowBytes = BytesPerRow(width);
    std::vector<uint8_t> out(static_cast<size_t>(rowBytes) * ((height + 23) / 24 * 24), 0);
    for (uint32_t r = 0; r < height; ++r) {
        const uint32_t sourceRow = offsetY + r;
        if (sourceRow >= sourceHeight)
            continue;
        for (uint32_t k = 0; k < 8 * rowBytes; ++k) {
            const uint32_t column = offsetX + k;
            if (column < sourceWidth && Dot(source, sourceWidth, column, sourceRow))
                out[static_cast<size_t>(rowBytes) * r + k / 8] |= static_cast<uint8_t>(0x80u >> (k % 8));
        }
    }
    return out;
}

struct Window {
    PictureResult result;
    std::vector<uint8_t> bits;
    uint32_t size;
};

Window Extract(uint32_t sourceWidth, uint32_t sourceHeight, const std::vector<uint8_t>& source, uint32_t offsetX,
               uint32_t offsetY, uint32_t width, uint32_t height)
{
    BmpFile file("");
    std::string error;
    PictureResult result = file.ExtractWindow(sourceWidth, sourceHeight, offsetX, offsetY, width, height, source, error);
    EXPECT_EQ(file.OffsetX(), offsetX);
    EXPECT_EQ(file.OffsetY(), offsetY);
    EXPECT_EQ(file.Width(), width);
    EXPECT_EQ(file.Height(), height);
    return {result, BitsOf(file), file.Size()};
}

}  // namespace

TEST(ExtractWindow, MatchesTheDotByDotReferenceAtEveryAlignment)
{
    const uint32_t sourceWidth = 77, sourceHeight = 30;
    const std::vector<uint8_t> source = RandomBits(sourceWidth, sourceHeight, 42);
    for (uint32_t offsetX : {0u, 1u, 3u, 7u, 8u, 13u, 64u, 70u, 76u, 77u, 200u, uint32_t(-1), uint32_t(-5), uint32_t(-8),
                             uint32_t(-13)}) {
        for (uint32_t width : {1u, 8u, 20u, 77u, 100u}) {
            for (uint32_t offsetY : {0u, 4u, 29u, uint32_t(-5)}) {
                Window window = Extract(sourceWidth, sourceHeight, source, offsetX, offsetY, width, 31);
                ASSERT_EQ(window.result, PR_OK);
                ASSERT_EQ(window.bits, ReferenceWindow(sourceWidth, sourceHeight, source, offsetX, offsetY, width, 31))
                    << "offset " << int32_t(offsetX) << "," << int32_t(offsetY) << " width " << width;
            }
        }
    }
}

TEST(ExtractWindow, BufferIsPaddedWithWhiteRowsToWholeBands)
{
    const std::vector<uint8_t> black(4 * 60, 0xFF);
    Window window = Extract(32, 60, black, 0, 0, 20, 30);
    ASSERT_EQ(window.result, PR_OK);
    ASSERT_EQ(window.size, 3u * 48);
    ASSERT_EQ(window.bits.size(), 3u * 48);
    // 30 black rows (all 24 bits of each byte triple, since the source is
    // black beyond the window too), then 18 white ones.
    EXPECT_EQ(std::vector<uint8_t>(window.bits.begin(), window.bits.begin() + 90), std::vector<uint8_t>(90, 0xFF));
    EXPECT_EQ(std::vector<uint8_t>(window.bits.begin() + 90, window.bits.end()), std::vector<uint8_t>(54, 0x00));

    window = Extract(32, 60, black, 0, 0, 8, 24);
    EXPECT_EQ(window.size, 24u);
    window = Extract(32, 60, black, 0, 0, 8, 0);
    EXPECT_EQ(window.result, PR_OK);
    EXPECT_EQ(window.size, 0u);
    EXPECT_TRUE(window.bits.empty());
}

TEST(ExtractWindow, OutsideTheSourceIsWhite)
{
    const std::vector<uint8_t> black(2 * 10, 0xFF);
    // Below the source.
    Window window = Extract(16, 10, black, 0, 10, 16, 5);
    EXPECT_EQ(window.bits, std::vector<uint8_t>(2 * 24, 0));
    // Wider than the source: columns 16.. are white.
    window = Extract(16, 10, black, 0, 0, 40, 1);
    EXPECT_EQ(std::vector<uint8_t>(window.bits.begin(), window.bits.begin() + 5),
              (std::vector<uint8_t>{0xFF, 0xFF, 0, 0, 0}));
}

TEST(ExtractWindow, NegativeOffsetsShiftTheSourceRightAndDown)
{
    // Source column 0 black, everything else white; 16 x 10.
    std::vector<uint8_t> source(2 * 10, 0);
    for (int r = 0; r < 10; ++r)
        source[2 * r] = 0x80;
    Window window = Extract(16, 10, source, uint32_t(-8), uint32_t(-5), 16, 10);
    ASSERT_EQ(window.result, PR_OK);
    for (uint32_t r = 0; r < 10; ++r) {
        const uint8_t expected = r < 5 ? 0x00 : 0x80;
        EXPECT_EQ(window.bits[2 * r], 0x00) << "row " << r;  // 8 white columns
        EXPECT_EQ(window.bits[2 * r + 1], expected) << "row " << r;
    }
}

TEST(ExtractWindow, LastByteCarriesTheDotsJustRightOfTheWindow)
{
    const std::vector<uint8_t> source{0xFF, 0xFF, 0xFF, 0xFF};
    Window window = Extract(32, 1, source, 0, 0, 3, 1);
    EXPECT_EQ(window.bits[0], 0xFF);
    window = Extract(32, 1, source, 27, 0, 3, 1);
    EXPECT_EQ(window.bits[0], 0xF8);  // columns 27..31 only
}

TEST(ExtractWindow, RefusesASourceSmallerThanItsSizeAndGiantWindows)
{
    BmpFile file("");
    std::string error;
    const std::vector<uint8_t> source(10);
    EXPECT_EQ(file.ExtractWindow(16, 6, 0, 0, 8, 8, source, error), PR_INVALID);
    EXPECT_EQ(error, "Error - Source picture is smaller than its size");
    EXPECT_FALSE(file.HasPicture());
    EXPECT_EQ(file.ExtractWindow(16, 5, 0, 0, 0xFFFFFFFFu, 0xFFFFFFFFu, source, error), PR_NO_MEMORY);
    EXPECT_EQ(error, PictureTooLargeMessage(0xFFFFFFFFu, 0xFFFFFFFFu));
    EXPECT_FALSE(file.HasPicture());
}

// A window without columns or rows, or a source without dots, is an empty
// picture; no row pointer into an empty buffer is formed (which the
// sanitizer build reports as a null pointer handed to the copy).
TEST(ExtractWindow, EmptyWindowsAndEmptySources)
{
    const std::vector<uint8_t> source(8 * 16, 0xA5);
    for (auto [width, height] : {std::pair{0u, 16u}, std::pair{64u, 0u}, std::pair{0u, 0u}}) {
        Window window = Extract(64, 16, source, 0, 0, width, height);
        EXPECT_EQ(window.result, PR_OK) << width << " x " << height;
        EXPECT_EQ(window.bits, ReferenceWindow(64, 16, source, 0, 0, width, height));
    }
    Window fromNothing = Extract(0, 0, {}, 0, 0, 16, 2);
    EXPECT_EQ(fromNothing.result, PR_OK);
    EXPECT_EQ(fromNothing.bits, std::vector<uint8_t>(2 * 24, 0));
    Window fromNoColumns = Extract(0, 4, {}, 0, 0, 8, 4);
    EXPECT_EQ(fromNoColumns.result, PR_OK);
    EXPECT_EQ(fromNoColumns.bits, std::vector<uint8_t>(24, 0));
}
