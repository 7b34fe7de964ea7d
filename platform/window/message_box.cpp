// Message boxes for libraries without windows.
#include "window/message_box.h"

#include "diagnostics/diagnostics.h"
#include "thread_annotations.h"

#include <mutex>

namespace marquen::window {
namespace {

marquen::Mutex g_lock;
MessageBoxPresenter g_presenter GUARDED_BY(g_lock);

}  // namespace

void SetMessageBoxPresenter(MessageBoxPresenter presenter) {
    std::lock_guard lock(g_lock);
    g_presenter = std::move(presenter);
}

int MessageBoxA(HWND /*owner*/, const char* text, const char* caption, UINT type) {
    MessageBoxPresenter presenter;
    {
        std::lock_guard lock(g_lock);
        presenter = g_presenter;
    }
    const std::string message = text ? text : "";
    // Called without the lock: the presenter waits for a person.
    if (presenter)
        return presenter(message, caption ? caption : "", type);
    diagnostics::Report(diagnostics::Level::kWarning, message);
    return IDOK;
}

}  // namespace marquen::window
