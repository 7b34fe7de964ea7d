#pragma once
// PNG read straight through libpng: the common case of an imported logo, kept
// free of the image library's start-up cost.
#include "image_reader.h"

/// Pictures beyond this many pixels go to the image library, which streams
/// them; this reader holds the picture once in 8-bit RGBA.
inline constexpr uint64_t kPngDirectPixelLimit = 16u << 20;

/// Decodes a complete PNG (any colour type, depth, interlace) into grey levels:
/// 8-bit sRGB, alpha over white, GreyLevel. declared receives the header's
/// size. False with "Error - ..." and libpng's reason for a damaged file, any
/// libpng warning included, or the size message beyond PictureFitsLimit.
bool ReadPngGrey(std::span<const uint8_t> bytes, GreyPicture& grey, ImageSize& declared, std::string& error);

/// The size the PNG header declares; false with a message when unreadable.
bool ReadPngSize(std::span<const uint8_t> bytes, ImageSize& size, std::string& error);
