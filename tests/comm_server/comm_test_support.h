#pragma once
// Fixtures of the communication server's tests: a scratch registry with
// libquorlink.so registered through regsvr, a virtual printer on a
// pseudo-terminal mapped to COM7, a Communication object created by class id
// with a recording event sink, and a message pump for the test thread.
#include "com/com.h"
#include "com/server_exports.h"
#include "icommunication.h"
#include "kernel/kernel.h"
#include "test_support.h"
#include "virtual_printer.h"
#include "window/message_window.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <poll.h>
#include <sys/wait.h>

#include <atomic>
#include <cstring>
#include <random>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

namespace comm_testing {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;
using std::chrono::milliseconds;
using marquen::kernel::GetCurrentThreadId;
using marquen::window::MessageQueueWakeFd;
using marquen::window::PumpPendingMessages;

/// Generous bounds: the machines that run the suite are shared and slow.
constexpr int kEventWaitMs = 10000;

inline std::string ModulePath() { return (testing_support::BinaryDir() / "libquorlink.so").string(); }

/// Runs build/bin/regsvr on libquorlink.so; its exit status.
inline int Regsvr(const std::string& options = "") {
    std::string command = "'" + (testing_support::BinaryDir() / "regsvr").string() + "' " + options + " '" +
                          ModulePath() + "' >/dev/null 2>&1";
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

/// A function of a library this process has loaded already (the server, or
/// the port library it links), or null.
template <class Function>
Function LoadedFunction(const std::string& library, const char* name) {
    void* handle = ::dlopen(library.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!handle)
        return nullptr;
    void* symbol = ::dlsym(handle, name);
    ::dlclose(handle);
    return reinterpret_cast<Function>(symbol);
}

inline std::string PortLibraryPath() { return (testing_support::BinaryDir() / "libfundaport.so").string(); }

/// Calls a Comm_ function of the port library the server has loaded.
template <class Result, class... Args>
Result PortLibrary(const char* name, Args... args) {
    auto function = LoadedFunction<Result (*)(Args...)>(PortLibraryPath(), name);
    if (!function) {
        ADD_FAILURE() << name << " not found in the loaded port library";
        if constexpr (std::is_void_v<Result>)
            return;
        else
            return Result{};
    }
    return function(args...);
}

/// Pumps the calling thread's messages until `done` holds or `milliseconds`
/// pass, as a host event loop would: poll the wake descriptor, then pump.
inline bool PumpUntil(const std::function<bool()>& done, int timeoutMs = kEventWaitMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    pollfd wake{MessageQueueWakeFd(), POLLIN, 0};
    while (!done()) {
        if (Clock::now() >= deadline)
            return false;
        wake.revents = 0;
        if (poll(&wake, 1, 10) > 0)
            PumpPendingMessages();
    }
    return true;
}

/// Pumps for a fixed time (to see that nothing more arrives).
inline void PumpFor(int durationMs) {
    PumpUntil([] { return false; }, durationMs);
}

/// One event as a sink saw it.
struct Event {
    DISPID id = 0;
    DWORD threadId = 0;
    Bytes bytes;       // OnComm
    LONG value = 0;    // OnComm: lLength; OnUpdateProgress: percent
    Clock::time_point at;
};

/// An event sink that records every call and checks its shape.
class RecordingSink final : public IDispatch {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
            IsEqualIID(riid, DIID__ICommunicationEvents)) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++m_references; }
    ULONG Release() override { return --m_references; }
    HRESULT GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }

    HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                   UINT*) override {
        EXPECT_TRUE(IsEqualIID(riid, IID_NULL));
        EXPECT_EQ(lcid, LOCALE_USER_DEFAULT);
        EXPECT_EQ(flags, DISPATCH_METHOD);
        EXPECT_EQ(params->cNamedArgs, 0u);
        Event event;
        event.id = id;
        event.threadId = GetCurrentThreadId();
        event.at = Clock::now();
        if (id == DISPID_OnComm) {
            EXPECT_EQ(params->cArgs, 2u);
            EXPECT_EQ(params->rgvarg[0].vt, VT_I4);
            EXPECT_EQ(params->rgvarg[1].vt, 0x6011);
            event.value = params->rgvarg[0].lVal;
            SAFEARRAY* array = *params->rgvarg[1].pparray;
            EXPECT_EQ(SafeArrayGetDim(array), 1u);
            LONG lower = -1;
            SafeArrayGetLBound(array, 1, &lower);
            EXPECT_EQ(lower, 0);
            EXPECT_EQ(static_cast<LONG>(array->rgsabound[0].cElements), event.value);
            const auto* data = static_cast<const uint8_t*>(array->pvData);
            event.bytes.assign(data, data + array->rgsabound[0].cElements);
        } else if (id == DISPID_OnUpdateProgress) {
            EXPECT_EQ(params->cArgs, 1u);
            EXPECT_EQ(params->rgvarg[0].vt, VT_I4);
            event.value = params->rgvarg[0].lVal;
        } else {
            EXPECT_EQ(id, DISPID_OnError);
            EXPECT_EQ(params->cArgs, 0u);
        }
        {
            std::lock_guard guard(m_lock);
            m_events.push_back(event);
        }
        if (onEvent)
            onEvent(event);
        return S_OK;
    }

    std::vector<Event> Events() const {
        std::lock_guard guard(m_lock);
        return m_events;
    }
    std::vector<Event> Of(DISPID id) const {
        std::vector<Event> out;
        for (const Event& e : Events())
            if (e.id == id)
                out.push_back(e);
        return out;
    }
    size_t Count(DISPID id) const { return Of(id).size(); }
    /// Every byte raised by OnComm so far, in order.
    Bytes ReceivedBytes() const {
        Bytes all;
        for (const Event& e : Of(DISPID_OnComm))
            all.insert(all.end(), e.bytes.begin(), e.bytes.end());
        return all;
    }
    void Clear() {
        std::lock_guard guard(m_lock);
        m_events.clear();
    }
    ULONG References() const { return m_references; }

    /// Called on the delivering thread after each event is recorded.
    std::function<void(const Event&)> onEvent;

private:
    mutable std::mutex m_lock;
    std::vector<Event> m_events;
    std::atomic<ULONG> m_references{0};
};

/// A one-dimensional byte array holding `bytes`.
inline SAFEARRAY* MakeByteArray(const Bytes& bytes) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    if (array && !bytes.empty())
        std::memcpy(array->pvData, bytes.data(), bytes.size());
    return array;
}

inline Bytes ArrayBytes(SAFEARRAY* array, size_t count) {
    const auto* data = static_cast<const uint8_t*>(array->pvData);
    return Bytes(data, data + count);
}

/// The bytes a printer with this seed sends for SendGarbage, burst after burst.
class GarbageReplica {
public:
    explicit GarbageReplica(uint32_t seed) : m_random(seed) {}
    Bytes Next(size_t count) {
        std::uniform_int_distribution<int> byte(0, 255);
        Bytes out;
        for (size_t i = 0; i < count; ++i)
            out.push_back(static_cast<uint8_t>(byte(m_random)));
        return out;
    }

private:
    std::mt19937 m_random;
};

/// Saves and restores the environment variables a test changes.
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
            if (m_saved[i])
                setenv(kNames[i], m_saved[i]->c_str(), 1);
            else
                unsetenv(kNames[i]);
        }
    }

private:
    static constexpr const char* kNames[] = {"QUORLINK_PORT_MAP", "XDG_CONFIG_HOME"};
    std::vector<std::optional<std::string>> m_saved;
};

/// The registered server, a printer on COM7, and one object with a sink.
class CommServerTest : public ::testing::Test {
protected:
    static constexpr const wchar_t* kPrinterPort = L"COM7";

    void SetUp() override {
        setenv("XDG_CONFIG_HOME", m_dir.path().c_str(), 1);
        ASSERT_EQ(Regsvr(), 0) << "regsvr could not register " << ModulePath();
        StartPrinter();
        ASSERT_EQ(CoInitialize(nullptr), S_OK);
        ASSERT_EQ(CoCreateInstance(CLSID_Communication, nullptr, CLSCTX_INPROC_SERVER, IID_ICommunication,
                                   m_comm.PutVoid()),
                  S_OK);
        ComPtr<IConnectionPointContainer> container;
        ASSERT_EQ(m_comm.As(container), S_OK);
        ASSERT_EQ(container->FindConnectionPoint(DIID__ICommunicationEvents, m_point.Put()), S_OK);
        ASSERT_EQ(m_point->Advise(&m_sink, &m_cookie), S_OK);
        m_creatorThread = GetCurrentThreadId();
    }

    void TearDown() override {
        if (m_comm) {
            m_comm->ClosePort();
            if (m_point)
                m_point->Unadvise(m_cookie);
            m_point.Reset();
            m_comm.Reset();
        }
        CoFreeUnusedLibraries();
        CoUninitialize();
        if (m_printer)
            m_printer->Stop();
    }

    /// A new printer (options as given) on a new pseudo-terminal, mapped to
    /// COM7 and COM3; the map also names LPT1 and COM2 with nodes that exist.
    void StartPrinter(vprinter::VirtualPrinterOptions options = {}) {
        if (m_printer)
            m_printer->Stop();
        m_printer = std::make_unique<vprinter::VirtualPrinter>(std::move(options));
        std::string error;
        ASSERT_TRUE(m_printer->Start(error)) << error;
        WriteMap("COM7=" + m_printer->SlavePath() + "\nCOM3=" + m_printer->SlavePath() +
                 "\nLPT1=/dev/null\nCOM2=/dev/null\n");
    }

    void WriteMap(const std::string& text) {
        testing_support::WriteFileBytes(m_dir / "ports", Bytes(text.begin(), text.end()));
        setenv("QUORLINK_PORT_MAP", (m_dir / "ports").c_str(), 1);
    }

    LONG Open(const wchar_t* port = kPrinterPort) {
        Bstr name(port);
        LONG rc = -5;
        EXPECT_EQ(m_comm->OpenPort(name.Get(), &rc), S_OK);
        return rc;
    }

    LONG Opened() {
        LONG opened = -5;
        EXPECT_EQ(m_comm->get_Opened(&opened), S_OK);
        return opened;
    }

    /// WritePort of `bytes` (all of them unless `length` is given).
    LONG Write(const Bytes& bytes, LONG packetSize = 0, std::optional<LONG> length = std::nullopt,
               LONG* written = nullptr, HRESULT* result = nullptr) {
        SAFEARRAY* array = MakeByteArray(bytes);
        LONG count = 0;
        LONG rc = -5;
        HRESULT hr = m_comm->WritePort(&array, length.value_or(static_cast<LONG>(bytes.size())), &count,
                                       packetSize, &rc);
        // The transfer works on its own copy: the array goes at once.
        SafeArrayDestroy(array);
        if (written)
            *written = count;
        if (result)
            *result = hr;
        else
            EXPECT_EQ(hr, S_OK);
        return rc;
    }

    vprinter::VirtualPrinter& Printer() { return *m_printer; }

    ScopedEnvironment m_environment;
    testing_support::TempDir m_dir;
    std::unique_ptr<vprinter::VirtualPrinter> m_printer;
    RecordingSink m_sink;
    ComPtr<ICommunication> m_comm;
    ComPtr<IConnectionPoint> m_point;
    DWORD m_cookie = 0;
    DWORD m_creatorThread = 0;
};

}  // namespace comm_testing
