#pragma once
// The virtual receipt printer's logo memory and command interpreter, with no
// transport: bytes go in through Feed (split anywhere, even inside a command),
// reply bytes come out through TakeOutput. Time is passed in by the caller so
// the late answer of Erase logos can be tested without waiting.
//
// Not thread-safe: the owner serialises every call (VirtualPrinter holds one
// mutex around its model).
#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vprinter {

using Clock = std::chrono::steady_clock;

/// The commands the printer understands.
enum class Command : uint8_t {
    SelectLogo,          ///< 1D 23 n
    DefineLogo,          ///< 1D 2A x y d1..dk
    LogoStatus,          ///< 1F 65 n
    PrintLogo,           ///< 1D 2F m
    EraseLogos,          ///< 1D 40 31
    UploadLogo,          ///< 1F 6A
    ReadTotalMemory,     ///< 1D 0B
    ReadLogoArea,        ///< 1F 07 55
    ReadFreeLogoMemory,  ///< 1F 77 01
    SetLogoArea,         ///< 1D 22 55 s 00
};
inline constexpr size_t kCommandCount = 10;
inline constexpr size_t kSlotCount = 256;

/// Short name used on the command line and in logs: "select", "define",
/// "status", "print", "erase", "upload", "total-memory", "logo-area",
/// "free-memory", "set-area".
const char* CommandName(Command command);
/// The command with that short name, if any.
std::optional<Command> ParseCommandName(std::string_view name);

/// 16-bit checksum the printer reports for a stored logo: the byte sum of the
/// whole stream (1D 2A x y included), negated in 16 bits.
uint16_t LogoChecksum(std::span<const uint8_t> stream);

/// Largest memory figure a one-byte reply can carry: 255 x 64 kbytes.
inline constexpr uint32_t kMaxMemoryKbytes = 255 * 64;

struct PrinterConfig {
    uint32_t totalMemoryKbytes = 2048;  ///< multiple of 64, at most kMaxMemoryKbytes
    uint32_t logoAreaKbytes = 256;      ///< multiple of 64, at most the total
    /// 0: a first-generation printer that leaves Read total memory and Read
    /// logo area unanswered; any other value answers them.
    uint32_t version = 1;
    std::chrono::milliseconds eraseDelay{500};  ///< until Erase logos answers 0D
};

/// Why a configuration cannot be used; empty when it can.
std::string ValidateConfig(const PrinterConfig& config);

struct LogoSlot {
    bool stored = false;
    std::vector<uint8_t> stream;  ///< the whole GS * command as received
    uint16_t checksum = 0;        ///< what Logo status reports (0 when empty)
};

struct PrintRecord {
    uint8_t slot = 0;
    uint8_t mode = 0;  ///< 0 x1H-x1W, 1 x1H-x2W, 2 x2H-x1W, 3 x2H-x2W
    bool stored = false;  ///< false: the slot was empty, nothing came out
    uint32_t width = 0;   ///< dots of the stored logo, before scaling
    uint32_t height = 0;
};

/// One command as the parser recognised it.
struct CommandRecord {
    Command command;
    std::vector<uint8_t> bytes;  ///< the command bytes (Define logo: its 4-byte header)
    bool refused = false;        ///< Define logo larger than the free memory, or Set logo area refused
};

/// Faults that live in the command interpreter; the transport ones (stall,
/// garbage, pacing) live in VirtualPrinter.
struct ModelFaults {
    uint32_t dropNextReplies = 0;  ///< the next n replies are not sent
    std::array<bool, kCommandCount> dropRepliesOf{};  ///< every reply of these commands is lost
    bool corruptChecksum = false;  ///< Logo status reports a checksum that does not match
    /// Hang up once this many bytes of one Define logo (header included) are in.
    std::optional<uint32_t> hangUpAfterDefineBytes;
    /// Hang up once this many bytes of an Upload answer (6A included) are out.
    std::optional<uint32_t> hangUpAfterUploadBytes;
};

class PrinterModel {
public:
    explicit PrinterModel(PrinterConfig config = {});

    /// Interprets bytes received at `now`. Returns how many were consumed: all
    /// of them, unless a hang-up fault fired (then nothing more is consumed).
    size_t Feed(std::span<const uint8_t> bytes, Clock::time_point now);
    /// Reply bytes due by `now`, in the order the replies were made; the
    /// late 0D of Erase logos joins them only once its delay has passed.
    std::vector<uint8_t> TakeOutput(Clock::time_point now);
    /// When the next delayed reply falls due; none when nothing waits.
    std::optional<Clock::time_point> NextDeadline() const;
    /// True once a hang-up fault fired and every byte before it was taken:
    /// the transport should close the line after sending what it holds.
    bool HangUpRequested() const { return m_hangUp && m_ready.empty(); }
    /// After a hang-up: the printer is switched off and on (PowerCycle) and
    /// takes commands again; the hang-up faults stay armed.
    void ResumeAfterHangUp()
    {
        PowerCycle();
        m_hangUp = false;
    }

    // State.
    const PrinterConfig& Config() const { return m_config; }
    const LogoSlot& Slot(uint8_t slot) const { return m_slots[slot]; }
    uint8_t SelectedSlot() const { return m_selected; }
    void SelectSlot(uint8_t slot) { m_selected = slot; }
    /// Stores a GS * command into a slot as Define logo would. False (slot
    /// unchanged) when the stream is not exactly one well-formed command or
    /// does not fit in the free logo memory.
    bool StoreLogo(uint8_t slot, std::span<const uint8_t> stream);
    void ClearSlot(uint8_t slot);
    /// Makes Logo status report this checksum for a stored slot.
    void OverrideChecksum(uint8_t slot, uint16_t checksum);
    uint32_t UsedLogoBytes() const { return m_usedBytes; }
    uint32_t FreeLogoBytes() const;
    /// Same rule as Set logo area: false (nothing changed) when the area is not
    /// a multiple of 64, exceeds the total memory or cannot hold the stored logos.
    bool SetLogoAreaKbytes(uint32_t kbytes);
    /// False (nothing changed) when it is not a multiple of 64, exceeds
    /// kMaxMemoryKbytes or is smaller than the logo area.
    bool SetTotalMemoryKbytes(uint32_t kbytes);
    void SetVersion(uint32_t version) { m_config.version = version; }
    void SetEraseDelay(std::chrono::milliseconds delay) { m_config.eraseDelay = delay; }

    // Faults.
    ModelFaults& Faults() { return m_faults; }
    const ModelFaults& Faults() const { return m_faults; }

    // What happened.
    const std::vector<PrintRecord>& PrintLog() const { return m_prints; }
    /// Bytes that were no command (a real printer would print them as text);
    /// the latest kUnknownLogLimit of them.
    const std::vector<uint8_t>& UnknownBytes() const { return m_unknown; }
    uint64_t UnknownByteCount() const { return m_unknownCount; }
    /// The latest kCommandLogLimit recognised commands, oldest first.
    const std::deque<CommandRecord>& CommandLog() const { return m_commands; }
    /// Commands of this kind whose bytes are all in, since construction or
    /// ClearHistory (a refused Define logo counts once its data is in).
    uint64_t CommandCount(Command command) const { return m_commandCounts[static_cast<size_t>(command)]; }
    /// Define logo commands completed (all data in, logo stored) for a slot.
    uint64_t DefineCount(uint8_t slot) const { return m_defineCounts[slot]; }
    uint64_t RepliesDropped() const { return m_repliesDropped; }
    /// Commands recognised since construction; never reset, so a reader can
    /// tell which entries of CommandLog are new to it.
    uint64_t CommandsRecorded() const { return m_commandsRecorded; }
    /// Forgets the print log, the unknown bytes, the command log and counters.
    void ClearHistory();

    /// True while a command has begun but not all of its bytes are in.
    bool InsideCommand() const { return !m_pending.empty() || m_define.active; }
    /// Bytes a Define logo in progress still waits for (0 when none): until
    /// they are in, every byte received is taken as logo data, commands too.
    uint32_t DefineBytesAwaited() const { return m_define.active ? m_define.total - m_define.received : 0; }

    /// The printer switched off and on: a command half received (a Define
    /// logo cut off included) and replies not yet sent are gone, the
    /// selected slot is 0 again; the stored logos stay, as they do in the
    /// printer's memory. A hang-up that closed the line is not undone.
    void PowerCycle();

    static constexpr size_t kUnknownLogLimit = 64 * 1024;
    static constexpr size_t kCommandLogLimit = 4096;

private:
    struct DefineInProgress {
        bool active = false;
        bool refused = false;
        uint8_t slot = 0;
        uint32_t total = 0;     ///< whole command length, header included
        uint32_t received = 0;  ///< bytes in so far, header included
        std::vector<uint8_t> stream;
    };
    struct DelayedReply {
        Clock::time_point due;
        std::vector<uint8_t> bytes;
    };

    void ConsumeByte(uint8_t byte, Clock::time_point now);
    void ExamineByte(uint8_t byte, Clock::time_point now);
    void Mismatch(uint8_t byte, Clock::time_point now);
    void CompleteCommand(Command command, Clock::time_point now);
    void BeginDefine(uint8_t x, uint8_t y);
    void FinishDefine();
    void Reply(Command command, std::vector<uint8_t> bytes);
    void ReplyLater(Command command, std::vector<uint8_t> bytes, Clock::time_point due);
    bool ShouldDrop(Command command);
    std::vector<uint8_t> UploadAnswer() const;
    void LogUnknown(std::span<const uint8_t> bytes);
    void Record(Command command, std::vector<uint8_t> bytes, bool refused);
    uint32_t LogoAreaBytes() const { return m_config.logoAreaKbytes * 1024; }

    PrinterConfig m_config;
    std::array<LogoSlot, kSlotCount> m_slots{};
    uint8_t m_selected = 0;
    uint32_t m_usedBytes = 0;  ///< sum of the stored streams' lengths
    ModelFaults m_faults;

    std::vector<uint8_t> m_pending;  ///< bytes of a command still incomplete (at most 4)
    DefineInProgress m_define;
    bool m_hangUp = false;

    std::vector<uint8_t> m_ready;  ///< reply bytes waiting for TakeOutput
    std::vector<DelayedReply> m_delayed;  ///< in due order

    std::vector<PrintRecord> m_prints;
    std::vector<uint8_t> m_unknown;
    uint64_t m_unknownCount = 0;
    std::deque<CommandRecord> m_commands;
    std::array<uint64_t, kCommandCount> m_commandCounts{};
    std::array<uint64_t, kSlotCount> m_defineCounts{};
    uint64_t m_repliesDropped = 0;
    uint64_t m_commandsRecorded = 0;
};

}  // namespace vprinter
