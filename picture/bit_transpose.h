#pragma once
// Bit-matrix helpers for the column-oriented printer formats. A bit image
// command carries one byte per column and 8 vertical dots per byte; the picture
// carries one byte per 8 columns of one row. Converting between the two is an
// 8 x 8 bit transpose, done here on whole 64-bit words instead of dot by dot.
#include <array>
#include <cstddef>
#include <cstdint>

namespace bit_transpose {

/// Transposes an 8 x 8 bit matrix held as 8 bytes, byte 0 in the most
/// significant position, bit 7 (the most significant) of a byte being column 0.
/// Byte i of the result is column i of the input, its bit 7 - j being byte j's
/// bit 7 - i. The transpose is its own inverse.
constexpr uint64_t Transpose8x8(uint64_t x)
{
    uint64_t t = (x ^ (x >> 7)) & 0x00AA00AA00AA00AAull;
    x = x ^ t ^ (t << 7);
    t = (x ^ (x >> 14)) & 0x0000CCCC0000CCCCull;
    x = x ^ t ^ (t << 14);
    t = (x ^ (x >> 28)) & 0x00000000F0F0F0F0ull;
    x = x ^ t ^ (t << 28);
    return x;
}

/// Byte i of the word, counting from the most significant.
constexpr uint8_t ByteOf(uint64_t word, unsigned i)
{
    return static_cast<uint8_t>(word >> (56 - 8 * i));
}

/// Packs 8 bytes found stride bytes apart (byte 0 most significant).
inline uint64_t GatherStrided(const uint8_t* first, size_t stride)
{
    uint64_t word = 0;
    for (unsigned i = 0; i < 8; ++i)
        word = (word << 8) | first[i * stride];
    return word;
}

/// Every bit of a byte doubled in place: 1011 0000 -> 11001111 00000000. Used
/// by the single-density modes, where one printer dot covers two columns.
constexpr std::array<uint16_t, 256> MakeDoubledBits()
{
    std::array<uint16_t, 256> table{};
    for (unsigned value = 0; value < 256; ++value) {
        uint16_t doubled = 0;
        for (unsigned bit = 0; bit < 8; ++bit) {
            if (value & (0x80u >> bit))
                doubled = static_cast<uint16_t>(doubled | (0xC000u >> (2 * bit)));
        }
        table[value] = doubled;
    }
    return table;
}
inline constexpr std::array<uint16_t, 256> kDoubledBits = MakeDoubledBits();

/// ORs the top `bits` bits of value (8 or 16, given left-aligned in a 16-bit
/// number) into a row of rowBytes bytes, starting at dot column `column`.
/// Dots that fall beyond the row's last byte are dropped.
inline void OrDotsIntoRow(uint8_t* row, uint64_t rowBytes, uint64_t column, uint16_t value)
{
    if (value == 0)
        return;
    uint64_t index = column >> 3;
    if (index >= rowBytes)
        return;
    unsigned shift = static_cast<unsigned>(column & 7);
    // value spans at most three bytes once shifted right by up to 7 dots.
    uint32_t spread = static_cast<uint32_t>(value) << (8 - shift);
    row[index] |= static_cast<uint8_t>(spread >> 16);
    if (index + 1 < rowBytes)
        row[index + 1] |= static_cast<uint8_t>(spread >> 8);
    if (index + 2 < rowBytes)
        row[index + 2] |= static_cast<uint8_t>(spread);
}

}  // namespace bit_transpose
