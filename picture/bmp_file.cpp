// BmpFile: monochrome Windows bitmap files (one bit per dot, no compression).
//
// The reader accepts the usual layout (14-byte file header, 40-byte information
// header, two-entry palette at 54, rows from 62) and also files whose header is
// longer or whose rows start further on, as long as the header size and pixel
// offset fields agree with each other and with the file length. Rows may be
// stored bottom-up (positive height) or top-down (negative height). Every
// declared length is checked against the bytes present before anything is read.
#include "bmp_file.h"

#include <cstring>

namespace {

constexpr size_t kFileHeaderBytes = 14;
constexpr uint32_t kMinInfoHeaderBytes = 40;
constexpr size_t kPaletteBytes = 8;  // two 4-byte entries: blue, green, red, reserved
constexpr size_t kStandardPixelOffset = kFileHeaderBytes + kMinInfoHeaderBytes + kPaletteBytes;  // 62
// The bit count and compression tests look only at the low bytes of their fields.
constexpr size_t kBitCountOffset = 28;
constexpr size_t kCompressionOffset = 30;

constexpr const char* kNotBmp = "Error - File Format is not BMP";
constexpr const char* kNotMonochrome = "Error - Bmp File is not monochrome";
constexpr const char* kCompressed = "Error - Bmp File Compression not supported";
constexpr const char* kTruncated = "Error - Bmp File is truncated";
constexpr const char* kLayoutNotSupported = "Error - Bmp File header not supported";
constexpr const char* kBadWidth = "Error - Bmp File width is not valid";

uint32_t GetU32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void PutU32(uint8_t* p, uint32_t value)
{
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
    p[2] = static_cast<uint8_t>(value >> 16);
    p[3] = static_cast<uint8_t>(value >> 24);
}

void PutU16(uint8_t* p, uint16_t value)
{
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
}

struct BitmapLayout {
    uint32_t width = 0;
    uint32_t height = 0;
    size_t paletteOffset = 0;
    size_t pixelOffset = 0;
    size_t fileRowBytes = 0;  // 4 x ceil(width / 32)
    bool topDown = false;
};

// Checks raw as a monochrome bitmap and finds where its palette and rows are.
// The verdicts come in the order signature, bit count, compression, then the
// layout checks; a short file gets the earliest verdict its bytes allow.
PictureResult ParseBitmap(std::span<const uint8_t> raw, BitmapLayout& layout, std::string& error)
{
    const size_t size = raw.size();
    if (size < 2 || raw[0] != 'B' || raw[1] != 'M') {
        error = kNotBmp;
        return PR_WRONG_FORMAT;
    }
    if (size > kBitCountOffset && raw[kBitCountOffset] != 1) {
        error = kNotMonochrome;
        return PR_INVALID;
    }
    if (size > kCompressionOffset && raw[kCompressionOffset] != 0) {
        error = kCompressed;
        return PR_INVALID;
    }
    if (size < kStandardPixelOffset) {
        error = kTruncated;
        return PR_INVALID;
    }

    // A header shorter than 40 bytes (the old 12-byte core header) has other
    // fields at 18..30; one that claims more than the file holds, or a pixel
    // offset inside the header or palette, cannot be trusted for anything.
    const uint64_t headerBytes = GetU32(&raw[14]);
    const uint64_t paletteOffset = kFileHeaderBytes + headerBytes;
    uint64_t pixelOffset = GetU32(&raw[10]);
    // Some writers leave the offset unset: the rows then follow the palette.
    if (pixelOffset == 0)
        pixelOffset = paletteOffset + kPaletteBytes;
    // A header longer than the whole file is no header this reader knows of,
    // not a file cut short.
    if (headerBytes < kMinInfoHeaderBytes || headerBytes > size) {
        error = kLayoutNotSupported;
        return PR_INVALID;
    }
    if (paletteOffset + kPaletteBytes > size) {
        error = kTruncated;
        return PR_INVALID;
    }
    if (pixelOffset < paletteOffset + kPaletteBytes) {
        error = kLayoutNotSupported;
        return PR_INVALID;
    }

    const int32_t width = static_cast<int32_t>(GetU32(&raw[18]));
    const int32_t height = static_cast<int32_t>(GetU32(&raw[22]));
    if (width < 0) {
        error = kBadWidth;
        return PR_INVALID;
    }
    layout.width = static_cast<uint32_t>(width);
    layout.topDown = height < 0;
    layout.height = layout.topDown ? static_cast<uint32_t>(-static_cast<int64_t>(height))
                                   : static_cast<uint32_t>(height);

    if (!PictureFitsLimit(layout.width, layout.height)) {
        error = PictureTooLargeMessage(layout.width, layout.height);
        return PR_INVALID;
    }
    const uint64_t fileRowBytes = 4ull * WordsPerRow(layout.width);
    // Both factors are below 2^32, so the product cannot wrap in 64 bits.
    if (pixelOffset > size || fileRowBytes * layout.height > size - pixelOffset) {
        error = kTruncated;
        return PR_INVALID;
    }
    layout.paletteOffset = static_cast<size_t>(paletteOffset);
    layout.pixelOffset = static_cast<size_t>(pixelOffset);
    layout.fileRowBytes = static_cast<size_t>(fileRowBytes);
    return PR_OK;
}

}  // namespace

PictureResult BmpFile::Identify(std::string& error)
{
    if (!m_raw)
        return PR_NO_DATA;
    BitmapLayout layout;
    PictureResult result = ParseBitmap(*m_raw, layout, error);
    if (result != PR_OK)
        return result;
    m_nSignaturePos = 0;
    m_nWidth = layout.width;
    m_nHeight = layout.height;
    return PR_OK;
}

bool BmpFile::Decode(std::string& error)
{
    // The layout is worked out again from the bytes themselves, so raw data
    // replaced after Identify can never send the copy past its end.
    BitmapLayout layout;
    if (!HasRawDataToDecode(kNotBmp, error))
        return false;
    if (ParseBitmap(*m_raw, layout, error) != PR_OK)
        return false;
    m_nWidth = layout.width;
    m_nHeight = layout.height;
    if (!AllocatePicture(m_nWidth, m_nHeight, error))
        return false;

    const uint8_t* raw = m_raw->data();
    const uint32_t entry0 = GetU32(raw + layout.paletteOffset);
    const uint32_t entry1 = GetU32(raw + layout.paletteOffset + 4);
    // The darker palette colour always becomes bit 1 (black).
    const uint8_t flip = entry0 < entry1 ? 0xFF : 0x00;
    const size_t rowBytes = BytesPerRow(m_nWidth);
    const uint8_t mask = kLastByteMask[m_nWidth % 8];

    uint8_t* bits = m_bits->data();
    // A picture of no columns has no bytes to copy, however many rows (up to
    // 64 million) it declares.
    for (uint32_t r = 0; rowBytes != 0 && r < m_nHeight; ++r) {
        const uint32_t fileRow = layout.topDown ? r : m_nHeight - 1 - r;
        const uint8_t* in = raw + layout.pixelOffset + layout.fileRowBytes * fileRow;
        uint8_t* out = bits + rowBytes * r;
        for (size_t j = 0; j < rowBytes; ++j)
            out[j] = in[j] ^ flip;
        out[rowBytes - 1] &= mask;
    }
    FinishDecode();
    return true;
}

PictureResult BmpFile::Encode(uint32_t& width, uint32_t& height, std::string& error,
                              std::vector<uint8_t>& encoded)
{
    // The size fields are signed: larger values would read back as a negative
    // width or a top-down picture.
    if (width > INT32_MAX || height > INT32_MAX) {
        error = PictureTooLargeMessage(width, height);
        return PR_INVALID;
    }
    if (!HasPictureBits(width, height, error))
        return PR_INVALID;
    m_nWidth = width;
    m_nHeight = height;

    const size_t rowBytes = BytesPerRow(width);
    const uint64_t fileRowBytes = 4ull * WordsPerRow(width);
    const uint64_t total = kStandardPixelOffset + fileRowBytes * height;
    // Nothing is written that Open would refuse to read back.
    if (total > kMaxRawFileBytes) {
        error = PictureTooLargeMessage(width, height);
        return PR_NO_MEMORY;
    }
    try {
        encoded.assign(static_cast<size_t>(total), 0);
    } catch (const std::bad_alloc&) {
        error = picture_messages::kMemoryAllocation;
        return PR_NO_MEMORY;
    }

    uint8_t* out = encoded.data();
    out[0] = 'B';
    out[1] = 'M';
    PutU32(out + 2, static_cast<uint32_t>(total));
    PutU32(out + 6, 0);
    PutU32(out + 10, static_cast<uint32_t>(kStandardPixelOffset));
    PutU32(out + 14, kMinInfoHeaderBytes);
    PutU32(out + 18, width);
    PutU32(out + 22, height);
    PutU16(out + 26, 1);  // planes
    PutU16(out + 28, 1);  // bits per dot
    PutU32(out + 30, 0);  // no compression
    PutU32(out + 34, static_cast<uint32_t>(fileRowBytes * height));
    PutU32(out + 38, 8000);  // 8 dots per millimetre, the print head's pitch
    PutU32(out + 42, 8000);
    PutU32(out + 46, 2);
    PutU32(out + 50, 2);
    PutU32(out + 54, 0x00FFFFFF);  // entry 0 white: bit 0 is paper
    PutU32(out + 58, 0x00000000);  // entry 1 black: bit 1 is a printed dot

    const uint8_t* bits = m_bits ? m_bits->data() : nullptr;
    for (uint32_t i = 0; i < height && rowBytes != 0; ++i) {
        // Bottom row first; the padding up to the 32-bit row size stays zero.
        std::memcpy(out + kStandardPixelOffset + fileRowBytes * i, bits + rowBytes * (height - 1 - i), rowBytes);
    }
    return PR_OK;
}
