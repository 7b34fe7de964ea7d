// Colour and grey picture files read as grey levels and dots: every format and
// depth of the committed fixtures, alpha over white, fitting the width, the
// signature test that leaves the printer formats and one-bit bitmaps alone,
// and the refusal of decompression bombs and damaged files.
#include "image_import.h"
#include "picture_loader.h"
#include "test_module.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <map>

namespace {

using testing_support::ReadFileBytes;
using testing_support::TestDataFiles;
using testing_support::TestDataPath;

std::vector<uint8_t> Fixture(const std::string& name)
{
    std::vector<uint8_t> bytes = ReadFileBytes(TestDataPath("import/good/" + name));
    EXPECT_FALSE(bytes.empty()) << name;
    return bytes;
}

struct Expected {
    ImageFormat format;
    int left;       ///< grey of the left half
    int right;      ///< grey of the right half
    int tolerance;  ///< lossy formats and reduced depths
};

// CMYK has no one sRGB meaning: the library converts it through a press
// profile, the fixture's maker by the naive formula, so only the order of
// the two greys is sure.
constexpr int kPressProfile = 60;

// What make_fixtures.sh drew: rgb(200,100,50) -> 124 | rgb(30,220,240) -> 165,
// black at half alpha over white -> 127.
const std::map<std::string, Expected> kFixtures{
    {"rgb8.png", {ImageFormat::Png, 124, 165, 0}},     {"rgb16.png", {ImageFormat::Png, 124, 165, 0}},
    {"palette.png", {ImageFormat::Png, 124, 165, 0}},  {"grey8.png", {ImageFormat::Png, 124, 165, 0}},
    {"grey16.png", {ImageFormat::Png, 124, 165, 0}},   {"grey1.png", {ImageFormat::Png, 0, 255, 0}},
    {"rgba8.png", {ImageFormat::Png, 127, 165, 0}},    {"greyalpha.png", {ImageFormat::Png, 127, 165, 0}},
    {"rgb.jpg", {ImageFormat::Jpeg, 124, 165, 4}},     {"grey.jpg", {ImageFormat::Jpeg, 124, 165, 2}},
    {"cmyk.jpg", {ImageFormat::Jpeg, 124, 165, kPressProfile}},   {"still.gif", {ImageFormat::Gif, 124, 165, 0}},
    {"animated.gif", {ImageFormat::Gif, 124, 165, 0}}, {"lossless.webp", {ImageFormat::WebP, 124, 165, 0}},
    {"lossy.webp", {ImageFormat::WebP, 124, 165, 6}},  {"alpha.webp", {ImageFormat::WebP, 127, 165, 0}},
    {"rgb.tif", {ImageFormat::Tiff, 124, 165, 0}},     {"lzw.tif", {ImageFormat::Tiff, 124, 165, 0}},
    {"rgb16.tif", {ImageFormat::Tiff, 124, 165, 0}},   {"grey.tif", {ImageFormat::Tiff, 124, 165, 0}},
    {"rgb24.bmp", {ImageFormat::Bmp, 124, 165, 0}},    {"rgb32.bmp", {ImageFormat::Bmp, 124, 165, 0}},
    {"palette4.bmp", {ImageFormat::Bmp, 124, 165, 0}}, {"rle.bmp", {ImageFormat::Bmp, 124, 165, 0}},
    {"rgb565.bmp", {ImageFormat::Bmp, 124, 165, 4}},
};

TEST(ImageImport, EveryFormatAndDepthDecodesToItsGreyLevels)
{
    for (const auto& [name, expected] : kFixtures) {
        SCOPED_TRACE(name);
        std::vector<uint8_t> bytes = Fixture(name);
        EXPECT_EQ(DetectImageFormat(bytes), expected.format);
        GreyPicture grey;
        std::string error;
        ImageSize declared;
        ASSERT_TRUE(ReadGreyPicture(bytes, 0, grey, error, &declared)) << error;
        ASSERT_EQ(grey.width, 16u);
        ASSERT_EQ(grey.height, 8u);
        EXPECT_EQ(declared.width, 16u);
        EXPECT_EQ(declared.height, 8u);
        for (uint32_t y = 0; y < 8; ++y) {
            // The columns next to the edge of a lossy picture blur; the others must not.
            for (uint32_t x : {0u, 1u, 2u, 13u, 14u, 15u}) {
                int want = x < 8 ? expected.left : expected.right;
                EXPECT_NEAR(grey.levels[y * 16 + x], want, expected.tolerance) << "x " << x << " y " << y;
            }
        }
    }
}

TEST(ImageImport, DotsFollowTheThresholdAndAlphaGoesOverWhite)
{
    ImportOptions options;
    options.dither.method = DitherMethod::None;
    options.dither.threshold = 128;
    ImportedPicture picture;
    std::string error;
    // Left: black at half alpha -> 127 (black below 128); right: 165 (white).
    ASSERT_TRUE(ImportPicture(Fixture("rgba8.png"), options, picture, error)) << error;
    ASSERT_EQ(picture.bits.size(), 16u);
    for (uint32_t y = 0; y < 8; ++y) {
        EXPECT_EQ(picture.bits[y * 2], 0xFF);
        EXPECT_EQ(picture.bits[y * 2 + 1], 0x00);
    }
    options.dither.threshold = 127;  // 127 is not below 127
    ASSERT_TRUE(ImportPicture(Fixture("rgba8.png"), options, picture, error)) << error;
    EXPECT_EQ(picture.bits[0], 0x00);
}

TEST(ImageImport, FitWidthResamplesKeepingTheAspect)
{
    EXPECT_EQ(FittedHeight(2040, 2040, 576), 576u);
    EXPECT_EQ(FittedHeight(3, 2, 2), 1u);   // 1.33
    EXPECT_EQ(FittedHeight(4, 3, 2), 2u);   // 1.5 rounds up
    EXPECT_EQ(FittedHeight(1000, 1, 10), 1u);  // never 0 rows
    for (uint32_t fit : {8u, 5u, 40u}) {
        SCOPED_TRACE(fit);
        GreyPicture grey;
        std::string error;
        ASSERT_TRUE(ReadGreyPicture(Fixture("rgb8.png"), fit, grey, error)) << error;
        EXPECT_EQ(grey.width, fit);
        EXPECT_EQ(grey.height, FittedHeight(16, 8, fit));
        EXPECT_EQ(grey.levels.size(), static_cast<size_t>(grey.width) * grey.height);
        // Far from the edge between the halves the levels stay what they were.
        EXPECT_NEAR(grey.levels[0], 124, 2);
        EXPECT_NEAR(grey.levels[grey.width - 1], 165, 2);
    }
}

TEST(ImageImport, OneBitBitmapsAndPrinterFormatsAreNotImported)
{
    for (const char* folder : {"bmp/good", "epson_gfx/good", "logo/good", "raster_gfx/good", "raster_gfx_ext/good"}) {
        for (const std::filesystem::path& file : TestDataFiles(folder)) {
            std::vector<uint8_t> bytes = ReadFileBytes(file);
            LoadedPicture loaded = LoadPictureFile(file.string());
            if (loaded.outcome == LoadOutcome::Loaded) {
                EXPECT_EQ(DetectImageFormat(bytes), std::nullopt) << file;
            }
        }
    }
}

// A PNG of the given declared size with one tiny (bogus) IDAT: only the header
// is ever looked at before the refusal.
uint32_t Crc32(const uint8_t* data, size_t length)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void PutChunk(std::vector<uint8_t>& png, const char* type, const std::vector<uint8_t>& data)
{
    auto put32 = [&](uint32_t value) {
        for (int shift = 24; shift >= 0; shift -= 8)
            png.push_back(static_cast<uint8_t>(value >> shift));
    };
    put32(static_cast<uint32_t>(data.size()));
    size_t start = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    put32(Crc32(png.data() + start, png.size() - start));
}

std::vector<uint8_t> PngDeclaring(uint32_t width, uint32_t height)
{
    std::vector<uint8_t> png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    for (uint32_t value : {width, height})
        for (int shift = 24; shift >= 0; shift -= 8)
            header.push_back(static_cast<uint8_t>(value >> shift));
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit RGB
    PutChunk(png, "IHDR", header);
    PutChunk(png, "IDAT", {0x78, 0x9C, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01});
    PutChunk(png, "IEND", {});
    return png;
}

TEST(ImageImport, DecompressionBombsAreRefusedFromTheHeader)
{
    for (auto [width, height] : {std::pair{100000u, 100000u}, std::pair{1000000u, 600u}}) {
        GreyPicture grey;
        std::string error;
        auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(ReadGreyPicture(PngDeclaring(width, height), 0, grey, error));
        EXPECT_EQ(error, PictureTooLargeMessage(width, height));
        // Refused without decoding: no time spent and nothing allocated.
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        EXPECT_TRUE(grey.levels.empty());
    }
    // Fitting to an absurd width is refused the same way.
    GreyPicture grey;
    std::string error;
    EXPECT_FALSE(ReadGreyPicture(Fixture("rgb8.png"), 65535, grey, error));  // 65535 x 32768
    EXPECT_EQ(error, PictureTooLargeMessage(65535, 32768));
}

TEST(ImageImport, DamagedAndTruncatedFilesFailWithTheDecodersReason)
{
    for (const auto& [name, expected] : kFixtures) {
        std::vector<uint8_t> whole = Fixture(name);
        std::vector<size_t> lengths{whole.size() / 2, whole.size() / 3, 20};
        if (expected.format == ImageFormat::Png || expected.format == ImageFormat::Jpeg)
            lengths.push_back(whole.size() - 1);  // their end marker matters
        for (size_t length : lengths) {
            SCOPED_TRACE(name + " cut to " + std::to_string(length));
            std::vector<uint8_t> cut(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(length));
            ImportedPicture picture;
            std::string error;
            EXPECT_FALSE(ImportPicture(cut, ImportOptions{}, picture, error));
            EXPECT_EQ(error.rfind("Error - ", 0), 0u) << error;
            EXPECT_GT(error.size(), 30u) << error;
            EXPECT_TRUE(picture.bits.empty());
        }
    }
    // Damaged inside: the pixel data of a PNG overwritten (its checksum fails).
    std::vector<uint8_t> damaged = Fixture("rgb8.png");
    for (size_t i = damaged.size() - 30; i < damaged.size() - 16; ++i)
        damaged[i] ^= 0x5A;
    ImportedPicture picture;
    std::string error;
    EXPECT_FALSE(ImportPicture(damaged, ImportOptions{}, picture, error));
    EXPECT_EQ(error.rfind("Error - ", 0), 0u) << error;
}

}  // namespace

namespace {

// Every byte of one small file per format flipped in turn: each import either
// gives dots of the size it reports or fails with a message; never a crash.
TEST(ImageImport, EveryByteFlippedEndsCleanly)
{
    for (const char* name : {"rgb8.png", "rgb.jpg", "still.gif", "lossless.webp", "lzw.tif", "palette4.bmp"}) {
        SCOPED_TRACE(name);
        const std::vector<uint8_t> whole = Fixture(name);
        size_t failures = 0;
        for (size_t i = 0; i < whole.size(); ++i) {
            std::vector<uint8_t> flipped = whole;
            flipped[i] ^= 0xFF;
            ImportOptions options;
            options.dither.method = static_cast<DitherMethod>(i % 6);
            ImportedPicture picture;
            std::string error;
            if (ImportPicture(flipped, options, picture, error)) {
                ASSERT_EQ(picture.bits.size(), static_cast<size_t>(BytesPerRow(picture.width)) * picture.height) << i;
            } else {
                ASSERT_EQ(error.rfind("Error - ", 0), 0u) << i << ": " << error;
                ++failures;
            }
        }
        // The signature bytes alone make that many refusals.
        EXPECT_GT(failures, 2u);
    }
}

}  // namespace
