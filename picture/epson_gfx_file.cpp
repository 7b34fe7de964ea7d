// EPSON GFX: bit image bands (ESC *) separated by line feeds, with dot feeds
// for blank rows. Read with a small command subset; written as 24-dot
// double-density bands only.
#include "epson_gfx_file.h"

#include "bit_transpose.h"
#include "printer_stream.h"

#include <cstring>
#include <new>

namespace {

using printer_stream::Cursor;
using printer_stream::ImageStep;

constexpr uint8_t kBitImage = 0x2A;
constexpr const char* kNotEpsonGraphics = "Error - File Format is not Epson Graphics (1B 2A)";
// A band is 24 picture rows whatever the mode.
constexpr uint32_t kBandRows = 24;
// ESC $ and the column count of ESC * are 16-bit: no run may start or end
// beyond this column.
constexpr uint32_t kMaxWriteWidth = 65535;

struct ModeShape {
    bool known = false;
    unsigned bytesPerColumn = 0;  ///< 1 for the 8-dot modes, 3 for the 24-dot modes
    unsigned dotWidth = 0;        ///< columns per printer dot: 2 single density, 1 double
};

ModeShape ShapeOf(uint8_t mode)
{
    switch (mode) {
    case 0:
        return {true, 1, 2};
    case 1:
        return {true, 1, 1};
    case 32:
        return {true, 3, 2};
    case 33:
        return {true, 3, 1};
    default:
        return {};
    }
}

std::string UnknownModeMessage(uint8_t mode)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string text = "Error - Epson Graphics bit image mode not supported (1B 2A ";
    text += hex[mode >> 4];
    text += hex[mode & 15];
    text += ")";
    return text;
}

// One ESC * command as both passes see it. The data may be cut short by the
// end of the file: the command still takes its declared room (so both passes
// agree on the size) and the stream ends after it; missing columns are white.
struct BitImageCommand {
    uint8_t mode = 0;
    ModeShape shape;
    uint64_t columns = 0;
    std::span<const uint8_t> data;  ///< the data bytes present, at most the declared count
    bool truncated = false;
    size_t length = 0;
};

enum class ParseResult { Ok, HeaderCut, UnknownMode };

ParseResult ParseBitImage(std::span<const uint8_t> rest, BitImageCommand& command)
{
    if (rest.size() < 5)
        return ParseResult::HeaderCut;
    command.mode = rest[2];
    command.shape = ShapeOf(command.mode);
    if (!command.shape.known)
        return ParseResult::UnknownMode;
    command.columns = rest[3] + 256u * rest[4];
    const size_t declared = static_cast<size_t>(command.columns) * command.shape.bytesPerColumn;
    const size_t present = std::min(declared, rest.size() - 5);
    command.data = rest.subspan(5, present);
    command.truncated = present < declared;
    command.length = 5 + declared;
    return ParseResult::Ok;
}

// Moves the cursor past a parsed command, as both passes do.
ImageStep Advance(const BitImageCommand& command, Cursor& cursor)
{
    cursor.x = printer_stream::AddCapped(cursor.x, command.columns * command.shape.dotWidth);
    cursor.Widen(cursor.x);
    if (command.truncated)
        return {ImageStep::EndOfStream, 0};
    return {ImageStep::Continue, command.length};
}

// Draws one bit image command into the picture, 8 columns at a time: the
// column bytes of a group are transposed into row bytes and ORed into the
// rows at the command's (unaligned) dot position. Rows and bytes outside the
// picture are dropped.
class BandPainter {
public:
    BandPainter(uint8_t* bits, uint32_t width, uint32_t height)
        : m_bits(bits), m_rowBytes(BytesPerRow(width)), m_height(height)
    {
    }

    void Draw(const BitImageCommand& command, uint64_t x, uint64_t y)
    {
        if (y >= m_height || m_rowBytes == 0)
            return;
        const unsigned perColumn = command.shape.bytesPerColumn;
        const uint64_t presentColumns = command.data.size() / perColumn;
        for (uint64_t first = 0; first < presentColumns; first += 8) {
            const uint64_t column = x + first * command.shape.dotWidth;
            if ((column >> 3) >= m_rowBytes)
                return;
            const unsigned count = static_cast<unsigned>(std::min<uint64_t>(8, presentColumns - first));
            const uint8_t* group = command.data.data() + first * perColumn;
            for (unsigned part = 0; part < perColumn; ++part) {
                uint64_t packed = 0;
                for (unsigned c = 0; c < 8; ++c)
                    packed = (packed << 8) | (c < count ? group[c * perColumn + part] : 0);
                if (packed == 0)
                    continue;
                const uint64_t rows = bit_transpose::Transpose8x8(packed);
                for (unsigned dot = 0; dot < 8; ++dot) {
                    const uint8_t rowByte = bit_transpose::ByteOf(rows, dot);
                    if (rowByte == 0)
                        continue;
                    const uint16_t value = command.shape.dotWidth == 2
                                               ? bit_transpose::kDoubledBits[rowByte]
                                               : static_cast<uint16_t>(rowByte << 8);
                    if (perColumn == 3) {
                        OrRow(y + 8 * part + dot, column, value);
                    } else {
                        // 8-dot modes: each printer dot is three rows tall.
                        for (unsigned repeat = 0; repeat < 3; ++repeat)
                            OrRow(y + 3 * dot + repeat, column, value);
                    }
                }
            }
        }
    }

private:
    void OrRow(uint64_t row, uint64_t column, uint16_t value)
    {
        if (row >= m_height)
            return;
        bit_transpose::OrDotsIntoRow(m_bits + row * m_rowBytes, m_rowBytes, column, value);
    }

    uint8_t* m_bits;
    uint64_t m_rowBytes;
    uint64_t m_height;
};

bool RowIsBlank(const uint8_t* row, size_t rowBytes)
{
    for (size_t i = 0; i < rowBytes; ++i) {
        if (row[i] != 0)
            return false;
    }
    return true;
}

// Encodes the band of rows top .. top + 23 (rows at or beyond height are
// white) as ESC $ / ESC * 33 runs of non-blank columns, then a line feed.
void EncodeBand(const uint8_t* bits, uint32_t width, uint32_t height, uint32_t top, std::vector<uint8_t>& out)
{
    const size_t rowBytes = BytesPerRow(width);
    const uint8_t* rows[kBandRows];
    for (uint32_t k = 0; k < kBandRows; ++k)
        rows[k] = (static_cast<uint64_t>(top) + k < height) ? bits + static_cast<size_t>(top + k) * rowBytes : nullptr;

    bool open = false;
    size_t countAt = 0;      // index of the open command's nL in out
    uint32_t start = 0;      // its first column
    bool blankBefore = false;

    auto close = [&](uint32_t end) {
        const uint32_t count = end - start;
        out[countAt] = static_cast<uint8_t>(count & 0xFF);
        out[countAt + 1] = static_cast<uint8_t>(count >> 8);
        open = false;
    };

    for (size_t j = 0; j < rowBytes; ++j) {
        uint64_t parts[3];
        bool any = false;
        for (unsigned part = 0; part < 3; ++part) {
            uint64_t packed = 0;
            for (unsigned k = 0; k < 8; ++k) {
                const uint8_t* row = rows[8 * part + k];
                packed = (packed << 8) | (row != nullptr ? row[j] : 0);
            }
            parts[part] = packed;
            any = any || packed != 0;
        }
        const uint32_t firstColumn = static_cast<uint32_t>(8 * j);
        const uint32_t columns = std::min<uint32_t>(8, width - firstColumn);
        if (!any) {
            // Eight blank columns at once: the common case for a logo's margins.
            if (open)
                close(firstColumn);
            blankBefore = true;
            continue;
        }
        for (unsigned part = 0; part < 3; ++part)
            parts[part] = bit_transpose::Transpose8x8(parts[part]);
        for (uint32_t c = 0; c < columns; ++c) {
            const uint32_t x = firstColumn + c;
            const uint8_t b0 = bit_transpose::ByteOf(parts[0], c);
            const uint8_t b1 = bit_transpose::ByteOf(parts[1], c);
            const uint8_t b2 = bit_transpose::ByteOf(parts[2], c);
            if ((b0 | b1 | b2) == 0) {
                if (open)
                    close(x);
                blankBefore = true;
                continue;
            }
            if (!open) {
                if (blankBefore) {
                    const uint8_t position[] = {0x1B, 0x24, static_cast<uint8_t>(x & 0xFF),
                                                static_cast<uint8_t>(x >> 8)};
                    out.insert(out.end(), position, position + 4);
                }
                const uint8_t header[] = {0x1B, 0x2A, 0x21, 0x00, 0x00};
                out.insert(out.end(), header, header + 5);
                countAt = out.size() - 2;
                start = x;
                open = true;
                blankBefore = false;
            }
            const uint8_t column[] = {b0, b1, b2};
            out.insert(out.end(), column, column + 3);
        }
    }
    if (open)
        close(width);
    out.push_back(0x0A);
}

}  // namespace

PictureResult EpsonGfxFile::Identify(std::string& error)
{
    if (!m_raw)
        return PR_NO_DATA;
    const std::span<const uint8_t> bytes = *m_raw;
    uint32_t position = 0;
    if (!printer_stream::FindSignature(bytes, 0x1B, kBitImage, position)) {
        error = kNotEpsonGraphics;
        return PR_WRONG_FORMAT;
    }
    m_nSignaturePos = position;

    Cursor cursor;
    uint8_t unknownMode = 0;
    const bool accepted = printer_stream::Interpret(bytes, kBitImage, cursor,
        [&](std::span<const uint8_t> rest, Cursor& at) -> ImageStep {
            BitImageCommand command;
            switch (ParseBitImage(rest, command)) {
            case ParseResult::HeaderCut:
                return {ImageStep::EndOfStream, 0};
            case ParseResult::UnknownMode:
                // Its length is unknown, so nothing after it can be placed.
                unknownMode = rest[2];
                return {ImageStep::Refused, 0};
            case ParseResult::Ok:
                break;
            }
            return Advance(command, at);
        });
    if (!accepted) {
        error = UnknownModeMessage(unknownMode);
        return PR_INVALID;
    }
    if (!printer_stream::FitsPicture(cursor.width, cursor.y)) {
        error = PictureTooLargeMessage(cursor.width, cursor.y);
        return PR_INVALID;
    }
    // An empty picture would be shown as nothing at all; say why instead.
    if (cursor.y == 0) {
        // Bands that no line feed or dot feed follows lie below the picture.
        error = "Error - Epson Graphics file holds no complete band (no line feed after the bit images)";
        return PR_INVALID;
    }
    if (cursor.width == 0) {
        error = "Error - Epson Graphics file holds an empty picture";
        return PR_INVALID;
    }
    m_nWidth = static_cast<uint32_t>(cursor.width);
    m_nHeight = static_cast<uint32_t>(cursor.y);
    return PR_OK;
}

bool EpsonGfxFile::Decode(std::string& error)
{
    if (!AllocatePicture(m_nWidth, m_nHeight, error))
        return false;
    BandPainter painter(m_bits->data(), m_nWidth, m_nHeight);
    Cursor cursor;
    printer_stream::Interpret(RawData(), kBitImage, cursor,
        [&](std::span<const uint8_t> rest, Cursor& at) -> ImageStep {
            BitImageCommand command;
            if (ParseBitImage(rest, command) != ParseResult::Ok)
                return {ImageStep::EndOfStream, 0};
            painter.Draw(command, at.x, at.y);
            return Advance(command, at);
        });
    FinishDecode();
    return true;
}

PictureResult EpsonGfxFile::Encode(uint32_t& width, uint32_t& height, std::string& error,
                                   std::vector<uint8_t>& encoded)
{
    const uint32_t W = width;
    const uint32_t H = height;
    if (W > kMaxWriteWidth) {
        error = "Error - Picture too wide for Epson Graphics (at most 65535 dots)";
        return PR_INVALID;
    }
    const size_t rowBytes = BytesPerRow(W);
    if (!printer_stream::FitsPicture(W, H)) {
        error = PictureTooLargeMessage(W, H);
        return PR_INVALID;
    }
    if (!HasPictureBits(W, H, error))
        return PR_INVALID;
    const std::span<const uint8_t> bits = Bits();
    const uint64_t bands = (static_cast<uint64_t>(H) + kBandRows - 1) / kBandRows;
    const uint64_t roundedHeight = bands * kBandRows;
    if (roundedHeight > UINT32_MAX) {
        error = PictureTooLargeMessage(W, H);
        return PR_INVALID;
    }

    std::vector<uint8_t> out;
    try {
        out.reserve(static_cast<size_t>(bands) * (3 * static_cast<size_t>(W) + 16) / 4 + 64);
        uint64_t pendingBlank = 0;
        uint32_t r = 0;
        while (r < H) {
            if (RowIsBlank(bits.data() + static_cast<size_t>(r) * rowBytes, rowBytes)) {
                ++pendingBlank;
                ++r;
                continue;
            }
            while (pendingBlank > 0) {
                const uint8_t feed = static_cast<uint8_t>(std::min<uint64_t>(pendingBlank, 255));
                const uint8_t command[] = {0x1B, 0x4A, feed};
                out.insert(out.end(), command, command + 3);
                pendingBlank -= feed;
            }
            EncodeBand(bits.data(), W, H, r, out);
            r = (H - r > kBandRows) ? r + kBandRows : H;
        }
        // Blank rows after the last band are not written.
    } catch (const std::bad_alloc&) {
        error = picture_messages::kMemoryAllocation;
        return PR_NO_MEMORY;
    }

    encoded = std::move(out);
    m_nWidth = W;
    m_nHeight = static_cast<uint32_t>(roundedHeight);
    if (H != roundedHeight) {
        height = static_cast<uint32_t>(roundedHeight);
        error = picture_messages::kHeightAdjusted;
        return PR_SIZE_ADJUSTED;
    }
    return PR_OK;
}
