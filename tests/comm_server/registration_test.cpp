// The server as a component: the registry keys it writes and removes, its
// identity and aggregation, dispatch through its type description, its
// string resource and when it may be unloaded.
#include "comm_test_support.h"
#include "quorlink_module.h"
#include "quorlink_typelib.h"
#include "registry/registry.h"

#include <climits>
#include <cstdlib>

using namespace comm_testing;
namespace registry = marquen::registry;

namespace {

const std::string kClsid = GuidToString(CLSID_Communication);
const std::string kClassKey = "CLSID\\" + kClsid;

std::string Value(const std::string& key, const std::string& name = "") {
    std::string data;
    EXPECT_EQ(registry::QueryValue(key, name, data), ERROR_SUCCESS) << key << " [" << name << "]";
    return data;
}

bool KeyExists(const std::string& key) { return registry::OpenKey(key) == ERROR_SUCCESS; }

std::vector<std::string> SubkeysOf(const std::string& path) {
    registry::Tree tree;
    std::vector<std::string> names;
    EXPECT_EQ(registry::Load(tree), ERROR_SUCCESS);
    if (const registry::Key* key = tree.Find(path)) {
        for (const auto& child : key->Children())
            names.push_back(child->Name());
    }
    return names;
}

class Registration : public ::testing::Test {
protected:
    void SetUp() override { setenv("XDG_CONFIG_HOME", m_dir.path().c_str(), 1); }
    ScopedEnvironment m_environment;
    testing_support::TempDir m_dir;
};

// An outer object that aggregates a Communication object.
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

}  // namespace

TEST_F(Registration, WritesTheClassProgIdsAndTypeLibrary) {
    ASSERT_EQ(Regsvr(), 0);
    EXPECT_EQ(Value("Quorlink.Communication.1"), "Communication Class");
    EXPECT_EQ(Value("Quorlink.Communication.1\\CLSID"), kClsid);
    EXPECT_EQ(Value("Quorlink.Communication"), "Communication Class");
    EXPECT_EQ(Value("Quorlink.Communication\\CLSID"), kClsid);
    EXPECT_EQ(Value("Quorlink.Communication\\CurVer"), "Quorlink.Communication.1");

    EXPECT_EQ(Value(kClassKey), "Communication Class");
    EXPECT_EQ(Value(kClassKey + "\\ProgID"), "Quorlink.Communication.1");
    EXPECT_EQ(Value(kClassKey + "\\VersionIndependentProgID"), "Quorlink.Communication");
    EXPECT_EQ(Value(kClassKey + "\\TypeLib"), GuidToString(LIBID_QUORLINKLib));
    char canonical[PATH_MAX];
    ASSERT_NE(::realpath(ModulePath().c_str(), canonical), nullptr);
    EXPECT_EQ(Value(kClassKey + "\\InprocServer32"), canonical);
    EXPECT_EQ(Value(kClassKey + "\\InprocServer32", "ThreadingModel"), "Apartment");
    ASSERT_TRUE(KeyExists(kClassKey + "\\Programmable"));
    EXPECT_TRUE(SubkeysOf(kClassKey + "\\Programmable").empty());

    const std::string library = "TypeLib\\" + GuidToString(LIBID_QUORLINKLib) + "\\1.0";
    EXPECT_EQ(Value(library), "Quorlink 1.0 Type Library");
    EXPECT_EQ(Value(library + "\\409\\linux"), canonical);
    EXPECT_EQ(Value("Interface\\" + GuidToString(IID_ICommunication)), "ICommunication");
    EXPECT_EQ(Value("Interface\\" + GuidToString(DIID__ICommunicationEvents)), "_ICommunicationEvents");

    // Registering again makes Programmable afresh and keeps everything else.
    ASSERT_EQ(registry::SetValue(kClassKey + "\\Programmable\\Stale", "", "x"), ERROR_SUCCESS);
    ASSERT_FALSE(SubkeysOf(kClassKey + "\\Programmable").empty());
    ASSERT_EQ(Regsvr(), 0);
    EXPECT_TRUE(SubkeysOf(kClassKey + "\\Programmable").empty());
    EXPECT_EQ(Value(kClassKey + "\\ProgID"), "Quorlink.Communication.1");
}

TEST_F(Registration, UnregisteringRemovesAllButTheClsidKey) {
    ASSERT_EQ(registry::SetValue("CLSID\\{00000000-0000-0000-0000-000000000001}", "", "another class"),
              ERROR_SUCCESS);
    ASSERT_EQ(Regsvr(), 0);
    ASSERT_EQ(Regsvr("-u"), 0);
    EXPECT_FALSE(KeyExists(kClassKey));
    EXPECT_FALSE(KeyExists("Quorlink.Communication.1"));
    EXPECT_FALSE(KeyExists("Quorlink.Communication"));
    EXPECT_FALSE(KeyExists("TypeLib\\" + GuidToString(LIBID_QUORLINKLib)));
    EXPECT_FALSE(KeyExists("Interface\\" + GuidToString(IID_ICommunication)));
    EXPECT_TRUE(KeyExists("CLSID"));
    EXPECT_EQ(Value("CLSID\\{00000000-0000-0000-0000-000000000001}"), "another class");
    // Nothing left to remove is no error.
    EXPECT_EQ(Regsvr("-u"), 0);
}

TEST_F(Registration, IdentityAggregationDispatchAndUnloading) {
    ASSERT_EQ(Regsvr(), 0);
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    {
        ComPtr<ICommunication> comm;
        ASSERT_EQ(CoCreateInstance(CLSID_Communication, nullptr, CLSCTX_INPROC_SERVER, IID_ICommunication,
                                   comm.PutVoid()),
                  S_OK);
        auto canUnload = LoadedFunction<DllCanUnloadNowFunction>(ModulePath(), "DllCanUnloadNow");
        ASSERT_NE(canUnload, nullptr);
        EXPECT_EQ(canUnload(), S_FALSE) << "a live object keeps the module";

        // One identity; IDispatch is the ICommunication table.
        ComPtr<IUnknown> unknown;
        ComPtr<IDispatch> dispatch;
        ComPtr<IConnectionPointContainer> container;
        ComPtr<IMarshal> marshal;
        ASSERT_EQ(comm.As(unknown), S_OK);
        ASSERT_EQ(comm.As(dispatch), S_OK);
        ASSERT_EQ(comm.As(container), S_OK);
        ASSERT_EQ(comm.As(marshal), S_OK);
        EXPECT_EQ(static_cast<void*>(dispatch.Get()), static_cast<void*>(comm.Get()));
        ComPtr<IUnknown> again;
        ASSERT_EQ(container.As(again), S_OK);
        EXPECT_EQ(again.Get(), unknown.Get());

        // One connection point, for the events.
        ComPtr<IConnectionPoint> point;
        EXPECT_EQ(container->FindConnectionPoint(IID_IDispatch, point.Put()), CONNECT_E_NOCONNECTION);
        ASSERT_EQ(container->FindConnectionPoint(DIID__ICommunicationEvents, point.Put()), S_OK);
        IID events{};
        EXPECT_EQ(point->GetConnectionInterface(&events), S_OK);
        EXPECT_EQ(events, DIID__ICommunicationEvents);
        ComPtr<IEnumConnectionPoints> points;
        ASSERT_EQ(container->EnumConnectionPoints(points.Put()), S_OK);
        IConnectionPoint* listed[2] = {};
        ULONG fetched = 0;
        EXPECT_EQ(points->Next(2, listed, &fetched), S_FALSE);
        ASSERT_EQ(fetched, 1u);
        EXPECT_EQ(listed[0], point.Get());
        listed[0]->Release();

        // Sinks: cookies, enumeration in advice order, refusal of non-dispatch sinks.
        RecordingSink first, second;
        DWORD cookie1 = 0, cookie2 = 0;
        ASSERT_EQ(point->Advise(&first, &cookie1), S_OK);
        ASSERT_EQ(point->Advise(&second, &cookie2), S_OK);
        EXPECT_NE(cookie1, cookie2);
        EXPECT_EQ(first.References(), 1u);
        ComPtr<IEnumConnections> connections;
        ASSERT_EQ(point->EnumConnections(connections.Put()), S_OK);
        CONNECTDATA data[3] = {};
        EXPECT_EQ(connections->Next(3, data, &fetched), S_FALSE);
        ASSERT_EQ(fetched, 2u);
        EXPECT_EQ(data[0].dwCookie, cookie1);
        EXPECT_EQ(data[1].dwCookie, cookie2);
        data[0].pUnk->Release();
        data[1].pUnk->Release();
        connections.Reset();
        Outer notASink;
        DWORD refused = 0;
        EXPECT_EQ(point->Advise(&notASink, &refused), CONNECT_E_CANNOTCONNECT);
        EXPECT_EQ(point->Unadvise(cookie1), S_OK);
        EXPECT_EQ(point->Unadvise(cookie1), CONNECT_E_NOCONNECTION);
        EXPECT_EQ(first.References(), 0u);
        EXPECT_EQ(point->Unadvise(cookie2), S_OK);

        // Dispatch from the type description.
        LPOLESTR name = const_cast<LPOLESTR>(L"WritePort");
        DISPID id = 0;
        EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), S_OK);
        EXPECT_EQ(id, 8);
        LPOLESTR names[2] = {const_cast<LPOLESTR>(L"periodofoncomm"), const_cast<LPOLESTR>(L"Opened")};
        DISPID ids[2] = {};
        EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, &names[0], 1, LOCALE_USER_DEFAULT, &ids[0]), S_OK);
        EXPECT_EQ(ids[0], DISPID_PeriodOfOnComm);
        EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, &names[1], 1, LOCALE_USER_DEFAULT, &ids[1]), S_OK);
        EXPECT_EQ(ids[1], DISPID_Opened);

        // A property put then its get, through Invoke: one DISPID for both.
        VARIANT value;
        VariantInit(&value);
        value.vt = VT_I4;
        value.lVal = 500;
        DISPID putName = DISPID_PROPERTYPUT;
        DISPPARAMS put{&value, &putName, 1, 1};
        EXPECT_EQ(dispatch->Invoke(DISPID_PeriodOfOnComm, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &put,
                                   nullptr, nullptr, nullptr),
                  S_OK);
        VARIANT result;
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        EXPECT_EQ(dispatch->Invoke(DISPID_PeriodOfOnComm, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                                   &result, nullptr, nullptr),
                  S_OK);
        EXPECT_EQ(result.vt, VT_I4);
        EXPECT_EQ(result.lVal, 500);
        // Opened has a get only.
        EXPECT_EQ(dispatch->Invoke(DISPID_Opened, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &put, nullptr,
                                   nullptr, nullptr),
                  DISP_E_MEMBERNOTFOUND);

        // A method with its optional argument left out: WritePort before any
        // OpenPort, 10.
        SAFEARRAY* array = MakeByteArray({1, 2, 3});
        VARIANT args[3];
        VariantInit(&args[0]);
        args[0].vt = VT_BYREF | VT_I4;
        LONG written = 0;
        args[0].plVal = &written;
        VariantInit(&args[1]);
        args[1].vt = VT_I4;
        args[1].lVal = 3;
        VariantInit(&args[2]);
        args[2].vt = VT_BYREF | VT_ARRAY | VT_UI1;
        args[2].pparray = &array;
        DISPPARAMS call{args, nullptr, 3, 0};
        EXPECT_EQ(dispatch->Invoke(DISPID_WritePort, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &call, &result,
                                   nullptr, nullptr),
                  S_OK);
        EXPECT_EQ(result.vt, VT_I4);
        EXPECT_EQ(result.lVal, WRITEPORT_RC_FAILED);
        SafeArrayDestroy(array);

        // Type information: the interface's, and the events' from the
        // library's description, name OnComm 1.
        ComPtr<ITypeInfo> info;
        ASSERT_EQ(dispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.Put()), S_OK);
        BSTR help = nullptr;
        EXPECT_EQ(info->GetDocumentation(DISPID_OpenPort, nullptr, &help, nullptr, nullptr), S_OK);
        EXPECT_EQ(Bstr::Adopt(help).Utf8(), "method OpenPort");
        ComPtr<ITypeInfo> eventInfo;
        ASSERT_EQ(CreateTypeInfo(quorlink_typelib::kICommunicationEvents, eventInfo.Put()), S_OK);
        LPOLESTR onComm = const_cast<LPOLESTR>(L"OnComm");
        MEMBERID member = 0;
        EXPECT_EQ(eventInfo->GetIDsOfNames(&onComm, 1, &member), S_OK);
        EXPECT_EQ(member, 1);
        std::string problem;
        EXPECT_TRUE(CheckTypeLibraryDescription(quorlink_typelib::kLibrary, problem)) << problem;

        // The port lists' automation error has its text.
        EXPECT_EQ(SystemMessageText(QUORLINK_E_OUTOFMEMORY), "Out of Memory");

        // A server lock keeps the module.
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(CoGetClassObject(CLSID_Communication, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                   factory.PutVoid()),
                  S_OK);
        ASSERT_EQ(factory->LockServer(TRUE), S_OK);
        factory.Reset();
        comm.Reset();
        unknown.Reset();
        dispatch.Reset();
        container.Reset();
        marshal.Reset();
        again.Reset();
        point.Reset();
        points.Reset();
        EXPECT_EQ(canUnload(), S_FALSE) << "locked";
        ASSERT_EQ(CoGetClassObject(CLSID_Communication, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                   factory.PutVoid()),
                  S_OK);
        ASSERT_EQ(factory->LockServer(FALSE), S_OK);
        factory.Reset();
        EXPECT_EQ(canUnload(), S_OK);

        // The string resource.
        auto loadString = LoadedFunction<QuorlinkLoadStringFunction>(ModulePath(), "QuorlinkLoadString");
        ASSERT_NE(loadString, nullptr);
        EXPECT_STREQ(loadString(IDS_PROJNAME), "Quorlink");
        EXPECT_EQ(loadString(101), nullptr);

        // Aggregated: the outer object's identity, and IUnknown only.
        Outer outer;
        void* refusedInner = reinterpret_cast<void*>(1);
        EXPECT_EQ(CoCreateInstance(CLSID_Communication, &outer, CLSCTX_INPROC_SERVER, IID_ICommunication,
                                   &refusedInner),
                  CLASS_E_NOAGGREGATION);
        ASSERT_EQ(CoCreateInstance(CLSID_Communication, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                   reinterpret_cast<void**>(&outer.inner)),
                  S_OK);
        ICommunication* aggregated = nullptr;
        ASSERT_EQ(outer.QueryInterface(IID_ICommunication, reinterpret_cast<void**>(&aggregated)), S_OK);
        EXPECT_EQ(outer.references, 2u) << "the inner object's interfaces count on the outer object";
        IUnknown* identity = nullptr;
        ASSERT_EQ(aggregated->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
        EXPECT_EQ(identity, static_cast<IUnknown*>(&outer));
        identity->Release();
        aggregated->Release();
        outer.inner->Release();
        outer.inner = nullptr;
    }
    auto canUnload = LoadedFunction<DllCanUnloadNowFunction>(ModulePath(), "DllCanUnloadNow");
    ASSERT_NE(canUnload, nullptr);
    EXPECT_EQ(canUnload(), S_OK) << "no object, lock or thread is left";
    CoFreeUnusedLibraries();
    EXPECT_EQ(LoadedFunction<DllCanUnloadNowFunction>(ModulePath(), "DllCanUnloadNow"), nullptr)
        << "the module was unloaded";
    CoUninitialize();
}
