// The shipped libfundaport.so exports exactly the Comm_ call contract: every
// Comm_ function its callers link by name, and nothing else (no inner
// function, no test seam).
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdio>
#include <set>
#include <string>

namespace {

const std::set<std::string> kContract = {
    "Comm_OpenSetup",        "Comm_IsConnectionValid", "Comm_UpdateConnection", "Comm_IsPortAvailable",
    "Comm_SetConnect",       "Comm_IsOpened",          "Comm_IsConnected",      "Comm_BreakDownCommPort",
    "Comm_CloseCleanuo",     "Comm_GethCommPortTX",    "Comm_GethCommPortRX",   "Comm_GetOverlappedTX",
    "Comm_GetOverlappedRX",  "Comm_WritePort",         "Comm_ReadPort",         "Comm_IsDevicePresent",
    "Comm_IsBidirectional",  "Comm_SetNetworkAddress",
};

// The names of the defined symbols in the library's dynamic symbol table.
std::set<std::string> DefinedDynamicSymbols(const std::string& library) {
    std::string command = std::string(FUNDAPORT_NM) + " -D --defined-only --format=posix '" + library + "'";
    std::set<std::string> names;
    FILE* output = ::popen(command.c_str(), "r");
    if (output == nullptr)
        return names;
    char line[1024];
    while (std::fgets(line, sizeof line, output) != nullptr) {
        std::string text(line);
        std::string name = text.substr(0, text.find(' '));
        // A version-script library defines no version nodes of its own, but
        // allow for the linker's: they are no functions.
        if (!name.empty() && text.find(" A ") == std::string::npos)
            names.insert(name);
    }
    EXPECT_EQ(::pclose(output), 0) << command;
    return names;
}

TEST(FundaportExports, ExactlyTheCommFunctions) {
    std::set<std::string> exported = DefinedDynamicSymbols(FUNDAPORT_LIBRARY_PATH);
    EXPECT_EQ(exported, kContract);

    void* library = ::dlopen(FUNDAPORT_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << ::dlerror();
    for (const std::string& name : kContract)
        EXPECT_NE(::dlsym(library, name.c_str()), nullptr) << name;
    ::dlclose(library);
}

}  // namespace
