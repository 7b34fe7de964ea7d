#pragma once
// Inside of the window layer: the process-wide window table and the message
// queue of each thread.
//
// Lock order: the window table lock, then a queue's lock. No lock of this
// layer is held while a window procedure runs, and no two queue locks are
// ever held together.
#include "thread_annotations.h"
#include "window/message_window.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace marquen::window {

using marquen::Mutex;
using Clock = std::chrono::steady_clock;
struct ThreadQueue;

struct WindowRecord {
    uintptr_t id = 0;
    std::string title;
    WindowProcedure procedure;
    DWORD threadId = 0;
    std::shared_ptr<ThreadQueue> queue;
    std::atomic<bool> alive{true};
    // Both guarded by queue->lock (not marked: the analysis cannot see that
    // a ThreadQueue reached another way is the same queue).
    int runningCalls = 0;      // calls of the procedure in progress
    bool destroying = false;   // WM_DESTROY under way
};

struct PostedMessage {
    uintptr_t windowId;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    uint64_t sequence;
    // Bytes that lParam points at, owned by the queue until the message is
    // retrieved (device-change records).
    std::shared_ptr<std::vector<uint8_t>> payload;
};

struct Timer {
    uintptr_t windowId;
    UINT_PTR id;
    Clock::duration period;
    Clock::time_point due;
};

struct ThreadQueue {
    DWORD threadId = 0;
    Mutex lock;
    std::condition_variable_any changed;  // something was queued or re-timed, or a call ended
    std::deque<PostedMessage> posted GUARDED_BY(lock);
    std::vector<Timer> timers GUARDED_BY(lock);
    uint64_t nextSequence GUARDED_BY(lock) = 1;
    uint64_t generation GUARDED_BY(lock) = 0;
    bool dead GUARDED_BY(lock) = false;
    std::shared_ptr<std::vector<uint8_t>> lastRetrievedPayload GUARDED_BY(lock);
    // The wake descriptor is an epoll set of an eventfd (queued work) and a
    // timerfd (armed for the earliest timer), so a host polls just one.
    int eventFd = -1;
    int timerFd = -1;
    int epollFd = -1;

    /// Wakes the host loop and any thread waiting on the queue.
    void Signal() REQUIRES(lock);
    /// Arms the timerfd for the earliest timer.
    void RearmTimer() REQUIRES(lock);
};

/// The calling thread's queue, made on first use (null with the last error if
/// its descriptors cannot be made).
std::shared_ptr<ThreadQueue> CurrentQueue();

/// Live window of a handle, or null (ERROR_INVALID_WINDOW_HANDLE set).
std::shared_ptr<WindowRecord> FindWindowRecord(HWND window);
HWND HandleOf(const WindowRecord& record);
/// Handles are window numbers shifted left by two, never pointers; a stale
/// handle is simply not found.
inline HWND HandleOfId(uintptr_t id) { return reinterpret_cast<HWND>(id << 2); }
inline uintptr_t IdOfHandle(HWND window) { return reinterpret_cast<uintptr_t>(window) >> 2; }
inline bool IsWellFormedHandle(HWND window) {
    return window != nullptr && (reinterpret_cast<uintptr_t>(window) & 3) == 0;
}
/// Every live window of the thread, for its exit.
std::vector<std::shared_ptr<WindowRecord>> WindowsOfThread(DWORD threadId);
/// Takes a window out of the table and its queue: nothing reaches it after.
void RetireWindow(const std::shared_ptr<WindowRecord>& record);

/// Calls the procedure if the window is alive, counting the call so that a
/// destruction from another thread can wait for it. Owner thread only.
LRESULT CallProcedure(const std::shared_ptr<WindowRecord>& record, UINT message, WPARAM wParam, LPARAM lParam);

/// Posts with bytes that the queue keeps alive for lParam.
bool PostMessageWithPayload(HWND window, UINT message, WPARAM wParam, std::shared_ptr<std::vector<uint8_t>> payload);

DWORD MessageTime();

}  // namespace marquen::window
