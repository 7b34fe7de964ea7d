#include "epson_gfx_file.h"

#include "bit_transpose.h"
#include "printer_format_testing.h"
#include "test_support.h"

#include <gtest/gtest.h>

using namespace printer_format_testing;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes Repeat(uint8_t value, size_t count) { return Bytes(count, value); }

// ESC * m n followed by data.
Bytes BitImage(uint8_t mode, const Bytes& data)
{
    const size_t perColumn = mode >= 32 ? 3 : 1;
    const size_t columns = data.size() / perColumn;
    Bytes command = {0x1B, 0x2A, mode, static_cast<uint8_t>(columns & 0xFF), static_cast<uint8_t>(columns >> 8)};
    command.insert(command.end(), data.begin(), data.end());
    return command;
}

ReadOutcome Read(const Bytes& bytes) { return ReadBytes<EpsonGfxFile>(bytes); }

}  // namespace

TEST(EpsonGfxTranspose, MatchesDotByDotTranspose)
{
    std::mt19937_64 random(7);
    for (int round = 0; round < 200; ++round) {
        const uint64_t input = random();
        const uint64_t output = bit_transpose::Transpose8x8(input);
        for (unsigned i = 0; i < 8; ++i) {
            for (unsigned j = 0; j < 8; ++j) {
                const bool in = (bit_transpose::ByteOf(input, i) >> (7 - j)) & 1;
                const bool out = (bit_transpose::ByteOf(output, j) >> (7 - i)) & 1;
                ASSERT_EQ(in, out) << "byte " << i << " bit " << j;
            }
        }
        ASSERT_EQ(bit_transpose::Transpose8x8(output), input);
    }
}

TEST(EpsonGfxWrite, TenByThirtyExampleGivesBytesAdjustedHeightAndReadsBackTaller)
{
    // 10 x 30: the first 5 rows white, the others black over the full width.
    Bytes bits(2 * 30, 0);
    for (uint32_t y = 5; y < 30; ++y) {
        bits[2 * y] = 0xFF;
        bits[2 * y + 1] = 0xC0;
    }
    EncodeOutcome written = EncodeBits<EpsonGfxFile>(10, 30, bits);
    ASSERT_EQ(written.result, PR_SIZE_ADJUSTED);
    EXPECT_EQ(written.error, "Picture Height has been adjusted to be compatible with selected output format");
    EXPECT_EQ(written.width, 10u);
    EXPECT_EQ(written.height, 48u);
    EXPECT_EQ(written.objectHeight, 48u);

    Bytes firstBand = Concat({{0x1B, 0x2A, 0x21, 0x0A, 0x00}, Repeat(0xFF, 30), {0x0A}});
    Bytes secondBand = {0x1B, 0x2A, 0x21, 0x0A, 0x00};
    for (int c = 0; c < 10; ++c)
        secondBand.insert(secondBand.end(), {0x80, 0x00, 0x00});
    secondBand.push_back(0x0A);
    EXPECT_EQ(written.bytes, Concat({{0x1B, 0x4A, 0x05}, firstBand, secondBand}));

    ReadOutcome read = Read(written.bytes);
    ASSERT_EQ(read.identified, PR_OK) << read.error;
    EXPECT_EQ(read.width, 10u);
    EXPECT_EQ(read.height, 53u);
    EXPECT_TRUE(SameDots(read.bits, read.width, read.height, bits, 10, 30));
}

TEST(EpsonGfxWrite, ColumnsFiveToSevenStartWithPositionAndKeepHeight)
{
    Bytes bits(24, 0x07);  // 8 x 24, columns 5..7 black
    EncodeOutcome written = EncodeBits<EpsonGfxFile>(8, 24, bits);
    ASSERT_EQ(written.result, PR_OK);
    EXPECT_EQ(written.height, 24u);
    EXPECT_EQ(written.bytes,
              Concat({{0x1B, 0x24, 0x05, 0x00, 0x1B, 0x2A, 0x21, 0x03, 0x00}, Repeat(0xFF, 9), {0x0A}}));
}

TEST(EpsonGfxWrite, RunsAfterBlankColumnsArePositionedAndBlankBandsAreBareLineFeeds)
{
    // 20 x 48: columns 0 and 17..18 black in the first band, and only a dot
    // beyond the width (padding bit) in the second: that row is not blank, so
    // its band is written, as a bare line feed.
    Bytes bits(3 * 48, 0);
    for (uint32_t y = 0; y < 24; ++y) {
        SetDot(bits, 20, 0, y);
        SetDot(bits, 20, 17, y);
        SetDot(bits, 20, 18, y);
    }
    bits[3 * 30 + 2] = 0x01;  // column 23, beyond the width of 20
    EncodeOutcome written = EncodeBits<EpsonGfxFile>(20, 48, bits);
    ASSERT_EQ(written.result, PR_OK);
    Bytes expected = Concat({{0x1B, 0x2A, 0x21, 0x01, 0x00, 0xFF, 0xFF, 0xFF},
                             {0x1B, 0x24, 17, 0x00, 0x1B, 0x2A, 0x21, 0x02, 0x00},
                             Repeat(0xFF, 6),
                             {0x0A},
                             {0x1B, 0x4A, 6, 0x0A}});
    EXPECT_EQ(written.bytes, expected);
}

TEST(EpsonGfxWrite, BlankPicturesGiveEmptyFilesAndLongGapsSplitFeeds)
{
    Bytes white(2 * 25, 0);
    EncodeOutcome written = EncodeBits<EpsonGfxFile>(16, 25, white);
    EXPECT_EQ(written.result, PR_SIZE_ADJUSTED);
    EXPECT_EQ(written.height, 48u);
    EXPECT_TRUE(written.bytes.empty());

    EncodeOutcome none = EncodeBits<EpsonGfxFile>(16, 0, {});
    EXPECT_EQ(none.result, PR_OK);
    EXPECT_TRUE(none.bytes.empty());

    // 300 blank rows then one black dot at column 0.
    Bytes gap(301, 0);
    gap[300] = 0x80;
    EncodeOutcome fed = EncodeBits<EpsonGfxFile>(8, 301, gap);
    ASSERT_EQ(fed.result, PR_SIZE_ADJUSTED);
    EXPECT_EQ(fed.height, 312u);
    ASSERT_GE(fed.bytes.size(), 6u);
    EXPECT_EQ(Bytes(fed.bytes.begin(), fed.bytes.begin() + 6), Bytes({0x1B, 0x4A, 0xFF, 0x1B, 0x4A, 0x2D}));
    EXPECT_EQ(Bytes(fed.bytes.begin() + 6, fed.bytes.end()), Bytes({0x1B, 0x2A, 0x21, 0x01, 0x00, 0x80, 0x00, 0x00, 0x0A}));
}

TEST(EpsonGfxWrite, WidestExpressiblePictureAndRefusals)
{
    // A dot in the last column the 16-bit position can reach.
    Bytes bits(BytesPerRow(65535) * 24, 0);
    SetDot(bits, 65535, 65534, 0);
    EncodeOutcome widest = EncodeBits<EpsonGfxFile>(65535, 24, bits);
    ASSERT_EQ(widest.result, PR_OK);
    EXPECT_EQ(widest.bytes, Bytes({0x1B, 0x24, 0xFE, 0xFF, 0x1B, 0x2A, 0x21, 0x01, 0x00, 0x80, 0x00, 0x00, 0x0A}));

    EncodeOutcome tooWide = EncodeBits<EpsonGfxFile>(65536, 1, Bytes(BytesPerRow(65536), 0xFF));
    EXPECT_EQ(tooWide.result, PR_INVALID);
    EXPECT_EQ(tooWide.error, "Error - Picture too wide for Epson Graphics (at most 65535 dots)");
    EXPECT_TRUE(tooWide.bytes.empty());

    EncodeOutcome shortBits = EncodeBits<EpsonGfxFile>(16, 24, Bytes(47, 0xFF));
    EXPECT_EQ(shortBits.result, PR_INVALID);
    EXPECT_EQ(shortBits.error, picture_messages::kPictureSmallerThanSize);
}

TEST(EpsonGfxIdentify, SignatureMustStartInTheFirst128Bytes)
{
    const Bytes band = Concat({BitImage(33, {0xFF, 0, 0}), {0x0A}});
    Bytes at127 = Concat({Repeat(0x00, 127), band});
    ReadOutcome found = Read(at127);
    ASSERT_EQ(found.identified, PR_OK) << found.error;
    EXPECT_EQ(found.width, 1u);
    EXPECT_EQ(found.height, 24u);
    EpsonGfxFile file("");
    file.SetRawData(at127);
    std::string error;
    ASSERT_EQ(file.Identify(error), PR_OK);
    EXPECT_EQ(file.SignaturePosition(), 127u);

    ReadOutcome missed = Read(Concat({Repeat(0x00, 128), band}));
    EXPECT_EQ(missed.identified, PR_WRONG_FORMAT);
    EXPECT_EQ(missed.error, "Error - File Format is not Epson Graphics (1B 2A)");

    EXPECT_EQ(Read({0x1B}).identified, PR_WRONG_FORMAT);
    EXPECT_EQ(Read({}).identified, PR_WRONG_FORMAT);
    EpsonGfxFile empty("");
    EXPECT_EQ(empty.Identify(error), PR_NO_DATA);
}

TEST(EpsonGfxIdentify, FeedsAndReturnsMoveTheCursorAsTheCommandTableSays)
{
    const Bytes image = BitImage(33, {0xFF, 0xFF, 0xFF});
    // 0A 0D is one line feed; 0D 0A is a carriage return then a line feed.
    EXPECT_EQ(Read(Concat({image, {0x0A, 0x0D}})).height, 24u);
    EXPECT_EQ(Read(Concat({image, {0x0D, 0x0A}})).height, 24u);
    EXPECT_EQ(Read(Concat({image, {0x0A, 0x0D, 0x0A}})).height, 48u);
    EXPECT_EQ(Read(Concat({image, {0x0A, 0x0A, 0x0D}})).height, 48u);
    // A form feed after a line feed moves nothing; after a bit image, 24 rows.
    EXPECT_EQ(Read(Concat({image, {0x0A, 0x0C}})).height, 24u);
    EXPECT_EQ(Read(Concat({image, {0x0C}})).height, 24u);
    // ESC 3 changes nothing; ESC J 10 moves the next band down 10 rows; 15 n
    // feeds n rows; GS b and unknown ESC b are skipped with their argument.
    ReadOutcome moved = Read(Concat({{0x1B, 0x33, 0x0A, 0x1B, 0x4A, 0x0A, 0x15, 0x02, 0x1D, 0x0A, 0x1B, 0x40}, image, {0x0A}}));
    ASSERT_EQ(moved.identified, PR_OK);
    EXPECT_EQ(moved.height, 36u);
    EXPECT_FALSE(Dot(moved.bits, 1, 36, 0, 11));
    EXPECT_TRUE(Dot(moved.bits, 1, 36, 0, 12));
    EXPECT_TRUE(Dot(moved.bits, 1, 36, 0, 35));
}

TEST(EpsonGfxDecode, ModesDrawTheirDotShapesAndAdvance)
{
    // Mode 0 (10 columns, 2 dots wide) then mode 1 (10 columns) on one band.
    Bytes mode0(10, 0x00);
    mode0[9] = 0x01;  // last column, printer dot 7: rows 21..23, columns 18..19
    Bytes mode1(10, 0x00);
    mode1[0] = 0x80;  // first column, printer dot 0: rows 0..2, column 20
    ReadOutcome mixed = Read(Concat({BitImage(0, mode0), BitImage(1, mode1), {0x0A}}));
    ASSERT_EQ(mixed.identified, PR_OK) << mixed.error;
    EXPECT_EQ(mixed.width, 30u);
    EXPECT_EQ(mixed.height, 24u);
    Bytes expected(BytesPerRow(30) * 24, 0);
    for (uint32_t y = 21; y < 24; ++y) {
        SetDot(expected, 30, 18, y);
        SetDot(expected, 30, 19, y);
    }
    for (uint32_t y = 0; y < 3; ++y)
        SetDot(expected, 30, 20, y);
    EXPECT_EQ(mixed.bits, expected);

    // Mode 1 at x = 0: 0x80 blacks rows 0, 1 and 2 of column 0 only.
    ReadOutcome tall = Read(Concat({BitImage(1, {0x80}), {0x0A}}));
    ASSERT_EQ(tall.identified, PR_OK);
    Bytes column0(24, 0);
    column0[0] = column0[1] = column0[2] = 0x80;
    EXPECT_EQ(tall.bits, column0);

    // Mode 32: three bytes per column (top, middle, bottom), two dots wide.
    ReadOutcome wide = Read(Concat({BitImage(32, {0x80, 0x01, 0x81}), {0x0A}}));
    ASSERT_EQ(wide.identified, PR_OK);
    EXPECT_EQ(wide.width, 2u);
    Bytes shape(24, 0);
    shape[0] = shape[15] = shape[16] = shape[23] = 0xC0;
    EXPECT_EQ(wide.bits, shape);
}

TEST(EpsonGfxDecode, UnalignedPositionsAndOverlappingBandsAreOred)
{
    // ESC $ 3 then 9 columns in mode 33, and another image over it at x = 0.
    Bytes data;
    for (int c = 0; c < 9; ++c)
        data.insert(data.end(), {static_cast<uint8_t>(0x80 >> (c % 8)), 0x00, 0x01});
    ReadOutcome read = Read(Concat({{0x1B, 0x24, 0x03, 0x00}, BitImage(33, data), {0x0D},
                                    BitImage(33, {0x00, 0x00, 0x80}), {0x0A}}));
    ASSERT_EQ(read.identified, PR_OK) << read.error;
    EXPECT_EQ(read.width, 12u);
    Bytes expected(2 * 24, 0);
    for (uint32_t c = 0; c < 9; ++c) {
        SetDot(expected, 12, 3 + c, c % 8);
        SetDot(expected, 12, 3 + c, 23);
    }
    SetDot(expected, 12, 0, 16);
    EXPECT_EQ(read.bits, expected);
}

TEST(EpsonGfxDecode, DataPastTheEndIsClippedAndBandsBelowThePictureDropped)
{
    // 4 columns declared, 2 present: the command still counts in the width
    // and the stream ends there; with no feed after it, its band lies below
    // the picture and is clipped.
    ReadOutcome cut = Read(Concat({BitImage(33, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), {0x0A},
                                   {0x1B, 0x2A, 0x21, 0x04, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}}));
    ASSERT_EQ(cut.identified, PR_OK) << cut.error;
    EXPECT_EQ(cut.width, 4u);
    EXPECT_EQ(cut.height, 24u);
    for (uint32_t y = 0; y < 24; ++y)
        EXPECT_EQ(cut.bits[y], 0xC0) << y;

    // A last band with no line feed after it lies below the picture.
    ReadOutcome unterminated = Read(Concat({BitImage(33, {0xFF, 0xFF, 0xFF}), {0x0A}, BitImage(33, {0xFF, 0xFF, 0xFF})}));
    ASSERT_EQ(unterminated.identified, PR_OK);
    EXPECT_EQ(unterminated.height, 24u);
    EXPECT_EQ(unterminated.bits, Repeat(0x80, 24));

    // A header cut short ends the stream before it.
    ReadOutcome header = Read(Concat({BitImage(33, {0xFF, 0xFF, 0xFF}), {0x0A, 0x1B, 0x2A, 0x21, 0x40}}));
    ASSERT_EQ(header.identified, PR_OK);
    EXPECT_EQ(header.width, 1u);
}

TEST(EpsonGfxIdentify, RefusesUnknownModesAndGiantSizesButNotEmptyPictures)
{
    ReadOutcome unknown = Read(Concat({BitImage(33, {1, 2, 3}), {0x0A}, {0x1B, 0x2A, 0x6D, 0x01, 0x00, 0xFF, 0xFF, 0xFF, 0x0A}}));
    EXPECT_EQ(unknown.identified, PR_INVALID);
    EXPECT_EQ(unknown.error, "Error - Epson Graphics bit image mode not supported (1B 2A 6D)");

    // Bands separated by ESC J 0 never leave row 0: every one lies below the
    // measured height, which is 0. The picture is empty, not refused.
    ReadOutcome flat = Read(Concat({BitImage(33, {1, 2, 3}), {0x1B, 0x4A, 0x00}, BitImage(33, {1, 2, 3, 4, 5, 6})}));
    EXPECT_EQ(flat.identified, PR_OK) << flat.error;
    EXPECT_TRUE(flat.decoded);
    EXPECT_EQ(flat.width, 2u);
    EXPECT_EQ(flat.height, 0u);
    EXPECT_TRUE(flat.bits.empty());
    ReadOutcome narrow = Read({0x1B, 0x2A, 0x21, 0x00, 0x00, 0x0A});
    EXPECT_EQ(narrow.identified, PR_OK) << narrow.error;
    EXPECT_EQ(narrow.width, 0u);
    EXPECT_EQ(narrow.height, 24u);
    EXPECT_TRUE(narrow.bits.empty());

    // 65535 + 2 x 65535 dots wide (data missing), 4000 bands high: 24 kB rows
    // x 96000 rows is refused before anything is allocated.
    Bytes giant = Concat({BitImage(33, {1, 2, 3}), Repeat(0x0A, 4000), {0x1B, 0x24, 0xFF, 0xFF, 0x1B, 0x2A, 0x00, 0xFF, 0xFF}});
    ReadOutcome huge = Read(giant);
    EXPECT_EQ(huge.identified, PR_INVALID);
    EXPECT_EQ(huge.error, PictureTooLargeMessage(65535 + 2 * 65535, 96000));

    // A narrow picture made tall by dot feeds: 76.5 million rows.
    Bytes tall = BitImage(33, {1, 2, 3});
    for (int i = 0; i < 300000; ++i)
        tall.insert(tall.end(), {0x1B, 0x4A, 0xFF});
    ReadOutcome fed = Read(tall);
    EXPECT_EQ(fed.identified, PR_INVALID);
    EXPECT_EQ(fed.error, PictureTooLargeMessage(1, 300000ull * 255));
}

TEST(EpsonGfxRoundTrip, RandomPicturesOfAwkwardSizesReadBackUnchanged)
{
    const struct {
        uint32_t width, height;
        double density;
    } cases[] = {{1, 1, 1.0}, {7, 23, 0.5}, {9, 25, 0.3}, {33, 47, 0.05}, {100, 49, 0.5}, {257, 73, 0.02}, {64, 24, 0.9}};
    uint32_t seed = 1;
    for (const auto& c : cases) {
        Bytes bits = RandomPicture(c.width, c.height, c.density, seed++);
        EncodeOutcome written = EncodeBits<EpsonGfxFile>(c.width, c.height, bits);
        ASSERT_TRUE(written.result == PR_OK || written.result == PR_SIZE_ADJUSTED);
        EXPECT_EQ(written.height % 24, 0u);
        ReadOutcome read = Read(written.bytes);
        ASSERT_EQ(read.identified, PR_OK) << c.width << " x " << c.height << ": " << read.error;
        EXPECT_LE(read.width, c.width);
        EXPECT_TRUE(SameDots(read.bits, read.width, read.height, bits, c.width, c.height))
            << c.width << " x " << c.height;
    }
}

TEST(EpsonGfxRobustness, MutationSweepOverSmallValidStreams)
{
    const Bytes handMade = testing_support::ReadFileBytes(testing_support::TestDataPath("epson_gfx/good/all-commands.gfx"));
    ReadOutcome valid = Read(handMade);
    ASSERT_EQ(valid.identified, PR_OK) << valid.error;
    EXPECT_EQ(valid.width, 12u);
    EXPECT_EQ(valid.height, 81u);
    MutationSweep<EpsonGfxFile>(handMade);
    Bytes bits = RandomPicture(21, 30, 0.4, 99);
    MutationSweep<EpsonGfxFile>(EncodeBits<EpsonGfxFile>(21, 30, bits).bytes);
}
