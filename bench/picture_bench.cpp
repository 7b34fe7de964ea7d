// Encode, decode and window cutting of every picture format, in bytes of
// picture bits per second. Two sizes (a 576 x 240 receipt logo and the largest
// picture the column formats hold, 2040 x 2040), each as a mostly white logo
// and as random dots (the worst case for the run-length and blank-skipping
// encoders).
#include "picture_loader.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

struct Picture {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> bits;
};

void SetDot(Picture& picture, uint32_t x, uint32_t y)
{
    if (x < picture.width && y < picture.height)
        picture.bits[static_cast<size_t>(y) * BytesPerRow(picture.width) + x / 8] |= static_cast<uint8_t>(0x80u >> (x % 8));
}

void FillRect(Picture& picture, uint32_t x0, uint32_t y0, uint32_t x1, uint32_t y1)
{
    for (uint32_t y = y0; y < y1; ++y) {
        for (uint32_t x = x0; x < x1; ++x)
            SetDot(picture, x, y);
    }
}

// A frame, a few bars and a diamond row, scaled to the size: about a tenth of
// the dots black, long white runs, many repeated rows.
Picture LogoPicture(uint32_t width, uint32_t height)
{
    Picture picture{width, height, std::vector<uint8_t>(static_cast<size_t>(BytesPerRow(width)) * height, 0)};
    uint32_t edge = height / 40 + 1;
    FillRect(picture, 0, 0, width, edge);
    FillRect(picture, 0, height - edge, width, height);
    FillRect(picture, 0, 0, edge, height);
    FillRect(picture, width - edge, 0, width, height);
    for (uint32_t k = 0; k < 7; ++k) {
        uint32_t left = width / 10 + k * (width * 8 / 10) / 7;
        FillRect(picture, left, height / 4, left + width / 20, height * 3 / 5);
    }
    FillRect(picture, width / 10, height * 2 / 3, width * 9 / 10, height * 2 / 3 + edge * 2);
    uint32_t radius = height / 20;
    for (uint32_t k = 0; k < 9; ++k) {
        int64_t cx = width / 10 + (2 * k + 1) * (width * 8 / 10) / 18;
        int64_t cy = height * 4 / 5;
        for (int64_t y = cy - radius; y <= cy + radius; ++y) {
            for (int64_t x = cx - radius; x <= cx + radius; ++x) {
                if (std::abs(x - cx) + std::abs(y - cy) <= radius)
                    SetDot(picture, static_cast<uint32_t>(x), static_cast<uint32_t>(y));
            }
        }
    }
    return picture;
}

Picture RandomPicture(uint32_t width, uint32_t height)
{
    Picture picture{width, height, std::vector<uint8_t>(static_cast<size_t>(BytesPerRow(width)) * height)};
    std::mt19937 random(20240601u + width);
    for (uint8_t& byte : picture.bits)
        byte = static_cast<uint8_t>(random());
    if (width % 8 != 0) {
        uint8_t mask = static_cast<uint8_t>(0xFF00u >> (width % 8));
        for (uint32_t r = 0; r < height; ++r)
            picture.bits[static_cast<size_t>(r) * BytesPerRow(width) + BytesPerRow(width) - 1] &= mask;
    }
    return picture;
}

int64_t PictureBytes(const Picture& picture)
{
    return static_cast<int64_t>(picture.bits.size());
}

void BenchEncode(benchmark::State& state, PictureType type, const Picture& picture)
{
    std::unique_ptr<PictureFile> file = CreatePictureFile(type, std::string());
    file->SetPicture(picture.bits);
    std::vector<uint8_t> encoded;
    std::string error;
    for (auto _ : state) {
        uint32_t width = picture.width;
        uint32_t height = picture.height;
        PictureResult result = file->Encode(width, height, error, encoded);
        if (result != PR_OK && result != PR_SIZE_ADJUSTED) {
            state.SkipWithError(error.c_str());
            return;
        }
        benchmark::DoNotOptimize(encoded.data());
    }
    state.SetBytesProcessed(state.iterations() * PictureBytes(picture));
    state.counters["encoded_bytes"] = static_cast<double>(encoded.size());
}

// Each round decodes a fresh object from the encoded bytes (Decode releases
// the raw bytes, so the copy SetRawData makes is part of every round).
void BenchDecode(benchmark::State& state, PictureType type, const Picture& picture)
{
    std::vector<uint8_t> encoded;
    std::string error;
    {
        std::unique_ptr<PictureFile> writer = CreatePictureFile(type, std::string());
        writer->SetPicture(picture.bits);
        uint32_t width = picture.width;
        uint32_t height = picture.height;
        PictureResult result = writer->Encode(width, height, error, encoded);
        if (result != PR_OK && result != PR_SIZE_ADJUSTED) {
            state.SkipWithError(error.c_str());
            return;
        }
    }
    for (auto _ : state) {
        std::unique_ptr<PictureFile> reader = CreatePictureFile(type, std::string());
        reader->SetRawData(encoded);
        if (reader->Identify(error) != PR_OK || !reader->Decode(error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        benchmark::DoNotOptimize(reader->Bits().data());
    }
    state.SetBytesProcessed(state.iterations() * PictureBytes(picture));
}

void BenchExtractWindow(benchmark::State& state, const Picture& source, uint32_t offset, uint32_t width,
                        uint32_t height)
{
    std::unique_ptr<PictureFile> window = CreatePictureFile(BITMAP, std::string());
    std::string error;
    for (auto _ : state) {
        if (window->ExtractWindow(source.width, source.height, offset, offset, width, height, source.bits,
                                  error) != PR_OK) {
            state.SkipWithError(error.c_str());
            return;
        }
        benchmark::DoNotOptimize(window->Bits().data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(BytesPerRow(width)) * height);
}

// The RASTER GFX reader takes lines of at most 127 data bytes (1016 dots), so
// its large decode runs at that width.
constexpr uint32_t kRasterGfxReadableWidth = 1016;

std::string SizeName(const Picture& picture)
{
    return std::to_string(picture.width) + "x" + std::to_string(picture.height);
}

void RegisterAll()
{
    static const std::array<Picture, 4> pictures{LogoPicture(576, 240), RandomPicture(576, 240),
                                                 LogoPicture(2040, 2040), RandomPicture(2040, 2040)};
    static const std::array<const char*, 4> contents{"logo", "random", "logo", "random"};
    static const std::array<Picture, 2> narrowRaster{LogoPicture(kRasterGfxReadableWidth, 2040),
                                                     RandomPicture(kRasterGfxReadableWidth, 2040)};

    for (PictureType type : kPictureSearchOrder) {
        std::string format = PictureTypeEnumeratorName(type);
        for (size_t i = 0; i < pictures.size(); ++i) {
            const Picture& picture = pictures[i];
            std::string suffix = "/" + format + "/" + SizeName(picture) + "/" + contents[i];
            benchmark::RegisterBenchmark(("Encode" + suffix).c_str(), BenchEncode, type, std::cref(picture));
            const Picture* decoded = &picture;
            if (type == RASTER_GFX && picture.width > kRasterGfxReadableWidth)
                decoded = &narrowRaster[i % 2];
            std::string decodeSuffix = "/" + format + "/" + SizeName(*decoded) + "/" + contents[i];
            benchmark::RegisterBenchmark(("Decode" + decodeSuffix).c_str(), BenchDecode, type, std::cref(*decoded));
        }
    }
    // Offsets that are a multiple of 8 copy whole bytes; others shift each byte.
    for (size_t i = 0; i < pictures.size(); ++i) {
        const Picture& source = pictures[i];
        uint32_t width = source.width - 32;
        uint32_t height = source.height - 32;
        std::string suffix = "/" + SizeName(source) + "/" + contents[i];
        benchmark::RegisterBenchmark(("ExtractWindow/offset16" + suffix).c_str(), BenchExtractWindow,
                                     std::cref(source), 16u, width, height);
        benchmark::RegisterBenchmark(("ExtractWindow/offset13" + suffix).c_str(), BenchExtractWindow,
                                     std::cref(source), 13u, width, height);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    RegisterAll();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
