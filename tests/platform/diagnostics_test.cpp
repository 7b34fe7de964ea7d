#include "diagnostics/diagnostics.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace marquen::diagnostics;

namespace {

struct Received {
    Level level;
    std::string message;
};

class DiagnosticsTest : public ::testing::Test {
protected:
    void SetUp() override { ClearRecent(); }
    void TearDown() override {
        SetHandler({});
        ClearRecent();
    }
    // The sequence number of the newest entry, 0 for none.
    static uint64_t Newest() {
        auto recent = Recent();
        return recent.empty() ? 0 : recent.back().sequence;
    }
};

TEST_F(DiagnosticsTest, TheHandlerGetsEachReportAndTheLogKeepsIt) {
    Report(Level::kDebug, "before any handler");
    std::vector<Received> received;
    SetHandler([&](Level level, std::string_view message) { received.push_back({level, std::string(message)}); });
    Report(Level::kWarning, "ports:2: expected NAME=/dev/node; line ignored");
    Report(Level::kError, "Quorlink: writing to the port failed: Input/output error (EIO)");
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].level, Level::kWarning);
    EXPECT_EQ(received[1].message, "Quorlink: writing to the port failed: Input/output error (EIO)");

    auto recent = Recent();
    ASSERT_EQ(recent.size(), 3u);
    EXPECT_EQ(recent[0].message, "before any handler");
    EXPECT_EQ(recent[0].level, Level::kDebug);
    EXPECT_EQ(recent[1].sequence, recent[0].sequence + 1);
    EXPECT_EQ(recent[2].sequence, recent[1].sequence + 1);
    // A viewer that has shown the first one gets only the two after it.
    auto newer = Recent(recent[0].sequence);
    ASSERT_EQ(newer.size(), 2u);
    EXPECT_EQ(newer[0].level, Level::kWarning);
    EXPECT_TRUE(Recent(recent[2].sequence).empty());

    SetHandler({});
    Report(Level::kInfo, "after the handler went");
    EXPECT_EQ(received.size(), 2u);
    EXPECT_EQ(Recent().back().message, "after the handler went");
    EXPECT_STREQ(LevelName(Level::kError), "error");
    EXPECT_STREQ(LevelName(Level::kDebug), "debug");
}

TEST_F(DiagnosticsTest, TheLogIsBoundedAndLongMessagesAreCut) {
    for (size_t i = 0; i < kRecentCapacity + 10; ++i)
        Report(Level::kDebug, "message " + std::to_string(i));
    auto recent = Recent();
    ASSERT_EQ(recent.size(), kRecentCapacity);
    EXPECT_EQ(recent.front().message, "message 10");  // the oldest went first
    EXPECT_EQ(recent.back().message, "message " + std::to_string(kRecentCapacity + 9));

    std::string received;
    SetHandler([&](Level, std::string_view message) { received = message; });
    Report(Level::kError, std::string(kMaxMessageLength + 100, 'x'));
    EXPECT_EQ(received.size(), kMaxMessageLength);
    EXPECT_EQ(Recent().back().message.size(), kMaxMessageLength);
}

TEST_F(DiagnosticsTest, AHandlerThatReportsOrThrowsDoesNotDeadlockOrEscape) {
    int calls = 0;
    SetHandler([&](Level, std::string_view message) {
        ++calls;
        if (message == "outer")
            Report(Level::kDebug, "from inside the handler");  // only to the log
        else
            throw std::runtime_error("handler failed");
    });
    Report(Level::kInfo, "outer");
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(Recent().back().message, "from inside the handler");
    Report(Level::kInfo, "throws");  // does not leave Report
    EXPECT_EQ(calls, 2);
    Report(Level::kInfo, "outer");
    EXPECT_EQ(calls, 3);
}

TEST_F(DiagnosticsTest, ReportsFromManyThreadsWhileTheHandlerChanges) {
    const uint64_t before = Newest();
    std::atomic<int> first{0};
    std::atomic<int> second{0};
    SetHandler([&](Level, std::string_view) { ++first; });
    constexpr int kThreads = 4;
    constexpr int kEach = 50;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kEach; ++i)
                Report(Level::kDebug, std::to_string(t) + ":" + std::to_string(i));
        });
    }
    SetHandler([&](Level, std::string_view) { ++second; });
    const int firstAfterSwitch = first.load();
    for (std::thread& thread : threads)
        thread.join();
    // Once SetHandler returned, the first handler was never called again.
    EXPECT_EQ(first.load(), firstAfterSwitch);
    EXPECT_EQ(first.load() + second.load(), kThreads * kEach);

    auto recent = Recent(before);
    ASSERT_EQ(recent.size(), static_cast<size_t>(kThreads * kEach));
    std::set<uint64_t> sequences;
    for (const Entry& entry : recent)
        sequences.insert(entry.sequence);
    EXPECT_EQ(sequences.size(), recent.size());
}

}  // namespace
