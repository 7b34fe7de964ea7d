// The dots a grey picture becomes: exact thresholds, the mean grey kept by
// the diffusion and ordered methods, tone adjustments, invert, padding bits.
#include "dither.h"
#include "picture_types.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

GreyPicture Flat(uint32_t width, uint32_t height, uint8_t level)
{
    return {width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height, level)};
}

bool Black(const std::vector<uint8_t>& bits, uint32_t width, uint32_t x, uint32_t y)
{
    return (bits[static_cast<size_t>(BytesPerRow(width)) * y + x / 8] & (0x80u >> (x % 8))) != 0;
}

double BlackShare(const std::vector<uint8_t>& bits, uint32_t width, uint32_t height)
{
    size_t black = 0;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            black += Black(bits, width, x, y) ? 1 : 0;
    return static_cast<double>(black) / (static_cast<double>(width) * height);
}

// Every level 0..255 once per row, so each threshold meets every level.
GreyPicture Ramp()
{
    GreyPicture ramp{256, 2, {}};
    for (int y = 0; y < 2; ++y)
        for (int level = 0; level < 256; ++level)
            ramp.levels.push_back(static_cast<uint8_t>(level));
    return ramp;
}

TEST(Dither, ThresholdIsBlackExactlyBelowIt)
{
    const GreyPicture ramp = Ramp();
    for (int threshold : {0, 1, 100, 128, 255, 256}) {
        DitherSettings settings;
        settings.method = DitherMethod::None;
        settings.threshold = threshold;
        std::vector<uint8_t> bits = DitherToBits(ramp, settings);
        for (uint32_t x = 0; x < 256; ++x)
            ASSERT_EQ(Black(bits, 256, x, 1), static_cast<int>(x) < threshold) << "level " << x << " threshold " << threshold;
        settings.invert = true;
        std::vector<uint8_t> inverted = DitherToBits(ramp, settings);
        for (size_t i = 0; i < bits.size(); ++i)
            ASSERT_EQ(inverted[i], static_cast<uint8_t>(~bits[i]));
    }
}

TEST(Dither, MethodsKeepTheMeanGrey)
{
    constexpr uint32_t kSize = 256;
    struct Case {
        DitherMethod method;
        std::vector<int> levels;
        double tolerance;
    };
    const Case cases[] = {
        {DitherMethod::FloydSteinberg, {32, 96, 160, 224}, 0.02},
        {DitherMethod::Jarvis, {32, 96, 160, 224}, 0.02},
        {DitherMethod::Stucki, {32, 96, 160, 224}, 0.02},
        {DitherMethod::Ordered, {32, 96, 160, 224}, 0.02},
        // Atkinson drops a quarter of the error: mid greys only, more slack.
        {DitherMethod::Atkinson, {96, 160}, 0.05},
    };
    for (const Case& c : cases) {
        for (int level : c.levels) {
            DitherSettings settings;
            settings.method = c.method;
            double share = BlackShare(DitherToBits(Flat(kSize, kSize, static_cast<uint8_t>(level)), settings), kSize, kSize);
            EXPECT_NEAR(share, (255.0 - level) / 255.0, c.tolerance)
                << DitherMethodName(c.method) << " on grey " << level;
        }
    }
}

TEST(Dither, ExtremesAreSolidAndPaddingStaysWhite)
{
    constexpr uint32_t kWidth = 13;  // three padding bits in every row's last byte
    for (DitherMethod method : {DitherMethod::None, DitherMethod::Ordered, DitherMethod::FloydSteinberg,
                                DitherMethod::Atkinson, DitherMethod::Jarvis, DitherMethod::Stucki}) {
        DitherSettings settings;
        settings.method = method;
        EXPECT_EQ(BlackShare(DitherToBits(Flat(kWidth, 5, 0), settings), kWidth, 5), 1.0) << DitherMethodName(method);
        std::vector<uint8_t> white = DitherToBits(Flat(kWidth, 5, 255), settings);
        EXPECT_EQ(BlackShare(white, kWidth, 5), 0.0) << DitherMethodName(method);
        settings.invert = true;
        std::vector<uint8_t> black = DitherToBits(Flat(kWidth, 5, 255), settings);
        for (uint32_t y = 0; y < 5; ++y)
            EXPECT_EQ(black[y * 2 + 1], 0xF8) << DitherMethodName(method);
    }
}

TEST(Dither, MethodNamesRoundTrip)
{
    for (DitherMethod method : {DitherMethod::None, DitherMethod::Ordered, DitherMethod::FloydSteinberg,
                                DitherMethod::Atkinson, DitherMethod::Jarvis, DitherMethod::Stucki})
        EXPECT_EQ(ParseDitherMethod(DitherMethodName(method)), method);
    EXPECT_EQ(ParseDitherMethod("floyd"), std::nullopt);
    EXPECT_EQ(ParseDitherMethod("Stucki"), std::nullopt);
}

TEST(Dither, ToneAdjustments)
{
    GreyPicture neutral = Ramp();
    AdjustTone(neutral, DitherSettings{});
    EXPECT_EQ(neutral.levels, Ramp().levels);

    auto adjusted = [](int level, int brightness, int contrast, double gamma) {
        GreyPicture one = Flat(1, 1, static_cast<uint8_t>(level));
        DitherSettings settings;
        settings.brightness = brightness;
        settings.contrast = contrast;
        settings.gamma = gamma;
        AdjustTone(one, settings);
        return static_cast<int>(one.levels[0]);
    };
    EXPECT_EQ(adjusted(100, 30, 0, 1.0), 130);
    EXPECT_EQ(adjusted(250, 30, 0, 1.0), 255);
    EXPECT_EQ(adjusted(10, -30, 0, 1.0), 0);
    EXPECT_EQ(adjusted(100, 0, 100, 1.0), 73);    // (100 - 127.5) x 2 + 127.5 = 72.5
    EXPECT_EQ(adjusted(100, 0, -100, 1.0), 128);  // all to middle grey
    EXPECT_EQ(adjusted(64, 0, 0, 2.0), 128);      // 255 (64 / 255)^0.5 = 127.7
    EXPECT_EQ(adjusted(0, 0, 0, 2.0), 0);
    EXPECT_EQ(adjusted(255, 0, 0, 0.5), 255);
}

}  // namespace
