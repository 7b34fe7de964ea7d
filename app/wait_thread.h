#pragma once
// The wait dialog's thread as the application object sees it. The desktop
// layer runs the dialog on a thread of its own (the dialog shares no data with
// the rest of the program); the application object only starts it and stops it.

class IWaitThread {
public:
    /// Stops the thread if Stop has not been called, and waits for it to end.
    virtual ~IWaitThread() = default;

    /// Ends the wait dialog with end code 0, then tells the thread to quit.
    /// Called on the user-interface thread, at most once; returns without
    /// waiting for the thread to end.
    virtual void Stop() = 0;
};
