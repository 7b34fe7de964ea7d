// Arbitrary bytes through the import of colour and grey pictures. The last
// byte picks the dithering method, the invert flag and whether the width is
// fitted, so every path past the decoder is reached. An import either fails
// with a message or gives dots of the size it reports, padding bits white.
#include "image_import.h"
#include "picture_types.h"

#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

#define IMPORT_FUZZ_CHECK(condition)                                                           \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "check failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)

namespace {

// Pictures within the limit but above this many dots decode correctly and
// slowly; the fuzzer learns nothing from them beyond their header.
constexpr uint64_t kFuzzPixelLimit = 1u << 22;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::span<const uint8_t> bytes(data, size);
    if (!DetectImageFormat(bytes))
        return 0;
    ImageSize declared;
    std::string error;
    if (!ReadImageSize(bytes, declared, error)) {
        IMPORT_FUZZ_CHECK(error.rfind("Error - ", 0) == 0);
        return 0;
    }
    if (static_cast<uint64_t>(declared.width) * declared.height > kFuzzPixelLimit)
        return 0;

    const uint8_t choice = data[size - 1];
    ImportOptions options;
    options.dither.method = static_cast<DitherMethod>(choice % 6);
    options.dither.invert = (choice & 0x08) != 0;
    options.dither.gamma = (choice & 0x10) != 0 ? 2.2 : 1.0;
    options.fitWidth = (choice & 0x20) != 0 ? 1 + choice % 64 : 0;
    ImportedPicture picture;
    if (!ImportPicture(bytes, options, picture, error)) {
        IMPORT_FUZZ_CHECK(error.rfind("Error - ", 0) == 0);
        IMPORT_FUZZ_CHECK(picture.bits.empty());
        return 0;
    }
    IMPORT_FUZZ_CHECK(picture.sourceWidth == declared.width && picture.sourceHeight == declared.height);
    if (options.fitWidth != 0) {
        IMPORT_FUZZ_CHECK(picture.width == options.fitWidth);
        IMPORT_FUZZ_CHECK(picture.height == FittedHeight(declared.width, declared.height, options.fitWidth));
    } else {
        IMPORT_FUZZ_CHECK(picture.width == declared.width && picture.height == declared.height);
    }
    const size_t rowBytes = BytesPerRow(picture.width);
    IMPORT_FUZZ_CHECK(picture.bits.size() == rowBytes * picture.height);
    const uint8_t padding = static_cast<uint8_t>(~kLastByteMask[picture.width % 8]);
    for (size_t row = 0; row < picture.height && rowBytes != 0; ++row)
        IMPORT_FUZZ_CHECK((picture.bits[row * rowBytes + rowBytes - 1] & padding) == 0);
    return 0;
}
