// RASTER GFX: every picture row is one line, 0x11 and the row's bytes. The
// file has no header; the line length is found from where the 0x11 bytes lie.
#include "raster_gfx_file.h"

#include "printer_stream.h"

#include <cstring>
#include <new>

namespace {

constexpr uint8_t kLineStart = 0x11;
constexpr const char* kNotRasterGraphics = "Error - File Format is not Raster Graphics (11)";
// Longest line the reader considers: 0x11 and 127 data bytes (1016 dots).
constexpr size_t kMaxLineLength = 128;

bool EveryLineStarts(std::span<const uint8_t> bytes, size_t lineLength)
{
    for (size_t at = 0; at < bytes.size(); at += lineLength) {
        if (bytes[at] != kLineStart)
            return false;
    }
    return true;
}

}  // namespace

PictureResult RasterGfxFile::Identify(std::string& error)
{
    if (!m_raw)
        return PR_NO_DATA;
    const std::span<const uint8_t> bytes = *m_raw;
    if (bytes.empty() || bytes[0] != kLineStart) {
        error = kNotRasterGraphics;
        return PR_WRONG_FORMAT;
    }
    // Candidate line lengths are the positions of the 0x11 bytes; the first
    // one that divides the file into lines all starting with 0x11 wins.
    const size_t last = std::min(kMaxLineLength, bytes.size() - 1);
    for (size_t i = 1; i <= last; ++i) {
        if (bytes[i] != kLineStart || bytes.size() % i != 0 || !EveryLineStarts(bytes, i))
            continue;
        const uint64_t width = 8ull * (i - 1);
        const uint64_t height = bytes.size() / i;
        if (!printer_stream::FitsPicture(width, height)) {
            error = PictureTooLargeMessage(width, height);
            return PR_INVALID;
        }
        m_nWidth = static_cast<uint32_t>(width);
        m_nHeight = static_cast<uint32_t>(height);
        return PR_OK;
    }
    error = kNotRasterGraphics;
    return PR_INVALID;
}

bool RasterGfxFile::Decode(std::string& error)
{
    if (!HasRawDataToDecode(kNotRasterGraphics, error))
        return false;
    if (!AllocatePicture(m_nWidth, m_nHeight, error))
        return false;
    const std::span<const uint8_t> bytes = RawData();
    const size_t rowBytes = BytesPerRow(m_nWidth);
    const size_t lineLength = rowBytes + 1;
    uint8_t* out = m_bits->data();
    // Lines missing from the raw bytes (they changed since Identify) stay white.
    for (size_t r = 0; rowBytes > 0 && r < m_nHeight; ++r) {
        const size_t at = r * lineLength + 1;
        if (at >= bytes.size())
            break;
        std::memcpy(out + r * rowBytes, bytes.data() + at, std::min(rowBytes, bytes.size() - at));
    }
    FinishDecode();
    return true;
}

PictureResult RasterGfxFile::Encode(uint32_t& width, uint32_t& height, std::string& error,
                                    std::vector<uint8_t>& encoded)
{
    const uint32_t W = width;
    const uint32_t H = height;
    const uint64_t rowBytes = BytesPerRow(W);
    const uint64_t roundedWidth = rowBytes * 8;
    if (!printer_stream::FitsPicture(roundedWidth, H)) {
        error = PictureTooLargeMessage(W, H);
        return PR_INVALID;
    }
    if (!HasPictureBits(W, H, error))
        return PR_INVALID;
    const std::span<const uint8_t> bits = Bits();
    std::vector<uint8_t> out;
    try {
        // Cannot overflow: FitsPicture bounds both factors.
        out.resize(static_cast<size_t>((rowBytes + 1) * H));
    } catch (const std::bad_alloc&) {
        error = picture_messages::kMemoryAllocation;
        return PR_NO_MEMORY;
    }
    uint8_t* line = out.data();
    for (uint64_t r = 0; r < H; ++r) {
        *line++ = kLineStart;
        // The last byte goes as it is, with whatever lies beyond the width.
        if (rowBytes != 0)
            std::memcpy(line, bits.data() + r * rowBytes, static_cast<size_t>(rowBytes));
        line += rowBytes;
    }
    encoded = std::move(out);
    m_nWidth = static_cast<uint32_t>(roundedWidth);
    m_nHeight = H;
    if (roundedWidth != W) {
        width = static_cast<uint32_t>(roundedWidth);
        error = picture_messages::kWidthAdjusted;
        return PR_SIZE_ADJUSTED;
    }
    return PR_OK;
}
