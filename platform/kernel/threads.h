#pragma once
// Threads whose handles the kernel layer's waits take: created running or
// suspended, with a scheduling priority, and a handle that is signalled when
// the thread ends.
#include "kernel/sync.h"
#include "win_types.h"

namespace marquen::kernel {

using ThreadStartRoutine = DWORD (*)(void* parameter);

constexpr int THREAD_PRIORITY_NORMAL = 0;
constexpr int THREAD_PRIORITY_HIGHEST = 2;

/// Starts `start(parameter)` on a new thread, or prepares it to start on the
/// first ResumeThread when `suspended`. Returns the thread's handle (signalled
/// once `start` has returned); null with the last error on failure. A
/// suspended thread whose handle is closed before it was resumed never runs.
HANDLE CreateThread(ThreadStartRoutine start, void* parameter, bool suspended);
/// Lowers the suspend count; at 0 the thread starts. Returns the previous
/// count (0 for a running thread), or (DWORD)-1 with the last error.
DWORD ResumeThread(HANDLE thread);
/// Applies a priority (THREAD_PRIORITY_*) as the thread's scheduling
/// niceness, now or when it starts. Raising it needs privileges the process
/// may not have; that failure is ignored and the call still succeeds. False
/// with ERROR_INVALID_HANDLE for a handle that is no thread.
bool SetThreadPriority(HANDLE thread, int priority);
/// Identifier of the calling thread; unique within the process, never 0.
DWORD GetCurrentThreadId();

}  // namespace marquen::kernel
