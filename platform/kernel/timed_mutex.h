#pragma once
// A recursive lock with a timed enter, for a lock that a peer may hold for a
// long, bounded time (a synchronous write, a reconnection). Built on a mutex
// and a condition variable rather than std::recursive_timed_mutex, whose
// timed lock uses pthread_mutex_clocklock, a call ThreadSanitizer does not
// follow.
#include "thread_annotations.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace marquen::kernel {

class CAPABILITY("mutex") TimedRecursiveMutex {
public:
    TimedRecursiveMutex() = default;
    TimedRecursiveMutex(const TimedRecursiveMutex&) = delete;
    TimedRecursiveMutex& operator=(const TimedRecursiveMutex&) = delete;

    /// Takes the lock (again, for its holder) within `timeout`; false when
    /// another thread held it all that time.
    bool try_lock_for(std::chrono::milliseconds timeout) TRY_ACQUIRE(true) {
        const auto self = std::this_thread::get_id();
        std::unique_lock guard(m_lock);
        return m_released.wait_for(guard, timeout, [&] { return TakeLocked(self); });
    }
    /// Gives up one level of the caller's hold; a caller that does not hold
    /// it gives up nothing.
    void unlock() RELEASE() {
        std::lock_guard guard(m_lock);
        if (m_depth == 0 || m_owner != std::this_thread::get_id())
            return;
        if (--m_depth == 0) {
            m_owner = std::thread::id();
            m_released.notify_one();
        }
    }

private:
    // m_lock held. Takes the lock if it is free or the caller's.
    bool TakeLocked(std::thread::id self) {
        if (m_depth != 0 && m_owner != self)
            return false;
        m_owner = self;
        ++m_depth;
        return true;
    }

    std::mutex m_lock;
    std::condition_variable m_released;
    // Guarded by m_lock (a plain std::mutex: this class is below the
    // annotated layer).
    std::thread::id m_owner;
    unsigned m_depth = 0;
};

}  // namespace marquen::kernel
