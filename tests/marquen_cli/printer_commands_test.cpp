// marquen-cli's printer subcommands end to end: the built program, the
// communication server registered in a scratch registry, and the vprinter
// program on a pseudo-terminal that the port map names COM7.
#include "printer_fixture.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using testing_support::BinaryDir;
using testing_support::ReadFileBytes;
using testing_support::RunProgram;
using testing_support::RunResult;
using testing_support::StartedProgram;
using testing_support::TempDir;
using testing_support::VprinterProcess;
using testing_support::WriteFileBytes;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

// Generous: the machines running the suite are shared and slow.
constexpr std::chrono::seconds kRunLimit{60};

class PrinterCommandsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(dir / "config");
        // Inherited by the programs started below.
        ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
        ::setenv("QUORLINK_PORT_MAP", (dir / "ports").c_str(), 1);
        Register();
    }
    void TearDown() override { printer.reset(); }

    void Register()
    {
        cli_printer_fixture::RegisterServer();
    }

    void StartPrinter(const std::vector<std::string>& options = {})
    {
        printer.reset();
        printer = std::make_unique<VprinterProcess>(options);
        WriteFileBytes(dir / "ports", Bytes{});
        std::string map = "COM7=" + printer->Address() + "\n";
        WriteFileBytes(dir / "ports", Bytes(map.begin(), map.end()));
    }

    /// marquen-cli with args in the background; its Finish collects it.
    static StartedProgram Spawn(const std::vector<std::string>& args)
    {
        return StartedProgram(MARQUEN_CLI_PATH, args, {.timeLimit = kRunLimit});
    }
    static RunResult Run(const std::vector<std::string>& args)
    {
        return RunProgram(MARQUEN_CLI_PATH, args, {.timeLimit = kRunLimit});
    }

    /// A bitmap with a pattern of dots, 64 x 40 unless told.
    std::string WriteBitmap(uint32_t width = 64, uint32_t height = 40, const std::string& name = "logo.bmp")
    {
        std::string path = (dir / name).string();
        cli_printer_fixture::WritePatternBitmap(path, width, height);
        return path;
    }

    static std::vector<uint8_t> Bits(const std::string& path)
    {
        return cli_printer_fixture::PictureBits(path);
    }

    TempDir dir;
    std::unique_ptr<VprinterProcess> printer;
};

TEST_F(PrinterCommandsTest, DownloadThenUploadGivesBackThePicture)
{
    StartPrinter();
    std::string logo = WriteBitmap();
    RunResult download = Run({"download", logo, "--logo", "3", "--port", "COM7"});
    EXPECT_EQ(download.status, 0) << download.err;
    EXPECT_NE(download.err.find("progress: 100%"), std::string::npos) << download.err;
    EXPECT_NE(download.out.find("confirmed by the printer"), std::string::npos) << download.out;

    std::string back = (dir / "back.bmp").string();
    RunResult upload = Run({"upload", back, "--logo", "3", "--port", "com7", "--printer-version", "1"});
    ASSERT_EQ(upload.status, 0) << upload.err;
    EXPECT_NE(upload.err.find("progress: 100%"), std::string::npos);
    EXPECT_EQ(Bits(back), Bits(logo));

    // The type by the name's extension, or as given.
    std::string asLogo = (dir / "back.log").string();
    ASSERT_EQ(Run({"upload", asLogo, "--logo", "3", "--port", "COM7"}).status, 0);
    std::string reference = (dir / "reference.log").string();
    ASSERT_EQ(Run({"convert", logo, reference, "--type", "LOGO"}).status, 0);
    EXPECT_EQ(ReadFileBytes(asLogo), ReadFileBytes(reference));
    std::string gfx = (dir / "back.gfx").string();
    EXPECT_EQ(Run({"upload", gfx, "--logo", "3", "--port", "COM7"}).status, 2);
    EXPECT_FALSE(std::filesystem::exists(gfx));
    EXPECT_EQ(Run({"upload", gfx, "--logo", "3", "--type", "EPSON GFX", "--port", "COM7"}).status, 0);
}

TEST_F(PrinterCommandsTest, FailuresOfTheChecksumAndOfUploadAreReported)
{
    StartPrinter({"--corrupt-checksum"});
    std::string logo = WriteBitmap();
    RunResult download = Run({"download", logo, "--logo", "1", "--port", "COM7"});
    EXPECT_EQ(download.status, 1);
    EXPECT_NE(download.err.find("The logo has been downloaded but the checksum returned from printer is wrong"),
              std::string::npos)
        << download.err;

    RunResult upload = Run({"upload", (dir / "none.bmp").string(), "--logo", "9", "--port", "COM7"});
    EXPECT_EQ(upload.status, 1);
    EXPECT_NE(upload.err.find("There is not logo at this location"), std::string::npos) << upload.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "none.bmp"));

    // An output that cannot be written is refused before the printer is
    // asked for anything.
    const std::string nowhere = (dir / "no such folder" / "back.bmp").string();
    RunResult unwritable = Run({"upload", nowhere, "--logo", "9", "--port", "COM7"});
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_EQ(unwritable.err, "Error - File Open : " + nowhere + "\n");

    // Wider than the logo format holds: refused with the reason, before
    // anything is sent.
    std::string wide = WriteBitmap(2048, 8, "wide.bmp");
    RunResult tooWide = Run({"download", wide, "--logo", "1", "--port", "COM7"});
    EXPECT_EQ(tooWide.status, 1);
    EXPECT_NE(tooWide.err.find("too large for the Logo format (at most 2040 x 2040 dots, this one is 2048 x 8)"),
              std::string::npos)
        << tooWide.err;
    EXPECT_EQ(tooWide.err.find("progress"), std::string::npos) << tooWide.err;
}

TEST_F(PrinterCommandsTest, MemoryFiguresWithAndWithoutTheirQueries)
{
    StartPrinter();
    RunResult full = Run({"memory", "--port", "COM7", "--printer-version", "1"});
    EXPECT_EQ(full.status, 0) << full.err;
    EXPECT_EQ(full.out, "total: 2048 kbytes\nlogo area: 256 kbytes\nfree: 262144 bytes\n");
    RunResult version0 = Run({"memory", "--port", "COM7", "--printer-version", "0"});
    EXPECT_EQ(version0.status, 0) << version0.err;
    EXPECT_EQ(version0.out, "free: 262144 bytes\n");

    RunResult set = Run({"set-logo-area", "320", "--port", "COM7", "--printer-version", "1"});
    EXPECT_EQ(set.status, 0) << set.err;
    EXPECT_NE(set.out.find("logo area: 320 kbytes"), std::string::npos) << set.out;
    EXPECT_EQ(Run({"set-logo-area", "100", "--port", "COM7"}).status, 2);

    // Stored logos that the smaller area cannot hold: the printer refuses.
    std::string logo = WriteBitmap();
    ASSERT_EQ(Run({"download", logo, "--logo", "2", "--port", "COM7"}).status, 0);
    RunResult refused = Run({"set-logo-area", "0", "--port", "COM7", "--printer-version", "1"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("The command has been sent, but the printer has returned one error."),
              std::string::npos)
        << refused.err;
}

TEST_F(PrinterCommandsTest, AMemoryFigureIsPrintedOnlyWhenThePrinterGaveIt)
{
    const std::string failure = "The command has not been sent, there is communication failure.";
    const std::string total = "total: 2048 kbytes\n";
    const std::string area = "logo area: 256 kbytes\n";
    const std::string free = "free: 262144 bytes\n";
    // A reply missing: the failure, and no figure, since the others may be
    // out of step.
    for (const char* dropped : {"total-memory", "logo-area", "free-memory"}) {
        StartPrinter({"--drop", dropped});
        RunResult memory = Run({"memory", "--port", "COM7", "--printer-version", "1", "--read-timeout", "500"});
        EXPECT_EQ(memory.status, 1) << dropped;
        EXPECT_EQ(memory.out, "") << dropped;
        EXPECT_NE(memory.err.find(failure), std::string::npos) << memory.err;
    }

    // Noise on the line: the true figures, or the failure and none.
    StartPrinter({"--garbage", "2/5"});
    for (int run = 0; run < 4; ++run) {
        RunResult memory = Run({"memory", "--port", "COM7", "--printer-version", "1", "--read-timeout", "500"});
        if (memory.status == 0) {
            EXPECT_EQ(memory.out, total + area + free);
        } else {
            EXPECT_EQ(memory.status, 1);
            EXPECT_EQ(memory.out, "");
            EXPECT_NE(memory.err.find(failure), std::string::npos) << memory.err;
        }
    }
}

TEST_F(PrinterCommandsTest, MemoryAfterAnInterruptedUpload)
{
    // A logo whose answer takes seconds on a 9600 baud line.
    StartPrinter({"--baud", "9600"});
    std::string logo = WriteBitmap();
    std::string big = (dir / "big.bmp").string();
    ASSERT_EQ(Run({"convert", logo, big, "--type", "BITMAP", "--width", "256", "--height", "128"}).status, 0);
    ASSERT_EQ(Run({"download", big, "--logo", "5", "--port", "COM7"}).status, 0);

    StartedProgram upload = Spawn({"upload", (dir / "back.bmp").string(), "--logo", "5", "--port", "COM7"});
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ::kill(upload.Pid(), SIGKILL);
    upload.Finish();
    // The printer goes on sending the rest of the logo.
    RunResult memory = Run({"memory", "--port", "COM7", "--printer-version", "1", "--read-timeout", "500"});
    EXPECT_EQ(memory.status, 1) << memory.out;
    EXPECT_NE(memory.err.find("The command has not been sent, there is communication failure."), std::string::npos)
        << memory.err;
    EXPECT_EQ(memory.out, "");
}

TEST_F(PrinterCommandsTest, ASlowLineStillCarriesTheLogoWhenTheTransferReports100)
{
    // The terminal takes the whole logo at once, long before the line has
    // carried it; the printer answers Logo status only after the last byte.
    // The read time-out (2 s) is well under either line time, and leaves the
    // paced printer room on a loaded machine.
    StartPrinter({"--pace"});
    std::string logo = WriteBitmap(256, 128, "slow.bmp");  // 4100 bytes: 8.5 s at 4800, 4.3 s at 9600
    for (const char* baud : {"4800", "9600"}) {
        RunResult download =
            Run({"download", logo, "--logo", "6", "--port", "COM7", "--baud", baud, "--read-timeout", "2000"});
        EXPECT_EQ(download.status, 0) << baud << ": " << download.err;
        EXPECT_NE(download.out.find("confirmed by the printer"), std::string::npos) << baud << ": " << download.out;
    }
}

TEST_F(PrinterCommandsTest, ADownloadStoppedByCtrlCSaysThePrinterAwaitsTheRestOfTheLogo)
{
    // 64 KiB of logo at 38400 baud: about 17 s on the line.
    StartPrinter({"--baud", "38400"});
    std::string logo = WriteBitmap(1024, 512, "large.bmp");
    StartedProgram download = Spawn({"download", logo, "--logo", "8", "--port", "COM7"});
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ::kill(download.Pid(), SIGINT);
    RunResult stopped = download.Finish();
    EXPECT_EQ(stopped.status, 1);
    EXPECT_NE(stopped.err.find("the printer is still expecting the rest of it"), std::string::npos) << stopped.err;
    EXPECT_NE(stopped.err.find("Switch the printer off and on"), std::string::npos) << stopped.err;

    // The printer takes the next commands as logo data ...
    RunResult lost = Run({"memory", "--port", "COM7", "--read-timeout", "500"});
    EXPECT_EQ(lost.status, 1);
    EXPECT_EQ(lost.out, "");
    // ... until it is switched off and on.
    printer->Signal(SIGHUP);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    RunResult again = Run({"memory", "--port", "COM7", "--printer-version", "1"});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(again.out, "total: 2048 kbytes\nlogo area: 256 kbytes\nfree: 262144 bytes\n");
}

TEST_F(PrinterCommandsTest, SizesThePrinterDoesNotOffer)
{
    StartPrinter({"--total-memory", "512", "--logo-area", "128"});
    RunResult tooLarge = Run({"set-logo-area", "1024", "--port", "COM7", "--printer-version", "1"});
    EXPECT_EQ(tooLarge.status, 1);
    EXPECT_NE(tooLarge.err.find("not a size this printer offers (0 to 512"), std::string::npos) << tooLarge.err;
}

TEST_F(PrinterCommandsTest, EraseAndPrint)
{
    StartPrinter({"--erase-delay", "200"});
    RunResult erase = Run({"erase", "--port", "COM7"});
    EXPECT_EQ(erase.status, 0) << erase.err;
    EXPECT_EQ(erase.out, "logos erased\n");

    for (const char* size : {"x1H-x1W", "x1H-x2W", "x2H-x1W", "x2H-x2W"}) {
        RunResult print = Run({"print", "--logo", "3", "--size", size, "--port", "COM7"});
        EXPECT_EQ(print.status, 0) << size << print.err;
    }
    EXPECT_EQ(Run({"print", "--logo", "3", "--size", "x3H", "--port", "COM7"}).status, 2);
    EXPECT_EQ(Run({"print", "--port", "COM7"}).status, 2);
    EXPECT_EQ(Run({"print", "--logo", "256", "--port", "COM7"}).status, 2);
}

TEST_F(PrinterCommandsTest, APrinterThatNeverAnswersDoesNotHangTheProgram)
{
    StartPrinter({"--drop", "erase", "--drop", "free-memory", "--drop", "status"});
    auto started = Clock::now();
    RunResult erase = Run({"erase", "--port", "COM7", "--read-timeout", "1500"});
    EXPECT_EQ(erase.status, 1);
    EXPECT_NE(erase.err.find("did not report the end of the erase"), std::string::npos) << erase.err;

    RunResult memory = Run({"memory", "--port", "COM7", "--printer-version", "0", "--read-timeout", "800"});
    EXPECT_EQ(memory.status, 1);
    EXPECT_NE(memory.err.find("The command has not been sent, there is communication failure."), std::string::npos)
        << memory.err;

    std::string logo = WriteBitmap();
    RunResult download = Run({"download", logo, "--logo", "4", "--port", "COM7", "--read-timeout", "800"});
    EXPECT_EQ(download.status, 1);
    EXPECT_NE(download.err.find("The command has not been sent, there is communication failure."),
              std::string::npos)
        << download.err;
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(50));

    // Noise on the line is no answer: it does not keep an upload waiting.
    StartPrinter({"--drop", "upload", "--garbage", "5/200"});
    auto uploadStarted = Clock::now();
    RunResult upload = Run({"upload", (dir / "none.bmp").string(), "--logo", "4", "--port", "COM7",
                            "--read-timeout", "800"});
    EXPECT_EQ(upload.status, 1);
    EXPECT_NE(upload.err.find("the printer did not answer the upload request"), std::string::npos) << upload.err;
    EXPECT_LT(Clock::now() - uploadStarted, std::chrono::seconds(30));

    // A printer that stops reading: the write times out and the download stops.
    StartPrinter({"--stall", "forever"});
    std::string big = (dir / "big.bmp").string();
    ASSERT_EQ(Run({"convert", logo, big, "--type", "BITMAP", "--width", "1024", "--height", "512"}).status, 0);
    RunResult stalled = Run({"download", big, "--logo", "4", "--port", "COM7", "--write-timeout", "500"});
    EXPECT_EQ(stalled.status, 1);
    EXPECT_NE(stalled.err.find("There is communication failure and the download has been stopped"),
              std::string::npos)
        << stalled.err;
}

TEST_F(PrinterCommandsTest, LibraryDiagnosticsOnlyWithVerboseNamingTheSystemError)
{
    std::string logo = WriteBitmap();
    std::string big = (dir / "big.bmp").string();
    ASSERT_EQ(Run({"convert", logo, big, "--type", "BITMAP", "--width", "1024", "--height", "512"}).status, 0);
    // The printer hangs up early in the logo; the line is a pseudo-terminal,
    // whose writes then fail with EIO. The port map has a bad line too.
    auto startHangingPrinter = [&] {
        StartPrinter({"--hangup-define", "100"});
        std::string map = "COM7=" + printer->Address() + "\nnot a mapping\n";
        WriteFileBytes(dir / "ports", Bytes(map.begin(), map.end()));
    };
    const std::vector<std::string> download{"download", big, "--logo", "4", "--port", "COM7", "--read-timeout", "1000"};

    startHangingPrinter();
    RunResult quiet = Run(download);
    EXPECT_EQ(quiet.status, 1);
    for (const char* library : {"line ignored", "Quorlink", "error (E", "marquen-cli: warning", "marquen-cli: error"})
        EXPECT_EQ(quiet.err.find(library), std::string::npos) << library << " in\n" << quiet.err;

    startHangingPrinter();
    std::vector<std::string> verboseDownload = download;
    verboseDownload.insert(verboseDownload.begin(), "--verbose");
    RunResult verbose = Run(verboseDownload);
    EXPECT_EQ(verbose.status, 1);
    const std::string ignored =
        "marquen-cli: warning: " + (dir / "ports").string() + ":2: expected NAME=/dev/node; line ignored\n";
    size_t first = verbose.err.find(ignored);
    EXPECT_NE(first, std::string::npos) << verbose.err;
    EXPECT_EQ(verbose.err.find(ignored, first + 1), std::string::npos) << "reported twice:\n" << verbose.err;
    EXPECT_NE(verbose.err.find("marquen-cli: error: Quorlink: writing to the port failed: Input/output error (EIO)"),
              std::string::npos)
        << verbose.err;
    // The command's own message is there as without --verbose.
    EXPECT_NE(verbose.err.find("communication failure"), std::string::npos) << verbose.err;

    // --verbose after the command's name works the same; after "--" it is an operand.
    StartPrinter();
    RunResult ports = Run({"ports", "--verbose"});
    EXPECT_EQ(ports.status, 0) << ports.err;
    EXPECT_EQ(ports.out, "COM7\n");
    EXPECT_EQ(Run({"info", "--", "--verbose"}).status, 1);
}

TEST_F(PrinterCommandsTest, PortsAndArguments)
{
    StartPrinter();
    RunResult ports = Run({"ports"});
    EXPECT_EQ(ports.status, 0) << ports.err;
    EXPECT_EQ(ports.out, "COM7\n");
    RunResult closed = Run({"erase", "--port", "COM9"});
    EXPECT_EQ(closed.status, 1);
    EXPECT_EQ(closed.err, "marquen-cli: the port COM9 could not be opened\n");
    EXPECT_EQ(Run({"memory", "--port", "COM0"}).status, 2);
    EXPECT_EQ(Run({"memory", "--port", "USB2"}).status, 2);
    EXPECT_EQ(Run({"memory", "--port", "USB", "--yes", "x"}).status, 2);
    EXPECT_EQ(Run({"memory", "--baud", "1200"}).status, 2);
    EXPECT_EQ(Run({"memory", "--parity", "mark"}).status, 2);
    EXPECT_EQ(Run({"download", "x.bmp", "--port", "COM7"}).status, 2);  // no --logo

    RunResult help = Run({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* command : {"ports", "download", "upload", "erase", "print", "memory", "set-logo-area"})
        EXPECT_NE(help.out.find(std::string("marquen-cli ") + command), std::string::npos) << command;
    RunResult version = Run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("marquen-cli ", 0), 0u);
}

TEST_F(PrinterCommandsTest, WithoutTheServerRegistered)
{
    std::filesystem::remove_all(dir / "config");
    std::filesystem::create_directories(dir / "config");
    RunResult memory = Run({"memory", "--port", "COM7"});
    EXPECT_EQ(memory.status, 1);
    EXPECT_NE(memory.err.find("Failed to create ICommunication instance"), std::string::npos) << memory.err;
}

// Whether some program holds the advisory lock of the node at path.
bool NodeLocked(const std::string& path)
{
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return false;
    bool locked = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    ::close(fd);
    return locked;
}

TEST_F(PrinterCommandsTest, ASecondProgramIsRefusedThePortInUse)
{
    // The first download cannot end while the printer does not read: it
    // holds the port until its write time-out.
    StartPrinter({"--stall", "forever"});
    std::string logo = WriteBitmap();
    std::string big = (dir / "big.bmp").string();
    ASSERT_EQ(Run({"convert", logo, big, "--type", "BITMAP", "--width", "1024", "--height", "512"}).status, 0);
    StartedProgram first = Spawn({"download", big, "--logo", "4", "--port", "COM7", "--write-timeout", "8000"});
    auto deadline = Clock::now() + std::chrono::seconds(20);
    while (!NodeLocked(printer->Address()) && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(NodeLocked(printer->Address()));

    auto started = Clock::now();
    RunResult second = Run({"memory", "--port", "COM7", "--printer-version", "1"});
    EXPECT_EQ(second.status, 1);
    EXPECT_EQ(second.err, "marquen-cli: the port COM7 is in use by another program\n");
    EXPECT_EQ(second.out, "");
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(5));  // refused at once, not after a time-out

    RunResult firstResult = first.Finish();
    EXPECT_EQ(firstResult.status, 1);
    // Free again once the first has ended.
    EXPECT_FALSE(NodeLocked(printer->Address()));
}

}  // namespace
