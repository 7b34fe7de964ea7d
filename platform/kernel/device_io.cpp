// Device handles: a descriptor, the queues of pending reads and writes, and a
// worker thread that polls the descriptor for them.
//
// Lock order: a device's lock, then SignalLock() (completions signal events
// while the device lock is held). Nothing holds SignalLock() while taking a
// device lock. System calls that touch a caller's buffer run with the device
// lock held, which is what lets CancelIo promise that the buffer is no longer
// used once it returns; they are non-blocking, so the lock is held briefly.
#include "kernel/device_io.h"

#include "kernel/handle_table.h"
#include "kernel/served_device_internal.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

namespace marquen::kernel {
namespace {

using Clock = std::chrono::steady_clock;

// How long the worker leaves a direction alone after the descriptor claimed
// readiness but the call still said EAGAIN. Some drivers (the parallel port's
// lp) have no poll support and always claim readiness; without this the
// worker would spin on them.
constexpr auto kSpuriousReadyBackoff = std::chrono::milliseconds(10);
// Longest sleep of an idle worker. It is woken through its eventfd whenever
// work arrives or the handle closes; the bound only limits the damage of a
// wake-up that went missing.
constexpr int kIdlePollMilliseconds = 1000;

// An operation's outcome in OVERLAPPED::Internal: the system error code in
// the low 32 bits, the errno it was mapped from (if any) above them. Pending
// and success never carry an errno, so both compare equal to their codes.
static_assert(sizeof(uintptr_t) >= 8, "the outcome needs room for the code and its errno");

uintptr_t PackStatus(DWORD status, int cause) {
    return uintptr_t{status} | (uintptr_t{static_cast<uint32_t>(cause)} << 32);
}
DWORD StatusCode(uintptr_t packed) { return static_cast<DWORD>(packed & 0xFFFFFFFFu); }
int StatusCause(uintptr_t packed) { return static_cast<int>(static_cast<uint32_t>(packed >> 32)); }

void StoreStatus(OVERLAPPED* overlapped, uintptr_t status) {
    std::atomic_ref<uintptr_t>(overlapped->Internal).store(status, std::memory_order_release);
}
uintptr_t LoadStatus(const OVERLAPPED* overlapped) {
    return std::atomic_ref<uintptr_t>(const_cast<OVERLAPPED*>(overlapped)->Internal).load(std::memory_order_acquire);
}

struct PendingOperation {
    OVERLAPPED* overlapped;
    uint8_t* buffer;
    size_t length;
    size_t done;
};

// Outcome of one attempt at an operation.
struct Attempt {
    bool finished;
    DWORD status;
    int cause = 0;  // the errno behind a failed status, 0 for none
};

// Writes to a pipe or socket whose reader has gone raise SIGPIPE, which
// would end the process. It is blocked around the call and a SIGPIPE raised
// by it is consumed, so the write just fails with EPIPE.
ssize_t WriteWithoutSigpipe(int fd, const void* data, size_t length) {
    sigset_t pipeOnly, previous, pending;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    sigpending(&pending);
    bool wasPending = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipeOnly, &previous);
    ssize_t result;
    do {
        result = ::write(fd, data, length);
    } while (result < 0 && errno == EINTR);
    int savedErrno = errno;
    if (result < 0 && savedErrno == EPIPE && !wasPending) {
        timespec zero{0, 0};
        while (sigtimedwait(&pipeOnly, nullptr, &zero) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = savedErrno;
    return result;
}

class DeviceObject final : public Object {
public:
    DeviceObject(int fd, int wakeFd, bool mayRaiseSigpipe)
        : m_fd(fd), m_wakeFd(wakeFd), m_mayRaiseSigpipe(mayRaiseSigpipe) {}
    ~DeviceObject() override { Shutdown(); }

    void OnClose() override { Shutdown(); }

    int Descriptor() const { return m_fd; }

    BOOL Start(bool isRead, void* buffer, DWORD length, DWORD* transferred, OVERLAPPED* overlapped) {
        if (transferred != nullptr) {
            *transferred = 0;
        }
        if (overlapped == nullptr || (buffer == nullptr && length > 0)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        std::unique_lock lock(m_lock);
        if (m_closed) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        if (IsQueued(overlapped)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        if (overlapped->hEvent != nullptr) {
            ResetEvent(overlapped->hEvent);
        }
        overlapped->InternalHigh = 0;
        StoreStatus(overlapped, ERROR_IO_PENDING);
        PendingOperation operation{overlapped, static_cast<uint8_t*>(buffer), length, 0};

        auto& queue = isRead ? m_reads : m_writes;
        bool mayTryNow = queue.empty() && (isRead || !m_writeGate || m_writeGate());
        if (length == 0 || mayTryNow) {
            Attempt attempt = length == 0 ? Attempt{true, ERROR_SUCCESS}
                                          : (isRead ? TryRead(operation) : TryWrite(operation));
            if (attempt.finished) {
                if (attempt.status == ERROR_SUCCESS) {
                    Complete(operation, ERROR_SUCCESS);
                    if (transferred != nullptr) {
                        *transferred = static_cast<DWORD>(operation.done);
                    }
                    return TRUE;
                }
                // Failed at once: no completion, the event stays clear.
                overlapped->InternalHigh = operation.done;
                StoreStatus(overlapped, PackStatus(attempt.status, attempt.cause));
                SetLastErrorWithErrno(attempt.status, attempt.cause);
                return FALSE;
            }
        }
        try {
            if (!m_worker.joinable()) {
                m_worker = std::thread([this] { WorkerLoop(); });
            }
        } catch (const std::system_error& error) {
            overlapped->InternalHigh = operation.done;
            StoreStatus(overlapped, PackStatus(Win32ErrorFromErrno(error.code().value()), error.code().value()));
            SetLastErrorFromErrno(error.code().value());
            return FALSE;
        }
        queue.push_back(operation);
        Wake();
        SetLastError(ERROR_IO_PENDING);
        return FALSE;
    }

    BOOL WaitResult(OVERLAPPED* overlapped, DWORD milliseconds) {
        std::unique_lock lock(m_lock);
        if (!IsQueued(overlapped)) {
            return LoadStatus(overlapped) == ERROR_IO_PENDING ? FALSE : TRUE;
        }
        auto finished = [&] { return LoadStatus(overlapped) != ERROR_IO_PENDING; };
        if (milliseconds == INFINITE) {
            m_completed.wait(lock, finished);
            return TRUE;
        }
        return m_completed.wait_for(lock, std::chrono::milliseconds(milliseconds), finished) ? TRUE : FALSE;
    }

    // Returns how many operations were cancelled.
    size_t Cancel(OVERLAPPED* only) {
        std::lock_guard guard(m_lock);
        return CancelLocked(only);
    }

    void SetWriteGate(DeviceWriteGate gate, DWORD recheckMilliseconds) {
        std::lock_guard guard(m_lock);
        m_writeGate = std::move(gate);
        m_gateRecheckMilliseconds = static_cast<int>(std::clamp<DWORD>(recheckMilliseconds, 1, 1000));
        Wake();
    }

    bool HungUp() {
        std::lock_guard guard(m_lock);
        if (m_closed || m_hungUp) {
            return true;
        }
        pollfd probe{m_fd, 0, 0};
        int ready;
        do {
            ready = ::poll(&probe, 1, 0);
        } while (ready < 0 && errno == EINTR);
        if (ready > 0 && (probe.revents & (POLLHUP | POLLERR | POLLNVAL))) {
            m_hungUp = true;
        }
        return m_hungUp;
    }

private:
    bool IsQueued(const OVERLAPPED* overlapped) const {
        auto uses = [overlapped](const PendingOperation& operation) { return operation.overlapped == overlapped; };
        return std::any_of(m_reads.begin(), m_reads.end(), uses) ||
               std::any_of(m_writes.begin(), m_writes.end(), uses);
    }

    void Wake() {
        uint64_t one = 1;
        ssize_t ignored = ::write(m_wakeFd, &one, sizeof one);
        (void)ignored;  // the counter only saturates if nobody reads it; the worker then is awake anyway
    }

    DWORD HangUpStatus(int error) {
        if (error == EIO || error == ENXIO || error == ENODEV) {
            m_hungUp = true;
            return ERROR_DEVICE_NOT_CONNECTED;
        }
        return Win32ErrorFromErrno(error);
    }

    // Lock held.
    Attempt TryRead(PendingOperation& operation) {
        ssize_t result;
        do {
            result = ::read(m_fd, operation.buffer, operation.length);
        } while (result < 0 && errno == EINTR);
        if (result > 0) {
            operation.done = static_cast<size_t>(result);
            return {true, ERROR_SUCCESS};
        }
        if (result == 0) {
            m_hungUp = true;
            return {true, ERROR_HANDLE_EOF};
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return {false, ERROR_IO_PENDING};
        }
        int error = errno;
        return {true, HangUpStatus(error), error};
    }

    // Lock held. Writes as much as the device takes now.
    Attempt TryWrite(PendingOperation& operation) {
        while (operation.done < operation.length) {
            const uint8_t* from = operation.buffer + operation.done;
            size_t left = operation.length - operation.done;
            ssize_t result;
            if (m_mayRaiseSigpipe) {
                result = WriteWithoutSigpipe(m_fd, from, left);
            } else {
                do {
                    result = ::write(m_fd, from, left);
                } while (result < 0 && errno == EINTR);
            }
            if (result > 0) {
                operation.done += static_cast<size_t>(result);
                continue;
            }
            if (result < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                return {false, ERROR_IO_PENDING};
            }
            if (result == 0) {
                return {true, ERROR_WRITE_FAULT};
            }
            int error = errno;
            return {true, HangUpStatus(error), error};
        }
        return {true, ERROR_SUCCESS};
    }

    // Lock held. Publishes the outcome, then signals the caller's event.
    void Complete(PendingOperation& operation, DWORD status, int cause = 0) {
        OVERLAPPED* overlapped = operation.overlapped;
        overlapped->InternalHigh = operation.done;
        HANDLE event = overlapped->hEvent;
        StoreStatus(overlapped, PackStatus(status, cause));
        if (event != nullptr) {
            SetEvent(event);
        }
        m_completed.notify_all();
    }

    size_t CancelLocked(OVERLAPPED* only) {
        size_t cancelled = 0;
        for (auto* queue : {&m_reads, &m_writes}) {
            for (auto it = queue->begin(); it != queue->end();) {
                if (only == nullptr || it->overlapped == only) {
                    PendingOperation operation = *it;
                    it = queue->erase(it);
                    Complete(operation, ERROR_OPERATION_ABORTED);
                    ++cancelled;
                } else {
                    ++it;
                }
            }
        }
        return cancelled;
    }

    // Lock held. Runs the queue's front operations while they finish.
    bool Service(std::deque<PendingOperation>& queue, bool isRead) {
        bool progressed = false;
        while (!queue.empty()) {
            if (!isRead && m_writeGate && !m_writeGate()) {
                return true;
            }
            PendingOperation& front = queue.front();
            size_t before = front.done;
            Attempt attempt = isRead ? TryRead(front) : TryWrite(front);
            progressed = progressed || front.done != before || attempt.finished;
            if (!attempt.finished) {
                break;
            }
            PendingOperation operation = front;
            queue.pop_front();
            Complete(operation, attempt.status, attempt.cause);
        }
        return progressed;
    }

    void WorkerLoop() {
        std::unique_lock lock(m_lock);
        while (!m_stop) {
            Clock::time_point now = Clock::now();
            int timeout = kIdlePollMilliseconds;
            auto backoffLeft = [&](Clock::time_point until) {
                return static_cast<int>(
                    std::chrono::ceil<std::chrono::milliseconds>(until - now).count());
            };
            short events = 0;
            bool gateHeld = false;
            if (!m_reads.empty()) {
                if (now >= m_readBackoffUntil) {
                    events |= POLLIN;
                } else {
                    timeout = std::min(timeout, backoffLeft(m_readBackoffUntil));
                }
            }
            if (!m_writes.empty()) {
                if (m_writeGate && !m_writeGate()) {
                    gateHeld = true;
                    timeout = std::min(timeout, m_gateRecheckMilliseconds);
                } else if (now >= m_writeBackoffUntil) {
                    events |= POLLOUT;
                } else {
                    timeout = std::min(timeout, backoffLeft(m_writeBackoffUntil));
                }
            }
            pollfd fds[2] = {{m_wakeFd, POLLIN, 0}, {m_fd, events, 0}};
            nfds_t count = events != 0 ? 2 : 1;

            lock.unlock();
            int ready = ::poll(fds, count, std::max(timeout, 0));
            lock.lock();
            if (m_stop) {
                break;
            }
            if (ready < 0) {
                continue;  // EINTR; anything else would repeat, and the timeout paces it
            }
            if (fds[0].revents & POLLIN) {
                uint64_t drained;
                ssize_t ignored = ::read(m_wakeFd, &drained, sizeof drained);
                (void)ignored;
            }
            short revents = count == 2 ? fds[1].revents : 0;
            const short trouble = POLLHUP | POLLERR | POLLNVAL;
            now = Clock::now();
            if (!m_reads.empty() && (revents & (POLLIN | trouble))) {
                if (!Service(m_reads, true)) {
                    m_readBackoffUntil = now + kSpuriousReadyBackoff;
                }
            }
            if (!m_writes.empty() && (revents & (POLLOUT | trouble))) {
                if (!Service(m_writes, false)) {
                    m_writeBackoffUntil = now + kSpuriousReadyBackoff;
                }
            } else if (!m_writes.empty() && gateHeld) {
                // The gate was closed when the poll began; it may be open now.
                // A write the device does not take yet is polled for next time.
                Service(m_writes, false);
            }
        }
    }

    void Shutdown() {
        {
            std::lock_guard guard(m_lock);
            if (m_shutDown) {
                return;
            }
            m_shutDown = true;
            m_closed = true;
            CancelLocked(nullptr);
            m_stop = true;
            Wake();
        }
        if (m_worker.joinable()) {
            m_worker.join();
        }
        ::close(m_fd);
        ::close(m_wakeFd);
    }

    const int m_fd;
    const int m_wakeFd;
    const bool m_mayRaiseSigpipe;
    std::mutex m_lock;
    std::condition_variable m_completed;  // any operation of this device completed
    // All GUARDED_BY(m_lock).
    std::deque<PendingOperation> m_reads;
    std::deque<PendingOperation> m_writes;
    DeviceWriteGate m_writeGate;
    int m_gateRecheckMilliseconds = 20;
    Clock::time_point m_readBackoffUntil{};
    Clock::time_point m_writeBackoffUntil{};
    bool m_closed = false;
    bool m_hungUp = false;
    bool m_stop = false;
    bool m_shutDown = false;
    std::thread m_worker;
};

std::shared_ptr<DeviceObject> LookupDevice(HANDLE handle) {
    auto device = LookupAs<DeviceObject>(handle);
    if (!device) {
        SetLastError(ERROR_INVALID_HANDLE);
    }
    return device;
}

}  // namespace
}  // namespace marquen::kernel

using namespace marquen::kernel;

HANDLE CreateDeviceHandle(int fd) {
    if (fd < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    int flags = ::fcntl(fd, F_GETFL);
    struct stat info {};
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0 || ::fstat(fd, &info) < 0) {
        int error = errno;
        ::close(fd);
        SetLastErrorFromErrno(error);
        return nullptr;
    }
    int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd < 0) {
        int error = errno;
        ::close(fd);
        SetLastErrorFromErrno(error);
        return nullptr;
    }
    bool mayRaiseSigpipe = S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode);
    return InsertHandle(std::make_shared<DeviceObject>(fd, wakeFd, mayRaiseSigpipe));
}

int DeviceHandleDescriptor(HANDLE device) {
    auto object = LookupAs<DeviceObject>(device);
    return object ? object->Descriptor() : -1;
}

BOOL ReadFile(HANDLE device, void* buffer, DWORD length, DWORD* bytesRead, OVERLAPPED* overlapped) {
    if (IsServedDevice(device)) {
        return ServedReadWrite(device, true, buffer, length, bytesRead, overlapped);
    }
    auto object = LookupDevice(device);
    return object ? object->Start(true, buffer, length, bytesRead, overlapped) : FALSE;
}

BOOL WriteFile(HANDLE device, const void* buffer, DWORD length, DWORD* bytesWritten, OVERLAPPED* overlapped) {
    if (IsServedDevice(device)) {
        return ServedReadWrite(device, false, const_cast<void*>(buffer), length, bytesWritten, overlapped);
    }
    auto object = LookupDevice(device);
    // The buffer is only ever read for a write.
    return object ? object->Start(false, const_cast<void*>(buffer), length, bytesWritten, overlapped) : FALSE;
}

BOOL GetOverlappedResultEx(HANDLE device, OVERLAPPED* overlapped, DWORD* bytesTransferred, DWORD milliseconds,
                           BOOL /*alertable*/) {
    if (overlapped == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (LoadStatus(overlapped) == ERROR_IO_PENDING) {
        if (milliseconds == 0) {
            SetLastError(ERROR_IO_INCOMPLETE);
            return FALSE;
        }
        bool ended;
        if (IsServedDevice(device)) {
            ended = ServedWaitResult(device, overlapped, milliseconds);
        } else {
            auto object = LookupDevice(device);
            if (!object) {
                return FALSE;
            }
            ended = object->WaitResult(overlapped, milliseconds);
        }
        if (!ended) {
            SetLastError(LoadStatus(overlapped) == ERROR_IO_PENDING && milliseconds != INFINITE
                             ? WAIT_TIMEOUT
                             : ERROR_INVALID_PARAMETER);
            return FALSE;
        }
    }
    uintptr_t status = LoadStatus(overlapped);
    if (bytesTransferred != nullptr) {
        *bytesTransferred = static_cast<DWORD>(overlapped->InternalHigh);
    }
    if (status == ERROR_SUCCESS) {
        return TRUE;
    }
    SetLastErrorWithErrno(StatusCode(status), StatusCause(status));
    return FALSE;
}

BOOL GetOverlappedResult(HANDLE device, OVERLAPPED* overlapped, DWORD* bytesTransferred, BOOL wait) {
    return GetOverlappedResultEx(device, overlapped, bytesTransferred, wait ? INFINITE : 0, FALSE);
}

BOOL CancelIo(HANDLE device) {
    if (IsServedDevice(device)) {
        ServedCancel(device, nullptr);
        return TRUE;
    }
    auto object = LookupDevice(device);
    if (!object) {
        return FALSE;
    }
    object->Cancel(nullptr);
    return TRUE;
}

BOOL CancelIoEx(HANDLE device, OVERLAPPED* overlapped) {
    if (IsServedDevice(device)) {
        if (ServedCancel(device, overlapped) == 0) {
            SetLastError(ERROR_NOT_FOUND);
            return FALSE;
        }
        return TRUE;
    }
    auto object = LookupDevice(device);
    if (!object) {
        return FALSE;
    }
    if (object->Cancel(overlapped) == 0) {
        SetLastError(ERROR_NOT_FOUND);
        return FALSE;
    }
    return TRUE;
}

BOOL HasOverlappedIoCompleted(const OVERLAPPED* overlapped) {
    return LoadStatus(overlapped) != ERROR_IO_PENDING ? TRUE : FALSE;
}

BOOL SetDeviceWriteGate(HANDLE device, DeviceWriteGate gate, DWORD recheckMilliseconds) {
    auto object = LookupDevice(device);
    if (!object) {
        return FALSE;
    }
    object->SetWriteGate(std::move(gate), recheckMilliseconds);
    return TRUE;
}

BOOL IsDeviceHungUp(HANDLE device) {
    if (IsServedDevice(device)) {
        return ServedIsGone(device) ? TRUE : FALSE;
    }
    auto object = LookupAs<DeviceObject>(device);
    return !object || object->HungUp() ? TRUE : FALSE;
}
