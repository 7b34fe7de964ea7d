#pragma once
// Picture files made on the spot for the document tests, and a document wired
// to recording fakes.
#include "marquen_doc.h"
#include "picture_loader.h"
#include "test_support.h"
#include "ui_fakes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace doc_testing {

using DotRule = std::function<bool(uint32_t x, uint32_t y)>;

inline void PutLittleEndian(std::vector<uint8_t>& bytes, size_t offset, uint32_t value, int width)
{
    for (int i = 0; i < width; ++i)
        bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

/// A Windows bitmap file image, 40-byte header and two-entry palette (white
/// then black); bitCount other than 1 gives a file that is not monochrome.
inline std::vector<uint8_t> MakeBmp(uint32_t width, uint32_t height, const DotRule& black, uint16_t bitCount = 1)
{
    const uint32_t rowBytes = 4 * ((width + 31) / 32);
    std::vector<uint8_t> bytes(62 + static_cast<size_t>(rowBytes) * height, 0);
    bytes[0] = 'B';
    bytes[1] = 'M';
    PutLittleEndian(bytes, 2, static_cast<uint32_t>(bytes.size()), 4);
    PutLittleEndian(bytes, 10, 62, 4);
    PutLittleEndian(bytes, 14, 40, 4);
    PutLittleEndian(bytes, 18, width, 4);
    PutLittleEndian(bytes, 22, height, 4);
    PutLittleEndian(bytes, 26, 1, 2);
    PutLittleEndian(bytes, 28, bitCount, 2);
    PutLittleEndian(bytes, 34, rowBytes * height, 4);
    PutLittleEndian(bytes, 54, 0x00FFFFFF, 4);
    PutLittleEndian(bytes, 58, 0x00000000, 4);
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* row = bytes.data() + 62 + static_cast<size_t>(height - 1 - y) * rowBytes;
        for (uint32_t x = 0; x < width; ++x) {
            if (black(x, y))
                row[x / 8] |= static_cast<uint8_t>(0x80u >> (x % 8));
        }
    }
    return bytes;
}

/// Picture bits in the one layout of the program.
inline std::vector<uint8_t> MakeBits(uint32_t width, uint32_t height, const DotRule& black)
{
    const uint32_t rowBytes = BytesPerRow(width);
    std::vector<uint8_t> bits(static_cast<size_t>(rowBytes) * height, 0);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            if (black(x, y))
                bits[y * rowBytes + x / 8] |= static_cast<uint8_t>(0x80u >> (x % 8));
        }
    }
    return bits;
}

/// Writes a picture file of the given type through the picture library.
inline void WritePicture(const std::filesystem::path& file, PictureType type, uint32_t width, uint32_t height,
                         const DotRule& black)
{
    std::unique_ptr<PictureFile> writer = CreatePictureFile(type, file.string());
    std::string error;
    ASSERT_EQ(writer->Open(FileAccess::GenericWrite, FileDisposition::CreateAlways, error), PR_OK) << error;
    writer->SetPicture(MakeBits(width, height, black));
    PictureResult result = writer->Write(width, height, error);
    ASSERT_TRUE(result == PR_OK || result == PR_SIZE_ADJUSTED) << error;
}

/// Reads a file back through the format search.
inline LoadedPicture ReadBack(const std::filesystem::path& file)
{
    return LoadPictureFile(file.string());
}

inline bool Diagonal(uint32_t x, uint32_t y)
{
    return x == y;
}
inline bool LeftHalf(uint32_t x, uint32_t)
{
    return x < 8;
}

/// A document wired to recording fakes, in a scratch folder.
class DocFixture : public ::testing::Test {
protected:
    DocFixture() : windows(page), doc(messages, statusLine) { windows.Attach(doc); }

    std::string PathOf(const std::string& name) const { return (dir / name).string(); }

    /// A monochrome bitmap file in the scratch folder.
    std::string WriteBmp(const std::string& name, uint32_t width, uint32_t height, const DotRule& black = Diagonal)
    {
        testing_support::WriteFileBytes(dir / name, MakeBmp(width, height, black));
        return PathOf(name);
    }

    /// Opens path as the document and checks it loaded without a message.
    void OpenOk(const std::string& path)
    {
        size_t before = messages.shown.size();
        ASSERT_TRUE(doc.OnOpenDocument(path));
        ASSERT_EQ(messages.shown.size(), before);
        ASSERT_NE(doc.GetInput(), nullptr);
    }

    testing_support::TempDir dir;
    testing_support::RecordingMessageBox messages;
    testing_support::RecordingStatusLine statusLine;
    testing_support::FakePictureInfoPage page;
    testing_support::FakeDocumentWindows windows;
    CMarquenDoc doc;
};

}  // namespace doc_testing
