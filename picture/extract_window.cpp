// PictureFile::ExtractWindow: a window of another picture, byte by byte.
#include "picture_file.h"

#include <cstring>

namespace {

// The eight source dots at columns c .. c + 7 of one row (32-bit wrapping
// column numbers); columns at or beyond the source width are white.
inline uint8_t SourceByte(const uint8_t* row, uint32_t sourceWidth, uint32_t c)
{
    if (c < sourceWidth && c <= UINT32_MAX - 7 && c + 7 < sourceWidth) {
        uint32_t index = c >> 3;
        uint32_t shift = c & 7;
        if (shift == 0)
            return row[index];
        return static_cast<uint8_t>((row[index] << shift) | (row[index + 1] >> (8 - shift)));
    }
    uint8_t value = 0;
    for (uint32_t k = 0; k < 8; ++k) {
        uint32_t column = c + k;
        if (column < sourceWidth && (row[column >> 3] & (0x80u >> (column & 7))) != 0)
            value |= static_cast<uint8_t>(0x80u >> k);
    }
    return value;
}

}  // namespace

PictureResult PictureFile::ExtractWindow(uint32_t sourceWidth, uint32_t sourceHeight, uint32_t offsetX,
                                         uint32_t offsetY, uint32_t width, uint32_t height,
                                         std::span<const uint8_t> sourceBits, std::string& error)
{
    m_nOffsetX = offsetX;
    m_nOffsetY = offsetY;
    m_nWidth = width;
    m_nHeight = height;

    const uint64_t sourceRowBytes = BytesPerRow(sourceWidth);
    if (sourceRowBytes * sourceHeight > sourceBits.size()) {
        error = "Error - Source picture is smaller than its size";
        m_bits.reset();
        return PR_INVALID;
    }
    const uint64_t rowBytes = BytesPerRow(width);
    const uint64_t paddedRows = (static_cast<uint64_t>(height) + 23) / 24 * 24;
    if (!PictureFitsLimit(width, paddedRows)) {
        error = PictureTooLargeMessage(width, height);
        m_bits.reset();
        return PR_NO_MEMORY;
    }
    std::vector<uint8_t> bits;
    try {
        bits.assign(static_cast<size_t>(rowBytes * paddedRows), 0);
    } catch (const std::bad_alloc&) {
        error = picture_messages::kMemoryAllocation;
        m_bits.reset();
        return PR_NO_MEMORY;
    }

    // A window without columns has no bytes to fill (and the empty vector may
    // have no storage at all, so no row pointer into it may be formed).
    const uint32_t filledRows = rowBytes == 0 ? 0 : height;
    for (uint32_t r = 0; r < filledRows; ++r) {
        uint32_t sourceRow = offsetY + r;  // wraps: a negative offset gives white rows on top
        if (sourceRow >= sourceHeight)
            continue;
        const uint8_t* in = sourceBits.data() + sourceRowBytes * sourceRow;
        uint8_t* out = bits.data() + rowBytes * r;
        if ((offsetX & 7) == 0 && offsetX < sourceWidth) {
            // Aligned window: whole bytes up to the source's last full byte.
            uint64_t first = offsetX >> 3;
            uint64_t whole = (sourceWidth - offsetX) / 8;
            uint64_t count = whole < rowBytes ? whole : rowBytes;
            if (count > 0)
                std::memcpy(out, in + first, static_cast<size_t>(count));
            for (uint64_t j = count; j < rowBytes; ++j)
                out[j] = SourceByte(in, sourceWidth, offsetX + static_cast<uint32_t>(8 * j));
            continue;
        }
        for (uint64_t j = 0; j < rowBytes; ++j)
            out[j] = SourceByte(in, sourceWidth, offsetX + static_cast<uint32_t>(8 * j));
    }
    m_bits = std::move(bits);
    m_nSize = static_cast<uint32_t>(rowBytes * paddedRows);
    return PR_OK;
}
