// The Communication object on a network printer: the in-process virtual
// printer served on a TCP port of the loopback address, opened by a port
// name TCP:HOST:PORT.
#include "comm_test_support.h"
#include "tcp_line.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace comm_testing;

const Bytes kReadFreeMemory{0x1F, 0x77, 0x01};
constexpr LONG kFreeMemoryReply = 8;

class NetworkPortTest : public CommServerTest {
protected:
    void SetUp() override {
        CommServerTest::SetUp();
        m_line = std::make_unique<vprinter::TcpLine>(Printer());
        std::string error;
        ASSERT_TRUE(m_line->Start("127.0.0.1", 0, error)) << error;
        m_name = L"TCP:127.0.0.1:" + std::to_wstring(m_line->Port());
    }
    void TearDown() override {
        CommServerTest::TearDown();  // closes the port, then stops the printer
        m_line.reset();
    }

    /// The free logo memory the printer reports, as text; empty without a reply.
    std::string FreeMemory() {
        Bytes buffer = kReadFreeMemory;
        buffer.resize(kFreeMemoryReply, 0);
        VARIANT variant;
        VariantInit(&variant);
        variant.vt = VT_ARRAY | VT_UI1;
        variant.parray = MakeByteArray(buffer);
        LONG read = kFreeMemoryReply;
        LONG result = 0;
        EXPECT_EQ(m_comm->WriteAndRead(&variant, 3, &read, &result), S_OK);
        Bytes reply = ArrayBytes(variant.parray, static_cast<size_t>(std::max<LONG>(read, 0)));
        VariantClear(&variant);
        if (result != 1)
            return {};
        return std::string(reply.begin(), std::find(reply.begin(), reply.end(), 0));
    }

    LONG OpenName(const std::wstring& name) { return Open(name.c_str()); }

    std::unique_ptr<vprinter::TcpLine> m_line;
    std::wstring m_name;
};

TEST_F(NetworkPortTest, OpensAndExchangesAndIgnoresTheLineProperties) {
    ASSERT_EQ(OpenName(m_name), 1);
    EXPECT_EQ(Opened(), 1);
    EXPECT_EQ(FreeMemory(), "262144");

    // Line properties are accepted and change nothing on the connection.
    EXPECT_EQ(m_comm->put_Baudrate(BR_9600), S_OK);
    EXPECT_EQ(m_comm->put_Handshaking(XON_XOFF), S_OK);
    EXPECT_EQ(Opened(), 1);
    EXPECT_EQ(FreeMemory(), "262144");

    // A packet write with progress, as a download makes it.
    Bytes select{0x1D, 0x23, 0x04};
    EXPECT_EQ(Write(select, 1), -1);
    EXPECT_TRUE(PumpUntil([&] { return m_sink.Count(DISPID_OnUpdateProgress) > 0; }));

    // "TCP:HOST" alone means port 9100, where nothing listens here.
    m_comm->ClosePort();
    EXPECT_EQ(OpenName(L"tcp:127.0.0.1"), 0);
    EXPECT_EQ(Opened(), 0);
}

TEST_F(NetworkPortTest, APrinterThatClosedTheConnectionIsReconnectedByTheNextCommand) {
    ASSERT_EQ(OpenName(m_name), 1);
    ASSERT_EQ(FreeMemory(), "262144");
    Printer().WithModel([](vprinter::PrinterModel& model) { model.Faults().hangUpAfterDefineBytes = 8; });
    // The start of a Define logo: the printer closes the connection.
    Bytes define{0x1D, 0x2A, 0x04, 0x04, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    Write(define);
    ASSERT_TRUE(PumpUntil([&] { return m_line->HangUps() == 1; }));
    Printer().WithModel([](vprinter::PrinterModel& model) { model.Faults().hangUpAfterDefineBytes.reset(); });
    // The read thread sees the end of the stream; a write fails or not
    // depending on when it is noticed, but the next command goes out on a
    // new connection.
    ASSERT_TRUE(PumpUntil([&] {
        return PortLibrary<int>("Comm_IsDevicePresent") == 0;
    }));
    EXPECT_EQ(FreeMemory(), "262144");
    EXPECT_EQ(Opened(), 1);
}

TEST_F(NetworkPortTest, BadNamesAndClosedPortsDoNotOpen) {
    for (const wchar_t* name : {L"TCP:", L"TCP::9100", L"TCP:127.0.0.1:0", L"TCP:127.0.0.1:65536",
                                L"TCP:127.0.0.1:12x", L"TCP:[::1", L"TCP:::1:9100"}) {
        EXPECT_EQ(OpenName(name), 0) << static_cast<const void*>(name);
        EXPECT_EQ(Opened(), 0);
    }
    int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof where;
    ASSERT_EQ(::bind(probe, reinterpret_cast<sockaddr*>(&where), sizeof where), 0);
    ASSERT_EQ(::getsockname(probe, reinterpret_cast<sockaddr*>(&where), &length), 0);
    ::close(probe);
    EXPECT_EQ(OpenName(L"TCP:127.0.0.1:" + std::to_wstring(ntohs(where.sin_port))), 0);
    // The good one still opens afterwards.
    EXPECT_EQ(OpenName(m_name), 1);
}

}  // namespace
