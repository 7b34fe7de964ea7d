// Per-thread message queues: posting, timers, retrieval, dispatch and the
// wake descriptor.
#include "window/window_internal.h"

#include "kernel/last_error.h"
#include "kernel/threads.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

namespace marquen::window {
namespace {

timespec ToMonotonicTimespec(Clock::time_point when) {
    // libstdc++'s steady_clock is CLOCK_MONOTONIC, the clock of the timerfd.
    auto since = std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch()).count();
    if (since <= 0) {
        since = 1;  // a zero value would disarm the timer instead of firing it
    }
    return timespec{static_cast<time_t>(since / 1000000000), static_cast<long>(since % 1000000000)};
}

void DrainDescriptor(int fd) {
    if (fd < 0) return;
    uint64_t value;
    ssize_t ignored;
    do {
        ignored = ::read(fd, &value, sizeof value);
    } while (ignored < 0 && errno == EINTR);
}

void CloseQueueDescriptors(ThreadQueue& queue) {
    for (int* fd : {&queue.epollFd, &queue.eventFd, &queue.timerFd}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
}

// The thread's queue and its end: windows of an ending thread are retired
// without WM_DESTROY (the thread can no longer run their procedures).
struct QueueHolder {
    std::shared_ptr<ThreadQueue> queue;
    ~QueueHolder() {
        if (!queue) return;
        for (auto& record : WindowsOfThread(queue->threadId)) {
            RetireWindow(record);
        }
        std::lock_guard guard(queue->lock);
        queue->dead = true;
        queue->posted.clear();
        queue->timers.clear();
        queue->lastRetrievedPayload.reset();
        CloseQueueDescriptors(*queue);
    }
};

thread_local QueueHolder t_queue;

// One message for the caller, or false. Posted messages with a sequence
// above `sequenceLimit` and timers due after `timerCutoff` are left for later.
bool Retrieve(ThreadQueue& queue, MSG* out, uint64_t sequenceLimit, Clock::time_point timerCutoff) {
    std::lock_guard guard(queue.lock);
    if (!queue.posted.empty() && queue.posted.front().sequence <= sequenceLimit) {
        PostedMessage& first = queue.posted.front();
        *out = MSG{HandleOfId(first.windowId), first.message, first.wParam, first.lParam, first.time};
        queue.lastRetrievedPayload = std::move(first.payload);
        queue.posted.pop_front();
        return true;
    }
    Timer* dueFirst = nullptr;
    for (Timer& timer : queue.timers) {
        if (timer.due <= timerCutoff && (dueFirst == nullptr || timer.due < dueFirst->due)) {
            dueFirst = &timer;
        }
    }
    if (dueFirst == nullptr) return false;
    *out = MSG{HandleOfId(dueFirst->windowId), WM_TIMER, dueFirst->id, 0, MessageTime()};
    // Keep the timer's phase; ticks missed while nobody pumped are lost
    // rather than delivered in a burst.
    Clock::time_point now = Clock::now();
    auto periods = (now - dueFirst->due) / dueFirst->period + 1;
    dueFirst->due += dueFirst->period * periods;
    queue.RearmTimer();
    return true;
}

}  // namespace

void ThreadQueue::Signal() {
    ++generation;
    if (eventFd >= 0) {
        uint64_t one = 1;
        ssize_t ignored = ::write(eventFd, &one, sizeof one);
        (void)ignored;  // only fails when the counter is saturated, i.e. already readable
    }
    changed.notify_all();
}

void ThreadQueue::RearmTimer() {
    if (timerFd < 0) return;
    itimerspec setting{};
    if (!timers.empty()) {
        auto earliest = std::min_element(timers.begin(), timers.end(),
                                         [](const Timer& a, const Timer& b) { return a.due < b.due; });
        setting.it_value = ToMonotonicTimespec(earliest->due);
    }
    timerfd_settime(timerFd, TFD_TIMER_ABSTIME, &setting, nullptr);
}

DWORD MessageTime() {
    return static_cast<DWORD>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count());
}

std::shared_ptr<ThreadQueue> CurrentQueue() {
    if (t_queue.queue) {
        return t_queue.queue;
    }
    auto queue = std::make_shared<ThreadQueue>();
    queue->threadId = kernel::GetCurrentThreadId();
    queue->eventFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    queue->timerFd = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    queue->epollFd = ::epoll_create1(EPOLL_CLOEXEC);
    bool ready = queue->eventFd >= 0 && queue->timerFd >= 0 && queue->epollFd >= 0;
    for (int fd : {queue->eventFd, queue->timerFd}) {
        epoll_event interest{};
        interest.events = EPOLLIN;
        interest.data.fd = fd;
        ready = ready && ::epoll_ctl(queue->epollFd, EPOLL_CTL_ADD, fd, &interest) == 0;
    }
    if (!ready) {
        SetLastErrorFromErrno(errno);
        CloseQueueDescriptors(*queue);
        return nullptr;
    }
    t_queue.queue = queue;
    return queue;
}

namespace {

bool Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam, std::shared_ptr<std::vector<uint8_t>> payload) {
    auto record = FindWindowRecord(window);
    if (!record) {
        return false;
    }
    ThreadQueue& queue = *record->queue;
    std::lock_guard guard(queue.lock);
    if (queue.dead || !record->alive) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    if (payload) {
        lParam = reinterpret_cast<LPARAM>(payload->data());
    }
    queue.posted.push_back(
        PostedMessage{record->id, message, wParam, lParam, MessageTime(), queue.nextSequence++, std::move(payload)});
    queue.Signal();
    return true;
}

}  // namespace

bool PostMessageWithPayload(HWND window, UINT message, WPARAM wParam, std::shared_ptr<std::vector<uint8_t>> payload) {
    return Post(window, message, wParam, 0, std::move(payload));
}

bool PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return Post(window, message, wParam, lParam, nullptr);
}

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse) {
    auto record = FindWindowRecord(window);
    if (!record) {
        return 0;
    }
    auto period = std::chrono::milliseconds(std::clamp<UINT>(elapse, USER_TIMER_MINIMUM, 0x7FFFFFFF));
    ThreadQueue& queue = *record->queue;
    std::lock_guard guard(queue.lock);
    if (queue.dead || !record->alive) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    Clock::time_point due = Clock::now() + period;
    auto existing = std::find_if(queue.timers.begin(), queue.timers.end(),
                                 [&](const Timer& t) { return t.windowId == record->id && t.id == id; });
    if (existing != queue.timers.end()) {
        existing->period = period;
        existing->due = due;
    } else {
        queue.timers.push_back(Timer{record->id, id, period, due});
    }
    queue.RearmTimer();
    ++queue.generation;
    queue.changed.notify_all();
    return id == 0 ? 1 : id;
}

bool KillTimer(HWND window, UINT_PTR id) {
    auto record = FindWindowRecord(window);
    if (!record) {
        return false;
    }
    ThreadQueue& queue = *record->queue;
    std::lock_guard guard(queue.lock);
    auto removed = std::erase_if(queue.timers, [&](const Timer& t) { return t.windowId == record->id && t.id == id; });
    queue.RearmTimer();
    if (removed == 0) {
        SetLastError(ERROR_NOT_FOUND);
        return false;
    }
    return true;
}

bool GetMessageTimeout(MSG* message, DWORD milliseconds) {
    if (message == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    auto queue = CurrentQueue();
    if (!queue) return false;
    const bool forever = milliseconds == INFINITE;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : milliseconds);
    for (;;) {
        uint64_t generation;
        {
            std::lock_guard guard(queue->lock);
            generation = queue->generation;
        }
        if (Retrieve(*queue, message, UINT64_MAX, Clock::now())) {
            return true;
        }
        std::unique_lock lock(queue->lock);
        if (queue->generation != generation) continue;
        Clock::time_point now = Clock::now();
        if (!forever && now >= deadline) {
            SetLastError(ERROR_TIMEOUT);
            return false;
        }
        Clock::time_point wakeAt = forever ? Clock::time_point::max() : deadline;
        for (const Timer& timer : queue->timers) {
            wakeAt = std::min(wakeAt, timer.due);
        }
        while (queue->generation == generation) {
            if (wakeAt == Clock::time_point::max()) {
                queue->changed.wait(lock);
            } else if (queue->changed.wait_until(lock, wakeAt) == std::cv_status::timeout) {
                break;
            }
        }
    }
}

LRESULT DispatchMessage(const MSG* message) {
    if (message == nullptr) return 0;
    DWORD saved = GetLastError();
    auto record = FindWindowRecord(message->hwnd);
    SetLastError(saved);
    if (!record || record->threadId != kernel::GetCurrentThreadId()) {
        return 0;
    }
    return CallProcedure(record, message->message, message->wParam, message->lParam);
}

int MessageQueueWakeFd() {
    auto queue = CurrentQueue();
    return queue ? queue->epollFd : -1;
}

unsigned PumpPendingMessages() {
    auto queue = CurrentQueue();
    if (!queue) return 0;
    uint64_t sequenceLimit;
    {
        std::lock_guard guard(queue->lock);
        DrainDescriptor(queue->eventFd);
        DrainDescriptor(queue->timerFd);
        sequenceLimit = queue->nextSequence - 1;
    }
    const Clock::time_point cutoff = Clock::now();
    unsigned dispatched = 0;
    MSG message;
    while (Retrieve(*queue, &message, sequenceLimit, cutoff)) {
        DispatchMessage(&message);
        ++dispatched;
    }
    std::lock_guard guard(queue->lock);
    if (!queue->posted.empty()) {
        queue->Signal();  // left for the next round
    }
    queue->RearmTimer();
    return dispatched;
}

}  // namespace marquen::window
