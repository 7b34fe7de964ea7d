// marquen-cli: the dispatcher. Looks the first word up in the subcommand
// table, parses the rest by that subcommand's syntax, and maps every outcome
// to the exit statuses of command.h.
#include "command.h"
#include "window/message_box.h"

#include "diagnostics/diagnostics.h"

#include <algorithm>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

namespace {

using cli::Command;

using CommandGroup = std::span<const Command> (*)();
constexpr CommandGroup kGroups[] = {
    cli::PictureCommands,
    cli::PrinterCommands,
    cli::UsbCommands,
};

const Command* FindCommand(std::string_view name)
{
    for (CommandGroup group : kGroups) {
        for (const Command& command : group()) {
            if (command.name == name)
                return &command;
        }
    }
    return nullptr;
}

void PrintCommandUsage(std::ostream& stream, const Command& command)
{
    stream << "  marquen-cli " << command.name;
    if (!command.synopsis.empty())
        stream << ' ' << command.synopsis;
    stream << "\n      " << command.summary << '\n';
}

void PrintUsage(std::ostream& stream)
{
    stream << "Usage: marquen-cli [--verbose] COMMAND [ARGUMENTS]\n"
              "       marquen-cli COMMAND --help\n"
              "       marquen-cli --help | --version\n"
              "\n"
              "--verbose (anywhere before a lone \"--\") also shows what the libraries\n"
              "report on the way: ignored port map lines, the system's reason when a port\n"
              "fails, modules that do not load.\n"
              "\n"
              "Commands:\n";
    for (CommandGroup group : kGroups) {
        for (const Command& command : group())
            PrintCommandUsage(stream, command);
    }
    stream << "\n"
              "Picture types: BITMAP, \"EPSON GFX\", LOGO, \"RASTER GFX\", \"RASTER GFX EXT\",\n"
              "or the same with underscores (EPSON_GFX), in any case.\n"
              "\n"
              "Line options of the printer commands (defaults: the program's settings):\n"
              "  --port COMn|LPTn|USB  the port; COMn names a node of the port map\n"
              "                        ($QUORLINK_PORT_MAP, or $XDG_CONFIG_HOME/quorlink/ports);\n"
              "                        USB finds the maker's USB printer\n"
              "  --yes                 with USB: take the printer over from the kernel's printer\n"
              "                        driver (and give it back at the end); without it nothing\n"
              "                        is switched and nothing is sent\n"
              "  --baud N              4800, 9600, 19200, 38400, 57600 or 115200\n"
              "  --parity P            none, odd or even\n"
              "  --stop S              1, 1.5 or 2 stop bits\n"
              "  --flow F              none, dtr-dsr, dsr, cts or xon-xoff\n"
              "  --printer-version N   0 for printers without memory queries and upload\n"
              "  --read-timeout MS     how long a request waits for the printer's reply\n"
              "  --write-timeout MS    how long a write may take\n"
              "\n"
              "Exit status: 0 done (a size adjustment is reported on standard error),\n"
              "1 failure (the message is on standard error), 2 bad arguments.\n";
}

int UsageFailure(const std::string& reason, const Command* command)
{
    std::cerr << "marquen-cli: " << reason << "\n\n";
    if (command != nullptr) {
        std::cerr << "Usage:\n";
        PrintCommandUsage(std::cerr, *command);
        std::cerr << "Run 'marquen-cli --help' for every command.\n";
    } else {
        PrintUsage(std::cerr);
    }
    return cli::kExitUsage;
}

bool AsksForHelp(const std::vector<std::string>& words)
{
    for (const std::string& word : words) {
        if (word == "--")
            return false;
        if (word == "--help" || word == "-h")
            return true;
    }
    return false;
}

// Takes every --verbose before a lone "--" out of words; true when there was one.
bool TakeVerbose(std::vector<std::string>& words)
{
    auto end = std::find(words.begin(), words.end(), "--");
    auto kept = std::remove(words.begin(), end, "--verbose");
    bool found = kept != end;
    words.erase(kept, end);
    return found;
}

// The libraries' diagnostics, one line each on standard error. Called on the
// thread that reports (the communication server's threads too), one at a time.
void PrintDiagnostic(marquen::diagnostics::Level level, std::string_view message)
{
    std::string line = "marquen-cli: ";
    line += marquen::diagnostics::LevelName(level);
    line += ": ";
    line += message;
    line += '\n';
    std::cerr << line << std::flush;
}

int Run(std::vector<std::string> words)
{
    if (TakeVerbose(words))
        marquen::diagnostics::SetHandler(PrintDiagnostic);
    if (words.empty())
        return UsageFailure("no command given", nullptr);
    const std::string& first = words.front();
    if (first == "--help" || first == "-h" || first == "help") {
        PrintUsage(std::cout);
        return cli::kExitOk;
    }
    if (first == "--version") {
        std::cout << "marquen-cli " << MARQUEN_VERSION << '\n';
        return cli::kExitOk;
    }
    const Command* command = FindCommand(first);
    if (command == nullptr)
        return UsageFailure("unknown command '" + first + "'", nullptr);

    std::vector<std::string> rest(words.begin() + 1, words.end());
    if (AsksForHelp(rest)) {
        std::cout << "Usage:\n";
        PrintCommandUsage(std::cout, *command);
        return cli::kExitOk;
    }
    // The communication server's own messages (a failed driver switch)
    // come out on standard error.
    marquen::window::SetMessageBoxPresenter([](const std::string& text, const std::string&, UINT) {
        std::cerr << text << '\n' << std::flush;
        return marquen::window::IDOK;
    });
    cli::CommandStreams streams{std::cout, std::cerr};
    try {
        cli::ParsedArguments parsed = cli::ParseArguments(rest, command->syntax);
        return command->run(parsed, streams);
    } catch (const cli::UsageError& error) {
        return UsageFailure(error.what(), command);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> words(argv + (argc > 0 ? 1 : 0), argv + argc);
    try {
        int status = Run(std::move(words));
        std::cout.flush();
        // Threads of the communication server may still be winding down.
        marquen::diagnostics::SetHandler({});
        return status;
    } catch (const std::bad_alloc&) {
        std::cerr << "Error - Memory Allocation\n";
    } catch (const std::exception& error) {
        std::cerr << "marquen-cli: " << error.what() << '\n';
    }
    return cli::kExitFailure;
}
