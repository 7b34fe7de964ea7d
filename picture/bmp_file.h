#pragma once
#include "picture_file.h"

/// Monochrome Windows bitmap files. Reads one bit per dot, uncompressed, with
/// an information header of 40 bytes or more, rows bottom-up or top-down; the
/// darker palette colour becomes black. Writes the 40-byte header, white/black
/// palette, bottom-up rows. Short, inconsistent or oversized files get
/// PR_INVALID from Identify with a message; nothing is read past the bytes.
class BmpFile : public PictureFile {
public:
    explicit BmpFile(std::string path) : PictureFile(std::move(path), BITMAP) {}

    bool Decode(std::string& error) override;
    PictureResult Identify(std::string& error) override;
    PictureResult Encode(uint32_t& width, uint32_t& height, std::string& error,
                         std::vector<uint8_t>& encoded) override;
};
