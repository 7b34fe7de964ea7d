#pragma once
// Decoding a colour or grey picture file (PNG, JPEG, GIF, WebP, TIFF, BMP of
// any depth) into grey levels: PNG through libpng, the rest and every
// resampling through libvips in a module loaded on first use
// (libmarquen_vips_reader.so, found beside the program). No dithering here.
#include "dither.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

enum class ImageFormat { Png, Jpeg, Gif, WebP, Tiff, Bmp };

/// "PNG", "JPEG", "GIF", "WebP", "TIFF", "BMP".
std::string_view ImageFormatName(ImageFormat format);

/// The format of bytes by its signature, when it is one the importer reads and
/// the picture formats do not: a bitmap counts only when it is not the plain
/// monochrome kind (bit count 1, no compression) that the bitmap reader takes,
/// so those and the printer formats stay theirs. nullopt otherwise.
std::optional<ImageFormat> DetectImageFormat(std::span<const uint8_t> bytes);

struct ImageSize {
    uint32_t width = 0;
    uint32_t height = 0;
};

/// The size bytes (a file of a DetectImageFormat format) declares, from the
/// header alone. False with "Error - ..." when the header cannot be read.
bool ReadImageSize(std::span<const uint8_t> bytes, ImageSize& size, std::string& error);

/// Decodes bytes (a file of a DetectImageFormat format) into grey levels:
/// 8-bit sRGB, any alpha composited over white, grey = round(0.299 R +
/// 0.587 G + 0.114 B); for a GIF the first frame, for a TIFF the first page.
/// With fitWidth (not 0) the grey picture is then resampled to fitWidth x
/// round(height x fitWidth / width). Sizes beyond PictureFitsLimit are refused
/// from the header, before any pixel is decoded. Any warning of the decoder (a
/// truncated or damaged file) is a failure: never half a picture. False with
/// "Error - ..." and the decoder's reason. Any thread; no time-out (the work
/// is bounded by the size limit). declared, when given, receives the size the
/// file declares.
bool ReadGreyPicture(std::span<const uint8_t> bytes, uint32_t fitWidth, GreyPicture& grey, std::string& error,
                     ImageSize* declared = nullptr);

/// round(height x fitWidth / width), at least 1: the height a fitted picture
/// gets (the height itself when width is 0).
constexpr uint32_t FittedHeight(uint32_t width, uint32_t height, uint32_t fitWidth)
{
    if (width == 0)
        return height;
    const uint64_t fitted = (static_cast<uint64_t>(height) * fitWidth * 2 + width) / (2ull * width);
    return fitted < 1 ? 1 : fitted > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(fitted);
}

/// The grey level of an 8-bit sRGB colour: round(0.299 R + 0.587 G +
/// 0.114 B), in exact integers, halves up.
constexpr uint8_t GreyLevel(uint32_t red, uint32_t green, uint32_t blue)
{
    return static_cast<uint8_t>((299u * red + 587u * green + 114u * blue + 500u) / 1000u);
}

/// A colour over white with 8-bit alpha (0 transparent, 255 opaque), rounded.
constexpr uint32_t OverWhite(uint32_t value, uint32_t alpha)
{
    return (value * alpha + 255u * (255u - alpha) + 127u) / 255u;
}
