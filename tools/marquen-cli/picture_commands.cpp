// info and convert: reading a picture file the way the program's document
// does (the five formats in their fixed order), cutting a window of it and
// writing the window in another format.
#include "command.h"
#include "picture_loader.h"

#include <array>
#include <cstdint>
#include <string>

namespace cli {

namespace {

// The program's own page lets offsets run from -500 to 500; the window is cut
// with them as 32-bit wrapping unsigned values, so -8 means 8 white columns.
constexpr int64_t kMinOffset = -500;
constexpr int64_t kMaxOffset = 500;
// Explicit sizes are capped only to catch typing slips: no printer format
// holds more than 16-bit counts. The default (the input's size) is not capped.
constexpr int64_t kMaxExplicitSize = 65535;

// Prints the reason a file could not be read; false when there is one.
bool Loaded(const LoadedPicture& loaded, std::ostream& err)
{
    if (loaded.outcome == LoadOutcome::Loaded && loaded.picture)
        return true;
    if (loaded.outcome == LoadOutcome::NotSupported)
        err << kPictureTypeNotSupported << '\n';
    else if (!loaded.error.empty())
        err << loaded.error << '\n';
    else
        err << "Error - the picture cannot be read\n";
    return false;
}

constexpr std::array<std::string_view, 1> kInfoOperands{"FILE"};

int RunInfo(const ParsedArguments& args, CommandStreams& streams)
{
    LoadedPicture loaded = LoadPictureFile(args.Positionals()[0]);
    if (!Loaded(loaded, streams.err))
        return kExitFailure;
    const PictureFile& picture = *loaded.picture;
    // Decode released the raw bytes, but Size() still holds the count Open read.
    streams.out << "type: " << PictureTypeDisplayString(picture.Type()) << '\n'
                << "width: " << picture.Width() << '\n'
                << "height: " << picture.Height() << '\n'
                << "size: " << picture.Size() << '\n';
    return kExitOk;
}

constexpr std::array<std::string_view, 2> kConvertOperands{"INPUT", "OUTPUT"};
constexpr std::array<OptionSpec, 5> kConvertOptions{{
    {"type", "T"},
    {"width", "W"},
    {"height", "H"},
    {"offset-x", "X"},
    {"offset-y", "Y"},
}};

int RunConvert(const ParsedArguments& args, CommandStreams& streams)
{
    // Every argument is judged before any file is touched.
    std::optional<std::string> typeName = args.Value("type");
    if (!typeName)
        throw UsageError("missing --type T");
    std::optional<PictureType> type = ParsePictureType(*typeName);
    if (!type)
        throw UsageError("unknown picture type '" + *typeName + "'");
    std::optional<int64_t> width = args.Integer("width", 0, kMaxExplicitSize);
    std::optional<int64_t> height = args.Integer("height", 0, kMaxExplicitSize);
    int64_t offsetX = args.Integer("offset-x", kMinOffset, kMaxOffset).value_or(0);
    int64_t offsetY = args.Integer("offset-y", kMinOffset, kMaxOffset).value_or(0);
    const std::string& inputPath = args.Positionals()[0];
    const std::string& outputPath = args.Positionals()[1];

    LoadedPicture loaded = LoadPictureFile(inputPath);
    if (!Loaded(loaded, streams.err))
        return kExitFailure;
    const PictureFile& input = *loaded.picture;

    std::string error;
    std::unique_ptr<PictureFile> window = CreatePictureFile(*type, std::string());
    uint32_t windowWidth = width ? static_cast<uint32_t>(*width) : input.Width();
    uint32_t windowHeight = height ? static_cast<uint32_t>(*height) : input.Height();
    PictureResult result = window->ExtractWindow(
        input.Width(), input.Height(), static_cast<uint32_t>(static_cast<int32_t>(offsetX)),
        static_cast<uint32_t>(static_cast<int32_t>(offsetY)), windowWidth, windowHeight, input.Bits(), error);
    if (result != PR_OK) {
        streams.err << error << '\n';
        return kExitFailure;
    }

    // The writer replaces OUTPUT only once the whole file is on disk, so a
    // failure leaves an existing OUTPUT as it was.
    std::unique_ptr<PictureFile> output = CreatePictureFile(*type, outputPath);
    result = output->Open(FileAccess::GenericWrite, FileDisposition::CreateAlways, error);
    if (result != PR_OK) {
        streams.err << error << '\n';
        return kExitFailure;
    }
    output->SetPicture(window->Bits().data(), window->Size());
    uint32_t writtenWidth = windowWidth;
    uint32_t writtenHeight = windowHeight;
    result = output->Write(writtenWidth, writtenHeight, error);
    if (result == PR_OK)
        return kExitOk;
    streams.err << error << '\n';
    return result == PR_SIZE_ADJUSTED ? kExitOk : kExitFailure;
}

constexpr std::array<Command, 2> kPictureCommands{{
    {"info", "FILE", "Print the type, width, height and raw size of a picture file.",
     CommandSyntax{kInfoOperands, {}}, RunInfo},
    {"convert", "INPUT OUTPUT --type T [--width W] [--height H] [--offset-x X] [--offset-y Y]",
     "Cut a window of INPUT (default: all of it; offsets -500..500) and write it to OUTPUT in type T.",
     CommandSyntax{kConvertOperands, kConvertOptions}, RunConvert},
}};

}  // namespace

std::span<const Command> PictureCommands()
{
    return kPictureCommands;
}

}  // namespace cli
