// Reading colour and grey pictures: the signature test, PNG through libpng
// directly, everything else (and every resampling) through the image library
// module, loaded on first use.
#include "image_reader.h"

#include "png_grey_reader.h"
#include "picture_types.h"
#include "vips_reader.h"

#include <dlfcn.h>

#include <cstring>
#include <filesystem>
#include <mutex>

namespace {

constexpr std::string_view kFormatNames[] = {"PNG", "JPEG", "GIF", "WebP", "TIFF", "BMP"};
constexpr const char* kNotAnImportFormat = "Error - File Format is not a picture the importer reads";

bool StartsWith(std::span<const uint8_t> bytes, std::string_view prefix, size_t at = 0)
{
    return bytes.size() >= at + prefix.size() && std::memcmp(bytes.data() + at, prefix.data(), prefix.size()) == 0;
}

// The PNG decoder stops at the last row and never looks at the end of the
// file, so a file cut after its pixels would pass: walk the chunks (each
// length checked against the bytes left) up to IEND.
bool PngIsComplete(std::span<const uint8_t> bytes)
{
    size_t position = 8;
    while (bytes.size() - position >= 12) {
        const uint8_t* chunk = bytes.data() + position;
        const uint64_t length = (uint64_t{chunk[0]} << 24) | (uint64_t{chunk[1]} << 16) | (uint64_t{chunk[2]} << 8) | chunk[3];
        if (length > bytes.size() - position - 12)
            return false;
        if (std::memcmp(chunk + 4, "IEND", 4) == 0)
            return true;
        position += 12 + static_cast<size_t>(length);
    }
    return false;
}

struct VipsModule {
    decltype(&MarquenVipsReadGrey) readGrey = nullptr;
    decltype(&MarquenVipsReadSize) readSize = nullptr;
    decltype(&MarquenVipsResample) resample = nullptr;
    std::string failure;  ///< why the module could not be loaded
};

// Opens the module: first beside the running program (where the build and
// the package put it), then by name through the library search path. The
// second is also what finds a module a test has loaded already (by soname).
void* OpenModule(std::string& failure)
{
    std::error_code error;
    std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        std::filesystem::path beside = program.parent_path() / kVipsReaderModule;
        if (void* handle = ::dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL))
            return handle;
        if (const char* reason = ::dlerror())
            failure = reason;
    }
    if (void* handle = ::dlopen(kVipsReaderModule, RTLD_NOW | RTLD_LOCAL))
        return handle;
    if (const char* reason = ::dlerror())
        failure += (failure.empty() ? "" : "; ") + std::string(reason);
    return nullptr;
}

// Loaded once and kept for the life of the process (the library it pulls in
// keeps threads and types that cannot be unloaded).
const VipsModule& Module()
{
    static VipsModule module;
    static std::once_flag once;
    std::call_once(once, [] {
        std::string failure;
        void* handle = OpenModule(failure);
        if (handle == nullptr) {
            module.failure = "Error - the image library cannot be loaded: " + failure;
            return;
        }
        module.readGrey = reinterpret_cast<decltype(&MarquenVipsReadGrey)>(::dlsym(handle, "MarquenVipsReadGrey"));
        module.readSize = reinterpret_cast<decltype(&MarquenVipsReadSize)>(::dlsym(handle, "MarquenVipsReadSize"));
        module.resample = reinterpret_cast<decltype(&MarquenVipsResample)>(::dlsym(handle, "MarquenVipsResample"));
        if (module.readGrey == nullptr || module.readSize == nullptr || module.resample == nullptr) {
            module = VipsModule{};
            module.failure = std::string("Error - the image library module is incomplete: ") + kVipsReaderModule;
        }
    });
    return module;
}

bool Usable(const VipsModule& module, std::string& error)
{
    if (module.readGrey != nullptr)
        return true;
    error = module.failure;
    return false;
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

bool ReadImageSize(std::span<const uint8_t> bytes, ImageSize& size, std::string& error)
{
    std::optional<ImageFormat> format = DetectImageFormat(bytes);
    if (!format) {
        error = kNotAnImportFormat;
        return false;
    }
    if (*format == ImageFormat::Png)
        return ReadPngSize(bytes, size, error);
    const VipsModule& module = Module();
    return Usable(module, error) && module.readSize(bytes.data(), bytes.size(), *format, &size, &error);
}

bool ReadGreyPicture(std::span<const uint8_t> bytes, uint32_t fitWidth, GreyPicture& grey, std::string& error,
                     ImageSize* declared)
{
    std::optional<ImageFormat> format = DetectImageFormat(bytes);
    if (!format) {
        error = kNotAnImportFormat;
        return false;
    }
    ImageSize size;
    if (*format == ImageFormat::Png) {
        if (!PngIsComplete(bytes)) {
            error = "Error - Picture cannot be read: the PNG file is truncated (no complete IEND chunk)";
            return false;
        }
        if (!ReadPngSize(bytes, size, error))
            return false;
        if (declared != nullptr)
            *declared = size;
        if (!PictureFitsLimit(size.width, size.height)) {
            error = PictureTooLargeMessage(size.width, size.height);
            return false;
        }
    }
    if (*format != ImageFormat::Png || static_cast<uint64_t>(size.width) * size.height > kPngDirectPixelLimit) {
        const VipsModule& module = Module();
        return Usable(module, error) &&
               module.readGrey(bytes.data(), bytes.size(), *format, fitWidth, &grey, &error, declared);
    }
    if (fitWidth != 0 && !PictureFitsLimit(fitWidth, FittedHeight(size.width, size.height, fitWidth))) {
        error = PictureTooLargeMessage(fitWidth, FittedHeight(size.width, size.height, fitWidth));
        return false;
    }
    GreyPicture decoded;
    if (!ReadPngGrey(bytes, decoded, size, error))
        return false;
    if (fitWidth != 0 && fitWidth != decoded.width) {
        const VipsModule& module = Module();
        if (!Usable(module, error) || !module.resample(&decoded, fitWidth, &error))
            return false;
    }
    grey = std::move(decoded);
    return true;
}
