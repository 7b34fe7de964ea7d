// The vprinter program as scripts use it: the device path on the first line,
// a clean exit when its standard input closes or on SIGTERM, --help and bad
// options, a fault switch given on the command line.
#include "pty_client.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <optional>
#include <string>
#include <sys/wait.h>
#include <vector>

using namespace pty_client;

namespace {

// One run of bin/vprinter with its three standard streams on pipes.
class Program {
public:
    explicit Program(const std::vector<std::string>& arguments)
    {
        int in[2], out[2], err[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
            ADD_FAILURE() << "pipe failed";
            return;
        }
        const std::string program = (testing_support::BinaryDir() / "vprinter").string();
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(in[0], STDIN_FILENO);
            ::dup2(out[1], STDOUT_FILENO);
            ::dup2(err[1], STDERR_FILENO);
            ::execv(program.c_str(), argv.data());
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        ::close(err[1]);
        m_stdin = in[1];
        m_stdout = out[0];
        m_stderr = err[0];
    }

    ~Program()
    {
        CloseStdin();
        if (m_pid > 0 && !m_status) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_stdout >= 0)
            ::close(m_stdout);
        if (m_stderr >= 0)
            ::close(m_stderr);
    }

    void CloseStdin()
    {
        if (m_stdin >= 0)
            ::close(m_stdin);
        m_stdin = -1;
    }
    void Signal(int signal) { ::kill(m_pid, signal); }

    /// The first line of standard output, without its newline; what came
    /// before the time-out when no newline did.
    std::string ReadLine(milliseconds timeout = kReplyTimeout)
    {
        std::string line;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (line.find('\n') == std::string::npos) {
            auto left = std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd fd{m_stdout, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&fd, 1, static_cast<int>(left.count()) + 1) <= 0)
                break;
            char c;
            if (::read(m_stdout, &c, 1) != 1)
                break;
            line += c;
        }
        if (!line.empty() && line.back() == '\n')
            line.pop_back();
        return line;
    }

    /// Everything on a stream until it closes (the program has ended).
    static std::string Drain(int fd, milliseconds timeout = kReplyTimeout)
    {
        std::string text;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            auto left = std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd p{fd, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count()) + 1) <= 0)
                break;
            char buffer[1024];
            ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            text.append(buffer, static_cast<size_t>(n));
        }
        return text;
    }
    std::string DrainStdout() { return Drain(m_stdout); }
    std::string DrainStderr() { return Drain(m_stderr); }

    /// The wait status once the program has ended, at most timeout.
    std::optional<int> WaitForExit(milliseconds timeout = milliseconds(10000))
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!m_status) {
            int status = 0;
            pid_t done = ::waitpid(m_pid, &status, WNOHANG);
            if (done == m_pid) {
                m_status = status;
                break;
            }
            if (done < 0 || std::chrono::steady_clock::now() >= deadline)
                break;
            // No descriptor tells of a child's end here; poll its status.
            ::poll(nullptr, 0, 10);
        }
        return m_status;
    }

private:
    pid_t m_pid = -1;
    int m_stdin = -1;
    int m_stdout = -1;
    int m_stderr = -1;
    std::optional<int> m_status;
};

bool ExitedWith(const std::optional<int>& status, int code)
{
    return status && WIFEXITED(*status) && WEXITSTATUS(*status) == code;
}

}  // namespace

TEST(VprinterProgram, PrintsItsPathFirstServesAndEndsWhenStdinCloses)
{
    Program program({});
    const std::string path = program.ReadLine();
    ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path << program.DrainStderr();
    {
        Client client(path);
        client.Write({0x1D, 0x23, 0x07, 0x1F, 0x65, 0x07});
        EXPECT_EQ(client.Read(4), (Bytes{0x07, 0x00, 0x00, 0x00}));
    }
    program.CloseStdin();
    EXPECT_TRUE(ExitedWith(program.WaitForExit(), 0));
}

TEST(VprinterProgram, EndsCleanlyOnSigtermAndSigint)
{
    for (int signal : {SIGTERM, SIGINT}) {
        Program program({});
        const std::string path = program.ReadLine();
        ASSERT_FALSE(path.empty());
        Client client(path);
        program.Signal(signal);
        EXPECT_TRUE(ExitedWith(program.WaitForExit(), 0)) << "signal " << signal;
        Bytes before;
        EXPECT_TRUE(client.WaitForHangUp(before));
    }
}

TEST(VprinterProgram, HelpAndBadOptions)
{
    {
        Program program({"--help"});
        EXPECT_TRUE(ExitedWith(program.WaitForExit(), 0));
        const std::string text = program.DrainStdout();
        for (const char* option : {"--total-memory", "--logo-area", "--printer-version", "--erase-delay", "--baud",
                                   "--pace", "--drop-next", "--drop", "--corrupt-checksum", "--stall",
                                   "--stall-after", "--hangup-define", "--hangup-upload", "--garbage"})
            EXPECT_NE(text.find(option), std::string::npos) << option;
    }
    for (std::vector<std::string> bad : {std::vector<std::string>{"--frobnicate"}, {"--drop", "nothing"},
                                         {"--total-memory", "100"}, {"--logo-area=4096"}, {"--baud"},
                                         {"--stall-after", "5"}, {"--garbage", "3/0"}, {"--pace=1"}}) {
        Program program(bad);
        EXPECT_TRUE(ExitedWith(program.WaitForExit(), 2)) << bad[0];
        EXPECT_NE(program.DrainStderr().find("Usage: vprinter"), std::string::npos) << bad[0];
        EXPECT_EQ(program.DrainStdout(), "") << bad[0];
    }
}

TEST(VprinterProgram, TheUsbPrinterRefusesTheLineOptions)
{
    {
        Program help({"--usb", "--help"});
        if (!ExitedWith(help.WaitForExit(), 0))
            GTEST_SKIP() << "vprinter is built without --usb";
        help.DrainStdout();
    }
    // Refused before any testbed is set up or the command runs.
    for (std::vector<std::string> line : {std::vector<std::string>{"--baud", "9600"}, {"--pace"},
                                          {"--stall", "100"}, {"--ignore-stdin"}, {"--tcp", "0"}}) {
        std::vector<std::string> args{"--usb"};
        args.insert(args.end(), line.begin(), line.end());
        args.insert(args.end(), {"--", "/bin/true"});
        Program program(args);
        EXPECT_TRUE(ExitedWith(program.WaitForExit(), 2)) << line[0];
        const std::string err = program.DrainStderr();
        EXPECT_NE(err.find(line[0] + " is an option of the printer on a pseudo-terminal"), std::string::npos)
            << err;
        EXPECT_EQ(program.DrainStdout(), "") << line[0];
    }
}

TEST(VprinterProgram, FaultAndPrinterOptionsApply)
{
    Program program({"--printer-version", "0", "--drop", "status", "--logo-area=64", "--ignore-stdin"});
    const std::string path = program.ReadLine();
    ASSERT_FALSE(path.empty());
    program.CloseStdin();  // ignored: the printer keeps serving
    Client client(path);
    // Neither the status nor the total memory is answered; the free memory is.
    client.Write({0x1F, 0x65, 0x00, 0x1D, 0x0B, 0x1F, 0x77, 0x01});
    EXPECT_EQ(client.Read(8), (Bytes{'6', '5', '5', '3', '6', 0, 0, 0}));
    program.Signal(SIGTERM);
    EXPECT_TRUE(ExitedWith(program.WaitForExit(), 0));
}

TEST(VprinterProgram, HangUpFaultEndsTheProgram)
{
    Program program({"--hangup-define", "6", "--ignore-stdin"});
    const std::string path = program.ReadLine();
    ASSERT_FALSE(path.empty());
    Client client(path);
    client.Write({0x1D, 0x2A, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00});
    Bytes before;
    EXPECT_TRUE(client.WaitForHangUp(before));
    EXPECT_TRUE(ExitedWith(program.WaitForExit(), 0));
    EXPECT_NE(program.DrainStderr().find("hung up"), std::string::npos);
}
