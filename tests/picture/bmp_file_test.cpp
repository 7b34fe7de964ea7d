#include "bmp_file.h"

#include "picture_test_util.h"
#include "test_support.h"

#include <gtest/gtest.h>

using namespace picture_test;

namespace {

std::vector<uint8_t> EncodeBmp(uint32_t width, uint32_t height, const std::vector<uint8_t>& bits,
                               PictureResult expected = PR_OK)
{
    BmpFile file("");
    file.SetPicture(bits);
    std::string error;
    std::vector<uint8_t> encoded;
    uint32_t w = width, h = height;
    EXPECT_EQ(file.Encode(w, h, error, encoded), expected) << error;
    EXPECT_EQ(w, width);  // a bitmap never rounds the size
    EXPECT_EQ(h, height);
    return encoded;
}

}  // namespace

TEST(BmpFile, DarkerPaletteEntryAlwaysBecomesBlack)
{
    const uint32_t width = 13, height = 5;
    const std::vector<uint8_t> picture = Masked(RandomBits(width, height, 7), width);
    // The same image stored with white/black and with black/white palettes
    // (the second file holds the complemented indexes).
    std::vector<uint8_t> inverted = picture;
    for (uint8_t& byte : inverted)
        byte = static_cast<uint8_t>(~byte);
    BmpOptions blackFirst;
    blackFirst.palette0 = 0x00000000;
    blackFirst.palette1 = 0x00FFFFFF;

    for (const auto& bytes : {MakeBmp(width, height, picture), MakeBmp(width, height, Masked(inverted, width), blackFirst)}) {
        BmpFile file("");
        std::string error;
        ASSERT_EQ(DecodeBytes(file, bytes, error), PR_OK) << error;
        EXPECT_EQ(file.Width(), width);
        EXPECT_EQ(file.Height(), height);
        EXPECT_EQ(BitsOf(file), picture);
    }
}

TEST(BmpFile, EqualPaletteEntriesAreNotInverted)
{
    BmpOptions grey;
    grey.palette0 = grey.palette1 = 0x00808080;
    const std::vector<uint8_t> picture{0xA0, 0x40};
    BmpFile file("");
    std::string error;
    ASSERT_EQ(DecodeBytes(file, MakeBmp(3, 2, picture, grey), error), PR_OK) << error;
    EXPECT_EQ(BitsOf(file), picture);
}

TEST(BmpFile, OneDotWideRowsAreMaskedWhateverThePaddingHolds)
{
    // 1 x 3: four bytes per file row, one per picture row.
    std::vector<uint8_t> bytes = MakeBmp(1, 3, {0, 0, 0});
    const size_t rows = 62;
    // File rows bottom-up: picture row 2, 1, 0. Set dot 0 of picture row 1
    // and garbage everywhere beyond it.
    const uint8_t fileRows[3][4] = {{0x7F, 0xFF, 0xFF, 0xFF}, {0xFF, 0xAA, 0x55, 0x01}, {0x3C, 0x00, 0x00, 0xFF}};
    for (int i = 0; i < 3; ++i)
        std::copy(fileRows[i], fileRows[i] + 4, bytes.begin() + rows + 4 * i);
    BmpFile file("");
    std::string error;
    ASSERT_EQ(DecodeBytes(file, bytes, error), PR_OK) << error;
    EXPECT_EQ(BitsOf(file), (std::vector<uint8_t>{0x00, 0x80, 0x00}));
}

TEST(BmpFile, WritesTheHeaderAndRowsByteForByte)
{
    const uint32_t width = 100, height = 3;
    std::vector<uint8_t> picture = RandomBits(width, height, 11);
    picture[12] |= 0x0F;  // dots beyond the width are copied as they are
    const std::vector<uint8_t> file = EncodeBmp(width, height, picture);
    ASSERT_EQ(file.size(), 62u + 16u * height);

    const std::vector<uint8_t> header{
        'B', 'M', 0x6E, 0, 0, 0,  0, 0, 0, 0,  62, 0, 0, 0,  40, 0, 0, 0,
        100, 0, 0, 0,  3, 0, 0, 0,  1, 0,  1, 0,  0, 0, 0, 0,  48, 0, 0, 0,
        0x40, 0x1F, 0, 0,  0x40, 0x1F, 0, 0,  2, 0, 0, 0,  2, 0, 0, 0,
        0xFF, 0xFF, 0xFF, 0x00,  0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(std::vector<uint8_t>(file.begin(), file.begin() + 62), header);
    for (uint32_t i = 0; i < height; ++i) {
        const uint8_t* row = file.data() + 62 + 16 * i;
        const uint8_t* source = picture.data() + 13 * (height - 1 - i);
        EXPECT_TRUE(std::equal(row, row + 13, source)) << "file row " << i;
        EXPECT_EQ(std::vector<uint8_t>(row + 13, row + 16), std::vector<uint8_t>(3, 0)) << "file row " << i;
    }
}

TEST(BmpFile, WriteThenReadGivesTheSamePicture)
{
    // Every remainder of the width by 8, so each last-byte mask is used.
    for (uint32_t width : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 31u, 32u, 33u, 100u, 255u}) {
        for (uint32_t height : {0u, 1u, 2u, 17u}) {
            const std::vector<uint8_t> picture = RandomBits(width, height, width * 100 + height);
            const std::vector<uint8_t> bytes = EncodeBmp(width, height, picture);
            BmpFile file("");
            std::string error;
            ASSERT_EQ(DecodeBytes(file, bytes, error), PR_OK) << width << "x" << height << ": " << error;
            EXPECT_EQ(file.Width(), width);
            EXPECT_EQ(file.Height(), height);
            EXPECT_EQ(BitsOf(file), Masked(picture, width)) << width << "x" << height;
            EXPECT_FALSE(file.HasRawData());
        }
    }
}

TEST(BmpFile, EncodeUsesOnlyTheRowsOfItsSizeFromALargerBuffer)
{
    // A window from ExtractWindow carries white rows up to a multiple of 24.
    std::vector<uint8_t> padded(2 * 24, 0xFF);
    EXPECT_EQ(EncodeBmp(16, 2, padded).size(), 62u + 2 * 4);
}

TEST(BmpFile, RefusesPicturesItCannotEncode)
{
    std::vector<uint8_t> encoded;
    std::string error;
    {
        BmpFile file("");
        file.SetPicture(std::vector<uint8_t>(5));
        uint32_t w = 16, h = 3;  // needs 6 bytes
        EXPECT_EQ(file.Encode(w, h, error, encoded), PR_INVALID);
        EXPECT_EQ(error, "Error - Picture is smaller than its size");
    }
    {
        BmpFile file("");
        uint32_t w = 0x80000000u, h = 0;  // would read back as a negative width
        EXPECT_EQ(file.Encode(w, h, error, encoded), PR_INVALID);
        EXPECT_EQ(error, PictureTooLargeMessage(w, h));
    }
    {
        // 1 dot wide: 4 file bytes per picture byte, beyond what Open reads back.
        const uint32_t h = static_cast<uint32_t>(kMaxRawFileBytes / 4);
        BmpFile file("");
        file.SetPicture(std::vector<uint8_t>(h));
        uint32_t w = 1, hh = h;
        EXPECT_EQ(file.Encode(w, hh, error, encoded), PR_NO_MEMORY);
        EXPECT_EQ(error, PictureTooLargeMessage(1, h));
    }
}

TEST(BmpFile, IdentifyVerdictsInTheirOrder)
{
    std::vector<uint8_t> good = MakeBmp(8, 2, {0x81, 0x42});
    std::string error;
    BmpFile empty("");
    EXPECT_EQ(empty.Identify(error), PR_NO_DATA);

    auto verdict = [&](std::vector<uint8_t> bytes) {
        BmpFile file("");
        file.SetRawData(bytes);
        error.clear();
        return file.Identify(error);
    };
    std::vector<uint8_t> bytes = good;
    bytes[1] = 'A';
    EXPECT_EQ(verdict(bytes), PR_WRONG_FORMAT);
    EXPECT_EQ(error, "Error - File Format is not BMP");
    EXPECT_EQ(verdict({}), PR_WRONG_FORMAT);

    bytes = good;
    bytes[28] = 24;
    bytes[30] = 1;  // the bit count is tested first
    EXPECT_EQ(verdict(bytes), PR_INVALID);
    EXPECT_EQ(error, "Error - Bmp File is not monochrome");
    bytes[28] = 1;
    EXPECT_EQ(verdict(bytes), PR_INVALID);
    EXPECT_EQ(error, "Error - Bmp File Compression not supported");

    // Only the low bytes of the two fields count.
    bytes = good;
    bytes[29] = 1;
    bytes[31] = 1;
    EXPECT_EQ(verdict(bytes), PR_OK) << error;

    // A 24-bit file cut after byte 28 still says what it is.
    bytes = good;
    bytes[28] = 24;
    bytes.resize(29);
    EXPECT_EQ(verdict(bytes), PR_INVALID);
    EXPECT_EQ(error, "Error - Bmp File is not monochrome");
}

TEST(BmpFile, RefusesShortFilesWithoutReadingPastThem)
{
    const std::vector<uint8_t> good = MakeBmp(40, 3, RandomBits(40, 3, 5));
    for (size_t length : {size_t{2}, size_t{31}, size_t{61}, good.size() - 1}) {
        BmpFile file("");
        // An exact-size copy, so a read past the end is caught by the sanitizer.
        std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<ptrdiff_t>(length));
        file.SetRawData(cut);
        std::string error;
        EXPECT_EQ(file.Identify(error), PR_INVALID) << length;
        EXPECT_EQ(error, "Error - Bmp File is truncated") << length;
        EXPECT_FALSE(file.Decode(error));
        EXPECT_FALSE(file.HasPicture());
    }
}

TEST(BmpFile, DecodeChecksTheBytesAgainAfterTheyChange)
{
    BmpFile file("");
    std::vector<uint8_t> bytes = MakeBmp(64, 64, RandomBits(64, 64, 1));
    file.SetRawData(bytes);
    std::string error;
    ASSERT_EQ(file.Identify(error), PR_OK);
    bytes.resize(100);
    file.SetRawData(bytes);
    EXPECT_FALSE(file.Decode(error));
    EXPECT_EQ(error, "Error - Bmp File is truncated");

    BmpFile none("");
    EXPECT_FALSE(none.Decode(error));
}

TEST(BmpFile, TopDownRowsDecodeInOrder)
{
    const uint32_t width = 21, height = 9;
    const std::vector<uint8_t> picture = Masked(RandomBits(width, height, 3), width);
    BmpOptions topDown;
    topDown.topDown = true;
    BmpFile file("");
    std::string error;
    ASSERT_EQ(DecodeBytes(file, MakeBmp(width, height, picture, topDown), error), PR_OK) << error;
    EXPECT_EQ(file.Height(), height);
    EXPECT_EQ(BitsOf(file), picture);
}

TEST(BmpFile, NegativeWidthIsRefused)
{
    std::vector<uint8_t> bytes = MakeBmp(8, 1, {0xFF});
    PutU32(bytes, 18, static_cast<uint32_t>(-8));
    BmpFile file("");
    std::string error;
    EXPECT_EQ(DecodeBytes(file, bytes, error), PR_INVALID);
    EXPECT_EQ(error, "Error - Bmp File width is not valid");
}

TEST(BmpFile, LongerHeadersAndLaterRowsAreFollowedWhenConsistent)
{
    const uint32_t width = 30, height = 4;
    const std::vector<uint8_t> picture = Masked(RandomBits(width, height, 9), width);
    for (uint32_t headerBytes : {40u, 56u, 66u, 108u, 124u}) {
        for (uint32_t gap : {0u, 8u, 3u}) {
            BmpOptions options;
            options.headerBytes = headerBytes;
            options.gapBeforePixels = gap;
            BmpFile file("");
            std::string error;
            ASSERT_EQ(DecodeBytes(file, MakeBmp(width, height, picture, options), error), PR_OK)
                << headerBytes << "/" << gap << ": " << error;
            EXPECT_EQ(BitsOf(file), picture) << headerBytes << "/" << gap;
        }
    }
}

TEST(BmpFile, InconsistentLayoutsAreRefused)
{
    const std::vector<uint8_t> good = MakeBmp(16, 2, {1, 2, 3, 4});
    std::string error;
    auto verdict = [&](const std::vector<uint8_t>& bytes) {
        BmpFile file("");
        error.clear();
        return DecodeBytes(file, bytes, error);
    };
    std::vector<uint8_t> bytes = good;
    PutU32(bytes, 10, 0);  // offset left unset: rows follow the palette
    EXPECT_EQ(verdict(bytes), PR_OK) << error;
    bytes = good;
    PutU32(bytes, 10, 58);  // rows inside the palette (one-entry palette)
    EXPECT_EQ(verdict(bytes), PR_INVALID);
    EXPECT_EQ(error, "Error - Bmp File header not supported");
    bytes = good;
    PutU32(bytes, 14, 12);  // old core header: the fields are elsewhere
    EXPECT_EQ(verdict(bytes), PR_INVALID);
    EXPECT_EQ(error, "Error - Bmp File header not supported");
    bytes = good;
    PutU32(bytes, 14, 0xFFFFFFF0u);  // header larger than the file: no header known
    EXPECT_EQ(verdict(bytes), PR_INVALID);
    EXPECT_EQ(error, "Error - Bmp File header not supported");
    bytes = good;
    bytes.resize(60);  // a sound header in a file cut short
    EXPECT_EQ(verdict(bytes), PR_INVALID);
    EXPECT_EQ(error, "Error - Bmp File is truncated");
    bytes = good;
    PutU32(bytes, 10, 0xFFFFFFFFu);  // rows beyond the end
    EXPECT_EQ(verdict(bytes), PR_INVALID);
    EXPECT_EQ(error, "Error - Bmp File is truncated");
}

TEST(BmpFile, GiantDeclaredSizesFailWithoutAllocating)
{
    struct Case {
        uint32_t width;
        uint32_t height;
    };
    for (Case c : {Case{0x7FFFFFFF, 0x7FFFFFFF}, Case{0x7FFFFFFF, 1}, Case{1, 0x80000000u}, Case{65536, 65536}}) {
        std::vector<uint8_t> bytes = MakeBmp(8, 1, {0});
        PutU32(bytes, 18, c.width);
        PutU32(bytes, 22, c.height);  // 0x80000000 is the most negative height
        BmpFile file("");
        std::string error;
        EXPECT_EQ(DecodeBytes(file, bytes, error), PR_INVALID);
        uint32_t height = c.height == 0x80000000u ? 0x80000000u : c.height;
        EXPECT_EQ(error, PictureTooLargeMessage(c.width, height));
    }
}

TEST(BmpFile, WriteReplacesTheFileAndRecordsItsSize)
{
    testing_support::TempDir dir;
    const std::string path = (dir / "logo.bmp").string();
    BmpFile writer(path);
    std::string error;
    ASSERT_EQ(writer.Open(FileAccess::GenericWrite, FileDisposition::CreateAlways, error), PR_OK) << error;
    const std::vector<uint8_t> picture = Masked(RandomBits(50, 7, 2), 50);
    writer.SetPicture(picture);
    uint32_t w = 50, h = 7;
    ASSERT_EQ(writer.Write(w, h, error), PR_OK) << error;
    EXPECT_EQ(writer.Size(), 62u + 8u * 7);
    EXPECT_FALSE(writer.IsFileOpen());

    BmpFile reader(path);
    ASSERT_EQ(reader.Open(FileAccess::GenericRead, FileDisposition::OpenExisting, error), PR_OK) << error;
    ASSERT_EQ(reader.Identify(error), PR_OK) << error;
    ASSERT_TRUE(reader.Decode(error)) << error;
    EXPECT_FALSE(reader.IsFileOpen());
    EXPECT_EQ(BitsOf(reader), picture);
}
