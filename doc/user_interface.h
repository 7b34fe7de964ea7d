#pragma once
// The two things every part of the program asks of the desktop: a modal
// message box, and the status line of the main window. The desktop layer
// implements them with real windows; tests bind them to recording fakes, so
// the document, the application object and the printer commands run without
// a display. Every member is called on the user-interface thread only.
#include <string>

enum class MessageButtons {
    Ok,
    OkCancel,
    YesNo,
    YesNoCancel,
};

enum class MessageIcon {
    None,
    Error,
    Warning,
    Information,
    Question,
};

/// The button the user pressed to close a message box.
enum class MessageAnswer {
    Ok,
    Cancel,
    Yes,
    No,
};

class IMessageBox {
public:
    virtual ~IMessageBox() = default;

    /// Shows text modally with the given buttons and icon and returns the
    /// button pressed. Blocks until the user answers (there is no time-out: the
    /// user is the only one who can end it). A box closed by the window
    /// manager answers Cancel, or No when there is no Cancel button.
    virtual MessageAnswer ShowMessage(const std::string& text, MessageButtons buttons, MessageIcon icon) = 0;
};

/// The status line of the main window: the text that says which picture is
/// displayed and whether the printer connection is open.
class IStatusLine {
public:
    virtual ~IStatusLine() = default;

    /// False before the main window exists; the status line is then left alone.
    virtual bool HasMainWindow() const = 0;
    /// Whether the printer port is open. The communication client answers it;
    /// it may throw the communication layer's error exception when the
    /// communication object fails or is missing.
    virtual bool IsPortOpen() = 0;
    /// Stores text as the application's status text and shows it in the main
    /// window's message pane.
    virtual void SetStatusText(const std::string& text) = 0;
};
