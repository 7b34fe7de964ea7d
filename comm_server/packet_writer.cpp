// The packet writer: sends a packetised WritePort's own copy of the bytes in
// packets through the port library's transmit handle and OVERLAPPED, and
// posts each packet's progress to the object's window.
#include "background.h"
#include "fundaport.h"
#include "icommunication.h"
#include "module_state.h"
#include "port_failure.h"

#include <sys/ioctl.h>
#include <termios.h>

#include <chrono>
#include <new>

namespace quorlink {
namespace {

// How often the drain looks at the line's output queue (and the abort).
constexpr DWORD kDrainPoll = 5;

// Bits per second of a termios speed; 0 for one not listed.
uint64_t BitsPerSecond(speed_t speed) {
    switch (speed) {
    case B1200: return 1200;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    case B230400: return 230400;
    default: return 0;
    }
}

struct WriterContext {
    std::shared_ptr<PacketTransfer> transfer;
    ThreadCountGuard counted;
};

enum class PacketOutcome { Sent, Failed, Aborted };

// Writes one packet and waits at most the write time-out for it.
//
// A packet the library refuses at once, or that goes out short, counts as
// failed: the transfer cannot go on with a hole in the stream.
PacketOutcome WritePacket(const PacketTransfer& transfer, size_t offset, DWORD length) {
    HANDLE port = Comm_GethCommPortTX();
    OVERLAPPED* overlapped = Comm_GetOverlappedTX();
    if (overlapped == nullptr) {
        // The port library could not make its state: nothing can be written.
        ReportPortFailure("writing to the port failed");
        return PacketOutcome::Failed;
    }
    DWORD written = 0;
    if (Comm_WritePort(port, transfer.bytes.data() + offset, length, &written, overlapped))
        return written == length ? PacketOutcome::Sent : PacketOutcome::Failed;
    if (GetLastError() != ERROR_IO_PENDING) {
        ReportPortFailure("writing to the port failed");
        return PacketOutcome::Failed;
    }

    const HANDLE waits[2] = {overlapped->hEvent, transfer.abortEvent};
    DWORD wait = WaitForAnyObject(waits, transfer.link->WriteWait());
    if (wait == WAIT_OBJECT_0) {
        if (!GetOverlappedResult(port, overlapped, &written, FALSE)) {
            ReportPortFailure("writing to the port failed");
            return PacketOutcome::Failed;
        }
        return written == length ? PacketOutcome::Sent : PacketOutcome::Failed;
    }
    if (wait == WAIT_TIMEOUT)
        ReportPortWriteTimeout(length, transfer.link->WriteWait());
    // The write still in flight reads this thread's copy of the bytes, which
    // goes with the thread: take it back first.
    CancelIoEx(port, overlapped);
    return wait == WAIT_OBJECT_0 + 1 ? PacketOutcome::Aborted : PacketOutcome::Failed;
}

// Waits until a serial line has sent what the kernel still holds for it, so
// that the last packet counts as written only once it is on the wire (the
// printer's answer to the next request cannot come before). Bounded by the
// write time-out plus the line time of what was queued at the start (10 bits
// a byte). Anything but a terminal, or a terminal that keeps no count (a
// pseudo-terminal reports 0), has nothing to wait for.
PacketOutcome DrainLine(const PacketTransfer& transfer) {
    const int fd = DeviceHandleDescriptor(Comm_GethCommPortTX());
    int queued = 0;
    termios line{};
    if (fd < 0 || ::ioctl(fd, TIOCOUTQ, &queued) != 0 || queued <= 0 || ::tcgetattr(fd, &line) != 0)
        return PacketOutcome::Sent;
    const uint64_t bitsPerSecond = std::max<uint64_t>(BitsPerSecond(cfgetospeed(&line)), 1200);
    const uint64_t lineMs = uint64_t(queued) * 10 * 1000 / bitsPerSecond;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(transfer.link->WriteWait() + lineMs);
    while (queued > 0) {
        if (std::chrono::steady_clock::now() > deadline)
            return PacketOutcome::Failed;
        if (WaitForSingleObject(transfer.abortEvent, kDrainPoll) == WAIT_OBJECT_0)
            return PacketOutcome::Aborted;
        if (::ioctl(fd, TIOCOUTQ, &queued) != 0)
            return PacketOutcome::Sent;  // the line went away; the next request will tell
    }
    return PacketOutcome::Sent;
}

void PostProgress(PacketTransfer& transfer, WPARAM percent, LPARAM errorFlag) {
    ProgressLedger& ledger = *transfer.ledger;
    std::lock_guard guard(ledger.lock);
    if (PostMessage(transfer.window, WM_PACKET_PROGRESS, percent, errorFlag))
        ++ledger.posted;
}

// An abort ends the transfer silently when the caller asked for it, and
// with an error report otherwise.
void EndAborted(PacketTransfer& transfer) {
    if (!transfer.stoppedByCaller.load())
        PostProgress(transfer, 0, 1);
}

// Sends the packets; the thread's body.
void SendPackets(PacketTransfer& transfer) {
    const size_t total = transfer.bytes.size();
    size_t sent = 0;
    while (sent < total) {
        if (IsSetOrGone(transfer.abortEvent)) {
            EndAborted(transfer);
            break;
        }
        DWORD length = static_cast<DWORD>(std::min(transfer.packetSize, total - sent));
        PacketOutcome outcome = WritePacket(transfer, sent, length);
        if (outcome == PacketOutcome::Sent && sent + length == total)
            outcome = DrainLine(transfer);
        if (outcome == PacketOutcome::Aborted) {
            EndAborted(transfer);
            break;
        }
        if (outcome == PacketOutcome::Failed) {
            PostProgress(transfer, 0, 1);
            break;
        }
        sent += length;
        PostProgress(transfer, ProgressPercent(sent, total), 0);
    }
}

DWORD PacketWriterMain(void* parameter) noexcept {
    std::unique_ptr<WriterContext> context(static_cast<WriterContext*>(parameter));
    // An exception would end the process: the transfer ends with an error
    // report instead, if one can still be posted.
    try {
        SendPackets(*context->transfer);
    } catch (...) {
        try {
            PostProgress(*context->transfer, 0, 1);
        } catch (...) {
        }
    }
    return 0;
}

}  // namespace

HANDLE CreatePacketWriter(std::shared_ptr<PacketTransfer> transfer) {
    auto* context = new (std::nothrow) WriterContext{std::move(transfer), {}};
    if (!context) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    HANDLE thread = marquen::kernel::CreateThread(PacketWriterMain, context, false);
    if (!thread)
        delete context;
    return thread;
}

}  // namespace quorlink
