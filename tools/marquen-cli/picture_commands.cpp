// info and convert: reading a picture file the way the program's document
// does (the five formats in their fixed order), or importing a colour or grey
// picture (PNG, JPEG, GIF, WebP, TIFF, any other bitmap) as dots, cutting a
// window of it and writing the window in another format.
#include "command.h"
#include "image_import.h"
#include "picture_loader.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <string>
#include <vector>

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
    if (std::optional<std::vector<uint8_t>> bytes = ImportableFileBytes(args.Positionals()[0])) {
        // Decoded in full, so a damaged file is reported here too.
        ImportedPicture imported;
        std::string error;
        if (!ImportPicture(*bytes, ImportOptions{}, imported, error)) {
            streams.err << error << '\n';
            return kExitFailure;
        }
        streams.out << "type: IMAGE\n"
                    << "width: " << imported.width << '\n'
                    << "height: " << imported.height << '\n'
                    << "size: " << bytes->size() << '\n';
        return kExitOk;
    }
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
constexpr std::array<OptionSpec, 12> kConvertOptions{{
    {"type", "T"},
    {"width", "W"},
    {"height", "H"},
    {"offset-x", "X"},
    {"offset-y", "Y"},
    {"dither", "METHOD"},
    {"threshold", "N"},
    {"invert", ""},
    {"fit-width", "N"},
    {"brightness", "B"},
    {"contrast", "C"},
    {"gamma", "G"},
}};
constexpr std::string_view kImportOptionNames[] = {"dither",     "threshold", "invert", "fit-width",
                                                   "brightness", "contrast",  "gamma"};
// A fitted width beyond any printer's but within what the formats can hold.
constexpr int64_t kMaxFitWidth = 65535;

double ParseGamma(const ParsedArguments& args)
{
    std::optional<std::string> text = args.Value("gamma");
    if (!text)
        return 1.0;
    double value = 0.0;
    const char* last = text->data() + text->size();
    auto [end, problem] = std::from_chars(text->data(), last, value);
    if (problem != std::errc() || end != last || !(value >= kMinGamma && value <= kMaxGamma))
        throw UsageError("--gamma must be a number in 0.1..10, not '" + *text + "'");
    return value;
}

// The import options as given; UsageError for a bad value or a threshold
// without the method it belongs to.
ImportOptions ParseImportOptions(const ParsedArguments& args)
{
    ImportOptions options;
    if (std::optional<std::string> method = args.Value("dither")) {
        std::optional<DitherMethod> parsed = ParseDitherMethod(*method);
        if (!parsed) {
            throw UsageError("unknown dithering method '" + *method +
                             "' (none, ordered, floyd-steinberg, atkinson, jarvis or stucki)");
        }
        options.dither.method = *parsed;
    }
    if (std::optional<int64_t> threshold = args.Integer("threshold", kMinThreshold, kMaxThreshold)) {
        if (options.dither.method != DitherMethod::None)
            throw UsageError("--threshold applies to --dither none only");
        options.dither.threshold = static_cast<int>(*threshold);
    }
    options.dither.invert = args.Has("invert");
    options.fitWidth = static_cast<uint32_t>(args.Integer("fit-width", 1, kMaxFitWidth).value_or(0));
    options.dither.brightness =
        static_cast<int>(args.Integer("brightness", -kMaxBrightness, kMaxBrightness).value_or(0));
    options.dither.contrast = static_cast<int>(args.Integer("contrast", -kMaxContrast, kMaxContrast).value_or(0));
    options.dither.gamma = ParseGamma(args);
    return options;
}

// The picture to cut the window from: imported dots or a decoded file.
struct InputPicture {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> bits;
};

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
    ImportOptions importOptions = ParseImportOptions(args);
    const std::string& inputPath = args.Positionals()[0];
    const std::string& outputPath = args.Positionals()[1];

    InputPicture input;
    if (std::optional<std::vector<uint8_t>> bytes = ImportableFileBytes(inputPath)) {
        ImportedPicture imported;
        std::string error;
        if (!ImportPicture(*bytes, importOptions, imported, error)) {
            streams.err << error << '\n';
            return kExitFailure;
        }
        input = {imported.width, imported.height, std::move(imported.bits)};
    } else {
        LoadedPicture loaded = LoadPictureFile(inputPath);
        if (!Loaded(loaded, streams.err))
            return kExitFailure;
        // Its dots are taken as they are: dithering options would be ignored.
        for (std::string_view name : kImportOptionNames) {
            if (args.Has(name)) {
                throw UsageError("--" + std::string(name) + " applies to colour and grey pictures only; " +
                                 inputPath + " is " + PictureTypeDisplayString(loaded.picture->Type()));
            }
        }
        std::span<const uint8_t> bits = loaded.picture->Bits();
        input = {loaded.picture->Width(), loaded.picture->Height(), std::vector<uint8_t>(bits.begin(), bits.end())};
    }

    std::string error;
    std::unique_ptr<PictureFile> window = CreatePictureFile(*type, std::string());
    uint32_t windowWidth = width ? static_cast<uint32_t>(*width) : input.width;
    uint32_t windowHeight = height ? static_cast<uint32_t>(*height) : input.height;
    PictureResult result = window->ExtractWindow(
        input.width, input.height, static_cast<uint32_t>(static_cast<int32_t>(offsetX)),
        static_cast<uint32_t>(static_cast<int32_t>(offsetY)), windowWidth, windowHeight, input.bits, error);
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
    {"info", "FILE", "Print the type (IMAGE for a colour or grey picture), width, height and raw size of a picture file.",
     CommandSyntax{kInfoOperands, {}}, RunInfo},
    {"convert",
     "INPUT OUTPUT --type T [--width W] [--height H] [--offset-x X] [--offset-y Y]\n"
     "      [--dither none|ordered|floyd-steinberg|atkinson|jarvis|stucki] [--threshold N] [--invert]\n"
     "      [--fit-width N] [--brightness B] [--contrast C] [--gamma G]",
     "Cut a window of INPUT (default: all of it; offsets -500..500) and write it to OUTPUT in type T.\n"
     "      A PNG, JPEG, GIF, WebP, TIFF or colour bitmap INPUT is first turned into dots: resampled to\n"
     "      --fit-width dots (aspect kept), brightness -255..255, contrast -100..100 (percent), gamma\n"
     "      0.1..10, then dithered (default floyd-steinberg; --threshold 0..256, default 128, with none:\n"
     "      black below it), --invert last. These options are refused for the other formats.",
     CommandSyntax{kConvertOperands, kConvertOptions}, RunConvert},
}};

}  // namespace

std::span<const Command> PictureCommands()
{
    return kPictureCommands;
}

}  // namespace cli
