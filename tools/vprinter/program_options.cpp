#include "program_options.h"

#include <charconv>
#include <limits>

namespace vprinter {

namespace {

template <typename T>
bool ParseNumber(const std::string& text, T& value, T maximum = std::numeric_limits<T>::max())
{
    uint64_t parsed = 0;
    const char* end = text.data() + text.size();
    auto [next, error] = std::from_chars(text.data(), end, parsed);
    if (text.empty() || error != std::errc() || next != end || parsed > uint64_t{maximum})
        return false;
    value = static_cast<T>(parsed);
    return true;
}

}  // namespace

std::string ProgramUsage()
{
    return "Usage: vprinter [OPTION]...\n"
           "A virtual receipt printer with 256 logo slots on a pseudo-terminal.\n"
           "(vprinter --usb --help: the same printer on a virtual USB bus.)\n"
           "Prints the terminal's device path as the first line of standard output,\n"
           "then serves until SIGTERM or SIGINT, or until standard input closes.\n"
           "\n"
           "Printer:\n"
           "  --total-memory KB     total memory in kbytes, a multiple of 64 up to 16320\n"
           "                        (default 2048)\n"
           "  --logo-area KB        logo area in kbytes, a multiple of 64, at most the\n"
           "                        total (default 256)\n"
           "  --printer-version N   printer version; 0 leaves Read total memory and Read\n"
           "                        logo area unanswered (default 1)\n"
           "  --erase-delay MS      delay before Erase logos answers 0D (default 500)\n"
           "Line:\n"
           "  --baud N              pace both directions at N baud (10 bits a byte)\n"
           "  --pace                pace at the speed the client set on the terminal\n"
           "Faults:\n"
           "  --drop-next N         send none of the next N replies\n"
           "  --drop CMD            send no reply to CMD, ever (may be repeated); CMD is\n"
           "                        status, upload, erase, total-memory, logo-area,\n"
           "                        free-memory or set-area\n"
           "  --corrupt-checksum    Logo status reports a wrong checksum\n"
           "  --stall MS|forever    stop reading the line for MS milliseconds; forever\n"
           "                        lasts until SIGUSR1\n"
           "  --stall-after N       begin that stall once N bytes have been received\n"
           "                        (default 0: at once)\n"
           "  --hangup-define N     close the line once N bytes of a Define logo command\n"
           "                        (its 4-byte header included) have been received\n"
           "  --hangup-upload N     close the line after the first N bytes of an Upload\n"
           "                        answer\n"
           "  --garbage N[/MS]      send N random bytes unasked, once at start or every\n"
           "                        MS milliseconds\n"
           "  --seed N              seed of the random bytes (default 1)\n"
           "Other:\n"
           "  --ignore-stdin        keep serving when standard input closes\n"
           "  --verbose             log each command on standard error\n"
           "  --help                show this text and exit\n"
           "\n"
           "SIGUSR1 ends a stall. SIGHUP switches the printer off and on: a command cut\n"
           "off (a Define logo still awaiting its data takes every byte as logo data\n"
           "until then) and unsent replies are dropped; stored logos stay.\n"
           "Exit status: 0 after a clean stop or a hang-up fault,\n"
           "1 when the terminal cannot be made, 2 for bad options.\n";
}

bool ParseProgramOptions(const std::vector<std::string>& arguments, ProgramOptions& options, std::string& error)
{
    PrinterConfig& config = options.printer.printer;
    for (size_t i = 0; i < arguments.size(); ++i) {
        std::string name = arguments[i];
        std::optional<std::string> inlineValue;
        if (size_t equals = name.find('='); name.starts_with("--") && equals != std::string::npos) {
            inlineValue = name.substr(equals + 1);
            name.resize(equals);
        }
        auto flag = [&](const char* option) {
            if (name != option)
                return false;
            if (inlineValue)
                error = std::string("option ") + option + " takes no value";
            return true;
        };
        auto value = [&](std::string& out) {
            if (inlineValue) {
                out = *inlineValue;
                return true;
            }
            if (i + 1 >= arguments.size()) {
                error = "option " + name + " needs a value";
                return false;
            }
            out = arguments[++i];
            return true;
        };
        auto number = [&]<typename T>(T& out, T maximum) {
            std::string text;
            if (!value(text))
                return false;
            if (!ParseNumber(text, out, maximum)) {
                error = "bad value for " + name + ": '" + text + "'";
                return false;
            }
            return true;
        };

        std::string text;
        if (flag("--help")) {
            options.help = true;
        } else if (flag("--pace")) {
            options.printer.paceFromLine = true;
        } else if (flag("--corrupt-checksum")) {
            options.faults.corruptChecksum = true;
        } else if (flag("--ignore-stdin")) {
            options.ignoreStdin = true;
        } else if (flag("--verbose")) {
            options.verbose = true;
        } else if (name == "--total-memory") {
            if (!number(config.totalMemoryKbytes, kMaxMemoryKbytes))
                return false;
        } else if (name == "--logo-area") {
            if (!number(config.logoAreaKbytes, kMaxMemoryKbytes))
                return false;
        } else if (name == "--printer-version") {
            if (!number(config.version, std::numeric_limits<uint32_t>::max()))
                return false;
        } else if (name == "--erase-delay") {
            uint32_t ms = 0;
            if (!number(ms, uint32_t{86'400'000}))
                return false;
            config.eraseDelay = std::chrono::milliseconds(ms);
        } else if (name == "--baud") {
            if (!number(options.printer.baud, uint32_t{4'000'000}))
                return false;
        } else if (name == "--drop-next") {
            if (!number(options.faults.dropNextReplies, std::numeric_limits<uint32_t>::max()))
                return false;
        } else if (name == "--drop") {
            if (!value(text))
                return false;
            std::optional<Command> command = ParseCommandName(text);
            if (!command) {
                error = "unknown command for --drop: '" + text + "'";
                return false;
            }
            options.faults.dropRepliesOf[static_cast<size_t>(*command)] = true;
        } else if (name == "--stall") {
            if (!value(text))
                return false;
            options.stall = true;
            if (text == "forever") {
                options.stallDuration.reset();
            } else {
                uint32_t ms = 0;
                if (!ParseNumber(text, ms)) {
                    error = "bad value for --stall: '" + text + "'";
                    return false;
                }
                options.stallDuration = std::chrono::milliseconds(ms);
            }
        } else if (name == "--stall-after") {
            if (!number(options.stallAfterBytes, std::numeric_limits<uint64_t>::max()))
                return false;
        } else if (name == "--hangup-define" || name == "--hangup-upload") {
            uint32_t bytes = 0;
            if (!number(bytes, std::numeric_limits<uint32_t>::max()))
                return false;
            (name == "--hangup-define" ? options.faults.hangUpAfterDefineBytes
                                       : options.faults.hangUpAfterUploadBytes) = bytes;
        } else if (name == "--garbage") {
            if (!value(text))
                return false;
            size_t slash = text.find('/');
            uint32_t interval = 0;
            if (!ParseNumber(text.substr(0, slash), options.garbageCount, size_t{1} << 20) ||
                (slash != std::string::npos && (!ParseNumber(text.substr(slash + 1), interval) || interval == 0))) {
                error = "bad value for --garbage: '" + text + "' (N or N/MS)";
                return false;
            }
            options.garbageInterval = std::chrono::milliseconds(interval);
        } else if (name == "--seed") {
            if (!number(options.printer.seed, std::numeric_limits<uint32_t>::max()))
                return false;
        } else {
            error = "unknown option '" + arguments[i] + "'";
            return false;
        }
        if (!error.empty())
            return false;
    }
    if (options.stallAfterBytes != 0 && !options.stall) {
        error = "--stall-after needs --stall";
        return false;
    }
    std::string invalid = ValidateConfig(config);
    if (!invalid.empty()) {
        error = invalid;
        return false;
    }
    return true;
}

}  // namespace vprinter
