// The module's entry points: the class factory, unloading, self-registration
// and the string resource.
#include "communication.h"
#include "module_state.h"
#include "quorlink_module.h"
#include "quorlink_typelib.h"

#include "com/server_exports.h"
#include "diagnostics/diagnostics.h"
#include "registry/registry.h"

#include <new>

namespace {

using namespace quorlink;
namespace registry = marquen::registry;
namespace diagnostics = marquen::diagnostics;

class ClassFactory final : public IClassFactory {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    // The factory is static; while referenced it keeps the module loaded.
    ULONG AddRef() override { return static_cast<ULONG>(++ServerLockCount()); }
    ULONG Release() override { return static_cast<ULONG>(--ServerLockCount()); }

    HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) override {
        return CCommunication::Create(pUnkOuter, riid, ppvObject);
    }
    HRESULT LockServer(BOOL fLock) override {
        if (fLock)
            ++ServerLockCount();
        else
            --ServerLockCount();
        return S_OK;
    }
};

ClassFactory g_factory;

std::string ClassKey() { return "CLSID\\" + GuidToString(CLSID_Communication); }

HRESULT FromRegistry(DWORD rc) {
    if (rc == ERROR_SUCCESS)
        return S_OK;
    diagnostics::Report(diagnostics::Level::kError, "Quorlink: " + registry::LastErrorDetail());
    return HRESULT_FROM_WIN32(rc);
}

}  // namespace

HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualCLSID(clsid, CLSID_Communication))
        return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(riid, ppv);
}

HRESULT DllCanUnloadNow() {
    return LiveObjectCount() == 0 && ServerLockCount() == 0 && RunningThreadCount() == 0 ? S_OK : S_FALSE;
}

HRESULT DllRegisterServer() {
    std::string path = ModuleFileName(reinterpret_cast<const void*>(&DllRegisterServer));
    if (path.empty())
        return E_UNEXPECTED;
    const std::string clsid = GuidToString(CLSID_Communication);
    const char* name = quorlink_typelib::kCoclassHelpString;
    try {
        HRESULT hr = FromRegistry(registry::Update([&](registry::Tree& tree) {
            registry::Key* progId = tree.Create(kQuorlinkProgId);
            progId->SetValue("", name);
            progId->Child("CLSID").SetValue("", clsid);

            registry::Key* independent = tree.Create(kQuorlinkVersionIndependentProgId);
            independent->SetValue("", name);
            independent->Child("CLSID").SetValue("", clsid);
            independent->Child("CurVer").SetValue("", kQuorlinkProgId);

            registry::Key* classKey = tree.Create(ClassKey());
            classKey->SetValue("", name);
            classKey->Child("ProgID").SetValue("", kQuorlinkProgId);
            classKey->Child("VersionIndependentProgID").SetValue("", kQuorlinkVersionIndependentProgId);
            // Made afresh on every registration: whatever was put below it goes.
            classKey->RemoveChild("Programmable");
            classKey->Child("Programmable");
            registry::Key& server = classKey->Child("InprocServer32");
            server.SetValue("", path);
            server.SetValue("ThreadingModel", "Apartment");
            classKey->Child("TypeLib").SetValue("", GuidToString(LIBID_QUORLINKLib));
            return ERROR_SUCCESS;
        }));
        if (FAILED(hr))
            return hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return RegisterTypeLib(quorlink_typelib::kLibrary, path);
}

HRESULT DllUnregisterServer() {
    try {
        // The CLSID key itself belongs to every class: it stays.
        HRESULT hr = FromRegistry(registry::Update([&](registry::Tree& tree) {
            tree.Remove(kQuorlinkProgId);
            tree.Remove(kQuorlinkVersionIndependentProgId);
            tree.Remove(ClassKey());
            return ERROR_SUCCESS;
        }));
        if (FAILED(hr))
            return hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return UnRegisterTypeLib(quorlink_typelib::kLibrary);
}

const char* QuorlinkLoadString(UINT id) { return id == IDS_PROJNAME ? "Quorlink" : nullptr; }
