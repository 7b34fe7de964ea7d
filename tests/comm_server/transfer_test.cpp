// Packetised writes: progress, the writer's own copy of the bytes, aborts,
// a transfer replaced by the next, ClosePort during a transfer, and a
// printer that hangs up in the middle.
#include "comm_test_support.h"

#include <thread>

using namespace comm_testing;

namespace {

Bytes Filler(size_t count) {
    Bytes bytes(count);
    for (size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<uint8_t>(' ' + i % 90);  // no command byte among them
    return bytes;
}

std::vector<LONG> Percentages(const RecordingSink& sink) {
    std::vector<LONG> out;
    for (const Event& e : sink.Of(DISPID_OnUpdateProgress))
        out.push_back(e.value);
    return out;
}

class Transfer : public CommServerTest {};

}  // namespace

TEST_F(Transfer, PacketsReportProgressOnTheCreatingThread) {
    ASSERT_EQ(Open(), 1);
    const Bytes bytes = Filler(1000);
    // Started from another thread: the events still come to this one.
    LONG rc = 0;
    std::thread caller([&] { rc = Write(bytes, 300); });
    caller.join();
    ASSERT_EQ(rc, WRITEPORT_RC_SUCCESS);
    ASSERT_TRUE(PumpUntil([&] { return m_sink.Count(DISPID_OnUpdateProgress) == 4; }));
    EXPECT_EQ(Percentages(m_sink), (std::vector<LONG>{30, 60, 90, 100}));
    for (const Event& e : m_sink.Events())
        EXPECT_EQ(e.threadId, m_creatorThread);
    EXPECT_EQ(m_sink.Count(DISPID_OnError), 0u);
    // The array was destroyed as soon as WritePort returned: the printer
    // still got every byte, in order.
    ASSERT_TRUE(Printer().WaitUntil([](const vprinter::PrinterModel& m) { return m.UnknownByteCount() >= 1000; },
                                    milliseconds(kEventWaitMs)));
    EXPECT_EQ(Printer().Snapshot().UnknownBytes(), bytes);

    // A new transfer after the last one ended.
    m_sink.Clear();
    ASSERT_EQ(Write(Filler(10), 64), WRITEPORT_RC_SUCCESS);
    ASSERT_TRUE(PumpUntil([&] { return m_sink.Count(DISPID_OnUpdateProgress) == 1; }));
    EXPECT_EQ(Percentages(m_sink), (std::vector<LONG>{100}));
}

TEST_F(Transfer, PercentagesOfLongTransfersDoNotOverflow) {
    ASSERT_EQ(Open(), 1);
    // Packets of 11 MB take a while on a slow (instrumented) build.
    ASSERT_EQ(m_comm->SetTimeout(15000, 60000), S_OK);
    // 22 MB: sent x 100 passes 2^31 in the second packet.
    ASSERT_EQ(Write(Bytes(22'000'000, ' '), 11'000'000), WRITEPORT_RC_SUCCESS);
    ASSERT_TRUE(PumpUntil([&] { return m_sink.Count(DISPID_OnUpdateProgress) == 2 || m_sink.Count(DISPID_OnError); },
                          120000));
    EXPECT_EQ(Percentages(m_sink), (std::vector<LONG>{50, 100}));
    EXPECT_EQ(m_sink.Count(DISPID_OnError), 0u);
}

TEST_F(Transfer, AbortEndsTheTransferWithNoFurtherEvent) {
    ASSERT_EQ(Open(), 1);
    Printer().StallAfterBytes(3 * 64, std::nullopt);
    // Far more than the terminal buffers hold: the writer is soon stuck.
    ASSERT_EQ(Write(Filler(1 << 20), 64), WRITEPORT_RC_SUCCESS);
    ASSERT_TRUE(Printer().WaitForStall(milliseconds(kEventWaitMs)));
    ASSERT_TRUE(PumpUntil([&] { return m_sink.Count(DISPID_OnUpdateProgress) >= 3; }));
    auto start = Clock::now();
    ASSERT_EQ(m_comm->AbortTransfert(), S_OK);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(20)) << "within read + write time-out";
    size_t seen = m_sink.Count(DISPID_OnUpdateProgress);
    Printer().EndStall();
    PumpFor(500);
    EXPECT_EQ(m_sink.Count(DISPID_OnUpdateProgress), seen) << "no progress after the abort returned";
    EXPECT_EQ(m_sink.Count(DISPID_OnError), 0u) << "an abort the caller asked for is no error";
    EXPECT_EQ(Opened(), 1);
    // The port goes on working, replies included.
    Printer().WithModel([](vprinter::PrinterModel& m) { m.ClearHistory(); return 0; });
    Bytes status{0x1F, 0x65, 0x00};
    SAFEARRAY* array = MakeByteArray(status);
    VARIANT buffer;
    VariantInit(&buffer);
    buffer.vt = VT_ARRAY | VT_UI1;
    buffer.parray = array;
    LONG read = 3;
    LONG result = 0;
    // Whatever the printer still had of the stream may reach it first; the
    // status request then comes back with its 4-byte reply.
    ASSERT_EQ(m_comm->WriteAndRead(&buffer, 3, &read, &result), S_OK);
    EXPECT_EQ(result, 1);
    VariantClear(&buffer);
}

TEST_F(Transfer, ANewTransferOrClosePortEndsTheOneInProgress) {
    ASSERT_EQ(Open(), 1);
    Printer().StallAfterBytes(64, std::nullopt);
    ASSERT_EQ(Write(Filler(1 << 20), 64), WRITEPORT_RC_SUCCESS);
    ASSERT_TRUE(Printer().WaitForStall(milliseconds(kEventWaitMs)));
    // The second transfer replaces the first, whose progress is not raised.
    ASSERT_EQ(Write(Filler(100), 50), WRITEPORT_RC_SUCCESS);
    Printer().EndStall();
    ASSERT_TRUE(PumpUntil([&] {
        auto p = Percentages(m_sink);
        return !p.empty() && p.back() == 100;
    }));
    PumpFor(300);
    EXPECT_EQ(Percentages(m_sink), (std::vector<LONG>{50, 100}));
    EXPECT_EQ(m_sink.Count(DISPID_OnError), 0u);

    // ClosePort in the middle of a transfer ends it first.
    m_sink.Clear();
    Printer().StallAfterBytes(Printer().Counters().bytesReceived + 64, std::nullopt);
    ASSERT_EQ(Write(Filler(1 << 20), 64), WRITEPORT_RC_SUCCESS);
    ASSERT_TRUE(Printer().WaitForStall(milliseconds(kEventWaitMs)));
    ASSERT_EQ(m_comm->ClosePort(), S_OK);
    EXPECT_EQ(Opened(), 0);
    PumpFor(300);
    EXPECT_EQ(m_sink.Count(DISPID_OnError), 0u);
    // And the object's end during a transfer leaves no thread behind.
    Printer().EndStall();
    ASSERT_EQ(Open(), 1);
    Printer().StallAfterBytes(Printer().Counters().bytesReceived + 64, std::nullopt);
    ASSERT_EQ(Write(Filler(1 << 20), 64), WRITEPORT_RC_SUCCESS);
    ASSERT_TRUE(Printer().WaitForStall(milliseconds(kEventWaitMs)));
    m_point->Unadvise(m_cookie);
    m_point.Reset();
    m_comm.Reset();
    auto canUnload = LoadedFunction<DllCanUnloadNowFunction>(ModulePath(), "DllCanUnloadNow");
    ASSERT_NE(canUnload, nullptr);
    EXPECT_EQ(canUnload(), S_OK);
    PortLibrary<void>("Comm_CloseCleanuo");
}

TEST_F(Transfer, HangUpMidTransferRaisesOnErrorAndReopeningWorks) {
    vprinter::VirtualPrinterOptions options;
    options.printer.logoAreaKbytes = 1024;
    StartPrinter(options);
    ASSERT_EQ(Open(), 1);
    Printer().WithModel([](vprinter::PrinterModel& m) {
        m.Faults().hangUpAfterDefineBytes = 1000;
        return 0;
    });
    // The largest Define logo, 255 x 255 x 8 bytes: far more than the
    // terminal can buffer, so the printer's hang-up cuts the transfer.
    Bytes define{0x1D, 0x2A, 255, 255};
    define.resize(4 + 255 * 255 * 8, 0x55);
    ASSERT_EQ(Write(define, 64), WRITEPORT_RC_SUCCESS);
    ASSERT_TRUE(PumpUntil([&] { return m_sink.Count(DISPID_OnError) == 1; }, 30000));
    PumpFor(300);
    EXPECT_EQ(m_sink.Count(DISPID_OnError), 1u);
    for (LONG p : Percentages(m_sink))
        EXPECT_LT(p, 100);
    EXPECT_TRUE(Printer().HungUp());

    // A new printer on the same name; the object opens it again.
    StartPrinter(options);
    m_sink.Clear();
    ASSERT_EQ(m_comm->ClosePort(), S_OK);
    ASSERT_EQ(Open(), 1);
    ASSERT_EQ(Write(define, 64), WRITEPORT_RC_SUCCESS);
    ASSERT_TRUE(PumpUntil([&] {
        auto p = Percentages(m_sink);
        return !p.empty() && p.back() == 100;
    }));
    EXPECT_TRUE(Printer().WaitForDefineCompleted(0, milliseconds(kEventWaitMs)));
    EXPECT_EQ(m_sink.Count(DISPID_OnError), 0u);
}
