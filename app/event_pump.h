#pragma once
// A headless pump for the calling thread's message queue: how marquen-cli and
// the tests let the Communication object raise its events (they come from the
// object's hidden window, owned by the thread that created the object). The
// desktop does not use it: its event loop watches MessageQueueWakeFd() and
// calls PumpPendingMessages() instead.
#include <chrono>
#include <functional>

/// Dispatches the calling thread's messages until done() holds or timeout has
/// passed; done() is asked first and after every message. True when it held.
bool PumpMessagesUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

/// Dispatches the calling thread's messages for duration.
void PumpMessagesFor(std::chrono::milliseconds duration);
