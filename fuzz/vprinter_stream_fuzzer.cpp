// Fuzz target: arbitrary bytes fed to the virtual printer's command
// interpreter, split into reads of varying sizes, under a configuration and
// faults chosen by the first two bytes. After every read the logo memory must
// add up: the stored streams are well-formed GS * commands with the checksum
// of their bytes, and their total is what the printer counts as used.
#include "printer_model.h"

#include <cstdlib>

using namespace vprinter;

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

void CheckMemory(const PrinterModel& model)
{
    uint64_t used = 0;
    for (size_t i = 0; i < kSlotCount; ++i) {
        const LogoSlot& slot = model.Slot(static_cast<uint8_t>(i));
        if (!slot.stored) {
            Check(slot.stream.empty() && slot.checksum == 0);
            continue;
        }
        Check(slot.stream.size() >= 4 && slot.stream[0] == 0x1D && slot.stream[1] == 0x2A);
        Check(slot.stream.size() == 4 + size_t{slot.stream[2]} * slot.stream[3] * 8);
        Check(slot.checksum == LogoChecksum(slot.stream));
        used += slot.stream.size();
    }
    Check(used == model.UsedLogoBytes());
    Check(used + model.FreeLogoBytes() == uint64_t{model.Config().logoAreaKbytes} * 1024);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const uint8_t setup = data[0];
    const uint8_t split = data[1];
    data += 2;
    size -= 2;

    // Bit 0 version, bits 1-2 logo area, bits 3-4 erase delay, bit 5 one
    // dropped reply, bits 6 and 7 the hang-up faults at byte `split`.
    static constexpr uint32_t kAreas[4] = {0, 64, 256, 2048};  // small areas reach the refusals
    PrinterConfig config;
    config.version = setup & 1;
    config.logoAreaKbytes = kAreas[(setup >> 1) & 3];
    config.eraseDelay = std::chrono::milliseconds(((setup >> 3) & 3) * 100);
    PrinterModel model(config);
    model.Faults().dropNextReplies = (setup >> 5) & 1;
    if (setup & 0x40)
        model.Faults().hangUpAfterUploadBytes = split;
    if (setup & 0x80)
        model.Faults().hangUpAfterDefineBytes = split;

    Clock::time_point now{};
    size_t offset = 0;
    size_t read = 0;
    while (offset < size) {
        const size_t chunk = std::min<size_t>(size - offset, 1 + ((split + read * 7) % 13));
        const size_t consumed = model.Feed(std::span<const uint8_t>(data + offset, chunk), now);
        Check(consumed <= chunk);
        // Only a hang-up fault stops the printer taking bytes, and for good.
        if (consumed < chunk) {
            Check(model.Faults().hangUpAfterDefineBytes || model.Faults().hangUpAfterUploadBytes);
            Check(model.Feed(std::span<const uint8_t>(data + offset, chunk), now) == 0);
        }
        offset += chunk;
        ++read;
        now += std::chrono::milliseconds(50);
        model.TakeOutput(now);
        CheckMemory(model);
        if (model.HangUpRequested())
            break;
    }
    // Every delayed answer falls due in the end.
    model.TakeOutput(now + std::chrono::hours(1));
    Check(!model.NextDeadline());
    return 0;
}
