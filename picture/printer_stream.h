#pragma once
// The printer command subset shared by the two command-stream formats (bit
// image bands and raster runs): a cursor, line and dot feeds, absolute
// positioning, and commands skipped by their known length. The format's own
// image command (ESC * or ESC .) is handed to the caller.
//
// Measuring and drawing run this same interpreter, so a file is always drawn
// with exactly the cursor moves that measured it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "picture_types.h"

namespace printer_stream {

/// Cursor coordinates and the measured width saturate here. A file cannot
/// reach it in 32 bits without wrapping, and no allowed picture comes close,
/// so a saturated value is always refused by FitsPicture.
inline constexpr uint64_t kCursorLimit = 1ull << 40;

inline uint64_t AddCapped(uint64_t value, uint64_t amount)
{
    return std::min(value + std::min(amount, kCursorLimit), kCursorLimit);
}

struct Cursor {
    uint64_t x = 0;
    uint64_t y = 0;      ///< top row of the current band, or the next raster row
    uint64_t width = 0;  ///< the largest x the commands assigned

    void Feed(uint64_t rows)
    {
        y = AddCapped(y, rows);
        x = 0;
    }
    void Widen(uint64_t toX) { width = std::max(width, toX); }
};

/// What the image-command handler did with the command at the read position.
struct ImageStep {
    enum Outcome { Continue, EndOfStream, Refused } outcome = Continue;
    size_t length = 0;  ///< bytes consumed when Continue
};

constexpr uint8_t kEsc = 0x1B;

/// Interprets bytes from index 0. onImage(rest, cursor) is called for every
/// ESC imageCommand with rest starting at the ESC; it returns the command's
/// length, or ends the stream. A command cut short by the end of the bytes
/// ends the stream. Returns false when the handler refused a command.
template <typename ImageHandler>
bool Interpret(std::span<const uint8_t> bytes, uint8_t imageCommand, Cursor& cursor, ImageHandler&& onImage)
{
    size_t p = 0;
    const size_t size = bytes.size();
    while (p < size) {
        const size_t left = size - p;
        const uint8_t command = bytes[p];
        size_t length = 1;
        switch (command) {
        case 0x0A:  // line feed; 0A 0D is one command
            cursor.Feed(24);
            length = (left >= 2 && bytes[p + 1] == 0x0D) ? 2 : 1;
            break;
        case 0x0C:  // form feed: a new band only when something is on this one
            if (cursor.x != 0)
                cursor.y = AddCapped(cursor.y, 24);
            cursor.x = 0;
            break;
        case 0x0D:
            cursor.x = 0;
            break;
        case 0x15:  // dot feed n
            if (left < 2)
                return true;
            cursor.Feed(bytes[p + 1]);
            length = 2;
            break;
        case 0x1D:  // GS b: skipped
            if (left < 2)
                return true;
            length = 2;
            break;
        case kEsc: {
            if (left < 2)
                return true;
            const uint8_t b = bytes[p + 1];
            if (b == imageCommand) {
                ImageStep step = onImage(bytes.subspan(p), cursor);
                if (step.outcome == ImageStep::Refused)
                    return false;
                if (step.outcome == ImageStep::EndOfStream)
                    return true;
                length = step.length;
            } else if (b == 0x24) {  // ESC $ nL nH: absolute position
                if (left < 4)
                    return true;
                cursor.x = bytes[p + 2] + 256u * bytes[p + 3];
                cursor.Widen(cursor.x);
                length = 4;
            } else if (b == 0x33) {  // ESC 3 n: line spacing, no effect on the picture
                if (left < 3)
                    return true;
                length = 3;
            } else if (b == 0x4A) {  // ESC J n: feed n dots
                if (left < 3)
                    return true;
                cursor.Feed(bytes[p + 2]);
                length = 3;
            } else {
                length = 2;
            }
            break;
        }
        default:
            break;
        }
        p += length;
    }
    return true;
}

/// Whether a measured size can be held (the picture model's limit).
inline bool FitsPicture(uint64_t width, uint64_t height)
{
    return PictureFitsLimit(width, height);
}

/// First index p < min(size, 128) with bytes p, p + 1 equal to first, second:
/// every printer format (ESC *, ESC ., GS *) looks for its command only this
/// near the start of the file.
inline bool FindSignature(std::span<const uint8_t> bytes, uint8_t first, uint8_t second, uint32_t& position)
{
    const size_t end = std::min<size_t>(bytes.size(), 128);
    for (size_t p = 0; p < end && p + 1 < bytes.size(); ++p) {
        if (bytes[p] == first && bytes[p + 1] == second) {
            position = static_cast<uint32_t>(p);
            return true;
        }
    }
    return false;
}

/// The measuring pass both command-stream readers share: finds the image
/// command (ESC imageCommand) in the first 128 bytes, else PR_WRONG_FORMAT with
/// notFormat; records its position in signature; interprets the whole stream
/// from index 0 and, when the size can be held, stores the widest x and the
/// final y in width and height: PR_OK. A command the handler refuses (it sets
/// error itself) and a size beyond the limit give PR_INVALID.
template <typename ImageHandler>
PictureResult Measure(std::span<const uint8_t> bytes, uint8_t imageCommand, const char* notFormat,
                      uint32_t& signature, uint32_t& width, uint32_t& height, std::string& error,
                      ImageHandler&& onImage)
{
    if (!FindSignature(bytes, kEsc, imageCommand, signature)) {
        error = notFormat;
        return PR_WRONG_FORMAT;
    }
    Cursor cursor;
    if (!Interpret(bytes, imageCommand, cursor, onImage))
        return PR_INVALID;
    if (!FitsPicture(cursor.width, cursor.y)) {
        error = PictureTooLargeMessage(cursor.width, cursor.y);
        return PR_INVALID;
    }
    // No rows (bands that no feed follows lie below the picture) or no
    // columns is an empty picture, not a refusal.
    width = static_cast<uint32_t>(cursor.width);
    height = static_cast<uint32_t>(cursor.y);
    return PR_OK;
}

}  // namespace printer_stream
