#pragma once
// The port map: every serial port is reached by a name COMn and every
// parallel port by LPTn; the map turns those names into device nodes.
//
// Default map, when the user has no map file: serial nodes by kind in the
// order /dev/ttyS*, /dev/ttyUSB*, /dev/ttyACM*, /dev/rfcomm*, each kind in
// numeric order, become COM1, COM2, ...; parallel nodes /dev/usb/lp*, then
// /dev/lp*, likewise become LPT1, LPT2, .... A /dev/ttySn without a UART
// behind it (no /sys/class/tty/ttySn/device, or a driver that reports type
// 0, "unknown") is left out: most machines have 4 or 32 such placeholders.
//
// Map file: the path in QUORLINK_PORT_MAP, otherwise
// $XDG_CONFIG_HOME/quorlink/ports (XDG_CONFIG_HOME defaults to ~/.config).
// When it exists it replaces the default map entirely. One `NAME=/dev/node`
// per line; blank lines and lines starting with '#' are ignored; names are
// letters followed by digits, case-insensitive (kept upper case); a bad or
// repeated line is ignored with a warning in the diagnostics
// (diagnostics/diagnostics.h).
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace marquen::devices {

struct PortMapping {
    std::string name;  // upper case, e.g. "COM7"
    std::string node;  // absolute path, e.g. "/dev/pts/5"
};

/// Where the default scan looks; tests point it at a scratch tree.
struct DeviceTree {
    std::filesystem::path dev = "/dev";
    std::filesystem::path sysClassTty = "/sys/class/tty";
};

/// Largest map file read; a larger one is refused as a whole.
constexpr size_t kMaxPortMapFileSize = 64 * 1024;

/// The default map from the machine's device nodes.
std::vector<PortMapping> DefaultPortMap(const DeviceTree& tree = {});
/// Parses map file text. Bad lines are reported on `diagnostics` as
/// "<origin>:<line>: <reason>; line ignored".
std::vector<PortMapping> ParsePortMap(std::string_view text, const std::string& origin, std::ostream& diagnostics);
/// The map file's path (it need not exist).
std::filesystem::path PortMapFilePath();
/// The map in force, read afresh on every call (so an edited file or a
/// newly plugged adapter counts at once). Its complaints are reported as
/// warnings to the diagnostics, one per line.
std::vector<PortMapping> LoadPortMap();
/// Same, with the default scan of `tree` and diagnostics on `diagnostics`.
std::vector<PortMapping> LoadPortMap(const DeviceTree& tree, std::ostream& diagnostics);
/// The node for `name` ("com3", "COM3" and "COM3:" are the same), or none.
std::optional<std::string> ResolvePortName(std::string_view name);

}  // namespace marquen::devices
