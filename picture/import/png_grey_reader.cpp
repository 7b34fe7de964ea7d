#include "png_grey_reader.h"

#include "picture_file.h"

#include <png.h>

#include <memory>
#include <vector>

namespace {

// libpng's simplified reader: it expands palettes, low depths and tRNS, and
// reduces 16-bit samples, to the 8-bit sRGB RGBA asked for.
struct PngImage {
    png_image image{};
    PngImage() { image.version = PNG_IMAGE_VERSION; }
    ~PngImage() { png_image_free(&image); }
    PngImage(const PngImage&) = delete;
    PngImage& operator=(const PngImage&) = delete;
};

std::string PngError(const char* what, const png_image& image)
{
    return std::string("Error - ") + what + ": " + (image.message[0] != '\0' ? image.message : "libpng error");
}

bool Begin(std::span<const uint8_t> bytes, PngImage& png, std::string& error)
{
    if (!png_image_begin_read_from_memory(&png.image, bytes.data(), bytes.size())) {
        error = PngError("Picture cannot be read", png.image);
        return false;
    }
    if ((png.image.warning_or_error & PNG_IMAGE_WARNING) != 0) {
        error = PngError("Picture cannot be read", png.image);
        return false;
    }
    return true;
}

}  // namespace

bool ReadPngSize(std::span<const uint8_t> bytes, ImageSize& size, std::string& error)
{
    PngImage png;
    if (!Begin(bytes, png, error))
        return false;
    size = {png.image.width, png.image.height};
    return true;
}

bool ReadPngGrey(std::span<const uint8_t> bytes, GreyPicture& grey, ImageSize& declared, std::string& error)
{
    PngImage png;
    if (!Begin(bytes, png, error))
        return false;
    const uint32_t width = png.image.width;
    const uint32_t height = png.image.height;
    declared = {width, height};
    if (!PictureFitsLimit(width, height)) {
        error = PictureTooLargeMessage(width, height);
        return false;
    }
    png.image.format = PNG_FORMAT_RGBA;
    // 16-bit samples without a gAMA or sRGB chunk hold sRGB values like 8-bit
    // ones do (every other reader takes them so); libpng would take them as
    // linear and lighten the picture.
    png.image.flags |= PNG_IMAGE_FLAG_16BIT_sRGB;
    std::vector<uint8_t> rgba;
    GreyPicture decoded{width, height, {}};
    try {
        rgba.resize(PNG_IMAGE_SIZE(png.image));
        decoded.levels.resize(static_cast<size_t>(width) * height);
    } catch (const std::bad_alloc&) {
        error = picture_messages::kMemoryAllocation;
        return false;
    }
    if (!png_image_finish_read(&png.image, nullptr, rgba.data(), 0, nullptr) ||
        (png.image.warning_or_error & PNG_IMAGE_WARNING) != 0) {
        error = PngError("Picture cannot be decoded", png.image);
        return false;
    }
    const uint8_t* pixel = rgba.data();
    for (uint8_t& level : decoded.levels) {
        const uint32_t alpha = pixel[3];
        level = alpha == 255 ? GreyLevel(pixel[0], pixel[1], pixel[2])
                             : GreyLevel(OverWhite(pixel[0], alpha), OverWhite(pixel[1], alpha),
                                         OverWhite(pixel[2], alpha));
        pixel += 4;
    }
    grey = std::move(decoded);
    return true;
}
