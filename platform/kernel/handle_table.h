#pragma once
// Inside of the kernel layer: the process-wide handle table and the one lock
// under which every signal state changes and every wait looks at it.
//
// A HANDLE is never a pointer to the object: it is a number from a counter
// that only grows, cast to the handle type. A stale or closed handle so never
// reaches a freed object or a newer object that happens to share an address;
// it is simply not found (ERROR_INVALID_HANDLE).
#include "win_types.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace marquen::kernel {

/// One thread blocked in a wait; objects it waits on notify it.
struct Waiter {
    std::condition_variable wake;
};

class Object {
public:
    virtual ~Object() = default;

    // Waitable objects override these. All are called with SignalLock() held.
    virtual bool IsWaitable() const { return false; }
    /// Would a wait by thread `threadId` be satisfied now?
    virtual bool IsSignalledFor(DWORD /*threadId*/) const { return false; }
    /// Takes the signal for thread `threadId` (an auto-reset event clears).
    virtual void Acquire(DWORD /*threadId*/) {}

    /// Called once when the last handle goes, outside every kernel lock.
    virtual void OnClose() {}

    /// Threads waiting on this object; guarded by SignalLock().
    std::vector<Waiter*> waiters;
};

/// The lock guarding the handle table and every signal state.
std::mutex& SignalLock();
/// Wakes every thread waiting on `object`; SignalLock() must be held.
void NotifyWaiters(Object& object);

/// Enters `object` into the table and returns its new handle (null when the
/// table is full, with ERROR_OUTOFMEMORY).
HANDLE InsertHandle(std::shared_ptr<Object> object);
/// The object of `handle`, or null (no last error set).
std::shared_ptr<Object> LookupHandle(HANDLE handle);
/// Same, with SignalLock() already held by the caller.
std::shared_ptr<Object> LookupHandleLocked(HANDLE handle);
/// Removes `handle` from the table and returns its object (null if unknown).
std::shared_ptr<Object> RemoveHandle(HANDLE handle);

template <class T>
std::shared_ptr<T> LookupAs(HANDLE handle) {
    return std::dynamic_pointer_cast<T>(LookupHandle(handle));
}

/// Identifier of the calling thread (from 1, never reused in the process).
DWORD CurrentThreadId();
/// Makes the calling thread take identifier `id` (threads of this layer get
/// theirs at creation).
void AdoptThreadId(DWORD id);
/// A fresh thread identifier.
DWORD NewThreadId();

}  // namespace marquen::kernel
