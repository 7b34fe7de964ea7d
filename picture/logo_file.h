#pragma once
#include "picture_file.h"

/// One GS * logo command: 1D 2A x y and 8x columns of y bytes. Sizes are
/// rounded up to multiples of 8 dots (PR_SIZE_ADJUSTED); pictures that would
/// need more than 2040 dots a side are refused with PR_INVALID.
class LogoFile : public PictureFile {
public:
    explicit LogoFile(std::string path) : PictureFile(std::move(path), LOGO) {}

    bool Decode(std::string& error) override;
    PictureResult Identify(std::string& error) override;
    PictureResult Encode(uint32_t& width, uint32_t& height, std::string& error,
                         std::vector<uint8_t>& encoded) override;

    /// Why a picture of width x height dots cannot be a logo (its header has
    /// one byte a side: at most 2040 x 2040 dots once rounded up to 8), as the
    /// "Error - " message Encode gives; empty when it can.
    static std::string SizeLimitError(uint32_t width, uint32_t height);

    /// Encodes as Write does but writes no file: hands the caller a new copy of
    /// the GS * command. PR_OK, PR_SIZE_ADJUSTED (with Write's message) or
    /// PR_NO_MEMORY. The object keeps its own encoded bytes until destroyed.
    PictureResult EncodeToMemory(uint32_t& width, uint32_t& height, std::string& error,
                                 std::vector<uint8_t>& encoded);

private:
    std::vector<uint8_t> m_encoded;
};
