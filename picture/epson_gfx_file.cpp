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

// ORs count bytes of dots into a picture row from dot column `column` on (any
// alignment). Dots beyond the row's last byte are dropped.
void OrRowBytes(uint8_t* row, uint64_t rowBytes, uint64_t column, const uint8_t* dots, size_t count)
{
    const uint64_t index = column >> 3;
    const unsigned shift = static_cast<unsigned>(column & 7);
    size_t g = 0;
    if (shift == 0) {
        for (; g < count && index + g < rowBytes; ++g)
            row[index + g] |= dots[g];
        return;
    }
    for (; g < count && index + g + 1 < rowBytes; ++g) {
        row[index + g] |= static_cast<uint8_t>(dots[g] >> shift);
        row[index + g + 1] |= static_cast<uint8_t>(dots[g] << (8 - shift));
    }
    for (; g < count; ++g)
        bit_transpose::OrDotsIntoRow(row, rowBytes, column + 8 * g, static_cast<uint16_t>(dots[g] << 8));
}

// Draws one bit image command into the picture: the column bytes, 8 columns
// at a time, are transposed into the command's own rows (doubled across for
// the single-density modes), which are then ORed into the picture rows at the
// command's dot position. Rows and dots outside the picture are dropped.
class BandPainter {
public:
    BandPainter(uint8_t* bits, uint32_t width, uint32_t height)
        : m_bits(bits), m_rowBytes(BytesPerRow(width)), m_height(height)
    {
    }

    void Draw(const BitImageCommand& command, uint64_t x, uint64_t y)
    {
        const uint64_t rowDots = m_rowBytes * 8;
        if (y >= m_height || x >= rowDots)
            return;
        const unsigned perColumn = command.shape.bytesPerColumn;
        const unsigned dotWidth = command.shape.dotWidth;
        const uint64_t present = command.data.size() / perColumn;
        const uint64_t landing = (rowDots - x + dotWidth - 1) / dotWidth;
        const uint64_t columns = std::min(present, landing);
        if (columns == 0)
            return;
        const size_t groups = static_cast<size_t>((columns + 7) / 8);
        const size_t lineBytes = groups * dotWidth;
        const unsigned dotRows = 8 * perColumn;
        m_lines.assign(lineBytes * dotRows, 0);

        const uint8_t* data = command.data.data();
        for (size_t g = 0; g < groups; ++g) {
            const uint8_t* group = data + g * 8 * perColumn;
            const unsigned count = static_cast<unsigned>(std::min<uint64_t>(8, columns - 8 * g));
            for (unsigned part = 0; part < perColumn; ++part) {
                uint64_t packed;
                if (count == 8) {
                    packed = bit_transpose::GatherStrided(group + part, perColumn);
                } else {
                    packed = 0;
                    for (unsigned c = 0; c < 8; ++c)
                        packed = (packed << 8) | (c < count ? group[c * perColumn + part] : 0);
                }
                if (packed == 0)
                    continue;
                const uint64_t rows = bit_transpose::Transpose8x8(packed);
                for (unsigned dot = 0; dot < 8; ++dot) {
                    const uint8_t rowByte = bit_transpose::ByteOf(rows, dot);
                    uint8_t* line = &m_lines[(8 * part + dot) * lineBytes];
                    if (dotWidth == 2) {
                        const uint16_t doubled = bit_transpose::kDoubledBits[rowByte];
                        line[2 * g] = static_cast<uint8_t>(doubled >> 8);
                        line[2 * g + 1] = static_cast<uint8_t>(doubled);
                    } else {
                        line[g] = rowByte;
                    }
                }
            }
        }

        for (unsigned dot = 0; dot < dotRows; ++dot) {
            const uint8_t* line = &m_lines[dot * lineBytes];
            if (perColumn == 3) {
                OrLine(y + dot, x, line, lineBytes);
            } else {
                // 8-dot modes: each printer dot is three rows tall.
                for (unsigned repeat = 0; repeat < 3; ++repeat)
                    OrLine(y + 3 * dot + repeat, x, line, lineBytes);
            }
        }
    }

private:
    void OrLine(uint64_t row, uint64_t column, const uint8_t* line, size_t count)
    {
        if (row < m_height)
            OrRowBytes(m_bits + row * m_rowBytes, m_rowBytes, column, line, count);
    }

    uint8_t* m_bits;
    uint64_t m_rowBytes;
    uint64_t m_height;
    std::vector<uint8_t> m_lines;  ///< the command's rows, reused between commands
};

bool RowIsBlank(const uint8_t* row, size_t rowBytes)
{
    for (size_t i = 0; i < rowBytes; ++i) {
        if (row[i] != 0)
            return false;
    }
    return true;
}

// Most bytes one band can take: a run of one column after every blank column
// costs ESC $ (4), the ESC * header (5) and 3 data bytes per 2 columns, plus
// the line feed.
size_t MaxBandBytes(uint32_t width)
{
    return 6 * static_cast<size_t>(width) + 16;
}

// Encodes the band of rows top .. top + 23 as ESC $ / ESC * 33 runs of
// non-blank columns, then a line feed; rows[k] is band row k (a white row for
// rows at or beyond the height). Appends to out, which has MaxBandBytes room
// at `at`; returns the new end.
uint8_t* EncodeBand(const uint8_t* const* rows, uint32_t width, uint8_t* at)
{
    const size_t rowBytes = BytesPerRow(width);
    bool open = false;
    uint8_t* count = nullptr;  // the open command's nL nH
    uint32_t start = 0;        // its first column
    bool blankBefore = false;

    auto close = [&](uint32_t end) {
        const uint32_t columns = end - start;
        count[0] = static_cast<uint8_t>(columns & 0xFF);
        count[1] = static_cast<uint8_t>(columns >> 8);
        open = false;
    };

    for (size_t j = 0; j < rowBytes; ++j) {
        uint64_t parts[3];
        for (unsigned part = 0; part < 3; ++part) {
            const uint8_t* const* eight = rows + 8 * part;
            parts[part] = (uint64_t{eight[0][j]} << 56) | (uint64_t{eight[1][j]} << 48) |
                          (uint64_t{eight[2][j]} << 40) | (uint64_t{eight[3][j]} << 32) |
                          (uint64_t{eight[4][j]} << 24) | (uint64_t{eight[5][j]} << 16) |
                          (uint64_t{eight[6][j]} << 8) | uint64_t{eight[7][j]};
        }
        const uint32_t firstColumn = static_cast<uint32_t>(8 * j);
        if ((parts[0] | parts[1] | parts[2]) == 0) {
            // Eight blank columns at once: the common case in a logo's margins.
            if (open)
                close(firstColumn);
            blankBefore = true;
            continue;
        }
        for (unsigned part = 0; part < 3; ++part)
            parts[part] = bit_transpose::Transpose8x8(parts[part]);
        const uint32_t columns = std::min<uint32_t>(8, width - firstColumn);
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
                    *at++ = 0x1B;
                    *at++ = 0x24;
                    *at++ = static_cast<uint8_t>(x & 0xFF);
                    *at++ = static_cast<uint8_t>(x >> 8);
                }
                *at++ = 0x1B;
                *at++ = 0x2A;
                *at++ = 0x21;
                count = at;
                at += 2;
                start = x;
                open = true;
                blankBefore = false;
            }
            *at++ = b0;
            *at++ = b1;
            *at++ = b2;
        }
    }
    if (open)
        close(width);
    *at++ = 0x0A;
    return at;
}

}  // namespace

PictureResult EpsonGfxFile::Identify(std::string& error)
{
    if (!m_raw)
        return PR_NO_DATA;
    return printer_stream::Measure(*m_raw, kBitImage, kNotEpsonGraphics, m_nSignaturePos, m_nWidth, m_nHeight, error,
        [&](std::span<const uint8_t> rest, Cursor& at) -> ImageStep {
            BitImageCommand command;
            switch (ParseBitImage(rest, command)) {
            case ParseResult::HeaderCut:
                return {ImageStep::EndOfStream, 0};
            case ParseResult::UnknownMode:
                // Its length is unknown, so nothing after it can be placed.
                error = UnknownModeMessage(rest[2]);
                return {ImageStep::Refused, 0};
            case ParseResult::Ok:
                break;
            }
            return Advance(command, at);
        });
}

bool EpsonGfxFile::Decode(std::string& error)
{
    if (!HasRawDataToDecode(kNotEpsonGraphics, error))
        return false;
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
        const std::vector<uint8_t> white(rowBytes, 0);
        const uint8_t* rows[kBandRows];
        uint64_t pendingBlank = 0;
        uint32_t r = 0;
        while (r < H) {
            if (RowIsBlank(bits.data() + static_cast<size_t>(r) * rowBytes, rowBytes)) {
                ++pendingBlank;
                ++r;
                continue;
            }
            // Room for the feeds and the band; trimmed to what was written.
            size_t used = out.size();
            out.resize(used + 3 * static_cast<size_t>(pendingBlank / 255 + 1) + MaxBandBytes(W));
            uint8_t* at = out.data() + used;
            while (pendingBlank > 0) {
                const uint8_t feed = static_cast<uint8_t>(std::min<uint64_t>(pendingBlank, 255));
                *at++ = 0x1B;
                *at++ = 0x4A;
                *at++ = feed;
                pendingBlank -= feed;
            }
            for (uint32_t k = 0; k < kBandRows; ++k) {
                const uint64_t row = static_cast<uint64_t>(r) + k;
                rows[k] = row < H ? bits.data() + static_cast<size_t>(row) * rowBytes : white.data();
            }
            at = EncodeBand(rows, W, at);
            out.resize(static_cast<size_t>(at - out.data()));
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
