#include "rollout.h"

#include "printer_session.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <vector>

namespace cli {

namespace {

constexpr int kDefaultJobs = 8;
constexpr int64_t kMostJobs = 256;
// A ports file far beyond any chain of shops is a mistake.
constexpr size_t kMostPrinters = 100000;

struct Job {
    std::string port;
    pid_t child = -1;
    int out = -1;  // memory files holding the child's standard output and error
    int err = -1;
    bool done = false;
    bool ok = false;
    std::string result;  // the text after "PORT: "
};

std::string Trim(std::string text)
{
    const char* space = " \t\r\n";
    size_t first = text.find_first_not_of(space);
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

std::vector<std::string> ReadPortsFile(const std::string& path)
{
    std::ifstream in(path);
    if (!in)
        throw UsageError("cannot read the ports file '" + path + "': " + std::strerror(errno));
    std::vector<std::string> ports;
    std::string line;
    while (std::getline(in, line)) {
        line = Trim(line.substr(0, line.find('#')));
        if (!line.empty())
            ports.push_back(line);
        if (ports.size() > kMostPrinters)
            throw UsageError("the ports file '" + path + "' names more than " + std::to_string(kMostPrinters) +
                             " printers");
    }
    if (in.bad())
        throw UsageError("cannot read the ports file '" + path + "'");
    return ports;
}

std::string ReadAll(int fd)
{
    std::string text;
    ::lseek(fd, 0, SEEK_SET);
    char buffer[4096];
    for (;;) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        text.append(buffer, static_cast<size_t>(got));
    }
    return text;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        line = Trim(line);
        if (!line.empty())
            lines.push_back(line);
    }
    return lines;
}

// Why a printer failed, from what its process wrote: its last message,
// without the program's prefix; progress lines are no reason.
std::string FailureReason(const std::string& err, int wstatus)
{
    std::string reason;
    for (const std::string& line : Lines(err)) {
        if (line.starts_with("progress:"))
            continue;
        reason = line.starts_with("marquen-cli: ") ? line.substr(13) : line;
    }
    if (!reason.empty())
        return reason;
    if (WIFSIGNALED(wstatus))
        return "ended by signal " + std::to_string(WTERMSIG(wstatus));
    return "exit status " + std::to_string(WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1);
}

std::string SuccessText(std::string_view command, const std::string& out)
{
    if (command == "download") {
        static const std::regex checksum("checksum ([0-9A-F]{4}) confirmed");
        std::smatch found;
        if (std::regex_search(out, found, checksum))
            return "ok, checksum " + found[1].str() + " confirmed";
        return {};  // no confirmed checksum: not a success
    }
    std::vector<std::string> lines = Lines(out);
    std::string text = "ok";
    for (size_t i = 0; i < lines.size(); ++i)
        text += (i == 0 ? ", " : "; ") + lines[i];
    return text;
}

int MemoryFile(const char* name)
{
    int fd = ::memfd_create(name, MFD_CLOEXEC);
    if (fd < 0)
        throw std::runtime_error(std::string("cannot make a buffer for a printer's output: ") + std::strerror(errno));
    return fd;
}

// Starts the program itself on one printer; its output goes to the job's
// memory files.
void Launch(Job& job, const std::vector<std::string>& words)
{
    job.out = MemoryFile("out");
    job.err = MemoryFile("err");
    std::vector<char*> argv;
    static char program[] = "marquen-cli";
    argv.push_back(program);
    for (const std::string& word : words)
        argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    pid_t child = ::fork();
    if (child < 0)
        throw std::runtime_error(std::string("cannot start a process for a printer: ") + std::strerror(errno));
    if (child == 0) {
        int null = ::open("/dev/null", O_RDONLY);
        if (null < 0 || ::dup2(null, 0) < 0 || ::dup2(job.out, 1) < 0 || ::dup2(job.err, 2) < 0)
            ::_exit(127);
        ::execv("/proc/self/exe", argv.data());
        static const char failed[] = "marquen-cli: cannot run the program again for this printer\n";
        [[maybe_unused]] ssize_t ignored = ::write(2, failed, sizeof failed - 1);
        ::_exit(127);
    }
    job.child = child;
}

}  // namespace

bool CanRollOut(std::string_view command)
{
    return command == "download" || command == "erase" || command == "memory" || command == "print";
}

bool AsksForRollOut(std::span<const std::string> args)
{
    int ports = 0;
    for (const std::string& word : args) {
        if (word == "--")
            break;
        if (word == "--port" || word.starts_with("--port="))
            ++ports;
        if (word == "--ports-from" || word.starts_with("--ports-from=") || word == "--jobs" ||
            word.starts_with("--jobs="))
            return true;
    }
    return ports > 1;
}

int RunRollOut(const Command& command, std::span<const std::string> args, CommandStreams& streams)
{
    std::vector<std::string> ports;
    std::vector<std::string> common;  // every other word, for each printer's process
    std::optional<std::string> portsFile;
    std::optional<std::string> jobsText;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        auto value = [&](std::string_view name) -> std::optional<std::string> {
            const std::string flag = "--" + std::string(name);
            if (optionsEnded)
                return std::nullopt;
            if (word.starts_with(flag + "="))
                return word.substr(flag.size() + 1);
            if (word != flag)
                return std::nullopt;
            if (i + 1 >= args.size())
                throw UsageError("option " + flag + " needs a value");
            return args[++i];
        };
        if (word == "--")
            optionsEnded = true;
        if (std::optional<std::string> port = value("port")) {
            ports.push_back(*port);
        } else if (std::optional<std::string> file = value("ports-from")) {
            if (portsFile)
                throw UsageError("option --ports-from given more than once");
            portsFile = file;
        } else if (std::optional<std::string> jobs = value("jobs")) {
            if (jobsText)
                throw UsageError("option --jobs given more than once");
            jobsText = jobs;
        } else {
            common.push_back(word);
        }
    }
    int jobs = kDefaultJobs;
    if (jobsText) {
        std::optional<int64_t> number = ParseInteger(*jobsText);
        if (!number || *number < 1 || *number > kMostJobs)
            throw UsageError("--jobs takes a number from 1 to " + std::to_string(kMostJobs) + ", not '" + *jobsText +
                             "'");
        jobs = static_cast<int>(*number);
    }
    if (portsFile) {
        std::vector<std::string> listed = ReadPortsFile(*portsFile);
        ports.insert(ports.end(), listed.begin(), listed.end());
    }
    if (ports.empty())
        throw UsageError("no printer given: --port P (more than once) or --ports-from FILE");
    // Every port and every other option is checked here once, not once per
    // printer: a typo fails at once instead of in every process.
    for (const std::string& port : ports) {
        LineOptions options;
        ParsePortOption(port, options);
    }
    {
        std::vector<std::string> checked = common;
        checked.insert(checked.end(), {"--port", ports.front()});
        ParseArguments(checked, command.syntax);
    }

    std::vector<Job> all(ports.size());
    for (size_t i = 0; i < ports.size(); ++i)
        all[i].port = ports[i];
    std::map<pid_t, size_t> running;
    size_t next = 0;
    size_t finished = 0;
    size_t failed = 0;
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    auto showProgress = [&] {
        if (!terminal)
            return;
        streams.err << "\r" << finished << "/" << all.size() << " done, " << failed << " failed\033[K";
        streams.err.flush();
    };
    showProgress();
    while (finished < all.size()) {
        while (running.size() < static_cast<size_t>(jobs) && next < all.size()) {
            std::vector<std::string> words{std::string(command.name)};
            words.insert(words.end(), common.begin(), common.end());
            // Options before a lone "--" only: the port goes first after the name.
            words.insert(words.begin() + 1, {"--port", all[next].port});
            try {
                Launch(all[next], words);
                running.emplace(all[next].child, next);
            } catch (const std::exception& error) {
                all[next].done = true;
                all[next].result = std::string("failed: ") + error.what();
                ++finished;
                ++failed;
            }
            ++next;
        }
        if (running.empty())
            continue;
        int wstatus = 0;
        pid_t ended = ::waitpid(-1, &wstatus, 0);
        if (ended < 0) {
            if (errno == EINTR)
                continue;
            throw std::runtime_error(std::string("waiting for the printers' processes failed: ") +
                                     std::strerror(errno));
        }
        auto found = running.find(ended);
        if (found == running.end())
            continue;
        Job& job = all[found->second];
        running.erase(found);
        const std::string out = ReadAll(job.out);
        const std::string err = ReadAll(job.err);
        ::close(job.out);
        ::close(job.err);
        job.done = true;
        const std::string success = SuccessText(command.name, out);
        job.ok = WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == kExitOk && !success.empty();
        job.result = job.ok ? success : "failed: " + FailureReason(err, wstatus);
        ++finished;
        if (!job.ok)
            ++failed;
        showProgress();
    }
    if (terminal)
        streams.err << "\r\033[K";
    for (const Job& job : all)
        streams.out << job.port << ": " << job.result << '\n';
    streams.out << all.size() << " printers: " << all.size() - failed << " ok, " << failed << " failed\n";
    streams.out.flush();
    return failed == 0 ? kExitOk : kExitFailure;
}

}  // namespace cli
