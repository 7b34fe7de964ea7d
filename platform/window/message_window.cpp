// The window table, creation and destruction.
#include "window/window_internal.h"

#include "kernel/last_error.h"
#include "kernel/threads.h"

#include <unordered_map>

namespace marquen::window {
namespace {

struct WindowTable {
    Mutex lock;
    uintptr_t nextId GUARDED_BY(lock) = 1;
    std::unordered_map<uintptr_t, std::shared_ptr<WindowRecord>> windows GUARDED_BY(lock);
};

// Never destroyed: threads may post while static destructors run.
WindowTable& Table() {
    static WindowTable* table = new WindowTable;
    return *table;
}

}  // namespace

HWND HandleOf(const WindowRecord& record) { return HandleOfId(record.id); }

std::shared_ptr<WindowRecord> FindWindowRecord(HWND window) {
    if (IsWellFormedHandle(window)) {
        WindowTable& table = Table();
        std::lock_guard guard(table.lock);
        auto found = table.windows.find(IdOfHandle(window));
        if (found != table.windows.end() && found->second->alive) {
            return found->second;
        }
    }
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
}

std::vector<std::shared_ptr<WindowRecord>> WindowsOfThread(DWORD threadId) {
    WindowTable& table = Table();
    std::lock_guard guard(table.lock);
    std::vector<std::shared_ptr<WindowRecord>> owned;
    for (auto& [id, record] : table.windows) {
        if (record->threadId == threadId) {
            owned.push_back(record);
        }
    }
    return owned;
}

void RetireWindow(const std::shared_ptr<WindowRecord>& record) {
    {
        WindowTable& table = Table();
        std::lock_guard guard(table.lock);
        table.windows.erase(record->id);
    }
    ThreadQueue& queue = *record->queue;
    std::lock_guard guard(queue.lock);
    record->alive = false;
    std::erase_if(queue.posted, [&](const PostedMessage& m) { return m.windowId == record->id; });
    std::erase_if(queue.timers, [&](const Timer& t) { return t.windowId == record->id; });
    queue.RearmTimer();
}

LRESULT CallProcedure(const std::shared_ptr<WindowRecord>& record, UINT message, WPARAM wParam, LPARAM lParam) {
    ThreadQueue& queue = *record->queue;
    {
        std::lock_guard guard(queue.lock);
        if (!record->alive) {
            return 0;
        }
        ++record->runningCalls;
    }
    LRESULT result = record->procedure(HandleOf(*record), message, wParam, lParam);
    {
        std::lock_guard guard(queue.lock);
        --record->runningCalls;
    }
    queue.changed.notify_all();
    return result;
}

HWND CreateMessageWindow(WindowProcedure procedure, std::string_view title) {
    if (!procedure) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto record = std::make_shared<WindowRecord>();
    record->queue = CurrentQueue();
    if (!record->queue) {
        return nullptr;
    }
    record->procedure = std::move(procedure);
    record->title = title;
    record->threadId = kernel::GetCurrentThreadId();
    WindowTable& table = Table();
    std::lock_guard guard(table.lock);
    record->id = table.nextId++;
    table.windows.emplace(record->id, record);
    return HandleOf(*record);
}

bool DestroyWindow(HWND window) {
    auto record = FindWindowRecord(window);
    if (!record) {
        return false;
    }
    ThreadQueue& queue = *record->queue;
    if (record->threadId == kernel::GetCurrentThreadId()) {
        {
            std::lock_guard guard(queue.lock);
            if (record->destroying) {
                return true;  // DestroyWindow from its own WM_DESTROY
            }
            record->destroying = true;
        }
        CallProcedure(record, WM_DESTROY, 0, 0);
        RetireWindow(record);
        return true;
    }
    RetireWindow(record);
    std::unique_lock lock(queue.lock);
    const auto deadline = Clock::now() + std::chrono::milliseconds(kDestroyWaitMs);
    while (record->runningCalls != 0) {
        if (queue.changed.wait_until(lock, deadline) == std::cv_status::timeout && record->runningCalls != 0) {
            SetLastError(ERROR_TIMEOUT);
            return false;
        }
    }
    return true;
}

bool IsWindow(HWND window) {
    DWORD saved = GetLastError();
    bool exists = FindWindowRecord(window) != nullptr;
    SetLastError(saved);
    return exists;
}

HWND FindWindow(std::string_view title) {
    WindowTable& table = Table();
    std::lock_guard guard(table.lock);
    std::shared_ptr<WindowRecord> first;
    for (auto& [id, record] : table.windows) {
        if (record->alive && record->title == title && (!first || record->id < first->id)) {
            first = record;
        }
    }
    return first ? HandleOf(*first) : nullptr;
}

LRESULT DefWindowProc(HWND, UINT, WPARAM, LPARAM) { return 0; }

}  // namespace marquen::window
