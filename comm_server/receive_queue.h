#pragma once
// ReceiveQueue: the bytes read from the port and not yet handed to the
// client, first in first out, kept in blocks of 4096 bytes so that a long
// burst never moves what is already queued. Not locked itself: every use is
// under the receive channel's QueueLock.
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>

namespace quorlink {

class ReceiveQueue {
public:
    static constexpr size_t kBlockSize = 4096;
    /// Most bytes kept: a printer that talks while nobody drains the queue
    /// must not take the process's memory. Bytes beyond it are dropped.
    static constexpr size_t kMaxQueuedBytes = size_t{64} << 20;

    /// Appends in order; returns how many were kept (fewer only at the cap or
    /// when memory runs out).
    size_t Append(std::span<const uint8_t> bytes);
    /// Moves up to out.size() of the oldest bytes into `out`; returns how many.
    size_t Take(std::span<uint8_t> out);
    size_t Count() const { return m_count; }
    bool Empty() const { return m_count == 0; }

private:
    using Block = std::array<uint8_t, kBlockSize>;
    std::deque<std::unique_ptr<Block>> m_blocks;
    size_t m_head = 0;  ///< first unread byte in m_blocks.front()
    size_t m_tail = 0;  ///< bytes filled in m_blocks.back()
    size_t m_count = 0;
};

}  // namespace quorlink
