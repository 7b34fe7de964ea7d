#include "raster_gfx_ext_file.h"

#include "printer_format_testing.h"
#include "test_support.h"

#include <gtest/gtest.h>

using namespace printer_format_testing;
using Bytes = std::vector<uint8_t>;

namespace {

ReadOutcome Read(const Bytes& bytes) { return ReadBytes<RasterGfxExtFile>(bytes); }

Bytes RasterRun(uint8_t first, uint32_t rows, const Bytes& data)
{
    Bytes command = {0x1B, 0x2E, first, static_cast<uint8_t>(data.size()), static_cast<uint8_t>(rows & 0xFF),
                     static_cast<uint8_t>(rows >> 8)};
    command.insert(command.end(), data.begin(), data.end());
    return command;
}

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

}  // namespace

TEST(RasterGfxExtWrite, SixteenByFourExampleIsTwelveBytesAndReadsBack)
{
    const Bytes bits = {0x00, 0x00, 0x0F, 0xF0, 0x0F, 0xF0, 0x00, 0x00};
    EncodeOutcome written = EncodeBits<RasterGfxExtFile>(16, 4, bits);
    ASSERT_EQ(written.result, PR_OK);
    EXPECT_EQ(written.bytes, Bytes({0x15, 0x01, 0x1B, 0x2E, 0x00, 0x02, 0x02, 0x00, 0x0F, 0xF0, 0x15, 0x01}));
    ReadOutcome read = Read(written.bytes);
    ASSERT_EQ(read.identified, PR_OK) << read.error;
    EXPECT_EQ(read.width, 16u);
    EXPECT_EQ(read.height, 4u);
    EXPECT_EQ(read.bits, bits);
}

TEST(RasterGfxExtWrite, RunsCarryOnlyTheSignificantBytes)
{
    EncodeOutcome lead = EncodeBits<RasterGfxExtFile>(16, 1, {0x00, 0x3C});
    EXPECT_EQ(lead.bytes, Bytes({0x1B, 0x2E, 0x01, 0x01, 0x01, 0x00, 0x3C}));

    // Rows A A B B B, then blank, then A: blank rows go out just before the
    // run that follows them. B's only dot lies beyond the width of 13: rows are
    // judged by whole bytes.
    const Bytes bits = {0x80, 0x00, 0x80, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x80, 0x00};
    EncodeOutcome written = EncodeBits<RasterGfxExtFile>(13, 7, bits);
    ASSERT_EQ(written.result, PR_SIZE_ADJUSTED);
    EXPECT_EQ(written.error, "Picture Width has been adjusted to be compatible with selected output format");
    EXPECT_EQ(written.width, 16u);
    EXPECT_EQ(written.height, 7u);
    EXPECT_EQ(written.bytes, Concat({RasterRun(0, 2, {0x80}), RasterRun(1, 3, {0x01}), {0x15, 0x01}, RasterRun(0, 1, {0x80})}));
}

TEST(RasterGfxExtWrite, BlankRowsGoInChunksAndAllWhiteFilesAreNotReadBack)
{
    Bytes gap(301, 0x00);
    gap[300] = 0x42;
    EncodeOutcome fed = EncodeBits<RasterGfxExtFile>(8, 301, gap);
    EXPECT_EQ(fed.bytes, Concat({{0x15, 0xFF, 0x15, 0x2D}, RasterRun(0, 1, {0x42})}));

    EncodeOutcome white = EncodeBits<RasterGfxExtFile>(16, 300, Bytes(600, 0x00));
    ASSERT_EQ(white.result, PR_OK);
    EXPECT_EQ(white.bytes, Bytes({0x15, 0xFF, 0x15, 0x2D}));
    ReadOutcome read = Read(white.bytes);
    EXPECT_EQ(read.identified, PR_WRONG_FORMAT);
    EXPECT_EQ(read.error, "Error - File Format is not Extended Raster Graphics (1B 2E)");
}

TEST(RasterGfxExtWrite, RunsAbove65535RowsAreSplit)
{
    const uint32_t rows = 70000;
    Bytes bits(rows, 0x18);
    EncodeOutcome written = EncodeBits<RasterGfxExtFile>(8, rows, bits);
    ASSERT_EQ(written.result, PR_OK);
    EXPECT_EQ(written.bytes, Concat({RasterRun(0, 65535, {0x18}), RasterRun(0, rows - 65535, {0x18})}));
    ReadOutcome read = Read(written.bytes);
    ASSERT_EQ(read.identified, PR_OK) << read.error;
    EXPECT_EQ(read.height, rows);
    EXPECT_EQ(read.bits, bits);

    // Blank rows before the long run still go out before it.
    Bytes gap(2 + 65536, 0x18);
    gap[0] = gap[1] = 0;
    EncodeOutcome split = EncodeBits<RasterGfxExtFile>(8, 2 + 65536, gap);
    EXPECT_EQ(split.bytes, Concat({{0x15, 0x02}, RasterRun(0, 65535, {0x18}), RasterRun(0, 1, {0x18})}));
}

TEST(RasterGfxExtWrite, WidthLimitAndRefusals)
{
    Bytes widest(255, 0x00);
    widest[254] = 0x01;
    EncodeOutcome fits = EncodeBits<RasterGfxExtFile>(2040, 1, widest);
    ASSERT_EQ(fits.result, PR_OK);
    EXPECT_EQ(fits.bytes, RasterRun(254, 1, {0x01}));

    EncodeOutcome tooWide = EncodeBits<RasterGfxExtFile>(2041, 1, Bytes(256, 0xFF));
    EXPECT_EQ(tooWide.result, PR_INVALID);
    EXPECT_EQ(tooWide.error, "Error - Picture too wide for Extended Raster Graphics (at most 2040 dots)");
    EXPECT_TRUE(tooWide.bytes.empty());

    EncodeOutcome shortBits = EncodeBits<RasterGfxExtFile>(16, 2, {0xFF, 0xFF, 0xFF});
    EXPECT_EQ(shortBits.result, PR_INVALID);
    EXPECT_EQ(shortBits.error, picture_messages::kPictureSmallerThanSize);

    testing_support::TempDir dir;
    const std::string path = (dir / "runs.gfx").string();
    RasterGfxExtFile file(path);
    std::string error;
    ASSERT_EQ(file.Open(FileAccess::GenericWrite, FileDisposition::CreateAlways, error), PR_OK);
    file.SetPicture(Bytes(256, 0xFF));
    uint32_t width = 2048, height = 1;
    EXPECT_EQ(file.Write(width, height, error), PR_INVALID);
    EXPECT_FALSE(std::filesystem::exists(path)) << "a refused picture leaves no file";
}

TEST(RasterGfxExtDecode, CommandsMoveTheCursorAndPlaceBytes)
{
    // ESC $ widens without moving rows; LF adds 24 rows, 0x15 and ESC J their
    // count; ESC 3, GS b and other ESC b are skipped.
    Bytes stream = Concat({{0x1B, 0x33, 0x10, 0x1D, 0x2E, 0x1B, 0x40},
                           RasterRun(1, 2, {0xAA, 0x55}),
                           {0x15, 0x03, 0x1B, 0x4A, 0x01},
                           RasterRun(0, 1, {0xFF}),
                           {0x1B, 0x24, 0x28, 0x00, 0x0A, 0x0D}});
    ReadOutcome read = Read(stream);
    ASSERT_EQ(read.identified, PR_OK) << read.error;
    EXPECT_EQ(read.width, 40u);
    EXPECT_EQ(read.height, 2u + 3 + 1 + 1 + 24);
    ASSERT_EQ(read.bits.size(), 5u * read.height);
    EXPECT_EQ(Bytes(read.bits.begin(), read.bits.begin() + 10), Bytes({0, 0xAA, 0x55, 0, 0, 0, 0xAA, 0x55, 0, 0}));
    EXPECT_EQ(read.bits[5 * 6], 0xFF);
    size_t black = 0;
    for (uint8_t byte : read.bits)
        black += byte != 0;
    EXPECT_EQ(black, 5u);
}

TEST(RasterGfxExtIdentify, SignatureMustStartInTheFirst128Bytes)
{
    ReadOutcome late = Read(Concat({Bytes(127, 0x00), RasterRun(0, 1, {0x01})}));
    EXPECT_EQ(late.identified, PR_OK);
    EXPECT_EQ(Read(Concat({Bytes(128, 0x00), RasterRun(0, 1, {0x01})})).identified, PR_WRONG_FORMAT);
}

TEST(RasterGfxExtDecode, DataPastTheEndIsClipped)
{
    // 4 bytes declared over 3 rows, 2 present: the run keeps its size, the
    // missing bytes stay white, the stream ends after it.
    ReadOutcome cut = Read({0x1B, 0x2E, 0x00, 0x04, 0x03, 0x00, 0xF0, 0x0F});
    ASSERT_EQ(cut.identified, PR_OK) << cut.error;
    EXPECT_EQ(cut.width, 32u);
    EXPECT_EQ(cut.height, 3u);
    EXPECT_EQ(cut.bits, Bytes({0xF0, 0x0F, 0, 0, 0xF0, 0x0F, 0, 0, 0xF0, 0x0F, 0, 0}));

    // A header cut short ends the stream before it.
    ReadOutcome header = Read(Concat({RasterRun(0, 1, {0x01}), {0x1B, 0x2E, 0x00, 0x01, 0xFF}}));
    ASSERT_EQ(header.identified, PR_OK);
    EXPECT_EQ(header.height, 1u);
}

TEST(RasterGfxExtIdentify, EmptyPicturesAreReadAndGiantSizesRefused)
{
    // A run of no rows widens the picture but gives it no rows; a run of no
    // bytes gives rows but, at byte 0, no width: both are empty pictures.
    ReadOutcome flat = Read(RasterRun(0, 0, {0xFF}));
    EXPECT_EQ(flat.identified, PR_OK) << flat.error;
    EXPECT_TRUE(flat.decoded);
    EXPECT_EQ(flat.width, 8u);
    EXPECT_EQ(flat.height, 0u);
    ReadOutcome narrow = Read(RasterRun(0, 5, {}));
    EXPECT_EQ(narrow.identified, PR_OK) << narrow.error;
    EXPECT_EQ(narrow.width, 0u);
    EXPECT_EQ(narrow.height, 5u);
    EXPECT_TRUE(narrow.bits.empty());
    // A run of no bytes at byte 3 still makes the picture 24 dots wide.
    ReadOutcome offset = Read(RasterRun(3, 5, {}));
    EXPECT_EQ(offset.identified, PR_OK);
    EXPECT_EQ(offset.width, 24u);
    EXPECT_EQ(offset.bits, Bytes(15, 0x00));

    // Ten runs of 255 bytes x 65535 rows: 167 MB of picture, refused before
    // anything is allocated.
    Bytes wide;
    for (int i = 0; i < 10; ++i)
        wide = Concat({wide, RasterRun(0, 65535, Bytes(255, 0xFF))});
    ReadOutcome huge = Read(wide);
    EXPECT_EQ(huge.identified, PR_INVALID);
    EXPECT_EQ(huge.error, PictureTooLargeMessage(2040, 655350));

    // Runs of no bytes add rows past 32 bits: 65537 x 65535 rows.
    Bytes tall;
    const Bytes longEmptyRun = RasterRun(0, 65535, {});
    for (int i = 0; i < 65537; ++i)
        tall.insert(tall.end(), longEmptyRun.begin(), longEmptyRun.end());
    const Bytes last = RasterRun(0, 1, {0x80});
    tall.insert(tall.end(), last.begin(), last.end());
    ReadOutcome wrapped = Read(tall);
    EXPECT_EQ(wrapped.identified, PR_INVALID);
    EXPECT_EQ(wrapped.error, PictureTooLargeMessage(8, 65537ull * 65535 + 1));
}

TEST(RasterGfxExtRoundTrip, RandomPicturesOfAwkwardSizesReadBackUnchanged)
{
    const struct {
        uint32_t width, height;
        double density;
    } cases[] = {{1, 1, 1.0}, {7, 5, 0.5}, {13, 40, 0.05}, {100, 3, 0.5}, {250, 17, 0.01}, {2040, 9, 0.3}, {33, 300, 0.002}};
    uint32_t seed = 21;
    for (const auto& c : cases) {
        Bytes bits = RandomPicture(c.width, c.height, c.density, seed++);
        bits[0] |= 0x80;  // at least one black dot, so the file has a run
        // Repeated rows exercise the run counts.
        if (c.height > 2)
            std::copy(bits.begin(), bits.begin() + BytesPerRow(c.width), bits.begin() + BytesPerRow(c.width));
        EncodeOutcome written = EncodeBits<RasterGfxExtFile>(c.width, c.height, bits);
        ASSERT_TRUE(written.result == PR_OK || written.result == PR_SIZE_ADJUSTED);
        ReadOutcome read = Read(written.bytes);
        ASSERT_EQ(read.identified, PR_OK) << c.width << " x " << c.height << ": " << read.error;
        EXPECT_LE(read.width, written.width);
        EXPECT_EQ(read.height, c.height);
        EXPECT_TRUE(SameDots(read.bits, read.width, read.height, bits, c.width, c.height))
            << c.width << " x " << c.height;
    }
}

TEST(RasterGfxExtRobustness, MutationSweepOverSmallValidFiles)
{
    const Bytes handMade = testing_support::ReadFileBytes(testing_support::TestDataPath("raster_gfx_ext/good/all-commands.gfx"));
    ReadOutcome valid = Read(handMade);
    ASSERT_EQ(valid.identified, PR_OK) << valid.error;
    EXPECT_EQ(valid.width, 48u);
    EXPECT_EQ(valid.height, 37u);
    MutationSweep<RasterGfxExtFile>(handMade);
    Bytes bits = RandomPicture(30, 12, 0.3, 8);
    MutationSweep<RasterGfxExtFile>(EncodeBits<RasterGfxExtFile>(30, 12, bits).bytes);
}
