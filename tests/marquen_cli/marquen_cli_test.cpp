// marquen-cli as a script sees it: exit status, standard output and error,
// and the bytes of the files it writes.
#include "picture_loader.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace {

using testing_support::ReadFileBytes;
using testing_support::RunOptions;
using testing_support::RunProgram;
using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

// Runs the built marquen-cli with args.
RunResult RunCli(const std::vector<std::string>& args, RunOptions options = {})
{
    return RunProgram(MARQUEN_CLI_PATH, args, std::move(options));
}

struct Picture {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> bits;

    bool Dot(uint32_t x, uint32_t y) const
    {
        if (x >= width || y >= height)
            return false;
        return (bits[y * BytesPerRow(width) + x / 8] & (0x80u >> (x % 8))) != 0;
    }
};

// A picture whose bytes avoid every format's signature bytes (no 0x11, and
// each 8-row group is constant down a column, so the column-order formats
// only hold 0x00 and 0xFF): the file is then found as the format it is.
Picture PatternPicture(uint32_t width, uint32_t height)
{
    static constexpr std::array<uint8_t, 6> kBytes{0x00, 0xFF, 0xF0, 0x0F, 0x3C, 0x81};
    Picture picture{width, height, {}};
    uint32_t rowBytes = BytesPerRow(width);
    picture.bits.resize(static_cast<size_t>(rowBytes) * height);
    for (uint32_t r = 0; r < height; ++r) {
        for (uint32_t j = 0; j < rowBytes; ++j)
            picture.bits[r * rowBytes + j] = kBytes[(r / 8 + j) % kBytes.size()];
        if (width % 8 != 0)
            picture.bits[r * rowBytes + rowBytes - 1] &= static_cast<uint8_t>(0xFF00u >> (width % 8));
    }
    return picture;
}

// What the library's writer puts in a file of type for picture.
std::vector<uint8_t> Encoded(PictureType type, const Picture& picture)
{
    std::unique_ptr<PictureFile> file = CreatePictureFile(type, std::string());
    file->SetPicture(picture.bits);
    uint32_t width = picture.width;
    uint32_t height = picture.height;
    std::string error;
    std::vector<uint8_t> bytes;
    PictureResult result = file->Encode(width, height, error, bytes);
    EXPECT_TRUE(result == PR_OK || result == PR_SIZE_ADJUSTED) << error;
    return bytes;
}

Picture Decoded(const std::filesystem::path& path)
{
    LoadedPicture loaded = LoadPictureFile(path.string());
    if (loaded.outcome != LoadOutcome::Loaded) {
        ADD_FAILURE() << "cannot read " << path << ": " << loaded.error;
        return {};
    }
    std::span<const uint8_t> bits = loaded.picture->Bits();
    return Picture{loaded.picture->Width(), loaded.picture->Height(), {bits.begin(), bits.end()}};
}

constexpr std::array<PictureType, kPictureTypeCount> kAllTypes{BITMAP, EPSON_GFX, LOGO, RASTER_GFX, RASTER_GFX_EXT};

std::string Expected(PictureType type, uint32_t width, uint32_t height, uintmax_t size)
{
    return std::string("type: ") + PictureTypeDisplayString(type) + "\nwidth: " + std::to_string(width) +
           "\nheight: " + std::to_string(height) + "\nsize: " + std::to_string(size) + "\n";
}

TEST(MarquenCliInfo, PrintsTypeWidthHeightAndFileSizeForEveryFormat)
{
    TempDir scratch;
    // 64 x 48: a multiple of 8 and of 24, so no format rounds it.
    Picture picture = PatternPicture(64, 48);
    for (PictureType type : kAllTypes) {
        SCOPED_TRACE(PictureTypeDisplayString(type));
        std::filesystem::path file = scratch / (std::string("picture-") + PictureTypeEnumeratorName(type));
        WriteFileBytes(file, Encoded(type, picture));
        RunResult run = RunCli({"info", file.string()});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, Expected(type, 64, 48, std::filesystem::file_size(file)));
        EXPECT_EQ(run.err, "");
    }
}

TEST(MarquenCliConvert, WritesEveryTypeAndConvertsBackToTheSameBitmap)
{
    TempDir scratch;
    Picture picture = PatternPicture(64, 48);
    std::filesystem::path input = scratch / "input.bmp";
    std::vector<uint8_t> inputBytes = Encoded(BITMAP, picture);
    WriteFileBytes(input, inputBytes);

    for (PictureType type : kAllTypes) {
        SCOPED_TRACE(PictureTypeDisplayString(type));
        // Both spellings of a type, in a case of their own.
        for (std::string name : {std::string(PictureTypeDisplayString(type)), std::string(PictureTypeEnumeratorName(type))}) {
            for (char& c : name)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            std::filesystem::path output = scratch / "output";
            RunResult run = RunCli({"convert", input.string(), output.string(), "--type", name});
            ASSERT_EQ(run.status, 0) << run.err;
            EXPECT_EQ(run.out, "");
            EXPECT_EQ(run.err, "");
            EXPECT_EQ(ReadFileBytes(output), Encoded(type, picture));

            std::filesystem::path back = scratch / "back.bmp";
            run = RunCli({"convert", output.string(), back.string(), "--type", "BITMAP"});
            ASSERT_EQ(run.status, 0) << run.err;
            EXPECT_EQ(ReadFileBytes(back), inputBytes);
        }
    }
}

TEST(MarquenCliConvert, LogoBytesOfASingleDot)
{
    TempDir scratch;
    Picture dot{8, 8, std::vector<uint8_t>(8, 0)};
    dot.bits[0] = 0x80;
    std::filesystem::path input = scratch / "dot.bmp";
    WriteFileBytes(input, Encoded(BITMAP, dot));
    std::filesystem::path output = scratch / "dot.log";
    RunResult run = RunCli({"convert", input.string(), output.string(), "--type", "LOGO"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ReadFileBytes(output),
              (std::vector<uint8_t>{0x1D, 0x2A, 0x01, 0x01, 0x80, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(MarquenCliConvert, SizeAdjustmentWritesTheFileReportsAndSucceeds)
{
    TempDir scratch;
    std::filesystem::path input = scratch / "odd.bmp";
    WriteFileBytes(input, Encoded(BITMAP, PatternPicture(100, 30)));

    std::filesystem::path logo = scratch / "odd.log";
    RunResult run = RunCli({"convert", input.string(), logo.string(), "--type", "LOGO"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "Picture Width & Height have been adjusted to be compatible with selected output format\n");
    EXPECT_EQ(std::filesystem::file_size(logo), 4u + 104u * 32u / 8u);
    run = RunCli({"info", logo.string()});
    EXPECT_EQ(run.out, Expected(LOGO, 104, 32, 420));

    std::filesystem::path raster = scratch / "odd.gfx";
    run = RunCli({"convert", input.string(), raster.string(), "--type", "raster gfx"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "Picture Width has been adjusted to be compatible with selected output format\n");
    EXPECT_EQ(std::filesystem::file_size(raster), 30u * 14u);

    std::filesystem::path epson = scratch / "odd-epson.gfx";
    run = RunCli({"convert", input.string(), epson.string(), "--type", "EPSON GFX"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "Picture Height has been adjusted to be compatible with selected output format\n");
    EXPECT_TRUE(std::filesystem::exists(epson));
}

TEST(MarquenCliConvert, WindowOptionsIncludingNegativeOffsets)
{
    TempDir scratch;
    Picture source = PatternPicture(64, 48);
    std::filesystem::path input = scratch / "source.bmp";
    WriteFileBytes(input, Encoded(BITMAP, source));

    struct Case {
        int offsetX, offsetY;
        uint32_t width, height;
    };
    for (Case c : {Case{8, 8, 16, 8}, Case{3, 5, 21, 13}, Case{-8, -5, 40, 30}, Case{-3, 0, 64, 48},
                   Case{60, 40, 16, 16}, Case{-500, 500, 8, 8}}) {
        SCOPED_TRACE(testing::Message() << "offsets " << c.offsetX << "," << c.offsetY << " size " << c.width
                                        << "x" << c.height);
        std::filesystem::path output = scratch / "window.bmp";
        RunResult run = RunCli({"convert", input.string(), output.string(), "--type", "BITMAP", "--width",
                                std::to_string(c.width), "--height=" + std::to_string(c.height), "--offset-x",
                                std::to_string(c.offsetX), "--offset-y", std::to_string(c.offsetY)});
        ASSERT_EQ(run.status, 0) << run.err;
        Picture window = Decoded(output);
        ASSERT_EQ(window.width, c.width);
        ASSERT_EQ(window.height, c.height);
        // A negative offset puts white columns/rows before source column/row 0.
        for (uint32_t y = 0; y < c.height; ++y) {
            for (uint32_t x = 0; x < c.width; ++x) {
                int64_t sx = c.offsetX + static_cast<int64_t>(x);
                int64_t sy = c.offsetY + static_cast<int64_t>(y);
                bool expected = sx >= 0 && sy >= 0 && source.Dot(static_cast<uint32_t>(sx), static_cast<uint32_t>(sy));
                ASSERT_EQ(window.Dot(x, y), expected) << "dot " << x << "," << y;
            }
        }
    }
}

TEST(MarquenCliFailures, UnreadableInputsExitOneWithTheMessage)
{
    TempDir scratch;
    std::filesystem::path text = scratch / "notes.txt";
    WriteFileBytes(text, {'h', 'e', 'l', 'l', 'o', '\n'});
    RunResult run = RunCli({"info", text.string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Picture type not supported.\n");
    EXPECT_EQ(run.out, "");
    std::filesystem::path output = scratch / "out.log";
    run = RunCli({"convert", text.string(), output.string(), "--type", "LOGO"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Picture type not supported.\n");
    EXPECT_FALSE(std::filesystem::exists(output));

    std::filesystem::path missing = scratch / "missing.bmp";
    run = RunCli({"info", missing.string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Error - File Open : " + missing.string() + "\n");

    // A colour bitmap goes to the picture import, no other format is tried:
    // this one claims 24 bits but holds too few bytes for them.
    std::vector<uint8_t> colour = Encoded(BITMAP, PatternPicture(8, 8));
    colour[28] = 24;
    std::filesystem::path colourFile = scratch / "colour.bmp";
    WriteFileBytes(colourFile, colour);
    run = RunCli({"info", colourFile.string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.rfind("Error - Picture cannot be read: ", 0), 0u) << run.err;
    EXPECT_EQ(run.out, "");
}

TEST(MarquenCliFailures, FailedWriteKeepsTheExistingOutput)
{
    TempDir scratch;
    std::filesystem::path input = scratch / "big.bmp";
    WriteFileBytes(input, Encoded(BITMAP, PatternPicture(256, 96)));
    std::filesystem::path output = scratch / "kept.gfx";
    const std::vector<uint8_t> precious{'k', 'e', 'e', 'p', ' ', 'm', 'e'};
    WriteFileBytes(output, precious);
    size_t filesBefore = std::distance(std::filesystem::directory_iterator(scratch.path()),
                                       std::filesystem::directory_iterator());

    // The encoded picture is far beyond 512 bytes: the write comes up short.
    RunResult run =
        RunCli({"convert", input.string(), output.string(), "--type", "RASTER_GFX"}, RunOptions{.fileSizeLimit = 512});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Error - File Write\n");
    EXPECT_EQ(ReadFileBytes(output), precious);
    // No half-written temporary file is left beside it.
    size_t filesAfter = std::distance(std::filesystem::directory_iterator(scratch.path()),
                                      std::filesystem::directory_iterator());
    EXPECT_EQ(filesAfter, filesBefore);

    std::filesystem::path nowhere = scratch / "no-such-folder" / "out.gfx";
    run = RunCli({"convert", input.string(), nowhere.string(), "--type", "RASTER_GFX"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Error - File Open : " + nowhere.string() + "\n");
}

TEST(MarquenCliArguments, BadArgumentsExitTwoWithUsageAndTouchNothing)
{
    TempDir scratch;
    std::filesystem::path input = scratch / "in.bmp";
    WriteFileBytes(input, Encoded(BITMAP, PatternPicture(16, 16)));
    const std::string in = input.string();
    const std::string out = (scratch / "out.bin").string();

    const std::vector<std::vector<std::string>> cases{
        {},
        {"frobnicate"},
        {"-x"},
        {"info"},
        {"info", in, "extra"},
        {"info", in, "--type", "LOGO"},
        {"convert", in, out},
        {"convert", in, "--type", "LOGO"},
        {"convert", in, out, "--type"},
        {"convert", in, out, "--type", "JPEG"},
        {"convert", in, out, "--type", "LOGO", "--type", "BITMAP"},
        {"convert", in, out, "--type", "LOGO", "--bogus", "1"},
        {"convert", in, out, "--type", "LOGO", "-w", "8"},
        {"convert", in, out, "--type", "LOGO", "--width", "abc"},
        {"convert", in, out, "--type", "LOGO", "--width", "12px"},
        {"convert", in, out, "--type", "LOGO", "--width", ""},
        {"convert", in, out, "--type", "LOGO", "--width", "-1"},
        {"convert", in, out, "--type", "LOGO", "--height", "65536"},
        {"convert", in, out, "--type", "LOGO", "--height", "99999999999999999999999"},
        {"convert", in, out, "--type", "LOGO", "--offset-x", "501"},
        {"convert", in, out, "--type", "LOGO", "--offset-y", "-501"},
        {"convert", in, out, "--type", "LOGO", "--offset-y"},
    };
    for (const std::vector<std::string>& args : cases) {
        std::string shown;
        for (const std::string& word : args)
            shown += "[" + word + "] ";
        SCOPED_TRACE(shown);
        RunResult run = RunCli(args);
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.err.find("Usage"), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
        EXPECT_FALSE(std::filesystem::exists(out));
    }
}

TEST(MarquenCliArguments, HelpAndVersion)
{
    RunResult run = RunCli({"--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("Usage: marquen-cli"), std::string::npos);
    EXPECT_NE(run.out.find("convert INPUT OUTPUT --type T"), std::string::npos);
    EXPECT_EQ(run.err, "");

    run = RunCli({"convert", "--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("--offset-x X"), std::string::npos);

    run = RunCli({"--version"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "marquen-cli 1.0.0\n");
}

}  // namespace
