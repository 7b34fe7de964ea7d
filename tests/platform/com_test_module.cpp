// A minimal in-process component server for the tests: registers itself,
// serves TestCounter objects, and answers DllCanUnloadNow from its counts.
#include "com_test_module.h"

#include "com/com_object.h"
#include "com/entry_guard.h"
#include "com/server_exports.h"
#include "registry/registry.h"

#include <atomic>
#include <new>

namespace {

std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};

class TestCounter final : public DispatchImpl<ITestCounter, kTestCounterDescription> {
public:
    explicit TestCounter(IUnknown* outer) : m_outer(outer ? outer : &m_inner) { ++g_objects; }
    ~TestCounter() {
        if (m_marshaler)
            m_marshaler->Release();
        --g_objects;
    }

    HRESULT Initialise() { return CoCreateFreeThreadedMarshaler(m_outer, &m_marshaler); }
    IUnknown* Inner() { return &m_inner; }

    HRESULT QueryInterface(REFIID riid, void** ppv) override { return m_outer->QueryInterface(riid, ppv); }
    ULONG AddRef() override { return m_outer->AddRef(); }
    ULONG Release() override { return m_outer->Release(); }

    HRESULT Increment(LONG step, LONG* value) override {
        if (!value)
            return E_POINTER;
        *value = (m_value += step);
        return S_OK;
    }
    HRESULT get_Value(LONG* value) override {
        if (!value)
            return E_POINTER;
        *value = m_value;
        return S_OK;
    }
    HRESULT put_Value(LONG value) override {
        m_value = value;
        return S_OK;
    }

    /// The marshaler this object aggregates (IMarshal).
    HRESULT QueryAggregated(REFIID riid, void** ppv) {
        if (IsEqualIID(riid, IID_IMarshal) && m_marshaler)
            return m_marshaler->QueryInterface(riid, ppv);
        return E_NOINTERFACE;
    }

private:
    marquen::com::NonDelegatingUnknown<TestCounter, ITestCounter, IDispatch> m_inner{*this};
    IUnknown* m_outer;
    IUnknown* m_marshaler = nullptr;
    LONG m_value = 0;
};

// The factory is static; it counts as a lock while referenced.
class Factory final
    : public marquen::com::ComObject<Factory, marquen::com::ModuleLockCount<std::atomic<long>>, IClassFactory> {
public:
    Factory() : ComObject(g_locks) {}

    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (outer && !IsEqualIID(riid, IID_IUnknown))
            return CLASS_E_NOAGGREGATION;
        auto* object = new (std::nothrow) TestCounter(outer);
        if (!object)
            return E_OUTOFMEMORY;
        HRESULT hr = object->Initialise();
        if (SUCCEEDED(hr))
            hr = object->Inner()->QueryInterface(riid, ppv);
        object->Inner()->Release();
        return hr;
    }
    HRESULT LockServer(BOOL lock) override {
        if (lock)
            ++g_locks;
        else
            --g_locks;
        return S_OK;
    }
};

Factory g_factory;

std::string ClassKey() { return "CLSID\\" + GuidToString(CLSID_TestCounter); }

}  // namespace

HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) noexcept {
    return marquen::com::GuardedCall([&]() -> HRESULT {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualCLSID(clsid, CLSID_TestCounter))
            return CLASS_E_CLASSNOTAVAILABLE;
        return g_factory.QueryInterface(riid, ppv);
    });
}

HRESULT DllCanUnloadNow() noexcept { return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE; }

HRESULT DllRegisterServer() noexcept {
    return marquen::com::GuardedCall([&]() -> HRESULT {
        namespace registry = marquen::registry;
        std::string path = ModuleFileName(reinterpret_cast<const void*>(&DllRegisterServer));
        if (path.empty())
            return E_UNEXPECTED;
        DWORD rc = registry::Update([&](registry::Tree& tree) {
            registry::Key* key = tree.Create(ClassKey());
            key->SetValue("", "TestCounter Class");
            registry::Key& server = key->Child("InprocServer32");
            server.SetValue("", path);
            server.SetValue("ThreadingModel", "Apartment");
            return ERROR_SUCCESS;
        });
        return HRESULT_FROM_WIN32(rc);
    });
}

HRESULT DllUnregisterServer() noexcept {
    return marquen::com::GuardedCall([&]() -> HRESULT {
        DWORD rc = marquen::registry::Update([](marquen::registry::Tree& tree) {
            tree.Remove(ClassKey());
            return ERROR_SUCCESS;
        });
        return HRESULT_FROM_WIN32(rc);
    });
}

// Live objects, for the tests to watch unloading.
extern "C" __attribute__((visibility("default"))) long TestModuleObjectCount() { return g_objects; }
