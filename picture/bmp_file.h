#pragma once
#include "picture_file.h"

class BmpFile : public PictureFile {
public:
    explicit BmpFile(std::string path) : PictureFile(std::move(path), BITMAP) {}

    bool Decode(std::string& error) override;
    PictureResult Identify(std::string& error) override;
    PictureResult Encode(uint32_t& width, uint32_t& height, std::string& error,
                         std::vector<uint8_t>& encoded) override;
};
