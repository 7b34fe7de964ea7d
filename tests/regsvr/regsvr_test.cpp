// regsvr as a program: exit status, messages, and the keys it leaves.
#include "com/com.h"
#include "com_test_module.h"
#include "registry/registry.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/wait.h>

namespace {

namespace registry = marquen::registry;
using testing_support::ReadFileBytes;

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

class Regsvr : public ::testing::Test {
protected:
    void SetUp() override { setenv("XDG_CONFIG_HOME", (m_dir / "config").c_str(), 1); }
    void TearDown() override { unsetenv("XDG_CONFIG_HOME"); }

    // Runs regsvr with `arguments` (already quoted for the shell).
    Outcome Run(const std::string& arguments, const std::string& folder = ".") {
        std::string program = (testing_support::BinaryDir() / "regsvr").string();
        std::string command = "cd '" + folder + "' && '" + program + "' " + arguments + " >'" +
                              (m_dir / "out").string() + "' 2>'" + (m_dir / "err").string() + "'";
        int status = std::system(command.c_str());
        auto text = [&](const char* name) {
            auto bytes = ReadFileBytes(m_dir / name);
            return std::string(bytes.begin(), bytes.end());
        };
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text("out"), text("err")};
    }
    static std::string Quoted(const std::string& path) { return "'" + path + "'"; }

    testing_support::TempDir m_dir;
};

const std::string kServerKey = "CLSID\\" + GuidToString(CLSID_TestCounter) + "\\InprocServer32";

TEST_F(Regsvr, RegistersAndUnregistersTheModule) {
    Outcome done = Run(Quoted(COM_TEST_MODULE_PATH));
    ASSERT_EQ(done.status, 0) << done.err;
    EXPECT_NE(done.out.find("DllRegisterServer in"), std::string::npos) << done.out;
    EXPECT_NE(done.out.find("succeeded"), std::string::npos);
    EXPECT_TRUE(done.err.empty()) << done.err;
    std::string path;
    ASSERT_EQ(registry::QueryValue(kServerKey, "", path), ERROR_SUCCESS);
    EXPECT_EQ(std::filesystem::path(path), std::filesystem::canonical(COM_TEST_MODULE_PATH));

    Outcome undone = Run("-u " + Quoted(COM_TEST_MODULE_PATH));
    ASSERT_EQ(undone.status, 0) << undone.err;
    EXPECT_NE(undone.out.find("DllUnregisterServer in"), std::string::npos);
    EXPECT_EQ(registry::OpenKey(kServerKey), ERROR_FILE_NOT_FOUND);
}

TEST_F(Regsvr, BareNameIsTakenFromTheCurrentFolderAndRecordedInFull) {
    std::filesystem::path module = std::filesystem::canonical(COM_TEST_MODULE_PATH);
    Outcome done = Run(Quoted(module.filename().string()), module.parent_path().string());
    ASSERT_EQ(done.status, 0) << done.err;
    std::string path;
    ASSERT_EQ(registry::QueryValue(kServerKey, "", path), ERROR_SUCCESS);
    EXPECT_EQ(path, module.string());
}

TEST_F(Regsvr, HelpAndBadArguments) {
    Outcome help = Run("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: regsvr [-u] MODULE"), std::string::npos) << help.out;

    Outcome none = Run("");
    EXPECT_EQ(none.status, 2);
    EXPECT_NE(none.err.find("no module given"), std::string::npos) << none.err;
    Outcome unknown = Run("-x " + Quoted(COM_TEST_MODULE_PATH));
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.err.find("unknown option -x"), std::string::npos) << unknown.err;
    Outcome two = Run(Quoted(COM_TEST_MODULE_PATH) + " " + Quoted(COM_TEST_BARE_MODULE_PATH));
    EXPECT_EQ(two.status, 2);
    EXPECT_FALSE(std::filesystem::exists(registry::StorePath())) << "nothing was registered";
}

TEST_F(Regsvr, ModuleThatCannotBeLoaded) {
    Outcome missing = Run(Quoted((m_dir / "missing.so").string()));
    EXPECT_EQ(missing.status, 3);
    EXPECT_NE(missing.err.find("The specified module could not be found."), std::string::npos) << missing.err;
    EXPECT_NE(missing.err.find("0x8007007E"), std::string::npos);

    testing_support::WriteFileBytes(m_dir / "text.so", {'t', 'e', 'x', 't', '\n'});
    Outcome text = Run(Quoted((m_dir / "text.so").string()));
    EXPECT_EQ(text.status, 3);
    EXPECT_NE(text.err.find("Error in the module"), std::string::npos) << text.err;
}

TEST_F(Regsvr, ModuleWithoutTheEntryPoint) {
    Outcome bare = Run(Quoted(COM_TEST_BARE_MODULE_PATH));
    EXPECT_EQ(bare.status, 4);
    EXPECT_NE(bare.err.find("no DllRegisterServer in"), std::string::npos) << bare.err;
    EXPECT_NE(bare.err.find("The specified procedure could not be found."), std::string::npos);
    Outcome bareUndo = Run("-u " + Quoted(COM_TEST_BARE_MODULE_PATH));
    EXPECT_EQ(bareUndo.status, 4);
    EXPECT_NE(bareUndo.err.find("no DllUnregisterServer in"), std::string::npos) << bareUndo.err;
}

TEST_F(Regsvr, FailureOfTheServerIsReportedWithItsText) {
    std::filesystem::create_directories(registry::StorePath().parent_path());
    testing_support::WriteFileBytes(registry::StorePath(), {'n', 'o', 't', ' ', 'a', ' ', 'r', 'e', 'g', '\n'});
    Outcome failed = Run(Quoted(COM_TEST_MODULE_PATH));
    EXPECT_EQ(failed.status, 5);
    EXPECT_NE(failed.err.find("DllRegisterServer failed in"), std::string::npos) << failed.err;
    EXPECT_NE(failed.err.find("The registry is corrupted."), std::string::npos) << failed.err;
    EXPECT_NE(failed.err.find("line 1"), std::string::npos) << "the registry's own account follows";
    auto bytes = ReadFileBytes(registry::StorePath());
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "not a reg\n") << "the damaged file is left alone";
}

}  // namespace
