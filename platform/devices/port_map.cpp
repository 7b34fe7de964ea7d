#include "devices/port_map.h"

#include "diagnostics/diagnostics.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <ostream>
#include <set>
#include <sstream>
#include <system_error>

namespace marquen::devices {
namespace {

struct NodeKind {
    std::filesystem::path folder;
    std::string prefix;
};

std::string Upper(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::toupper(c); });
    return out;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    return text;
}

// Letters, then at least one digit, nothing else.
bool IsPortName(std::string_view name) {
    size_t letters = 0;
    while (letters < name.size() && std::isalpha(static_cast<unsigned char>(name[letters]))) ++letters;
    if (letters == 0 || letters == name.size() || name.size() > 32) return false;
    return std::all_of(name.begin() + letters, name.end(), [](unsigned char c) { return std::isdigit(c); });
}

// Numbers of the nodes <folder>/<prefix><digits>, in numeric order.
std::vector<unsigned long> NodeNumbers(const NodeKind& kind) {
    std::vector<unsigned long> numbers;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(kind.folder, error)) {
        std::string name = entry.path().filename().string();
        if (name.size() <= kind.prefix.size() || name.compare(0, kind.prefix.size(), kind.prefix) != 0) continue;
        std::string_view digits = std::string_view(name).substr(kind.prefix.size());
        if (digits.size() > 6 || !std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c); })) {
            continue;
        }
        numbers.push_back(std::stoul(std::string(digits)));
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

// Whether /dev/ttySn has a UART: the placeholder ports of the 8250 driver
// have a device link but report type 0 (PORT_UNKNOWN).
bool HasUart(const DeviceTree& tree, unsigned long number) {
    std::filesystem::path entry = tree.sysClassTty / ("ttyS" + std::to_string(number));
    std::error_code error;
    if (!std::filesystem::exists(entry / "device", error)) return false;
    std::ifstream typeFile(entry / "type");
    int type = -1;
    if (typeFile >> type) return type != 0;
    return true;  // no type attribute: a driver that does not report it, trust the device link
}

}  // namespace

std::vector<PortMapping> DefaultPortMap(const DeviceTree& tree) {
    std::vector<PortMapping> map;
    const NodeKind serialKinds[] = {
        {tree.dev, "ttyS"}, {tree.dev, "ttyUSB"}, {tree.dev, "ttyACM"}, {tree.dev, "rfcomm"}};
    unsigned serial = 0;
    for (const NodeKind& kind : serialKinds) {
        for (unsigned long number : NodeNumbers(kind)) {
            if (kind.prefix == "ttyS" && !HasUart(tree, number)) continue;
            map.push_back({"COM" + std::to_string(++serial), (kind.folder / (kind.prefix + std::to_string(number))).string()});
        }
    }
    const NodeKind parallelKinds[] = {{tree.dev / "usb", "lp"}, {tree.dev, "lp"}};
    unsigned parallel = 0;
    for (const NodeKind& kind : parallelKinds) {
        for (unsigned long number : NodeNumbers(kind)) {
            map.push_back({"LPT" + std::to_string(++parallel), (kind.folder / (kind.prefix + std::to_string(number))).string()});
        }
    }
    return map;
}

std::vector<PortMapping> ParsePortMap(std::string_view text, const std::string& origin, std::ostream& diagnostics) {
    std::vector<PortMapping> map;
    std::set<std::string> seen;
    size_t lineNumber = 0;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = Trim(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++lineNumber;
        if (line.empty() || line.front() == '#') continue;
        auto complain = [&](const char* reason) {
            diagnostics << origin << ":" << lineNumber << ": " << reason << "; line ignored\n";
        };
        size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            complain("expected NAME=/dev/node");
            continue;
        }
        std::string name = Upper(Trim(line.substr(0, equals)));
        std::string_view node = Trim(line.substr(equals + 1));
        if (!IsPortName(name)) {
            complain("the name must be letters followed by a number, such as COM7");
            continue;
        }
        if (node.empty() || node.front() != '/') {
            complain("the device node must be an absolute path");
            continue;
        }
        if (!seen.insert(name).second) {
            complain("this name is already mapped above");
            continue;
        }
        map.push_back({name, std::string(node)});
    }
    return map;
}

std::filesystem::path PortMapFilePath() {
    if (const char* file = std::getenv("QUORLINK_PORT_MAP"); file != nullptr && file[0] != '\0') {
        return file;
    }
    std::filesystem::path config;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
        config = xdg;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
        config = std::filesystem::path(home) / ".config";
    } else {
        return {};
    }
    return config / "quorlink" / "ports";
}

std::vector<PortMapping> LoadPortMap(const DeviceTree& tree, std::ostream& diagnostics) {
    std::filesystem::path file = PortMapFilePath();
    std::error_code error;
    if (file.empty() || !std::filesystem::exists(file, error)) {
        return DefaultPortMap(tree);
    }
    // The user's file governs from here: a file that cannot be used maps
    // nothing, rather than quietly falling back to the machine's real ports.
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        diagnostics << file.string() << ": cannot be read; no port is mapped\n";
        return {};
    }
    std::string text(kMaxPortMapFileSize + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(in.gcount()));
    if (text.size() > kMaxPortMapFileSize) {
        diagnostics << file.string() << ": larger than " << kMaxPortMapFileSize << " bytes; no port is mapped\n";
        return {};
    }
    return ParsePortMap(text, file.string(), diagnostics);
}

std::vector<PortMapping> LoadPortMap() {
    std::ostringstream messages;
    std::vector<PortMapping> map = LoadPortMap(DeviceTree{}, messages);
    const std::string text = messages.str();
    {
        // The map is read afresh for every name looked up (opening one port
        // reads it twice): its complaints are reported once, and again only
        // when they change.
        static std::mutex lock;
        static std::string* reported = new std::string;  // never destroyed: the map may be read during exit
        std::lock_guard guard(lock);
        if (text == *reported) return map;
        *reported = text;
    }
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) {
            diagnostics::Report(diagnostics::Level::kWarning, std::string_view(text).substr(start, end - start));
        }
        start = end + 1;
    }
    return map;
}

std::optional<std::string> ResolvePortName(std::string_view name) {
    name = Trim(name);
    if (!name.empty() && name.back() == ':') name.remove_suffix(1);
    std::string wanted = Upper(name);
    for (const PortMapping& mapping : LoadPortMap()) {
        if (mapping.name == wanted) return mapping.node;
    }
    return std::nullopt;
}

}  // namespace marquen::devices
