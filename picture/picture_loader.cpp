#include "picture_loader.h"

#include "bmp_file.h"
#include "epson_gfx_file.h"
#include "logo_file.h"
#include "raster_gfx_ext_file.h"
#include "raster_gfx_file.h"

std::unique_ptr<PictureFile> CreatePictureFile(PictureType type, std::string path)
{
    switch (type) {
    case BITMAP:
        return std::make_unique<BmpFile>(std::move(path));
    case EPSON_GFX:
        return std::make_unique<EpsonGfxFile>(std::move(path));
    case LOGO:
        return std::make_unique<LogoFile>(std::move(path));
    case RASTER_GFX:
        return std::make_unique<RasterGfxFile>(std::move(path));
    case RASTER_GFX_EXT:
        return std::make_unique<RasterGfxExtFile>(std::move(path));
    }
    return nullptr;
}

namespace {

// Identify's verdict decides; Decode follows on PR_OK.
LoadedPicture Finish(std::unique_ptr<PictureFile> picture, PictureResult identified, std::string error)
{
    LoadedPicture loaded;
    loaded.error = std::move(error);
    if (identified == PR_WRONG_FORMAT) {
        loaded.outcome = LoadOutcome::NotSupported;
        return loaded;
    }
    if (identified == PR_NO_DATA) {
        loaded.outcome = LoadOutcome::NotSupported;
        return loaded;
    }
    if (identified != PR_OK) {
        loaded.outcome = LoadOutcome::Invalid;
        return loaded;
    }
    if (!picture->Decode(loaded.error)) {
        loaded.outcome = LoadOutcome::DecodeFailed;
        return loaded;
    }
    loaded.outcome = LoadOutcome::Loaded;
    loaded.picture = std::move(picture);
    return loaded;
}

}  // namespace

LoadedPicture LoadPictureFile(const std::string& path)
{
    std::string error;
    // The file is read once, by the first class; the others get a copy of its
    // bytes, so a changing file cannot look different to different classes.
    std::vector<uint8_t> content;
    bool read = false;
    for (PictureType type : kPictureSearchOrder) {
        std::unique_ptr<PictureFile> picture = CreatePictureFile(type, path);
        if (!read) {
            PictureResult opened = picture->Open(FileAccess::GenericRead, FileDisposition::OpenExisting, error);
            if (opened != PR_OK) {
                LoadedPicture failed;
                failed.outcome = LoadOutcome::OpenFailed;
                failed.error = error;
                return failed;
            }
            std::span<const uint8_t> raw = picture->RawData();
            content.assign(raw.begin(), raw.end());
            read = true;
        } else {
            picture->SetRawData(content);
        }
        PictureResult identified = picture->Identify(error);
        // An empty file has no bytes for any class to look at.
        if (identified == PR_WRONG_FORMAT || identified == PR_NO_DATA)
            continue;
        return Finish(std::move(picture), identified, error);
    }
    LoadedPicture none;
    none.outcome = LoadOutcome::NotSupported;
    none.error = error;
    return none;
}

LoadedPicture LoadBitmapFromMemory(const uint8_t* bytes, size_t length)
{
    auto picture = std::make_unique<BmpFile>(std::string());
    picture->SetRawData(bytes, length);
    std::string error;
    PictureResult identified = picture->Identify(error);
    return Finish(std::move(picture), identified, error);
}
