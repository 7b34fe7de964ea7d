#pragma once
// The entry points of libmarquen_vips_reader.so, the module that reads
// pictures through libvips. Only the importer (image_reader.cpp) calls them,
// through dlsym; the module is built with the program from the same sources,
// so C++ types may cross. None throws; each reports through error.
#include "image_reader.h"

#include <string>

#define MARQUEN_VIPS_EXPORT __attribute__((visibility("default")))

extern "C" {
/// ReadGreyPicture for any format, fitting included.
MARQUEN_VIPS_EXPORT bool MarquenVipsReadGrey(const uint8_t* data, size_t length, ImageFormat format, uint32_t fitWidth,
                                             GreyPicture* grey, std::string* error, ImageSize* declared) noexcept;
/// The declared size, from the header alone.
MARQUEN_VIPS_EXPORT bool MarquenVipsReadSize(const uint8_t* data, size_t length, ImageFormat format, ImageSize* size,
                                             std::string* error) noexcept;
/// Resamples grey to fitWidth x FittedHeight(...).
MARQUEN_VIPS_EXPORT bool MarquenVipsResample(GreyPicture* grey, uint32_t fitWidth, std::string* error) noexcept;
}

/// The module's file name, found beside the program (its run path).
inline constexpr const char* kVipsReaderModule = "libmarquen_vips_reader.so";
