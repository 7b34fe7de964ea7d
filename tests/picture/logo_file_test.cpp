#include "logo_file.h"

#include "picture_test_util.h"
#include "printer_format_testing.h"
#include "test_support.h"

#include <gtest/gtest.h>

using namespace picture_test;

namespace {

// The command, one dot at a time: column c, row r is bit 7 - r % 8 of data
// byte c * y + r / 8; dots outside width x height are white.
std::vector<uint8_t> ReferenceLogo(uint32_t width, uint32_t height, const std::vector<uint8_t>& bits)
{
    const uint32_t x = (width + 7) / 8, y = (height + 7) / 8;
    std::vector<uint8_t> out{0x1D, 0x2A, static_cast<uint8_t>(x), static_cast<uint8_t>(y)};
    out.resize(4 + 8 * x * y, 0);
    for (uint32_t c = 0; c < width; ++c) {
        for (uint32_t r = 0; r < height; ++r) {
            if (Dot(bits, width, c, r))
                out[4 + c * y + r / 8] |= static_cast<uint8_t>(0x80u >> (r % 8));
        }
    }
    return out;
}

std::vector<uint8_t> ReferencePicture(const std::vector<uint8_t>& command, size_t at)
{
    const uint32_t x = command[at + 2], y = command[at + 3];
    std::vector<uint8_t> bits(static_cast<size_t>(x) * 8 * y, 0);
    for (uint32_t c = 0; c < 8 * x; ++c) {
        for (uint32_t r = 0; r < 8 * y; ++r) {
            if (command[at + 4 + c * y + r / 8] & (0x80u >> (r % 8)))
                SetDot(bits, 8 * x, c, r);
        }
    }
    return bits;
}

PictureResult EncodeLogo(uint32_t& width, uint32_t& height, const std::vector<uint8_t>& bits,
                         std::vector<uint8_t>& encoded, std::string& error)
{
    LogoFile file("");
    file.SetPicture(bits);
    return file.EncodeToMemory(width, height, error, encoded);
}

}  // namespace

TEST(LogoFile, RoundsTheSizeUpAndPadsWithWhite)
{
    // All black, padding bits included: the added dots must still be white.
    const std::vector<uint8_t> picture(13 * 30, 0xFF);
    uint32_t width = 100, height = 30;
    std::vector<uint8_t> encoded;
    std::string error;
    ASSERT_EQ(EncodeLogo(width, height, picture, encoded, error), PR_SIZE_ADJUSTED);
    EXPECT_EQ(error, "Picture Width & Height have been adjusted to be compatible with selected output format");
    EXPECT_EQ(width, 104u);
    EXPECT_EQ(height, 32u);
    ASSERT_EQ(encoded.size(), 420u);
    EXPECT_EQ(std::vector<uint8_t>(encoded.begin(), encoded.begin() + 4), (std::vector<uint8_t>{0x1D, 0x2A, 0x0D, 0x04}));
    for (uint32_t c = 0; c < 104; ++c) {
        for (uint32_t b = 0; b < 4; ++b) {
            uint8_t expected = c >= 100 ? 0x00 : b == 3 ? 0xFC : 0xFF;  // rows 30, 31 white
            ASSERT_EQ(encoded[4 + c * 4 + b], expected) << "column " << c << " byte " << b;
        }
    }
}

TEST(LogoFile, OneDotInTheTopLeftCorner)
{
    std::vector<uint8_t> picture(8, 0);
    picture[0] = 0x80;
    uint32_t width = 8, height = 8;
    std::vector<uint8_t> encoded;
    std::string error = "untouched";
    ASSERT_EQ(EncodeLogo(width, height, picture, encoded, error), PR_OK);
    EXPECT_EQ(error, "untouched");
    EXPECT_EQ(encoded, (std::vector<uint8_t>{0x1D, 0x2A, 0x01, 0x01, 0x80, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(LogoFile, EncodeAndDecodeAgreeWithTheDotByDotReference)
{
    for (uint32_t width : {1u, 8u, 13u, 16u, 63u, 64u, 200u}) {
        for (uint32_t height : {1u, 7u, 8u, 9u, 24u, 61u}) {
            const std::vector<uint8_t> picture = RandomBits(width, height, width * 1000 + height);
            uint32_t w = width, h = height;
            std::vector<uint8_t> encoded;
            std::string error;
            ASSERT_NE(EncodeLogo(w, h, picture, encoded, error), PR_INVALID);
            ASSERT_EQ(encoded, ReferenceLogo(width, height, picture)) << width << "x" << height;

            LogoFile file("");
            ASSERT_EQ(DecodeBytes(file, encoded, error), PR_OK) << error;
            EXPECT_EQ(file.Width(), w);
            EXPECT_EQ(file.Height(), h);
            EXPECT_EQ(BitsOf(file), ReferencePicture(encoded, 0)) << width << "x" << height;
        }
    }
}

TEST(LogoFile, DecodesRandomCommandsLikeTheReference)
{
    for (uint8_t x : {1, 3, 17}) {
        for (uint8_t y : {1, 2, 9}) {
            std::vector<uint8_t> command = RandomBits(8 * (8u * x * y + 4), 1, x * 31u + y);
            command[0] = 0x1D;
            command[1] = 0x2A;
            command[2] = x;
            command[3] = y;
            LogoFile file("");
            std::string error;
            ASSERT_EQ(DecodeBytes(file, command, error), PR_OK) << error;
            EXPECT_EQ(BitsOf(file), ReferencePicture(command, 0));
        }
    }
}

TEST(LogoFile, SignatureAfterOtherBytes)
{
    std::vector<uint8_t> bytes{0x1B, 0x40, 0x1D, 0x1D, 0x2A, 0x01, 0x01, 0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01};
    LogoFile file("");
    std::string error;
    ASSERT_EQ(DecodeBytes(file, bytes, error), PR_OK) << error;
    EXPECT_EQ(file.SignaturePosition(), 3u);
    EXPECT_EQ(file.Width(), 8u);
    EXPECT_EQ(file.Height(), 8u);
    // A diagonal from the top-left corner.
    EXPECT_EQ(BitsOf(file), (std::vector<uint8_t>{0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01}));
}

TEST(LogoFile, SignatureIsLookedForInTheFirst128Bytes)
{
    for (size_t at : {size_t{126}, size_t{127}, size_t{128}}) {
        std::vector<uint8_t> bytes(at, 0x00);
        bytes.insert(bytes.end(), {0x1D, 0x2A, 0x00, 0x00});
        LogoFile file("");
        file.SetRawData(bytes);
        std::string error;
        if (at < 128) {
            EXPECT_EQ(file.Identify(error), PR_OK) << at;
            EXPECT_EQ(file.SignaturePosition(), at);
        } else {
            EXPECT_EQ(file.Identify(error), PR_WRONG_FORMAT);
            EXPECT_EQ(error, "Error - File Format is not Logo (1D 2A)");
        }
    }
    LogoFile file("");
    std::string error;
    EXPECT_EQ(file.Identify(error), PR_NO_DATA);
    file.SetRawData(std::vector<uint8_t>{0x1D});
    EXPECT_EQ(file.Identify(error), PR_WRONG_FORMAT);
}

TEST(LogoFile, DeclaredDataMustBePresent)
{
    std::string error;
    for (size_t dataBytes : {size_t{31}, size_t{32}, size_t{33}}) {
        std::vector<uint8_t> bytes{0x1D, 0x2A, 0x02, 0x02};
        bytes.resize(4 + dataBytes, 0xFF);
        LogoFile file("");
        error.clear();
        PictureResult result = DecodeBytes(file, bytes, error);
        if (dataBytes < 32) {
            EXPECT_EQ(result, PR_INVALID);
            EXPECT_EQ(error, "Error - File Format is not valid Logo");
            EXPECT_FALSE(file.HasPicture());
        } else {
            EXPECT_EQ(result, PR_OK) << error;
            EXPECT_EQ(BitsOf(file), std::vector<uint8_t>(32, 0xFF));
        }
    }
    // Header cut short.
    for (std::vector<uint8_t> bytes : {std::vector<uint8_t>{0x1D, 0x2A}, std::vector<uint8_t>{0x1D, 0x2A, 0x01}}) {
        LogoFile file("");
        EXPECT_EQ(DecodeBytes(file, bytes, error), PR_INVALID);
        EXPECT_EQ(error, "Error - File Format is not valid Logo");
    }
}

TEST(LogoFile, EmptySidesAreValid)
{
    for (std::vector<uint8_t> bytes : {std::vector<uint8_t>{0x1D, 0x2A, 0x00, 0x05}, std::vector<uint8_t>{0x1D, 0x2A, 0x05, 0x00}}) {
        LogoFile file("");
        std::string error;
        ASSERT_EQ(DecodeBytes(file, bytes, error), PR_OK) << error;
        EXPECT_EQ(file.Width(), 8u * bytes[2]);
        EXPECT_EQ(file.Height(), 8u * bytes[3]);
        EXPECT_TRUE(file.Bits().empty());
    }
    uint32_t width = 0, height = 3;
    std::vector<uint8_t> encoded;
    std::string error;
    EXPECT_EQ(EncodeLogo(width, height, {}, encoded, error), PR_SIZE_ADJUSTED);
    EXPECT_EQ(encoded, (std::vector<uint8_t>{0x1D, 0x2A, 0x00, 0x01}));
}

TEST(LogoFile, PicturesBeyond2040DotsAreRefused)
{
    std::string error;
    std::vector<uint8_t> encoded;
    uint32_t width = 2040, height = 2033;  // rounds to 2040: the largest logo
    EXPECT_EQ(EncodeLogo(width, height, std::vector<uint8_t>(255 * 2033, 0x55), encoded, error), PR_SIZE_ADJUSTED);
    EXPECT_EQ(encoded.size(), 4u + 255u * 2040u);
    EXPECT_EQ(encoded[2], 255);
    EXPECT_EQ(encoded[3], 255);

    struct Case {
        uint32_t width, height;
    };
    for (Case c : {Case{2041, 8}, Case{8, 2041}, Case{4096, 16}, Case{0xFFFFFFFFu, 1}}) {
        uint32_t w = c.width, h = c.height;
        encoded = {1, 2, 3};
        LogoFile file("");
        file.SetPicture(std::vector<uint8_t>(8 * 256));
        EXPECT_EQ(file.EncodeToMemory(w, h, error, encoded), PR_INVALID) << c.width << "x" << c.height;
        EXPECT_EQ(w, c.width);  // the caller's size is left alone
        EXPECT_EQ(h, c.height);
        EXPECT_TRUE(encoded.empty());
        EXPECT_NE(error.find("Error - Picture too large for the Logo format"), std::string::npos) << error;
    }
}

TEST(LogoFile, EncodeRefusesAPictureSmallerThanItsSize)
{
    uint32_t width = 16, height = 16;
    std::vector<uint8_t> encoded;
    std::string error;
    EXPECT_EQ(EncodeLogo(width, height, std::vector<uint8_t>(31), encoded, error), PR_INVALID);
    EXPECT_EQ(error, "Error - Picture is smaller than its size");
}

TEST(LogoFile, EncodeToMemoryHandsOutACopy)
{
    LogoFile file("");
    file.SetPicture(std::vector<uint8_t>(16, 0xAA));
    uint32_t width = 16, height = 8;
    std::vector<uint8_t> first, second;
    std::string error;
    ASSERT_EQ(file.EncodeToMemory(width, height, error, first), PR_OK);
    EXPECT_EQ(file.Size(), 4u + 16u);
    first.assign(first.size(), 0);  // the caller's buffer is its own
    ASSERT_EQ(file.EncodeToMemory(width, height, error, second), PR_OK);
    EXPECT_EQ(second, ReferenceLogo(16, 8, std::vector<uint8_t>(16, 0xAA)));
    EXPECT_EQ(file.Width(), 16u);
    EXPECT_EQ(file.Height(), 8u);
}

TEST(LogoFile, WriteAdjustsTheCallersSizeAndWritesTheCommand)
{
    testing_support::TempDir dir;
    const auto path = dir / "logo.log";
    LogoFile file(path.string());
    std::string error;
    ASSERT_EQ(file.Open(FileAccess::GenericWrite, FileDisposition::CreateAlways, error), PR_OK) << error;
    const std::vector<uint8_t> picture = RandomBits(12, 5, 4);
    file.SetPicture(picture);
    uint32_t width = 12, height = 5;
    ASSERT_EQ(file.Write(width, height, error), PR_SIZE_ADJUSTED);
    EXPECT_EQ(error, "Picture Width & Height have been adjusted to be compatible with selected output format");
    EXPECT_EQ(width, 16u);
    EXPECT_EQ(height, 8u);
    EXPECT_EQ(testing_support::ReadFileBytes(path), ReferenceLogo(12, 5, picture));
    EXPECT_EQ(file.Size(), 4u + 16u);
}

TEST(LogoFile, CommittedSamplesDecode)
{
    const auto files = testing_support::TestDataFiles("logo/good");
    ASSERT_FALSE(files.empty());
    for (const auto& path : files) {
        LogoFile file(path.string());
        std::string error;
        ASSERT_EQ(file.Open(FileAccess::GenericRead, FileDisposition::OpenExisting, error), PR_OK) << error;
        ASSERT_EQ(file.Identify(error), PR_OK) << path << ": " << error;
        const std::vector<uint8_t> raw(file.RawData().begin(), file.RawData().end());
        ASSERT_TRUE(file.Decode(error)) << path << ": " << error;
        EXPECT_EQ(BitsOf(file), ReferencePicture(raw, file.SignaturePosition())) << path;
    }
    for (const auto& path : testing_support::TestDataFiles("logo/bad")) {
        LogoFile file(path.string());
        std::string error;
        ASSERT_EQ(file.Open(FileAccess::GenericRead, FileDisposition::OpenExisting, error), PR_OK) << error;
        EXPECT_NE(file.Identify(error), PR_OK) << path;
        EXPECT_EQ(error.rfind("Error - ", 0), 0u) << path << ": " << error;
    }
}

TEST(LogoFile, MutatedAndTruncatedCommandsFailCleanlyOrDecodeToTheirSize)
{
    // Identify and Decode must either refuse with a message or give a picture
    // of the size Identify reported.
    std::vector<uint8_t> base{0x00, 0x1B, 0x40};
    const std::vector<uint8_t> command = ReferenceLogo(24, 16, RandomBits(24, 16, 8));
    base.insert(base.end(), command.begin(), command.end());
    printer_format_testing::MutationSweep<LogoFile>(base);
}
