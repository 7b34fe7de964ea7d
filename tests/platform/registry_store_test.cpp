// The registry key store: keys and values, the file under XDG_CONFIG_HOME,
// persistence, damaged files.
#include "registry/registry.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/stat.h>

namespace {

namespace registry = marquen::registry;
using testing_support::ReadFileBytes;
using testing_support::WriteFileBytes;

class RegistryStore : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("XDG_CONFIG_HOME", m_dir.path().c_str(), 1);
        // No package's system-wide registration may leak in.
        setenv("XDG_CONFIG_DIRS", (m_dir.path() / "no-system").c_str(), 1);
    }
    void TearDown() override {
        unsetenv("XDG_CONFIG_HOME");
        unsetenv("XDG_CONFIG_DIRS");
    }
    std::string Text() {
        auto bytes = ReadFileBytes(registry::StorePath());
        return std::string(bytes.begin(), bytes.end());
    }
    testing_support::TempDir m_dir;
};

TEST_F(RegistryStore, LivesUnderTheConfigurationFolder) {
    EXPECT_EQ(registry::StorePath(), m_dir.path() / "quorlink" / "registry");
    const char* home = std::getenv("HOME");
    setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
    if (home) {
        EXPECT_EQ(registry::StorePath(), std::filesystem::path(home) / ".config" / "quorlink" / "registry");
    }
    unsetenv("XDG_CONFIG_HOME");
    if (home) {
        EXPECT_EQ(registry::StorePath(), std::filesystem::path(home) / ".config" / "quorlink" / "registry");
    }
}

TEST_F(RegistryStore, ValuesPersistAcrossReopenAndIgnoreCase) {
    std::string value = "untouched";
    EXPECT_EQ(registry::QueryValue("CLSID\\{X}", "", value), ERROR_FILE_NOT_FOUND) << "no file is an empty registry";
    EXPECT_EQ(value, "untouched");

    ASSERT_EQ(registry::SetValue("CLSID\\{ABC}\\InprocServer32", "", "/usr/lib/libx.so"), ERROR_SUCCESS);
    ASSERT_EQ(registry::SetValue("CLSID\\{ABC}\\InprocServer32", "ThreadingModel", "Apartment"), ERROR_SUCCESS);
    ASSERT_EQ(registry::Update([](registry::Tree& tree) {
                  tree.Create("CLSID\\{ABC}\\Programmable");
                  return ERROR_SUCCESS;
              }),
              ERROR_SUCCESS);

    // Every call reads the file afresh, so what another program wrote shows.
    std::string text = Text();
    EXPECT_NE(text.find("[CLSID\\{ABC}\\InprocServer32]\n@=\"/usr/lib/libx.so\"\n\"ThreadingModel\"=\"Apartment\"\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("[CLSID\\{ABC}\\Programmable]"), std::string::npos) << "empty keys are kept";

    ASSERT_EQ(registry::QueryValue("clsid\\{abc}\\INPROCSERVER32", "threadingmodel", value), ERROR_SUCCESS);
    EXPECT_EQ(value, "Apartment");
    EXPECT_EQ(registry::OpenKey("CLSID\\{ABC}\\Programmable"), ERROR_SUCCESS);
    EXPECT_EQ(registry::QueryValue("CLSID\\{ABC}\\Programmable", "", value), ERROR_FILE_NOT_FOUND)
        << "a key without a default value";

    // Replace by a differently cased name keeps the first spelling.
    ASSERT_EQ(registry::SetValue("clsid\\{abc}", "", "Communication Class"), ERROR_SUCCESS);
    registry::Tree tree;
    ASSERT_EQ(registry::Load(tree), ERROR_SUCCESS);
    ASSERT_EQ(tree.Root().Children().size(), 1u);
    EXPECT_EQ(tree.Root().Children()[0]->Name(), "CLSID");
    const registry::Key* key = tree.Find("CLSID\\{ABC}");
    ASSERT_NE(key, nullptr);
    std::vector<std::string> names;
    for (const auto& child : key->Children())
        names.push_back(child->Name());
    EXPECT_EQ(names, (std::vector<std::string>{"InprocServer32", "Programmable"}));
}

TEST_F(RegistryStore, RemovingValuesAndTrees) {
    ASSERT_EQ(registry::SetValue("Quorlink.Communication\\CLSID", "", "{ABC}"), ERROR_SUCCESS);
    ASSERT_EQ(registry::SetValue("Quorlink.Communication", "Extra", "x"), ERROR_SUCCESS);
    ASSERT_EQ(registry::SetValue("Keep", "", "me"), ERROR_SUCCESS);
    EXPECT_EQ(registry::Update([](registry::Tree& tree) {
                  return tree.Find("Quorlink.Communication")->RemoveValue("Extra") ? ERROR_SUCCESS : ERROR_NOT_FOUND;
              }),
              ERROR_SUCCESS);
    std::string value;
    EXPECT_EQ(registry::QueryValue("Quorlink.Communication", "Extra", value), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(registry::Update([](registry::Tree& tree) {
                  return tree.Remove("quorlink.communication") ? ERROR_SUCCESS : ERROR_NOT_FOUND;
              }),
              ERROR_SUCCESS);
    EXPECT_EQ(registry::OpenKey("Quorlink.Communication\\CLSID"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(registry::OpenKey("Keep"), ERROR_SUCCESS) << "other keys stay";
}

TEST_F(RegistryStore, InvalidPathsAndValuesAreRefused) {
    for (const char* bad : {"", "\\CLSID", "CLSID\\", "CLSID\\\\X", "A\nB", "A\tB"})
        EXPECT_EQ(registry::SetValue(bad, "", "x"), ERROR_BADKEY) << bad;
    EXPECT_EQ(registry::SetValue(std::string(256, 'k'), "", "x"), ERROR_BADKEY);
    EXPECT_EQ(registry::SetValue("K", "", std::string("a\0b", 3)), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(std::filesystem::exists(registry::StorePath())) << "nothing was written";
    std::string deep = "K";
    for (size_t i = 1; i < registry::kMaxKeyDepth; ++i)
        deep += "\\K";
    EXPECT_EQ(registry::SetValue(deep, "", "x"), ERROR_SUCCESS);
    EXPECT_EQ(registry::SetValue(deep + "\\K", "", "x"), ERROR_BADKEY);
}

TEST_F(RegistryStore, AwkwardTextSurvivesTheRoundTrip) {
    const std::string awkward = "quote \" back\\slash\nnew line\r\ttab \x01 ] [ = @ caf\xC3\xA9";
    ASSERT_EQ(registry::SetValue("Key [with] brackets = and @", awkward, awkward), ERROR_SUCCESS);
    std::string value;
    ASSERT_EQ(registry::QueryValue("Key [with] brackets = and @", awkward, value), ERROR_SUCCESS);
    EXPECT_EQ(value, awkward);
    std::string text = Text();
    EXPECT_EQ(text.find('\x01'), std::string::npos) << "control bytes are escaped";
}

TEST_F(RegistryStore, UpdateIsAllOrNothing) {
    ASSERT_EQ(registry::SetValue("Keep", "", "me"), ERROR_SUCCESS);
    std::string before = Text();
    DWORD rc = registry::Update([](registry::Tree& tree) {
        tree.Create("Half\\Written")->SetValue("", "never stored");
        tree.Remove("Keep");
        return ERROR_CANTWRITE;
    });
    EXPECT_EQ(rc, ERROR_CANTWRITE);
    EXPECT_EQ(Text(), before);
    EXPECT_FALSE(registry::LastErrorDetail().empty());

    // An update that changes nothing leaves the file as it is.
    struct stat first {};
    ASSERT_EQ(::stat(registry::StorePath().c_str(), &first), 0);
    ASSERT_EQ(registry::SetValue("Keep", "", "me"), ERROR_SUCCESS);
    struct stat second {};
    ASSERT_EQ(::stat(registry::StorePath().c_str(), &second), 0);
    EXPECT_EQ(first.st_ino, second.st_ino);
    // No temporary files are left behind.
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(registry::StorePath().parent_path()))
        files += entry.path().filename() != "registry.lock";
    EXPECT_EQ(files, 1);
}

TEST_F(RegistryStore, DamagedFileGivesAClearErrorAndIsNeverOverwritten) {
    std::filesystem::create_directories(registry::StorePath().parent_path());
    const std::string damaged = "quorlink-registry 1\n[CLSID]\n@=\"ok\"\n\"unterminated=\"x\n";
    WriteFileBytes(registry::StorePath(), std::vector<uint8_t>(damaged.begin(), damaged.end()));
    std::string value;
    EXPECT_EQ(registry::QueryValue("CLSID", "", value), ERROR_REGISTRY_CORRUPT);
    EXPECT_NE(registry::LastErrorDetail().find("line 4"), std::string::npos) << registry::LastErrorDetail();
    EXPECT_NE(registry::LastErrorDetail().find(registry::StorePath().string()), std::string::npos);
    EXPECT_EQ(registry::SetValue("CLSID", "", "new"), ERROR_REGISTRY_CORRUPT);
    EXPECT_EQ(Text(), damaged) << "the user's file is left for repair";
    EXPECT_EQ(registry::OpenKey("CLSID"), ERROR_REGISTRY_CORRUPT);
    EXPECT_EQ(Text(), damaged);
}

TEST_F(RegistryStore, SystemStoresLieBeneathTheUsersOwn) {
    const std::string server = "CLSID\\{D982E207-AC14-4E7B-B980-3ADDFCC8E5F9}\\InprocServer32";
    // Two system folders, written as a package would have (through the same
    // writer, pointed at them for the moment).
    const std::filesystem::path first = m_dir.path() / "etc-xdg";
    const std::filesystem::path second = m_dir.path() / "usr-xdg";
    setenv("XDG_CONFIG_HOME", first.c_str(), 1);
    ASSERT_EQ(registry::SetValue(server, "", "/usr/lib/marquen/libquorlink.so"), ERROR_SUCCESS);
    ASSERT_EQ(registry::SetValue(server, "ThreadingModel", "Apartment"), ERROR_SUCCESS);
    setenv("XDG_CONFIG_HOME", second.c_str(), 1);
    ASSERT_EQ(registry::SetValue(server, "", "/opt/other/libquorlink.so"), ERROR_SUCCESS);
    ASSERT_EQ(registry::SetValue("TypeLib\\{X}", "", "only in the second"), ERROR_SUCCESS);
    const std::vector<uint8_t> firstBytes = ReadFileBytes(first / "quorlink" / "registry");
    setenv("XDG_CONFIG_HOME", m_dir.path().c_str(), 1);
    setenv("XDG_CONFIG_DIRS", ("relative/ignored:" + first.string() + ":" + second.string()).c_str(), 1);
    EXPECT_EQ(registry::SystemStorePaths(),
              (std::vector<std::filesystem::path>{first / "quorlink" / "registry", second / "quorlink" / "registry"}));

    // Without a store of their own, every user sees the system's, the
    // earlier folder first, the later filling in what it lacks.
    std::string value;
    ASSERT_EQ(registry::QueryValue(server, "", value), ERROR_SUCCESS);
    EXPECT_EQ(value, "/usr/lib/marquen/libquorlink.so");
    ASSERT_EQ(registry::QueryValue("TypeLib\\{x}", "", value), ERROR_SUCCESS);
    EXPECT_EQ(value, "only in the second");

    // The user's own registration wins, value by value, and changes go to
    // the user's store only.
    ASSERT_EQ(registry::SetValue(server, "", "/home/someone/build/bin/libquorlink.so"), ERROR_SUCCESS);
    ASSERT_EQ(registry::QueryValue(server, "", value), ERROR_SUCCESS);
    EXPECT_EQ(value, "/home/someone/build/bin/libquorlink.so");
    ASSERT_EQ(registry::QueryValue(server, "ThreadingModel", value), ERROR_SUCCESS);
    EXPECT_EQ(value, "Apartment");
    EXPECT_EQ(Text().find("ThreadingModel"), std::string::npos) << Text();
    EXPECT_EQ(Text().find("only in the second"), std::string::npos) << Text();
    EXPECT_EQ(ReadFileBytes(first / "quorlink" / "registry"), firstBytes);
    // Removing the user's key uncovers the system's again.
    ASSERT_EQ(registry::Update([&](registry::Tree& tree) {
                  tree.Remove("CLSID");
                  return ERROR_SUCCESS;
              }),
              ERROR_SUCCESS);
    ASSERT_EQ(registry::QueryValue(server, "", value), ERROR_SUCCESS);
    EXPECT_EQ(value, "/usr/lib/marquen/libquorlink.so");

    // A damaged system store is named when reading, and never stops the
    // user from changing their own.
    const std::string damaged = "quorlink-registry 1\n@=\"value outside a key\"\n";
    WriteFileBytes(second / "quorlink" / "registry", std::vector<uint8_t>(damaged.begin(), damaged.end()));
    EXPECT_EQ(registry::QueryValue(server, "", value), ERROR_REGISTRY_CORRUPT);
    EXPECT_NE(registry::LastErrorDetail().find((second / "quorlink" / "registry").string()), std::string::npos)
        << registry::LastErrorDetail();
    EXPECT_EQ(registry::SetValue("Mine", "", "kept"), ERROR_SUCCESS);

    // Unset or empty: the XDG default.
    unsetenv("XDG_CONFIG_DIRS");
    EXPECT_EQ(registry::SystemStorePaths(), std::vector<std::filesystem::path>{"/etc/xdg/quorlink/registry"});
    setenv("XDG_CONFIG_DIRS", "", 1);
    EXPECT_EQ(registry::SystemStorePaths(), std::vector<std::filesystem::path>{"/etc/xdg/quorlink/registry"});
}

TEST(RegistryText, ParseRejectsWhatTheWriterNeverProduces) {
    struct Case {
        const char* text;
        const char* problem;
    };
    const Case cases[] = {
        {"", "empty"},
        {"something else\n", "not a registry file"},
        {"quorlink-registry 2\n", "not a registry file"},
        {"quorlink-registry 1\n@=\"x\"\n", "outside a key"},
        {"quorlink-registry 1\n[A]\n[a]\n", "twice"},
        {"quorlink-registry 1\n[A\n", "not closed"},
        {"quorlink-registry 1\n[A\\\\B]\n", "invalid key path"},
        {"quorlink-registry 1\n[A]\n\"v\"=\"1\"\n\"V\"=\"2\"\n", "value listed twice"},
        {"quorlink-registry 1\n[A]\n\"v\"\"1\"\n", "expected ="},
        {"quorlink-registry 1\n[A]\n\"v\"=\"1\" trailing\n", "text after"},
        {"quorlink-registry 1\n[A]\n\"v\"=\"\\q\"\n", "unknown escape"},
        {"quorlink-registry 1\n[A]\n\"v\"=\"\\x0\"\n", "\\x escape"},
        {"quorlink-registry 1\n[A]\n\"v\"=\"\\x00\"\n", "\\x escape"},
        {"quorlink-registry 1\n[A]\n\"\"=\"x\"\n", "empty value name"},
        {"quorlink-registry 1\n[A]\n\"v\"=\"a\tb\"\n", "control character"},
        {"quorlink-registry 1\n[A]\n\"v\"=x\n", "expected a quoted text"},
    };
    for (const Case& c : cases) {
        registry::Tree tree;
        std::string problem;
        std::string_view text(c.text);
        EXPECT_FALSE(registry::Parse(std::span<const char>(text.data(), text.size()), tree, problem)) << c.text;
        EXPECT_NE(problem.find(c.problem), std::string::npos) << c.text << " -> " << problem;
    }
    registry::Tree tree;
    std::string problem;
    std::string nul("quorlink-registry 1\n[A\0]\n", 25);
    EXPECT_FALSE(registry::Parse(std::span<const char>(nul.data(), nul.size()), tree, problem));
}

TEST(RegistryText, EveryTruncationAndByteFlipFailsCleanlyOrParses) {
    registry::Tree tree;
    tree.Create("CLSID\\{6A1C2F10-3B4D-4E5F-9012-3456789ABC01}\\InprocServer32")->SetValue("", "/a/b \"c\"\n");
    tree.Create("CLSID\\{6A1C2F10-3B4D-4E5F-9012-3456789ABC01}\\InprocServer32")->SetValue("ThreadingModel", "Apartment");
    tree.Create("Quorlink.Communication\\CurVer")->SetValue("", "Quorlink.Communication.1");
    const std::string text = registry::Serialize(tree);
    {
        registry::Tree again;
        std::string problem;
        ASSERT_TRUE(registry::Parse(std::span<const char>(text.data(), text.size()), again, problem)) << problem;
        EXPECT_EQ(registry::Serialize(again), text);
    }
    for (size_t length = 0; length < text.size(); ++length) {
        registry::Tree partial;
        std::string problem;
        bool parsed = registry::Parse(std::span<const char>(text.data(), length), partial, problem);
        EXPECT_TRUE(parsed || !problem.empty());
    }
    for (size_t i = 0; i < text.size(); ++i) {
        for (unsigned char flip : {0x01, 0x20, 0x80, 0xFF}) {
            std::string mutated = text;
            mutated[i] = static_cast<char>(mutated[i] ^ flip);
            registry::Tree result;
            std::string problem;
            bool parsed = registry::Parse(std::span<const char>(mutated.data(), mutated.size()), result, problem);
            EXPECT_TRUE(parsed || !problem.empty());
            if (parsed) {
                // What parses is a store again: written and read back unchanged.
                std::string rewritten = registry::Serialize(result);
                registry::Tree back;
                EXPECT_TRUE(registry::Parse(std::span<const char>(rewritten.data(), rewritten.size()), back, problem));
                EXPECT_EQ(registry::Serialize(back), rewritten);
            }
        }
    }
}

}  // namespace
