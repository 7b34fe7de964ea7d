#pragma once
// Helpers shared by the tests of the printer formats: reading bytes through
// Identify + Decode, encoding a picture, random pictures, comparing dots, and
// the mutation sweep every reader (the bitmap one too) must survive.
#include "picture_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace printer_format_testing {

struct ReadOutcome {
    PictureResult identified = PR_NO_DATA;
    bool decoded = false;
    std::string error;
    uint32_t width = 0;   ///< as Identify measured it
    uint32_t height = 0;
    bool sizeKept = true;  ///< Decode left the measured width and height alone
    std::vector<uint8_t> bits;
};

/// SetRawData + Identify, then Decode when Identify says PR_OK.
template <typename Format>
ReadOutcome ReadBytes(const std::vector<uint8_t>& bytes)
{
    Format file("");
    file.SetRawData(bytes.data(), bytes.size());
    ReadOutcome outcome;
    outcome.identified = file.Identify(outcome.error);
    if (outcome.identified != PR_OK)
        return outcome;
    outcome.width = file.Width();
    outcome.height = file.Height();
    outcome.decoded = file.Decode(outcome.error);
    outcome.sizeKept = file.Width() == outcome.width && file.Height() == outcome.height;
    if (outcome.decoded) {
        auto bits = file.Bits();
        outcome.bits.assign(bits.begin(), bits.end());
    }
    return outcome;
}

struct EncodeOutcome {
    PictureResult result = PR_INVALID;
    std::string error;
    uint32_t width = 0;   ///< the caller's width after Encode
    uint32_t height = 0;  ///< the caller's height after Encode
    uint32_t objectWidth = 0;
    uint32_t objectHeight = 0;
    std::vector<uint8_t> bytes;
};

template <typename Format>
EncodeOutcome EncodeBits(uint32_t width, uint32_t height, const std::vector<uint8_t>& bits)
{
    Format file("");
    file.SetPicture(bits.data(), bits.size());
    EncodeOutcome outcome;
    outcome.width = width;
    outcome.height = height;
    outcome.result = file.Encode(outcome.width, outcome.height, outcome.error, outcome.bytes);
    outcome.objectWidth = file.Width();
    outcome.objectHeight = file.Height();
    return outcome;
}

inline size_t RowBytes(uint32_t width) { return BytesPerRow(width); }

inline bool Dot(const std::vector<uint8_t>& bits, uint32_t width, uint32_t height, uint64_t x, uint64_t y)
{
    if (x >= width || y >= height)
        return false;
    return (bits[y * RowBytes(width) + x / 8] & (0x80u >> (x % 8))) != 0;
}

inline void SetDot(std::vector<uint8_t>& bits, uint32_t width, uint32_t x, uint32_t y)
{
    bits[y * RowBytes(width) + x / 8] |= static_cast<uint8_t>(0x80u >> (x % 8));
}

/// A picture of random dots, each black with probability `density`; the bits
/// beyond the width in each row's last byte are left 0.
inline std::vector<uint8_t> RandomPicture(uint32_t width, uint32_t height, double density, uint32_t seed)
{
    std::mt19937 random(seed);
    std::bernoulli_distribution black(density);
    std::vector<uint8_t> bits(RowBytes(width) * height, 0);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            if (black(random))
                SetDot(bits, width, x, y);
        }
    }
    return bits;
}

/// Every dot of two pictures equal, dots outside a picture counting as white.
/// Reports the first difference.
inline ::testing::AssertionResult SameDots(const std::vector<uint8_t>& a, uint32_t aw, uint32_t ah,
                                           const std::vector<uint8_t>& b, uint32_t bw, uint32_t bh)
{
    const uint32_t w = std::max(aw, bw);
    const uint32_t h = std::max(ah, bh);
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
            if (Dot(a, aw, ah, x, y) != Dot(b, bw, bh, x, y))
                return ::testing::AssertionFailure() << "dot (" << x << ", " << y << ") differs";
        }
    }
    return ::testing::AssertionSuccess();
}

/// Checks one reading of damaged bytes: a clean refusal with a message, or a
/// picture of exactly the reported size.
template <typename Format>
void ExpectCleanRead(const std::vector<uint8_t>& bytes, const std::string& what)
{
    ReadOutcome outcome = ReadBytes<Format>(bytes);
    switch (outcome.identified) {
    case PR_OK:
        ASSERT_TRUE(outcome.decoded) << what << ": " << outcome.error;
        ASSERT_TRUE(outcome.sizeKept) << what;
        ASSERT_EQ(outcome.bits.size(), RowBytes(outcome.width) * outcome.height) << what;
        break;
    case PR_INVALID:
    case PR_WRONG_FORMAT:
        ASSERT_EQ(outcome.error.rfind("Error - ", 0), 0u) << what << ": " << outcome.error;
        break;
    default:
        FAIL() << what << ": unexpected result " << outcome.identified;
    }
}

/// Every byte changed (complemented, its lowest and highest bit flipped, and
/// set to a few command bytes that change a stream's structure), and every
/// truncation length. Each read gets an exact-size copy of the bytes, so a
/// read past their end is caught by the sanitizer.
template <typename Format>
void MutationSweep(const std::vector<uint8_t>& valid)
{
    static const uint8_t kFlips[] = {0xFF, 0x01, 0x80};
    static const uint8_t kReplacements[] = {0x00, 0x0A, 0x11, 0x15, 0x1B, 0xFF};
    for (size_t i = 0; i < valid.size(); ++i) {
        std::vector<uint8_t> mutated = valid;
        for (uint8_t flip : kFlips) {
            mutated[i] = static_cast<uint8_t>(valid[i] ^ flip);
            ExpectCleanRead<Format>(mutated, "byte " + std::to_string(i) + " xor " + std::to_string(flip));
        }
        for (uint8_t replacement : kReplacements) {
            mutated[i] = replacement;
            ExpectCleanRead<Format>(mutated, "byte " + std::to_string(i) + " set to " + std::to_string(replacement));
        }
        if (::testing::Test::HasFatalFailure())
            return;
    }
    for (size_t length = 0; length < valid.size(); ++length) {
        std::vector<uint8_t> cut(valid.begin(), valid.begin() + static_cast<std::ptrdiff_t>(length));
        ExpectCleanRead<Format>(cut, "cut to " + std::to_string(length) + " bytes");
        if (::testing::Test::HasFatalFailure())
            return;
    }
}

}  // namespace printer_format_testing
