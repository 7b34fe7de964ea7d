#include "kernel/kernel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace marquen::kernel;

namespace {

constexpr DWORD kLongWait = 10000;

struct Probe {
    std::atomic<bool> ran{false};
    std::atomic<DWORD> seenId{0};
    std::atomic<DWORD> lastErrorAtStart{1234};
    HANDLE go = nullptr;
};

DWORD ProbeThread(void* parameter) {
    auto* probe = static_cast<Probe*>(parameter);
    probe->lastErrorAtStart = GetLastError();
    probe->seenId = GetCurrentThreadId();
    probe->ran = true;
    SetLastError(ERROR_ACCESS_DENIED);  // must stay on this thread
    if (probe->go) WaitForSingleObject(probe->go, kLongWait);
    return 42;
}

TEST(KernelThreads, SuspendedThreadRunsOnlyAfterResumeAndSignalsAtExit) {
    Probe probe;
    probe.go = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = CreateThread(ProbeThread, &probe, true);
    ASSERT_NE(thread, nullptr);
    EXPECT_TRUE(SetThreadPriority(thread, THREAD_PRIORITY_HIGHEST));

    EXPECT_EQ(WaitForSingleObject(thread, 50), WAIT_TIMEOUT);
    EXPECT_FALSE(probe.ran.load());

    SetLastError(ERROR_GEN_FAILURE);
    EXPECT_EQ(ResumeThread(thread), 1u);
    EXPECT_EQ(ResumeThread(thread), 0u);
    // Running but held: not signalled yet.
    EXPECT_EQ(WaitForSingleObject(thread, 20), WAIT_TIMEOUT);
    SetEvent(probe.go);
    ASSERT_EQ(WaitForSingleObject(thread, kLongWait), WAIT_OBJECT_0);
    EXPECT_TRUE(probe.ran.load());
    EXPECT_NE(probe.seenId.load(), 0u);
    EXPECT_NE(probe.seenId.load(), GetCurrentThreadId());
    EXPECT_EQ(probe.lastErrorAtStart.load(), ERROR_SUCCESS);
    EXPECT_EQ(GetLastError(), ERROR_GEN_FAILURE);  // the thread's own last error did not leak here
    EXPECT_TRUE(CloseHandle(thread));
    CloseHandle(probe.go);
}

TEST(KernelThreads, ClosingASuspendedThreadMeansItNeverRuns) {
    Probe probe;
    HANDLE thread = CreateThread(ProbeThread, &probe, true);
    ASSERT_NE(thread, nullptr);
    EXPECT_TRUE(CloseHandle(thread));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(probe.ran.load());
    EXPECT_EQ(ResumeThread(thread), static_cast<DWORD>(-1));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

struct GoAndDone {
    HANDLE go;
    HANDLE done;
};

DWORD WaitThenReport(void* parameter) {
    auto* events = static_cast<GoAndDone*>(parameter);
    WaitForSingleObject(events->go, kLongWait);
    SetEvent(events->done);  // last use of the caller's memory
    return 0;
}

TEST(KernelThreads, HandleClosedWhileRunningLetsTheThreadFinish) {
    GoAndDone events{CreateEvent(nullptr, TRUE, FALSE, nullptr), CreateEvent(nullptr, TRUE, FALSE, nullptr)};
    HANDLE thread = CreateThread(WaitThenReport, &events, false);
    ASSERT_NE(thread, nullptr);
    EXPECT_TRUE(CloseHandle(thread));
    SetEvent(events.go);
    EXPECT_EQ(WaitForSingleObject(events.done, kLongWait), WAIT_OBJECT_0);
    CloseHandle(events.go);
    CloseHandle(events.done);
}

TEST(KernelThreads, BadArgumentsAreRefused) {
    EXPECT_EQ(CreateThread(nullptr, nullptr, false), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    HANDLE event = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    EXPECT_EQ(ResumeThread(event), static_cast<DWORD>(-1));
    EXPECT_FALSE(SetThreadPriority(event, THREAD_PRIORITY_HIGHEST));
    CloseHandle(event);
}

}  // namespace
