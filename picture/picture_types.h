#pragma once
// The picture model's shared vocabulary: the five formats, the result codes of
// every picture operation, and the row arithmetic of the one bit layout.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

/// One value per format class. The numbering is fixed: the output-type list of
/// the user interface is sorted alphabetically and its index is the type.
enum PictureType : uint32_t {
    BITMAP = 0,
    EPSON_GFX = 1,
    LOGO = 2,
    RASTER_GFX = 3,
    RASTER_GFX_EXT = 4,
};
constexpr uint32_t kPictureTypeCount = 5;

enum PictureResult : uint32_t {
    PR_OK = 0,
    PR_INVALID = 1,        ///< recognised, but the content cannot be used
    PR_WRONG_FORMAT = 2,   ///< the format's signature is absent
    PR_NO_DATA = 3,        ///< Identify without raw bytes
    PR_OPEN_FAILED = 4,
    PR_READ_FAILED = 5,
    PR_WRITE_FAILED = 6,
    PR_NO_MEMORY = 7,
    PR_SIZE_ADJUSTED = 8,  ///< written, with width and/or height rounded
};

/// "BITMAP", "EPSON GFX", "LOGO", "RASTER GFX", "RASTER GFX EXT"; "" out of range.
const char* PictureTypeDisplayString(PictureType type);
/// "BITMAP", "EPSON_GFX", ... (the enumerator name); "" out of range.
const char* PictureTypeEnumeratorName(PictureType type);
/// Accepts a display string or an enumerator name, in any case.
std::optional<PictureType> ParsePictureType(std::string_view text);

/// Bytes of one picture row: ceil(width / 8), no padding beyond that.
constexpr uint32_t BytesPerRow(uint32_t width) { return width / 8 + (width % 8 != 0 ? 1 : 0); }
/// 32-bit words of one bitmap file row: ceil(width / 32).
constexpr uint32_t WordsPerRow(uint32_t width) { return width / 32 + (width % 32 != 0 ? 1 : 0); }
/// The bits of a row's last byte that lie inside the width, indexed by width
/// mod 8 (0: the last byte is full). Readers clear the rest with it.
inline constexpr uint8_t kLastByteMask[8] = {0xFF, 0x80, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC, 0xFE};

/// Largest picture-bits buffer any operation allocates (64 MiB, a picture of
/// about 23000 x 23000 dots). Declared sizes beyond it are refused with a
/// message instead of an allocation the machine cannot honour.
constexpr uint64_t kMaxPictureBytes = 64ull << 20;
/// Largest file Open reads into memory.
constexpr uint64_t kMaxRawFileBytes = 64ull << 20;

/// Whether a declared size can be held: both dimensions in 32 bits and the
/// bits within kMaxPictureBytes. A picture with no columns (or no rows) is
/// counted as one byte wide (or one row high), so neither dimension alone can
/// run to billions and make later row loops crawl.
constexpr bool PictureFitsLimit(uint64_t width, uint64_t height)
{
    if (width > UINT32_MAX || height > UINT32_MAX)
        return false;
    uint64_t rowBytes = BytesPerRow(static_cast<uint32_t>(width));
    if (rowBytes == 0)
        rowBytes = 1;
    return rowBytes * (height == 0 ? 1 : height) <= kMaxPictureBytes;
}

/// Message for a picture whose declared size is beyond kMaxPictureBytes.
std::string PictureTooLargeMessage(uint64_t width, uint64_t height);
