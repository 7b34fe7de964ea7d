#include "kernel/kernel.h"
#include "kernel/timed_mutex.h"

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
    const HANDLE all[] = {a, b, c};
    EXPECT_EQ(WaitForAnyObject(all, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForAnyObject(all, 0), WAIT_OBJECT_0 + 2);
    EXPECT_EQ(WaitForAnyObject(all, 0), WAIT_TIMEOUT);
}

TEST(KernelWaits, WaitAnyWakesWhenAnotherThreadSignals) {
    Handle stop(CreateEvent(nullptr, TRUE, FALSE, nullptr));
    Handle data(CreateEvent(nullptr, FALSE, FALSE, nullptr));
    std::thread signaller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        SetEvent(data);
    });
    const HANDLE both[] = {stop, data};
    EXPECT_EQ(WaitForAnyObject(both, kLongWait), WAIT_OBJECT_0 + 1);
    signaller.join();
}

TEST(KernelWaits, TimeOutIsNotShorterThanAsked) {
    Handle event(CreateEvent(nullptr, TRUE, FALSE, nullptr));
    auto start = Clock::now();
    EXPECT_EQ(WaitForSingleObject(event, 60), WAIT_TIMEOUT);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(60));
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
    EXPECT_EQ(WaitForAnyObject(many, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(WaitForAnyObject(std::span<const HANDLE>(), 0), WAIT_FAILED);

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

TEST(KernelTimedRecursiveMutex, RecursiveForHolderAndTimedForOthers) {
    marquen::kernel::TimedRecursiveMutex mutex;
    ASSERT_TRUE(mutex.try_lock_for(std::chrono::milliseconds(0)));
    EXPECT_TRUE(mutex.try_lock_for(std::chrono::milliseconds(0)));  // again, by its holder
    std::atomic<bool> timed{true}, later{false};
    std::atomic<bool> tried{false};
    std::thread other([&] {
        timed = mutex.try_lock_for(std::chrono::milliseconds(30));
        mutex.unlock();  // not held by this thread: gives up nothing
        tried = true;
        later = mutex.try_lock_for(std::chrono::milliseconds(kLongWait));
        if (later) mutex.unlock();
    });
    while (!tried) std::this_thread::yield();
    mutex.unlock();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(later.load()) << "still held once";
    mutex.unlock();
    other.join();
    EXPECT_FALSE(timed.load());
    EXPECT_TRUE(later.load());
}

}  // namespace
