#pragma once
// A window that records the transport's error posts, for the tests of the
// USB object.
#include "tramline.h"
#include "window/message_window.h"

#include <vector>

namespace tramline_test {

class PostRecorder {
public:
    PostRecorder() {
        m_window = marquen::window::CreateMessageWindow([this](HWND, UINT message, WPARAM wParam, LPARAM) -> LRESULT {
            if (message == TRAMLINE_MESSAGE_ERROR)
                m_codes.push_back(wParam);
            return 0;
        });
    }
    ~PostRecorder() { marquen::window::DestroyWindow(m_window); }
    HWND window() const { return m_window; }
    /// The codes posted so far (pumps what is waiting, without blocking).
    std::vector<WPARAM> Codes() {
        marquen::window::MSG message;
        while (marquen::window::GetMessageTimeout(&message, 0))
            marquen::window::DispatchMessage(&message);
        return m_codes;
    }

private:
    HWND m_window = nullptr;
    std::vector<WPARAM> m_codes;
};

}  // namespace tramline_test
