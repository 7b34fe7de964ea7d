// Apartments, the loaded-module table and instance creation by class id.
#include "apartment.h"
#include "diagnostics/diagnostics.h"

#include "registry/registry.h"
#include "server_exports.h"

#include <atomic>
#include <cstdlib>
#include <dlfcn.h>
#include <limits.h>
#include <map>
#include <mutex>
#include <new>
#include <string_view>
#include <sys/stat.h>

namespace {

// Per thread: how many successful initialisations are open, and the model
// chosen by the first.
struct ThreadApartment {
    unsigned count = 0;
    DWORD model = COINIT_APARTMENTTHREADED;
};
thread_local ThreadApartment t_apartment;

// Initialised threads of the process.
std::atomic<unsigned> g_initialisedThreads{0};

// One loaded server module.
struct LoadedModule {
    void* handle = nullptr;
    DllGetClassObjectFunction getClassObject = nullptr;
    DllCanUnloadNowFunction canUnloadNow = nullptr;
    // Calls into the module in progress; it is not unloaded meanwhile.
    unsigned busy = 0;
};

// Modules by canonical path. The table lives as long as the process (never
// destroyed, so no module is unloaded behind a static destructor).
struct ModuleTable {
    std::mutex lock;
    std::map<std::string, LoadedModule> modules;  // GUARDED_BY(lock)
};

ModuleTable& Modules() {
    static ModuleTable* table = new ModuleTable;
    return *table;
}

// Marks a module busy for the duration of a call into it.
class BusyModule {
public:
    BusyModule() = default;
    BusyModule(const BusyModule&) = delete;
    BusyModule& operator=(const BusyModule&) = delete;
    ~BusyModule() {
        if (m_module) {
            std::lock_guard guard(Modules().lock);
            --m_module->busy;
        }
    }
    void Set(LoadedModule* module) { m_module = module; }
    LoadedModule* Get() const { return m_module; }

private:
    LoadedModule* m_module = nullptr;
};

HRESULT ModulePathOfClass(REFCLSID clsid, std::string& path) {
    std::string key = "CLSID\\" + GuidToString(clsid) + "\\InprocServer32";
    DWORD rc = marquen::registry::QueryValue(key, "", path);
    if (rc == ERROR_FILE_NOT_FOUND || (rc == ERROR_SUCCESS && path.empty()))
        return REGDB_E_CLASSNOTREG;
    if (rc != ERROR_SUCCESS) {
        marquen::diagnostics::Report(marquen::diagnostics::Level::kError,
                                     "component library: " + marquen::registry::LastErrorDetail());
        return REGDB_E_READREGDB;
    }
    return S_OK;
}

// Finds or loads the module at `path` and marks it busy.
HRESULT AcquireModule(const std::string& path, BusyModule& busy) {
    char canonical[PATH_MAX];
    if (!::realpath(path.c_str(), canonical))
        return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
    ModuleTable& table = Modules();
    std::lock_guard guard(table.lock);
    auto found = table.modules.find(canonical);
    if (found == table.modules.end()) {
        void* handle = ::dlopen(canonical, RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* why = ::dlerror();
            marquen::diagnostics::Report(marquen::diagnostics::Level::kError,
                                         std::string("component library: cannot load ") + canonical + ": " +
                                             (why ? why : "unknown error"));
            return CO_E_ERRORINDLL;
        }
        LoadedModule module;
        module.handle = handle;
        module.getClassObject = reinterpret_cast<DllGetClassObjectFunction>(::dlsym(handle, "DllGetClassObject"));
        module.canUnloadNow = reinterpret_cast<DllCanUnloadNowFunction>(::dlsym(handle, "DllCanUnloadNow"));
        if (!module.getClassObject) {
            ::dlclose(handle);
            return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
        }
        try {
            found = table.modules.emplace(canonical, module).first;
        } catch (const std::bad_alloc&) {
            ::dlclose(handle);
            return E_OUTOFMEMORY;
        }
    }
    ++found->second.busy;
    busy.Set(&found->second);
    return S_OK;
}

// Class object through the registry; keeps the module busy in `busy`.
HRESULT GetClassObject(REFCLSID clsid, DWORD context, REFIID riid, void** ppv, BusyModule& busy) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (t_apartment.count == 0)
        return CO_E_NOTINITIALIZED;
    if (!(context & CLSCTX_INPROC_SERVER))
        return REGDB_E_CLASSNOTREG;
    std::string path;
    try {
        HRESULT hr = ModulePathOfClass(clsid, path);
        if (FAILED(hr))
            return hr;
        hr = AcquireModule(path, busy);
        if (FAILED(hr))
            return hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    HRESULT hr = busy.Get()->getClassObject(clsid, riid, ppv);
    if (FAILED(hr))
        *ppv = nullptr;
    return hr;
}

}  // namespace

HRESULT CoInitializeEx(void* reserved, DWORD flags) {
    if (reserved)
        return E_INVALIDARG;
    DWORD model = flags & COINIT_APARTMENTTHREADED;
    if (t_apartment.count > 0) {
        if (t_apartment.model != model)
            return RPC_E_CHANGED_MODE;
        ++t_apartment.count;
        return S_FALSE;
    }
    t_apartment.model = model;
    t_apartment.count = 1;
    g_initialisedThreads.fetch_add(1);
    return S_OK;
}

HRESULT CoInitialize(void* reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }

void CoUninitialize() {
    if (t_apartment.count == 0)
        return;
    if (--t_apartment.count > 0)
        return;
    if (g_initialisedThreads.fetch_sub(1) == 1)
        CoFreeUnusedLibraries();
}

bool CoIsInitialized() { return t_apartment.count > 0; }

HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void*, REFIID riid, void** ppv) {
    BusyModule busy;
    return GetClassObject(clsid, context, riid, ppv, busy);
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    // The module stays busy until the factory is released, so it cannot be
    // unloaded between finding the factory and the object's first reference.
    BusyModule busy;
    IClassFactory* factory = nullptr;
    HRESULT hr = GetClassObject(clsid, context, IID_IClassFactory, reinterpret_cast<void**>(&factory), busy);
    if (FAILED(hr))
        return hr;
    hr = factory->CreateInstance(outer, riid, ppv);
    factory->Release();
    if (FAILED(hr))
        *ppv = nullptr;
    return hr;
}

void CoFreeUnusedLibraries() {
    ModuleTable& table = Modules();
    std::lock_guard guard(table.lock);
    for (auto it = table.modules.begin(); it != table.modules.end();) {
        LoadedModule& module = it->second;
        if (module.busy == 0 && module.canUnloadNow && module.canUnloadNow() == S_OK) {
            ::dlclose(module.handle);
            it = table.modules.erase(it);
        } else {
            ++it;
        }
    }
}

HRESULT OleRun(IUnknown* object) { return object ? S_OK : E_INVALIDARG; }

std::string ModuleFileName(const void* address) {
    Dl_info info{};
    if (!::dladdr(address, &info) || !info.dli_fname || !info.dli_fname[0])
        return {};
    char canonical[PATH_MAX];
    if (::realpath(info.dli_fname, canonical))
        return canonical;
    // The main program may be listed by a bare name; its own link names it.
    if (std::string_view(info.dli_fname).find('/') == std::string_view::npos &&
        ::realpath("/proc/self/exe", canonical))
        return canonical;
    return {};
}
