#pragma once
// A window whose procedure records what it receives, and a host loop that
// pumps the calling thread through its wake descriptor, as an event loop
// would.
#include "kernel/kernel.h"
#include "window/message_window.h"

#include <poll.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace window_testing {

using namespace marquen::window;

struct Received {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD threadId;
    std::vector<uint8_t> record;  // copy of a device-change record
};

// Everything one window received; shared with other threads under its lock.
struct Recorder {
    std::mutex lock;
    std::vector<Received> received;
    std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)> onMessage;

    size_t Count(UINT message) {
        std::lock_guard guard(lock);
        size_t n = 0;
        for (auto& r : received) n += r.message == message;
        return n;
    }
    std::vector<Received> Of(UINT message) {
        std::lock_guard guard(lock);
        std::vector<Received> out;
        for (auto& r : received) if (r.message == message) out.push_back(r);
        return out;
    }
};

inline LRESULT Record(Recorder& recorder, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Received entry{message, wParam, lParam, marquen::kernel::GetCurrentThreadId(), {}};
    if (message == marquen::window::WM_DEVICECHANGE && lParam != 0) {
        auto* bytes = reinterpret_cast<const uint8_t*>(lParam);
        DWORD size;
        std::memcpy(&size, bytes, sizeof size);
        entry.record.assign(bytes, bytes + size);
    }
    {
        std::lock_guard guard(recorder.lock);
        recorder.received.push_back(entry);
    }
    return recorder.onMessage ? recorder.onMessage(window, message, wParam, lParam) : 0;
}

inline HWND MakeWindow(Recorder& recorder, std::string_view title = "test") {
    return marquen::window::CreateMessageWindow(
        [&recorder](HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
            return Record(recorder, window, message, wParam, lParam);
        },
        title);
}

/// Pumps the calling thread until `done` holds or `milliseconds` pass, the
/// way a host loop does: poll the wake descriptor, then pump.
inline bool PumpUntil(const std::function<bool()>& done, int milliseconds = 10000) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    pollfd wake{MessageQueueWakeFd(), POLLIN, 0};
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        wake.revents = 0;
        if (poll(&wake, 1, 20) > 0) PumpPendingMessages();
    }
    return true;
}

}  // namespace window_testing
