#include "picture_file.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Reads until count bytes or end of file; retries EINTR.
size_t ReadAll(int fd, uint8_t* buffer, size_t count)
{
    size_t done = 0;
    while (done < count) {
        ssize_t n = ::read(fd, buffer + done, count - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    return done;
}

size_t WriteAll(int fd, const uint8_t* buffer, size_t count)
{
    size_t done = 0;
    while (done < count) {
        ssize_t n = ::write(fd, buffer + done, count - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    return done;
}

// Creates a new file with a name of its own in the folder of target, with
// the permissions an ordinary create gives (0666 less the umask, which is
// never changed: other threads may be creating files meanwhile). Returns the
// descriptor, or -1 with errno.
int CreateTemporaryBeside(const std::filesystem::path& target, std::string& name)
{
    // The temporary name stays within the file-name length limit.
    const std::string base = "." + target.filename().string().substr(0, 200) + ".tmp-";
    std::random_device entropy;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const uint64_t tag = (static_cast<uint64_t>(entropy()) << 32) ^ entropy();
        char suffix[17];
        std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(tag));
        name = (target.parent_path() / (base + suffix)).string();
        int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

std::string FileOpenMessage(const std::string& path)
{
    return "Error - File Open : " + path;
}

// The file a chain of symbolic links ends at, as an open for writing would
// reach (and create) it; a link whose file does not exist yet is followed
// all the same. Null when the chain does not end (a loop, or too long).
std::optional<std::filesystem::path> FollowLinks(std::filesystem::path path)
{
    // The limit the kernel puts on links followed in one lookup.
    constexpr int kMaxLinks = 40;
    std::error_code ec;
    int followed = 0;
    for (; std::filesystem::is_symlink(path, ec); ++followed) {
        std::filesystem::path next = std::filesystem::read_symlink(path, ec);
        if (ec || followed == kMaxLinks)
            return std::nullopt;
        path = next.is_absolute() ? next : path.parent_path() / next;
    }
    if (followed == 0)
        return path;
    std::filesystem::path resolved = std::filesystem::weakly_canonical(path, ec);
    return ec ? path : resolved;
}

}  // namespace

PictureFile::PictureFile(std::string path, PictureType type) : m_strPath(std::move(path)), m_type(type) {}

PictureFile::~PictureFile()
{
    CloseFile();
    DiscardTempFile();
}

void PictureFile::CloseFile()
{
    if (m_hFile >= 0) {
        ::close(m_hFile);  // never retried: the descriptor is gone either way
        m_hFile = -1;
    }
}

void PictureFile::DiscardTempFile()
{
    if (!m_strTempPath.empty()) {
        ::unlink(m_strTempPath.c_str());
        m_strTempPath.clear();
    }
}

PictureResult PictureFile::Open(FileAccess access, FileDisposition disposition, std::string& error)
{
    CloseFile();
    DiscardTempFile();
    if (m_strPath.empty()) {
        error = FileOpenMessage(m_strPath);
        return PR_OPEN_FAILED;
    }

    if (access == FileAccess::GenericWrite) {
        // The target is replaced only once Write has the whole file on disk.
        // Through a symbolic link that is the file the link names, as a plain
        // open for writing would change it; renaming onto the link itself
        // would replace the link and leave its file stale.
        // A link whose file does not exist yet names the file to create.
        std::optional<std::filesystem::path> followed = FollowLinks(m_strPath);
        if (!followed) {
            error = FileOpenMessage(m_strPath);
            return PR_OPEN_FAILED;
        }
        const std::filesystem::path target = *followed;
        std::error_code ec;
        const std::string targetPath = target.string();
        const bool exists = std::filesystem::exists(target, ec);
        if (disposition == FileDisposition::OpenExisting && !exists) {
            error = FileOpenMessage(m_strPath);
            return PR_OPEN_FAILED;
        }
        // Renaming would replace a file we may not write to, so such a file
        // is refused as opening it for writing would be. Anything but a
        // regular file (a folder, a pipe, a device node such as /dev/null) is
        // refused too: the rename would put a regular file in its place.
        if (exists && (!std::filesystem::is_regular_file(target, ec) || ::access(targetPath.c_str(), W_OK) != 0)) {
            error = FileOpenMessage(m_strPath);
            return PR_OPEN_FAILED;
        }
        std::string temporary;
        int fd = CreateTemporaryBeside(target, temporary);
        if (fd < 0) {
            error = FileOpenMessage(m_strPath);
            return PR_OPEN_FAILED;
        }
        // A replaced file keeps its own permissions; a new one has those the
        // create gave it (0666 less the umask).
        struct stat existing {};
        if (::stat(targetPath.c_str(), &existing) == 0 && S_ISREG(existing.st_mode))
            ::fchmod(fd, existing.st_mode & 07777);
        m_hFile = fd;
        m_strTempPath = temporary;
        m_strTargetPath = targetPath;
        return PR_OK;
    }

    // Non-blocking, so that naming a pipe fails at once instead of waiting for
    // a writer; only regular files are read.
    int fd = ::open(m_strPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = FileOpenMessage(m_strPath);
        return PR_OPEN_FAILED;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        error = FileOpenMessage(m_strPath);
        return PR_OPEN_FAILED;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    m_hFile = fd;
    uint64_t length = static_cast<uint64_t>(info.st_size);
    if (length > kMaxRawFileBytes) {
        error = picture_messages::FileTooLargeMessage(length);
        return PR_NO_MEMORY;
    }
    std::vector<uint8_t> bytes;
    try {
        bytes.resize(static_cast<size_t>(length));
    } catch (const std::bad_alloc&) {
        error = picture_messages::kMemoryAllocation;
        return PR_NO_MEMORY;
    }
    m_nSize = static_cast<uint32_t>(length);
    if (ReadAll(fd, bytes.data(), bytes.size()) != bytes.size()) {
        error = picture_messages::kReadInputFile;
        return PR_READ_FAILED;
    }
    m_raw = std::move(bytes);
    return PR_OK;
}

PictureResult PictureFile::Write(uint32_t& width, uint32_t& height, std::string& error)
{
    std::vector<uint8_t> encoded;
    PictureResult result = Encode(width, height, error, encoded);
    if (result != PR_OK && result != PR_SIZE_ADJUSTED) {
        CloseFile();
        DiscardTempFile();
        return result;
    }
    bool written = m_hFile >= 0 && WriteAll(m_hFile, encoded.data(), encoded.size()) == encoded.size();
    written = written && ::fsync(m_hFile) == 0;
    m_nSize = static_cast<uint32_t>(encoded.size());
    CloseFile();
    if (written && ::rename(m_strTempPath.c_str(), m_strTargetPath.c_str()) == 0) {
        m_strTempPath.clear();
    } else {
        written = false;
        DiscardTempFile();
    }
    if (!written) {
        error = picture_messages::kFileWrite;
        return PR_WRITE_FAILED;
    }
    return result;
}

void PictureFile::SetPicture(const uint8_t* bytes, size_t length)
{
    m_bits.emplace(bytes, bytes + length);
}

size_t PictureFile::SetRawData(const uint8_t* bytes, size_t length)
{
    m_raw.emplace(bytes, bytes + length);
    m_nSize = static_cast<uint32_t>(length);
    return length;
}

std::span<const uint8_t> PictureFile::Bits() const
{
    if (!m_bits)
        return {};
    return *m_bits;
}

std::span<const uint8_t> PictureFile::RawData() const
{
    if (!m_raw)
        return {};
    return *m_raw;
}

bool PictureFile::AllocatePicture(uint32_t width, uint32_t height, std::string& error)
{
    if (!PictureFitsLimit(width, height)) {
        error = PictureTooLargeMessage(width, height);
        return false;
    }
    uint64_t bytes = static_cast<uint64_t>(BytesPerRow(width)) * height;
    try {
        m_bits.emplace(static_cast<size_t>(bytes), uint8_t{0});
    } catch (const std::bad_alloc&) {
        m_bits.reset();
        error = picture_messages::kMemoryAllocation;
        return false;
    }
    return true;
}

bool PictureFile::HasPictureBits(uint32_t width, uint32_t height, std::string& error) const
{
    uint64_t needed = static_cast<uint64_t>(BytesPerRow(width)) * height;
    if ((needed != 0 && !m_bits) || (m_bits && m_bits->size() < needed)) {
        error = picture_messages::kPictureSmallerThanSize;
        return false;
    }
    return true;
}

bool PictureFile::HasRawDataToDecode(const char* message, std::string& error) const
{
    if (m_raw)
        return true;
    error = message;
    return false;
}

void PictureFile::FinishDecode()
{
    CloseFile();
    m_raw.reset();
}
