#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <thread>

namespace testing_support {

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "marquen-test-XXXXXX").string();
    char* made = mkdtemp(pattern.data());
    if (made == nullptr) {
        ADD_FAILURE() << "cannot create a temporary folder";
        return;
    }
    m_path = made;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    if (!m_path.empty())
        std::filesystem::remove_all(m_path, ignored);
}

std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::filesystem::path& file, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        ADD_FAILURE() << "cannot write " << file;
}

std::filesystem::path TestDataPath(const std::string& relative)
{
    return std::filesystem::path(MARQUEN_TEST_DATA_DIR) / relative;
}

std::vector<std::filesystem::path> TestDataFiles(const std::string& relative)
{
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(TestDataPath(relative), error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        if (it->is_regular_file())
            files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::filesystem::path BinaryDir()
{
    if (const char* dir = std::getenv("MARQUEN_BIN_DIR"))
        return dir;
    return std::filesystem::current_path() / "bin";
}

int WaitForChild(pid_t child, std::chrono::seconds limit)
{
    int wstatus = 0;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        pid_t done = ::waitpid(child, &wstatus, WNOHANG);
        if (done == child)
            return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
        if (done < 0 && errno != EINTR)
            return -1;
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &wstatus, 0);
            ADD_FAILURE() << "child did not end in time";
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace testing_support
