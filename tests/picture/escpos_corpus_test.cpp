// Printer byte streams written by other programs (see tests/data/*/SOURCES.md):
// each is read, or refused, as the format rules say, and never read out of
// bounds whatever its damage.
#include "epson_gfx_file.h"
#include "picture_loader.h"
#include "raster_gfx_ext_file.h"
#include "raster_gfx_file.h"

#include "printer_format_testing.h"
#include "test_support.h"

#include <gtest/gtest.h>

using namespace printer_format_testing;
using testing_support::ReadFileBytes;
using testing_support::TestDataPath;
using Bytes = std::vector<uint8_t>;

namespace {

// The raster picture of the first GS v 0 command (1D 76 30 m xL xH yL yH
// data) in a stream: an independent reference for the column streams.
bool FirstRasterImage(const Bytes& stream, uint32_t& width, uint32_t& height, Bytes& bits)
{
    for (size_t p = 0; p + 8 <= stream.size(); ++p) {
        if (stream[p] != 0x1D || stream[p + 1] != 0x76 || stream[p + 2] != 0x30)
            continue;
        const size_t rowBytes = stream[p + 4] + 256u * stream[p + 5];
        height = stream[p + 6] + 256u * stream[p + 7];
        width = static_cast<uint32_t>(8 * rowBytes);
        if (stream.size() - (p + 8) < rowBytes * height)
            return false;
        bits.assign(stream.begin() + static_cast<std::ptrdiff_t>(p + 8),
                    stream.begin() + static_cast<std::ptrdiff_t>(p + 8 + rowBytes * height));
        return true;
    }
    return false;
}

LoadedPicture Load(const std::string& relative) { return LoadPictureFile(TestDataPath(relative).string()); }

}  // namespace

TEST(EscPosCorpus, ColumnStreamDecodesToTheSamePictureAsItsRasterTwin)
{
    LoadedPicture column = Load("epson_gfx/good/thermal-gs_images_column.bin");
    ASSERT_EQ(column.outcome, LoadOutcome::Loaded) << column.error;
    ASSERT_EQ(column.picture->Type(), EPSON_GFX);
    EXPECT_EQ(column.picture->Width(), 320u);
    EXPECT_EQ(column.picture->Height(), 336u);
    EXPECT_EQ(column.picture->SignaturePosition(), 5u);

    uint32_t width = 0, height = 0;
    Bytes raster;
    ASSERT_TRUE(FirstRasterImage(ReadFileBytes(TestDataPath("raster_gfx_ext/bad/thermal-gs_images_raster.bin")),
                                 width, height, raster));
    ASSERT_EQ(width, 320u);
    ASSERT_EQ(height, 320u);
    auto bits = column.picture->Bits();
    EXPECT_TRUE(SameDots(Bytes(bits.begin(), bits.end()), 320, 336, raster, 320, 320));
}

TEST(EscPosCorpus, FourModesDrawOnePictureWithTheirDotShapes)
{
    // The same 120 x 120 picture in mode 33 (rows 48..167), mode 1 (each
    // printer dot three rows tall, rows 312..671), mode 32 (two columns wide,
    // rows 816..935) and mode 0 (both, rows 1080..1439), bands separated by
    // line feeds, with text lines between the sections.
    LoadedPicture loaded = Load("epson_gfx/good/escpos-sharp-bitimage.txt");
    ASSERT_EQ(loaded.outcome, LoadOutcome::Loaded) << loaded.error;
    const PictureFile& picture = *loaded.picture;
    ASSERT_EQ(picture.Type(), EPSON_GFX);
    EXPECT_EQ(picture.Width(), 240u);
    EXPECT_EQ(picture.Height(), 2352u);
    const Bytes bits(picture.Bits().begin(), picture.Bits().end());
    auto dot = [&](uint32_t x, uint32_t y) { return Dot(bits, 240, 2352, x, y); };

    size_t black = 0;
    for (uint32_t y = 0; y < 120; ++y) {
        for (uint32_t x = 120; x < 240; ++x)
            ASSERT_FALSE(dot(x, 48 + y)) << "mode 33 is 120 columns wide";
        for (uint32_t x = 0; x < 240; ++x) {
            const bool original = x < 120 && dot(x, 48 + y);
            const bool doubled = dot(x / 2, 48 + y);
            black += original;
            for (uint32_t k = 0; k < 3; ++k) {
                ASSERT_EQ(dot(x, 312 + 3 * y + k), original) << "mode 1 at " << x << ", " << y;
                ASSERT_EQ(dot(x, 1080 + 3 * y + k), doubled) << "mode 0 at " << x << ", " << y;
            }
            ASSERT_EQ(dot(x, 816 + y), doubled) << "mode 32 at " << x << ", " << y;
        }
    }
    EXPECT_GT(black, 1000u) << "the picture is not blank";
}

TEST(EscPosCorpus, StreamsWithoutFeedsMeasureNoRowsAndUnknownModesAreRefused)
{
    // Bands separated by ESC J 0: every band is drawn at row 0 and no line
    // feed closes it, so the measured picture has no rows. It is read as an
    // empty picture of the width the bit images reach.
    struct Flat {
        const char* name;
        uint32_t width;
    };
    for (Flat flat : {Flat{"epson_gfx/questionable/mazinsw-draw_MP-4200_TH.bin", 180},
                      Flat{"epson_gfx/questionable/mazinsw-qrcode_generic.bin", 220}}) {
        LoadedPicture loaded = Load(flat.name);
        ASSERT_EQ(loaded.outcome, LoadOutcome::Loaded) << flat.name << ": " << loaded.error;
        EXPECT_EQ(loaded.picture->Type(), EPSON_GFX) << flat.name;
        EXPECT_EQ(loaded.picture->Width(), flat.width) << flat.name;
        EXPECT_EQ(loaded.picture->Height(), 0u) << flat.name;
        EXPECT_TRUE(loaded.picture->Bits().empty()) << flat.name;
    }
    // ESC * with mode 0x6D, which none of the four bit image modes is.
    LoadedPicture unknown = Load("epson_gfx/bad/mazinsw-draw_DR700.bin");
    EXPECT_EQ(unknown.outcome, LoadOutcome::Invalid);
    EXPECT_EQ(unknown.error, "Error - Epson Graphics bit image mode not supported (1B 2A 6D)");

    // GS v 0 streams carry no signature of any format in their first 128
    // bytes (one has a 1B 2E pair deep inside its image data).
    for (const char* name : {"raster_gfx_ext/bad/thermal-gs_images_raster.bin", "raster_gfx_ext/bad/npos-raster.bin"}) {
        LoadedPicture loaded = Load(name);
        EXPECT_EQ(loaded.outcome, LoadOutcome::NotSupported) << name;
        ReadOutcome ext = ReadBytes<RasterGfxExtFile>(ReadFileBytes(TestDataPath(name)));
        EXPECT_EQ(ext.identified, PR_WRONG_FORMAT) << name;
    }
}

TEST(EscPosCorpus, EveryStreamAndItsTruncationsReadCleanlyInEveryPrinterFormat)
{
    const auto files = testing_support::TestDataFiles("epson_gfx");
    auto more = testing_support::TestDataFiles("raster_gfx_ext");
    std::vector<std::filesystem::path> all(files.begin(), files.end());
    all.insert(all.end(), more.begin(), more.end());
    for (const auto& extra : testing_support::TestDataFiles("raster_gfx"))
        all.push_back(extra);
    ASSERT_GE(all.size(), 9u);
    for (const auto& path : all) {
        if (path.filename() == "SOURCES.md")
            continue;
        const Bytes whole = ReadFileBytes(path);
        // Lengths spread over the whole file, and every one near its start.
        const size_t step = std::max<size_t>(1, whole.size() / 97);
        for (size_t length = 0; length <= whole.size(); length += (length < 200 ? 1 : step)) {
            const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
            const std::string what = path.filename().string() + " cut to " + std::to_string(length);
            ExpectCleanRead<EpsonGfxFile>(cut, what);
            ExpectCleanRead<RasterGfxFile>(cut, what);
            ExpectCleanRead<RasterGfxExtFile>(cut, what);
            if (HasFatalFailure())
                return;
        }
    }
}
