#pragma once
// Hidden message windows with the platform's shapes. A window belongs to the
// thread that created it; its window procedure only ever runs on that thread,
// while that thread pumps its queue. Any thread may post to a window or send
// to it; a send from another thread waits, with a time-out, until the owner
// has handled it.
//
// Pumping: the owner either retrieves and dispatches messages itself
// (PeekMessage / GetMessageTimeout + DispatchMessage), or hands its host
// event loop the file descriptor of MessageQueueWakeFd(), which becomes
// readable whenever a message waits or a timer is due, and calls
// PumpPendingMessages() each time it is.
#include "kernel/last_error.h"
#include "win_types.h"

#include <cstdint>

using ATOM = uint16_t;
using UINT_PTR = uintptr_t;
using LONG_PTR = intptr_t;
using DWORD_PTR = uintptr_t;
using WNDPROC = LRESULT (*)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_CREATE = 0x0001;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_DEVMODECHANGE = 0x001B;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_DEVICECHANGE = 0x0219;
constexpr UINT WM_USER = 0x0400;
constexpr UINT WM_APP = 0x8000;

constexpr DWORD WS_POPUP = 0x80000000u;
constexpr int GWLP_USERDATA = -21;
constexpr UINT PM_NOREMOVE = 0;
constexpr UINT PM_REMOVE = 1;
/// Shortest timer period; shorter ones are raised to it.
constexpr UINT USER_TIMER_MINIMUM = 10;
constexpr UINT SMTO_NORMAL = 0;
/// Time-out that SendMessage applies to a send to another thread's window:
/// long enough for any handler of this system, short enough that two threads
/// that wait on each other recover.
constexpr UINT SEND_MESSAGE_TIMEOUT_MS = 10000;

struct MSG {
    HWND hwnd = nullptr;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    DWORD time = 0;  // milliseconds of the steady clock when it was posted
};

struct WNDCLASS {
    UINT style = 0;
    WNDPROC lpfnWndProc = nullptr;
    void* hInstance = nullptr;
    const char* lpszClassName = nullptr;
};

/// What WM_CREATE's lParam points to, valid during that call.
struct CREATESTRUCT {
    void* lpCreateParams;
    void* hInstance;
    HWND hwndParent;
    int cy, cx, y, x;
    DWORD style;
    const char* lpszName;
    const char* lpszClass;
};

/// Registers a window class for the process (names compare without case).
/// 0 with ERROR_CLASS_ALREADY_EXISTS or ERROR_INVALID_PARAMETER.
ATOM RegisterClass(const WNDCLASS* windowClass);
/// Forgets a class; windows made from it keep working. FALSE with
/// ERROR_CLASS_DOES_NOT_EXIST.
BOOL UnregisterClass(const char* className, void* instance);

/// Creates a window owned by the calling thread and sends it WM_CREATE (a
/// result of -1 undoes the creation). Only hidden top-level windows exist:
/// the style, position, size, parent and menu are recorded or ignored. Null
/// with ERROR_CANNOT_FIND_WND_CLASS for an unknown class.
HWND CreateWindowEx(DWORD exStyle, const char* className, const char* windowName, DWORD style, int x, int y,
                    int width, int height, HWND parent, void* menu, void* instance, void* parameter);
/// Destroys a window: on its own thread it first gets WM_DESTROY. Messages
/// still queued for it are dropped and its timers end; its procedure is never
/// called again once this returns. From another thread (no WM_DESTROY), it
/// also waits, at most SEND_MESSAGE_TIMEOUT_MS, for a call of the procedure
/// that is running on the owner thread to return.
BOOL DestroyWindow(HWND window);
/// TRUE while the window exists.
BOOL IsWindow(HWND window);
/// First window of the process with that class and title (null matches
/// any), or null.
HWND FindWindow(const char* className, const char* windowName);
/// Identifier of the owner thread (GetCurrentThreadId of that thread), 0 for
/// no window; `processId`, when given, receives the process id.
DWORD GetWindowThreadProcessId(HWND window, DWORD* processId);
/// Stores a value with the window (index GWLP_USERDATA only); returns the old.
LONG_PTR SetWindowLongPtr(HWND window, int index, LONG_PTR value);
LONG_PTR GetWindowLongPtr(HWND window, int index);
/// Default handling: nothing, 0.
LRESULT DefWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

/// Queues a message for the window's thread; any thread. FALSE with
/// ERROR_INVALID_WINDOW_HANDLE when the window does not exist.
BOOL PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
/// Calls the window procedure and returns its result: directly on the owner
/// thread, otherwise through the owner's queue, waiting at most
/// SEND_MESSAGE_TIMEOUT_MS (0 with ERROR_TIMEOUT then). While it waits, the
/// caller still handles messages sent to its own windows.
LRESULT SendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
/// Same with an explicit time-out in milliseconds; nonzero on success with
/// the procedure's result in *result, 0 with ERROR_TIMEOUT or
/// ERROR_INVALID_WINDOW_HANDLE (window gone before it was handled).
LRESULT SendMessageTimeout(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT flags, UINT timeout,
                           DWORD_PTR* result);

/// Starts (or restarts) timer `id` of the window: WM_TIMER with wParam = id
/// every `elapse` ms, on the owner thread. Ticks do not pile up: a timer has
/// at most one tick waiting, and a late pump gets one tick, not a burst. Any
/// thread. Returns the id (1 for id 0), 0 with the last error.
UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse, void* timerProcMustBeNull);
/// Ends the timer; FALSE with ERROR_NOT_FOUND when there was none. A tick
/// already retrieved but not yet dispatched is still delivered.
BOOL KillTimer(HWND window, UINT_PTR id);

/// Retrieves the next message of the calling thread's queue for `window`
/// (null: any) within [first, last] (0, 0: any), after handling the messages
/// sent from other threads. Order: posted messages in posting order, then due
/// timers. FALSE when there is none. With PM_REMOVE the message leaves the
/// queue. A device-change record in lParam stays valid until the next
/// retrieval on this thread.
BOOL PeekMessage(MSG* message, HWND window, UINT first, UINT last, UINT remove);
/// As PeekMessage with PM_REMOVE, waiting up to `milliseconds` for a message.
/// FALSE with ERROR_TIMEOUT when none came.
BOOL GetMessageTimeout(MSG* message, HWND window, UINT first, UINT last, DWORD milliseconds);
/// Calls the procedure of the message's window, if the window still exists
/// and belongs to the calling thread; returns its result, else 0.
LRESULT DispatchMessage(const MSG* message);

/// A descriptor, owned by this layer and valid for the calling thread's
/// lifetime, that polls readable whenever the calling thread has a message
/// waiting or a timer due. -1 with the last error if it cannot be made.
int MessageQueueWakeFd();
/// Dispatches everything pending on the calling thread's queue at the time
/// of the call: sent messages, posted messages, due timers. Messages posted
/// while it runs wait for the next call (the wake descriptor says so).
/// Returns how many it dispatched.
unsigned PumpPendingMessages();
