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

inline LRESULT RecordingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CREATE) {
        auto* create = reinterpret_cast<CREATESTRUCT*>(lParam);
        SetWindowLongPtr(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* recorder = reinterpret_cast<Recorder*>(GetWindowLongPtr(window, GWLP_USERDATA));
    if (recorder == nullptr) return 0;
    Received entry{message, wParam, lParam, GetCurrentThreadId(), {}};
    if (message == 0x0219 && lParam != 0) {
        auto* bytes = reinterpret_cast<const uint8_t*>(lParam);
        DWORD size;
        std::memcpy(&size, bytes, sizeof size);
        entry.record.assign(bytes, bytes + size);
    }
    {
        std::lock_guard guard(recorder->lock);
        recorder->received.push_back(entry);
    }
    return recorder->onMessage ? recorder->onMessage(window, message, wParam, lParam) : 0;
}

inline const char* TestClass() {
    static const char* name = [] {
        WNDCLASS windowClass{};
        windowClass.lpfnWndProc = RecordingProcedure;
        windowClass.lpszClassName = "MarquenTestWindow";
        RegisterClass(&windowClass);
        return "MarquenTestWindow";
    }();
    return name;
}

inline HWND MakeWindow(Recorder& recorder, const char* title = "test") {
    return CreateWindowEx(0, TestClass(), title, WS_POPUP, 0, 0, 100, 100, nullptr, nullptr, nullptr, &recorder);
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
