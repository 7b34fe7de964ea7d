#pragma once
// Threads with the platform's shapes: created running or suspended, with a
// recorded priority, a handle that is signalled when the thread ends, and an
// exit code.
#include "kernel/sync.h"
#include "win_types.h"

#include <cstddef>

using LPTHREAD_START_ROUTINE = DWORD (*)(void* parameter);

constexpr DWORD CREATE_SUSPENDED = 0x4;
constexpr DWORD STILL_ACTIVE = 259;

constexpr int THREAD_PRIORITY_IDLE = -15;
constexpr int THREAD_PRIORITY_LOWEST = -2;
constexpr int THREAD_PRIORITY_BELOW_NORMAL = -1;
constexpr int THREAD_PRIORITY_NORMAL = 0;
constexpr int THREAD_PRIORITY_ABOVE_NORMAL = 1;
constexpr int THREAD_PRIORITY_HIGHEST = 2;
constexpr int THREAD_PRIORITY_TIME_CRITICAL = 15;
constexpr int THREAD_PRIORITY_ERROR_RETURN = 0x7FFFFFFF;

/// Starts `start(parameter)` on a new thread, or prepares it to start on the
/// first ResumeThread when `creationFlags` has CREATE_SUSPENDED. The stack
/// size is a hint and ignored. Returns the thread's handle (signalled once
/// `start` has returned) and, through `threadId`, its identifier; null with
/// the last error on failure. A suspended thread whose handle is closed
/// before it was resumed never runs.
HANDLE CreateThread(void* securityAttributes, size_t stackSize, LPTHREAD_START_ROUTINE start, void* parameter,
                    DWORD creationFlags, DWORD* threadId);
/// Lowers the suspend count; at 0 the thread starts. Returns the previous
/// count (0 for a running thread), or (DWORD)-1 with the last error.
DWORD ResumeThread(HANDLE thread);
/// Records the priority (THREAD_PRIORITY_*) and tries to apply it as the
/// thread's scheduling niceness. Raising it needs privileges the process may
/// not have; that failure is ignored and the call still succeeds.
BOOL SetThreadPriority(HANDLE thread, int priority);
/// The recorded priority, or THREAD_PRIORITY_ERROR_RETURN for a bad handle.
int GetThreadPriority(HANDLE thread);
/// STILL_ACTIVE until the thread's function returned, then its result.
BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode);
/// The thread's identifier as CreateThread reported it, 0 on a bad handle.
DWORD GetThreadId(HANDLE thread);
/// Identifier of the calling thread; unique within the process, never 0.
DWORD GetCurrentThreadId();
