#include "wait_dialog.h"

#include "view_logic.h"

#include <wx/app.h>
#include <wx/dcclient.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

// The dashes are shared by every wait dialog of the process and keep their
// length from one opening to the next.
std::string g_dashes = "-";

const wxColour kDialogBackground(0x1F, 0x3A, 0x68);

}  // namespace

CWaitDlg::CWaitDlg()
    : wxDialog(nullptr, wxID_ANY, wxString(), wxDefaultPosition, wxDefaultSize,
               wxBORDER_SIMPLE),
      m_strText(view_logic::kWaitText),
      m_timer(this, 0)
{
    SetBackgroundColour(kDialogBackground);
    auto* banner = new wxStaticText(this, wxID_ANY, "Marquen", wxDefaultPosition, wxDefaultSize,
                                    wxALIGN_CENTRE_HORIZONTAL);
    wxFont big = banner->GetFont();
    big.SetPointSize(big.GetPointSize() * 3);
    big.MakeBold();
    banner->SetFont(big);
    banner->SetForegroundColour(*wxWHITE);
    m_pText = new wxTextCtrl(this, IDC_WAIT_TEXT, m_strText, wxDefaultPosition, wxSize(720, -1),
                             wxTE_READONLY | wxTE_CENTRE | wxBORDER_NONE);
    m_pText->SetBackgroundColour(kDialogBackground);
    m_pText->SetForegroundColour(*wxWHITE);
    m_pText->Disable();
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(banner, 1, wxEXPAND | wxALL, 24);
    sizer->Add(m_pText, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 16);
    SetSizerAndFit(sizer);
    Centre(wxBOTH);
    Bind(wxEVT_TIMER, [this](wxTimerEvent&) { Tick(); });
    m_timer.Start(1000);
}

void CWaitDlg::Tick()
{
    m_strText = wxString::FromUTF8(view_logic::NextWaitText(g_dashes));
    m_pText->ChangeValue(m_strText);
}

std::unique_ptr<CWaitProcess> CWaitProcess::Start(const std::string& program)
{
    if (program.empty())
        return nullptr;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return nullptr;
    // Everything the child needs is made before the fork: between fork and exec
    // only async-signal-safe calls are allowed in a threaded process.
    const char* argv[] = {program.c_str(), kWaitDialogOption, nullptr};
    const pid_t parent = ::getpid();
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[0], STDIN_FILENO);  // dup2 clears close-on-exec on the copy
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(0);
        ::execv(program.c_str(), const_cast<char* const*>(argv));
        ::_exit(127);
    }
    ::close(fds[0]);
    if (pid < 0) {
        ::close(fds[1]);
        return nullptr;
    }
    return std::unique_ptr<CWaitProcess>(new CWaitProcess(pid, fds[1]));
}

void CWaitProcess::Stop()
{
    if (m_nPipe >= 0) {
        ::close(m_nPipe);
        m_nPipe = -1;
    }
}

CWaitProcess::~CWaitProcess()
{
    Stop();
    // The helper needs a moment to take its window down; the program does not
    // wait for it on the user-interface thread (the main window would show
    // that much later). A thread of its own collects it, and kills it if it
    // has not ended within two seconds.
    const pid_t pid = m_pid;
    std::thread([pid] {
        using namespace std::chrono;
        const auto deadline = steady_clock::now() + seconds(2);
        for (;;) {
            pid_t done = ::waitpid(pid, nullptr, WNOHANG);
            if (done == pid || (done < 0 && errno != EINTR))
                return;
            if (steady_clock::now() >= deadline)
                break;
            std::this_thread::sleep_for(milliseconds(10));
        }
        ::kill(pid, SIGKILL);
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

CDelayedWaitProcess::CDelayedWaitProcess(std::string program, std::chrono::milliseconds delay)
    : m_thread(&CDelayedWaitProcess::Run, this, std::move(program), delay)
{
}

CDelayedWaitProcess::~CDelayedWaitProcess()
{
    Stop();
    if (m_thread.joinable())
        m_thread.join();
}

void CDelayedWaitProcess::Stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_bStop = true;
    }
    m_stopped.notify_all();
}

pid_t CDelayedWaitProcess::Pid() const
{
    std::lock_guard lock(m_mutex);
    return m_pid;
}

void CDelayedWaitProcess::Run(std::string program, std::chrono::milliseconds delay)
{
    std::unique_lock lock(m_mutex);
    if (m_stopped.wait_for(lock, delay, [this] { return m_bStop; }))
        return;
    std::unique_ptr<CWaitProcess> helper = CWaitProcess::Start(program);
    if (!helper)
        return;
    m_pid = helper->Pid();
    // The program's own start-up ends the wait; a minute is far beyond any
    // start-up's time-outs, and the dialog goes then whatever happens.
    m_stopped.wait_for(lock, std::chrono::minutes(1), [this] { return m_bStop; });
    lock.unlock();
    helper.reset();  // closes the pipe; a thread of its own collects the process
}

namespace {

// Watches standard input: when it closes (or anything arrives) the program
// that started the helper is done with the dialog.
class WaitHelper : public wxEvtHandler {
public:
    explicit WaitHelper(CWaitDlg* dialog) : m_pDialog(dialog), m_poll(this)
    {
        Bind(wxEVT_TIMER, [this](wxTimerEvent&) { Check(); });
        m_poll.Start(20);
    }

private:
    void Check()
    {
        pollfd input{STDIN_FILENO, POLLIN, 0};
        if (::poll(&input, 1, 0) == 0)
            return;
        m_poll.Stop();
        m_pDialog->Destroy();
        wxTheApp->ExitMainLoop();
    }

    CWaitDlg* m_pDialog;
    wxTimer m_poll;
};

}  // namespace

bool RunWaitDialogHelper()
{
    auto* dialog = new CWaitDlg();
    dialog->Show();
    // Lives until the process ends.
    new WaitHelper(dialog);
    return true;
}
