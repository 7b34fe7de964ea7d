// The read thread: reads the port 512 bytes at a time through the port
// library's receive handle and OVERLAPPED, and queues what it reads.
#include "background.h"
#include "fundaport.h"
#include "module_state.h"
#include "port_failure.h"

#include <chrono>
#include <new>

namespace quorlink {

ThreadCountGuard::ThreadCountGuard() { ++RunningThreadCount(); }
ThreadCountGuard::~ThreadCountGuard() { --RunningThreadCount(); }

namespace {

constexpr DWORD kReadChunk = 512;
constexpr DWORD kParallelPause = 100;
/// Between two read loops the thread looks this often whether it may read
/// again (see WaitBeforeNextLoop).
constexpr DWORD kRestartPoll = 100;

struct ReadThreadContext {
    std::shared_ptr<ReceiveChannel> channel;
    std::shared_ptr<LinkState> link;
    ThreadCountGuard counted;
};

void QueueBytes(ReceiveChannel& channel, DWORD count) {
    if (count == 0 || Comm_IsDevicePresent() != 1)
        return;
    {
        std::lock_guard guard(channel.queueLock);
        channel.queue.Append(std::span<const uint8_t>(channel.readBuffer, count));
    }
    channel.data.Set();
}

class ReadLoop {
public:
    ReadLoop(ReceiveChannel& channel, const LinkState& link)
        : m_channel(channel), m_link(link), m_overlapped(Comm_GetOverlappedRX()) {}

    // A read still in flight targets the channel's buffer through the port
    // library's OVERLAPPED; it is cancelled whenever the loop ends, so no
    // read of this loop completes into the buffer later.
    ~ReadLoop() {
        if (m_pending)
            CancelIoEx(m_port, m_overlapped);
    }

    void Run() {
        // The port library could not make its state: there is nothing to read with.
        if (m_overlapped == nullptr) {
            ReportReadFailure();
            return;
        }
        for (;;) {
            if (m_link.portKind.load() == kPortParallel) {
                // A parallel port is read at most every second pass, and only
                // when it can be read at all.
                if (WaitForSingleObject(m_channel.abortEvent, kParallelPause) != WAIT_TIMEOUT)
                    return;
                if (!m_pending) {
                    ResetEvent(m_overlapped->hEvent);
                    m_readNow = m_toggle && Comm_IsBidirectional() != 0;
                    m_toggle = !m_toggle;
                }
            } else if (!m_pending) {
                m_readNow = true;
                ResetEvent(m_overlapped->hEvent);
            }

            if (m_readNow) {
                m_readNow = false;
                m_port = Comm_GethCommPortRX();
                DWORD count = 0;
                if (Comm_ReadPort(m_port, m_channel.readBuffer, kReadChunk, &count, m_overlapped)) {
                    m_pending = false;
                    QueueBytes(m_channel, count);
                } else if (GetLastError() == ERROR_IO_PENDING) {
                    m_pending = true;
                } else {
                    ReportReadFailure();
                    return;
                }
            }

            if (IsSetOrGone(m_channel.abortEvent))
                return;
            if (!m_pending)
                continue;

            const HANDLE waits[2] = {m_overlapped->hEvent, m_channel.abortEvent};
            DWORD wait = WaitForAnyObject(waits, m_link.ReadWait());
            if (wait == WAIT_OBJECT_0) {
                DWORD count = 0;
                BOOL done = GetOverlappedResult(m_port, m_overlapped, &count, FALSE);
                m_pending = false;
                if (!done) {
                    ReportReadFailure();
                    return;
                }
                QueueBytes(m_channel, count);
            } else if (wait != WAIT_TIMEOUT) {
                return;  // AbortEvent, or the wait failed
            }
        }
    }

private:
    // A read that ends because the port was closed or rebuilt (cancelled,
    // or its handle already gone) is no news; any other failure is.
    static void ReportReadFailure() {
        const DWORD error = GetLastError();
        if (error != ERROR_OPERATION_ABORTED && error != ERROR_INVALID_HANDLE)
            ReportPortFailure("reading from the port failed");
    }

    ReceiveChannel& m_channel;
    const LinkState& m_link;
    OVERLAPPED* const m_overlapped;
    HANDLE m_port = nullptr;
    bool m_pending = false;
    bool m_readNow = false;
    bool m_toggle = false;
};

// Waits after a read loop has ended, at most read + write time-out, for
// StopEvent. True: the thread is to end.
//
// A loop ends on AbortEvent too (a reconnection, an aborted transfer), and a
// fixed pause would leave the port unread for that whole time after every
// such event: a reply to the next command would sit unread and the client's
// WriteAndRead time out. So the wait also ends as soon as AbortEvent is
// clear again and the port library has a live port to read.
bool WaitBeforeNextLoop(ReceiveChannel& channel, const LinkState& link) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(link.EndWait());
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        DWORD slice = static_cast<DWORD>(std::clamp<long long>(left, 0, kRestartPoll));
        if (channel.stop.WaitAndTake(slice))
            return true;
        if (left <= 0)
            return false;
        if (WaitForSingleObject(channel.abortEvent, 0) == WAIT_TIMEOUT && Comm_IsDevicePresent() == 1)
            return false;
    }
}

DWORD ReadThreadMain(void* parameter) noexcept {
    std::unique_ptr<ReadThreadContext> context(static_cast<ReadThreadContext*>(parameter));
    ReceiveChannel& channel = *context->channel;
    const LinkState& link = *context->link;
    // An exception would end the process: the thread ends instead, and the
    // port reads nothing more until it is opened again.
    try {
        do {
            ReadLoop(channel, link).Run();
        } while (!WaitBeforeNextLoop(channel, link));
    } catch (...) {
    }
    return 0;
}

}  // namespace

HANDLE CreateReadThread(std::shared_ptr<ReceiveChannel> channel, std::shared_ptr<LinkState> link) {
    auto* context = new (std::nothrow) ReadThreadContext{std::move(channel), std::move(link), {}};
    if (!context) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    HANDLE thread = marquen::kernel::CreateThread(ReadThreadMain, context, true);
    if (!thread)
        delete context;
    return thread;
}

}  // namespace quorlink
