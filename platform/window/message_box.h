#pragma once
// Message boxes shown by libraries that have no windows of their own (the
// communication server's driver switch). The program decides how they look:
// the desktop shows a dialog, marquen-cli writes the text to standard error.
// Without a presenter the text goes to the diagnostics (warning) and the
// box answers IDOK.
#include "win_types.h"

#include <functional>
#include <string>

namespace marquen::window {

constexpr UINT MB_OK = 0x0;
constexpr UINT MB_OKCANCEL = 0x1;
constexpr UINT MB_YESNO = 0x4;
constexpr UINT MB_ICONQUESTION = 0x20;
constexpr UINT MB_ICONEXCLAMATION = 0x30;
constexpr UINT MB_SYSTEMMODAL = 0x1000;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

/// Shows `text` and answers with the button pressed. Blocks as long as the
/// presenter does (a person answering). On the caller's thread.
using MessageBoxPresenter = std::function<int(const std::string& text, const std::string& caption, UINT type)>;

/// Makes `presenter` the way message boxes are shown (an empty function:
/// the default). Any thread.
void SetMessageBoxPresenter(MessageBoxPresenter presenter);

/// Shows a message box through the presenter. The window is only the
/// owner's; it may be null.
int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type);

}  // namespace marquen::window
