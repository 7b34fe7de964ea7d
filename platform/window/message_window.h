#pragma once
// Hidden message windows. A window belongs to the thread that created it; its
// procedure only ever runs on that thread, while that thread pumps its queue.
// Any thread may post to a window or set its timers.
//
// Pumping: the owner either retrieves and dispatches messages itself
// (GetMessageTimeout + DispatchMessage), or hands its host event loop the
// file descriptor of MessageQueueWakeFd(), which becomes readable whenever a
// message waits or a timer is due, and calls PumpPendingMessages() each time
// it is.
//
// The messages keep the platform's numbers and HWND is the contracts' window
// handle; the calls themselves are this layer's own.
#include "win_types.h"

#include <cstdint>
#include <functional>
#include <string_view>

namespace marquen::window {

using UINT_PTR = uintptr_t;

/// A window's procedure; it runs on the owner thread only.
using WindowProcedure = std::function<LRESULT(HWND window, UINT message, WPARAM wParam, LPARAM lParam)>;

constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_DEVMODECHANGE = 0x001B;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_DEVICECHANGE = 0x0219;
constexpr UINT WM_USER = 0x0400;
constexpr UINT WM_APP = 0x8000;

/// Shortest timer period; shorter ones are raised to it.
constexpr UINT USER_TIMER_MINIMUM = 10;
/// How long DestroyWindow from another thread waits for a call of the
/// procedure that is running on the owner thread: long enough for any
/// handler of this system, short enough that a stuck owner is noticed.
constexpr unsigned kDestroyWaitMs = 10000;

struct MSG {
    HWND hwnd = nullptr;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    DWORD time = 0;  // milliseconds of the steady clock when it was posted
};

/// Creates a hidden window owned by the calling thread, with `procedure` and
/// a title that FindWindow looks for. Null with the last error when the
/// thread's queue cannot be made.
HWND CreateMessageWindow(WindowProcedure procedure, std::string_view title = {});
/// Destroys a window: on its own thread it first gets WM_DESTROY. Messages
/// still queued for it are dropped and its timers end; its procedure is never
/// called again once this returns. From another thread (no WM_DESTROY), it
/// also waits, at most kDestroyWaitMs, for a call of the procedure that is
/// running on the owner thread to return (false with ERROR_TIMEOUT).
bool DestroyWindow(HWND window);
/// True while the window exists.
bool IsWindow(HWND window);
/// First window of the process with that title, or null.
HWND FindWindow(std::string_view title);
/// Default handling: nothing, 0.
LRESULT DefWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
/// Queues a message for the window's thread; any thread. False with
/// ERROR_INVALID_WINDOW_HANDLE when the window does not exist.
bool PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
/// Starts (or restarts) timer `id` of the window: WM_TIMER with wParam = id
/// every `elapse` ms, on the owner thread. Ticks do not pile up: a timer has
/// at most one tick waiting, and a late pump gets one tick, not a burst. Any
/// thread. Returns the id (1 for id 0), 0 with the last error.
UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapse);
/// Ends the timer; false with ERROR_NOT_FOUND when there was none. A tick
/// already retrieved but not yet dispatched is still delivered.
bool KillTimer(HWND window, UINT_PTR id);
/// Retrieves and removes the next message of the calling thread's queue
/// (posted messages in posting order, then due timers), waiting up to
/// `milliseconds`. False with ERROR_TIMEOUT when none came. A device-change
/// record in lParam stays valid until the next retrieval on this thread.
bool GetMessageTimeout(MSG* message, DWORD milliseconds);
/// Calls the procedure of the message's window, if the window still exists
/// and belongs to the calling thread; returns its result, else 0.
LRESULT DispatchMessage(const MSG* message);
/// A descriptor, owned by this layer and valid for the calling thread's
/// lifetime, that polls readable whenever the calling thread has a message
/// waiting or a timer due. -1 with the last error if it cannot be made.
int MessageQueueWakeFd();
/// Dispatches everything pending on the calling thread's queue at the time
/// of the call: posted messages and due timers. Messages posted while it
/// runs wait for the next call (the wake descriptor says so). Returns how
/// many it dispatched.
unsigned PumpPendingMessages();

}  // namespace marquen::window
