#include "picture_loader.h"

#include "picture_test_util.h"
#include "test_support.h"

#include <gtest/gtest.h>

using namespace picture_test;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

namespace {

LoadedPicture LoadBytes(const std::vector<uint8_t>& bytes)
{
    TempDir dir;
    WriteFileBytes(dir / "picture", bytes);
    return LoadPictureFile((dir / "picture").string());
}

}  // namespace

TEST(PictureLoader, FindsBitmapsAndLogos)
{
    const std::vector<uint8_t> picture = Masked(RandomBits(20, 6, 1), 20);
    LoadedPicture bmp = LoadBytes(MakeBmp(20, 6, picture));
    ASSERT_EQ(bmp.outcome, LoadOutcome::Loaded) << bmp.error;
    EXPECT_EQ(bmp.picture->Type(), BITMAP);
    EXPECT_EQ(BitsOf(*bmp.picture), picture);
    EXPECT_FALSE(bmp.picture->HasRawData());
    EXPECT_FALSE(bmp.picture->IsFileOpen());

    LoadedPicture logo = LoadBytes({0x1B, 0x40, 0x1D, 0x2A, 0x01, 0x01, 0xFF, 0, 0, 0, 0, 0, 0, 0x01});
    ASSERT_EQ(logo.outcome, LoadOutcome::Loaded) << logo.error;
    EXPECT_EQ(logo.picture->Type(), LOGO);
    EXPECT_EQ(logo.picture->Width(), 8u);
    EXPECT_EQ(BitsOf(*logo.picture), (std::vector<uint8_t>{0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x81}));
}

TEST(PictureLoader, RasterGraphicsComesFirst)
{
    // Three lines of 0x11 + 4 bytes; each also holds a valid empty logo command.
    const std::vector<uint8_t> bytes{0x11, 0x1D, 0x2A, 0x00, 0x00, 0x11, 0x1D, 0x2A, 0x00, 0x00, 0x11, 0x1D, 0x2A, 0x00, 0x00};
    LoadedPicture loaded = LoadBytes(bytes);
    ASSERT_EQ(loaded.outcome, LoadOutcome::Loaded) << loaded.error;
    EXPECT_EQ(loaded.picture->Type(), RASTER_GFX);
    EXPECT_EQ(loaded.picture->Width(), 32u);
    EXPECT_EQ(loaded.picture->Height(), 3u);
}

TEST(PictureLoader, ARefusedBitmapEndsTheSearch)
{
    // "BM" with 24 bits per dot, and a logo command inside the first 128 bytes.
    BmpOptions options;
    options.bitCount = 24;
    std::vector<uint8_t> bytes = MakeBmp(8, 8, std::vector<uint8_t>(8), options);
    bytes[62] = 0x1D;
    bytes[63] = 0x2A;
    LoadedPicture loaded = LoadBytes(bytes);
    EXPECT_EQ(loaded.outcome, LoadOutcome::Invalid);
    EXPECT_EQ(loaded.error, "Error - Bmp File is not monochrome");
    EXPECT_EQ(loaded.picture, nullptr);
}

TEST(PictureLoader, UnknownAndEmptyFilesAreNotSupported)
{
    const std::string text = "Hello, printer!\r\n";
    EXPECT_EQ(LoadBytes(std::vector<uint8_t>(text.begin(), text.end())).outcome, LoadOutcome::NotSupported);
    EXPECT_EQ(LoadBytes({}).outcome, LoadOutcome::NotSupported);
}

TEST(PictureLoader, ReportsOpenFailuresAndInvalidContent)
{
    TempDir dir;
    const std::string missing = (dir / "missing.log").string();
    LoadedPicture loaded = LoadPictureFile(missing);
    EXPECT_EQ(loaded.outcome, LoadOutcome::OpenFailed);
    EXPECT_EQ(loaded.error, "Error - File Open : " + missing);

    std::vector<uint8_t> truncated{0x1D, 0x2A, 0x02, 0x02};
    truncated.resize(4 + 31);
    loaded = LoadBytes(truncated);
    EXPECT_EQ(loaded.outcome, LoadOutcome::Invalid);
    EXPECT_EQ(loaded.error, "Error - File Format is not valid Logo");
}

TEST(PictureLoader, BitmapFromMemory)
{
    const std::vector<uint8_t> picture = Masked(RandomBits(33, 4, 2), 33);
    const std::vector<uint8_t> bytes = MakeBmp(33, 4, picture);
    LoadedPicture loaded = LoadBitmapFromMemory(bytes.data(), bytes.size());
    ASSERT_EQ(loaded.outcome, LoadOutcome::Loaded) << loaded.error;
    EXPECT_EQ(loaded.picture->Type(), BITMAP);
    EXPECT_EQ(loaded.picture->Path(), "");
    EXPECT_EQ(BitsOf(*loaded.picture), picture);

    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + 70);
    loaded = LoadBitmapFromMemory(cut.data(), cut.size());
    EXPECT_EQ(loaded.outcome, LoadOutcome::Invalid);
    EXPECT_EQ(loaded.error, "Error - Bmp File is truncated");

    const std::vector<uint8_t> logo{0x1D, 0x2A, 0x00, 0x00};
    EXPECT_EQ(LoadBitmapFromMemory(logo.data(), logo.size()).outcome, LoadOutcome::NotSupported);
    EXPECT_EQ(LoadBitmapFromMemory(nullptr, 0).outcome, LoadOutcome::NotSupported);
}
