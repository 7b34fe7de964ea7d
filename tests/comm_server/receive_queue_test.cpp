// The receive queue: order across its 4096-byte blocks, partial takes, and
// its cap.
#include "receive_queue.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

using quorlink::ReceiveQueue;

TEST(ReceiveQueue, KeepsOrderAcrossBlocksAndPartialTakes) {
    ReceiveQueue queue;
    std::vector<uint8_t> in(3 * ReceiveQueue::kBlockSize + 123);
    std::iota(in.begin(), in.end(), uint8_t{0});
    // Appended in uneven pieces, so pieces straddle block ends.
    size_t at = 0;
    for (size_t piece : {1u, 511u, 4000u, 4096u, 3000u}) {
        ASSERT_EQ(queue.Append(std::span(in).subspan(at, piece)), piece);
        at += piece;
    }
    ASSERT_EQ(queue.Append(std::span(in).subspan(at)), in.size() - at);
    EXPECT_EQ(queue.Count(), in.size());

    std::vector<uint8_t> out;
    for (size_t want : {4u, 4095u, 1u, 8192u}) {
        std::vector<uint8_t> chunk(want);
        size_t got = queue.Take(chunk);
        chunk.resize(got);
        out.insert(out.end(), chunk.begin(), chunk.end());
    }
    std::vector<uint8_t> rest(in.size());
    rest.resize(queue.Take(rest));
    out.insert(out.end(), rest.begin(), rest.end());
    EXPECT_EQ(out, in);
    EXPECT_TRUE(queue.Empty());

    // Emptied, it takes new bytes in order again.
    ASSERT_EQ(queue.Append(std::vector<uint8_t>{7, 8, 9}), 3u);
    std::vector<uint8_t> two(2);
    EXPECT_EQ(queue.Take(two), 2u);
    EXPECT_EQ(two, (std::vector<uint8_t>{7, 8}));
    ASSERT_EQ(queue.Append(std::vector<uint8_t>{10}), 1u);
    EXPECT_EQ(queue.Take(two), 2u);
    EXPECT_EQ(two, (std::vector<uint8_t>{9, 10}));
    EXPECT_EQ(queue.Take(two), 0u);
}

TEST(ReceiveQueue, DropsWhatGoesBeyondItsCap) {
    ReceiveQueue queue;
    std::vector<uint8_t> big(ReceiveQueue::kMaxQueuedBytes - 10, 1);
    ASSERT_EQ(queue.Append(big), big.size());
    std::vector<uint8_t> more(100, 2);
    EXPECT_EQ(queue.Append(more), 10u);
    EXPECT_EQ(queue.Count(), ReceiveQueue::kMaxQueuedBytes);
    EXPECT_EQ(queue.Append(more), 0u);
}
