#include "devices/port_map.h"
#include "devices_test_support.h"
#include "diagnostics/diagnostics.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

using namespace marquen::devices;
using devices_testing::ScopedEnvironment;
using testing_support::TempDir;

namespace {

void Touch(const std::filesystem::path& file, const std::string& content = "") {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file) << content;
}

std::vector<std::string> Lines(const std::vector<PortMapping>& map) {
    std::vector<std::string> out;
    for (auto& m : map) out.push_back(m.name + "=" + m.node);
    return out;
}

TEST(DevicesPortMap, DefaultMapOrdersByKindThenNumberAndSkipsPlaceholderUarts) {
    TempDir tree;
    DeviceTree roots{tree / "dev", tree / "sys"};
    for (const char* node : {"ttyS0", "ttyS1", "ttyS2", "ttyS10", "ttyUSB1", "ttyUSB0", "ttyACM0", "rfcomm0",
                             "lp1", "lp0", "usb/lp0", "ttyS", "ttyUSBx", "tty0", "ttyS3a"}) {
        Touch(tree / "dev" / node);
    }
    Touch(tree / "sys/ttyS0/device/uevent");
    Touch(tree / "sys/ttyS0/type", "4\n");
    Touch(tree / "sys/ttyS1/device/uevent");
    Touch(tree / "sys/ttyS1/type", "0\n");  // placeholder: no UART
    Touch(tree / "sys/ttyS2/type", "4\n");  // no device behind it
    Touch(tree / "sys/ttyS10/device/uevent");

    std::string dev = (tree / "dev").string();
    EXPECT_EQ(Lines(DefaultPortMap(roots)),
              (std::vector<std::string>{"COM1=" + dev + "/ttyS0", "COM2=" + dev + "/ttyS10", "COM3=" + dev + "/ttyUSB0",
                                        "COM4=" + dev + "/ttyUSB1", "COM5=" + dev + "/ttyACM0",
                                        "COM6=" + dev + "/rfcomm0", "LPT1=" + dev + "/usb/lp0",
                                        "LPT2=" + dev + "/lp0", "LPT3=" + dev + "/lp1"}));
    EXPECT_TRUE(DefaultPortMap(DeviceTree{tree / "missing", tree / "missing"}).empty());
}

TEST(DevicesPortMap, FileLinesCommentsCaseAndBadLines) {
    std::ostringstream diagnostics;
    auto map = ParsePortMap("# printers\n\n  com7 = /dev/pts/5  \nLPT1=/dev/usb/lp0\r\nbad line\nCOM=/dev/x\n"
                            "COM8=relative/node\nCom7=/dev/other\n9COM=/dev/y",
                            "ports", diagnostics);
    EXPECT_EQ(Lines(map), (std::vector<std::string>{"COM7=/dev/pts/5", "LPT1=/dev/usb/lp0"}));
    std::string text = diagnostics.str();
    for (const char* where : {"ports:5:", "ports:6:", "ports:7:", "ports:8:", "ports:9:"}) {
        EXPECT_NE(text.find(where), std::string::npos) << where << " in\n" << text;
    }
    EXPECT_NE(text.find("already mapped"), std::string::npos);
    EXPECT_EQ(text.find("ports:3:"), std::string::npos);
}

TEST(DevicesPortMap, EnvironmentNamesTheFileWhichReplacesTheDefaultMap) {
    ScopedEnvironment environment;
    TempDir folder, tree;
    Touch(tree / "dev/ttyUSB0");
    DeviceTree roots{tree / "dev", tree / "sys"};
    std::ostringstream diagnostics;

    environment.Set("QUORLINK_PORT_MAP", (folder / "absent").string());
    EXPECT_EQ(LoadPortMap(roots, diagnostics).size(), 1u);  // no file: the default map

    devices_testing::UsePortMap(environment, folder, "COM7=/dev/pts/9\n");
    EXPECT_EQ(Lines(LoadPortMap(roots, diagnostics)), (std::vector<std::string>{"COM7=/dev/pts/9"}));
    EXPECT_EQ(ResolvePortName("com7:"), "/dev/pts/9");
    EXPECT_EQ(ResolvePortName("COM1"), std::nullopt);  // the file replaced the scan

    devices_testing::UsePortMap(environment, folder, "");
    EXPECT_TRUE(LoadPortMap(roots, diagnostics).empty());

    devices_testing::UsePortMap(environment, folder, std::string(kMaxPortMapFileSize + 1, '#'));
    EXPECT_TRUE(LoadPortMap(roots, diagnostics).empty());
    EXPECT_NE(diagnostics.str().find("larger than"), std::string::npos);
}

TEST(DevicesPortMap, ComplaintsOfTheMapInForceGoToTheDiagnosticsOnce) {
    namespace diagnostics = marquen::diagnostics;
    ScopedEnvironment environment;
    TempDir folder;
    std::vector<std::string> warnings;
    diagnostics::SetHandler([&](diagnostics::Level level, std::string_view message) {
        if (level == diagnostics::Level::kWarning) warnings.emplace_back(message);
    });
    devices_testing::UsePortMap(environment, folder, "COM7=/dev/pts/9\nbad line\n");
    // Every look-up reads the file; the complaint comes once.
    EXPECT_EQ(ResolvePortName("COM7"), "/dev/pts/9");
    EXPECT_EQ(ResolvePortName("COM7"), "/dev/pts/9");
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find(":2: expected NAME=/dev/node; line ignored"), std::string::npos) << warnings[0];
    // An edited file with another fault: reported at once.
    devices_testing::UsePortMap(environment, folder, "COM7=relative\n");
    EXPECT_EQ(ResolvePortName("COM7"), std::nullopt);
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_NE(warnings[1].find(":1: the device node must be an absolute path"), std::string::npos) << warnings[1];
    diagnostics::SetHandler({});
}

TEST(DevicesPortMap, FileLocationFollowsXdgThenHome) {
    ScopedEnvironment environment;
    environment.Unset("QUORLINK_PORT_MAP");
    environment.Set("XDG_CONFIG_HOME", "/tmp/xdg-test");
    EXPECT_EQ(PortMapFilePath(), std::filesystem::path("/tmp/xdg-test/quorlink/ports"));
    environment.Unset("XDG_CONFIG_HOME");
    environment.Set("HOME", "/home/someone");
    EXPECT_EQ(PortMapFilePath(), std::filesystem::path("/home/someone/.config/quorlink/ports"));
    environment.Set("QUORLINK_PORT_MAP", "/etc/my-ports");
    EXPECT_EQ(PortMapFilePath(), std::filesystem::path("/etc/my-ports"));
}

}  // namespace
