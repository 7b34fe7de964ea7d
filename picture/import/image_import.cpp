#include "image_import.h"

#include "picture_loader.h"

#include <memory>

bool ImportPicture(std::span<const uint8_t> bytes, const ImportOptions& options, ImportedPicture& picture,
                   std::string& error)
{
    std::optional<ImageFormat> format = DetectImageFormat(bytes);
    if (!format) {
        error = "Error - File Format is not a picture the importer reads";
        return false;
    }
    GreyPicture grey;
    ImageSize declared;
    if (!ReadGreyPicture(bytes, options.fitWidth, grey, error, &declared))
        return false;
    picture.format = *format;
    picture.sourceWidth = declared.width;
    picture.sourceHeight = declared.height;
    picture.width = grey.width;
    picture.height = grey.height;
    picture.bits = GreyToBits(std::move(grey), options.dither);
    return true;
}

std::vector<uint8_t> GreyToBits(GreyPicture grey, const DitherSettings& settings)
{
    AdjustTone(grey, settings);
    return DitherToBits(grey, settings);
}

std::optional<std::vector<uint8_t>> ImportableFileBytes(const std::string& path)
{
    // Read as the picture files are: the same checks on what is opened.
    std::unique_ptr<PictureFile> file = CreatePictureFile(BITMAP, path);
    std::string error;
    if (file->Open(FileAccess::GenericRead, FileDisposition::OpenExisting, error) != PR_OK)
        return std::nullopt;
    std::span<const uint8_t> raw = file->RawData();
    if (!DetectImageFormat(raw))
        return std::nullopt;
    return std::vector<uint8_t>(raw.begin(), raw.end());
}
