// The packet writer: sends a packetised WritePort's own copy of the bytes in
// packets through the port library's transmit handle and OVERLAPPED, and
// posts each packet's progress to the object's window.
#include "background.h"
#include "fundaport.h"
#include "icommunication.h"
#include "module_state.h"
#include "port_failure.h"

#include <new>

namespace quorlink {
namespace {

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
    DWORD written = 0;
    if (Comm_WritePort(port, transfer.bytes.data() + offset, length, &written, overlapped))
        return written == length ? PacketOutcome::Sent : PacketOutcome::Failed;
    if (GetLastError() != ERROR_IO_PENDING) {
        ReportPortFailure("writing to the port failed");
        return PacketOutcome::Failed;
    }

    HANDLE waits[2] = {overlapped->hEvent, transfer.abortEvent};
    DWORD wait = WaitForMultipleObjects(2, waits, FALSE, transfer.link->WriteWait());
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

DWORD PacketWriterMain(void* parameter) {
    std::unique_ptr<WriterContext> context(static_cast<WriterContext*>(parameter));
    PacketTransfer& transfer = *context->transfer;
    const size_t total = transfer.bytes.size();
    size_t sent = 0;
    while (sent < total) {
        if (IsSetOrGone(transfer.abortEvent)) {
            EndAborted(transfer);
            break;
        }
        DWORD length = static_cast<DWORD>(std::min(transfer.packetSize, total - sent));
        PacketOutcome outcome = WritePacket(transfer, sent, length);
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
    return 0;
}

}  // namespace

HANDLE CreatePacketWriter(std::shared_ptr<PacketTransfer> transfer) {
    auto* context = new (std::nothrow) WriterContext{std::move(transfer), {}};
    if (!context) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    HANDLE thread = CreateThread(nullptr, 0, PacketWriterMain, context, 0, nullptr);
    if (!thread)
        delete context;
    return thread;
}

}  // namespace quorlink
