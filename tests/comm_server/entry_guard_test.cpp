// No exception leaves an entry point of the module: an allocation that fails
// inside one is answered with E_OUTOFMEMORY, and the object works on.
//
// The failure is injected from outside the module: this program replaces the
// global operator new, which the loaded module's allocations also reach, and
// makes it fail on the calling thread while a test asks for it.
#include "comm_test_support.h"

#include <dlfcn.h>

#include <new>

namespace {

thread_local bool t_failAllocations = false;

// Fails every allocation of the calling thread while it lives.
class AllocationsFail {
public:
    AllocationsFail() { t_failAllocations = true; }
    ~AllocationsFail() { t_failAllocations = false; }
    AllocationsFail(const AllocationsFail&) = delete;
    AllocationsFail& operator=(const AllocationsFail&) = delete;
};

}  // namespace

using NewFunction = void* (*)(std::size_t);
using DeleteFunction = void (*)(void*);

// The allocation functions this program's replacements stand in front of
// (the C++ runtime's, or a sanitizer's): every block is made and freed by
// the same pair, whichever variant a library calls.
NewFunction NextNew() {
    static const auto next = reinterpret_cast<NewFunction>(dlsym(RTLD_NEXT, "_Znwm"));
    return next;
}
DeleteFunction NextDelete() {
    static const auto next = reinterpret_cast<DeleteFunction>(dlsym(RTLD_NEXT, "_ZdlPv"));
    return next;
}

void* operator new(std::size_t size) {
    if (t_failAllocations)
        throw std::bad_alloc();
    return NextNew()(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (t_failAllocations)
        return nullptr;
    try {
        return NextNew()(size);
    } catch (...) {
        return nullptr;
    }
}
void operator delete(void* block) noexcept { NextDelete()(block); }
void operator delete(void* block, std::size_t) noexcept { NextDelete()(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { NextDelete()(block); }

using namespace comm_testing;

namespace {

class EntryGuard : public CommServerTest {};

TEST_F(EntryGuard, FailedAllocationsInsideTheModuleBecomeErrorCodes) {
    Bstr port(kPrinterPort);
    LONG rc = -5;
    HRESULT hr;
    {
        AllocationsFail failing;
        hr = m_comm->OpenPort(port.Get(), &rc);
    }
    EXPECT_EQ(hr, E_OUTOFMEMORY);
    EXPECT_EQ(Opened(), 0);

    // The object is whole: the lock the failed call held is free again.
    EXPECT_EQ(Open(), 1);

    ComPtr<IEnumConnections> connections;
    ASSERT_EQ(m_point->EnumConnections(connections.Put()), S_OK);
    IEnumConnections* clone = reinterpret_cast<IEnumConnections*>(&rc);
    {
        AllocationsFail failing;
        hr = connections->Clone(&clone);
    }
    EXPECT_EQ(hr, E_OUTOFMEMORY);
    EXPECT_EQ(clone, nullptr);

    RecordingSink second;
    DWORD cookie = 0;
    {
        AllocationsFail failing;
        hr = m_point->Advise(&second, &cookie);
    }
    EXPECT_EQ(hr, E_OUTOFMEMORY);
    CONNECTDATA data[2] = {};
    ULONG fetched = 0;
    ASSERT_EQ(m_point->EnumConnections(connections.Put()), S_OK);
    EXPECT_EQ(connections->Next(2, data, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 1u) << "the failed Advise left no sink behind";
    data[0].pUnk->Release();
}

TEST_F(EntryGuard, TheModuleEntryPointsAnswerFailedAllocations) {
    auto registerServer = LoadedFunction<DllRegisterServerFunction>(ModulePath(), "DllRegisterServer");
    auto getClassObject = LoadedFunction<DllGetClassObjectFunction>(ModulePath(), "DllGetClassObject");
    ASSERT_NE(registerServer, nullptr);
    ASSERT_NE(getClassObject, nullptr);
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(getClassObject(CLSID_Communication, IID_IClassFactory, factory.PutVoid()), S_OK);
    ComPtr<ICommunication> object;
    HRESULT registered;
    HRESULT created;
    {
        AllocationsFail failing;
        registered = registerServer();
        created = factory->CreateInstance(nullptr, IID_ICommunication, object.PutVoid());
    }
    EXPECT_TRUE(FAILED(registered));
    EXPECT_EQ(created, E_OUTOFMEMORY);
    EXPECT_FALSE(object);
    EXPECT_EQ(registerServer(), S_OK);
}

}  // namespace
