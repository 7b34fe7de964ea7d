#pragma once
// The body shared by the picture decoder targets: read arbitrary bytes as one
// format, and when they decode, check what callers rely on - the bit buffer's
// size, a repeatable Identify, and that writing the picture and reading it
// back gives the same dots.
#include "picture_loader.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace picture_fuzz {

#define PICTURE_FUZZ_CHECK(condition)                                                          \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "check failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)

// Pictures above these many bit bytes are legal, but decoding (zeroing tens of
// megabytes) or round-tripping them every run would slow the fuzzer to a crawl
// without reaching new code; their size checks still run in Identify.
constexpr uint64_t kDecodeLimit = 8u << 20;
constexpr size_t kRoundTripLimit = 1u << 20;

// The picture redrawn on a canvas of canvasWidth x canvasHeight (at least its
// own size), with the bits beyond its width cleared: two pictures compare dot
// for dot by comparing their canvases.
inline std::vector<uint8_t> Canvas(std::span<const uint8_t> bits, uint32_t width, uint32_t height,
                                   uint32_t canvasWidth, uint32_t canvasHeight)
{
    const size_t rowBytes = BytesPerRow(width);
    const size_t canvasRowBytes = BytesPerRow(canvasWidth);
    std::vector<uint8_t> canvas(canvasRowBytes * canvasHeight, 0);
    const uint8_t lastMask = width % 8 == 0 ? 0xFF : static_cast<uint8_t>(0xFF00u >> (width % 8));
    for (size_t r = 0; r < height && rowBytes != 0; ++r) {
        std::copy_n(bits.begin() + static_cast<ptrdiff_t>(r * rowBytes), rowBytes, canvas.begin() + static_cast<ptrdiff_t>(r * canvasRowBytes));
        canvas[r * canvasRowBytes + rowBytes - 1] &= lastMask;
    }
    return canvas;
}

inline bool AnyBlack(std::span<const uint8_t> bits, uint32_t width, uint32_t height)
{
    std::vector<uint8_t> canvas = Canvas(bits, width, height, width, height);
    return std::any_of(canvas.begin(), canvas.end(), [](uint8_t byte) { return byte != 0; });
}

// Dot for dot over both pictures' extent, dots outside a picture being white:
// the command-stream formats may measure a re-read picture smaller when its
// last columns or rows are white.
inline bool SameDots(std::span<const uint8_t> a, uint32_t aWidth, uint32_t aHeight, std::span<const uint8_t> b,
                     uint32_t bWidth, uint32_t bHeight)
{
    uint32_t width = std::max(aWidth, bWidth);
    uint32_t height = std::max(aHeight, bHeight);
    return Canvas(a, aWidth, aHeight, width, height) == Canvas(b, bWidth, bHeight, width, height);
}

// Whether ESC command starts within the first 128 bytes, where the
// command-stream readers search for their signature.
inline bool HasImageCommandNearStart(std::span<const uint8_t> bytes, uint8_t command)
{
    for (size_t p = 0; p < std::min<size_t>(bytes.size(), 128) && p + 1 < bytes.size(); ++p) {
        if (bytes[p] == 0x1B && bytes[p + 1] == command)
            return true;
    }
    return false;
}

// The format's own size limits beyond which its writer may refuse, split or
// limit the picture as its owner chose; the exact round trip is checked only
// inside them.
inline bool WithinWriterLimits(PictureType type, uint32_t width, uint32_t height)
{
    switch (type) {
    case EPSON_GFX:
        return width <= 0xFFFF;
    case LOGO:
        return width <= 2040 && height <= 2040;
    case RASTER_GFX_EXT:
        return width <= 2040 && height <= 0xFFFF;
    default:
        return true;
    }
}

inline void CheckRoundTrip(PictureType type, const PictureFile& decoded, std::span<const uint8_t> input)
{
    const uint32_t width = decoded.Width();
    const uint32_t height = decoded.Height();
    std::span<const uint8_t> bits = decoded.Bits();
    if (bits.size() > kRoundTripLimit || !WithinWriterLimits(type, width, height))
        return;

    std::unique_ptr<PictureFile> writer = CreatePictureFile(type, std::string());
    writer->SetPicture(bits);
    uint32_t writtenWidth = width;
    uint32_t writtenHeight = height;
    std::string error;
    std::vector<uint8_t> encoded;
    PictureResult written = writer->Encode(writtenWidth, writtenHeight, error, encoded);
    // What this format's reader produces, its writer takes without rounding
    // (the command-stream readers can measure sizes the writers round).
    if (type == BITMAP || type == LOGO || type == RASTER_GFX)
        PICTURE_FUZZ_CHECK(written == PR_OK);
    else
        PICTURE_FUZZ_CHECK(written == PR_OK || written == PR_SIZE_ADJUSTED);
    PICTURE_FUZZ_CHECK(writtenWidth >= width && writtenHeight >= height);

    if (type == RASTER_GFX) {
        // Lines hold the row bytes unchanged: the file comes back byte for byte.
        PICTURE_FUZZ_CHECK(encoded.size() == input.size());
        PICTURE_FUZZ_CHECK(std::equal(encoded.begin(), encoded.end(), input.begin()));
        return;
    }

    std::unique_ptr<PictureFile> reader = CreatePictureFile(type, std::string());
    reader->SetRawData(encoded);
    PictureResult identified = reader->Identify(error);
    if (identified != PR_OK) {
        // The command-stream readers look for their image command in the first
        // 128 bytes only: an all-white picture has none, and a picture with
        // some 16000 white rows on top has its first one beyond.
        PICTURE_FUZZ_CHECK(type == EPSON_GFX || type == RASTER_GFX_EXT);
        PICTURE_FUZZ_CHECK(!AnyBlack(bits, width, height) ||
                           !HasImageCommandNearStart(encoded, type == EPSON_GFX ? 0x2A : 0x2E));
        return;
    }
    PICTURE_FUZZ_CHECK(reader->Decode(error));
    if (type == BITMAP || type == LOGO) {
        PICTURE_FUZZ_CHECK(reader->Width() == width && reader->Height() == height);
        PICTURE_FUZZ_CHECK(std::equal(bits.begin(), bits.end(), reader->Bits().begin(), reader->Bits().end()));
        return;
    }
    PICTURE_FUZZ_CHECK(SameDots(bits, width, height, reader->Bits(), reader->Width(), reader->Height()));
}

inline int FuzzDecoder(PictureType type, const uint8_t* data, size_t size)
{
    std::unique_ptr<PictureFile> picture = CreatePictureFile(type, std::string());
    picture->SetRawData(data, size);
    std::string error;
    PictureResult identified = picture->Identify(error);
    if (identified != PR_OK) {
        PICTURE_FUZZ_CHECK(identified == PR_INVALID || identified == PR_WRONG_FORMAT || identified == PR_NO_DATA);
        PICTURE_FUZZ_CHECK(identified == PR_NO_DATA || !error.empty());
        return 0;
    }
    const uint32_t width = picture->Width();
    const uint32_t height = picture->Height();
    // Identify may run again on the same bytes and must say the same.
    PICTURE_FUZZ_CHECK(picture->Identify(error) == PR_OK);
    PICTURE_FUZZ_CHECK(picture->Width() == width && picture->Height() == height);
    if (static_cast<uint64_t>(BytesPerRow(width)) * height > kDecodeLimit)
        return 0;

    if (!picture->Decode(error)) {
        // Only a picture too large to hold may fail, and it says so.
        PICTURE_FUZZ_CHECK(!error.empty());
        return 0;
    }
    PICTURE_FUZZ_CHECK(picture->Width() == width && picture->Height() == height);
    PICTURE_FUZZ_CHECK(picture->Bits().size() == static_cast<uint64_t>(BytesPerRow(width)) * height);
    PICTURE_FUZZ_CHECK(!picture->HasRawData());
    CheckRoundTrip(type, *picture, std::span<const uint8_t>(data, size));
    return 0;
}

}  // namespace picture_fuzz
