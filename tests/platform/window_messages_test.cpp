#include "window_test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

using namespace window_testing;

namespace {

constexpr UINT kPing = WM_USER + 1;

TEST(WindowMessages, CreationFindingAndUserData) {
    Recorder recorder;
    HWND window = MakeWindow(recorder, "CVantrexAPIWnd");
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(recorder.Count(WM_CREATE), 1u);
    EXPECT_EQ(FindWindow(nullptr, "CVantrexAPIWnd"), window);
    EXPECT_EQ(FindWindow("marquentestwindow", "CVantrexAPIWnd"), window);  // class names ignore case
    EXPECT_EQ(GetWindowThreadProcessId(window, nullptr), GetCurrentThreadId());
    EXPECT_EQ(GetWindowLongPtr(window, GWLP_USERDATA), reinterpret_cast<LONG_PTR>(&recorder));

    WNDCLASS again{};
    again.lpfnWndProc = RecordingProcedure;
    again.lpszClassName = "MARQUENTESTWINDOW";
    EXPECT_EQ(RegisterClass(&again), 0);
    EXPECT_EQ(GetLastError(), ERROR_CLASS_ALREADY_EXISTS);
    EXPECT_EQ(CreateWindowEx(0, "NoSuchClass", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_CANNOT_FIND_WND_CLASS);
    EXPECT_TRUE(DestroyWindow(window));
    EXPECT_EQ(FindWindow(nullptr, "CVantrexAPIWnd"), nullptr);
}

TEST(WindowMessages, CreateAnsweringMinusOneUndoesTheWindow) {
    Recorder recorder;
    recorder.onMessage = [](HWND, UINT message, WPARAM, LPARAM) -> LRESULT { return message == WM_CREATE ? -1 : 0; };
    EXPECT_EQ(MakeWindow(recorder, "refused"), nullptr);
    EXPECT_EQ(FindWindow(nullptr, "refused"), nullptr);
}

TEST(WindowMessages, PostsArriveInOrderOnTheOwnerThreadAndSendsGoFirst) {
    Recorder recorder;
    recorder.onMessage = [](HWND, UINT message, WPARAM wParam, LPARAM) -> LRESULT {
        return message == kPing + 1 ? static_cast<LRESULT>(wParam * 2) : 0;
    };
    HWND window = MakeWindow(recorder);
    std::thread poster([&] {
        for (WPARAM i = 0; i < 100; ++i) EXPECT_TRUE(PostMessage(window, kPing, i, 0));
    });
    poster.join();
    // A send on the owner thread is a direct call, ahead of what is queued.
    EXPECT_EQ(SendMessage(window, kPing + 1, 21, 0), 42);
    EXPECT_EQ(recorder.Count(kPing), 0u);

    ASSERT_TRUE(PumpUntil([&] { return recorder.Count(kPing) == 100; }));
    auto pings = recorder.Of(kPing);
    for (WPARAM i = 0; i < pings.size(); ++i) {
        EXPECT_EQ(pings[i].wParam, i);
        EXPECT_EQ(pings[i].threadId, GetCurrentThreadId());
    }
    DestroyWindow(window);
}

TEST(WindowMessages, SendFromAnotherThreadWaitsForTheOwnersPump) {
    Recorder recorder;
    recorder.onMessage = [](HWND, UINT message, WPARAM wParam, LPARAM) -> LRESULT {
        return message == kPing ? static_cast<LRESULT>(wParam + 1) : 0;
    };
    HWND window = MakeWindow(recorder);
    std::atomic<LRESULT> answer{0};
    std::atomic<bool> finished{false};
    std::thread sender([&] {
        answer = SendMessage(window, kPing, 41, 0);
        finished = true;
    });
    ASSERT_TRUE(PumpUntil([&] { return finished.load(); }));
    sender.join();
    EXPECT_EQ(answer.load(), 42);
    ASSERT_EQ(recorder.Count(kPing), 1u);
    EXPECT_EQ(recorder.Of(kPing)[0].threadId, GetCurrentThreadId());
    DestroyWindow(window);
}

TEST(WindowMessages, SendToAThreadThatDoesNotPumpTimesOutAndIsWithdrawn) {
    Recorder recorder;
    HWND window = MakeWindow(recorder);
    std::atomic<LRESULT> sent{1};
    std::atomic<DWORD> error{0};
    std::thread sender([&] {
        DWORD_PTR result;
        sent = SendMessageTimeout(window, kPing, 0, 0, SMTO_NORMAL, 50, &result);
        error = GetLastError();
    });
    sender.join();
    EXPECT_EQ(sent.load(), 0);
    EXPECT_EQ(error.load(), ERROR_TIMEOUT);
    PumpPendingMessages();
    EXPECT_EQ(recorder.Count(kPing), 0u);
    DestroyWindow(window);
}

TEST(WindowMessages, TwoThreadsSendingToEachOtherBothGetAnswers) {
    Recorder mine, theirs;
    HWND myWindow = MakeWindow(mine);
    std::atomic<HWND> theirWindow{nullptr};
    std::atomic<bool> go{false};
    std::atomic<DWORD_PTR> theirResult{0};
    mine.onMessage = [](HWND, UINT m, WPARAM, LPARAM) -> LRESULT { return m == kPing ? 7 : 0; };
    theirs.onMessage = [](HWND, UINT m, WPARAM, LPARAM) -> LRESULT { return m == kPing ? 9 : 0; };
    std::thread other([&] {
        theirWindow = MakeWindow(theirs);
        while (!go) std::this_thread::yield();
        DWORD_PTR result = 0;
        SendMessageTimeout(myWindow, kPing, 0, 0, SMTO_NORMAL, 10000, &result);
        theirResult = result;
        PumpPendingMessages();
        DestroyWindow(theirWindow);
    });
    while (theirWindow.load() == nullptr) std::this_thread::yield();
    go = true;
    DWORD_PTR myResult = 0;
    EXPECT_NE(SendMessageTimeout(theirWindow, kPing, 0, 0, SMTO_NORMAL, 10000, &myResult), 0);
    EXPECT_EQ(myResult, 9u);
    // Our send may have finished before theirs reached us: answer it.
    ASSERT_TRUE(PumpUntil([&] { return theirResult.load() != 0; }));
    other.join();
    EXPECT_EQ(theirResult.load(), 7u);
    DestroyWindow(myWindow);
}

TEST(WindowMessages, TimersTickOnTheOwnerThreadThroughTheWakeDescriptor) {
    Recorder recorder;
    HWND window = MakeWindow(recorder);
    // Set from another thread; ticks still come on the owner.
    std::thread setter([&] { EXPECT_EQ(SetTimer(window, 0, 20, nullptr), 1u); });
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
    ASSERT_NE(SetTimer(window, 7, USER_TIMER_MINIMUM, nullptr), 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));  // fifteen periods without pumping
    pollfd wake{MessageQueueWakeFd(), POLLIN, 0};
    EXPECT_EQ(poll(&wake, 1, 5000), 1);  // the timer may run late on a loaded machine
    PumpPendingMessages();
    EXPECT_EQ(recorder.Count(WM_TIMER), 1u);
    EXPECT_EQ(recorder.Of(WM_TIMER)[0].wParam, 7u);
    DestroyWindow(window);
}

TEST(WindowMessages, PeekFiltersAndGetMessageTimesOut) {
    Recorder recorder;
    HWND window = MakeWindow(recorder);
    PostMessage(window, kPing, 1, 0);
    PostMessage(window, kPing + 5, 2, 0);
    MSG message;
    ASSERT_TRUE(PeekMessage(&message, window, kPing + 5, kPing + 5, PM_REMOVE));
    EXPECT_EQ(message.wParam, 2u);
    ASSERT_TRUE(PeekMessage(&message, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(message.message, kPing);
    ASSERT_TRUE(GetMessageTimeout(&message, nullptr, 0, 0, 100));
    EXPECT_EQ(message.message, kPing);
    DispatchMessage(&message);
    EXPECT_EQ(recorder.Count(kPing), 1u);
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(GetMessageTimeout(&message, nullptr, 0, 0, 50));
    EXPECT_EQ(GetLastError(), ERROR_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));

    // A post from another thread wakes a waiting GetMessageTimeout.
    std::thread poster([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        PostMessage(window, kPing, 3, 0);
    });
    EXPECT_TRUE(GetMessageTimeout(&message, nullptr, 0, 0, 10000));
    EXPECT_EQ(message.wParam, 3u);
    poster.join();
    DestroyWindow(window);
}

TEST(WindowMessages, DestroyedWindowGetsNoMoreCalls) {
    Recorder recorder;
    HWND window = MakeWindow(recorder);
    PostMessage(window, kPing, 0, 0);
    SetTimer(window, 1, USER_TIMER_MINIMUM, nullptr);
    MSG retrieved;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(PeekMessage(&retrieved, window, 0, 0, PM_REMOVE));
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
    EXPECT_EQ(SendMessage(window, kPing, 0, 0), 0);
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

TEST(WindowMessages, EndingThreadTakesItsWindowsAndReleasesSenders) {
    std::atomic<HWND> window{nullptr};
    Recorder recorder;
    std::atomic<bool> quit{false};
    std::thread owner([&] {
        window = MakeWindow(recorder);
        while (!quit) std::this_thread::yield();
    });
    while (window.load() == nullptr) std::this_thread::yield();
    std::atomic<LRESULT> sent{1};
    std::thread sender([&] {
        DWORD_PTR result;
        sent = SendMessageTimeout(window, kPing, 0, 0, SMTO_NORMAL, 10000, &result);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    quit = true;
    owner.join();
    sender.join();
    EXPECT_EQ(sent.load(), 0);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(PostMessage(window, kPing, 0, 0));
}

}  // namespace
