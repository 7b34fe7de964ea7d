// regsvr [-u] MODULE: loads a component server module by its path and calls
// its DllRegisterServer (or, with -u, DllUnregisterServer).
//
// Exit status: 0 done; 2 bad arguments; 3 the module cannot be loaded; 4 it
// lacks the entry point; 5 the entry point returned a failure. Failures are
// reported on standard error with the system message text of the HRESULT.
#include "com/apartment.h"
#include "com/hresult.h"
#include "com/server_exports.h"
#include "registry/registry.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <string>

namespace {

constexpr int kExitDone = 0;
constexpr int kExitUsage = 2;
constexpr int kExitLoad = 3;
constexpr int kExitEntryPoint = 4;
constexpr int kExitFailed = 5;

void PrintUsage(std::FILE* out) {
    std::fputs("Usage: regsvr [-u] MODULE\n"
               "Registers the in-process component server MODULE (a shared library, by path)\n"
               "by calling its DllRegisterServer; with -u, unregisters it by calling its\n"
               "DllUnregisterServer. The keys go to $XDG_CONFIG_HOME/quorlink/registry.\n"
               "\n"
               "  -u      unregister\n"
               "  --help  show this text\n"
               "\n"
               "Exit status: 0 done, 2 bad arguments, 3 module not loaded,\n"
               "4 entry point missing, 5 the server reported a failure.\n",
               out);
}

void Report(const char* what, const std::string& module, HRESULT hr, const char* detail) {
    std::fprintf(stderr, "regsvr: %s %s: %s (0x%08X)", what, module.c_str(), SystemMessageText(hr).c_str(),
                 static_cast<unsigned>(hr));
    if (detail && detail[0])
        std::fprintf(stderr, "\n  %s", detail);
    std::fputc('\n', stderr);
}

int Run(const std::string& module, bool unregister) {
    const char* entryName = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    char canonical[PATH_MAX];
    if (!::realpath(module.c_str(), canonical)) {
        Report("cannot load", module, HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND), std::strerror(errno));
        return kExitLoad;
    }
    // By its full path, so that the module finds and records where it lies.
    void* handle = ::dlopen(canonical, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        Report("cannot load", module, CO_E_ERRORINDLL, ::dlerror());
        return kExitLoad;
    }
    auto entry = reinterpret_cast<DllRegisterServerFunction>(::dlsym(handle, entryName));
    if (!entry) {
        std::string what = std::string("no ") + entryName + " in";
        Report(what.c_str(), module, HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND), nullptr);
        ::dlclose(handle);
        return kExitEntryPoint;
    }
    HRESULT initialised = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    HRESULT hr = entry();
    if (SUCCEEDED(initialised))
        CoUninitialize();
    ::dlclose(handle);
    if (FAILED(hr)) {
        // A registry failure leaves its account on this thread.
        std::string what = std::string(entryName) + " failed in";
        Report(what.c_str(), module, hr, marquen::registry::LastErrorDetail().c_str());
        return kExitFailed;
    }
    std::printf("%s in %s succeeded.\n", entryName, canonical);
    return kExitDone;
}

}  // namespace

int main(int argc, char** argv) {
    bool unregister = false;
    std::string module;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (!optionsEnded && (argument == "--help" || argument == "-h")) {
            PrintUsage(stdout);
            return kExitDone;
        }
        if (!optionsEnded && argument == "-u") {
            unregister = true;
        } else if (!optionsEnded && argument == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && argument.size() > 1 && argument[0] == '-') {
            std::fprintf(stderr, "regsvr: unknown option %s\n", argument.c_str());
            PrintUsage(stderr);
            return kExitUsage;
        } else if (module.empty()) {
            module = argument;
        } else {
            std::fprintf(stderr, "regsvr: one module at a time (%s given after %s)\n", argument.c_str(),
                         module.c_str());
            return kExitUsage;
        }
    }
    if (module.empty()) {
        std::fprintf(stderr, "regsvr: no module given\n");
        PrintUsage(stderr);
        return kExitUsage;
    }
    return Run(module, unregister);
}
