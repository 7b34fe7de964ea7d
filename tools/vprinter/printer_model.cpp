#include "printer_model.h"

#include "bmp_file.h"
#include "logo_file.h"

#include <algorithm>
#include <cstdio>

namespace vprinter {

namespace {

constexpr uint8_t kGS = 0x1D;
constexpr uint8_t kUS = 0x1F;
constexpr uint8_t kEraseDone = 0x0D;
constexpr uint8_t kUploadMark = 0x6A;
constexpr uint8_t kAccepted = 0x06;
constexpr uint8_t kRefused = 0x15;
// The free-memory answer is always this long: the decimal digits, then 00
// bytes. A reader that waits for the full answer is never left waiting for
// bytes that do not come, and one that stops at the first 00 sees the number.
constexpr size_t kFreeMemoryAnswerLength = 8;

constexpr std::array<const char*, kCommandCount> kCommandNames{
    "select", "define", "status", "print", "erase",
    "upload", "total-memory", "logo-area", "free-memory", "set-area"};

// A well-formed GS * command: header, then exactly x * y * 8 data bytes.
bool IsLogoStream(std::span<const uint8_t> stream)
{
    if (stream.size() < 4 || stream[0] != kGS || stream[1] != 0x2A)
        return false;
    return stream.size() == 4 + size_t{stream[2]} * stream[3] * 8;
}

}  // namespace

const char* CommandName(Command command)
{
    size_t index = static_cast<size_t>(command);
    return index < kCommandNames.size() ? kCommandNames[index] : "";
}

std::optional<Command> ParseCommandName(std::string_view name)
{
    for (size_t i = 0; i < kCommandNames.size(); ++i) {
        if (name == kCommandNames[i])
            return static_cast<Command>(i);
    }
    return std::nullopt;
}

uint16_t LogoChecksum(std::span<const uint8_t> stream)
{
    uint16_t sum = 0;
    for (uint8_t byte : stream)
        sum = static_cast<uint16_t>(sum + byte);
    return static_cast<uint16_t>(0u - sum);
}

std::string ValidateConfig(const PrinterConfig& config)
{
    if (config.totalMemoryKbytes % 64 != 0 || config.totalMemoryKbytes > kMaxMemoryKbytes)
        return "total memory must be a multiple of 64 kbytes, at most " + std::to_string(kMaxMemoryKbytes);
    if (config.logoAreaKbytes % 64 != 0)
        return "logo area must be a multiple of 64 kbytes";
    if (config.logoAreaKbytes > config.totalMemoryKbytes)
        return "logo area cannot exceed the total memory";
    if (config.eraseDelay.count() < 0)
        return "erase delay cannot be negative";
    return {};
}

PrinterModel::PrinterModel(PrinterConfig config) : m_config(config) {}

size_t PrinterModel::Feed(std::span<const uint8_t> bytes, Clock::time_point now)
{
    size_t consumed = 0;
    while (consumed < bytes.size() && !m_hangUp) {
        // Data of a Define logo is the bulk of all traffic: take it in runs.
        if (m_define.active && !m_faults.hangUpAfterDefineBytes) {
            size_t run = std::min<size_t>(bytes.size() - consumed, m_define.total - m_define.received);
            if (!m_define.refused)
                m_define.stream.insert(m_define.stream.end(), bytes.begin() + consumed,
                                       bytes.begin() + consumed + run);
            m_define.received += static_cast<uint32_t>(run);
            consumed += run;
            if (m_define.received == m_define.total)
                FinishDefine();
            continue;
        }
        ConsumeByte(bytes[consumed], now);
        ++consumed;
    }
    return consumed;
}

void PrinterModel::ConsumeByte(uint8_t byte, Clock::time_point now)
{
    if (m_define.active) {
        if (!m_define.refused)
            m_define.stream.push_back(byte);
        ++m_define.received;
        if (m_faults.hangUpAfterDefineBytes && m_define.received >= *m_faults.hangUpAfterDefineBytes)
            m_hangUp = true;
        if (m_define.received == m_define.total)
            FinishDefine();
        return;
    }
    ExamineByte(byte, now);
}

// The command table as a prefix tree walked one byte at a time. A byte that
// cannot continue the command begun so far ends it as unknown bytes and is
// looked at again as the possible start of a new command, so one stray byte
// never swallows the command that follows it.
void PrinterModel::ExamineByte(uint8_t byte, Clock::time_point now)
{
    if (m_pending.empty()) {
        if (byte == kGS || byte == kUS)
            m_pending.push_back(byte);
        else
            LogUnknown(std::span<const uint8_t>(&byte, 1));
        return;
    }

    const uint8_t lead = m_pending[0];
    const size_t position = m_pending.size();  // index the new byte would take
    if (lead == kGS) {
        const uint8_t second = position >= 2 ? m_pending[1] : byte;
        switch (second) {
        case 0x23:  // Select logo 1D 23 n
        case 0x2F:  // Print logo 1D 2F m
            m_pending.push_back(byte);
            if (position == 2)
                CompleteCommand(second == 0x23 ? Command::SelectLogo : Command::PrintLogo, now);
            return;
        case 0x2A:  // Define logo 1D 2A x y ...
            m_pending.push_back(byte);
            if (m_faults.hangUpAfterDefineBytes && m_pending.size() >= *m_faults.hangUpAfterDefineBytes)
                m_hangUp = true;
            if (position == 3) {
                const uint8_t x = m_pending[2];
                const uint8_t y = m_pending[3];
                Record(Command::DefineLogo, m_pending, false);
                m_pending.clear();
                BeginDefine(x, y);
            }
            return;
        case 0x40:  // Erase logos 1D 40 31
            if (position == 2 && byte != 0x31)
                return Mismatch(byte, now);
            m_pending.push_back(byte);
            if (position == 2)
                CompleteCommand(Command::EraseLogos, now);
            return;
        case 0x0B:  // Read total memory 1D 0B
            m_pending.push_back(byte);
            CompleteCommand(Command::ReadTotalMemory, now);
            return;
        case 0x22:  // Set logo area 1D 22 55 s 00
            if ((position == 2 && byte != 0x55) || (position == 4 && byte != 0x00))
                return Mismatch(byte, now);
            m_pending.push_back(byte);
            if (position == 4)
                CompleteCommand(Command::SetLogoArea, now);
            return;
        default:
            return Mismatch(byte, now);
        }
    }

    const uint8_t second = position >= 2 ? m_pending[1] : byte;
    switch (second) {
    case 0x65:  // Logo status 1F 65 n
        m_pending.push_back(byte);
        if (position == 2)
            CompleteCommand(Command::LogoStatus, now);
        return;
    case 0x6A:  // Upload logo 1F 6A
        m_pending.push_back(byte);
        CompleteCommand(Command::UploadLogo, now);
        return;
    case 0x07:  // Read logo area 1F 07 55
    case 0x77:  // Read free logo memory 1F 77 01
        if (position == 2 && byte != (second == 0x07 ? 0x55 : 0x01))
            return Mismatch(byte, now);
        m_pending.push_back(byte);
        if (position == 2)
            CompleteCommand(second == 0x07 ? Command::ReadLogoArea : Command::ReadFreeLogoMemory, now);
        return;
    default:
        return Mismatch(byte, now);
    }
}

void PrinterModel::Mismatch(uint8_t byte, Clock::time_point now)
{
    LogUnknown(m_pending);
    m_pending.clear();
    ExamineByte(byte, now);
}

void PrinterModel::CompleteCommand(Command command, Clock::time_point now)
{
    std::vector<uint8_t> bytes;
    bytes.swap(m_pending);
    bool refused = false;

    switch (command) {
    case Command::SelectLogo:
        m_selected = bytes[2];
        break;
    case Command::PrintLogo: {
        const uint8_t mode = bytes[2];
        if (mode > 3) {
            // Not a size this printer knows: it prints nothing.
            LogUnknown(bytes);
            return;
        }
        const LogoSlot& slot = m_slots[m_selected];
        PrintRecord print;
        print.slot = m_selected;
        print.mode = mode;
        print.stored = slot.stored;
        if (slot.stored) {
            print.width = 8u * slot.stream[2];
            print.height = 8u * slot.stream[3];
        }
        m_prints.push_back(print);
        break;
    }
    case Command::LogoStatus: {
        const uint8_t n = bytes[2];
        const LogoSlot& slot = m_slots[n];
        uint16_t checksum = slot.checksum;
        if (slot.stored && m_faults.corruptChecksum)
            checksum = static_cast<uint16_t>(~checksum);
        // b0 echoes the slot number asked about.
        Reply(command, {n, static_cast<uint8_t>(slot.stored ? 1 : 0), static_cast<uint8_t>(checksum & 0xFF),
                        static_cast<uint8_t>(checksum >> 8)});
        break;
    }
    case Command::EraseLogos:
        for (size_t i = 0; i < kSlotCount; ++i)
            ClearSlot(static_cast<uint8_t>(i));
        ReplyLater(command, {kEraseDone}, now + m_config.eraseDelay);
        break;
    case Command::UploadLogo:
        Reply(command, UploadAnswer());
        break;
    case Command::ReadTotalMemory:
        if (m_config.version != 0)
            Reply(command, {static_cast<uint8_t>(m_config.totalMemoryKbytes / 64)});
        break;
    case Command::ReadLogoArea:
        // b0 echoes the parameter 55; b2 carries nothing.
        if (m_config.version != 0)
            Reply(command, {0x55, static_cast<uint8_t>(m_config.logoAreaKbytes / 64), 0x00});
        break;
    case Command::ReadFreeLogoMemory: {
        char digits[16];
        int length = std::snprintf(digits, sizeof digits, "%u", FreeLogoBytes());
        std::vector<uint8_t> answer(kFreeMemoryAnswerLength, 0x00);
        std::copy_n(digits, std::min<size_t>(static_cast<size_t>(length), answer.size()), answer.begin());
        Reply(command, std::move(answer));
        break;
    }
    case Command::SetLogoArea: {
        // Refused when beyond the total memory, or when the logos already
        // stored would no longer fit: they are never thrown away by it.
        refused = !SetLogoAreaKbytes(uint32_t{bytes[3]} * 64);
        Reply(command, {refused ? kRefused : kAccepted});
        break;
    }
    case Command::DefineLogo:
        break;  // recorded by BeginDefine's caller, completed by FinishDefine
    }
    Record(command, std::move(bytes), refused);
}

void PrinterModel::BeginDefine(uint8_t x, uint8_t y)
{
    // The slot's earlier logo is gone as soon as a new one starts to arrive:
    // an interrupted or refused download leaves the slot empty, never holding
    // the old logo under a checksum the sender would mistake for its own.
    ClearSlot(m_selected);
    m_define = DefineInProgress{};
    m_define.active = true;
    m_define.slot = m_selected;
    m_define.total = 4 + uint32_t{x} * y * 8;  // at most 520204
    m_define.received = 4;
    m_define.refused = m_define.total > FreeLogoBytes();
    if (m_define.refused) {
        m_commands.back().refused = true;
    } else {
        m_define.stream.reserve(m_define.total);
        m_define.stream = {kGS, 0x2A, x, y};
    }
    if (m_define.received == m_define.total)
        FinishDefine();
}

void PrinterModel::FinishDefine()
{
    DefineInProgress define = std::move(m_define);
    m_define = DefineInProgress{};
    ++m_commandCounts[static_cast<size_t>(Command::DefineLogo)];
    if (define.refused)
        return;  // data taken in and discarded; the slot stays empty
    LogoSlot& slot = m_slots[define.slot];
    slot.checksum = LogoChecksum(define.stream);
    m_usedBytes += static_cast<uint32_t>(define.stream.size());
    slot.stream = std::move(define.stream);
    slot.stored = true;
    ++m_defineCounts[define.slot];
}

std::vector<uint8_t> PrinterModel::UploadAnswer() const
{
    const std::vector<uint8_t> empty{kUploadMark, 0x00, 0x00};
    const LogoSlot& slot = m_slots[m_selected];
    if (!slot.stored)
        return empty;

    LogoFile logo("");
    logo.SetRawData(slot.stream);
    std::string error;
    if (logo.Identify(error) != PR_OK || !logo.Decode(error))
        return empty;  // cannot happen for a stream StoreLogo or Define accepted
    BmpFile bitmap("");
    bitmap.SetPicture(logo.Bits());
    uint32_t width = logo.Width();
    uint32_t height = logo.Height();
    std::vector<uint8_t> file;
    PictureResult result = bitmap.Encode(width, height, error, file);
    if (result != PR_OK && result != PR_SIZE_ADJUSTED)
        return empty;
    std::vector<uint8_t> answer;
    answer.reserve(1 + file.size());
    answer.push_back(kUploadMark);
    answer.insert(answer.end(), file.begin(), file.end());
    return answer;
}

bool PrinterModel::ShouldDrop(Command command)
{
    bool drop = m_faults.dropRepliesOf[static_cast<size_t>(command)];
    if (m_faults.dropNextReplies > 0) {
        --m_faults.dropNextReplies;
        drop = true;
    }
    if (drop)
        ++m_repliesDropped;
    return drop;
}

void PrinterModel::Reply(Command command, std::vector<uint8_t> bytes)
{
    if (ShouldDrop(command))
        return;
    if (command == Command::UploadLogo && m_faults.hangUpAfterUploadBytes) {
        bytes.resize(std::min<size_t>(bytes.size(), *m_faults.hangUpAfterUploadBytes));
        m_hangUp = true;
    }
    m_ready.insert(m_ready.end(), bytes.begin(), bytes.end());
}

void PrinterModel::ReplyLater(Command command, std::vector<uint8_t> bytes, Clock::time_point due)
{
    if (ShouldDrop(command))
        return;
    auto place = std::upper_bound(m_delayed.begin(), m_delayed.end(), due,
                                  [](Clock::time_point t, const DelayedReply& r) { return t < r.due; });
    m_delayed.insert(place, DelayedReply{due, std::move(bytes)});
}

std::vector<uint8_t> PrinterModel::TakeOutput(Clock::time_point now)
{
    // After a hang-up fault nothing joins the line any more.
    while (!m_hangUp && !m_delayed.empty() && m_delayed.front().due <= now) {
        m_ready.insert(m_ready.end(), m_delayed.front().bytes.begin(), m_delayed.front().bytes.end());
        m_delayed.erase(m_delayed.begin());
    }
    std::vector<uint8_t> out;
    out.swap(m_ready);
    return out;
}

std::optional<Clock::time_point> PrinterModel::NextDeadline() const
{
    if (m_hangUp || m_delayed.empty())
        return std::nullopt;
    return m_delayed.front().due;
}

bool PrinterModel::StoreLogo(uint8_t slot, std::span<const uint8_t> stream)
{
    if (!IsLogoStream(stream))
        return false;
    const uint32_t freeWithoutSlot = FreeLogoBytes() + static_cast<uint32_t>(m_slots[slot].stream.size());
    if (stream.size() > freeWithoutSlot)
        return false;
    ClearSlot(slot);
    LogoSlot& target = m_slots[slot];
    target.stream.assign(stream.begin(), stream.end());
    target.checksum = LogoChecksum(stream);
    target.stored = true;
    m_usedBytes += static_cast<uint32_t>(stream.size());
    return true;
}

void PrinterModel::PowerCycle()
{
    m_pending.clear();
    m_define = DefineInProgress{};
    m_ready.clear();
    m_delayed.clear();
    m_selected = 0;
}

void PrinterModel::ClearSlot(uint8_t slot)
{
    LogoSlot& target = m_slots[slot];
    m_usedBytes -= static_cast<uint32_t>(target.stream.size());
    target = LogoSlot{};
}

void PrinterModel::OverrideChecksum(uint8_t slot, uint16_t checksum)
{
    if (m_slots[slot].stored)
        m_slots[slot].checksum = checksum;
}

uint32_t PrinterModel::FreeLogoBytes() const
{
    return m_usedBytes >= LogoAreaBytes() ? 0 : LogoAreaBytes() - m_usedBytes;
}

bool PrinterModel::SetLogoAreaKbytes(uint32_t kbytes)
{
    if (kbytes % 64 != 0 || kbytes > m_config.totalMemoryKbytes || uint64_t{kbytes} * 1024 < m_usedBytes)
        return false;
    m_config.logoAreaKbytes = kbytes;
    return true;
}

bool PrinterModel::SetTotalMemoryKbytes(uint32_t kbytes)
{
    if (kbytes % 64 != 0 || kbytes > kMaxMemoryKbytes || kbytes < m_config.logoAreaKbytes)
        return false;
    m_config.totalMemoryKbytes = kbytes;
    return true;
}

void PrinterModel::LogUnknown(std::span<const uint8_t> bytes)
{
    m_unknownCount += bytes.size();
    m_unknown.insert(m_unknown.end(), bytes.begin(), bytes.end());
    if (m_unknown.size() > kUnknownLogLimit)
        m_unknown.erase(m_unknown.begin(), m_unknown.end() - kUnknownLogLimit / 2);
}

void PrinterModel::Record(Command command, std::vector<uint8_t> bytes, bool refused)
{
    if (command != Command::DefineLogo)
        ++m_commandCounts[static_cast<size_t>(command)];
    m_commands.push_back(CommandRecord{command, std::move(bytes), refused});
    ++m_commandsRecorded;
    if (m_commands.size() > kCommandLogLimit)
        m_commands.pop_front();
}

void PrinterModel::ClearHistory()
{
    m_prints.clear();
    m_unknown.clear();
    m_unknownCount = 0;
    m_commands.clear();
    m_commandCounts.fill(0);
    m_defineCounts.fill(0);
    m_repliesDropped = 0;
}

}  // namespace vprinter
