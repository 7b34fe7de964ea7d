// RASTER GFX EXT: a command stream in which ESC . carries the significant
// bytes of one row and how many consecutive rows repeat it, and 0x15 n skips
// n blank rows.
#include "raster_gfx_ext_file.h"

#include "printer_stream.h"

#include <cstring>
#include <new>

namespace {

using printer_stream::Cursor;
using printer_stream::ImageStep;

constexpr uint8_t kRasterRun = 0x2E;
constexpr const char* kNotExtendedRaster = "Error - File Format is not Extended Raster Graphics (1B 2E)";
// The leading-byte count and the byte count of ESC . are single bytes.
constexpr uint32_t kMaxRowBytes = 255;
// The run length of ESC . is 16-bit; longer runs go out as several commands.
constexpr uint32_t kMaxRunRows = 65535;

// ESC . a b nL nH d1 .. db, as both passes see it. Data cut short by the end
// of the file: the run keeps its declared size, missing bytes are white, and
// the stream ends after it.
struct RasterRun {
    uint32_t firstByte = 0;  ///< a
    uint32_t byteCount = 0;  ///< b
    uint32_t rows = 0;       ///< n
    std::span<const uint8_t> data;
    bool truncated = false;
};

bool ParseRun(std::span<const uint8_t> rest, RasterRun& run)
{
    if (rest.size() < 6)
        return false;
    run.firstByte = rest[2];
    run.byteCount = rest[3];
    run.rows = rest[4] + 256u * rest[5];
    const size_t present = std::min<size_t>(run.byteCount, rest.size() - 6);
    run.data = rest.subspan(6, present);
    run.truncated = present < run.byteCount;
    return true;
}

ImageStep Advance(const RasterRun& run, Cursor& cursor)
{
    cursor.Widen(8ull * (run.firstByte + run.byteCount));
    cursor.Feed(run.rows);
    if (run.truncated)
        return {ImageStep::EndOfStream, 0};
    return {ImageStep::Continue, 6 + static_cast<size_t>(run.byteCount)};
}

class RunWriter {
public:
    explicit RunWriter(std::vector<uint8_t>& out) : m_out(out) {}

    void Blank(uint64_t rows)
    {
        while (rows > 0) {
            const uint8_t count = static_cast<uint8_t>(std::min<uint64_t>(rows, 255));
            m_out.push_back(0x15);
            m_out.push_back(count);
            rows -= count;
        }
    }

    void Run(uint32_t firstByte, uint32_t byteCount, uint32_t rows, const uint8_t* row)
    {
        const uint8_t header[] = {0x1B, kRasterRun, static_cast<uint8_t>(firstByte),
                                  static_cast<uint8_t>(byteCount), static_cast<uint8_t>(rows & 0xFF),
                                  static_cast<uint8_t>(rows >> 8)};
        m_out.insert(m_out.end(), header, header + 6);
        m_out.insert(m_out.end(), row + firstByte, row + firstByte + byteCount);
    }

private:
    std::vector<uint8_t>& m_out;
};

}  // namespace

PictureResult RasterGfxExtFile::Identify(std::string& error)
{
    if (!m_raw)
        return PR_NO_DATA;
    return printer_stream::Measure(*m_raw, kRasterRun, kNotExtendedRaster, m_nSignaturePos, m_nWidth, m_nHeight, error,
        [](std::span<const uint8_t> rest, Cursor& at) -> ImageStep {
            RasterRun run;
            if (!ParseRun(rest, run))
                return {ImageStep::EndOfStream, 0};
            return Advance(run, at);
        });
}

bool RasterGfxExtFile::Decode(std::string& error)
{
    if (!HasRawDataToDecode(kNotExtendedRaster, error))
        return false;
    if (!AllocatePicture(m_nWidth, m_nHeight, error))
        return false;
    uint8_t* bits = m_bits->data();
    const uint64_t rowBytes = BytesPerRow(m_nWidth);
    const uint64_t height = m_nHeight;
    Cursor cursor;
    printer_stream::Interpret(RawData(), kRasterRun, cursor,
        [&](std::span<const uint8_t> rest, Cursor& at) -> ImageStep {
            RasterRun run;
            if (!ParseRun(rest, run))
                return {ImageStep::EndOfStream, 0};
            // Clipped to the picture: the cursor rules keep every run inside
            // the measured size, but the bytes may have changed since.
            if (run.firstByte < rowBytes && at.y < height) {
                const size_t count = static_cast<size_t>(std::min<uint64_t>(run.data.size(), rowBytes - run.firstByte));
                const uint64_t end = std::min<uint64_t>(at.y + run.rows, height);
                for (uint64_t r = at.y; count > 0 && r < end; ++r)
                    std::memcpy(bits + r * rowBytes + run.firstByte, run.data.data(), count);
            }
            return Advance(run, at);
        });
    FinishDecode();
    return true;
}

PictureResult RasterGfxExtFile::Encode(uint32_t& width, uint32_t& height, std::string& error,
                                       std::vector<uint8_t>& encoded)
{
    const uint32_t W = width;
    const uint32_t H = height;
    const uint32_t B = BytesPerRow(W);
    if (B > kMaxRowBytes) {
        error = "Error - Picture too wide for Extended Raster Graphics (at most 2040 dots)";
        return PR_INVALID;
    }
    if (!printer_stream::FitsPicture(W, H)) {
        error = PictureTooLargeMessage(W, H);
        return PR_INVALID;
    }
    if (!HasPictureBits(W, H, error))
        return PR_INVALID;
    const std::span<const uint8_t> bits = Bits();

    std::vector<uint8_t> out;
    try {
        RunWriter writer(out);
        // The row the pending run repeats; all rows of a run are equal to it.
        const uint8_t* previous = nullptr;
        uint32_t runRows = 0;
        uint32_t runFirst = 0;
        uint32_t runCount = 0;
        uint64_t blankRows = 0;

        for (uint32_t r = 0; r < H; ++r) {
            const uint8_t* row = bits.data() + static_cast<size_t>(r) * B;
            uint32_t lead = 0;
            while (lead < B && row[lead] == 0)
                ++lead;
            if (lead == B) {
                if (blankRows != 0 && runRows != 0) {
                    writer.Blank(blankRows);
                    blankRows = 0;
                }
                ++blankRows;
                if (runRows != 0) {
                    writer.Run(runFirst, runCount, runRows, previous);
                    runRows = 0;
                }
                continue;
            }
            if (runRows != 0 && std::memcmp(row, previous, B) == 0) {
                if (runRows < kMaxRunRows) {
                    ++runRows;
                    continue;
                }
                // A run longer than 16 bits: end this command, go on with a
                // new one for the same row.
            }
            if (runRows != 0) {
                if (blankRows != 0) {
                    writer.Blank(blankRows);
                    blankRows = 0;
                }
                writer.Run(runFirst, runCount, runRows, previous);
            }
            uint32_t trail = 0;
            while (row[B - 1 - trail] == 0)
                ++trail;
            previous = row;
            runFirst = lead;
            runCount = B - lead - trail;
            runRows = 1;
        }
        if (blankRows != 0)
            writer.Blank(blankRows);
        if (runRows != 0)
            writer.Run(runFirst, runCount, runRows, previous);
    } catch (const std::bad_alloc&) {
        error = picture_messages::kMemoryAllocation;
        return PR_NO_MEMORY;
    }

    encoded = std::move(out);
    const uint32_t roundedWidth = 8 * B;
    m_nWidth = roundedWidth;
    m_nHeight = H;
    if (roundedWidth != W) {
        width = roundedWidth;
        error = picture_messages::kWidthAdjusted;
        return PR_SIZE_ADJUSTED;
    }
    return PR_OK;
}
