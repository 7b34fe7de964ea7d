// Fuzz target: arbitrary text as the user's port map file. Every mapping the
// parser keeps must be usable as it stands: a name of letters then digits in
// upper case, an absolute node path, no name twice.
#include "devices/port_map.h"

#include <cctype>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <string_view>

using namespace marquen::devices;

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

bool IsPortName(const std::string& name)
{
    size_t i = 0;
    while (i < name.size() && std::isupper(static_cast<unsigned char>(name[i])))
        ++i;
    if (i == 0 || i == name.size())
        return false;
    for (; i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i])))
            return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::ostringstream diagnostics;
    const auto map = ParsePortMap(text, "ports", diagnostics);
    std::set<std::string> names;
    for (const PortMapping& mapping : map) {
        Check(IsPortName(mapping.name));
        Check(!mapping.node.empty() && mapping.node.front() == '/');
        Check(mapping.node.find('\n') == std::string::npos);
        Check(names.insert(mapping.name).second);
    }
    return 0;
}
