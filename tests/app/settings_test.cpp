// The ten settings in the profile: defaults on a first run, what an exit
// writes, and what a damaged profile reads as.
#include "app_test_util.h"

#include <wx/log.h>

using namespace app_testing;

namespace {

class SettingsTest : public AppFixture {};

const std::vector<std::string> kKeyOrder = {"Interface",   "Port",         "Baud rate", "Parity",
                                            "Stop",        "Flow control", "ReadTimeout", "WriteTimeout",
                                            "Version",     "Backgound color", "Host",      "TCP port"};

TEST_F(SettingsTest, FirstRunUsesTheDefaultsAndExitWritesEveryKeyInOrder)
{
    // Scribble over every field: the start-up must bring the defaults back.
    app.m_nInterface = 2;
    app.m_nPort = 7;
    app.m_nBaudRate = 9600;
    app.m_nParity = 2;
    app.m_nStopBits = 2;
    app.m_nFlowControl = 4;
    app.m_nReadTimeout = 1;
    app.m_nWriteTimeout = 1;
    app.m_crBackground = 0x123456;
    app.m_strHost = "left over";
    app.m_nTcpPort = 1;
    ASSERT_FALSE(std::filesystem::exists(app.GetProfilePath()));

    ASSERT_TRUE(app.InitInstance());
    EXPECT_EQ(app.m_nInterface, 0);  // serial
    EXPECT_EQ(app.m_nPort, 0);       // COM1
    EXPECT_EQ(app.m_nBaudRate, 115200);
    EXPECT_EQ(app.m_nParity, 0);
    EXPECT_EQ(app.m_nStopBits, 0);
    EXPECT_EQ(app.m_nFlowControl, 1);  // DTR/DSR
    EXPECT_EQ(app.m_nReadTimeout, 20000);
    EXPECT_EQ(app.m_nWriteTimeout, 5000);
    EXPECT_EQ(app.m_nVersion, 0);
    EXPECT_EQ(app.m_crBackground, 0xFF0000u);  // blue
    EXPECT_EQ(app.m_strHost, "");
    EXPECT_EQ(app.m_nTcpPort, 9100);

    EXPECT_EQ(app.ExitInstance(), 3);
    auto entries = ReadSection(app.GetProfilePath());
    std::vector<std::string> names;
    for (const auto& entry : entries)
        names.push_back(entry.first);
    EXPECT_EQ(names, kKeyOrder);
    const std::vector<long> values = {0, 0, 115200, 0, 0, 1, 20000, 5000, 0, 0xFF0000};
    for (size_t i = 0; i < entries.size() && i < values.size(); ++i)
        EXPECT_EQ(entries[i].second, values[i]) << entries[i].first;
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(SettingsTest, ValuesChangedDuringARunComeBackNextRun)
{
    ASSERT_TRUE(app.InitInstance());
    app.m_nInterface = 1;
    app.m_nPort = 2;
    app.m_nBaudRate = 9600;
    app.m_nParity = 2;
    app.m_nStopBits = 1;
    app.m_nFlowControl = 4;
    app.m_nReadTimeout = 300;
    app.m_nWriteTimeout = 400;
    app.m_nVersion = 3;
    app.m_crBackground = 0x80FF00;
    app.ExitInstance();

    RecordingApp next(messages, windows);
    next.SetProfilePath(app.GetProfilePath());
    next.LoadSettings();
    EXPECT_EQ(next.m_nInterface, 1);
    EXPECT_EQ(next.m_nPort, 2);
    EXPECT_EQ(next.m_nBaudRate, 9600);
    EXPECT_EQ(next.m_nParity, 2);
    EXPECT_EQ(next.m_nStopBits, 1);
    EXPECT_EQ(next.m_nFlowControl, 4);
    EXPECT_EQ(next.m_nReadTimeout, 300);
    EXPECT_EQ(next.m_nWriteTimeout, 400);
    EXPECT_EQ(next.m_nVersion, 3);
    EXPECT_EQ(next.m_crBackground, 0x80FF00u);
}

TEST_F(SettingsTest, KeysThatHoldNoUsableIntegerKeepTheirDefaults)
{
    const std::string damaged = "[Settings]\n"
                                "Baud\\ rate=fast\n"
                                "Port=3\n"
                                "Parity=99999999999\n"
                                "Flow\\ control= 2 \n"
                                "Version=-1\n"
                                "Backgound\\ color=-1\n"
                                "ReadTimeout=\n";
    testing_support::WriteFileBytes(dir / "damaged.conf", std::vector<uint8_t>(damaged.begin(), damaged.end()));
    app.SetProfilePath((dir / "damaged.conf").string());
    app.LoadSettings();
    EXPECT_EQ(app.m_nBaudRate, 115200);
    EXPECT_EQ(app.m_nPort, 3);
    EXPECT_EQ(app.m_nParity, 0);
    EXPECT_EQ(app.m_nFlowControl, 2);
    EXPECT_EQ(app.m_nReadTimeout, 20000);
    EXPECT_EQ(app.m_nVersion, -1);  // values are not range-tested
    EXPECT_EQ(app.m_crBackground, 0xFFFFFFFFu);
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(SettingsTest, TheNetworkPrintersAddressIsReadAndAnOlderProfileKeepsWorking)
{
    const std::string network = "[Settings]\nInterface=3\nHost= till-4.shop.example \nTCP\\ port=9101\n";
    testing_support::WriteFileBytes(dir / "network.conf", std::vector<uint8_t>(network.begin(), network.end()));
    app.SetProfilePath((dir / "network.conf").string());
    app.LoadSettings();
    EXPECT_EQ(app.m_nInterface, 3);
    EXPECT_EQ(app.m_strHost, "till-4.shop.example");
    EXPECT_EQ(app.m_nTcpPort, 9101);

    // No such keys (a profile of before), or a port that is none: the defaults.
    const std::string older = "[Settings]\nInterface=0\nPort=2\nTCP\\ port=65536\n";
    testing_support::WriteFileBytes(dir / "older.conf", std::vector<uint8_t>(older.begin(), older.end()));
    RecordingApp reader(messages, windows);
    reader.SetProfilePath((dir / "older.conf").string());
    reader.LoadSettings();
    EXPECT_EQ(reader.m_nInterface, 0);
    EXPECT_EQ(reader.m_nPort, 2);
    EXPECT_EQ(reader.m_strHost, "");
    EXPECT_EQ(reader.m_nTcpPort, 9100);
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(SettingsTest, TimeOutsAndPortNumbersOutOfTheirRangeKeepTheirDefaults)
{
    struct Case {
        const char* values;
        int readTimeout, writeTimeout, port;
    };
    // A time-out of 0 or less fails every exchange at once; a port number
    // beyond COM256 (or below COM1) names no port. The ends of the ranges
    // are kept.
    for (const Case& c : {Case{"ReadTimeout=0\nWriteTimeout=0\nPort=256\n", 20000, 5000, 0},
                          Case{"ReadTimeout=-5\nWriteTimeout=-1\nPort=-1\n", 20000, 5000, 0},
                          Case{"ReadTimeout=-2147483648\nWriteTimeout=-7\nPort=2147483647\n", 20000, 5000, 0},
                          Case{"ReadTimeout=1\nWriteTimeout=1\nPort=255\n", 1, 1, 255}}) {
        const std::string text = std::string("[Settings]\n") + c.values;
        testing_support::WriteFileBytes(dir / "range.conf", std::vector<uint8_t>(text.begin(), text.end()));
        RecordingApp reader(messages, windows);
        reader.SetProfilePath((dir / "range.conf").string());
        reader.LoadSettings();
        EXPECT_EQ(reader.m_nReadTimeout, c.readTimeout) << c.values;
        EXPECT_EQ(reader.m_nWriteTimeout, c.writeTimeout) << c.values;
        EXPECT_EQ(reader.m_nPort, c.port) << c.values;
    }
}

TEST_F(SettingsTest, ADamagedProfileLineIsReportedWithTheProfilesPath)
{
    class Recording : public wxLog {
    public:
        std::vector<std::string> texts;

    protected:
        void DoLogRecord(wxLogLevel, const wxString& text, const wxLogRecordInfo&) override
        {
            texts.push_back(text.utf8_string());
        }
    } recording;
    wxLog* previous = wxLog::SetActiveTarget(&recording);
    const std::string damaged = "[Settings\nPort=2\n=5\n";
    testing_support::WriteFileBytes(dir / "damaged.conf", std::vector<uint8_t>(damaged.begin(), damaged.end()));
    const std::string path = (dir / "damaged.conf").string();
    RecordingApp reader(messages, windows);
    reader.SetProfilePath(path);
    reader.LoadSettings();
    wxLog::SetActiveTarget(previous);

    ASSERT_FALSE(recording.texts.empty());
    for (const std::string& text : recording.texts) {
        EXPECT_NE(text.find("profile '" + path + "'"), std::string::npos) << text;
        EXPECT_EQ(text.find("file ''"), std::string::npos) << text;
    }
}

TEST_F(SettingsTest, ProfileThatCannotBeWrittenIsReported)
{
    // The profile's folder is a plain file: nothing can be created below it
    // (permissions would not stop a test run as root).
    testing_support::WriteFileBytes(dir / "blocked", {'x'});
    std::string path = (dir / "blocked/Marquen.conf").string();
    app.SetProfilePath(path);
    app.LoadSettings();
    EXPECT_EQ(app.m_nBaudRate, 115200);

    EXPECT_FALSE(app.SaveSettings());
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].text, "The settings could not be saved to " + path + ".");
    EXPECT_EQ(messages.shown[0].icon, MessageIcon::Warning);
}

TEST_F(SettingsTest, ProfileThatCannotBeReadIsNeverReplaced)
{
    // A folder where the file should be: read as an empty profile, kept as is.
    std::filesystem::create_directories(dir / "folder.conf");
    app.SetProfilePath((dir / "folder.conf").string());
    app.LoadSettings();
    EXPECT_EQ(app.m_nFlowControl, 1);
    EXPECT_FALSE(app.SaveSettings());
    EXPECT_EQ(messages.shown.size(), 1u);
    EXPECT_TRUE(std::filesystem::is_directory(dir / "folder.conf"));
}

TEST_F(SettingsTest, SavingKeepsTheProfilesOtherEntries)
{
    const std::string before = "[Settings]\n"
                               "Acrobat\\ Web\\ site=https://example.invalid/reader\n"
                               "Port=1\n"
                               "[Recent File List]\n"
                               "File1=/pictures/shop.bmp\n";
    std::filesystem::create_directories(dir / "config");
    testing_support::WriteFileBytes(app.GetProfilePath(), std::vector<uint8_t>(before.begin(), before.end()));
    app.LoadSettings();
    EXPECT_EQ(app.m_nPort, 1);
    app.m_nPort = 4;
    ASSERT_TRUE(app.SaveSettings());

    std::vector<uint8_t> bytes = testing_support::ReadFileBytes(app.GetProfilePath());
    std::string after(bytes.begin(), bytes.end());
    EXPECT_NE(after.find("Acrobat\\ Web\\ site=https://example.invalid/reader\n"), std::string::npos) << after;
    EXPECT_NE(after.find("[Recent File List]\nFile1=/pictures/shop.bmp\n"), std::string::npos) << after;
    EXPECT_NE(after.find("Port=4\n"), std::string::npos) << after;
    EXPECT_EQ(ReadSection(app.GetProfilePath()).size(), 13u);
    // Only the profile itself is left in its folder.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "config"), {}), 1);
}

TEST_F(SettingsTest, ARunThatChangesNothingLeavesTheProfileAlone)
{
    // Without a profile, reading the settings creates none.
    {
        RecordingApp reader(messages, windows);
        reader.SetProfilePath((dir / "none/Marquen.conf").string());
        reader.LoadSettings();
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "none"));

    // A run that only reads (marquen-cli's) does not put back what it read
    // over what another run saved in the meantime.
    const std::string first = "[Settings]\nPort=1\n";
    std::filesystem::create_directories(dir / "config");
    testing_support::WriteFileBytes(app.GetProfilePath(), std::vector<uint8_t>(first.begin(), first.end()));
    {
        RecordingApp reader(messages, windows);
        reader.SetProfilePath(app.GetProfilePath());
        reader.LoadSettings();
        app.LoadSettings();
        app.m_nPort = 5;
        ASSERT_TRUE(app.SaveSettings());
    }
    RecordingApp next(messages, windows);
    next.SetProfilePath(app.GetProfilePath());
    next.LoadSettings();
    EXPECT_EQ(next.m_nPort, 5);
    EXPECT_TRUE(messages.shown.empty());
}

TEST(SettingsPathTest, ProfileLivesInTheUsersConfigFolder)
{
    const char* saved = std::getenv("XDG_CONFIG_HOME");
    std::string previous = saved != nullptr ? saved : "";
    setenv("XDG_CONFIG_HOME", "/somewhere/config", 1);
    EXPECT_EQ(app_settings::DefaultProfilePath(), "/somewhere/config/Marquen.conf");
    setenv("XDG_CONFIG_HOME", "relative", 1);
    std::string home = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
    if (!home.empty()) {
        EXPECT_EQ(app_settings::DefaultProfilePath(), home + "/.config/Marquen.conf");
    }
    if (saved != nullptr)
        setenv("XDG_CONFIG_HOME", previous.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
