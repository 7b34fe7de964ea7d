#pragma once
// PictureFile: one monochrome picture in one of the five formats, together
// with the file or byte stream it came from or goes to.
//
// Picture bits: rows top to bottom, BytesPerRow(width) bytes each, most
// significant bit leftmost, bit 1 = black (printed) dot.
//
// Reading: construct with the path, Open(GenericRead, OpenExisting), Identify,
// and on PR_OK Decode. Writing: construct with the target path,
// Open(GenericWrite, CreateAlways), SetPicture, Write.
//
// Objects are used by one thread at a time; they are not shared.
#include "picture_types.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

enum class FileAccess { GenericRead, GenericWrite };
enum class FileDisposition { OpenExisting, CreateAlways };

class PictureFile {
public:
    PictureFile(std::string path, PictureType type);
    virtual ~PictureFile();
    PictureFile(const PictureFile&) = delete;
    PictureFile& operator=(const PictureFile&) = delete;

    /// Builds the picture bits from the raw bytes with the size Identify set;
    /// closes the file and releases the raw bytes. False with a message.
    virtual bool Decode(std::string& error) = 0;
    /// Checks the raw bytes for the format; on PR_OK sets width and height.
    virtual PictureResult Identify(std::string& error) = 0;
    /// Encodes the picture bits (of the given size) and writes them to the file
    /// opened for writing. The file appears only complete: bytes go to a
    /// temporary file beside the target, which then replaces it, so a failed
    /// write leaves any earlier file intact. May round the size (then stores
    /// the rounded values into width/height and returns PR_SIZE_ADJUSTED).
    virtual PictureResult Write(uint32_t& width, uint32_t& height, std::string& error);
    /// The format's encoder: the bytes Write would put in the file. Same
    /// rounding, results and messages as Write, minus the file ones. Sets the
    /// object's width and height to the (rounded) encoded size.
    virtual PictureResult Encode(uint32_t& width, uint32_t& height, std::string& error,
                                 std::vector<uint8_t>& encoded) = 0;

    /// Opens the path. For reading also loads the whole file into the raw
    /// bytes. For writing prepares the temporary file that Write fills.
    PictureResult Open(FileAccess access, FileDisposition disposition, std::string& error);
    /// Replaces the picture bits by a copy; width, height and size unchanged.
    void SetPicture(const uint8_t* bytes, size_t length);
    void SetPicture(std::span<const uint8_t> bytes) { SetPicture(bytes.data(), bytes.size()); }
    /// Replaces the raw bytes by a copy and sets size to length; returns length.
    size_t SetRawData(const uint8_t* bytes, size_t length);
    size_t SetRawData(std::span<const uint8_t> bytes) { return SetRawData(bytes.data(), bytes.size()); }
    /// Makes this picture a window of another picture. Offsets wrap in 32-bit
    /// unsigned arithmetic, so a "negative" offset shifts the source right/down.
    /// The bits buffer is padded with white rows to a multiple of 24 rows.
    PictureResult ExtractWindow(uint32_t sourceWidth, uint32_t sourceHeight, uint32_t offsetX,
                                uint32_t offsetY, uint32_t width, uint32_t height,
                                std::span<const uint8_t> sourceBits, std::string& error);

    const std::string& Path() const { return m_strPath; }
    void SetPath(std::string path) { m_strPath = std::move(path); }
    PictureType Type() const { return m_type; }
    uint32_t Width() const { return m_nWidth; }
    uint32_t Height() const { return m_nHeight; }
    uint32_t OffsetX() const { return m_nOffsetX; }
    uint32_t OffsetY() const { return m_nOffsetY; }
    uint32_t SignaturePosition() const { return m_nSignaturePos; }
    uint32_t Size() const { return m_nSize; }
    bool HasPicture() const { return m_bits.has_value(); }
    /// The picture bits; empty when there are none.
    std::span<const uint8_t> Bits() const;
    bool HasRawData() const { return m_raw.has_value(); }
    std::span<const uint8_t> RawData() const;
    bool IsFileOpen() const { return m_hFile >= 0; }

protected:
    /// Allocates width x height picture bits, all white. False with
    /// "Error - Memory Allocation" (or the too-large message) when it cannot.
    bool AllocatePicture(uint32_t width, uint32_t height, std::string& error);
    /// True when the picture bits hold at least BytesPerRow(width) x height
    /// bytes (a larger buffer, e.g. one padded to whole bands, is fine). False
    /// with "Error - Picture is smaller than its size" otherwise; encoders call
    /// it before they read the bits.
    bool HasPictureBits(uint32_t width, uint32_t height, std::string& error) const;
    /// True when there are raw bytes to decode. False with message when they
    /// were never loaded or an earlier Decode released them: a blank picture
    /// must not pass for the file's.
    bool HasRawDataToDecode(const char* message, std::string& error) const;
    /// End of a successful Decode: closes the file, releases the raw bytes.
    void FinishDecode();
    void CloseFile();

    int m_hFile = -1;                        ///< open from Open until Decode or Write
    std::string m_strPath;
    std::optional<std::vector<uint8_t>> m_raw;   ///< file content, or SetRawData's copy
    std::optional<std::vector<uint8_t>> m_bits;  ///< decoded or assigned picture
    uint32_t m_nWidth = 0;
    uint32_t m_nHeight = 0;
    uint32_t m_nOffsetX = 0;
    uint32_t m_nOffsetY = 0;
    uint32_t m_nSignaturePos = 0;
    uint32_t m_nSize = 0;
    PictureType m_type;

private:
    std::string m_strTempPath;    ///< the temporary file Write fills, beside the target
    std::string m_strTargetPath;  ///< the file Write replaces: the path, or the file its link names
    void DiscardTempFile();
};

/// Error texts shared by the formats.
namespace picture_messages {
inline constexpr const char* kMemoryAllocation = "Error - Memory Allocation";
inline constexpr const char* kFileWrite = "Error - File Write";
inline constexpr const char* kReadInputFile = "Error - Read Input File";
inline constexpr const char* kPictureSmallerThanSize = "Error - Picture is smaller than its size";
inline constexpr const char* kWidthHeightAdjusted =
    "Picture Width & Height have been adjusted to be compatible with selected output format";
inline constexpr const char* kWidthAdjusted =
    "Picture Width has been adjusted to be compatible with selected output format";
inline constexpr const char* kHeightAdjusted =
    "Picture Height has been adjusted to be compatible with selected output format";
/// A file larger than any picture file Open reads (kMaxRawFileBytes).
inline std::string FileTooLargeMessage(uint64_t bytes)
{
    return "Error - Picture file too large (" + std::to_string(bytes) + " bytes; at most " +
           std::to_string(kMaxRawFileBytes >> 20) + " MiB are read)";
}
}  // namespace picture_messages
