// Concurrent writers of the registry, in several processes and threads:
// every key written by any of them must be there afterwards.
#include "registry/registry.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

namespace registry = marquen::registry;

constexpr int kWriters = 3;
constexpr int kKeysEach = 30;

std::string KeyOf(int writer, int key) {
    return "Writers\\W" + std::to_string(writer) + "\\K" + std::to_string(key);
}

// Waits for a child with a bound; kills it when the bound passes.
int WaitForChild(pid_t child, std::chrono::seconds bound) {
    auto deadline = std::chrono::steady_clock::now() + bound;
    int status = 0;
    while (true) {
        pid_t done = ::waitpid(child, &status, WNOHANG);
        if (done == child)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (done < 0)
            return -1;
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            return -2;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

class RegistryConcurrency : public ::testing::Test {
protected:
    void SetUp() override { setenv("XDG_CONFIG_HOME", m_dir.path().c_str(), 1); }
    void TearDown() override { unsetenv("XDG_CONFIG_HOME"); }
    void ExpectEveryKey() {
        registry::Tree tree;
        ASSERT_EQ(registry::Load(tree), ERROR_SUCCESS) << registry::LastErrorDetail();
        int missing = 0;
        for (int w = 0; w < kWriters; ++w) {
            for (int k = 0; k < kKeysEach; ++k) {
                const registry::Key* key = tree.Find(KeyOf(w, k));
                const std::string* value = key ? key->FindValue("") : nullptr;
                if (!value || *value != std::to_string(w * 1000 + k))
                    ++missing;
            }
        }
        EXPECT_EQ(missing, 0);
    }
    testing_support::TempDir m_dir;
};

TEST_F(RegistryConcurrency, WritersInSeveralProcessesLoseNothing) {
    std::vector<pid_t> children;
    for (int w = 0; w < kWriters; ++w) {
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            int failures = 0;
            for (int k = 0; k < kKeysEach; ++k)
                failures += registry::SetValue(KeyOf(w, k), "", std::to_string(w * 1000 + k)) != ERROR_SUCCESS;
            ::_exit(failures == 0 ? 0 : 1);
        }
        children.push_back(child);
    }
    for (pid_t child : children)
        EXPECT_EQ(WaitForChild(child, std::chrono::seconds(120)), 0);
    ExpectEveryKey();
}

TEST_F(RegistryConcurrency, WritersInSeveralThreadsLoseNothingAndReadersSeeWholeFiles) {
    std::atomic<bool> done{false};
    std::atomic<int> badReads{0};
    std::thread reader([&] {
        while (!done) {
            registry::Tree tree;
            badReads += registry::Load(tree) != ERROR_SUCCESS;
        }
    });
    std::vector<std::thread> writers;
    std::atomic<int> failures{0};
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&, w] {
            for (int k = 0; k < kKeysEach; ++k)
                failures += registry::SetValue(KeyOf(w, k), "", std::to_string(w * 1000 + k)) != ERROR_SUCCESS;
        });
    }
    for (auto& writer : writers)
        writer.join();
    done = true;
    reader.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(badReads, 0) << "a reader never sees half a file";
    ExpectEveryKey();
}

}  // namespace
