// The virtual USB printer as a program: options, the preload, the testbed,
// the command under it, the cable's timetable and signals.
#include "usb_program.h"

#include "program_options.h"

#include <umockdev.h>

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

namespace vprinter {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kPreload = "libumockdev-preload.so.0";
// How long a command that was asked to stop (SIGTERM) may take before it is
// killed.
constexpr auto kStopGrace = std::chrono::seconds(5);

bool ParseMilliseconds(const std::string& text, std::chrono::milliseconds& value) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    value = std::chrono::milliseconds(std::stol(text));
    return true;
}

bool Preloaded() {
    const char* preload = std::getenv("LD_PRELOAD");
    return preload != nullptr && std::strstr(preload, "libumockdev-preload") != nullptr;
}

// Re-executes this program under the umockdev preload: the testbed process
// must run preloaded itself, or the add events never reach libusb.
int ReexecPreloaded(char** argv) {
    std::string preload = kPreload;
    if (const char* existing = std::getenv("LD_PRELOAD"); existing != nullptr && *existing != '\0') {
        preload += std::string(":") + existing;
    }
    setenv("LD_PRELOAD", preload.c_str(), 1);
    // A sanitizer runtime would refuse to start behind the preload.
    std::string asan = "verify_asan_link_order=0";
    if (const char* existing = std::getenv("ASAN_OPTIONS"); existing != nullptr && *existing != '\0') {
        asan = std::string(existing) + ":" + asan;
    }
    setenv("ASAN_OPTIONS", asan.c_str(), 1);
    execv("/proc/self/exe", argv);
    std::fprintf(stderr, "vprinter: cannot restart under %s: %s\n", kPreload, std::strerror(errno));
    return 1;
}

int ExitStatusOf(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return 1;
}

}  // namespace

std::string UsbProgramUsage() {
    return "Usage: vprinter --usb [USB OPTIONS] [PRINTER OPTIONS] -- COMMAND [ARGS...]\n"
           "Runs COMMAND in front of a virtual USB printer of the maker (vendor F5A7,\n"
           "product A000) and exits with its status.\n"
           "  --usb-descriptors FILE     raw device descriptor (18 bytes) and configuration\n"
           "                             descriptor with all that follows it\n"
           "  --usb-manufacturer TEXT    --usb-product TEXT    --usb-serial TEXT\n"
           "                             the strings; an empty TEXT means no string\n"
           "  --usb-device-id TEXT       the IEEE 1284 device id\n"
           "  --usb-stall-language       the request for string descriptor 0 stalls\n"
           "  --usb-kernel-driver usblp|none   driver holding the interface at start (usblp)\n"
           "  --usb-unplug-after MS      pull the cable MS after start\n"
           "  --usb-replug-after MS      put it back MS after that\n"
           "PRINTER OPTIONS: the memory and reply options of the serial printer\n"
           "(--total-memory, --logo-area, --printer-version, --erase-delay, --drop-next,\n"
           "--drop, --corrupt-checksum, --hangup-define, --hangup-upload) and --verbose.\n"
           "A hang-up fault leaves the printer ignoring every later byte. The line and\n"
           "stream options (--baud, --pace, --tcp, --stall, --stall-after, --garbage,\n"
           "--seed, --ignore-stdin) are refused: they have no meaning here.\n";
}

// The line and stream options of the printer on a pseudo-terminal, which
// mean nothing on the virtual USB bus (its pipes neither pace nor stall).
bool IsSerialLineOption(const std::string& name) {
    for (const char* line : {"--baud", "--pace", "--tcp", "--stall", "--stall-after", "--garbage", "--seed",
                             "--ignore-stdin"}) {
        if (name == line || name.starts_with(std::string(line) + "="))
            return true;
    }
    return false;
}

bool ParseUsbProgramOptions(const std::vector<std::string>& arguments, UsbProgramOptions& options,
                            std::string& error) {
    std::vector<std::string> printerArguments;
    std::optional<std::string> descriptorsFile;
    size_t i = 0;
    for (; i < arguments.size(); ++i) {
        const std::string& name = arguments[i];
        if (name == "--") {
            ++i;
            break;
        }
        auto value = [&](std::string& out) {
            if (i + 1 >= arguments.size()) {
                error = name + " needs a value";
                return false;
            }
            out = arguments[++i];
            return true;
        };
        std::string text;
        if (name == "--usb-descriptors") {
            if (!value(text)) return false;
            descriptorsFile = text;
        } else if (name == "--usb-manufacturer") {
            if (!value(options.printer.strings.manufacturer)) return false;
        } else if (name == "--usb-product") {
            if (!value(options.printer.strings.product)) return false;
        } else if (name == "--usb-serial") {
            if (!value(options.printer.strings.serial)) return false;
        } else if (name == "--usb-device-id") {
            if (!value(options.printer.deviceId)) return false;
        } else if (name == "--usb-stall-language") {
            options.printer.stallLanguage = true;
        } else if (name == "--usb-kernel-driver") {
            if (!value(text)) return false;
            if (text != "usblp" && text != "none") {
                error = "--usb-kernel-driver takes usblp or none, not \"" + text + "\"";
                return false;
            }
            options.printer.heldByUsblp = text == "usblp";
        } else if (name == "--usb-unplug-after" || name == "--usb-replug-after") {
            if (!value(text)) return false;
            std::chrono::milliseconds ms{};
            if (!ParseMilliseconds(text, ms)) {
                error = name + " takes milliseconds, not \"" + text + "\"";
                return false;
            }
            (name == "--usb-unplug-after" ? options.unplugAfter : options.replugAfter) = ms;
        } else if (IsSerialLineOption(name)) {
            // Accepted and dropped, they would let a test believe it paced
            // or stalled a printer that never does either.
            error = name + " is an option of the printer on a pseudo-terminal; the USB printer has no use for it";
            return false;
        } else {
            printerArguments.push_back(name);
        }
    }
    options.command.assign(arguments.begin() + static_cast<long>(std::min(i, arguments.size())), arguments.end());
    if (options.command.empty()) {
        error = "a command to run is needed after --";
        return false;
    }
    if (options.replugAfter && !options.unplugAfter) {
        error = "--usb-replug-after needs --usb-unplug-after";
        return false;
    }
    ProgramOptions printerOptions;
    if (!ParseProgramOptions(printerArguments, printerOptions, error)) {
        return false;
    }
    options.printer.printer = printerOptions.printer.printer;
    options.printer.faults = printerOptions.faults;
    options.printer.verbose = printerOptions.verbose;
    if (descriptorsFile) {
        std::ifstream file(*descriptorsFile, std::ios::binary);
        if (!file) {
            error = "cannot read " + *descriptorsFile + ": " + std::strerror(errno);
            return false;
        }
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        if (bytes.size() > 65535 + 18) {
            error = *descriptorsFile + " is too large for descriptors";
            return false;
        }
        std::string why;
        auto parsed = ParseDescriptors(bytes, why);
        if (!parsed) {
            error = *descriptorsFile + ": " + why;
            return false;
        }
        options.printer.descriptors = *parsed;
    } else {
        options.printer.descriptors = BuiltInDescriptors(options.printer.strings);
    }
    return true;
}

int RunUsbProgram(int argc, char** argv) {
    UsbProgramOptions options;
    std::string error;
    if (argc >= 3 && std::string(argv[2]) == "--help") {
        std::fputs(UsbProgramUsage().c_str(), stdout);
        return 0;
    }
    if (!ParseUsbProgramOptions(std::vector<std::string>(argv + 2, argv + argc), options, error)) {
        std::fprintf(stderr, "vprinter: %s\n\n%s", error.c_str(), UsbProgramUsage().c_str());
        return 2;
    }
    if (!Preloaded()) {
        return ReexecPreloaded(argv);
    }

    // Signals are taken synchronously; blocked before any thread starts so
    // that every thread inherits the mask.
    sigset_t handled;
    sigemptyset(&handled);
    for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGCHLD}) {
        sigaddset(&handled, signal);
    }
    pthread_sigmask(SIG_BLOCK, &handled, nullptr);

    UMockdevTestbed* testbed = umockdev_testbed_new();
    int status = 1;
    auto printerObject = std::make_unique<UsbPrinter>(testbed, options.printer);
    {
        UsbPrinter& printer = *printerObject;
        if (!printer.Plug(error)) {
            std::fprintf(stderr, "vprinter: %s\n", error.c_str());
            printer.Unplug();
        } else {
            pid_t child = fork();
            if (child == 0) {
                // Should the testbed die (even by SIGKILL), the command must
                // not live on in front of a printer that is gone.
                prctl(PR_SET_PDEATHSIG, SIGTERM);
                pthread_sigmask(SIG_UNBLOCK, &handled, nullptr);
                std::vector<char*> childArgv;
                for (auto& word : options.command) childArgv.push_back(word.data());
                childArgv.push_back(nullptr);
                execvp(childArgv[0], childArgv.data());
                std::fprintf(stderr, "vprinter: cannot run %s: %s\n", childArgv[0], std::strerror(errno));
                _exit(127);
            }
            if (child < 0) {
                std::fprintf(stderr, "vprinter: cannot start the command: %s\n", std::strerror(errno));
            } else {
                auto start = Clock::now();
                std::optional<Clock::time_point> unplugAt, replugAt, killAt;
                if (options.unplugAfter) unplugAt = start + *options.unplugAfter;
                if (options.unplugAfter && options.replugAfter) replugAt = *unplugAt + *options.replugAfter;
                for (;;) {
                    int childStatus = 0;
                    pid_t ended = waitpid(child, &childStatus, WNOHANG);
                    if (ended == child) {
                        status = ExitStatusOf(childStatus);
                        break;
                    }
                    auto now = Clock::now();
                    if (unplugAt && now >= *unplugAt) {
                        printer.Unplug();
                        unplugAt.reset();
                    }
                    if (replugAt && !unplugAt && now >= *replugAt) {
                        if (!printer.Plug(error)) {
                            std::fprintf(stderr, "vprinter: %s\n", error.c_str());
                        }
                        replugAt.reset();
                    }
                    if (killAt && now >= *killAt) {
                        kill(child, SIGKILL);
                        killAt.reset();
                    }
                    // Wait for a signal, at most until the next thing to do.
                    auto next = now + std::chrono::milliseconds(200);
                    for (auto& at : {unplugAt, replugAt, killAt}) {
                        if (at && *at < next) next = *at;
                    }
                    auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(next - now);
                    timespec timeout{static_cast<time_t>(wait.count() / 1000000000),
                                     static_cast<long>(wait.count() % 1000000000)};
                    siginfo_t info{};
                    int signal = sigtimedwait(&handled, &info, &timeout);
                    if (signal == SIGTERM || signal == SIGINT || signal == SIGHUP) {
                        // The command ends first; the testbed it depends on afterwards.
                        kill(child, signal);
                        if (!killAt) killAt = Clock::now() + kStopGrace;
                    }
                }
            }
        }
    }
    // The command has ended; the testbed goes before the printer whose
    // handlers it calls (see ~UsbPrinter), and takes its folder with it.
    printerObject->Unplug();
    g_object_unref(testbed);
    printerObject.reset();
    return status;
}

}  // namespace vprinter

// ThreadSanitizer cannot see the locks inside glib and umockdev (they are
// not instrumented and lock with futexes of their own), so it reports their
// hand-overs between the testbed's worker thread and this program as races.
// Our own state is guarded by UsbPrinter's mutex, which it does see.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libumockdev.so\nrace:libglib-2.0.so\nrace:libgobject-2.0.so\nrace:libgio-2.0.so\n";
}
