#pragma once
// Fixtures shared by every test folder: scratch folders, whole-file reads and
// writes, and the path of the committed test data.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/types.h>

namespace testing_support {

/// A fresh folder under the system's temporary folder, removed with everything
/// in it when the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

/// Whole content of a file; an empty vector when it cannot be read.
std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& file);
/// Replaces the file's content; fails the current test when it cannot.
void WriteFileBytes(const std::filesystem::path& file, const std::vector<uint8_t>& bytes);
/// tests/data/<relative>.
std::filesystem::path TestDataPath(const std::string& relative);
/// Every regular file below tests/data/<relative>, sorted by path.
std::vector<std::filesystem::path> TestDataFiles(const std::string& relative);
/// Folder of the built programs and shared libraries (build/bin).
std::filesystem::path BinaryDir();
/// Waits for a child process to end, at most `limit`; kills it after that and
/// fails the current test. Its exit status, or -1 (killed, or ended by a
/// signal).
int WaitForChild(pid_t child, std::chrono::seconds limit);

}  // namespace testing_support
