// The virtual printer over its pseudo-terminal, run in-process the way the
// tests of other subsystems run it: a client opens the device path, talks to
// the printer and sees each fault switch do what it says.
#include "virtual_printer.h"

#include "pty_client.h"

#include <gtest/gtest.h>

#include <sys/file.h>
#include <sys/ioctl.h>

#include <thread>

using namespace vprinter;
using namespace pty_client;
using std::chrono::steady_clock;

namespace {

Bytes DefineLogo(uint8_t x, uint8_t y)
{
    Bytes stream{0x1D, 0x2A, x, y};
    for (size_t i = 0; i < size_t{x} * y * 8; ++i)
        stream.push_back(static_cast<uint8_t>(i ^ 0x5A));
    return stream;
}

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes Status(uint8_t n) { return {0x1F, 0x65, n}; }
Bytes Select(uint8_t n) { return {0x1D, 0x23, n}; }

class VirtualPrinterTest : public ::testing::Test {
protected:
    void Start(VirtualPrinterOptions options = {})
    {
        m_printer = std::make_unique<VirtualPrinter>(std::move(options));
        std::string error;
        ASSERT_TRUE(m_printer->Start(error)) << error;
        ASSERT_FALSE(m_printer->SlavePath().empty());
    }
    VirtualPrinter& Printer() { return *m_printer; }

    std::unique_ptr<VirtualPrinter> m_printer;
};

milliseconds Since(steady_clock::time_point start)
{
    return std::chrono::duration_cast<milliseconds>(steady_clock::now() - start);
}

}  // namespace

TEST_F(VirtualPrinterTest, DefineThenStatusOverTheLine)
{
    Start();
    Client client(Printer().SlavePath());
    const Bytes stream{0x1D, 0x2A, 0x01, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    client.Write(Cat({Select(5), stream}));
    ASSERT_TRUE(Printer().WaitForDefineCompleted(5, kReplyTimeout));
    client.Write(Status(5));
    EXPECT_EQ(client.Read(4), (Bytes{0x05, 0x01, 0xBF, 0xF7}));
    EXPECT_EQ(Printer().WithModel([](PrinterModel& m) { return m.Slot(5).stream; }), stream);
}

TEST_F(VirtualPrinterTest, StateSetThroughTheApiIsWhatTheLineSees)
{
    Start();
    const Bytes stream = DefineLogo(2, 2);
    ASSERT_TRUE(Printer().WithModel([&](PrinterModel& m) { return m.StoreLogo(9, stream); }));
    Printer().WithModel([](PrinterModel& m) { m.OverrideChecksum(9, 0x1234); });
    Client client(Printer().SlavePath());
    client.Write(Status(9));
    EXPECT_EQ(client.Read(4), (Bytes{0x09, 0x01, 0x34, 0x12}));
}

TEST_F(VirtualPrinterTest, TheLineOutlivesItsClients)
{
    Start();
    {
        Client first(Printer().SlavePath());
        first.Write({0x1D, 0x0B});
        EXPECT_EQ(first.Read(1), (Bytes{0x20}));
    }
    // Nobody has the device open now; the printer must neither spin nor
    // lose its line, and the next client is served as the first was.
    ASSERT_TRUE(Printer().WaitUntilIdle(kReplyTimeout));
    Client second(Printer().SlavePath());
    second.Write({0x1F, 0x07, 0x55});
    EXPECT_EQ(second.Read(3), (Bytes{0x55, 0x04, 0x00}));
    EXPECT_TRUE(Printer().Running());
}

TEST_F(VirtualPrinterTest, EraseAnswersZeroDAfterItsDelay)
{
    VirtualPrinterOptions options;
    options.printer.eraseDelay = milliseconds(300);
    Start(options);
    ASSERT_TRUE(Printer().WithModel([](PrinterModel& m) { return m.StoreLogo(1, DefineLogo(1, 1)); }));
    Client client(Printer().SlavePath());
    const auto start = steady_clock::now();
    client.Write({0x1D, 0x40, 0x31});
    EXPECT_EQ(client.Read(1), (Bytes{0x0D}));
    EXPECT_GE(Since(start).count(), 300);
    EXPECT_FALSE(Printer().Snapshot().Slot(1).stored);
}

TEST_F(VirtualPrinterTest, PacingAtAFixedRateTakesAtLeastTheLineTime)
{
    VirtualPrinterOptions options;
    options.baud = 9600;
    Start(options);
    Client client(Printer().SlavePath(), B115200);
    // 3 + 132 + 3 bytes in, 4 out: at 9600 baud (960 bytes a second) no
    // less than about 140 ms, whatever the client's own setting says.
    const Bytes request = Cat({Select(0), DefineLogo(4, 4), Status(0)});
    const auto start = steady_clock::now();
    client.Write(request);
    Bytes reply = client.Read(4);
    const milliseconds elapsed = Since(start);
    ASSERT_EQ(reply.size(), 4u);
    EXPECT_EQ(reply[1], 0x01);
    EXPECT_GE(elapsed.count(), static_cast<int64_t>(request.size() - 10) * 1000 / 960) << elapsed.count() << " ms";

    // The way back is paced too: the upload answer of a 32 x 32 logo is
    // 1 + 62 + 32 x 4 = 191 bytes.
    const auto uploadStart = steady_clock::now();
    client.Write({0x1F, 0x6A});
    const Bytes answer = client.Read(191);
    ASSERT_EQ(answer.size(), 191u);
    EXPECT_GE(Since(uploadStart).count(), (191 - 10) * 1000 / 960);
}

TEST_F(VirtualPrinterTest, PacingFollowsTheSpeedTheClientSet)
{
    VirtualPrinterOptions options;
    options.paceFromLine = true;
    Start(options);
    Client client(Printer().SlavePath(), B4800);
    const Bytes request = Cat({Select(0), DefineLogo(4, 4), Status(0)});
    const auto start = steady_clock::now();
    client.Write(request);
    ASSERT_EQ(client.Read(4).size(), 4u);
    EXPECT_GE(Since(start).count(), static_cast<int64_t>(request.size() - 10) * 1000 / 480);
}

TEST_F(VirtualPrinterTest, DropNextReplyLosesExactlyOneAnswer)
{
    Start();
    Printer().WithModel([](PrinterModel& m) { m.Faults().dropNextReplies = 1; });
    Client client(Printer().SlavePath());
    client.Write(Cat({Status(1), Status(2)}));
    // The first answer to arrive is the second one's.
    EXPECT_EQ(client.Read(4), (Bytes{0x02, 0x00, 0x00, 0x00}));
    EXPECT_EQ(Printer().Snapshot().RepliesDropped(), 1u);
}

TEST_F(VirtualPrinterTest, DropEveryReplyOfOneCommand)
{
    Start();
    Printer().WithModel([](PrinterModel& m) {
        m.Faults().dropRepliesOf[static_cast<size_t>(Command::LogoStatus)] = true;
    });
    Client client(Printer().SlavePath());
    client.Write(Cat({Status(1), {0x1D, 0x0B}, Status(2), {0x1D, 0x0B}}));
    EXPECT_EQ(client.Read(2), (Bytes{0x20, 0x20}));
}

TEST_F(VirtualPrinterTest, CorruptChecksumFault)
{
    Start();
    const Bytes stream = DefineLogo(1, 1);
    Printer().WithModel([&](PrinterModel& m) {
        m.Faults().corruptChecksum = true;
        return m.StoreLogo(0, stream);
    });
    Client client(Printer().SlavePath());
    client.Write(Status(0));
    Bytes reply = client.Read(4);
    ASSERT_EQ(reply.size(), 4u);
    EXPECT_EQ(reply[1], 0x01);
    EXPECT_NE(reply[2] | reply[3] << 8, LogoChecksum(stream));
}

TEST_F(VirtualPrinterTest, StallForeverReadsNothingUntilEnded)
{
    Start();
    Printer().Stall(std::nullopt);
    Client client(Printer().SlavePath());
    client.Write({0x1D, 0x0B});
    EXPECT_TRUE(client.Read(1, milliseconds(300)).empty());
    EXPECT_EQ(Printer().Counters().bytesReceived, 0u);
    EXPECT_TRUE(Printer().Stalled());
    Printer().EndStall();
    EXPECT_EQ(client.Read(1), (Bytes{0x20}));
}

TEST_F(VirtualPrinterTest, TimedStallDelaysTheReply)
{
    Start();
    Client client(Printer().SlavePath());
    const auto start = steady_clock::now();
    Printer().Stall(milliseconds(300));
    client.Write({0x1D, 0x0B});
    EXPECT_EQ(client.Read(1), (Bytes{0x20}));
    EXPECT_GE(Since(start).count(), 300);
    EXPECT_FALSE(Printer().Stalled());
}

TEST_F(VirtualPrinterTest, StallAfterBytesStopsInsideADefine)
{
    Start();
    Printer().StallAfterBytes(3 + 20, std::nullopt);
    Client client(Printer().SlavePath());
    client.Write(Cat({Select(2), DefineLogo(8, 8), Status(2)}));
    ASSERT_TRUE(Printer().WaitUntil([](const PrinterModel& m) { return m.InsideCommand(); }, kReplyTimeout));
    // Once the stall began no byte beyond the 23rd is read.
    ASSERT_TRUE(Printer().WaitForStall(kReplyTimeout));
    EXPECT_EQ(Printer().Counters().bytesReceived, 23u);
    EXPECT_EQ(Printer().Snapshot().DefineCount(2), 0u);
    Printer().EndStall();
    Bytes reply = client.Read(4);
    ASSERT_EQ(reply.size(), 4u);
    EXPECT_EQ(reply[1], 0x01);
}

TEST_F(VirtualPrinterTest, HangUpDuringADefine)
{
    Start();
    Printer().WithModel([](PrinterModel& m) { m.Faults().hangUpAfterDefineBytes = 100; });
    Client client(Printer().SlavePath());
    client.Write(Cat({Select(4), DefineLogo(16, 8)}));
    Bytes before;
    EXPECT_TRUE(client.WaitForHangUp(before));
    EXPECT_TRUE(before.empty());
    EXPECT_TRUE(Printer().HungUp());
    EXPECT_FALSE(Printer().Running());
    EXPECT_FALSE(Printer().Snapshot().Slot(4).stored);
}

TEST_F(VirtualPrinterTest, HangUpDuringAnUploadAnswer)
{
    Start();
    Printer().WithModel([](PrinterModel& m) {
        m.Faults().hangUpAfterUploadBytes = 40;
        return m.StoreLogo(0, DefineLogo(4, 4));
    });
    Client client(Printer().SlavePath());
    client.Write({0x1F, 0x6A});
    Bytes before;
    EXPECT_TRUE(client.WaitForHangUp(before));
    ASSERT_EQ(before.size(), 40u);
    EXPECT_EQ(Bytes(before.begin(), before.begin() + 3), (Bytes{0x6A, 'B', 'M'}));
}

TEST_F(VirtualPrinterTest, GarbageArrivesUnasked)
{
    Start();
    Client client(Printer().SlavePath());
    Printer().SendGarbage(16);
    EXPECT_EQ(client.Read(16).size(), 16u);
    Printer().SetPeriodicGarbage(4, milliseconds(20));
    EXPECT_EQ(client.Read(12).size(), 12u);
    Printer().SetPeriodicGarbage(0, milliseconds(0));
    EXPECT_GE(Printer().Counters().garbageSent, 28u);
}

TEST_F(VirtualPrinterTest, StopEndsTheThreadAndClosesTheLine)
{
    Start();
    Client client(Printer().SlavePath());
    Printer().Stall(std::nullopt);  // a stall forever must not hold up Stop
    Printer().Stop();
    EXPECT_FALSE(Printer().Running());
    Bytes before;
    EXPECT_TRUE(client.WaitForHangUp(before));
    Printer().Stop();  // twice is harmless

    VirtualPrinterOptions bad;
    bad.printer.logoAreaKbytes = 100;
    VirtualPrinter refused(bad);
    std::string error;
    EXPECT_FALSE(refused.Start(error));
    EXPECT_NE(error.find("logo area"), std::string::npos);
}

TEST_F(VirtualPrinterTest, AnExclusiveModeLeftByAClientThatIsGoneIsEnded)
{
    Start();
    auto exclusive = [&] {
        int fd = ::open(Printer().SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        int on = -1;
        if (fd >= 0) {
            ::ioctl(fd, TIOCGEXCL, &on);
            ::close(fd);
        }
        return on;
    };
    // A client that holds the line keeps it.
    int holder = ::open(Printer().SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    ASSERT_EQ(::ioctl(holder, TIOCEXCL), 0);
    std::this_thread::sleep_for(milliseconds(1500));
    EXPECT_EQ(exclusive(), 1);
    // Gone without ending the mode (as a killed program): the printer ends
    // it, so that the next client can open the line.
    ::close(holder);
    const auto deadline = steady_clock::now() + milliseconds(5000);
    while (exclusive() != 0 && steady_clock::now() < deadline)
        std::this_thread::sleep_for(milliseconds(50));
    EXPECT_EQ(exclusive(), 0);
}
