#include "kernel/threads.h"

#include "kernel/handle_table.h"
#include "kernel/last_error.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <system_error>
#include <thread>

namespace marquen::kernel {
namespace {

// Niceness for a priority. Only a rough ordering matters: the receive thread
// asks for "highest" so that a busy user interface does not starve reads.
int NicenessFor(int priority) { return std::clamp(-priority * 5, -20, 19); }

class ThreadObject final : public Object, public std::enable_shared_from_this<ThreadObject> {
public:
    ThreadObject(ThreadStartRoutine start, void* parameter, DWORD id)
        : m_start(start), m_parameter(parameter), m_id(id) {}

    ~ThreadObject() override {
        if (m_thread.joinable()) {
            // The last reference goes either on the thread itself, as it ends,
            // or from CloseHandle once the thread has published its end and is
            // only unwinding: joining then waits for that short rest.
            if (m_thread.get_id() == std::this_thread::get_id()) {
                m_thread.detach();
            } else {
                m_thread.join();
            }
        }
    }

    bool IsWaitable() const override { return true; }
    bool IsSignalledFor(DWORD) const override { return m_ended; }

    // All of the following with SignalLock() held.
    void SetPriority(int priority) {
        m_priority = priority;
        if (m_systemThreadId != 0) {
            ApplyPriority(m_systemThreadId, priority);
        }
    }
    DWORD SuspendCount() const { return m_suspendCount; }
    void SetSuspended() { m_suspendCount = 1; }
    // Returns the previous count; starts the thread when it reaches 0.
    DWORD Resume() {
        DWORD previous = m_suspendCount;
        if (m_suspendCount > 0 && --m_suspendCount == 0) {
            Start();
        }
        return previous;
    }
    void Start() {
        m_thread = std::thread([self = shared_from_this()] { self->Run(); });
    }

private:
    static void ApplyPriority(pid_t systemThreadId, int priority) {
        // Lower niceness needs CAP_SYS_NICE; without it the call fails and
        // the thread keeps the process's niceness, which is acceptable.
        (void)setpriority(PRIO_PROCESS, static_cast<id_t>(systemThreadId), NicenessFor(priority));
    }

    void Run() {
        AdoptThreadId(m_id);
        {
            std::lock_guard guard(SignalLock());
            m_systemThreadId = static_cast<pid_t>(syscall(SYS_gettid));
            if (m_priority != THREAD_PRIORITY_NORMAL) {
                ApplyPriority(m_systemThreadId, m_priority);
            }
        }
        m_start(m_parameter);
        std::lock_guard guard(SignalLock());
        m_ended = true;
        m_systemThreadId = 0;
        NotifyWaiters(*this);
    }

    const ThreadStartRoutine m_start;
    void* const m_parameter;
    const DWORD m_id;
    std::thread m_thread;  // set once, by the thread that starts it, under SignalLock()
    // All GUARDED_BY(SignalLock()).
    DWORD m_suspendCount = 0;
    int m_priority = THREAD_PRIORITY_NORMAL;
    pid_t m_systemThreadId = 0;
    bool m_ended = false;
};

std::shared_ptr<ThreadObject> LookupThreadLocked(HANDLE handle) {
    auto object = std::dynamic_pointer_cast<ThreadObject>(LookupHandleLocked(handle));
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
    }
    return object;
}

}  // namespace

HANDLE CreateThread(ThreadStartRoutine start, void* parameter, bool suspended) {
    if (start == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto thread = std::make_shared<ThreadObject>(start, parameter, NewThreadId());
    if (suspended) {
        std::lock_guard guard(SignalLock());
        thread->SetSuspended();
    }
    HANDLE handle = InsertHandle(thread);
    if (handle == nullptr) {
        return nullptr;
    }
    if (!suspended) {
        try {
            std::lock_guard guard(SignalLock());
            thread->Start();
        } catch (const std::system_error& error) {
            RemoveHandle(handle);
            SetLastErrorFromErrno(error.code().value());
            return nullptr;
        }
    }
    return handle;
}

DWORD ResumeThread(HANDLE handle) {
    std::lock_guard guard(SignalLock());
    auto thread = LookupThreadLocked(handle);
    if (!thread) {
        return static_cast<DWORD>(-1);
    }
    try {
        return thread->Resume();
    } catch (const std::system_error& error) {
        SetLastErrorFromErrno(error.code().value());
        return static_cast<DWORD>(-1);
    }
}

bool SetThreadPriority(HANDLE handle, int priority) {
    std::lock_guard guard(SignalLock());
    auto thread = LookupThreadLocked(handle);
    if (!thread) {
        return false;
    }
    thread->SetPriority(priority);
    return true;
}

DWORD GetCurrentThreadId() { return CurrentThreadId(); }

}  // namespace marquen::kernel
