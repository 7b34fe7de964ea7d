// Receiving: OnComm from the timer, WriteAndRead taking the reply, the
// receive thread's start and end, sinks and the object's own end, and the
// device-change messages of the hidden window.
#include "comm_test_support.h"

#include "usb_driver_class.h"
#include "window/device_notify.h"

#include <dirent.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <thread>

using namespace comm_testing;
using namespace marquen::window;

namespace {

constexpr uint32_t kSeed = 1;

class Events : public CommServerTest {
protected:
    void SetUp() override {
        CommServerTest::SetUp();
        vprinter::VirtualPrinterOptions options;
        options.seed = kSeed;
        StartPrinter(options);
    }

    /// Waits, without pumping, until the printer has written `count` bytes
    /// in all.
    bool PrinterSent(uint64_t count) {
        auto deadline = Clock::now() + milliseconds(kEventWaitMs);
        while (Printer().Counters().bytesSent < count) {
            if (Clock::now() >= deadline)
                return false;
            std::this_thread::yield();
        }
        return true;
    }

    /// WriteAndRead of `command`, room for `room` reply bytes; the reply.
    Bytes Exchange(const Bytes& command, LONG room, LONG* read, LONG* result) {
        Bytes buffer = command;
        buffer.resize(std::max<size_t>(command.size(), static_cast<size_t>(room)), 0);
        VARIANT variant;
        VariantInit(&variant);
        variant.vt = VT_ARRAY | VT_UI1;
        variant.parray = MakeByteArray(buffer);
        *read = room;
        EXPECT_EQ(m_comm->WriteAndRead(&variant, static_cast<LONG>(command.size()), read, result), S_OK);
        Bytes reply = ArrayBytes(variant.parray, static_cast<size_t>(std::max<LONG>(*read, 0)));
        VariantClear(&variant);
        return reply;
    }

    static size_t ThreadCount() {
        size_t count = 0;
        if (DIR* tasks = opendir("/proc/self/task")) {
            while (dirent* entry = readdir(tasks))
                count += entry->d_name[0] != '.';
            closedir(tasks);
        }
        return count;
    }
};

const Bytes kSelect{0x1D, 0x23, 0x05};

}  // namespace

TEST_F(Events, BytesArriveAsOneOnCommWithinAboutOneTimerPeriod) {
    GarbageReplica garbage(kSeed);
    ASSERT_EQ(Open(), 1);
    auto sent = Clock::now();
    Printer().SendGarbage(10);
    ASSERT_TRUE(PumpUntil([&] { return m_sink.ReceivedBytes().size() >= 10; }));
    auto latency = std::chrono::duration_cast<milliseconds>(m_sink.Of(DISPID_OnComm).front().at - sent);
    RecordProperty("latency_ms_100", static_cast<int>(latency.count()));
    EXPECT_LT(latency.count(), 2000) << "one timer period of 100 ms, on a loaded machine";
    EXPECT_EQ(m_sink.Count(DISPID_OnComm), 1u);
    EXPECT_EQ(m_sink.ReceivedBytes(), garbage.Next(10));
    EXPECT_EQ(m_sink.Of(DISPID_OnComm).front().threadId, m_creatorThread);

    // With a period of 500 ms, a tick comes at most that long after the bytes.
    ASSERT_EQ(m_comm->put_PeriodOfOnComm(500), S_OK);
    m_sink.Clear();
    PumpFor(50);
    sent = Clock::now();
    Printer().SendGarbage(7);
    ASSERT_TRUE(PumpUntil([&] { return m_sink.ReceivedBytes().size() >= 7; }));
    latency = std::chrono::duration_cast<milliseconds>(m_sink.Of(DISPID_OnComm).front().at - sent);
    RecordProperty("latency_ms_500", static_cast<int>(latency.count()));
    EXPECT_LT(latency.count(), 3000);
    EXPECT_EQ(m_sink.ReceivedBytes(), garbage.Next(7));
    LONG period = 0;
    m_comm->get_PeriodOfOnComm(&period);
    EXPECT_EQ(period, 500);
}

TEST_F(Events, WriteAndReadTakesWhatItHasRoomForAndLeavesTheRest) {
    GarbageReplica garbage(kSeed);
    const Bytes expected = garbage.Next(10);
    ASSERT_EQ(Open(), 1);
    // Ten bytes queued while nobody pumps (so no tick drains them).
    Printer().SendGarbage(10);
    ASSERT_TRUE(PrinterSent(10));
    LONG read = 0;
    LONG result = 0;
    Bytes reply = Exchange(kSelect, 4, &read, &result);
    EXPECT_EQ(result, 1);
    ASSERT_EQ(read, 4);
    EXPECT_EQ(reply, Bytes(expected.begin(), expected.begin() + 4));
    EXPECT_TRUE(Printer().WaitUntil([](const vprinter::PrinterModel& m) { return m.SelectedSlot() == 5; },
                                    milliseconds(kEventWaitMs)));
    // The six left come as OnComm.
    ASSERT_TRUE(PumpUntil([&] { return m_sink.ReceivedBytes().size() >= 6; }));
    EXPECT_EQ(m_sink.ReceivedBytes(), Bytes(expected.begin() + 4, expected.end()));

    // A real exchange: Logo status of an empty slot, four bytes back.
    reply = Exchange({0x1F, 0x65, 0x07}, 8, &read, &result);
    EXPECT_EQ(result, 1);
    ASSERT_GE(read, 1);
    EXPECT_EQ(reply[0], 0x07);

    // *plRead larger than the array: never more than the array holds.
    Printer().SendGarbage(10);
    ASSERT_TRUE(PrinterSent(Printer().Counters().bytesSent));
    VARIANT variant;
    VariantInit(&variant);
    variant.vt = VT_ARRAY | VT_UI1;
    variant.parray = MakeByteArray(kSelect);
    read = 1000;
    ASSERT_EQ(m_comm->WriteAndRead(&variant, 3, &read, &result), S_OK);
    EXPECT_LE(read, 3);
    VariantClear(&variant);

    // A variant that holds no byte array: nothing written, nothing read.
    VARIANT wrong;
    VariantInit(&wrong);
    wrong.vt = VT_I4;
    wrong.lVal = 0x0F;
    read = 4;
    result = 7;
    ASSERT_EQ(m_comm->WriteAndRead(&wrong, 3, &read, &result), S_OK);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(read, 4);
}

TEST_F(Events, AWaitingWriteAndReadHoldsOnCommBack) {
    GarbageReplica garbage(kSeed);
    ASSERT_EQ(Open(), 1);
    LONG read = 0;
    LONG result = 0;
    Bytes reply;
    std::thread exchange([&] { reply = Exchange(kSelect, 100, &read, &result); });
    // Once the printer has the command, it answers (10 bytes); meanwhile
    // this thread pumps as a user interface would.
    ASSERT_TRUE(PumpUntil([&] { return Printer().Snapshot().SelectedSlot() == 5; }));
    Printer().SendGarbage(10);
    ASSERT_TRUE(PumpUntil([&] { return Printer().Counters().bytesSent >= 10; }));
    exchange.join();
    PumpFor(300);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(read, 10);
    EXPECT_EQ(reply, garbage.Next(10));
    EXPECT_EQ(m_sink.Count(DISPID_OnComm), 0u) << "the exchange took the reply, not a tick";
}

TEST_F(Events, AHangUpEndsAWaitForAReplyAtOnce) {
    ASSERT_EQ(Open(), 1);
    ASSERT_EQ(m_comm->SetTimeout(20000, 5000), S_OK);
    LONG read = 0;
    LONG result = -1;
    Clock::time_point ended{};
    // Select logo has no reply: the exchange waits until the line goes.
    std::thread exchange([&] {
        Exchange(kSelect, 4, &read, &result);
        ended = Clock::now();
    });
    ASSERT_TRUE(PumpUntil([&] { return Printer().Snapshot().SelectedSlot() == 5; }));
    const Clock::time_point hungUp = Clock::now();
    Printer().Stop();  // the printer's end of the line closes
    exchange.join();
    EXPECT_EQ(result, 0);
    // Noticed within moments, not after the 20 s read time-out.
    EXPECT_LT(ended - hungUp, milliseconds(5000));
}

TEST_F(Events, ClosePortEndsTheReadThreadAndOpenPortStartsANewOne) {
    GarbageReplica garbage(kSeed);
    const size_t before = ThreadCount();
    ASSERT_EQ(Open(), 1);
    EXPECT_GT(ThreadCount(), before);
    auto start = Clock::now();
    ASSERT_EQ(m_comm->ClosePort(), S_OK);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(20)) << "within read + write time-out";
    EXPECT_EQ(ThreadCount(), before) << "the read thread (and the port's) ended";
    EXPECT_EQ(Opened(), 0);

    ASSERT_EQ(Open(), 1);
    Printer().SendGarbage(5);
    ASSERT_TRUE(PumpUntil([&] { return m_sink.ReceivedBytes().size() >= 5; }));
    EXPECT_EQ(m_sink.ReceivedBytes(), garbage.Next(5));
}

TEST_F(Events, AnUnadvisedSinkGetsNothingMore) {
    ASSERT_EQ(Open(), 1);
    RecordingSink second;
    DWORD secondCookie = 0;
    ASSERT_EQ(m_point->Advise(&second, &secondCookie), S_OK);
    // The first sink, called first, unadvises the second from inside its
    // handler: the second does not get that event.
    m_sink.onEvent = [&](const Event&) {
        if (secondCookie) {
            EXPECT_EQ(m_point->Unadvise(secondCookie), S_OK);
            secondCookie = 0;
        }
    };
    Printer().SendGarbage(3);
    ASSERT_TRUE(PumpUntil([&] { return m_sink.Count(DISPID_OnComm) == 1; }));
    EXPECT_EQ(second.Count(DISPID_OnComm), 0u);
    EXPECT_EQ(second.References(), 0u);

    // Unadvised from another thread while an event is being delivered to
    // it: Unadvise waits for that call, and nothing follows it.
    RecordingSink third;
    DWORD thirdCookie = 0;
    ASSERT_EQ(m_point->Advise(&third, &thirdCookie), S_OK);
    std::atomic<bool> unadvised{false};
    std::thread other;
    third.onEvent = [&](const Event&) {
        if (other.joinable())
            return;
        other = std::thread([&] {
            EXPECT_EQ(m_point->Unadvise(thirdCookie), S_OK);
            unadvised = true;
        });
        // However long this call takes, Unadvise does not return during it.
        auto until = Clock::now() + milliseconds(200);
        while (Clock::now() < until) {
            EXPECT_FALSE(unadvised.load());
            std::this_thread::yield();
        }
    };
    Printer().SendGarbage(3);
    ASSERT_TRUE(PumpUntil([&] { return unadvised.load(); }));
    other.join();
    Printer().SendGarbage(3);
    ASSERT_TRUE(PumpUntil([&] { return m_sink.Count(DISPID_OnComm) == 3; }));
    EXPECT_EQ(third.Count(DISPID_OnComm), 1u);
    EXPECT_EQ(third.References(), 0u);
}

TEST_F(Events, ASinkMayReleaseTheObjectFromInsideAnEvent) {
    ASSERT_EQ(Open(), 1);
    m_sink.onEvent = [&](const Event&) {
        m_comm->ClosePort();
        m_point->Unadvise(m_cookie);
        m_point.Reset();
        m_comm.Reset();  // the last reference goes while the window handles the tick
    };
    Printer().SendGarbage(3);
    ASSERT_TRUE(PumpUntil([&] { return !m_comm; }));
    PumpFor(200);
    auto canUnload = LoadedFunction<DllCanUnloadNowFunction>(ModulePath(), "DllCanUnloadNow");
    ASSERT_NE(canUnload, nullptr);
    EXPECT_EQ(canUnload(), S_OK);
}

TEST_F(Events, DestroyingAnOpenObjectEndsItsThreadsAndDropsItsMessages) {
    ASSERT_EQ(Open(), 1);
    Printer().SendGarbage(3);
    ASSERT_TRUE(PrinterSent(3));
    // Released from another thread, with the port open and a block posted.
    HWND window = FindWindow(kQuorlinkWindowTitle);
    ASSERT_NE(window, nullptr);
    void* block = std::malloc(4);
    std::memcpy(block, "abcd", 4);
    ASSERT_TRUE(PostMessage(window, WM_RECEIVED_BLOCK, 4, reinterpret_cast<LPARAM>(block)));
    ASSERT_TRUE(PumpUntil([&] { return m_sink.Count(DISPID_OnComm) >= 1; }));
    EXPECT_EQ(m_sink.Of(DISPID_OnComm).front().bytes, (Bytes{'a', 'b', 'c', 'd'}));
    m_point->Unadvise(m_cookie);
    m_point.Reset();
    std::thread releaser([&] { m_comm.Reset(); });
    releaser.join();
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(PostMessage(window, WM_PACKET_PROGRESS, 100, 0));
    PumpFor(200);
    auto canUnload = LoadedFunction<DllCanUnloadNowFunction>(ModulePath(), "DllCanUnloadNow");
    ASSERT_NE(canUnload, nullptr);
    EXPECT_EQ(canUnload(), S_OK) << "no thread left";
    PortLibrary<void>("Comm_CloseCleanuo");
}

TEST_F(Events, DeviceChangesLeaveASerialPortAlone) {
    GarbageReplica garbage(kSeed);
    ASSERT_EQ(Open(), 1);
    DEV_BROADCAST_DEVICEINTERFACE record{};
    record.dbcc_size = sizeof record;
    record.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    record.dbcc_classguid = GUID_CLASS_VANTREX_USB_DRIVER;
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(&record);
    ASSERT_EQ(BroadcastDeviceChange(DBT_DEVICEREMOVECOMPLETE, header), 1u)
        << "the first object registered for the driver's devices";
    BroadcastDeviceChange(DBT_DEVICEARRIVAL, header);
    PumpFor(300);
    EXPECT_EQ(Opened(), 1);
    Printer().SendGarbage(4);
    ASSERT_TRUE(PumpUntil([&] { return m_sink.ReceivedBytes().size() >= 4; }));
    EXPECT_EQ(m_sink.ReceivedBytes(), garbage.Next(4));
}

namespace {

// A slow line: the read thread wakes on a reply's first byte while the rest is
// still on the wire.
class SlowLine : public CommServerTest {
protected:
    void SetUp() override {
        CommServerTest::SetUp();
        vprinter::VirtualPrinterOptions options;
        options.baud = 1200;
        StartPrinter(options);
    }
};

}  // namespace

TEST_F(SlowLine, WriteAndReadWaitsForTheWholeReply) {
    ASSERT_EQ(Open(), 1);
    for (int i = 0; i < 3; ++i) {
        Bytes buffer{0x1F, 0x77, 0x01, 0, 0, 0, 0, 0};
        VARIANT variant;
        VariantInit(&variant);
        variant.vt = VT_ARRAY | VT_UI1;
        variant.parray = MakeByteArray(buffer);
        LONG read = 8;
        LONG result = 0;
        ASSERT_EQ(m_comm->WriteAndRead(&variant, 3, &read, &result), S_OK);
        EXPECT_EQ(result, 1);
        EXPECT_EQ(read, 8) << "the free-memory reply is eight bytes";
        Bytes reply = ArrayBytes(variant.parray, 8);
        VariantClear(&variant);
        EXPECT_EQ(std::string(reply.begin(), reply.begin() + 6), "262144");
    }
}
