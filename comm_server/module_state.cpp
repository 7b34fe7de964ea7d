#include "module_state.h"

namespace quorlink {
namespace {

std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};
std::atomic<long> g_threads{0};
ProcessWide g_shared;

}  // namespace

std::atomic<long>& LiveObjectCount() { return g_objects; }
std::atomic<long>& ServerLockCount() { return g_locks; }
std::atomic<long>& RunningThreadCount() { return g_threads; }
ProcessWide& Shared() { return g_shared; }

}  // namespace quorlink
