// Object identity: the free-threaded marshaler aggregated by an object,
// marshaling through a stream, counted references, apartments per thread.
#include "com/com.h"
#include "com/com_object.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

namespace {

constexpr IID IID_ITestThing = {0x1B2C3D4E, 0x0001, 0x0002, {1, 2, 3, 4, 5, 6, 7, 8}};

struct ITestThing : IUnknown {
    static constexpr IID iid() { return IID_ITestThing; }
    virtual LONG Answer() = 0;
};

// An object that aggregates the free-threaded marshaler, as the
// communication object does.
class Thing final : public ITestThing {
public:
    static Thing* Create() {
        auto* thing = new Thing;
        EXPECT_EQ(CoCreateFreeThreadedMarshaler(thing, &thing->m_marshaler), S_OK);
        return thing;
    }
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_ITestThing)) {
            *ppv = static_cast<ITestThing*>(this);
            AddRef();
            return S_OK;
        }
        if (IsEqualIID(riid, IID_IMarshal))
            return m_marshaler->QueryInterface(riid, ppv);
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++m_references; }
    ULONG Release() override {
        ULONG left = --m_references;
        if (left == 0)
            delete this;
        return left;
    }
    LONG Answer() override { return 42; }
    ULONG References() const { return m_references; }
    static inline std::atomic<int> destroyed{0};

private:
    Thing() = default;
    ~Thing() {
        m_marshaler->Release();
        ++destroyed;
    }
    std::atomic<ULONG> m_references{1};
    IUnknown* m_marshaler = nullptr;
};

// Byte stream in memory for marshal data.
class MemoryStream final : public IStream {
public:
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT Read(void* pv, ULONG cb, ULONG* read) override {
        ULONG n = static_cast<ULONG>(std::min<size_t>(cb, bytes.size() - position));
        if (n > 0)
            std::memcpy(pv, bytes.data() + position, n);
        position += n;
        if (read)
            *read = n;
        return S_OK;
    }
    HRESULT Write(const void* pv, ULONG cb, ULONG* written) override {
        bytes.insert(bytes.end(), static_cast<const BYTE*>(pv), static_cast<const BYTE*>(pv) + cb);
        if (written)
            *written = cb;
        return S_OK;
    }
    std::vector<BYTE> bytes;
    size_t position = 0;
};

TEST(ComFreeThreadedMarshaler, AggregatedIdentityRules) {
    Thing* thing = Thing::Create();
    ComPtr<ITestThing> owner = ComPtr<ITestThing>::Adopt(thing);

    ComPtr<IMarshal> marshal;
    ASSERT_EQ(owner.As(marshal), S_OK);
    EXPECT_EQ(thing->References(), 2u) << "the marshaler's reference counts on the outer object";

    // Every IUnknown reached from any interface is the outer object's.
    ComPtr<IUnknown> fromMarshal;
    ASSERT_EQ(marshal.As(fromMarshal), S_OK);
    EXPECT_EQ(fromMarshal.Get(), static_cast<IUnknown*>(thing));
    // Symmetric and transitive: back from IMarshal to the object's own interface.
    ComPtr<ITestThing> back;
    ASSERT_EQ(marshal.As(back), S_OK);
    EXPECT_EQ(back.Get(), thing);
    // Reflexive: IMarshal from IMarshal is the same pointer.
    ComPtr<IMarshal> again;
    ASSERT_EQ(marshal.As(again), S_OK);
    EXPECT_EQ(again.Get(), marshal.Get());

    ComPtr<IDispatch> none;
    EXPECT_EQ(owner.As(none), E_NOINTERFACE);
    EXPECT_FALSE(none);
    EXPECT_EQ(thing->QueryInterface(IID_IMarshal, nullptr), E_POINTER);

    CLSID unmarshalClass = GUID_NULL;
    ASSERT_EQ(marshal->GetUnmarshalClass(IID_ITestThing, thing, MSHCTX_INPROC, nullptr, MSHLFLAGS_NORMAL,
                                         &unmarshalClass), S_OK);
    EXPECT_EQ(unmarshalClass, CLSID_InProcFreeMarshaler);

    int before = Thing::destroyed;
    fromMarshal.Reset();
    back.Reset();
    again.Reset();
    marshal.Reset();
    owner.Reset();
    EXPECT_EQ(Thing::destroyed, before + 1) << "releasing every reference ends the object and its marshaler";
}

TEST(ComFreeThreadedMarshaler, MarshalingPassesThePointerThrough) {
    ComPtr<ITestThing> thing = ComPtr<ITestThing>::Adopt(Thing::Create());
    ComPtr<IMarshal> marshal;
    ASSERT_EQ(thing.As(marshal), S_OK);
    DWORD size = 0;
    ASSERT_EQ(marshal->GetMarshalSizeMax(IID_ITestThing, thing.Get(), MSHCTX_INPROC, nullptr, 0, &size), S_OK);

    MemoryStream stream;
    ASSERT_EQ(marshal->MarshalInterface(&stream, IID_ITestThing, thing.Get(), MSHCTX_INPROC, nullptr, 0), S_OK);
    EXPECT_LE(stream.bytes.size(), size);
    ULONG held = static_cast<Thing*>(thing.Get())->References();

    // Unmarshaled on another thread, the pointer is the object itself.
    ITestThing* unmarshaled = nullptr;
    std::thread other([&] {
        ASSERT_EQ(marshal->UnmarshalInterface(&stream, IID_ITestThing, reinterpret_cast<void**>(&unmarshaled)), S_OK);
        EXPECT_EQ(unmarshaled->Answer(), 42);
    });
    other.join();
    EXPECT_EQ(unmarshaled, thing.Get());
    EXPECT_EQ(static_cast<Thing*>(thing.Get())->References(), held) << "the marshal data's reference went to the caller";
    unmarshaled->Release();

    // Marshal data that is never unmarshaled gives its reference back.
    MemoryStream dropped;
    ASSERT_EQ(marshal->MarshalInterface(&dropped, IID_ITestThing, thing.Get(), MSHCTX_INPROC, nullptr, 0), S_OK);
    ASSERT_EQ(marshal->ReleaseMarshalData(&dropped), S_OK);
    MemoryStream empty;
    EXPECT_EQ(marshal->UnmarshalInterface(&empty, IID_ITestThing, reinterpret_cast<void**>(&unmarshaled)), E_UNEXPECTED);
    EXPECT_EQ(marshal->MarshalInterface(&stream, IID_IDispatch, thing.Get(), MSHCTX_INPROC, nullptr, 0), E_NOINTERFACE);
}

TEST(ComFreeThreadedMarshaler, StandsAloneWithoutAnOuterObject) {
    IUnknown* inner = nullptr;
    ASSERT_EQ(CoCreateFreeThreadedMarshaler(nullptr, &inner), S_OK);
    IMarshal* marshal = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_IMarshal, reinterpret_cast<void**>(&marshal)), S_OK);
    IUnknown* identity = nullptr;
    ASSERT_EQ(marshal->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
    EXPECT_EQ(identity, inner);
    identity->Release();
    marshal->Release();
    EXPECT_EQ(inner->Release(), 0u);
    EXPECT_EQ(CoCreateFreeThreadedMarshaler(nullptr, nullptr), E_POINTER);
}

TEST(ComApartment, CountsInitialisationsPerThread) {
    ASSERT_FALSE(CoIsInitialized());
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    EXPECT_EQ(CoInitializeEx(reinterpret_cast<void*>(1), COINIT_APARTMENTTHREADED), E_INVALIDARG);

    // Another thread has an apartment of its own.
    std::thread other([] {
        EXPECT_FALSE(CoIsInitialized());
        void* object = reinterpret_cast<void*>(1);
        EXPECT_EQ(CoCreateInstance(CLSID_NULL, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object),
                  CO_E_NOTINITIALIZED);
        EXPECT_EQ(object, nullptr);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        CoUninitialize();
    });
    other.join();

    CoUninitialize();
    EXPECT_TRUE(CoIsInitialized()) << "one CoUninitialize per successful initialisation";
    CoUninitialize();
    EXPECT_FALSE(CoIsInitialized());
    CoUninitialize();  // unmatched: ignored
    EXPECT_FALSE(CoIsInitialized());
}

// The one helper every component object's IUnknown comes from.
constexpr IID IID_ITestOther = {0x1B2C3D4E, 0x0003, 0x0004, {1, 2, 3, 4, 5, 6, 7, 9}};
struct ITestOther : IUnknown {
    static constexpr IID iid() { return IID_ITestOther; }
};

class Counted final : public marquen::com::ComObject<Counted, marquen::com::OwnReferenceCount, ITestThing, ITestOther> {
public:
    explicit Counted(std::atomic<int>& alive) : m_alive(alive) { ++m_alive; }
    ~Counted() override { --m_alive; }
    LONG Answer() override { return 42; }

private:
    std::atomic<int>& m_alive;
};

TEST(ComObjectHelper, AnswersItsInterfacesWithOneIdentityAndDeletesAtTheLastRelease) {
    std::atomic<int> alive{0};
    auto* object = new Counted(alive);
    void* unknown = nullptr;
    void* thing = nullptr;
    void* other = nullptr;
    ASSERT_EQ(object->QueryInterface(IID_IUnknown, &unknown), S_OK);
    ASSERT_EQ(object->QueryInterface(IID_ITestThing, &thing), S_OK);
    ASSERT_EQ(object->QueryInterface(IID_ITestOther, &other), S_OK);
    EXPECT_EQ(unknown, static_cast<ITestThing*>(object)) << "IUnknown is the first interface";
    EXPECT_EQ(thing, static_cast<ITestThing*>(object));
    EXPECT_EQ(other, static_cast<ITestOther*>(object));
    void* none = &alive;
    EXPECT_EQ(object->QueryInterface(IID_IMarshal, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(object->QueryInterface(IID_IUnknown, nullptr), E_POINTER);

    EXPECT_EQ(static_cast<ITestOther*>(other)->Release(), 3u);
    EXPECT_EQ(static_cast<ITestThing*>(thing)->Release(), 2u);
    EXPECT_EQ(static_cast<IUnknown*>(unknown)->Release(), 1u);
    EXPECT_EQ(alive.load(), 1);
    EXPECT_EQ(object->Release(), 0u);
    EXPECT_EQ(alive.load(), 0);
}

TEST(ComObjectHelper, ModuleLockCountCountsLocksAndDeletesNothing) {
    std::atomic<long> locks{0};
    class Factory final
        : public marquen::com::ComObject<Factory, marquen::com::ModuleLockCount<std::atomic<long>>, IClassFactory> {
    public:
        explicit Factory(std::atomic<long>& counter) : ComObject(counter) {}
        HRESULT CreateInstance(IUnknown*, REFIID, void**) override { return E_NOTIMPL; }
        HRESULT LockServer(BOOL) override { return S_OK; }
    } factory(locks);
    void* answered = nullptr;
    ASSERT_EQ(factory.QueryInterface(IID_IClassFactory, &answered), S_OK);
    EXPECT_EQ(locks.load(), 1);
    static_cast<IClassFactory*>(answered)->Release();
    EXPECT_EQ(locks.load(), 0);
}

}  // namespace
