// The event sink: its COM identity, the argument descriptions, and how the
// three events become view messages (OnComm in slices of at most 1024 bytes).
#include "comm_event_sink.h"
#include "command_ids.h"
#include "fake_communication.h"

#include <gtest/gtest.h>

#include <numeric>
#include <stdexcept>

using comm_testing::Bytes;
using comm_testing::FakeCommunication;

namespace {

struct Sent {
    UINT message;
    WPARAM wParam;
    Bytes bytes;  ///< WM_COMM_BYTES: the slice, copied during the call
};

class RecordingView : public ICommMessageTarget, public ICommViewLocator {
public:
    LRESULT SendCommMessage(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        Sent record{message, wParam, {}};
        if (message == WM_COMM_BYTES) {
            const uint8_t* bytes = reinterpret_cast<const uint8_t*>(lParam);
            record.bytes.assign(bytes, bytes + wParam);
        }
        sent.push_back(record);
        if (throws)
            throw std::runtime_error("view failed");
        return 0;
    }
    ICommMessageTarget* FindActiveView() override { return present ? this : nullptr; }

    std::vector<size_t> SliceSizes() const
    {
        std::vector<size_t> sizes;
        for (const Sent& s : sent)
            sizes.push_back(s.wParam);
        return sizes;
    }

    bool present = true;
    /// Thrown from every message after it was recorded.
    bool throws = false;
    std::vector<Sent> sent;
};

class EventSinkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(AdviseCommEventSink(&comm, sink), S_OK);
        EXPECT_EQ(sink.m_dwCookie, comm.cookie);
    }
    void TearDown() override { UnadviseCommEventSink(&comm, sink); }

    FakeCommunication comm;
    RecordingView view;
    CCommEventSink sink{view};
};

TEST_F(EventSinkTest, IdentityAndTypeInformation)
{
    void* asDispatch = nullptr;
    void* asEvents = nullptr;
    void* asUnknown = nullptr;
    EXPECT_EQ(sink.QueryInterface(IID_IDispatch, &asDispatch), S_OK);
    EXPECT_EQ(sink.QueryInterface(DIID__ICommunicationEvents, &asEvents), S_OK);
    EXPECT_EQ(sink.QueryInterface(IID_IUnknown, &asUnknown), S_OK);
    EXPECT_EQ(asDispatch, asEvents);
    EXPECT_EQ(asDispatch, asUnknown);
    void* other = &sink;
    EXPECT_EQ(sink.QueryInterface(IID_ICommunication, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(sink.QueryInterface(IID_IDispatch, nullptr), E_POINTER);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(sink.AddRef(), 1u);
        EXPECT_EQ(sink.Release(), 1u);
    }
    UINT count = 7;
    EXPECT_EQ(sink.GetTypeInfoCount(&count), E_NOTIMPL);
    EXPECT_EQ(sink.GetTypeInfo(0, 0, nullptr), E_NOTIMPL);
    EXPECT_EQ(sink.GetIDsOfNames(IID_NULL, nullptr, 0, 0, nullptr), E_NOTIMPL);

    CommEventDescription info;
    ASSERT_EQ(sink.GetFuncInfoFromId(DIID__ICommunicationEvents, DISPID_OnComm, 0, info), S_OK);
    EXPECT_EQ(info.callingConvention, CC_STDCALL);
    EXPECT_EQ(info.returnType, VT_EMPTY);
    EXPECT_EQ(info.argumentCount, 2u);
    EXPECT_EQ(info.argumentTypes[1], VT_I4);
    ASSERT_EQ(sink.GetFuncInfoFromId(DIID__ICommunicationEvents, DISPID_OnUpdateProgress, 0, info), S_OK);
    EXPECT_EQ(info.argumentCount, 1u);
    ASSERT_EQ(sink.GetFuncInfoFromId(DIID__ICommunicationEvents, DISPID_OnError, 0, info), S_OK);
    EXPECT_EQ(info.argumentCount, 0u);
    EXPECT_EQ(sink.GetFuncInfoFromId(DIID__ICommunicationEvents, 4, 0, info), E_FAIL);
    EXPECT_EQ(sink.GetFuncInfoFromId(IID_IDispatch, DISPID_OnComm, 0, info), E_FAIL);
}

TEST_F(EventSinkTest, OnCommIsSentInSlicesOfAtMost1024BytesInOrder)
{
    const std::vector<std::pair<size_t, std::vector<size_t>>> cases = {
        {1024, {1024}}, {1025, {1024, 1}}, {2048, {1024, 1024}}, {3000, {1024, 1024, 952}}, {1, {1}}, {0, {}}};
    for (const auto& [length, slices] : cases) {
        SCOPED_TRACE(length);
        view.sent.clear();
        Bytes bytes(length);
        std::iota(bytes.begin(), bytes.end(), uint8_t{3});
        comm.RaiseOnComm(bytes);
        EXPECT_EQ(view.SliceSizes(), slices);
        Bytes joined;
        for (const Sent& s : view.sent) {
            EXPECT_EQ(s.message, WM_COMM_BYTES);
            joined.insert(joined.end(), s.bytes.begin(), s.bytes.end());
        }
        EXPECT_EQ(joined, bytes);
    }
}

TEST_F(EventSinkTest, OnCommThatCannotBeReadIsDropped)
{
    // A count beyond the array is cut to the array; a count below 1 is nothing.
    comm.RaiseOnCommCount(Bytes(10, 0x41), 5000);
    EXPECT_EQ(view.SliceSizes(), std::vector<size_t>{10});
    view.sent.clear();
    comm.RaiseOnCommCount(Bytes(10, 0x41), -3);
    EXPECT_TRUE(view.sent.empty());

    // Two dimensions.
    SAFEARRAYBOUND bounds[2] = {{4, 0}, {4, 0}};
    SAFEARRAY* square = SafeArrayCreate(VT_UI1, 2, bounds);
    VARIANTARG args[2];
    VariantInit(&args[0]);
    VariantInit(&args[1]);
    args[0].vt = VT_I4;
    args[0].lVal = 16;
    args[1].vt = VT_BYREF | VT_ARRAY | VT_UI1;
    args[1].pparray = &square;
    DISPPARAMS params{args, nullptr, 2, 0};
    EXPECT_EQ(sink.Invoke(DISPID_OnComm, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr), S_OK);
    EXPECT_TRUE(view.sent.empty());
    SafeArrayDestroy(square);

    // The count in place of the array, and the wrong number of arguments.
    args[1] = args[0];
    EXPECT_EQ(sink.Invoke(DISPID_OnComm, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr), S_OK);
    params.cArgs = 1;
    EXPECT_EQ(sink.Invoke(DISPID_OnComm, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(sink.Invoke(DISPID_OnUpdateProgress, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr,
                          nullptr),
              S_OK);
    EXPECT_EQ(sink.Invoke(99, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr), S_OK);
    EXPECT_TRUE(view.sent.empty());

    // Without a view every event is dropped.
    view.present = false;
    comm.RaiseOnComm(Bytes(5, 1));
    comm.RaiseProgress(50);
    comm.RaiseError();
    EXPECT_TRUE(view.sent.empty());
}

TEST_F(EventSinkTest, ProgressAndErrorBecomeTheirMessages)
{
    comm.RaiseProgress(42);
    comm.RaiseProgress(100);
    comm.RaiseError();
    ASSERT_EQ(view.sent.size(), 3u);
    EXPECT_EQ(view.sent[0].message, WM_COMM_PROGRESS);
    EXPECT_EQ(view.sent[0].wParam, 42u);
    EXPECT_EQ(view.sent[1].wParam, 100u);
    EXPECT_EQ(view.sent[2].message, WM_COMM_ERROR);
    EXPECT_EQ(view.sent[2].wParam, 0u);
}

TEST_F(EventSinkTest, NothingTheViewThrowsReachesTheServer)
{
    // The server calls Invoke from its own module; an exception unwinding
    // into it would end the program.
    view.throws = true;
    EXPECT_NO_THROW(comm.RaiseOnComm(Bytes(2000, 7)));
    EXPECT_EQ(view.SliceSizes(), std::vector<size_t>{1024});  // the rest of that event is dropped
    EXPECT_NO_THROW(comm.RaiseProgress(10));
    EXPECT_NO_THROW(comm.RaiseError());
    EXPECT_EQ(view.sent.size(), 3u);

    // Later events are delivered as usual.
    view.throws = false;
    comm.RaiseOnComm(Bytes(3, 9));
    EXPECT_EQ(view.sent.back().bytes, Bytes(3, 9));
}

TEST_F(EventSinkTest, UnadviseDisconnects)
{
    UnadviseCommEventSink(&comm, sink);
    EXPECT_EQ(sink.m_dwCookie, CCommEventSink::kNotConnected);
    EXPECT_EQ(comm.sink, nullptr);
    EXPECT_EQ(comm.calls.back(), "Unadvise 4660");
    // A second time does nothing.
    UnadviseCommEventSink(&comm, sink);
    EXPECT_EQ(comm.calls.back(), "Unadvise 4660");
}

}  // namespace
