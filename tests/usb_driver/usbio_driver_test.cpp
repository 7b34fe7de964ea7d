// The driver stand-in and the virtual USB printer, each case in its own
// testbed: `vprinter --usb OPTIONS -- usbio_probe SCENARIO`, the probe's
// "key=value" lines checked here.
#include "printer_model.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Outcome {
    int status = -1;
    std::string output;
    std::map<std::string, std::string> values;  // first word after '=' up to the line end
};

std::string Quoted(const std::string& word) {
    std::string quoted = "'";
    for (char c : word) {
        if (c == '\'') quoted += "'\\''";
        else quoted += c;
    }
    return quoted + "'";
}

std::string Here() {
    char path[4096];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    std::string self(path, length > 0 ? static_cast<size_t>(length) : 0);
    return self.substr(0, self.rfind('/'));
}

std::string Vprinter() {
    const char* bin = std::getenv("MARQUEN_BIN_DIR");
    return std::string(bin != nullptr ? bin : Here() + "/../bin") + "/vprinter";
}

// Runs vprinter --usb with `options` in front of `command`.
Outcome RunVprinter(const std::vector<std::string>& options, const std::vector<std::string>& command) {
    std::string line = Quoted(Vprinter()) + " --usb";
    for (const auto& option : options) line += " " + Quoted(option);
    line += " --";
    for (const auto& word : command) line += " " + Quoted(word);
    line += " 2>&1";
    Outcome outcome;
    FILE* pipe = popen(line.c_str(), "r");
    if (pipe == nullptr) return outcome;
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) outcome.output += buffer;
    int status = pclose(pipe);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::istringstream lines(outcome.output);
    std::string text;
    while (std::getline(lines, text)) {
        auto equals = text.find('=');
        if (equals != std::string::npos && text.find(' ') > equals) {
            outcome.values.emplace(text.substr(0, equals), text.substr(equals + 1));
        }
    }
    return outcome;
}

Outcome Probe(const std::vector<std::string>& options, const std::vector<std::string>& scenario) {
    std::vector<std::string> command{Here() + "/usbio_probe"};
    command.insert(command.end(), scenario.begin(), scenario.end());
    return RunVprinter(options, command);
}

std::string Hex(const std::vector<uint8_t>& bytes) {
    std::string text;
    char two[3];
    for (uint8_t byte : bytes) {
        std::snprintf(two, sizeof two, "%02X", byte);
        text += two;
    }
    return text;
}

TEST(UsbioDriverTest, ServesTheRequestTableOfAFreePrinter) {
    Outcome run = Probe({"--usb-kernel-driver", "none"}, {"driver"});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.values["loaded"], "1") << run.output;
    EXPECT_EQ(run.values["open"], "0x00000000") << run.output;
    EXPECT_EQ(run.values["info"], "0x00000000 api=0x0141 count=12");
    EXPECT_EQ(run.values["device"], "0x00000000 1201000200000040A7F500A0000101020301");
    EXPECT_EQ(run.values["configuration"],
              "0x00000000 09022000010100C0320904000002070102000705810240000007050202400000");
    EXPECT_EQ(run.values["language"], "0x00000000 04030904");
    EXPECT_EQ(run.values["serial"], "0x00000000 1403560050003000300030003000300030003100");  // "VP0000001"
    EXPECT_NE(run.output.find("get_configuration=0x00000000 value=0\nset_configuration=0x00000000\n"
                              "get_configuration=0x00000000 value=1\n"),
              std::string::npos)
        << run.output;
    // Length prefix first (big-endian, counting itself), then the id.
    std::string id = "MFG:Vantrex;CMD:VANTREX;MDL:VP-80;CLS:PRINTER;DES:Vantrex VP-80;";
    std::vector<uint8_t> reply{0, static_cast<uint8_t>(id.size() + 2)};
    reply.insert(reply.end(), id.begin(), id.end());
    EXPECT_EQ(run.values["device_id"], "0x00000000 " + Hex(reply));
    EXPECT_EQ(run.values["unknown"], "0xE0001105");
    EXPECT_EQ(run.values["path"], "\\\\?\\usb#vid_f5a7&pid_a000#1-1#{6f1c2a94-3b7e-4d05-8a6c-e2b91f4d7035} opened=1");
    EXPECT_EQ(run.values["interfaces"], "1");
    EXPECT_EQ(run.values["unconfigure"], "0x00000000");
}

TEST(UsbioDriverTest, APrinterHeldByUsblpIsNotServed) {
    Outcome run = Probe({}, {"driver"});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.values["loaded"], "1");
    EXPECT_EQ(run.values["open"], "0xE0001100") << run.output;  // device not found
    EXPECT_EQ(run.values["open1"], "0xE0001100");
}

TEST(UsbioDriverTest, BoundPipesCarryACommandAndItsReplyAndReadsTimeOut) {
    Outcome run = Probe({"--usb-kernel-driver", "none", "--total-memory", "4096"}, {"transfer"});
    ASSERT_EQ(run.status, 0) << run.output;
    // Binding before the configuration, twice, or to no endpoint is refused.
    EXPECT_NE(run.output.find("bind_02=0xE0001113\nset_configuration=0x00000000\nbind_02=0x00000000\n"
                              "bind_81=0x00000000\nbind_81=0xE0001116\nbind_05=0xE0001105\n"),
              std::string::npos)
        << run.output;
    EXPECT_EQ(run.values["write"], "1 count=2");
    vprinter::PrinterConfig config;
    config.totalMemoryKbytes = 4096;
    vprinter::PrinterModel model(config);
    const uint8_t command[] = {0x1D, 0x0B};
    model.Feed(command, vprinter::Clock::now());
    EXPECT_EQ(run.values["read"], "1 reply=" + Hex(model.TakeOutput(vprinter::Clock::now())));
    EXPECT_EQ(run.values["idle_read"].substr(0, 3), "258") << run.output;  // WAIT_TIMEOUT after the caller's 300 ms
    EXPECT_EQ(run.values["cancelled"], "995");                              // ERROR_OPERATION_ABORTED
    EXPECT_EQ(run.values["write_on_in"], "0xE0001105");
}

// Device descriptor, then a configuration whose printer interface has bulk
// 0x81/0x02 and interrupt 0x83/0x04 endpoints.
std::vector<uint8_t> DescriptorsWithInterruptEndpoints() {
    return {18, 1, 0, 2, 0, 0, 0, 64, 0xA7, 0xF5, 0x00, 0xA0, 0, 1, 0, 0, 0, 1,
            9,  2, 46, 0, 1, 1, 0, 0x80, 50,
            9,  4, 0, 0, 4, 7, 1, 2, 0,
            7,  5, 0x81, 2, 64, 0, 0,
            7,  5, 0x02, 2, 64, 0, 0,
            7,  5, 0x83, 3, 8, 0, 10,
            7,  5, 0x04, 3, 8, 0, 10};
}

std::string WriteDescriptors(const std::vector<uint8_t>& bytes) {
    std::string path = ::testing::TempDir() + "/usb_descriptors_" + std::to_string(getpid()) + ".bin";
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}

TEST(UsbioDriverTest, InterruptPipesCarryCommandsAndWaitForStatus) {
    std::string path = WriteDescriptors(DescriptorsWithInterruptEndpoints());
    Outcome run = Probe({"--usb-kernel-driver", "none", "--usb-descriptors", path}, {"interrupt"});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.values["set_configuration"], "0x00000000") << run.output;
    EXPECT_EQ(run.values["bind_04"], "0x00000000");
    EXPECT_EQ(run.values["bind_83"], "0x00000000");
    EXPECT_EQ(run.values["write"], "1 count=2");
    EXPECT_EQ(run.values["read"], "1 reply=20");  // 2048 kB in 64 kB units
    EXPECT_EQ(run.values["status_read"], "258");   // WAIT_TIMEOUT: nothing on the status pipe
}

TEST(UsbioDriverTest, UnplugDuringAReadEndsItWithDeviceGone) {
    Outcome run = Probe({"--usb-kernel-driver", "none", "--usb-unplug-after", "700"}, {"unplug"});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.values["set_configuration"], "0x00000000") << run.output;
    EXPECT_EQ(run.values["hung_up_before"], "0") << run.output;
    EXPECT_EQ(run.values["read_during_unplug"], "0xE0001110 hung_up=1") << run.output;
    EXPECT_EQ(run.values["after"], "0xE0001110");
    EXPECT_EQ(run.values["reopen"], "0xE0001100");
}

TEST(VirtualUsbPrinterTest, BuiltInPrinterAsLibusbSeesIt) {
    Outcome run = Probe({}, {"describe"});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.values["found"], "1") << run.output;
    EXPECT_EQ(run.values["indices"], "1,2,3");
    EXPECT_EQ(run.values["string1"], "Vantrex");
    EXPECT_EQ(run.values["interface"], "07/01/02 endpoints=81:2,02:2,");
    // Held by usblp at start; detached and attached again through libusb.
    EXPECT_EQ(run.values["kernel_driver"], "1");
    EXPECT_EQ(run.values["claim"], "LIBUSB_ERROR_BUSY");
    EXPECT_EQ(run.values["claim_after_detach"].substr(0, 14), "LIBUSB_SUCCESS");
    EXPECT_EQ(run.values["attach"].substr(0, 14), "LIBUSB_SUCCESS");
    EXPECT_EQ(run.values["kernel_driver_after"], "1");
}

TEST(VirtualUsbPrinterTest, StringsDeviceIdLanguageStallAndKernelDriverOptions) {
    Outcome run = Probe({"--usb-manufacturer", "ACME", "--usb-product", "", "--usb-serial", "S-1",
                         "--usb-device-id", "MFG:ACME;CMD:X;", "--usb-stall-language", "--usb-kernel-driver", "none"},
                        {"describe"});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.values["indices"], "1,0,3") << run.output;  // an empty string has no index
    EXPECT_EQ(run.values["string1"], "ACME");
    EXPECT_EQ(run.values["string3"], "S-1");
    EXPECT_EQ(run.values["language"], "LIBUSB_ERROR_PIPE");
    EXPECT_EQ(run.values["device_id"], "0011" + Hex({'M', 'F', 'G', ':', 'A', 'C', 'M', 'E', ';', 'C', 'M', 'D',
                                                      ':', 'X', ';'}));
    EXPECT_EQ(run.values["kernel_driver"], "0");
    EXPECT_EQ(run.values["claim"].substr(0, 14), "LIBUSB_SUCCESS");
}

TEST(VirtualUsbPrinterTest, DescriptorsFromAFileWithInterruptEndpoints) {
    std::vector<uint8_t> bytes = DescriptorsWithInterruptEndpoints();
    std::string path = WriteDescriptors(bytes);
    Outcome run = Probe({"--usb-descriptors", path}, {"describe"});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.values["indices"], "0,0,0") << run.output;
    EXPECT_EQ(run.values["interface"], "07/01/02 endpoints=81:2,02:2,83:3,04:3,");

    // A total length that does not match the file is refused with a reason.
    bytes[20] = 47;
    path = WriteDescriptors(bytes);
    run = RunVprinter({"--usb-descriptors", path}, {"true"});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.output.find("wTotalLength says 47 bytes but 46 follow"), std::string::npos) << run.output;
}

TEST(VirtualUsbPrinterTest, UnplugAndReplugOnTheirTimetable) {
    Outcome run = Probe({"--usb-unplug-after", "300", "--usb-replug-after", "300"}, {"watch", "1300"});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(run.values["presence"], "PAP") << run.output;
    run = Probe({"--usb-unplug-after", "300"}, {"watch", "900"});
    EXPECT_EQ(run.values["presence"], "PA") << run.output;
}

TEST(VirtualUsbPrinterTest, ExitsWithTheCommandsStatusAndRejectsBadOptions) {
    EXPECT_EQ(RunVprinter({}, {"sh", "-c", "exit 7"}).status, 7);
    Outcome bad = RunVprinter({"--usb-kernel-driver", "uhci"}, {"true"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.output.find("--usb-kernel-driver takes usblp or none"), std::string::npos) << bad.output;
    EXPECT_EQ(RunVprinter({"--usb-replug-after", "10"}, {"true"}).status, 2);
    EXPECT_EQ(RunVprinter({"--usb-unplug-after", "soon"}, {"true"}).status, 2);
    Outcome none = RunVprinter({}, {});
    EXPECT_EQ(none.status, 2);
    EXPECT_NE(none.output.find("a command to run is needed"), std::string::npos) << none.output;
}

}  // namespace
