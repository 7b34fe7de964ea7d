// The registry file: where it is, reading it, and replacing it under the lock.
#include "registry.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace marquen::registry {
namespace {

thread_local std::string t_lastErrorDetail;

DWORD Fail(DWORD code, std::string detail) {
    t_lastErrorDetail = std::move(detail);
    return code;
}

DWORD Succeed() {
    t_lastErrorDetail.clear();
    return ERROR_SUCCESS;
}

std::string ErrnoText(int error) { return std::strerror(error); }

// Closes a descriptor when it goes.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return m_fd; }
    int Release() { return std::exchange(m_fd, -1); }
    void Reset(int fd) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

// Reads the store file at `path` into `tree`.
DWORD ReadStore(const std::filesystem::path& path, Tree& tree) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0) {
        if (errno == ENOENT)
            return Succeed();
        return Fail(ERROR_CANTREAD, "cannot read " + path.string() + ": " + ErrnoText(errno));
    }
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0)
        return Fail(ERROR_CANTREAD, "cannot read " + path.string() + ": " + ErrnoText(errno));
    if (!S_ISREG(info.st_mode))
        return Fail(ERROR_CANTREAD, "cannot read " + path.string() + ": not a regular file");
    if (static_cast<uintmax_t>(info.st_size) > kMaxStoreBytes)
        return Fail(ERROR_REGISTRY_CORRUPT, path.string() + " is damaged: file too large; remove or repair it");
    std::string text;
    text.resize(static_cast<size_t>(info.st_size));
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::read(fd.Get(), text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return Fail(ERROR_CANTREAD, "cannot read " + path.string() + ": " + ErrnoText(errno));
        if (n == 0)
            break;  // shorter than it was a moment ago; parse what is there
        done += static_cast<size_t>(n);
    }
    text.resize(done);
    std::string problem;
    if (!Parse(text, tree, problem))
        return Fail(ERROR_REGISTRY_CORRUPT, path.string() + " is damaged, " + problem + "; remove or repair it");
    return Succeed();
}

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Replaces the store file by `text`: a temporary file beside it, flushed,
// then renamed over it, so the file is always either the old or the new one.
DWORD WriteStore(const std::filesystem::path& path, const std::string& text) {
    std::string pattern = path.string() + ".XXXXXX";
    FileDescriptor fd(::mkostemp(pattern.data(), O_CLOEXEC));
    if (fd.Get() < 0)
        return Fail(ERROR_CANTWRITE, "cannot write " + path.string() + ": " + ErrnoText(errno));
    bool written = WriteAll(fd.Get(), text) && ::fsync(fd.Get()) == 0;
    int error = errno;
    if (::close(fd.Release()) != 0 && written) {
        written = false;
        error = errno;
    }
    if (written && ::rename(pattern.c_str(), path.c_str()) != 0) {
        written = false;
        error = errno;
    }
    if (!written) {
        ::unlink(pattern.c_str());
        return Fail(ERROR_CANTWRITE, "cannot write " + path.string() + ": " + ErrnoText(error));
    }
    return Succeed();
}

// Takes the store's lock file, polling so that the wait is bounded.
DWORD LockStore(const std::filesystem::path& folder, FileDescriptor& lock) {
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    std::filesystem::path lockPath = folder / "registry.lock";
    lock.Reset(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (lock.Get() < 0)
        return Fail(ERROR_CANTWRITE, "cannot open " + lockPath.string() + ": " + ErrnoText(errno));
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStoreLockTimeoutMs);
    auto pause = std::chrono::milliseconds(1);
    while (::flock(lock.Get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR)
            return Fail(ERROR_CANTWRITE, "cannot lock " + lockPath.string() + ": " + ErrnoText(errno));
        if (std::chrono::steady_clock::now() >= deadline)
            return Fail(ERROR_TIMEOUT, "the registry stayed locked by another program (" + lockPath.string() + ")");
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(20));
    }
    return Succeed();
}

}  // namespace

std::filesystem::path StorePath() {
    std::filesystem::path base;
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && config[0] == '/') {
        base = config;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || home[0] != '/') {
            const passwd* entry = ::getpwuid(::getuid());
            home = entry ? entry->pw_dir : "/tmp";
        }
        base = std::filesystem::path(home) / ".config";
    }
    return base / "quorlink" / "registry";
}

std::vector<std::filesystem::path> SystemStorePaths() {
    // As the XDG base directories have it: a colon-separated list, most
    // important first; relative entries are ignored; unset or empty means
    // /etc/xdg.
    const char* dirs = std::getenv("XDG_CONFIG_DIRS");
    std::string_view list = dirs != nullptr && dirs[0] != '\0' ? dirs : "/etc/xdg";
    std::vector<std::filesystem::path> paths;
    while (!list.empty()) {
        size_t colon = list.find(':');
        std::string_view entry = list.substr(0, colon);
        if (entry.starts_with('/'))
            paths.push_back(std::filesystem::path(entry) / "quorlink" / "registry");
        list = colon == std::string_view::npos ? std::string_view() : list.substr(colon + 1);
    }
    return paths;
}

namespace {

// Adds to `into` every value and key of `from` that `into` lacks: what is
// already there wins.
void MergeMissing(Key& into, const Key& from) {
    for (const auto& [name, data] : from.Values()) {
        if (into.FindValue(name) == nullptr)
            into.SetValue(name, data);
    }
    for (const std::unique_ptr<Key>& child : from.Children())
        MergeMissing(into.Child(child->Name()), *child);
}

}  // namespace

DWORD Load(Tree& tree) {
    try {
        if (DWORD rc = ReadStore(StorePath(), tree); rc != ERROR_SUCCESS)
            return rc;
        for (const std::filesystem::path& path : SystemStorePaths()) {
            Tree system;
            if (DWORD rc = ReadStore(path, system); rc != ERROR_SUCCESS)
                return rc;
            MergeMissing(tree.Root(), system.Root());
        }
        return Succeed();
    } catch (const std::bad_alloc&) {
        return Fail(ERROR_NOT_ENOUGH_MEMORY, "out of memory reading the registry");
    }
}

DWORD Update(const std::function<DWORD(Tree&)>& edit) {
    try {
        std::filesystem::path path = StorePath();
        FileDescriptor lock;
        if (DWORD rc = LockStore(path.parent_path(), lock); rc != ERROR_SUCCESS)
            return rc;
        Tree tree;
        if (DWORD rc = ReadStore(path, tree); rc != ERROR_SUCCESS)
            return rc;
        std::string before = Serialize(tree);
        t_lastErrorDetail.clear();
        if (DWORD rc = edit(tree); rc != ERROR_SUCCESS) {
            if (t_lastErrorDetail.empty())
                t_lastErrorDetail = "the registry change was refused";
            return rc;
        }
        std::string after = Serialize(tree);
        if (after == before)
            return Succeed();
        return WriteStore(path, after);
        // The lock goes with `lock`, after the rename.
    } catch (const std::bad_alloc&) {
        return Fail(ERROR_NOT_ENOUGH_MEMORY, "out of memory changing the registry");
    }
}

namespace {

DWORD BadPath(std::string_view path) { return Fail(ERROR_BADKEY, "invalid key path \"" + std::string(path) + "\""); }

bool IsValidValueName(std::string_view name) {
    return name.size() <= kMaxValueNameLength && name.find('\0') == std::string_view::npos;
}

}  // namespace

DWORD SetValue(std::string_view path, std::string_view name, std::string_view data) {
    if (!IsValidKeyPath(path))
        return BadPath(path);
    if (!IsValidValueName(name) || data.size() > kMaxValueLength || data.find('\0') != std::string_view::npos)
        return Fail(ERROR_INVALID_PARAMETER, "value name or data too long or holding a null character");
    return Update([&](Tree& tree) {
        tree.Create(path)->SetValue(name, std::string(data));
        return ERROR_SUCCESS;
    });
}

DWORD QueryValue(std::string_view path, std::string_view name, std::string& data) {
    if (!IsValidKeyPath(path))
        return BadPath(path);
    Tree tree;
    if (DWORD rc = Load(tree); rc != ERROR_SUCCESS)
        return rc;
    const Key* key = tree.Find(path);
    if (!key)
        return Fail(ERROR_FILE_NOT_FOUND, "no key " + std::string(path));
    const std::string* value = key->FindValue(name);
    if (!value)
        return Fail(ERROR_FILE_NOT_FOUND, "no value \"" + std::string(name) + "\" in " + std::string(path));
    data = *value;
    return Succeed();
}

DWORD OpenKey(std::string_view path) {
    if (!IsValidKeyPath(path))
        return BadPath(path);
    Tree tree;
    if (DWORD rc = Load(tree); rc != ERROR_SUCCESS)
        return rc;
    if (!tree.Find(path))
        return Fail(ERROR_FILE_NOT_FOUND, "no key " + std::string(path));
    return Succeed();
}

const std::string& LastErrorDetail() { return t_lastErrorDetail; }

}  // namespace marquen::registry
