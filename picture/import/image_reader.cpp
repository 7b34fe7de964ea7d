// The image library is libvips: one decoder interface for every format asked
// for (PNG, JPEG, GIF, WebP, TIFF through the reference libraries; bitmaps of
// any depth or compression through its ImageMagick module), lazy header
// reads for the size check, and a parallel pipeline that hands rows over in
// order, so a large picture is never held in colour.
#include "image_reader.h"

#include "picture_file.h"

#include <vips/vips.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>

namespace {

constexpr std::string_view kFormatNames[] = {"PNG", "JPEG", "GIF", "WebP", "TIFF", "BMP"};

bool StartsWith(std::span<const uint8_t> bytes, std::string_view prefix, size_t at = 0)
{
    return bytes.size() >= at + prefix.size() && std::memcmp(bytes.data() + at, prefix.data(), prefix.size()) == 0;
}

// The library's own message, one line, after "Error - <what>: ".
std::string LibraryError(const char* what)
{
    std::string reason = vips_error_buffer();
    vips_error_clear();
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' '))
        reason.pop_back();
    std::replace(reason.begin(), reason.end(), '\n', ' ');
    if (reason.empty())
        reason = "unknown reason";
    return std::string("Error - ") + what + ": " + reason;
}

bool StartLibrary(std::string& error)
{
    static std::once_flag once;
    static bool started = false;
    std::call_once(once, [] {
        started = VIPS_INIT("marquen") == 0;
        if (started) {
            // Each picture is read once: cached operations would only hold memory.
            vips_cache_set_max(0);
        }
    });
    if (!started)
        error = LibraryError("the image library cannot start");
    return started;
}

struct ImageUnref {
    void operator()(VipsImage* image) const { g_object_unref(image); }
};
using ImagePtr = std::unique_ptr<VipsImage, ImageUnref>;

// Opens the header only; the pixels are decoded when pulled. Warnings of the
// decoder (a truncated file, a bad checksum) fail the pull.
ImagePtr OpenImage(std::span<const uint8_t> bytes, std::string& error)
{
    if (!StartLibrary(error))
        return nullptr;
    VipsImage* image = vips_image_new_from_buffer(bytes.data(), bytes.size(), "", "fail_on",
                                                  VIPS_FAIL_ON_WARNING, "access", VIPS_ACCESS_SEQUENTIAL, nullptr);
    if (image == nullptr) {
        error = LibraryError("Picture cannot be read");
        return nullptr;
    }
    return ImagePtr(image);
}

// One step of the pipeline: out replaces image, or false with the message.
template <typename Step>
bool Apply(ImagePtr& image, std::string& error, Step step)
{
    VipsImage* out = nullptr;
    if (step(image.get(), &out) != 0) {
        error = LibraryError("Picture cannot be decoded");
        return false;
    }
    image.reset(out);
    return true;
}

// 8-bit sRGB, alpha over white, exactly three bands.
bool ToOpaqueRgb(ImagePtr& image, std::string& error)
{
    if (image->Type != VIPS_INTERPRETATION_sRGB || image->BandFmt != VIPS_FORMAT_UCHAR) {
        if (!Apply(image, error, [](VipsImage* in, VipsImage** out) {
                return vips_colourspace(in, out, VIPS_INTERPRETATION_sRGB, nullptr);
            }))
            return false;
    }
    if (image->BandFmt != VIPS_FORMAT_UCHAR &&
        !Apply(image, error, [](VipsImage* in, VipsImage** out) { return vips_cast_uchar(in, out, nullptr); }))
        return false;
    if (image->Bands > 3 && vips_image_hasalpha(image.get())) {
        if (!Apply(image, error, [](VipsImage* in, VipsImage** out) {
                double white[] = {255.0, 255.0, 255.0};
                VipsArrayDouble* background = vips_array_double_new(white, 3);
                int result = vips_flatten(in, out, "background", background, "max_alpha", 255.0, nullptr);
                vips_area_unref(VIPS_AREA(background));
                return result;
            }))
            return false;
    }
    if (image->Bands > 3 &&
        !Apply(image, error, [](VipsImage* in, VipsImage** out) { return vips_extract_band(in, out, 0, "n", 3, nullptr); }))
        return false;
    if (image->Bands != 3 || image->BandFmt != VIPS_FORMAT_UCHAR) {
        error = "Error - Picture cannot be decoded: unexpected pixel layout";
        return false;
    }
    return true;
}

struct GreySink {
    GreyPicture* grey;
};

// Called by the library's pipeline with the rows in order, top to bottom.
int WriteGreyRows(VipsRegion* region, VipsRect* area, void* user)
{
    GreyPicture& grey = *static_cast<GreySink*>(user)->grey;
    for (int y = area->top; y < area->top + area->height; ++y) {
        const uint8_t* rgb = reinterpret_cast<const uint8_t*>(VIPS_REGION_ADDR(region, area->left, y));
        uint8_t* out = grey.levels.data() + static_cast<size_t>(y) * grey.width + static_cast<size_t>(area->left);
        for (int x = 0; x < area->width; ++x, rgb += 3) {
            // round(0.299 R + 0.587 G + 0.114 B) in exact integers, halves up.
            out[x] = static_cast<uint8_t>((299u * rgb[0] + 587u * rgb[1] + 114u * rgb[2] + 500u) / 1000u);
        }
    }
    return 0;
}

bool Resample(GreyPicture& grey, uint32_t fitWidth, std::string& error)
{
    const uint32_t fittedHeight = FittedHeight(grey.width, grey.height, fitWidth);
    ImagePtr image(vips_image_new_from_memory(grey.levels.data(), grey.levels.size(), static_cast<int>(grey.width),
                                              static_cast<int>(grey.height), 1, VIPS_FORMAT_UCHAR));
    if (!image) {
        error = LibraryError("Picture cannot be resampled");
        return false;
    }
    const double horizontal = static_cast<double>(fitWidth) / grey.width;
    const double vertical = static_cast<double>(fittedHeight) / grey.height;
    VipsImage* resized = nullptr;
    if (vips_resize(image.get(), &resized, horizontal, "vscale", vertical, nullptr) != 0) {
        error = LibraryError("Picture cannot be resampled");
        return false;
    }
    image.reset(resized);
    // The library rounds its output size itself; pin it to the promised one.
    if (static_cast<uint32_t>(image->Xsize) != fitWidth || static_cast<uint32_t>(image->Ysize) != fittedHeight) {
        if (!Apply(image, error, [&](VipsImage* in, VipsImage** out) {
                return vips_embed(in, out, 0, 0, static_cast<int>(fitWidth), static_cast<int>(fittedHeight),
                                  "extend", VIPS_EXTEND_COPY, nullptr);
            }))
            return false;
    }
    size_t length = 0;
    void* pixels = vips_image_write_to_memory(image.get(), &length);
    if (pixels == nullptr) {
        error = LibraryError("Picture cannot be resampled");
        return false;
    }
    GreyPicture fitted;
    fitted.width = fitWidth;
    fitted.height = fittedHeight;
    const auto* first = static_cast<const uint8_t*>(pixels);
    fitted.levels.assign(first, first + length);
    g_free(pixels);
    if (fitted.levels.size() != static_cast<size_t>(fitWidth) * fittedHeight) {
        error = "Error - Picture cannot be resampled: wrong size";
        return false;
    }
    grey = std::move(fitted);
    return true;
}

}  // namespace

std::string_view ImageFormatName(ImageFormat format)
{
    return kFormatNames[static_cast<size_t>(format)];
}

std::optional<ImageFormat> DetectImageFormat(std::span<const uint8_t> bytes)
{
    if (StartsWith(bytes, "\x89PNG\r\n\x1a\n"))
        return ImageFormat::Png;
    if (StartsWith(bytes, "\xFF\xD8\xFF"))
        return ImageFormat::Jpeg;
    if (StartsWith(bytes, "GIF87a") || StartsWith(bytes, "GIF89a"))
        return ImageFormat::Gif;
    if (StartsWith(bytes, "RIFF") && StartsWith(bytes, "WEBP", 8))
        return ImageFormat::WebP;
    if (StartsWith(bytes, std::string_view("II*\0", 4)) || StartsWith(bytes, std::string_view("MM\0*", 4)) ||
        StartsWith(bytes, std::string_view("II+\0", 4)) || StartsWith(bytes, std::string_view("MM\0+", 4)))
        return ImageFormat::Tiff;
    // The bitmap reader looks at the low bytes of the bit count (28) and of the
    // compression (30) only; what it would take stays its own.
    if (StartsWith(bytes, "BM") && bytes.size() > 30 && (bytes[28] != 1 || bytes[30] != 0))
        return ImageFormat::Bmp;
    return std::nullopt;
}

uint32_t FittedHeight(uint32_t width, uint32_t height, uint32_t fitWidth)
{
    if (width == 0)
        return height;
    uint64_t fitted = (static_cast<uint64_t>(height) * fitWidth * 2 + width) / (2ull * width);
    return static_cast<uint32_t>(std::clamp<uint64_t>(fitted, 1, UINT32_MAX));
}

bool ReadGreyPicture(std::span<const uint8_t> bytes, uint32_t fitWidth, GreyPicture& grey, std::string& error,
                     ImageSize* declared)
{
    ImagePtr image = OpenImage(bytes, error);
    if (!image)
        return false;
    // Decompression bombs stop here, on the declared size, before any pixel.
    const uint32_t width = static_cast<uint32_t>(image->Xsize);
    const uint32_t height = static_cast<uint32_t>(image->Ysize);
    if (declared != nullptr)
        *declared = {width, height};
    if (!PictureFitsLimit(width, height)) {
        error = PictureTooLargeMessage(width, height);
        return false;
    }
    if (fitWidth != 0 && !PictureFitsLimit(fitWidth, FittedHeight(width, height, fitWidth))) {
        error = PictureTooLargeMessage(fitWidth, FittedHeight(width, height, fitWidth));
        return false;
    }
    if (!ToOpaqueRgb(image, error))
        return false;

    GreyPicture decoded;
    decoded.width = width;
    decoded.height = height;
    try {
        decoded.levels.assign(static_cast<size_t>(width) * height, 0);
    } catch (const std::bad_alloc&) {
        error = picture_messages::kMemoryAllocation;
        return false;
    }
    GreySink sink{&decoded};
    if (vips_sink_disc(image.get(), WriteGreyRows, &sink) != 0) {
        error = LibraryError("Picture cannot be decoded");
        return false;
    }
    if (fitWidth != 0 && fitWidth != width && !Resample(decoded, fitWidth, error))
        return false;
    grey = std::move(decoded);
    return true;
}
