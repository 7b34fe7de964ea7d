#pragma once
// The subcommand table of marquen-cli. Each group of subcommands lives in its
// own file and hands main.cpp a span of Command entries; adding a group is one
// more source file and one more line in kGroups (main.cpp).
#include "arguments.h"

#include <ostream>
#include <span>
#include <string_view>

namespace cli {

/// Exit statuses every subcommand keeps to.
enum ExitStatus : int {
    kExitOk = 0,       ///< done (a size adjustment is still done)
    kExitFailure = 1,  ///< the operation failed; its message is on standard error
    kExitUsage = 2,    ///< bad arguments; the usage text is on standard error
};

struct CommandStreams {
    std::ostream& out;
    std::ostream& err;
};

struct Command {
    std::string_view name;      ///< the word after "marquen-cli"
    std::string_view synopsis;  ///< operands and options, after the name
    std::string_view summary;   ///< what it does, for the usage text
    CommandSyntax syntax;
    /// Runs with the parsed words; returns an ExitStatus. May throw UsageError
    /// for a value the parser could not judge (a number, a type name).
    int (*run)(const ParsedArguments& args, CommandStreams& streams);
};

/// info, convert.
std::span<const Command> PictureCommands();
/// ports, download, upload, erase, print, memory, set-logo-area.
std::span<const Command> PrinterCommands();
/// usb-search, usb-driver, usb-report.
std::span<const Command> UsbCommands();

}  // namespace cli
