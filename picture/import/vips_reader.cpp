// The image library's side of the import, built as a module of its own
// (libmarquen_vips_reader.so) that the importer loads on first use: libvips
// and the hundred libraries it links cost some 30 ms of start-up, which a
// converter run or a printer command must not pay when it reads no picture.
//
// libvips gives one decoder interface for every format asked for (PNG, JPEG,
// GIF, WebP, TIFF through the reference libraries; bitmaps of any depth or
// compression through its ImageMagick module), lazy header reads for the size
// check, and a parallel pipeline that hands rows over in order, so a large
// picture is never held in colour.
#include "vips_reader.h"

#include "picture_file.h"

#include <vips/vips.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace {

// The decoders report damage they can step over (a truncated row, a bad tag,
// a missing end) as warnings, not errors. Every warning of a read is kept
// here and fails that read: never half a picture. Reads run one at a time
// (g_readLock), since the library's warnings carry no owner.
std::mutex g_readLock;
std::mutex g_warningLock;
std::vector<std::string> g_warnings;  // guarded by g_warningLock

void KeepWarning(const gchar* /*domain*/, GLogLevelFlags /*level*/, const gchar* message, gpointer /*user*/)
{
    std::lock_guard lock(g_warningLock);
    if (g_warnings.size() < 4 && message != nullptr)
        g_warnings.emplace_back(message);
}

std::optional<std::string> TakeWarning()
{
    std::lock_guard lock(g_warningLock);
    if (g_warnings.empty())
        return std::nullopt;
    std::string first = g_warnings.front();
    g_warnings.clear();
    return first;
}

// The library's own message, one line, after "Error - <what>: ".
std::string LibraryError(const char* what)
{
    std::string reason = vips_error_buffer();
    vips_error_clear();
    if (std::optional<std::string> warning = TakeWarning())
        reason = reason.empty() ? *warning : reason + " " + *warning;
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
            g_log_set_handler("VIPS", static_cast<GLogLevelFlags>(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE),
                              KeepWarning, nullptr);
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

// The library's loaders all take the buffer, its length, the image and
// options ending in a null.
using BufferLoader = int (*)(void* data, size_t length, VipsImage** image, ...);

BufferLoader LoaderFor(ImageFormat format)
{
    switch (format) {
    case ImageFormat::Png:
        return vips_pngload_buffer;
    case ImageFormat::Jpeg:
        return vips_jpegload_buffer;
    case ImageFormat::Gif:
        return vips_gifload_buffer;
    case ImageFormat::WebP:
        return vips_webpload_buffer;
    case ImageFormat::Tiff:
        return vips_tiffload_buffer;
    case ImageFormat::Bmp:
        break;
    }
    return vips_magickload_buffer;
}

// Opens the header only; the pixels are decoded when pulled. Each format goes
// to its own loader, never to whichever one claims the bytes first. Warnings
// of the decoder (a truncated file, a bad checksum) fail the pull.
ImagePtr OpenImage(std::span<const uint8_t> bytes, ImageFormat format, std::string& error)
{
    if (!StartLibrary(error))
        return nullptr;
    TakeWarning();
    void* data = const_cast<uint8_t*>(bytes.data());
    const size_t length = bytes.size();
    VipsImage* image = nullptr;
    // Every decoder stops at its first warning (a truncated or damaged
    // file is a failure, never half a picture) and reads in one pass.
    const int result = LoaderFor(format)(data, length, &image, "fail_on", VIPS_FAIL_ON_WARNING, "access",
                                         VIPS_ACCESS_SEQUENTIAL, nullptr);
    if (result == 0 && image != nullptr) {
        if (std::optional<std::string> warning = TakeWarning()) {
            g_object_unref(image);
            error = "Error - Picture cannot be read: " + *warning;
            return nullptr;
        }
    }
    if (result != 0 || image == nullptr) {
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
            out[x] = GreyLevel(rgb[0], rgb[1], rgb[2]);
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

extern "C" bool MarquenVipsReadSize(const uint8_t* data, size_t length, ImageFormat format, ImageSize* size,
                                    std::string* error) noexcept
try {
    std::span<const uint8_t> bytes(data, length);
    std::lock_guard serial(g_readLock);
    ImagePtr image = OpenImage(bytes, format, *error);
    if (!image)
        return false;
    *size = {static_cast<uint32_t>(image->Xsize), static_cast<uint32_t>(image->Ysize)};
    return true;
} catch (const std::exception&) {
    *error = picture_messages::kMemoryAllocation;
    return false;
}

extern "C" bool MarquenVipsReadGrey(const uint8_t* data, size_t length, ImageFormat format, uint32_t fitWidth,
                                    GreyPicture* greyOut, std::string* errorOut, ImageSize* declared) noexcept
try {
    std::span<const uint8_t> bytes(data, length);
    GreyPicture& grey = *greyOut;
    std::string& error = *errorOut;
    std::lock_guard serial(g_readLock);
    ImagePtr image = OpenImage(bytes, format, error);
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
    if (std::optional<std::string> warning = TakeWarning()) {
        error = "Error - Picture cannot be decoded: " + *warning;
        return false;
    }
    if (fitWidth != 0 && fitWidth != width && !Resample(decoded, fitWidth, error))
        return false;
    TakeWarning();
    grey = std::move(decoded);
    return true;
} catch (const std::exception&) {
    *errorOut = picture_messages::kMemoryAllocation;
    return false;
}

extern "C" bool MarquenVipsResample(GreyPicture* grey, uint32_t fitWidth, std::string* error) noexcept
try {
    std::lock_guard serial(g_readLock);
    if (!StartLibrary(*error))
        return false;
    return Resample(*grey, fitWidth, *error);
} catch (const std::exception&) {
    *error = picture_messages::kMemoryAllocation;
    return false;
}
