#pragma once
// `vprinter --usb [USB OPTIONS] [PRINTER OPTIONS] -- COMMAND [ARGS...]`: runs
// COMMAND in front of the virtual USB printer and exits with its status.
#include "usb_printer.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace vprinter {

struct UsbProgramOptions {
    UsbPrinterOptions printer;
    std::optional<std::chrono::milliseconds> unplugAfter;
    std::optional<std::chrono::milliseconds> replugAfter;
    std::vector<std::string> command;
};

/// Parses the arguments after "--usb". False with a one-line message for a
/// bad option or value, or without a command after "--".
bool ParseUsbProgramOptions(const std::vector<std::string>& arguments, UsbProgramOptions& options,
                            std::string& error);

/// The USB part of the --help text.
std::string UsbProgramUsage();

/// Runs the whole program: argv as main got it, argv[1] == "--usb". Returns
/// the exit status (COMMAND's, 128 + signal when it was killed, 2 for bad
/// options, 1 when the testbed could not be set up).
int RunUsbProgram(int argc, char** argv);

}  // namespace vprinter
