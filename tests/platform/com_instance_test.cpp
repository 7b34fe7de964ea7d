// Instance creation by class id: the test module registered through regsvr
// into a scratch registry, then created, aggregated, dispatched to and
// unloaded; and every way finding or loading the module can fail.
#include "com/com.h"
#include "com_test_module.h"
#include "registry/registry.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <dlfcn.h>
#include <sys/wait.h>
#include <thread>

namespace {

namespace registry = marquen::registry;

const std::string kClassKey = "CLSID\\" + GuidToString(CLSID_TestCounter);

// Is the module loaded in this process now?
bool ModuleLoaded(const char* path) {
    void* handle = ::dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    if (!handle)
        return false;
    ::dlclose(handle);
    return true;
}

class ComInstance : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("XDG_CONFIG_HOME", m_dir.path().c_str(), 1);
        ASSERT_EQ(CoInitialize(nullptr), S_OK);
    }
    void TearDown() override {
        CoFreeUnusedLibraries();
        CoUninitialize();
        unsetenv("XDG_CONFIG_HOME");
    }
    // Runs regsvr on the test module; its exit status.
    int Regsvr(const std::string& options) {
        std::string command = "'" + (testing_support::BinaryDir() / "regsvr").string() + "' " + options + " '" +
                              COM_TEST_MODULE_PATH + "' >/dev/null 2>&1";
        int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    testing_support::TempDir m_dir;
};

// An outer object that aggregates a TestCounter and forwards its queries.
class Outer final : public IUnknown {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualIID(riid, IID_IUnknown)) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        return inner ? inner->QueryInterface(riid, ppv) : E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++references; }
    ULONG Release() override { return --references; }
    IUnknown* inner = nullptr;
    ULONG references = 1;
};

TEST_F(ComInstance, NotRegisteredUntilRegsvrRegistersIt) {
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(object, nullptr);

    ASSERT_EQ(Regsvr(""), 0);
    std::string path;
    ASSERT_EQ(registry::QueryValue(kClassKey + "\\InprocServer32", "", path), ERROR_SUCCESS);
    char canonical[PATH_MAX];
    ASSERT_NE(::realpath(COM_TEST_MODULE_PATH, canonical), nullptr);
    EXPECT_EQ(path, canonical) << "the module records its own full path";

    ComPtr<ITestCounter> counter;
    ASSERT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_SERVER | CLSCTX_INPROC_HANDLER, ITestCounter::iid(),
                               counter.PutVoid()),
              S_OK);
    LONG value = 0;
    ASSERT_EQ(counter->Increment(5, &value), S_OK);
    EXPECT_EQ(value, 5);

    ASSERT_EQ(Regsvr("-u"), 0);
    EXPECT_EQ(registry::OpenKey(kClassKey), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(registry::OpenKey("CLSID"), ERROR_SUCCESS) << "the CLSID key itself stays";
    EXPECT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, counter.PutVoid()),
              REGDB_E_CLASSNOTREG);
}

TEST_F(ComInstance, CreatedObjectServesDispatchAndTheMarshaler) {
    ASSERT_EQ(Regsvr(""), 0);
    ComPtr<IUnknown> unknown;
    ASSERT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, unknown.PutVoid()), S_OK);
    ASSERT_EQ(OleRun(unknown.Get()), S_OK);
    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(unknown.As(dispatch), S_OK);
    ComPtr<IMarshal> marshal;
    EXPECT_EQ(unknown.As(marshal), S_OK);

    std::wstring name = L"increment";
    LPOLESTR names[] = {name.data()};
    DISPID id = 0;
    ASSERT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK);
    EXPECT_EQ(id, 1);
    VARIANT step;
    VariantInit(&step);
    step.vt = VT_I4;
    step.lVal = 41;
    DISPPARAMS params{&step, nullptr, 1, 0};
    VARIANT result;
    ASSERT_EQ(dispatch->Invoke(1, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(result.lVal, 41);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    ASSERT_EQ(dispatch->Invoke(2, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(result.lVal, 41);
}

TEST_F(ComInstance, ModuleStaysWhileUsedAndUnloadsWhenUnused) {
    ASSERT_EQ(Regsvr(""), 0);
    ComPtr<ITestCounter> counter;
    ASSERT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_INPROC_SERVER, ITestCounter::iid(), counter.PutVoid()),
              S_OK);
    ASSERT_TRUE(ModuleLoaded(COM_TEST_MODULE_PATH));
    CoFreeUnusedLibraries();
    EXPECT_TRUE(ModuleLoaded(COM_TEST_MODULE_PATH)) << "an object is alive";
    counter.Reset();
    CoFreeUnusedLibraries();
    EXPECT_FALSE(ModuleLoaded(COM_TEST_MODULE_PATH));
    // And it comes back when needed.
    ASSERT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_INPROC_SERVER, ITestCounter::iid(), counter.PutVoid()),
              S_OK);
}

TEST_F(ComInstance, AggregationByAnOuterObject) {
    ASSERT_EQ(Regsvr(""), 0);
    Outer outer;
    void* object = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_TestCounter, &outer, CLSCTX_INPROC_SERVER, ITestCounter::iid(), &object),
              CLASS_E_NOAGGREGATION)
        << "an aggregated object hands out its inner unknown only";
    ASSERT_EQ(CoCreateInstance(CLSID_TestCounter, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void**>(&outer.inner)),
              S_OK);
    EXPECT_EQ(outer.references, 1u) << "creating the inner object does not count on the outer one";

    ITestCounter* counter = nullptr;
    ASSERT_EQ(outer.QueryInterface(ITestCounter::iid(), reinterpret_cast<void**>(&counter)), S_OK);
    EXPECT_EQ(outer.references, 2u) << "the aggregated interface counts on the outer object";
    IUnknown* identity = nullptr;
    ASSERT_EQ(counter->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
    EXPECT_EQ(identity, &outer) << "the aggregate has the outer object's identity";
    identity->Release();
    IMarshal* marshal = nullptr;
    ASSERT_EQ(counter->QueryInterface(IID_IMarshal, reinterpret_cast<void**>(&marshal)), S_OK);
    EXPECT_EQ(outer.references, 3u) << "the marshaler, two levels down, still counts on the outermost";
    marshal->Release();
    counter->Release();
    EXPECT_EQ(outer.references, 1u);
    outer.inner->Release();
    outer.inner = nullptr;
}

TEST_F(ComInstance, ThreadWithoutInitialisationIsRefused) {
    ASSERT_EQ(Regsvr(""), 0);
    std::thread other([] {
        void* object = nullptr;
        EXPECT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
                  CO_E_NOTINITIALIZED);
        EXPECT_EQ(CoGetClassObject(CLSID_TestCounter, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, &object),
                  CO_E_NOTINITIALIZED);
    });
    other.join();
}

TEST_F(ComInstance, FailuresToFindOrLoadTheModule) {
    void* object = nullptr;
    auto create = [&] { return CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object); };

    ASSERT_EQ(registry::SetValue(kClassKey + "\\InprocServer32", "", (m_dir / "missing.so").string()), ERROR_SUCCESS);
    EXPECT_EQ(create(), HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));

    ASSERT_EQ(registry::SetValue(kClassKey + "\\InprocServer32", "", COM_TEST_BARE_MODULE_PATH), ERROR_SUCCESS);
    EXPECT_EQ(create(), HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND));

    testing_support::WriteFileBytes(m_dir / "text.so", {'n', 'o', 't', ' ', 'E', 'L', 'F'});
    ASSERT_EQ(registry::SetValue(kClassKey + "\\InprocServer32", "", (m_dir / "text.so").string()), ERROR_SUCCESS);
    EXPECT_EQ(create(), CO_E_ERRORINDLL);

    ASSERT_EQ(registry::SetValue(kClassKey + "\\InprocServer32", "", ""), ERROR_SUCCESS);
    EXPECT_EQ(create(), REGDB_E_CLASSNOTREG) << "an empty module path";

    // A registered module that does not serve the class asked for.
    ASSERT_EQ(Regsvr(""), 0);
    std::string path;
    ASSERT_EQ(registry::QueryValue(kClassKey + "\\InprocServer32", "", path), ERROR_SUCCESS);
    constexpr CLSID other = {0x6A1C2F10, 0x3B4D, 0x4E5F, {0x90, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xFF}};
    ASSERT_EQ(registry::SetValue("CLSID\\" + GuidToString(other) + "\\InprocServer32", "", path), ERROR_SUCCESS);
    EXPECT_EQ(CoCreateInstance(other, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, &object),
              REGDB_E_CLASSNOTREG)
        << "only in-process servers exist here";
    EXPECT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, nullptr), E_POINTER);
}

TEST_F(ComInstance, DamagedRegistryIsReportedNotTakenForAMissingClass) {
    ASSERT_EQ(Regsvr(""), 0);
    testing_support::WriteFileBytes(registry::StorePath(), {'g', 'a', 'r', 'b', 'a', 'g', 'e', '\n'});
    void* object = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
              REGDB_E_READREGDB);
}

}  // namespace
