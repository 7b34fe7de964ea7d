#pragma once
#include "picture_file.h"

class RasterGfxExtFile : public PictureFile {
public:
    explicit RasterGfxExtFile(std::string path) : PictureFile(std::move(path), RASTER_GFX_EXT) {}

    bool Decode(std::string& error) override;
    PictureResult Identify(std::string& error) override;
    PictureResult Encode(uint32_t& width, uint32_t& height, std::string& error,
                         std::vector<uint8_t>& encoded) override;
};
