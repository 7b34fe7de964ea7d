#include "devices/spooler_ports.h"

#include "devices/port_map.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char* kMonitorName = "Local Port";

bool IsSpoolerPort(const std::string& name) {
    return name.compare(0, 3, "COM") == 0 || name.compare(0, 3, "LPT") == 0;
}

}  // namespace

BOOL EnumPorts(const char* serverName, DWORD level, BYTE* buffer, DWORD bufferSize, DWORD* needed, DWORD* returned) {
    if (needed == nullptr || returned == nullptr || serverName != nullptr || (level != 1 && level != 2) ||
        (buffer == nullptr && bufferSize != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *returned = 0;
    std::vector<marquen::devices::PortMapping> ports;
    for (auto& mapping : marquen::devices::LoadPortMap()) {
        if (IsSpoolerPort(mapping.name)) ports.push_back(std::move(mapping));
    }
    const size_t entrySize = level == 1 ? sizeof(PORT_INFO_1) : sizeof(PORT_INFO_2);
    // The map file is capped in size, so these sums stay far below 4 GiB.
    size_t total = entrySize * ports.size();
    for (const auto& port : ports) {
        total += port.name.size() + 1;
        if (level == 2) total += std::strlen(kMonitorName) + 1 + port.node.size() + 1;
    }
    if (total > 0xFFFFFFFFu) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    *needed = static_cast<DWORD>(total);
    if (ports.empty()) {
        return TRUE;
    }
    if (bufferSize < total) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    char* strings = reinterpret_cast<char*>(buffer) + entrySize * ports.size();
    auto store = [&strings](const std::string& text) {
        char* at = strings;
        std::memcpy(at, text.c_str(), text.size() + 1);
        strings += text.size() + 1;
        return at;
    };
    for (size_t i = 0; i < ports.size(); ++i) {
        if (level == 1) {
            PORT_INFO_1 entry{store(ports[i].name)};
            std::memcpy(buffer + i * entrySize, &entry, sizeof entry);
        } else {
            bool serial = ports[i].name.compare(0, 3, "COM") == 0;
            PORT_INFO_2 entry{store(ports[i].name), store(kMonitorName), store(ports[i].node),
                              serial ? PORT_TYPE_WRITE | PORT_TYPE_READ : PORT_TYPE_WRITE, 0};
            std::memcpy(buffer + i * entrySize, &entry, sizeof entry);
        }
    }
    *returned = static_cast<DWORD>(ports.size());
    return TRUE;
}
