#include "dither.h"

#include "picture_types.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

constexpr std::array<std::string_view, 6> kMethodNames{"none",     "ordered", "floyd-steinberg",
                                                       "atkinson", "jarvis",  "stucki"};

// One share of a diffusion kernel: dx columns ahead (in the scanning
// direction), dy rows below, weight parts of the error.
struct KernelTap {
    int dx;
    int dy;
    int weight;
};

struct Kernel {
    std::span<const KernelTap> taps;
    int divisor;  ///< the taps of Atkinson sum to 6 of its 8: a quarter of the error is dropped
};

constexpr KernelTap kFloydSteinberg[] = {{1, 0, 7}, {-1, 1, 3}, {0, 1, 5}, {1, 1, 1}};
constexpr KernelTap kAtkinson[] = {{1, 0, 1}, {2, 0, 1}, {-1, 1, 1}, {0, 1, 1}, {1, 1, 1}, {0, 2, 1}};
constexpr KernelTap kJarvis[] = {{1, 0, 7},  {2, 0, 5},  {-2, 1, 3}, {-1, 1, 5}, {0, 1, 7}, {1, 1, 5},
                                 {2, 1, 3},  {-2, 2, 1}, {-1, 2, 3}, {0, 2, 5},  {1, 2, 3}, {2, 2, 1}};
constexpr KernelTap kStucki[] = {{1, 0, 8},  {2, 0, 4},  {-2, 1, 2}, {-1, 1, 4}, {0, 1, 8}, {1, 1, 4},
                                 {2, 1, 2},  {-2, 2, 1}, {-1, 2, 2}, {0, 2, 4},  {1, 2, 2}, {2, 2, 1}};

Kernel KernelOf(DitherMethod method)
{
    switch (method) {
    case DitherMethod::Atkinson:
        return {kAtkinson, 8};
    case DitherMethod::Jarvis:
        return {kJarvis, 48};
    case DitherMethod::Stucki:
        return {kStucki, 42};
    default:
        return {kFloydSteinberg, 16};
    }
}

// The classic 8 x 8 Bayer index matrix (0..63).
constexpr uint8_t kBayer8[8][8] = {
    {0, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26}, {12, 44, 4, 36, 14, 46, 6, 38},
    {60, 28, 52, 20, 62, 30, 54, 22}, {3, 35, 11, 43, 1, 33, 9, 41},  {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37}, {63, 31, 55, 23, 61, 29, 53, 21}};

inline void SetBlack(std::vector<uint8_t>& bits, size_t rowStart, uint32_t x)
{
    bits[rowStart + x / 8] |= static_cast<uint8_t>(0x80u >> (x % 8));
}

void Threshold(const GreyPicture& grey, int threshold, std::vector<uint8_t>& bits)
{
    const size_t rowBytes = BytesPerRow(grey.width);
    for (uint32_t y = 0; y < grey.height; ++y) {
        const uint8_t* row = grey.levels.data() + static_cast<size_t>(y) * grey.width;
        for (uint32_t x = 0; x < grey.width; ++x) {
            if (row[x] < threshold)
                SetBlack(bits, y * rowBytes, x);
        }
    }
}

// Dot black when the level lies below the cell's threshold, the 64 thresholds
// spread evenly over 0..255 ((2i + 1) / 128 of the way), so a flat level g
// comes out with close to (255 - g) / 255 of its dots black.
void Ordered(const GreyPicture& grey, std::vector<uint8_t>& bits)
{
    const size_t rowBytes = BytesPerRow(grey.width);
    for (uint32_t y = 0; y < grey.height; ++y) {
        const uint8_t* row = grey.levels.data() + static_cast<size_t>(y) * grey.width;
        for (uint32_t x = 0; x < grey.width; ++x) {
            if (128 * row[x] < (2 * kBayer8[y % 8][x % 8] + 1) * 255)
                SetBlack(bits, y * rowBytes, x);
        }
    }
}

void Diffuse(const GreyPicture& grey, const Kernel& kernel, std::vector<uint8_t>& bits)
{
    const size_t rowBytes = BytesPerRow(grey.width);
    // Three rows of pending error (the current one and two below), two spare
    // cells on each side so the taps never test the edges; what lands there
    // is dropped with the margin.
    constexpr int kMargin = 2;
    const size_t stride = static_cast<size_t>(grey.width) + 2 * kMargin;
    std::vector<float> pending(3 * stride, 0.0f);
    std::array<float*, 3> rows{pending.data(), pending.data() + stride, pending.data() + 2 * stride};
    const float scale = 1.0f / static_cast<float>(kernel.divisor);

    for (uint32_t y = 0; y < grey.height; ++y) {
        const uint8_t* levels = grey.levels.data() + static_cast<size_t>(y) * grey.width;
        for (uint32_t x = 0; x < grey.width; ++x) {
            const size_t cell = x + kMargin;
            // The carried level is held to 0..255: error piled up in a solid
            // area would otherwise spill stray dots far past its edge.
            const float value = std::clamp(static_cast<float>(levels[x]) + rows[0][cell], 0.0f, 255.0f);
            float error;
            if (value < 127.5f) {
                SetBlack(bits, y * rowBytes, x);
                error = value;
            } else {
                error = value - 255.0f;
            }
            error *= scale;
            for (const KernelTap& tap : kernel.taps)
                rows[static_cast<size_t>(tap.dy)][cell + static_cast<ptrdiff_t>(tap.dx)] +=
                    error * static_cast<float>(tap.weight);
        }
        std::rotate(rows.begin(), rows.begin() + 1, rows.end());
        std::fill_n(rows[2], stride, 0.0f);
    }
}

}  // namespace

std::string_view DitherMethodName(DitherMethod method)
{
    return kMethodNames[static_cast<size_t>(method)];
}

std::optional<DitherMethod> ParseDitherMethod(std::string_view name)
{
    for (size_t i = 0; i < kMethodNames.size(); ++i) {
        if (kMethodNames[i] == name)
            return static_cast<DitherMethod>(i);
    }
    return std::nullopt;
}

void AdjustTone(GreyPicture& grey, const DitherSettings& settings)
{
    if (settings.brightness == 0 && settings.contrast == 0 && settings.gamma == 1.0)
        return;
    std::array<uint8_t, 256> table{};
    const double factor = (100.0 + settings.contrast) / 100.0;
    for (int level = 0; level < 256; ++level) {
        double value = level + settings.brightness;
        value = (value - 127.5) * factor + 127.5;
        value = std::clamp(value, 0.0, 255.0);
        if (settings.gamma != 1.0)
            value = 255.0 * std::pow(value / 255.0, 1.0 / settings.gamma);
        table[static_cast<size_t>(level)] = static_cast<uint8_t>(std::lround(std::clamp(value, 0.0, 255.0)));
    }
    for (uint8_t& level : grey.levels)
        level = table[level];
}

std::vector<uint8_t> DitherToBits(const GreyPicture& grey, const DitherSettings& settings)
{
    const size_t rowBytes = BytesPerRow(grey.width);
    std::vector<uint8_t> bits(rowBytes * grey.height, 0);
    switch (settings.method) {
    case DitherMethod::None:
        Threshold(grey, settings.threshold, bits);
        break;
    case DitherMethod::Ordered:
        Ordered(grey, bits);
        break;
    default:
        Diffuse(grey, KernelOf(settings.method), bits);
        break;
    }
    if (settings.invert && rowBytes != 0) {
        const uint8_t lastMask = kLastByteMask[grey.width % 8];
        for (size_t r = 0; r < grey.height; ++r) {
            uint8_t* row = bits.data() + r * rowBytes;
            for (size_t j = 0; j < rowBytes; ++j)
                row[j] = static_cast<uint8_t>(~row[j]);
            row[rowBytes - 1] &= lastMask;
        }
    }
    return bits;
}
