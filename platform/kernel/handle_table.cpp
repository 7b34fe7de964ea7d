#include "kernel/handle_table.h"

#include "kernel/last_error.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <unordered_map>

namespace marquen::kernel {
namespace {

// Handles are multiples of 4, as the platform's are, so a handle never looks
// like a small integer a caller confused with it.
constexpr unsigned kHandleShift = 2;

struct HandleTable {
    std::mutex lock;
    uintptr_t nextId = 1;
    std::unordered_map<uintptr_t, std::shared_ptr<Object>> objects;
};

// Deliberately never destroyed: device workers and threads that outlive
// main() may still signal objects while static destructors run.
HandleTable& Table() {
    static HandleTable* table = new HandleTable;
    return *table;
}

uintptr_t IdOf(HANDLE handle) { return reinterpret_cast<uintptr_t>(handle) >> kHandleShift; }

std::atomic<DWORD> g_nextThreadId{1};
thread_local DWORD t_threadId = 0;

}  // namespace

std::mutex& SignalLock() { return Table().lock; }

void NotifyWaiters(Object& object) {
    for (Waiter* waiter : object.waiters) {
        waiter->wake.notify_one();
    }
}

HANDLE InsertHandle(std::shared_ptr<Object> object) {
    HandleTable& table = Table();
    std::lock_guard guard(table.lock);
    if (table.nextId >= (UINTPTR_MAX >> kHandleShift)) {
        SetLastError(ERROR_OUTOFMEMORY);
        return nullptr;
    }
    uintptr_t id = table.nextId++;
    table.objects.emplace(id, std::move(object));
    return reinterpret_cast<HANDLE>(id << kHandleShift);
}

std::shared_ptr<Object> LookupHandleLocked(HANDLE handle) {
    if (handle == nullptr) {
        return nullptr;
    }
    auto& objects = Table().objects;
    auto found = objects.find(IdOf(handle));
    if (found == objects.end() || (reinterpret_cast<uintptr_t>(handle) & ((1u << kHandleShift) - 1)) != 0) {
        return nullptr;
    }
    return found->second;
}

std::shared_ptr<Object> LookupHandle(HANDLE handle) {
    std::lock_guard guard(Table().lock);
    return LookupHandleLocked(handle);
}

std::shared_ptr<Object> RemoveHandle(HANDLE handle) {
    HandleTable& table = Table();
    std::lock_guard guard(table.lock);
    std::shared_ptr<Object> object = LookupHandleLocked(handle);
    if (object) {
        table.objects.erase(IdOf(handle));
    }
    return object;
}

DWORD CurrentThreadId() {
    if (t_threadId == 0) {
        t_threadId = NewThreadId();
    }
    return t_threadId;
}

void AdoptThreadId(DWORD id) { t_threadId = id; }

DWORD NewThreadId() { return g_nextThreadId.fetch_add(1, std::memory_order_relaxed); }

}  // namespace marquen::kernel
