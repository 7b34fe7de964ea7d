#pragma once
// The printer's logo command set and the two kinds of exchange every command
// travels by, over the application's one Communication object:
// - a write: WritePort from a byte array, at once or (Define logo only) in
//   64-byte packets on the object's own thread, with progress by events;
// - a request: WriteAndRead, which writes the command and puts the reply into
//   the same array, bounded by the object's read time-out.
//
// A failing HRESULT of an ICommunication call, or a missing object
// (E_POINTER), is thrown as _com_error carrying the HRESULT and the
// interface id; the command handlers catch it and show its text.
// User-interface thread only (the thread that created the object).
#include "com/com.h"
#include "icommunication.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

/// Texts the printer commands show.
namespace printer_strings {
inline constexpr int IDS_UPLOAD = 61204;
inline constexpr int IDS_DOWNLOAD = 61205;
inline constexpr int IDS_ERASE = 61206;
inline constexpr int IDS_ABORT = 61207;
inline constexpr int IDS_COMMUNICATION_FAILURE = 61208;
inline constexpr int IDS_SELECT_MEMORY_SIZE = 61209;
inline constexpr int IDS_SELECT_LOGO_NUMBER = 61210;
inline constexpr int IDS_PRINTER_RETURNED_ERROR = 61216;
inline constexpr const char* kUpload = "Upload";
inline constexpr const char* kDownload = "Download";
inline constexpr const char* kErase = "Erase";
inline constexpr const char* kAbort = "Abort";
inline constexpr const char* kCommunicationFailure =
    "The command has not been sent, there is communication failure.";
inline constexpr const char* kSelectMemorySize = "Please select one memory size.";
inline constexpr const char* kSelectLogoNumber = "Please select a logo number.";
inline constexpr const char* kPrinterReturnedError =
    "The command has been sent, but the printer has returned one error.";
inline constexpr const char* kLogoNotDownloaded = "The logo has not been downloaded";
inline constexpr const char* kChecksumWrong =
    "The logo has been downloaded but the checksum returned from printer is wrong";
inline constexpr const char* kDownloadStopped = "There is communication failure and the download has been stopped";
inline constexpr const char* kNoLogoAtLocation = "There is not logo at this location";
/// A Define logo was cut off: the printer reads on as logo data until it has
/// the number of bytes its header announced.
inline constexpr const char* kPrinterAwaitsLogoRest =
    "The logo did not reach the printer whole: the printer is still expecting the rest of it and will take "
    "the next commands as logo data, so they fail. Switch the printer off and on before going on.";
/// The printer's answer to Upload announced a bitmap no logo can be.
inline constexpr const char* kUploadNotAPicture = "The logo sent back by the printer is not a valid picture.";
}  // namespace printer_strings

namespace printer_commands {

/// A command's bytes with the size of the array it travels in: the larger of
/// its own length and the reply expected back in the same array.
struct Command {
    std::vector<uint8_t> bytes;
    size_t arrayLength = 0;
    /// Reply bytes a request expects; 0 for a write.
    LONG expectedReply = 0;
};

Command SelectLogo(uint8_t nLogo);        ///< 1D 23 n, written from an array of 8
Command LogoStatus(uint8_t nLogo);        ///< 1F 65 n, 4 reply bytes
Command PrintLogo(uint8_t nMode);         ///< 1D 2F m; m 0 to 3
Command EraseLogos();                     ///< 1D 40 31; the printer answers 0D later
Command UploadLogo();                     ///< 1F 6A; the printer answers 6A + bitmap later
Command ReadTotalMemory();                ///< 1D 0B, 1 reply byte
Command ReadLogoArea();                   ///< 1F 07 55, 3 reply bytes
Command ReadFreeLogoMemory();             ///< 1F 77 01, up to 8 reply bytes of text
Command SetLogoArea(uint8_t nSizeSteps);  ///< 1D 22 55 s 00, 1 reply byte

/// Packet size of the Define logo write: progress is shown and an abort
/// takes effect between packets.
inline constexpr LONG kDefineLogoPacketSize = 64;
/// pRC of a write that was sent (or, in packets, started).
inline constexpr LONG kWriteSent = -1;
/// Reply of Set logo area when the printer accepted the size.
inline constexpr uint8_t kSetLogoAreaAccepted = 0x06;
/// The printer's one-byte answer when Erase logos has finished.
inline constexpr uint8_t kEraseFinished = 0x0D;

/// The 16-bit checksum the printer reports for a stored logo: the byte sum of
/// the whole Define logo stream (header 1D 2A x y included), negated modulo
/// 65536.
uint16_t LogoChecksum(std::span<const uint8_t> stream);

/// A one-dimensional byte array (lower bound 0, zero-filled) owned by this
/// object and destroyed with it.
class ByteArray {
public:
    ByteArray() = default;
    /// An array of nLength elements holding bytes at its start. Throws
    /// _com_error(E_OUTOFMEMORY) when it cannot be made or bytes is longer.
    ByteArray(std::span<const uint8_t> bytes, size_t nLength);
    ~ByteArray() { Reset(); }
    ByteArray(ByteArray&& other) noexcept;
    ByteArray& operator=(ByteArray&& other) noexcept;
    ByteArray(const ByteArray&) = delete;
    ByteArray& operator=(const ByteArray&) = delete;

    SAFEARRAY* Get() const { return m_pArray; }
    SAFEARRAY** Address() { return &m_pArray; }
    explicit operator bool() const { return m_pArray != nullptr; }
    /// Hands the array to the caller, who destroys it.
    SAFEARRAY* Detach() { return std::exchange(m_pArray, nullptr); }
    void Reset();

private:
    SAFEARRAY* m_pArray = nullptr;
};

/// Writes the first command.bytes.size() bytes of a new array of
/// command.arrayLength elements, at once. Returns pRC: kWriteSent when the
/// bytes were sent, anything else when not.
LONG WriteCommand(ICommunication* pComm, const Command& command);

/// Starts the packetised write of array (lLength bytes, packets of
/// kDefineLogoPacketSize). Returns pRC: kWriteSent when the transfer has
/// started; the object then reads the array until it reports 100 %, an
/// error, or the transfer is aborted, so the caller keeps it until then.
LONG WritePackets(ICommunication* pComm, ByteArray& array, LONG lLength);

struct Reply {
    bool bResult = false;     ///< pbResult was nonzero
    LONG lRead = 0;           ///< plRead as the object left it
    std::vector<uint8_t> bytes;  ///< the bytes stored, at most the array's length
    /// The reply counts: a result and exactly nExpected bytes.
    bool Has(LONG nExpected) const { return bResult && lRead == nExpected && bytes.size() == size_t(nExpected); }
};

/// Sends command as a request and waits for its command.expectedReply reply
/// bytes (the object's read time-out bounds the wait).
Reply RequestReply(ICommunication* pComm, const Command& command);

}  // namespace printer_commands
