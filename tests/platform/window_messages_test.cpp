#include "window_test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

using namespace window_testing;
using marquen::kernel::GetCurrentThreadId;

namespace {

constexpr UINT kPing = WM_USER + 1;

TEST(WindowMessages, CreationAndFinding) {
    Recorder recorder;
    HWND window = MakeWindow(recorder, "CVantrexAPIWnd");
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(IsWindow(window));
    EXPECT_EQ(FindWindow("CVantrexAPIWnd"), window);
    EXPECT_EQ(FindWindow("cvantrexapiwnd"), nullptr);  // titles compare exactly
    EXPECT_EQ(CreateMessageWindow(nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(DestroyWindow(window));
    EXPECT_EQ(FindWindow("CVantrexAPIWnd"), nullptr);
}

TEST(WindowMessages, PostsArriveInOrderOnTheOwnerThread) {
    Recorder recorder;
    HWND window = MakeWindow(recorder);
    std::thread poster([&] {
        for (WPARAM i = 0; i < 100; ++i) EXPECT_TRUE(PostMessage(window, kPing, i, 0));
    });
    poster.join();
    EXPECT_EQ(recorder.Count(kPing), 0u);

    ASSERT_TRUE(PumpUntil([&] { return recorder.Count(kPing) == 100; }));
    auto pings = recorder.Of(kPing);
    for (WPARAM i = 0; i < pings.size(); ++i) {
        EXPECT_EQ(pings[i].wParam, i);
        EXPECT_EQ(pings[i].threadId, GetCurrentThreadId());
    }
    DestroyWindow(window);
}

TEST(WindowMessages, TimersTickOnTheOwnerThreadThroughTheWakeDescriptor) {
    Recorder recorder;
    HWND window = MakeWindow(recorder);
    // Set from another thread; ticks still come on the owner.
    std::thread setter([&] { EXPECT_EQ(SetTimer(window, 0, 20), 1u); });
    setter.join();
    ASSERT_TRUE(PumpUntil([&] { return recorder.Count(WM_TIMER) >= 3; }));
    for (auto& tick : recorder.Of(WM_TIMER)) {
        EXPECT_EQ(tick.wParam, 0u);
        EXPECT_EQ(tick.threadId, GetCurrentThreadId());
    }
    EXPECT_TRUE(KillTimer(window, 0));
    EXPECT_FALSE(KillTimer(window, 0));
    size_t ticks = recorder.Count(WM_TIMER);
    PumpUntil([] { return false; }, 100);
    EXPECT_EQ(recorder.Count(WM_TIMER), ticks);
    DestroyWindow(window);
}

TEST(WindowMessages, LateTicksCoalesceIntoOne) {
    Recorder recorder;
    HWND window = MakeWindow(recorder);
    ASSERT_NE(SetTimer(window, 7, USER_TIMER_MINIMUM), 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));  // fifteen periods without pumping
    pollfd wake{MessageQueueWakeFd(), POLLIN, 0};
    EXPECT_EQ(poll(&wake, 1, 5000), 1);  // the timer may run late on a loaded machine
    PumpPendingMessages();
    EXPECT_EQ(recorder.Count(WM_TIMER), 1u);
    EXPECT_EQ(recorder.Of(WM_TIMER)[0].wParam, 7u);
    DestroyWindow(window);
}

TEST(WindowMessages, GetMessageTakesInOrderAndTimesOut) {
    Recorder recorder;
    HWND window = MakeWindow(recorder);
    PostMessage(window, kPing, 1, 0);
    PostMessage(window, kPing + 5, 2, 0);
    MSG message;
    ASSERT_TRUE(GetMessageTimeout(&message, 100));
    EXPECT_EQ(message.message, kPing);
    EXPECT_EQ(message.wParam, 1u);
    DispatchMessage(&message);
    EXPECT_EQ(recorder.Count(kPing), 1u);
    ASSERT_TRUE(GetMessageTimeout(&message, 100));
    EXPECT_EQ(message.message, kPing + 5);
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(GetMessageTimeout(&message, 50));
    EXPECT_EQ(GetLastError(), ERROR_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));

    // A post from another thread wakes a waiting GetMessageTimeout.
    std::thread poster([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        PostMessage(window, kPing, 3, 0);
    });
    EXPECT_TRUE(GetMessageTimeout(&message, 10000));
    EXPECT_EQ(message.wParam, 3u);
    poster.join();
    DestroyWindow(window);
}

TEST(WindowMessages, DestroyedWindowGetsNoMoreCalls) {
    Recorder recorder;
    HWND window = MakeWindow(recorder);
    PostMessage(window, kPing, 0, 0);
    SetTimer(window, 1, USER_TIMER_MINIMUM);
    MSG retrieved;
    ASSERT_TRUE(GetMessageTimeout(&retrieved, 1000));
    EXPECT_TRUE(DestroyWindow(window));
    EXPECT_EQ(recorder.Count(WM_DESTROY), 1u);
    // Neither the queued message, nor the timer, nor a message retrieved
    // before the destruction reaches it.
    DispatchMessage(&retrieved);
    PumpUntil([] { return false; }, 60);
    EXPECT_EQ(recorder.Count(kPing), 0u);
    EXPECT_EQ(recorder.Count(WM_TIMER), 0u);
    EXPECT_FALSE(PostMessage(window, kPing, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(DestroyWindow(window));
}

TEST(WindowMessages, WindowDestroyingItselfInItsProcedureStopsAtOnce) {
    Recorder recorder;
    recorder.onMessage = [](HWND window, UINT message, WPARAM, LPARAM) -> LRESULT {
        if (message == kPing) DestroyWindow(window);
        return 0;
    };
    HWND window = MakeWindow(recorder);
    for (int i = 0; i < 3; ++i) PostMessage(window, kPing, i, 0);
    PumpPendingMessages();
    EXPECT_EQ(recorder.Count(kPing), 1u);
    EXPECT_EQ(recorder.Count(WM_DESTROY), 1u);
    EXPECT_FALSE(IsWindow(window));
}

TEST(WindowMessages, DestroyFromAnotherThreadWaitsForTheRunningCall) {
    Recorder recorder;
    std::atomic<bool> inside{false}, release{false}, returned{false};
    recorder.onMessage = [&](HWND, UINT message, WPARAM, LPARAM) -> LRESULT {
        if (message == kPing) {
            inside = true;
            while (!release) std::this_thread::yield();
            returned = true;
        }
        return 0;
    };
    HWND window = MakeWindow(recorder);
    PostMessage(window, kPing, 0, 0);
    PostMessage(window, kPing, 1, 0);
    std::atomic<bool> destroyed{false};
    std::thread destroyer([&] {
        while (!inside) std::this_thread::yield();
        EXPECT_TRUE(DestroyWindow(window));
        EXPECT_TRUE(returned.load());
        destroyed = true;
    });
    std::thread releaser([&] {
        while (!inside) std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        release = true;
    });
    PumpPendingMessages();
    destroyer.join();
    releaser.join();
    EXPECT_TRUE(destroyed.load());
    EXPECT_EQ(recorder.Count(kPing), 1u);  // the second never ran
    EXPECT_EQ(recorder.Count(WM_DESTROY), 0u);
}

TEST(WindowMessages, EndingThreadTakesItsWindows) {
    std::atomic<HWND> window{nullptr};
    Recorder recorder;
    std::thread owner([&] { window = MakeWindow(recorder); });
    owner.join();
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(PostMessage(window, kPing, 0, 0));
}

}  // namespace
