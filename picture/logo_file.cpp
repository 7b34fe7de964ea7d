// LogoFile: one GS * command (1D 2A x y, then 8x columns of y bytes each).
//
// The command stores dots column by column, most significant bit the upper
// dot; the picture model stores them row by row, most significant bit the left
// dot. Both directions therefore work on 8 x 8 dot blocks: eight column bytes
// in, one bit-matrix transpose, eight row bytes out.
#include "logo_file.h"

#include "bit_transpose.h"
#include "printer_stream.h"

namespace {

constexpr uint8_t kGs = 0x1D;
constexpr uint8_t kStar = 0x2A;
constexpr size_t kHeaderBytes = 4;
// x and y are single bytes counting 8 dots.
constexpr uint32_t kMaxLogoDots = 255 * 8;

constexpr const char* kNotLogo = "Error - File Format is not Logo (1D 2A)";
constexpr const char* kNotValidLogo = "Error - File Format is not valid Logo";

struct LogoLayout {
    size_t signature = 0;
    uint32_t columnBytes = 0;  // x: picture bytes per row, 8 columns each
    uint32_t rowBytes = 0;     // y: data bytes per column, 8 rows each
};

PictureResult ParseLogo(std::span<const uint8_t> raw, LogoLayout& layout, std::string& error)
{
    const size_t size = raw.size();
    uint32_t position = 0;
    if (!printer_stream::FindSignature(raw, kGs, kStar, position)) {
        error = kNotLogo;
        return PR_WRONG_FORMAT;
    }
    const size_t p = position;
    layout.signature = p;
    if (p + 3 >= size) {
        error = kNotValidLogo;
        return PR_INVALID;
    }
    layout.columnBytes = raw[p + 2];
    layout.rowBytes = raw[p + 3];
    const size_t dataBytes = size_t{8} * layout.columnBytes * layout.rowBytes;
    if (dataBytes > size - (p + kHeaderBytes)) {
        error = kNotValidLogo;
        return PR_INVALID;
    }
    return PR_OK;
}

}  // namespace

PictureResult LogoFile::Identify(std::string& error)
{
    if (!m_raw)
        return PR_NO_DATA;
    LogoLayout layout;
    PictureResult result = ParseLogo(*m_raw, layout, error);
    if (result == PR_WRONG_FORMAT)
        return result;
    m_nSignaturePos = static_cast<uint32_t>(layout.signature);
    if (result != PR_OK)
        return result;
    m_nWidth = 8 * layout.columnBytes;
    m_nHeight = 8 * layout.rowBytes;
    return PR_OK;
}

bool LogoFile::Decode(std::string& error)
{
    // Parsed again from the bytes, so data replaced after Identify cannot make
    // the reader run past its end.
    LogoLayout layout;
    if (!HasRawDataToDecode(kNotLogo, error))
        return false;
    if (ParseLogo(*m_raw, layout, error) != PR_OK)
        return false;
    m_nSignaturePos = static_cast<uint32_t>(layout.signature);
    m_nWidth = 8 * layout.columnBytes;
    m_nHeight = 8 * layout.rowBytes;
    if (!AllocatePicture(m_nWidth, m_nHeight, error))
        return false;

    const size_t x = layout.columnBytes;
    const size_t y = layout.rowBytes;
    const uint8_t* data = m_raw->data() + layout.signature + kHeaderBytes;
    uint8_t* bits = m_bits->data();
    for (size_t j = 0; j < x; ++j) {
        const uint8_t* columns = data + 8 * j * y;  // columns 8j .. 8j + 7
        for (size_t b = 0; b < y; ++b) {
            const uint64_t block = bit_transpose::Transpose8x8(bit_transpose::GatherStrided(columns + b, y));
            uint8_t* out = bits + 8 * b * x + j;  // rows 8b .. 8b + 7, byte j
            for (unsigned i = 0; i < 8; ++i)
                out[i * x] = bit_transpose::ByteOf(block, i);
        }
    }
    FinishDecode();
    return true;
}

std::string LogoFile::SizeLimitError(uint32_t width, uint32_t height)
{
    const uint64_t roundedWidth = (static_cast<uint64_t>(width) + 7) / 8 * 8;
    const uint64_t roundedHeight = (static_cast<uint64_t>(height) + 7) / 8 * 8;
    // The header has one byte for each side: a larger picture cannot be
    // described, and storing only the low bits would misplace every dot.
    if (roundedWidth > kMaxLogoDots || roundedHeight > kMaxLogoDots)
        return "Error - Picture too large for the Logo format (at most 2040 x 2040 dots, this one is " +
               std::to_string(width) + " x " + std::to_string(height) + ")";
    return {};
}

PictureResult LogoFile::Encode(uint32_t& width, uint32_t& height, std::string& error,
                               std::vector<uint8_t>& encoded)
{
    const uint64_t roundedWidth = (static_cast<uint64_t>(width) + 7) / 8 * 8;
    const uint64_t roundedHeight = (static_cast<uint64_t>(height) + 7) / 8 * 8;
    if (std::string tooLarge = SizeLimitError(width, height); !tooLarge.empty()) {
        error = std::move(tooLarge);
        return PR_INVALID;
    }
    if (!HasPictureBits(width, height, error))
        return PR_INVALID;
    const size_t x = static_cast<size_t>(roundedWidth / 8);
    const size_t y = static_cast<size_t>(roundedHeight / 8);
    m_nWidth = static_cast<uint32_t>(roundedWidth);
    m_nHeight = static_cast<uint32_t>(roundedHeight);
    try {
        encoded.assign(kHeaderBytes + 8 * x * y, 0);
    } catch (const std::bad_alloc&) {
        error = picture_messages::kMemoryAllocation;
        return PR_NO_MEMORY;
    }
    encoded[0] = kGs;
    encoded[1] = kStar;
    encoded[2] = static_cast<uint8_t>(x);
    encoded[3] = static_cast<uint8_t>(y);

    // Source rows are BytesPerRow(width) = x bytes apart. Added rows and the
    // columns beyond the width are white whatever the padding bits hold.
    const uint8_t* bits = m_bits ? m_bits->data() : nullptr;
    const size_t fullRowGroups = height / 8;
    uint8_t* data = encoded.data() + kHeaderBytes;
    for (size_t j = 0; j < x; ++j) {
        const uint8_t mask = j + 1 == x ? kLastByteMask[width % 8] : 0xFF;
        uint8_t* columns = data + 8 * j * y;
        for (size_t b = 0; b < y; ++b) {
            const uint8_t* in = bits + 8 * b * x + j;
            uint64_t block = 0;
            if (b < fullRowGroups) {
                for (size_t i = 0; i < 8; ++i)
                    block = (block << 8) | (in[i * x] & mask);
            } else {
                for (size_t i = 0; i < 8; ++i)
                    block = (block << 8) | (8 * b + i < height ? (in[i * x] & mask) : 0u);
            }
            block = bit_transpose::Transpose8x8(block);
            for (unsigned k = 0; k < 8; ++k)
                columns[k * y + b] = bit_transpose::ByteOf(block, k);
        }
    }

    if (width == roundedWidth && height == roundedHeight)
        return PR_OK;
    width = m_nWidth;
    height = m_nHeight;
    error = picture_messages::kWidthHeightAdjusted;
    return PR_SIZE_ADJUSTED;
}

PictureResult LogoFile::EncodeToMemory(uint32_t& width, uint32_t& height, std::string& error,
                                       std::vector<uint8_t>& encoded)
{
    encoded.clear();
    PictureResult result = Encode(width, height, error, m_encoded);
    if (result != PR_OK && result != PR_SIZE_ADJUSTED) {
        m_encoded.clear();
        return result;
    }
    try {
        encoded = m_encoded;
    } catch (const std::bad_alloc&) {
        error = picture_messages::kMemoryAllocation;
        return PR_NO_MEMORY;
    }
    m_nSize = static_cast<uint32_t>(m_encoded.size());
    return result;
}
