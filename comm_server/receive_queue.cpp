#include "receive_queue.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace quorlink {

size_t ReceiveQueue::Append(std::span<const uint8_t> bytes) {
    size_t room = kMaxQueuedBytes - m_count;
    if (bytes.size() > room)
        bytes = bytes.first(room);
    size_t kept = 0;
    while (kept < bytes.size()) {
        if (m_blocks.empty() || m_tail == kBlockSize) {
            try {
                m_blocks.push_back(std::make_unique<Block>());
            } catch (const std::bad_alloc&) {
                break;
            }
            m_tail = 0;
        }
        size_t n = std::min(kBlockSize - m_tail, bytes.size() - kept);
        std::memcpy(m_blocks.back()->data() + m_tail, bytes.data() + kept, n);
        m_tail += n;
        kept += n;
    }
    m_count += kept;
    return kept;
}

size_t ReceiveQueue::Take(std::span<uint8_t> out) {
    size_t moved = 0;
    while (moved < out.size() && m_count > 0) {
        // The front block holds bytes up to m_tail when it is also the back.
        size_t end = m_blocks.size() == 1 ? m_tail : kBlockSize;
        size_t n = std::min(end - m_head, out.size() - moved);
        std::memcpy(out.data() + moved, m_blocks.front()->data() + m_head, n);
        m_head += n;
        moved += n;
        m_count -= n;
        if (m_head == end) {
            if (m_blocks.size() == 1) {
                // Keep the last block for the next bytes.
                m_head = 0;
                m_tail = 0;
            } else {
                m_blocks.pop_front();
                m_head = 0;
            }
        }
    }
    return moved;
}

}  // namespace quorlink
