// Window classes, the window table, creation and destruction.
#include "window/window_internal.h"

#include "kernel/threads.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <unordered_map>

namespace marquen::window {
namespace {

struct ClassInfo {
    ATOM atom;
    WNDPROC procedure;
    UINT style;
};

struct WindowTable {
    std::mutex lock;
    uintptr_t nextId = 1;
    ATOM nextAtom = 0xC000;
    std::unordered_map<uintptr_t, std::shared_ptr<WindowRecord>> windows;
    std::map<std::string, ClassInfo> classes;
};

// Never destroyed: threads may post while static destructors run.
WindowTable& Table() {
    static WindowTable* table = new WindowTable;
    return *table;
}

std::string ClassKey(const char* name) {
    std::string key(name);
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::toupper(c); });
    return key;
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
    std::vector<std::shared_ptr<SentMessage>> unanswered;
    {
        std::lock_guard guard(queue.lock);
        record->alive = false;
        std::erase_if(queue.posted, [&](const PostedMessage& m) { return m.windowId == record->id; });
        std::erase_if(queue.timers, [&](const Timer& t) { return t.windowId == record->id; });
        for (auto it = queue.sent.begin(); it != queue.sent.end();) {
            if ((*it)->windowId == record->id) {
                unanswered.push_back(*it);
                it = queue.sent.erase(it);
            } else {
                ++it;
            }
        }
        queue.RearmTimer();
    }
    for (auto& message : unanswered) {
        std::lock_guard guard(message->sender->lock);
        message->done = true;
        message->failed = true;
        message->sender->changed.notify_all();
    }
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

}  // namespace marquen::window

using namespace marquen::window;

ATOM RegisterClass(const WNDCLASS* windowClass) {
    if (windowClass == nullptr || windowClass->lpfnWndProc == nullptr || windowClass->lpszClassName == nullptr ||
        windowClass->lpszClassName[0] == '\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    WindowTable& table = Table();
    std::lock_guard guard(table.lock);
    std::string key = ClassKey(windowClass->lpszClassName);
    if (table.classes.count(key) != 0) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    if (table.nextAtom == 0xFFFF) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    ATOM atom = table.nextAtom++;
    table.classes.emplace(key, ClassInfo{atom, windowClass->lpfnWndProc, windowClass->style});
    return atom;
}

BOOL UnregisterClass(const char* className, void* /*instance*/) {
    if (className == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    WindowTable& table = Table();
    std::lock_guard guard(table.lock);
    if (table.classes.erase(ClassKey(className)) == 0) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    return TRUE;
}

HWND CreateWindowEx(DWORD /*exStyle*/, const char* className, const char* windowName, DWORD style, int x, int y,
                    int width, int height, HWND parent, void* /*menu*/, void* instance, void* parameter) {
    if (className == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto record = std::make_shared<WindowRecord>();
    WindowTable& table = Table();
    {
        std::lock_guard guard(table.lock);
        auto found = table.classes.find(ClassKey(className));
        if (found == table.classes.end()) {
            SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
            return nullptr;
        }
        record->procedure = found->second.procedure;
    }
    record->queue = CurrentQueue();
    if (!record->queue) {
        return nullptr;
    }
    record->className = className;
    record->title = windowName != nullptr ? windowName : "";
    record->style = style;
    record->threadId = GetCurrentThreadId();
    {
        std::lock_guard guard(table.lock);
        record->id = table.nextId++;
        table.windows.emplace(record->id, record);
    }
    CREATESTRUCT create{parameter, instance, parent, height, width, y, x, style, windowName, className};
    if (CallProcedure(record, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1) {
        RetireWindow(record);
        SetLastError(ERROR_GEN_FAILURE);
        return nullptr;
    }
    return HandleOf(*record);
}

BOOL DestroyWindow(HWND window) {
    auto record = FindWindowRecord(window);
    if (!record) {
        return FALSE;
    }
    ThreadQueue& queue = *record->queue;
    if (record->threadId == GetCurrentThreadId()) {
        {
            std::lock_guard guard(queue.lock);
            if (record->destroying) {
                return TRUE;  // DestroyWindow from its own WM_DESTROY
            }
            record->destroying = true;
        }
        CallProcedure(record, WM_DESTROY, 0, 0);
        RetireWindow(record);
        return TRUE;
    }
    RetireWindow(record);
    std::unique_lock lock(queue.lock);
    if (!queue.changed.wait_for(lock, std::chrono::milliseconds(SEND_MESSAGE_TIMEOUT_MS),
                                [&] { return record->runningCalls == 0; })) {
        SetLastError(ERROR_TIMEOUT);
        return FALSE;
    }
    return TRUE;
}

BOOL IsWindow(HWND window) {
    DWORD saved = GetLastError();
    bool exists = FindWindowRecord(window) != nullptr;
    SetLastError(saved);
    return exists ? TRUE : FALSE;
}

HWND FindWindow(const char* className, const char* windowName) {
    WindowTable& table = Table();
    std::lock_guard guard(table.lock);
    std::shared_ptr<WindowRecord> first;
    for (auto& [id, record] : table.windows) {
        if (!record->alive) continue;
        if (className != nullptr && ClassKey(className) != ClassKey(record->className.c_str())) continue;
        if (windowName != nullptr && record->title != windowName) continue;
        if (!first || record->id < first->id) first = record;
    }
    return first ? HandleOf(*first) : nullptr;
}

DWORD GetWindowThreadProcessId(HWND window, DWORD* processId) {
    auto record = FindWindowRecord(window);
    if (processId != nullptr) {
        *processId = record ? static_cast<DWORD>(getpid()) : 0;
    }
    return record ? record->threadId : 0;
}

LONG_PTR SetWindowLongPtr(HWND window, int index, LONG_PTR value) {
    auto record = FindWindowRecord(window);
    if (!record) {
        return 0;
    }
    if (index != GWLP_USERDATA) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return record->userData.exchange(value);
}

LONG_PTR GetWindowLongPtr(HWND window, int index) {
    auto record = FindWindowRecord(window);
    if (!record) {
        return 0;
    }
    if (index != GWLP_USERDATA) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return record->userData.load();
}

LRESULT DefWindowProc(HWND, UINT, WPARAM, LPARAM) { return 0; }
