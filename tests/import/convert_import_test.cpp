// The converter's contract for colour and grey pictures, as a script sees it:
// "type: IMAGE" from info, the import options of convert, their refusal for
// the formats that hold dots already, and failures that leave no output.
#include "picture_loader.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using testing_support::ReadFileBytes;
using testing_support::RunProgram;
using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::TestDataFiles;
using testing_support::TestDataPath;
using testing_support::WriteFileBytes;

// Runs the built marquen-cli with args.
RunResult RunCli(const std::vector<std::string>& args)
{
    return RunProgram(MARQUEN_CLI_PATH, args);
}

std::string Fixture(const std::string& name)
{
    return TestDataPath("import/good/" + name).string();
}

TEST(ConvertImport, InfoSaysImage)
{
    RunResult run = RunCli({"info", Fixture("rgb8.png")});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "type: IMAGE\nwidth: 16\nheight: 8\nsize: " +
                           std::to_string(ReadFileBytes(Fixture("rgb8.png")).size()) + "\n");
}

TEST(ConvertImport, ConvertAppliesTheImportOptionsThenTheWindow)
{
    TempDir scratch;
    const std::string output = (scratch / "out.bmp").string();
    // Left grey 124 < 150: black; right 165: white.
    RunResult run =
        RunCli({"convert", Fixture("lzw.tif"), output, "--type", "BITMAP", "--dither", "none", "--threshold", "150"});
    ASSERT_EQ(run.status, 0) << run.err;
    LoadedPicture loaded = LoadPictureFile(output);
    ASSERT_EQ(loaded.outcome, LoadOutcome::Loaded) << loaded.error;
    ASSERT_EQ(loaded.picture->Width(), 16u);
    ASSERT_EQ(loaded.picture->Height(), 8u);
    for (uint32_t y = 0; y < 8; ++y) {
        EXPECT_EQ(loaded.picture->Bits()[y * 2], 0xFF);
        EXPECT_EQ(loaded.picture->Bits()[y * 2 + 1], 0x00);
    }

    // Inverted, fitted to 8 dots (4 rows), then a window of 6 x 3 from (1, 1).
    run = RunCli({"convert", Fixture("rgb.jpg"), output, "--type", "BITMAP", "--dither", "none", "--invert",
                  "--fit-width", "8", "--width", "6", "--height", "3", "--offset-x", "1", "--offset-y", "1"});
    ASSERT_EQ(run.status, 0) << run.err;
    loaded = LoadPictureFile(output);
    ASSERT_EQ(loaded.outcome, LoadOutcome::Loaded) << loaded.error;
    EXPECT_EQ(loaded.picture->Width(), 6u);
    EXPECT_EQ(loaded.picture->Height(), 3u);
    // Source columns 1..6 of an 8-dot row: 1..2 dark (now white), 5..6 light (now black).
    EXPECT_EQ(loaded.picture->Bits()[0] & 0xCC, 0x0C);

    // Every method, brightness, contrast and gamma are taken; a printer format out.
    for (const char* method : {"ordered", "floyd-steinberg", "atkinson", "jarvis", "stucki"}) {
        run = RunCli({"convert", Fixture("palette.png"), (scratch / "out.log").string(), "--type", "LOGO", "--dither",
                      method, "--brightness", "-20", "--contrast", "30", "--gamma", "1.8"});
        EXPECT_EQ(run.status, 0) << method << ": " << run.err;
    }
}

TEST(ConvertImport, BadImportOptionsAreUsageErrors)
{
    TempDir scratch;
    const std::string output = (scratch / "out.bmp").string();
    const std::vector<std::vector<std::string>> cases{
        {"--dither", "floyd"},
        {"--threshold", "128"},  // belongs to --dither none
        {"--dither", "none", "--threshold", "257"},
        {"--fit-width", "0"},
        {"--brightness", "300"},
        {"--contrast", "-101"},
        {"--gamma", "0"},
        {"--gamma", "fast"},
        {"--invert=yes"},
    };
    for (const std::vector<std::string>& options : cases) {
        std::vector<std::string> words{"convert", Fixture("rgb8.png"), output, "--type", "BITMAP"};
        words.insert(words.end(), options.begin(), options.end());
        RunResult run = RunCli(words);
        EXPECT_EQ(run.status, 2) << options[0];
        EXPECT_NE(run.err.find("Usage:"), std::string::npos) << run.err;
        EXPECT_FALSE(std::filesystem::exists(output));
    }
}

TEST(ConvertImport, DotFormatsPassThroughAndRefuseImportOptions)
{
    TempDir scratch;
    const std::string output = (scratch / "out.bmp").string();
    for (const std::filesystem::path& input : TestDataFiles("bmp/good")) {
        LoadedPicture before = LoadPictureFile(input.string());
        if (before.outcome != LoadOutcome::Loaded)
            continue;
        SCOPED_TRACE(input.string());
        RunResult run = RunCli({"convert", input.string(), output, "--type", "BITMAP"});
        ASSERT_EQ(run.status, 0) << run.err;
        LoadedPicture after = LoadPictureFile(output);
        ASSERT_EQ(after.outcome, LoadOutcome::Loaded);
        EXPECT_EQ(after.picture->Width(), before.picture->Width());
        EXPECT_EQ(after.picture->Height(), before.picture->Height());
        EXPECT_TRUE(std::ranges::equal(after.picture->Bits(), before.picture->Bits()));
        std::filesystem::remove(output);

        run = RunCli({"convert", input.string(), output, "--type", "BITMAP", "--dither", "atkinson"});
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.err.find("--dither applies to colour and grey pictures only"), std::string::npos) << run.err;
        EXPECT_FALSE(std::filesystem::exists(output));
    }
}

TEST(ConvertImport, DamagedPictureFailsAndLeavesNoOutput)
{
    TempDir scratch;
    std::vector<uint8_t> whole = ReadFileBytes(Fixture("rgb.jpg"));
    WriteFileBytes(scratch / "cut.jpg", std::vector<uint8_t>(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(whole.size() / 2)));
    const std::string output = (scratch / "out.bmp").string();
    RunResult run = RunCli({"convert", (scratch / "cut.jpg").string(), output, "--type", "BITMAP"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.rfind("Error - Picture cannot be", 0), 0u) << run.err;
    EXPECT_FALSE(std::filesystem::exists(output));
    run = RunCli({"info", (scratch / "cut.jpg").string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.out.empty());
}

}  // namespace
