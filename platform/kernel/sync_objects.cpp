// Events and the waits on them. Every signal state is guarded by the
// one SignalLock(); a waiting thread registers a Waiter with each object it
// waits on, and every state change notifies those waiters, which re-check.
#include "kernel/handle_table.h"
#include "kernel/sync.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>

namespace marquen::kernel {
namespace {

class EventObject final : public Object {
public:
    EventObject(bool manualReset, bool signalled) : m_manualReset(manualReset), m_signalled(signalled) {}

    bool IsWaitable() const override { return true; }
    bool IsSignalledFor(DWORD) const override { return m_signalled; }
    void Acquire(DWORD) override {
        if (!m_manualReset) {
            m_signalled = false;
        }
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

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    return WaitForAnyObject(std::span<const HANDLE>(&handle, 1), milliseconds);
}

DWORD WaitForAnyObject(std::span<const HANDLE> handles, DWORD milliseconds) {
    if (handles.empty() || handles.size() > MAXIMUM_WAIT_OBJECTS) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    using Clock = std::chrono::steady_clock;
    const bool forever = milliseconds == INFINITE;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : milliseconds);
    const DWORD self = CurrentThreadId();

    std::unique_lock lock(SignalLock());
    std::vector<std::shared_ptr<Object>> objects(handles.size());
    for (size_t i = 0; i < handles.size(); ++i) {
        objects[i] = LookupHandleLocked(handles[i]);
        if (!objects[i] || !objects[i]->IsWaitable()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
    }

    Waiter waiter;
    WaiterRegistration registration(waiter, objects);
    for (;;) {
        for (size_t i = 0; i < objects.size(); ++i) {
            if (objects[i]->IsSignalledFor(self)) {
                objects[i]->Acquire(self);
                return WAIT_OBJECT_0 + static_cast<DWORD>(i);
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
