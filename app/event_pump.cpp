#include "event_pump.h"

#include "window/message_window.h"

#include <algorithm>

namespace {

// Longest single wait: done() may turn true without a message (a flag set by
// a handler of another window), so it is asked at least this often.
constexpr std::chrono::milliseconds kLongestWait{50};

}  // namespace

bool PumpMessagesUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + timeout;
    for (;;) {
        if (done && done())
            return true;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left <= std::chrono::milliseconds::zero())
            return done && done();
        marquen::window::MSG message;
        auto wait = std::clamp(left, std::chrono::milliseconds(1), kLongestWait);
        if (marquen::window::GetMessageTimeout(&message, static_cast<DWORD>(wait.count())))
            marquen::window::DispatchMessage(&message);
    }
}

void PumpMessagesFor(std::chrono::milliseconds duration)
{
    PumpMessagesUntil(nullptr, duration);
}
