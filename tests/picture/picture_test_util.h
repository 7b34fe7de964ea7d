#pragma once
// Builders and dot-level references shared by the picture tests. Everything
// here works one dot at a time on purpose: it is the slow, obvious version the
// byte- and word-level code is checked against.
#include "picture_file.h"

#include <cstdint>
#include <random>
#include <vector>

namespace picture_test {

inline bool Dot(const std::vector<uint8_t>& bits, uint32_t width, uint32_t x, uint32_t y)
{
    return (bits[static_cast<size_t>(BytesPerRow(width)) * y + x / 8] & (0x80u >> (x % 8))) != 0;
}

inline void SetDot(std::vector<uint8_t>& bits, uint32_t width, uint32_t x, uint32_t y)
{
    bits[static_cast<size_t>(BytesPerRow(width)) * y + x / 8] |= static_cast<uint8_t>(0x80u >> (x % 8));
}

/// Random picture bits, padding bits beyond the width included.
inline std::vector<uint8_t> RandomBits(uint32_t width, uint32_t height, uint32_t seed)
{
    std::mt19937 random(seed);
    std::vector<uint8_t> bits(static_cast<size_t>(BytesPerRow(width)) * height);
    for (uint8_t& byte : bits)
        byte = static_cast<uint8_t>(random());
    return bits;
}

/// The same picture with the bits beyond the width cleared.
inline std::vector<uint8_t> Masked(std::vector<uint8_t> bits, uint32_t width)
{
    const uint32_t rowBytes = BytesPerRow(width);
    if (width % 8 == 0 || rowBytes == 0)
        return bits;
    const uint8_t mask = static_cast<uint8_t>(0xFF00u >> (width % 8));
    for (size_t i = rowBytes - 1; i < bits.size(); i += rowBytes)
        bits[i] &= mask;
    return bits;
}

inline void PutU32(std::vector<uint8_t>& out, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

struct BmpOptions {
    uint32_t palette0 = 0x00FFFFFF;  // white
    uint32_t palette1 = 0x00000000;  // black
    uint32_t headerBytes = 40;
    uint32_t gapBeforePixels = 0;    // bytes between the palette and the rows
    bool topDown = false;
    uint8_t rowPadding = 0;          // value of the bytes filling rows to 32 bits
    uint8_t bitCount = 1;
    uint8_t compression = 0;
};

/// A bitmap file holding picture (rows top to bottom, picture layout), bit 1
/// selecting palette entry 1, written one dot at a time.
inline std::vector<uint8_t> MakeBmp(uint32_t width, uint32_t height, const std::vector<uint8_t>& picture,
                                    const BmpOptions& options = {})
{
    const size_t fileRow = 4 * WordsPerRow(width);
    const size_t palette = 14 + options.headerBytes;
    const size_t pixels = palette + 8 + options.gapBeforePixels;
    std::vector<uint8_t> out(pixels + fileRow * height, 0);
    out[0] = 'B';
    out[1] = 'M';
    PutU32(out, 2, static_cast<uint32_t>(out.size()));
    PutU32(out, 10, static_cast<uint32_t>(pixels));
    PutU32(out, 14, options.headerBytes);
    PutU32(out, 18, width);
    PutU32(out, 22, options.topDown ? static_cast<uint32_t>(-static_cast<int64_t>(height)) : height);
    out[26] = 1;
    out[28] = options.bitCount;
    out[30] = options.compression;
    PutU32(out, palette, options.palette0);
    PutU32(out, palette + 4, options.palette1);
    for (uint32_t y = 0; y < height; ++y) {
        const uint32_t fileRowIndex = options.topDown ? y : height - 1 - y;
        uint8_t* row = out.data() + pixels + fileRow * fileRowIndex;
        for (size_t j = BytesPerRow(width); j < fileRow; ++j)
            row[j] = options.rowPadding;
        for (uint32_t x = 0; x < width; ++x) {
            if (Dot(picture, width, x, y))
                row[x / 8] |= static_cast<uint8_t>(0x80u >> (x % 8));
        }
    }
    return out;
}

/// Identify then Decode over bytes held in memory; the result of Identify (or
/// PR_INVALID when Decode fails after PR_OK).
inline PictureResult DecodeBytes(PictureFile& file, const std::vector<uint8_t>& bytes, std::string& error)
{
    file.SetRawData(bytes.data(), bytes.size());
    PictureResult result = file.Identify(error);
    if (result != PR_OK)
        return result;
    return file.Decode(error) ? PR_OK : PR_INVALID;
}

inline std::vector<uint8_t> BitsOf(const PictureFile& file)
{
    auto bits = file.Bits();
    return std::vector<uint8_t>(bits.begin(), bits.end());
}

}  // namespace picture_test
