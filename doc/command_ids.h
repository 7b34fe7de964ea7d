#pragma once
// Command identifiers, view hints and window messages the document and the
// application object answer to. The numbers are fixed: menus, accelerators
// and the pages use the same ones.
#include <cstdint>

// "Window" menu: exactly one of the two carries a check mark, the one whose
// picture is displayed.
inline constexpr int ID_WINDOW_INPUT = 32771;
inline constexpr int ID_WINDOW_OUTPUT = 32772;
inline constexpr int ID_HELP_MANUAL = 32773;
inline constexpr int ID_BACKGROUND_COLOR = 32778;

// The framework's standard commands.
inline constexpr int ID_FILE_NEW = 57600;
inline constexpr int ID_FILE_OPEN = 57601;
inline constexpr int ID_FILE_SAVE = 57603;
inline constexpr int ID_FILE_SAVE_AS = 57604;
inline constexpr int ID_FILE_MRU_FIRST = 57616;
inline constexpr int ID_APP_ABOUT = 57664;
inline constexpr int ID_APP_EXIT = 57665;

// Hints of UpdateAllViews: which picture changed. A view acts only on the hint
// that matches the picture it displays.
inline constexpr long HINT_OUTPUT_PICTURE = 0;
inline constexpr long HINT_INPUT_PICTURE = 1;

// Window messages of the program, all sent (never posted) on the
// user-interface thread.
inline constexpr uint32_t WM_USER_BASE = 0x400;
inline constexpr uint32_t WM_COMM_BYTES = WM_USER_BASE + 1;
inline constexpr uint32_t WM_COMM_PROGRESS = WM_USER_BASE + 2;
inline constexpr uint32_t WM_COMM_ERROR = WM_USER_BASE + 3;
/// After Save As, to every window below the main frame; carries the saved path.
inline constexpr uint32_t WM_OUTPUT_SAVED = WM_USER_BASE + 4;
