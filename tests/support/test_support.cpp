#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <thread>

extern char** environ;

namespace testing_support {

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "marquen-test-XXXXXX").string();
    char* made = mkdtemp(pattern.data());
    if (made == nullptr) {
        ADD_FAILURE() << "cannot create a temporary folder";
        return;
    }
    m_path = made;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    if (!m_path.empty())
        std::filesystem::remove_all(m_path, ignored);
}

std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string ReadFileText(const std::filesystem::path& file)
{
    std::vector<uint8_t> bytes = ReadFileBytes(file);
    return std::string(bytes.begin(), bytes.end());
}

void WriteFileBytes(const std::filesystem::path& file, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        ADD_FAILURE() << "cannot write " << file;
}

std::filesystem::path TestDataPath(const std::string& relative)
{
    return std::filesystem::path(MARQUEN_TEST_DATA_DIR) / relative;
}

std::vector<std::filesystem::path> TestDataFiles(const std::string& relative)
{
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(TestDataPath(relative), error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        if (it->is_regular_file())
            files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::filesystem::path BinaryDir()
{
    if (const char* dir = std::getenv("MARQUEN_BIN_DIR"))
        return dir;
    return std::filesystem::current_path() / "bin";
}

int WaitForChild(pid_t child, std::chrono::seconds limit)
{
    int wstatus = 0;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        pid_t done = ::waitpid(child, &wstatus, WNOHANG);
        if (done == child)
            return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
        if (done < 0 && errno != EINTR)
            return -1;
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &wstatus, 0);
            ADD_FAILURE() << "child did not end in time";
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

namespace {

// The words of an argv or envp, and the pointer array execve takes. Built
// before fork: between fork and exec the child may only make async-signal-safe
// calls, and the test program may have threads (one could hold the heap's lock).
class CStrings {
public:
    explicit CStrings(std::vector<std::string> words) : m_words(std::move(words))
    {
        for (std::string& word : m_words)
            m_pointers.push_back(word.data());
        m_pointers.push_back(nullptr);
    }
    char* const* data() { return m_pointers.data(); }

private:
    std::vector<std::string> m_words;
    std::vector<char*> m_pointers;
};

// The test's environment with options.setEnvironment put in and
// options.unsetEnvironment taken out.
std::vector<std::string> ChildEnvironment(const RunOptions& options)
{
    auto names = [](const std::string& entry, const std::string& name) {
        return entry.size() > name.size() && entry.compare(0, name.size(), name) == 0 && entry[name.size()] == '=';
    };
    auto removed = [&](const std::string& entry) {
        return std::any_of(options.setEnvironment.begin(), options.setEnvironment.end(),
                           [&](const auto& set) { return names(entry, set.first); }) ||
               std::any_of(options.unsetEnvironment.begin(), options.unsetEnvironment.end(),
                           [&](const std::string& name) { return names(entry, name); });
    };
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (!removed(*entry))
            environment.emplace_back(*entry);
    }
    for (const auto& [name, value] : options.setEnvironment) {
        if (std::find(options.unsetEnvironment.begin(), options.unsetEnvironment.end(), name) ==
            options.unsetEnvironment.end())
            environment.push_back(name + "=" + value);
    }
    return environment;
}

}  // namespace

StartedProgram::StartedProgram(const std::filesystem::path& program, const std::vector<std::string>& args,
                               RunOptions options)
    : m_options(std::move(options)), m_name(program.filename().string())
{
    for (const std::string& arg : args)
        m_name += " " + arg;
    const std::string outPath = (m_streams / "stdout").string();
    const std::string errPath = (m_streams / "stderr").string();
    std::vector<std::string> words{program.string()};
    words.insert(words.end(), args.begin(), args.end());
    CStrings argv(std::move(words));
    CStrings envp(ChildEnvironment(m_options));
    const bool limitFileSize = m_options.fileSizeLimit.has_value();
    const rlim_t fileSizeLimit = static_cast<rlim_t>(m_options.fileSizeLimit.value_or(0));

    m_start = std::chrono::steady_clock::now();
    m_pid = ::fork();
    if (m_pid == 0) {
        int in = ::open("/dev/null", O_RDONLY);
        int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0)
            ::_exit(127);
        if (limitFileSize) {
            // A write past the limit then fails with EFBIG instead of killing.
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit = {fileSizeLimit, fileSizeLimit};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        ::execve(argv.data()[0], argv.data(), envp.data());
        ::_exit(127);
    }
    if (m_pid < 0)
        ADD_FAILURE() << "cannot start " << m_name << ": fork failed";
}

StartedProgram::~StartedProgram()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
}

RunResult StartedProgram::Finish()
{
    RunResult result;
    if (m_pid <= 0) {
        ADD_FAILURE() << m_name << " was not running";
        return result;
    }
    SCOPED_TRACE("running " + m_name);
    result.status = WaitForChild(m_pid, m_options.timeLimit);
    m_pid = -1;
    result.took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - m_start);
    result.out = ReadFileText(m_streams / "stdout");
    result.err = ReadFileText(m_streams / "stderr");
    return result;
}

RunResult RunProgram(const std::filesystem::path& program, const std::vector<std::string>& args, RunOptions options)
{
    return StartedProgram(program, args, std::move(options)).Finish();
}

VprinterProcess::VprinterProcess(const std::vector<std::string>& args, std::chrono::seconds firstLineLimit)
{
    int in[2] = {-1, -1};
    int out[2] = {-1, -1};
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "cannot start vprinter: pipe failed";
        for (int fd : in) {
            if (fd >= 0)
                ::close(fd);
        }
        return;
    }
    std::vector<std::string> words{(BinaryDir() / "vprinter").string()};
    words.insert(words.end(), args.begin(), args.end());
    CStrings argv(std::move(words));
    m_pid = ::fork();
    if (m_pid == 0) {
        // dup2 clears close-on-exec on the copies only.
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        ::execv(argv.data()[0], argv.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    m_stdin = in[1];
    if (m_pid < 0)
        ADD_FAILURE() << "cannot start vprinter: fork failed";

    // The first line: the device path, or the address it listens on. A program
    // that ends early (bad arguments) closes the pipe: no line.
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + firstLineLimit;
    while (m_pid > 0 && line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd fd{out[0], POLLIN, 0};
        if (::poll(&fd, 1, 100) <= 0)
            continue;
        char buffer[256];
        ssize_t n = ::read(out[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        line.append(buffer, static_cast<size_t>(n));
    }
    ::close(out[0]);
    if (size_t end = line.find('\n'); end != std::string::npos)
        m_address = line.substr(0, end);
    EXPECT_FALSE(m_address.empty()) << "vprinter printed no device path or address within " << firstLineLimit.count()
                                    << " s";
}

VprinterProcess::~VprinterProcess()
{
    if (m_pid > 0)
        ::kill(m_pid, SIGTERM);
    if (m_stdin >= 0)
        ::close(m_stdin);
    if (m_pid > 0)
        WaitForChild(m_pid, std::chrono::seconds(10));
}

void VprinterProcess::Signal(int number) const
{
    if (m_pid > 0)
        ::kill(m_pid, number);
}

}  // namespace testing_support
