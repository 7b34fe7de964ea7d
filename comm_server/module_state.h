#pragma once
// State of the whole module (one per process): the counts that decide
// whether it may be unloaded, and the items that every Communication object
// of the process shares because the port library holds one port per process.
//
// Nothing here is an inline variable or a static member: the definitions
// live in module_state.cpp, so the module keeps no unique symbols.
#include "com/com.h"
#include "thread_annotations.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace quorlink {

/// Live objects, server locks (and referenced class factories), and running
/// background threads of the module; DllCanUnloadNow answers S_OK only when
/// all three are 0.
std::atomic<long>& LiveObjectCount();
std::atomic<long>& ServerLockCount();
std::atomic<long>& RunningThreadCount();

/// The five line properties, as indexes into ProcessWide::lastPut.
enum class LineProperty : int { Baudrate = 0, Parity, Stopbits, Databits, Handshaking, Count };

struct ProcessWide {
    marquen::Mutex lock;
    /// PortKind of the last connection set-up of any object, -1 before the first.
    int lastSetupKind GUARDED_BY(lock) = -1;
    /// Handshake code set aside while real-time mode is on.
    int savedHandshake GUARDED_BY(lock) = 0;
    /// Value last given to each property's put; seeded by the first put.
    std::optional<LONG> lastPut[static_cast<int>(LineProperty::Count)] GUARDED_BY(lock);
    /// Bytes of the last synchronous write. The write may still be pending
    /// after its caller gave up waiting (the port library carries on in the
    /// background), so its buffer stays here until the next write on the
    /// shared transmit OVERLAPPED has replaced it or the port was closed.
    std::shared_ptr<const std::vector<uint8_t>> pendingWrite GUARDED_BY(lock);
};

ProcessWide& Shared();

}  // namespace quorlink
