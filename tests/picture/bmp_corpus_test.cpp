// Third-party bitmap files (tests/data/bmp, see its SOURCES.md): good ones
// decode, questionable ones decode correctly or are refused with a message,
// bad ones are refused; and a mutation sweep over a few small ones.
#include "bmp_file.h"

#include "picture_test_util.h"
#include "printer_format_testing.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <map>

using namespace picture_test;
using testing_support::ReadFileBytes;
using testing_support::TestDataFiles;
using testing_support::TestDataPath;

namespace {

struct Decoded {
    PictureResult result = PR_NO_DATA;
    std::string error;
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> bits;
};

// Reads a file the way the document does: Open, Identify, Decode.
Decoded Load(const std::filesystem::path& path)
{
    Decoded out;
    BmpFile file(path.string());
    out.result = file.Open(FileAccess::GenericRead, FileDisposition::OpenExisting, out.error);
    if (out.result != PR_OK)
        return out;
    out.result = file.Identify(out.error);
    if (out.result != PR_OK)
        return out;
    if (!file.Decode(out.error)) {
        out.result = PR_INVALID;
        return out;
    }
    out.width = file.Width();
    out.height = file.Height();
    out.bits = BitsOf(file);
    return out;
}

std::string Name(const std::filesystem::path& path)
{
    return path.filename().string();
}

// Dots as text, '#' black, for failure messages.
std::string Render(const Decoded& picture, uint32_t rows)
{
    std::string text;
    for (uint32_t y = 0; y < rows && y < picture.height; ++y) {
        for (uint32_t x = 0; x < picture.width; ++x)
            text += Dot(picture.bits, picture.width, x, y) ? '#' : '.';
        text += '\n';
    }
    return text;
}

}  // namespace

TEST(BmpCorpus, GoodFilesDecodeToTheirSize)
{
    const std::map<std::string, std::pair<uint32_t, uint32_t>> sizes{
        {"golang-image-bmp_1bpp.bmp", {96, 73}},  {"image-rs-Info_1_Bit.bmp", {6, 6}},
        {"pillow-badbitssize.bmp", {127, 64}},    {"pillow-baddens1.bmp", {127, 64}},
        {"pillow-baddens2.bmp", {127, 64}},       {"pillow-badfilesize.bmp", {127, 64}},
        {"pillow-badplanes.bmp", {127, 64}},      {"pillow-pal1.bmp", {127, 64}},
        {"pillow-pal1bg.bmp", {127, 64}},         {"pillow-pal1wb.bmp", {127, 64}},
    };
    const auto files = TestDataFiles("bmp/good");
    ASSERT_EQ(files.size(), sizes.size());
    for (const auto& path : files) {
        ASSERT_TRUE(sizes.count(Name(path))) << "no expectation for " << path;
        Decoded picture = Load(path);
        ASSERT_EQ(picture.result, PR_OK) << path << ": " << picture.error;
        EXPECT_EQ(picture.width, sizes.at(Name(path)).first) << path;
        EXPECT_EQ(picture.height, sizes.at(Name(path)).second) << path;
        ASSERT_EQ(picture.bits.size(), BytesPerRow(picture.width) * picture.height);
        // Neither all white nor all black.
        size_t black = 0;
        for (uint32_t y = 0; y < picture.height; ++y)
            for (uint32_t x = 0; x < picture.width; ++x)
                black += Dot(picture.bits, picture.width, x, y);
        EXPECT_GT(black, 0u) << path;
        EXPECT_LT(black, size_t{picture.width} * picture.height) << path;
    }
}

TEST(BmpCorpus, SameImageWithAnyPaletteOrderGivesTheSameDots)
{
    // The bmpsuite pictures are one image stored with black/white, white/black
    // and blue/green palettes, and with wrong values in fields the reader does
    // not use; the darker colour is black in every one.
    const Decoded reference = Load(TestDataPath("bmp/good/pillow-pal1.bmp"));
    ASSERT_EQ(reference.result, PR_OK) << reference.error;
    for (const char* name : {"good/pillow-pal1wb.bmp", "good/pillow-pal1bg.bmp", "good/pillow-badbitssize.bmp",
                             "good/pillow-baddens1.bmp", "good/pillow-baddens2.bmp", "good/pillow-badfilesize.bmp",
                             "good/pillow-badplanes.bmp", "questionable/pillow-badheadersize.bmp"}) {
        Decoded other = Load(TestDataPath(std::string("bmp/") + name));
        ASSERT_EQ(other.result, PR_OK) << name << ": " << other.error;
        EXPECT_EQ(other.bits, reference.bits) << name << "\n" << Render(other, 16);
    }
}

// One row of dots as text, '#' black.
std::string RowText(const Decoded& picture, uint32_t y)
{
    std::string text;
    for (uint32_t x = 0; x < picture.width; ++x)
        text += Dot(picture.bits, picture.width, x, y) ? '#' : '.';
    return text;
}

TEST(BmpCorpus, KnownDots)
{
    // Expected rows as an independent bitmap reader (ImageMagick) shows them.
    struct Row {
        const char* file;
        uint32_t y;
        const char* dots;
    };
    for (Row row : {
             Row{"good/pillow-pal1.bmp", 0,
                 ".#.#.###.#.#.#.#.#.#.#.#.#.#.....#.#.#.#.#.#.#.#...#...#...#.....###.###.###.###.#.#.#.#.#.#....."
                 "#.#.#.#.#.#.#.#.#.#.#.#.#.#.#."},
             Row{"good/pillow-pal1.bmp", 63,
                 "#######################.#.#.#...#######################################################.#......."
                 "###############################"},
             Row{"good/golang-image-bmp_1bpp.bmp", 40,
                 ".....................#####......................................####............................"},
             Row{"good/image-rs-Info_1_Bit.bmp", 0, "##...."},
             Row{"good/image-rs-Info_1_Bit.bmp", 2, "######"},
             Row{"questionable/pillow-eps-1.bmp", 0,
                 "#..###########################.####.#.##########..####.##.#.########.########################.######"},
             Row{"questionable/pillow-eps-1.bmp", 66,
                 ".##.#.####.##..#..###.##.##.#####.####..######.####.#.###.#.##...#..#..####..#######.##########.##.#"},
         }) {
        const Decoded picture = Load(TestDataPath(std::string("bmp/") + row.file));
        ASSERT_EQ(picture.result, PR_OK) << row.file << ": " << picture.error;
        EXPECT_EQ(RowText(picture, row.y), row.dots) << row.file << " row " << row.y;
    }
}

TEST(BmpCorpus, QuestionableFilesDecodeCorrectlyOrAreRefused)
{
    const Decoded topDown = Load(TestDataPath("bmp/questionable/image-rs-Info_1_Bit_Top_Down.bmp"));
    const Decoded bottomUp = Load(TestDataPath("bmp/good/image-rs-Info_1_Bit.bmp"));
    ASSERT_EQ(topDown.result, PR_OK) << topDown.error;
    EXPECT_EQ(topDown.height, 6u);
    EXPECT_EQ(topDown.bits, bottomUp.bits);

    // 108-byte header: palette at 122, rows at 130.
    const Decoded longHeader = Load(TestDataPath("bmp/questionable/pillow-eps-1.bmp"));
    ASSERT_EQ(longHeader.result, PR_OK) << longHeader.error;
    EXPECT_EQ(longHeader.width, 100u);
    EXPECT_EQ(longHeader.height, 67u);

    struct Refusal {
        const char* name;
        const char* message;
    };
    for (Refusal refusal : {Refusal{"image-rs-Core_1_Bit.bmp", "Error - Bmp File is not monochrome"},
                            Refusal{"pillow-badwidth.bmp", "Error - Bmp File width is not valid"},
                            Refusal{"pillow-pal1p1.bmp", "Error - Bmp File header not supported"},
                            Refusal{"pillow-shortfile.bmp", "Error - Bmp File is truncated"}}) {
        Decoded refused = Load(TestDataPath(std::string("bmp/questionable/") + refusal.name));
        EXPECT_EQ(refused.result, PR_INVALID) << refusal.name;
        EXPECT_EQ(refused.error, refusal.message) << refusal.name;
    }
    // Every questionable file has a verdict above.
    EXPECT_EQ(TestDataFiles("bmp/questionable").size(), 7u);
}

TEST(BmpCorpus, BadFilesAreRefused)
{
    const std::map<std::string, std::pair<PictureResult, std::string>> exceptions{
        {"gfx-php-ba-bm.bmp", {PR_WRONG_FORMAT, "Error - File Format is not BMP"}},
        {"gfx-php-pal1huff.bmp", {PR_INVALID, "Error - Bmp File Compression not supported"}},
    };
    const auto files = TestDataFiles("bmp/bad");
    ASSERT_FALSE(files.empty());
    for (const auto& path : files) {
        Decoded refused = Load(path);
        auto expected = std::make_pair(PR_INVALID, std::string("Error - Bmp File is not monochrome"));
        if (exceptions.count(Name(path)))
            expected = exceptions.at(Name(path));
        EXPECT_EQ(refused.result, expected.first) << path;
        EXPECT_EQ(refused.error, expected.second) << path;
    }
}

TEST(BmpCorpus, MutatedAndTruncatedFilesFailCleanlyOrDecodeToTheirSize)
{
    for (const char* name : {"good/image-rs-Info_1_Bit.bmp", "questionable/image-rs-Info_1_Bit_Top_Down.bmp",
                             "questionable/pillow-eps-1.bmp", "good/pillow-pal1.bmp"}) {
        SCOPED_TRACE(name);
        const std::vector<uint8_t> base = ReadFileBytes(TestDataPath(std::string("bmp/") + name));
        ASSERT_FALSE(base.empty());
        printer_format_testing::MutationSweep<BmpFile>(base);
    }
}
