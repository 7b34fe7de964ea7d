#pragma once
// The wait dialog shown while the program starts (opening the printer port,
// the USB search), and the helper process that shows it.
//
// The toolkit draws windows from one thread only, and that thread is busy
// while the start-up blocks; so the dialog lives in a small helper process:
// the program starts itself again with kWaitDialogOption, that process shows
// the dialog with its own connection to the display and animates it, and it
// ends the dialog as soon as its standard input closes. The program closes
// that pipe to stop it; a program that dies closes it too, so the dialog never
// outlives its program.
#include "wait_thread.h"

#include <wx/dialog.h>
#include <wx/timer.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <sys/types.h>

class wxTextCtrl;

/// The command-line option that makes the program the wait dialog's helper.
inline constexpr const char* kWaitDialogOption = "--wait-dialog";
/// Control id of the dialog's text line.
inline constexpr int IDC_WAIT_TEXT = 1075;

/// A borderless popup with a banner above a line that runs dashes around
/// "Please wait during Marquen try to communicate with the printer", renewed
/// every second, in white.
class CWaitDlg : public wxDialog {
public:
    CWaitDlg();
    /// One tick of the timer: the next text.
    void Tick();
    wxString m_strText;
    wxTextCtrl* TextLine() { return m_pText; }

private:
    wxTextCtrl* m_pText = nullptr;
    wxTimer m_timer;
};

/// The helper process as the application object's wait thread.
class CWaitProcess : public IWaitThread {
public:
    /// Starts program (normally this program's file) with kWaitDialogOption.
    /// Null when it cannot be started: the start-up then goes on without a wait
    /// dialog.
    static std::unique_ptr<CWaitProcess> Start(const std::string& program);
    /// Stops the dialog if Stop was not called and returns at once; a thread
    /// of its own collects the process, killing it when it has not ended
    /// within two seconds.
    ~CWaitProcess() override;
    /// Closes the pipe: the helper ends its dialog and quits. Returns at once.
    void Stop() override;
    pid_t Pid() const { return m_pid; }

private:
    CWaitProcess(pid_t pid, int pipeFd) : m_pid(pid), m_nPipe(pipeFd) {}
    pid_t m_pid;
    int m_nPipe;
};

/// The helper started only when the start-up is still running after a delay:
/// a start-up that ends sooner shows its main window without the helper's
/// process competing for the processor (it would rarely have had its dialog
/// on screen by then). A thread of its own waits and starts the helper; it
/// stays until the helper is stopped, since the helper ends with the thread
/// that started it.
class CDelayedWaitProcess : public IWaitThread {
public:
    CDelayedWaitProcess(std::string program, std::chrono::milliseconds delay);
    /// Stops the helper (or its start) and returns once the thread has ended.
    ~CDelayedWaitProcess() override;
    /// Ends the wait; the helper, if it was started, ends its dialog.
    void Stop() override;
    /// The helper's process id; 0 while it has not been started.
    pid_t Pid() const;

private:
    void Run(std::string program, std::chrono::milliseconds delay);

    mutable std::mutex m_mutex;
    std::condition_variable m_stopped;
    bool m_bStop = false;
    pid_t m_pid = 0;
    std::thread m_thread;
};

/// The helper's side, run from the toolkit application's initialisation:
/// shows the dialog and ends the program when standard input closes. False
/// when the dialog cannot be shown.
bool RunWaitDialogHelper();
