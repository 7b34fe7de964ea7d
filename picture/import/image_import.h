#pragma once
// Importing a colour or grey picture file as printer dots: decode to grey,
// fit the width, adjust the tone, dither.
#include "dither.h"
#include "image_reader.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct ImportOptions {
    DitherSettings dither;
    /// Width in dots to resample to before dithering (height keeps the aspect);
    /// 0 keeps the picture's own width.
    uint32_t fitWidth = 0;
};

/// The dots of an imported picture, in the one picture bit layout.
struct ImportedPicture {
    ImageFormat format = ImageFormat::Png;
    uint32_t sourceWidth = 0;   ///< as the file declares it
    uint32_t sourceHeight = 0;
    uint32_t width = 0;         ///< of the dots (after fitting)
    uint32_t height = 0;
    std::vector<uint8_t> bits;  ///< BytesPerRow(width) x height
};

/// Imports file bytes of a DetectImageFormat format. False with "Error - ..."
/// (the decoder's reason, or the size limit) and nothing in picture.
bool ImportPicture(std::span<const uint8_t> bytes, const ImportOptions& options, ImportedPicture& picture,
                   std::string& error);

/// Grey levels to dots: tone adjustments then dithering, as ImportPicture does
/// after decoding. The preview of an import dialog calls it on every change.
std::vector<uint8_t> GreyToBits(GreyPicture grey, const DitherSettings& settings);

/// The bytes of the file at path when it is a picture to import (a
/// DetectImageFormat format); nothing when it is a one-bit bitmap or a
/// printer format, or cannot be read (the usual open then says why).
std::optional<std::vector<uint8_t>> ImportableFileBytes(const std::string& path);
