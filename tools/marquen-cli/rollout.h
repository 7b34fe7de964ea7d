#pragma once
// One printer subcommand on many printers at once: "download FILE --logo N
// --port P1 --port P2 ..." (or --ports-from FILE). Each printer is served by
// a process of its own (the port library keeps one port per process), at
// most --jobs J at a time; one result line per printer, in the order given,
// then a summary.
#include "command.h"

#include <span>
#include <string>
#include <string_view>

namespace cli {

/// The subcommands that can be rolled out: download, erase, memory, print.
bool CanRollOut(std::string_view command);
/// Whether the words after such a subcommand ask for a roll-out: more than
/// one --port, or --ports-from, or --jobs.
bool AsksForRollOut(std::span<const std::string> args);
/// Runs the roll-out; an ExitStatus: 0 only when every printer succeeded
/// (for download: confirmed the checksum). UsageError for bad roll-out
/// options or a port that is not one.
int RunRollOut(const Command& command, std::span<const std::string> args, CommandStreams& streams);

}  // namespace cli
