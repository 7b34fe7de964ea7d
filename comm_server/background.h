#pragma once
// What a Communication object shares with its background threads. Each
// thread holds its own counted reference to the state it uses and never a
// pointer to the object, so an object that goes (or a thread that outlives
// the wait for its end) never leaves a thread on freed memory; kernel
// handles are never reused, so a thread that still holds a closed one only
// sees its waits fail, and ends.
#include "com/com.h"
#include "kernel/kernel.h"
#include "receive_queue.h"
#include "thread_annotations.h"
#include "window/message_window.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace quorlink {

// The message-window calls this library makes, in its own namespace.
using marquen::window::DefWindowProc;
using marquen::window::KillTimer;
using marquen::window::PostMessage;
using marquen::window::SetTimer;
using marquen::window::WM_DEVICECHANGE;
using marquen::window::WM_DEVMODECHANGE;
using marquen::window::WM_TIMER;

/// PortKind values.
constexpr int kPortSerial = 0;
constexpr int kPortUsb = 1;
constexpr int kPortParallel = 2;
constexpr int kPortNetwork = 3;  ///< a raw TCP port ("TCP:HOST[:PORT]")

/// Settings read by the threads while the caller may change them.
struct LinkState {
    std::atomic<int> portKind{kPortSerial};
    std::atomic<LONG> readTimeout{15000};
    std::atomic<LONG> writeTimeout{5000};

    /// Time-outs as waits take them: SetTimeout stores any value, and a
    /// negative one must not become an endless wait.
    DWORD ReadWait() const { return static_cast<DWORD>(std::max<LONG>(readTimeout.load(), 0)); }
    DWORD WriteWait() const { return static_cast<DWORD>(std::max<LONG>(writeTimeout.load(), 0)); }
    /// Read + write time-out: how long a thread is given to end.
    DWORD EndWait() const {
        uint64_t sum = uint64_t{ReadWait()} + WriteWait();
        return static_cast<DWORD>(std::min<uint64_t>(sum, INFINITE - 1));
    }
};

/// An auto-reset signal between threads of the module: set by one, taken by
/// the one wait it satisfies. Any thread.
class AutoResetSignal {
public:
    void Set() EXCLUDES(m_lock) {
        {
            std::lock_guard guard(m_lock);
            m_set = true;
        }
        m_changed.notify_all();
    }
    void Reset() EXCLUDES(m_lock) {
        std::lock_guard guard(m_lock);
        m_set = false;
    }
    /// Waits at most `milliseconds` for the signal and takes it; false when
    /// the time ran out.
    bool WaitAndTake(DWORD milliseconds) EXCLUDES(m_lock) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        std::unique_lock lock(m_lock);
        while (!m_set) {
            if (m_changed.wait_until(lock, deadline) == std::cv_status::timeout)
                break;
        }
        const bool taken = m_set;
        m_set = false;
        return taken;
    }

private:
    marquen::Mutex m_lock;
    std::condition_variable_any m_changed;
    bool m_set GUARDED_BY(m_lock) = false;
};

/// The receive machinery of one open port: the queue, its lock and the
/// signals of the read thread, shared by the object, the read thread and a
/// WriteAndRead in progress. Only AbortEvent is a kernel event: the read
/// thread waits on it together with its read's OVERLAPPED event.
struct ReceiveChannel {
    /// QueueLock: held only to append to, count or take from `queue` (a copy
    /// of at most the queue's bytes), so it is taken without a time-out.
    marquen::Mutex queueLock;
    AutoResetSignal stop;               ///< StopEvent: ends the read thread
    AutoResetSignal data;               ///< DataEvent: set when bytes are queued
    std::atomic<bool> replyWait{false}; ///< ReplyWaitEvent: holds OnComm back
    HANDLE abortEvent = nullptr;        ///< the object's AbortEvent (not owned)
    ReceiveQueue queue GUARDED_BY(queueLock);
    uint8_t readBuffer[512] = {};       ///< target of the read in flight; read thread only

    explicit ReceiveChannel(HANDLE abort) : abortEvent(abort) {}
    ReceiveChannel(const ReceiveChannel&) = delete;
    ReceiveChannel& operator=(const ReceiveChannel&) = delete;
};

/// Starts the read thread of `channel` suspended; the caller sets its
/// priority and resumes it. Null with the last error on failure.
HANDLE CreateReadThread(std::shared_ptr<ReceiveChannel> channel, std::shared_ptr<LinkState> link);


/// Bookkeeping of the progress messages the packet writers post, so that the
/// window can drop those of a transfer that was aborted or superseded.
/// Messages are handled in the order they were posted, so a count is enough.
struct ProgressLedger {
    marquen::Mutex lock;
    uint64_t posted GUARDED_BY(lock) = 0;       ///< messages posted by every writer so far
    uint64_t handled GUARDED_BY(lock) = 0;      ///< messages the window has taken so far
    uint64_t dropBelow GUARDED_BY(lock) = 0;    ///< messages numbered below this are not raised
    uint64_t currentFrom GUARDED_BY(lock) = 0;  ///< first message of the transfer in progress
};

/// One packetised write: its own copy of the bytes, and everything the
/// writer thread needs.
struct PacketTransfer {
    std::vector<uint8_t> bytes;
    size_t packetSize = 0;
    HANDLE abortEvent = nullptr;  ///< the object's AbortEvent (not owned)
    HWND window = nullptr;        ///< target of WM_PACKET_PROGRESS
    std::shared_ptr<LinkState> link;
    std::shared_ptr<ProgressLedger> ledger;
    /// Set before AbortEvent when the caller (AbortTransfert, ClosePort, a
    /// new transfer, the object's end) stops the transfer: it then ends
    /// silently. An abort that comes from elsewhere (a reconnection) ends it
    /// with OnError, so the client always learns that the transfer is over.
    std::atomic<bool> stoppedByCaller{false};
};

/// Starts the packet writer of `transfer` (running). Null with the last
/// error on failure.
HANDLE CreatePacketWriter(std::shared_ptr<PacketTransfer> transfer);

/// Percentage of a transfer, truncated; 64-bit so no length overflows.
constexpr WPARAM ProgressPercent(uint64_t sent, uint64_t total) {
    return total == 0 ? 100 : static_cast<WPARAM>(sent * 100 / total);
}

/// Signalled, or closed, or no handle: every case in which a thread must not
/// go on waiting for more work.
inline bool IsSetOrGone(HANDLE event) { return WaitForSingleObject(event, 0) != WAIT_TIMEOUT; }

/// A thread of the module: counted while it runs, so the module is not
/// unloaded under it.
class ThreadCountGuard {
public:
    ThreadCountGuard();
    ~ThreadCountGuard();
    ThreadCountGuard(const ThreadCountGuard&) = delete;
    ThreadCountGuard& operator=(const ThreadCountGuard&) = delete;
};

}  // namespace quorlink
