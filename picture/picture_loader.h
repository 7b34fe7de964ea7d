#pragma once
// Creating a format class by type, and reading a file the way the document
// does: the five classes in a fixed order, each one's verdict final unless it
// answers PR_WRONG_FORMAT.
#include "picture_file.h"

#include <array>
#include <memory>
#include <string>

/// The order in which a file's format is searched.
inline constexpr std::array<PictureType, kPictureTypeCount> kPictureSearchOrder{
    RASTER_GFX, BITMAP, LOGO, EPSON_GFX, RASTER_GFX_EXT};

/// A new object of the class of type, with path; null for a type out of range.
std::unique_ptr<PictureFile> CreatePictureFile(PictureType type, std::string path);

enum class LoadOutcome {
    Loaded,        ///< picture decoded
    OpenFailed,    ///< Open failed (open, read or memory); message in error
    NotSupported,  ///< every class answered PR_WRONG_FORMAT
    Invalid,       ///< the class found refused the content; message in error
    DecodeFailed,  ///< Decode failed; message in error
};

struct LoadedPicture {
    LoadOutcome outcome = LoadOutcome::NotSupported;
    std::unique_ptr<PictureFile> picture;  ///< set only when outcome is Loaded
    std::string error;                     ///< the picture operation's message
};

/// Reads path trying the five formats in kPictureSearchOrder.
LoadedPicture LoadPictureFile(const std::string& path);
/// Reads a monochrome bitmap file image held in memory (an uploaded logo).
LoadedPicture LoadBitmapFromMemory(const uint8_t* bytes, size_t length);

/// "Picture type not supported." (string 61213).
inline constexpr const char* kPictureTypeNotSupported = "Picture type not supported.";
