// Events, mutexes and the waits on them. Every signal state is guarded by the
// one SignalLock(); a waiting thread registers a Waiter with each object it
// waits on, and every state change notifies those waiters, which re-check.
#include "kernel/handle_table.h"
#include "kernel/sync.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <optional>
#include <thread>

namespace marquen::kernel {
namespace {

class EventObject final : public Object {
public:
    EventObject(bool manualReset, bool signalled) : m_manualReset(manualReset), m_signalled(signalled) {}

    bool IsWaitable() const override { return true; }
    bool IsSignalledFor(DWORD) const override { return m_signalled; }
    bool Acquire(DWORD) override {
        if (!m_manualReset) {
            m_signalled = false;
        }
        return false;
    }

    void Set() {
        m_signalled = true;
        NotifyWaiters(*this);
    }
    void Reset() { m_signalled = false; }

private:
    const bool m_manualReset;
    bool m_signalled;  // GUARDED_BY(SignalLock())
};

class MutexObject;

// Mutexes the current thread owns, so that its exit can mark them abandoned.
// Constructed on the thread's first ownership of any mutex.
class OwnedMutexList {
public:
    explicit OwnedMutexList(DWORD threadId) : m_threadId(threadId) {}
    ~OwnedMutexList();

    void Remember(const std::shared_ptr<MutexObject>& mutex);  // SignalLock() held

private:
    DWORD m_threadId;
    std::vector<std::weak_ptr<MutexObject>> m_mutexes;  // GUARDED_BY(SignalLock())
};

class MutexObject final : public Object, public std::enable_shared_from_this<MutexObject> {
public:
    bool IsWaitable() const override { return true; }
    bool IsSignalledFor(DWORD threadId) const override { return m_owner == 0 || m_owner == threadId; }
    bool Acquire(DWORD threadId) override;

    bool OwnedBy(DWORD threadId) const { return m_owner == threadId; }
    bool Release(DWORD threadId) {
        if (m_owner != threadId || m_owner == 0) {
            return false;
        }
        if (--m_count == 0) {
            m_owner = 0;
            NotifyWaiters(*this);
        }
        return true;
    }
    void Abandon() {
        m_owner = 0;
        m_count = 0;
        m_abandoned = true;
        NotifyWaiters(*this);
    }

private:
    // All GUARDED_BY(SignalLock()).
    DWORD m_owner = 0;
    unsigned m_count = 0;
    bool m_abandoned = false;
};

OwnedMutexList& OwnedMutexesOfThisThread() {
    thread_local OwnedMutexList list(CurrentThreadId());
    return list;
}

bool MutexObject::Acquire(DWORD threadId) {
    if (m_owner == threadId) {
        ++m_count;
        return false;
    }
    m_owner = threadId;
    m_count = 1;
    bool wasAbandoned = m_abandoned;
    m_abandoned = false;
    OwnedMutexesOfThisThread().Remember(shared_from_this());
    return wasAbandoned;
}

void OwnedMutexList::Remember(const std::shared_ptr<MutexObject>& mutex) {
    std::erase_if(m_mutexes, [this](const std::weak_ptr<MutexObject>& entry) {
        auto owned = entry.lock();
        return !owned || !owned->OwnedBy(m_threadId);
    });
    m_mutexes.push_back(mutex);
}

OwnedMutexList::~OwnedMutexList() {
    std::lock_guard guard(SignalLock());
    for (auto& entry : m_mutexes) {
        if (auto mutex = entry.lock(); mutex && mutex->OwnedBy(m_threadId)) {
            mutex->Abandon();
        }
    }
}

// Removes a waiter from every object it registered with, however the wait ends.
class WaiterRegistration {
public:
    WaiterRegistration(Waiter& waiter, const std::vector<std::shared_ptr<Object>>& objects)
        : m_waiter(waiter), m_objects(objects) {}
    ~WaiterRegistration() {
        if (m_registered) {
            for (auto& object : m_objects) {
                std::erase(object->waiters, &m_waiter);
            }
        }
    }
    void Register() {
        if (!m_registered) {
            for (auto& object : m_objects) {
                object->waiters.push_back(&m_waiter);
            }
            m_registered = true;
        }
    }

private:
    Waiter& m_waiter;
    const std::vector<std::shared_ptr<Object>>& m_objects;
    bool m_registered = false;
};

template <class T>
std::shared_ptr<T> LookupLockedAs(HANDLE handle) {
    return std::dynamic_pointer_cast<T>(LookupHandleLocked(handle));
}

}  // namespace
}  // namespace marquen::kernel

using namespace marquen::kernel;

HANDLE CreateEvent(void* securityAttributes, BOOL manualReset, BOOL initialState, const char* /*name*/) {
    if (securityAttributes != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return InsertHandle(std::make_shared<EventObject>(manualReset != FALSE, initialState != FALSE));
}

BOOL SetEvent(HANDLE event) {
    std::lock_guard guard(SignalLock());
    auto object = LookupLockedAs<EventObject>(event);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    object->Set();
    return TRUE;
}

BOOL ResetEvent(HANDLE event) {
    std::lock_guard guard(SignalLock());
    auto object = LookupLockedAs<EventObject>(event);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    object->Reset();
    return TRUE;
}

HANDLE CreateMutex(void* securityAttributes, BOOL initialOwner, const char* /*name*/) {
    if (securityAttributes != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto mutex = std::make_shared<MutexObject>();
    if (initialOwner) {
        std::lock_guard guard(SignalLock());
        mutex->Acquire(CurrentThreadId());
    }
    return InsertHandle(std::move(mutex));
}

BOOL ReleaseMutex(HANDLE mutex) {
    std::lock_guard guard(SignalLock());
    auto object = LookupLockedAs<MutexObject>(mutex);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!object->Release(CurrentThreadId())) {
        SetLastError(ERROR_NOT_OWNER);
        return FALSE;
    }
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    return WaitForMultipleObjects(1, &handle, FALSE, milliseconds);
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) {
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || handles == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    using Clock = std::chrono::steady_clock;
    const bool forever = milliseconds == INFINITE;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : milliseconds);
    const DWORD self = CurrentThreadId();

    std::unique_lock lock(SignalLock());
    std::vector<std::shared_ptr<Object>> objects(count);
    for (DWORD i = 0; i < count; ++i) {
        objects[i] = LookupHandleLocked(handles[i]);
        if (!objects[i] || !objects[i]->IsWaitable()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        if (waitAll) {
            for (DWORD j = 0; j < i; ++j) {
                if (objects[j] == objects[i]) {
                    SetLastError(ERROR_INVALID_PARAMETER);
                    return WAIT_FAILED;
                }
            }
        }
    }

    Waiter waiter;
    WaiterRegistration registration(waiter, objects);
    for (;;) {
        if (waitAll) {
            bool all = std::all_of(objects.begin(), objects.end(),
                                   [self](const auto& object) { return object->IsSignalledFor(self); });
            if (all) {
                std::optional<DWORD> abandoned;
                for (DWORD i = 0; i < count; ++i) {
                    if (objects[i]->Acquire(self) && !abandoned) {
                        abandoned = i;
                    }
                }
                return abandoned ? WAIT_ABANDONED_0 + *abandoned : WAIT_OBJECT_0;
            }
        } else {
            for (DWORD i = 0; i < count; ++i) {
                if (objects[i]->IsSignalledFor(self)) {
                    return (objects[i]->Acquire(self) ? WAIT_ABANDONED_0 : WAIT_OBJECT_0) + i;
                }
            }
        }
        if (!forever && Clock::now() >= deadline) {
            return WAIT_TIMEOUT;
        }
        registration.Register();
        if (forever) {
            waiter.wake.wait(lock);
        } else {
            waiter.wake.wait_until(lock, deadline);
        }
    }
}

BOOL CloseHandle(HANDLE handle) {
    std::shared_ptr<Object> object = RemoveHandle(handle);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    object->OnClose();
    return TRUE;
}

void Sleep(DWORD milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

namespace {

// A recursive lock with a timed enter. Built on a mutex and a condition
// variable rather than std::recursive_timed_mutex, whose timed lock uses
// pthread_mutex_clocklock, a call ThreadSanitizer does not follow.
struct SectionLock {
    std::mutex lock;
    std::condition_variable released;
    std::thread::id owner;  // GUARDED_BY(lock)
    unsigned depth = 0;     // GUARDED_BY(lock)

    // Lock held. Enters if free or ours.
    bool TryEnterLocked(std::thread::id self) {
        if (depth != 0 && owner != self) return false;
        owner = self;
        ++depth;
        return true;
    }
};

SectionLock* LockOf(CRITICAL_SECTION* section) { return static_cast<SectionLock*>(section->lock); }

}  // namespace

void InitializeCriticalSection(CRITICAL_SECTION* section) { section->lock = new SectionLock; }

void DeleteCriticalSection(CRITICAL_SECTION* section) {
    delete LockOf(section);
    section->lock = nullptr;
}

void EnterCriticalSection(CRITICAL_SECTION* section) {
    SectionLock* lock = LockOf(section);
    const auto self = std::this_thread::get_id();
    std::unique_lock guard(lock->lock);
    lock->released.wait(guard, [&] { return lock->TryEnterLocked(self); });
}

BOOL EnterCriticalSectionTimeout(CRITICAL_SECTION* section, DWORD milliseconds) {
    if (milliseconds == INFINITE) {
        EnterCriticalSection(section);
        return TRUE;
    }
    SectionLock* lock = LockOf(section);
    const auto self = std::this_thread::get_id();
    std::unique_lock guard(lock->lock);
    if (lock->released.wait_for(guard, std::chrono::milliseconds(milliseconds),
                                [&] { return lock->TryEnterLocked(self); })) {
        return TRUE;
    }
    SetLastError(ERROR_TIMEOUT);
    return FALSE;
}

BOOL TryEnterCriticalSection(CRITICAL_SECTION* section) {
    SectionLock* lock = LockOf(section);
    std::lock_guard guard(lock->lock);
    return lock->TryEnterLocked(std::this_thread::get_id()) ? TRUE : FALSE;
}

void LeaveCriticalSection(CRITICAL_SECTION* section) {
    SectionLock* lock = LockOf(section);
    std::lock_guard guard(lock->lock);
    if (lock->depth == 0 || lock->owner != std::this_thread::get_id()) {
        return;  // not held by the caller: nothing to give up
    }
    if (--lock->depth == 0) {
        lock->owner = std::thread::id();
        lock->released.notify_one();
    }
}
