#include "kernel/kernel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Generous bound for "this must happen": machines are shared and slow.
constexpr DWORD kLongWait = 10000;

struct Handle {
    HANDLE value;
    explicit Handle(HANDLE h) : value(h) {}
    ~Handle() {
        if (value) CloseHandle(value);
    }
    operator HANDLE() const { return value; }
};

TEST(KernelEvents, ManualResetStaysSignalledUntilReset) {
    Handle event(CreateEvent(nullptr, TRUE, FALSE, nullptr));
    ASSERT_NE(event.value, nullptr);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    ASSERT_TRUE(SetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    ASSERT_TRUE(ResetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
}

TEST(KernelEvents, AutoResetSatisfiesOneWaitThenClears) {
    Handle event(CreateEvent(nullptr, FALSE, TRUE, nullptr));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
}

TEST(KernelEvents, AutoResetReleasesExactlyOneWaiterPerSet) {
    Handle event(CreateEvent(nullptr, FALSE, FALSE, nullptr));
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i) {
        waiters.emplace_back([&] {
            if (WaitForSingleObject(event, kLongWait) == WAIT_OBJECT_0) ++released;
        });
    }
    for (int i = 0; i < 4; ++i) {
        SetEvent(event);
        auto until = Clock::now() + std::chrono::milliseconds(kLongWait);
        while (released.load() < i + 1 && Clock::now() < until) std::this_thread::yield();
        EXPECT_EQ(released.load(), i + 1);
    }
    for (auto& waiter : waiters) waiter.join();
}

TEST(KernelWaits, WaitAnyGivesLowestSignalledIndexAndTakesOnlyThatOne) {
    Handle a(CreateEvent(nullptr, FALSE, FALSE, nullptr));
    Handle b(CreateEvent(nullptr, FALSE, TRUE, nullptr));
    Handle c(CreateEvent(nullptr, FALSE, TRUE, nullptr));
    HANDLE all[] = {a, b, c};
    EXPECT_EQ(WaitForMultipleObjects(3, all, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(3, all, FALSE, 0), WAIT_OBJECT_0 + 2);
    EXPECT_EQ(WaitForMultipleObjects(3, all, FALSE, 0), WAIT_TIMEOUT);
}

TEST(KernelWaits, WaitAnyWakesWhenAnotherThreadSignals) {
    Handle stop(CreateEvent(nullptr, TRUE, FALSE, nullptr));
    Handle data(CreateEvent(nullptr, FALSE, FALSE, nullptr));
    std::thread signaller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        SetEvent(data);
    });
    HANDLE both[] = {stop, data};
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, kLongWait), WAIT_OBJECT_0 + 1);
    signaller.join();
}

TEST(KernelWaits, TimeOutIsNotShorterThanAsked) {
    Handle event(CreateEvent(nullptr, TRUE, FALSE, nullptr));
    auto start = Clock::now();
    EXPECT_EQ(WaitForSingleObject(event, 60), WAIT_TIMEOUT);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(60));
}

TEST(KernelWaits, WaitAllNeedsEveryObjectAndTakesThemTogether) {
    Handle a(CreateEvent(nullptr, FALSE, TRUE, nullptr));
    Handle b(CreateEvent(nullptr, FALSE, FALSE, nullptr));
    HANDLE both[] = {a, b};
    EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 20), WAIT_TIMEOUT);
    // The partial wait did not consume a's signal.
    SetEvent(b);
    EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(b, 0), WAIT_TIMEOUT);

    HANDLE twice[] = {a, a};
    EXPECT_EQ(WaitForMultipleObjects(2, twice, TRUE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(KernelWaits, BadHandlesAndCountsFail) {
    HANDLE event = CreateEvent(nullptr, TRUE, TRUE, nullptr);
    ASSERT_TRUE(CloseHandle(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(SetEvent(event));
    EXPECT_FALSE(CloseHandle(event));
    EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);

    std::vector<HANDLE> many(MAXIMUM_WAIT_OBJECTS + 1, nullptr);
    EXPECT_EQ(WaitForMultipleObjects(static_cast<DWORD>(many.size()), many.data(), FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(WaitForMultipleObjects(0, many.data(), FALSE, 0), WAIT_FAILED);

    // A new handle never reuses the value of a closed one.
    HANDLE fresh = CreateEvent(nullptr, TRUE, TRUE, nullptr);
    EXPECT_NE(fresh, event);
    CloseHandle(fresh);
}

TEST(KernelWaits, CloseWhileAnotherThreadWaitsDoesNotCrash) {
    HANDLE event = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    std::atomic<DWORD> result{0};
    std::thread waiter([&] { result = WaitForSingleObject(event, 200); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    CloseHandle(event);
    waiter.join();
    EXPECT_EQ(result.load(), WAIT_TIMEOUT);  // the wait kept the object alive until its end
}

TEST(KernelMutex, TimedLockAcrossThreads) {
    Handle mutex(CreateMutex(nullptr, TRUE, nullptr));
    ASSERT_NE(mutex.value, nullptr);
    // Recursion by the owner.
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);

    std::atomic<DWORD> first{0}, second{0};
    std::atomic<bool> tried{false};
    Handle released(CreateEvent(nullptr, TRUE, FALSE, nullptr));
    std::thread other([&] {
        first = WaitForSingleObject(mutex, 50);
        EXPECT_FALSE(ReleaseMutex(mutex));
        EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
        tried = true;
        second = WaitForSingleObject(mutex, kLongWait);
        if (second == WAIT_OBJECT_0) ReleaseMutex(mutex);
    });
    while (!tried) std::this_thread::yield();
    EXPECT_EQ(first.load(), WAIT_TIMEOUT);
    EXPECT_TRUE(ReleaseMutex(mutex));
    // Still held once (recursion count 2 before).
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(second.load(), 0u);
    EXPECT_TRUE(ReleaseMutex(mutex));
    other.join();
    EXPECT_EQ(second.load(), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(mutex));
}

TEST(KernelMutex, ThreadEndingWhileOwningLeavesItAbandoned) {
    Handle mutex(CreateMutex(nullptr, FALSE, nullptr));
    std::thread owner([&] { EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0); });
    owner.join();
    EXPECT_EQ(WaitForSingleObject(mutex, kLongWait), WAIT_ABANDONED_0);
    // Taken now, and no longer abandoned for the next taker.
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(mutex));
}

TEST(KernelCriticalSection, RecursiveForHolderAndTimedForOthers) {
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    EnterCriticalSection(&section);
    EXPECT_TRUE(TryEnterCriticalSection(&section));
    std::atomic<BOOL> timed{TRUE}, later{FALSE};
    std::atomic<bool> tried{false};
    std::thread other([&] {
        timed = EnterCriticalSectionTimeout(&section, 30);
        tried = true;
        later = EnterCriticalSectionTimeout(&section, kLongWait);
        if (later) LeaveCriticalSection(&section);
    });
    while (!tried) std::this_thread::yield();
    LeaveCriticalSection(&section);
    LeaveCriticalSection(&section);
    other.join();
    EXPECT_FALSE(timed.load());
    EXPECT_TRUE(later.load());
    DeleteCriticalSection(&section);
}

}  // namespace
