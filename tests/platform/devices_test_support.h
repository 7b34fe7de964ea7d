#pragma once
// Sets the port-map environment for one test and restores it afterwards.
#include "test_support.h"

#include <cstdlib>
#include <optional>
#include <string>

namespace devices_testing {

class ScopedEnvironment {
public:
    ScopedEnvironment() {
        for (const char* name : kNames) {
            const char* value = std::getenv(name);
            m_saved.push_back(value ? std::optional<std::string>(value) : std::nullopt);
        }
    }
    ~ScopedEnvironment() {
        for (size_t i = 0; i < m_saved.size(); ++i) {
            if (m_saved[i]) setenv(kNames[i], m_saved[i]->c_str(), 1);
            else unsetenv(kNames[i]);
        }
    }
    void Set(const char* name, const std::string& value) { setenv(name, value.c_str(), 1); }
    void Unset(const char* name) { unsetenv(name); }

private:
    static constexpr const char* kNames[] = {"QUORLINK_PORT_MAP", "XDG_CONFIG_HOME", "HOME"};
    std::vector<std::optional<std::string>> m_saved;
};

/// Writes a map file into `folder` and points QUORLINK_PORT_MAP at it.
inline void UsePortMap(ScopedEnvironment& environment, const testing_support::TempDir& folder,
                       const std::string& text) {
    auto file = folder / "ports";
    testing_support::WriteFileBytes(file, std::vector<uint8_t>(text.begin(), text.end()));
    environment.Set("QUORLINK_PORT_MAP", file.string());
}

}  // namespace devices_testing
