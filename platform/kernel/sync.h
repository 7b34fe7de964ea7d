#pragma once
// Events, mutexes, waits on handles, critical sections and Sleep, with the
// platform's names and results. Objects are local to the process: names
// passed to the Create functions are ignored, and security attributes must
// be null.
//
// Waits take a time-out in milliseconds; INFINITE is accepted, but code of
// this system always passes a bound.
#include "kernel/last_error.h"
#include "win_types.h"

constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_ABANDONED_0 = 0x80;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;
/// Most handles one WaitForMultipleObjects call accepts.
constexpr DWORD MAXIMUM_WAIT_OBJECTS = 64;

/// New event: manual reset (stays signalled until ResetEvent) or auto reset
/// (one satisfied wait clears it). Null with the last error on failure.
HANDLE CreateEvent(void* securityAttributes, BOOL manualReset, BOOL initialState, const char* name);
/// Signals the event. FALSE with ERROR_INVALID_HANDLE for a non-event.
BOOL SetEvent(HANDLE event);
/// Clears the event. FALSE with ERROR_INVALID_HANDLE for a non-event.
BOOL ResetEvent(HANDLE event);

/// New mutex, owned by the calling thread when `initialOwner`. A mutex is
/// taken by waiting on it and may be taken again by its owner (recursion
/// count); a thread that ends owning it leaves it abandoned: the next wait
/// takes it and answers WAIT_ABANDONED_0 + i.
HANDLE CreateMutex(void* securityAttributes, BOOL initialOwner, const char* name);
/// Gives up one level of ownership. FALSE with ERROR_NOT_OWNER when the
/// calling thread does not own it.
BOOL ReleaseMutex(HANDLE mutex);

/// Waits until `handle` (event, mutex or thread) is signalled or `milliseconds`
/// pass. WAIT_OBJECT_0, WAIT_ABANDONED_0, WAIT_TIMEOUT, or WAIT_FAILED with
/// the last error (ERROR_INVALID_HANDLE for a closed or unwaitable handle).
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
/// Waits for any (or, with `waitAll`, every) one of `count` handles. Any:
/// WAIT_OBJECT_0 + the lowest signalled index; all: WAIT_OBJECT_0 once every
/// object could be taken together. WAIT_TIMEOUT, WAIT_ABANDONED_0 + i, or
/// WAIT_FAILED (ERROR_INVALID_PARAMETER for 0 or more than 64 handles or a
/// repeated handle with `waitAll`).
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds);

/// Closes a handle of any kind of this layer. The object lives on while a
/// wait or an I/O call still uses it; a device handle cancels its pending I/O
/// first. FALSE with ERROR_INVALID_HANDLE for an unknown handle.
BOOL CloseHandle(HANDLE handle);

/// Blocks the calling thread for `milliseconds`.
void Sleep(DWORD milliseconds);

/// Recursive lock for use inside one process, in caller-owned storage.
struct CRITICAL_SECTION {
    void* lock = nullptr;
};
/// Makes `section` usable; pair with DeleteCriticalSection.
void InitializeCriticalSection(CRITICAL_SECTION* section);
/// Frees what Initialize allocated; the section must not be held.
void DeleteCriticalSection(CRITICAL_SECTION* section);
/// Takes the section (recursively for its holder). No time-out, like the
/// platform's; prefer EnterCriticalSectionTimeout where a peer may hang.
void EnterCriticalSection(CRITICAL_SECTION* section);
/// Takes the section if it can within `milliseconds`; FALSE (ERROR_TIMEOUT)
/// otherwise.
BOOL EnterCriticalSectionTimeout(CRITICAL_SECTION* section, DWORD milliseconds);
/// Takes the section only if it is free or already held by the caller.
BOOL TryEnterCriticalSection(CRITICAL_SECTION* section);
/// Gives up one level of the caller's hold.
void LeaveCriticalSection(CRITICAL_SECTION* section);
