#pragma once
// The vprinter program's command line.
#include "virtual_printer.h"

#include <optional>
#include <string>
#include <vector>

namespace vprinter {

struct ProgramOptions {
    VirtualPrinterOptions printer;
    ModelFaults faults;
    bool stall = false;  ///< --stall given
    std::optional<std::chrono::milliseconds> stallDuration;  ///< none: until SIGUSR1
    uint64_t stallAfterBytes = 0;
    size_t garbageCount = 0;
    std::chrono::milliseconds garbageInterval{0};  ///< 0: once, at start
    bool ignoreStdin = false;
    /// --tcp [ADDRESS:]PORT: serve on this TCP endpoint instead of the
    /// pseudo-terminal's path.
    std::optional<std::string> tcpAddress;
    uint16_t tcpPort = 0;
    bool verbose = false;
    bool help = false;
};

/// Parses argv[1..]. False with a one-line message for a bad option or value.
bool ParseProgramOptions(const std::vector<std::string>& arguments, ProgramOptions& options, std::string& error);

/// The --help text.
std::string ProgramUsage();

}  // namespace vprinter
