// Network printers end to end: marquen-cli through the real communication
// server and port library to vprinter programs answering on TCP ports of the
// loopback address, one printer and many at once.
#include "printer_fixture.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using testing_support::BinaryDir;
using testing_support::RunProgram;
using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::VprinterProcess;
using testing_support::WriteFileBytes;
using Bytes = std::vector<uint8_t>;

constexpr std::chrono::seconds kRunLimit{120};

/// vprinter --tcp 0 with faults; Address() is the tcp://127.0.0.1:PORT it
/// serves on.
class TcpPrinter : public VprinterProcess {
public:
    explicit TcpPrinter(const std::vector<std::string>& faults) : VprinterProcess(Arguments(faults))
    {
        EXPECT_TRUE(Address().starts_with("tcp://127.0.0.1:")) << Address();
    }

private:
    static std::vector<std::string> Arguments(const std::vector<std::string>& faults)
    {
        std::vector<std::string> args{"--tcp", "0"};
        args.insert(args.end(), faults.begin(), faults.end());
        return args;
    }
};

class NetworkPrinterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(dir / "config");
        ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
        cli_printer_fixture::RegisterServer();
    }

    RunResult Run(const std::vector<std::string>& args)
    {
        return RunProgram(MARQUEN_CLI_PATH, args, {.timeLimit = kRunLimit});
    }

    /// A bitmap of width x 40 dots with a pattern.
    std::string WriteBitmap(uint32_t width = 64, uint32_t height = 40)
    {
        std::string path = (dir / "logo.bmp").string();
        cli_printer_fixture::WritePatternBitmap(path, width, height);
        return path;
    }

    static Bytes Bits(const std::string& path)
    {
        return cli_printer_fixture::PictureBits(path);
    }

    static std::vector<std::string> Lines(const std::string& text)
    {
        std::vector<std::string> lines;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    TempDir dir;
};

TEST_F(NetworkPrinterTest, EveryCommandWorksOverTcp)
{
    TcpPrinter printer({});
    const std::string logo = WriteBitmap();
    RunResult download = Run({"download", logo, "--logo", "5", "--port", printer.Address()});
    ASSERT_EQ(download.status, 0) << download.err;
    EXPECT_NE(download.out.find("confirmed by the printer"), std::string::npos) << download.out;

    const std::string back = (dir / "back.bmp").string();
    RunResult upload = Run({"upload", back, "--logo", "5", "--port", printer.Address(), "--printer-version", "1"});
    ASSERT_EQ(upload.status, 0) << upload.err;
    EXPECT_EQ(Bits(back), Bits(logo));

    RunResult memory = Run({"memory", "--port", printer.Address(), "--printer-version", "1"});
    ASSERT_EQ(memory.status, 0) << memory.err;
    EXPECT_NE(memory.out.find("total: 2048 kbytes"), std::string::npos) << memory.out;
    EXPECT_EQ(memory.out.find("free: 262144 bytes"), std::string::npos) << "the logo takes room: " << memory.out;

    RunResult erase = Run({"erase", "--port", printer.Address()});
    ASSERT_EQ(erase.status, 0) << erase.err;
    memory = Run({"memory", "--port", printer.Address()});
    EXPECT_NE(memory.out.find("free: 262144 bytes"), std::string::npos) << memory.out;

    // The line options mean nothing to a network printer: taken, not used.
    RunResult withLine = Run({"memory", "--port", printer.Address(), "--baud", "9600", "--flow", "xon-xoff"});
    EXPECT_EQ(withLine.status, 0) << withLine.err;
}

TEST_F(NetworkPrinterTest, APrinterClosingMidDownloadFailsItAndTheNextCommandWorks)
{
    TcpPrinter printer({"--hangup-define", "100"});
    const std::string logo = WriteBitmap(256, 40);
    RunResult download = Run({"download", logo, "--logo", "1", "--port", printer.Address()});
    EXPECT_EQ(download.status, 1);
    // Which of two true accounts the user gets depends on when the printer's
    // reset reaches us: a write refused (the download stopped), or every
    // packet taken by the kernel's buffer and the check, on the rebuilt
    // connection, answered by a printer that holds no such logo.
    const bool stopped = download.err.find("communication failure") != std::string::npos;
    const bool notStored = download.err.find("The logo has not been downloaded") != std::string::npos;
    EXPECT_TRUE(stopped || notStored) << download.err;
    EXPECT_EQ(download.out.find("confirmed"), std::string::npos);

    RunResult memory = Run({"memory", "--port", printer.Address()});
    EXPECT_EQ(memory.status, 0) << memory.err;
    EXPECT_NE(memory.out.find("free: "), std::string::npos) << memory.out;
}

TEST_F(NetworkPrinterTest, AnUnreachablePrinterIsNamedInAClearMessage)
{
    // A port nobody listens on: bound, then closed again.
    int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof where;
    ASSERT_EQ(::bind(probe, reinterpret_cast<sockaddr*>(&where), sizeof where), 0);
    ASSERT_EQ(::getsockname(probe, reinterpret_cast<sockaddr*>(&where), &length), 0);
    const std::string closed = "tcp://127.0.0.1:" + std::to_string(ntohs(where.sin_port));
    ::close(probe);

    RunResult refused = Run({"memory", "--port", closed});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("the printer at " + closed + " could not be reached"), std::string::npos)
        << refused.err;
    EXPECT_NE(refused.err.find("Connection refused"), std::string::npos) << refused.err;
    // Refused at once, not after the connect time-out (5 s).
    EXPECT_LT(refused.took, std::chrono::milliseconds(4500));

    RunResult unknown = Run({"download", WriteBitmap(), "--logo", "1", "--port", "tcp://no-such-printer.invalid"});
    EXPECT_EQ(unknown.status, 1);
    EXPECT_NE(unknown.err.find("cannot find the printer 'no-such-printer.invalid'"), std::string::npos)
        << unknown.err;

    RunResult bad = Run({"memory", "--port", "tcp://host:99999"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("tcp://HOST:PORT"), std::string::npos) << bad.err;
}

TEST_F(NetworkPrinterTest, ASilentPrinterEndsAfterTheReadTimeout)
{
    TcpPrinter printer({"--stall", "forever"});
    RunResult memory = Run({"memory", "--port", printer.Address(), "--read-timeout", "1000"});
    EXPECT_EQ(memory.status, 1);
    EXPECT_NE(memory.err.find("there is communication failure"), std::string::npos) << memory.err;
    EXPECT_LT(memory.took, std::chrono::seconds(20));
}

TEST_F(NetworkPrinterTest, ARollOutReportsEveryPrinterInOrder)
{
    std::vector<std::unique_ptr<TcpPrinter>> printers;
    for (int i = 0; i < 20; ++i) {
        std::vector<std::string> faults;
        if (i == 4)
            faults = {"--corrupt-checksum"};
        if (i == 13)
            faults = {"--drop", "status"};
        printers.push_back(std::make_unique<TcpPrinter>(faults));
    }
    // Half on the command line, half from a file with comments.
    std::vector<std::string> args{"download", WriteBitmap(), "--logo", "7", "--jobs", "6"};
    std::string file = "# the shops of the north\n";
    for (int i = 0; i < 20; ++i) {
        if (i < 10)
            args.insert(args.end(), {"--port", printers[i]->Address()});
        else
            file += printers[i]->Address() + (i % 3 == 0 ? "  # till 2\n" : "\n");
    }
    WriteFileBytes(dir / "ports.txt", Bytes(file.begin(), file.end()));
    args.insert(args.end(), {"--ports-from", (dir / "ports.txt").string(), "--read-timeout", "2000"});

    RunResult rollout = Run(args);
    EXPECT_EQ(rollout.status, 1) << rollout.err;
    std::vector<std::string> lines = Lines(rollout.out);
    ASSERT_EQ(lines.size(), 21u) << rollout.out;
    int ok = 0;
    for (int i = 0; i < 20; ++i) {
        const std::string& line = lines[static_cast<size_t>(i)];
        ASSERT_TRUE(line.starts_with(printers[i]->Address() + ": ")) << line;
        if (i == 4) {
            EXPECT_NE(line.find(": failed: The logo has been downloaded but the checksum returned from printer is "
                                "wrong"),
                      std::string::npos)
                << line;
        } else if (i == 13) {
            EXPECT_NE(line.find(": failed: "), std::string::npos) << line;
            EXPECT_NE(line.find("communication failure"), std::string::npos) << line;
        } else {
            EXPECT_NE(line.find(": ok, checksum "), std::string::npos) << line;
            ok += line.find(" confirmed") != std::string::npos ? 1 : 0;
        }
    }
    EXPECT_EQ(ok, 18);
    EXPECT_EQ(lines[20], "20 printers: 18 ok, 2 failed");
    // Not a terminal: nothing but the result lines.
    EXPECT_EQ(rollout.err, "");

    // All well: exit 0.
    RunResult healthy = Run({"memory", "--port", printers[0]->Address(), "--port", printers[1]->Address()});
    EXPECT_EQ(healthy.status, 0) << healthy.out << healthy.err;
    EXPECT_NE(healthy.out.find("2 printers: 2 ok, 0 failed"), std::string::npos) << healthy.out;
}

}  // namespace
