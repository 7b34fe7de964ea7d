#include "picture_types.h"

#include <array>
#include <cctype>

namespace {

struct TypeNames {
    const char* display;
    const char* enumerator;
};

constexpr std::array<TypeNames, kPictureTypeCount> kNames{{
    {"BITMAP", "BITMAP"},
    {"EPSON GFX", "EPSON_GFX"},
    {"LOGO", "LOGO"},
    {"RASTER GFX", "RASTER_GFX"},
    {"RASTER GFX EXT", "RASTER_GFX_EXT"},
}};

bool EqualsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

}  // namespace

const char* PictureTypeDisplayString(PictureType type)
{
    return type < kPictureTypeCount ? kNames[type].display : "";
}

const char* PictureTypeEnumeratorName(PictureType type)
{
    return type < kPictureTypeCount ? kNames[type].enumerator : "";
}

std::optional<PictureType> ParsePictureType(std::string_view text)
{
    for (uint32_t i = 0; i < kPictureTypeCount; ++i) {
        if (EqualsIgnoringCase(text, kNames[i].display) || EqualsIgnoringCase(text, kNames[i].enumerator))
            return static_cast<PictureType>(i);
    }
    return std::nullopt;
}

std::string PictureTooLargeMessage(uint64_t width, uint64_t height)
{
    return "Error - Picture too large (" + std::to_string(width) + " x " + std::to_string(height) + " dots)";
}
