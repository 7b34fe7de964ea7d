#pragma once
// Fixtures shared by every test folder: scratch folders, whole-file reads and
// writes, the path of the committed test data, and the built programs run as
// a script runs them (RunProgram, StartedProgram, VprinterProcess).
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

namespace testing_support {

/// A fresh folder under the system's temporary folder, removed with everything
/// in it when the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

/// Whole content of a file; an empty vector when it cannot be read.
std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& file);
/// The same as text; empty when the file cannot be read.
std::string ReadFileText(const std::filesystem::path& file);
/// Replaces the file's content; fails the current test when it cannot.
void WriteFileBytes(const std::filesystem::path& file, const std::vector<uint8_t>& bytes);
/// tests/data/<relative>.
std::filesystem::path TestDataPath(const std::string& relative);
/// Every regular file below tests/data/<relative>, sorted by path.
std::vector<std::filesystem::path> TestDataFiles(const std::string& relative);
/// Folder of the built programs and shared libraries (build/bin).
std::filesystem::path BinaryDir();
/// Waits for a child process to end, at most `limit`; kills it after that and
/// fails the current test. Its exit status, or -1 (killed, or ended by a
/// signal).
int WaitForChild(pid_t child, std::chrono::seconds limit);

/// How RunProgram and StartedProgram start a program. Standard input is always
/// /dev/null; standard output and error are captured in full.
struct RunOptions {
    /// Variables added to (or replaced in) the test's own environment.
    std::vector<std::pair<std::string, std::string>> setEnvironment{};
    /// Variables removed from it (applied after setEnvironment).
    std::vector<std::string> unsetEnvironment{};
    /// RLIMIT_FSIZE for the program, in bytes (it applies to its captured
    /// output too). SIGXFSZ is ignored, so a write past it fails with EFBIG
    /// instead of killing the program. No limit when empty.
    std::optional<uint64_t> fileSizeLimit{};
    /// Longest wait for the program to end, counted from the call that waits
    /// (RunProgram, StartedProgram::Finish); after it the program is killed
    /// and the test fails. Generous: the machines running the suite are
    /// shared and slow.
    std::chrono::seconds timeLimit{60};
};

/// What a run of a program left.
struct RunResult {
    int status = -1;                    ///< exit status; -1 when it did not exit normally (killed, a signal, no fork)
    std::string out;                    ///< everything on standard output
    std::string err;                    ///< everything on standard error
    std::chrono::milliseconds took{0};  ///< from the start until it was collected
};

/// One run of a program in the background: started by the constructor, collected
/// by Finish. The program's failure to start shows as exit status 127.
class StartedProgram {
public:
    StartedProgram(const std::filesystem::path& program, const std::vector<std::string>& args, RunOptions options = {});
    /// Kills the program (SIGKILL) when it was not collected.
    ~StartedProgram();
    StartedProgram(const StartedProgram&) = delete;
    StartedProgram& operator=(const StartedProgram&) = delete;

    /// The running program's process id; -1 when it could not be started.
    pid_t Pid() const { return m_pid; }
    /// Waits for the program to end (at most options.timeLimit, see
    /// WaitForChild) and returns what it left. Call it once.
    RunResult Finish();

private:
    TempDir m_streams;  // the captured standard output and error
    RunOptions m_options;
    std::string m_name;  // shown in the test's failures
    pid_t m_pid = -1;
    std::chrono::steady_clock::time_point m_start;
};

/// Runs program with args (argv[0] is the program's path) and waits for it:
/// its exit status, standard output and error. Time limit: options.timeLimit.
RunResult RunProgram(const std::filesystem::path& program, const std::vector<std::string>& args,
                     RunOptions options = {});

/// The built vprinter serving in the background for as long as the object
/// lives, with standard input on a pipe that stays open (it ends when the pipe
/// closes, so it cannot outlive a test program that dies) and standard error
/// on the test's own. Address() is the first line it printed.
class VprinterProcess {
public:
    /// Starts bin/vprinter with args and waits at most firstLineLimit for its
    /// first line; fails the test when none comes.
    explicit VprinterProcess(const std::vector<std::string>& args,
                             std::chrono::seconds firstLineLimit = std::chrono::seconds(10));
    /// Stops it: SIGTERM, standard input closed, then WaitForChild (10 s).
    ~VprinterProcess();
    VprinterProcess(const VprinterProcess&) = delete;
    VprinterProcess& operator=(const VprinterProcess&) = delete;

    /// Where the printer answers: its pseudo-terminal's device path, or
    /// tcp://HOST:PORT with --tcp. Empty when it printed no line in time.
    const std::string& Address() const { return m_address; }
    /// Sends the signal (SIGHUP: switch the printer off and on; SIGUSR1: end a stall).
    void Signal(int number) const;

private:
    pid_t m_pid = -1;
    int m_stdin = -1;
    std::string m_address;
};

}  // namespace testing_support
