#pragma once
// The component registry: the classes root as a tree of keys, each with
// string values (the name "" is the key's default value) and subkeys. Key
// and value names compare without regard to ASCII case and keep the case
// they were created with. A key path joins names with backslashes:
// "CLSID\\{...}\\InprocServer32", relative to the classes root.
//
// The store is the text file $XDG_CONFIG_HOME/quorlink/registry (XDG_CONFIG_HOME
// defaults to ~/.config). Below it lie the system-wide stores, quorlink/registry
// in each folder of $XDG_CONFIG_DIRS (default /etc/xdg), where an installed
// package registers its servers for every user: reading merges them under the
// user's own store (the user's keys and values win, then the folders in their
// order), while changes only ever go to the user's store. Every call reads the
// files afresh, so processes see
// each other's changes at once. Changes run under an exclusive flock on
// registry.lock beside it (waited for at most kStoreLockTimeoutMs) and
// replace the file atomically (temporary file, fsync, rename), so concurrent
// writers never lose each other's keys and readers never see half a file. A
// damaged file is reported (ERROR_REGISTRY_CORRUPT, with the line) and never
// overwritten.
//
// Functions return system error codes (ERROR_SUCCESS on success) and leave a
// readable account of a failure in LastErrorDetail(). Any thread; no state is
// shared between calls but the file.
#include "win_types.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace marquen::registry {

/// Longest key name, deepest key path, longest value name and value: limits
/// that keep a damaged or hostile file from costing unbounded memory.
constexpr size_t kMaxKeyNameLength = 255;
constexpr size_t kMaxKeyDepth = 512;
constexpr size_t kMaxValueNameLength = 16383;
constexpr size_t kMaxValueLength = 1 << 20;
constexpr size_t kMaxStoreBytes = 16 << 20;
constexpr unsigned kStoreLockTimeoutMs = 10000;

class Key {
public:
    explicit Key(std::string name) : m_name(std::move(name)) {}
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;

    const std::string& Name() const { return m_name; }

    /// Subkey of that name, or null.
    Key* FindChild(std::string_view name);
    const Key* FindChild(std::string_view name) const;
    /// Subkey of that name, created when missing. The name must be valid
    /// (IsValidKeyName).
    Key& Child(std::string_view name);
    /// Removes the subkey with everything below it; false when there is none.
    bool RemoveChild(std::string_view name);
    /// Subkeys in name order.
    const std::vector<std::unique_ptr<Key>>& Children() const { return m_children; }

    /// Value data, or null when the value is not set.
    const std::string* FindValue(std::string_view name) const;
    void SetValue(std::string_view name, std::string data);
    bool RemoveValue(std::string_view name);
    /// (name, data) pairs in name order; the default value comes first.
    const std::vector<std::pair<std::string, std::string>>& Values() const { return m_values; }

private:
    std::string m_name;
    std::vector<std::unique_ptr<Key>> m_children;
    std::vector<std::pair<std::string, std::string>> m_values;
};

/// The whole classes root as read from the store.
class Tree {
public:
    Tree() : m_root("") {}
    Key& Root() { return m_root; }
    const Key& Root() const { return m_root; }

    /// Key at `path`, or null (also for an invalid path).
    Key* Find(std::string_view path);
    const Key* Find(std::string_view path) const;
    /// Key at `path` with every missing key on the way created; null for an
    /// invalid path (IsValidKeyPath).
    Key* Create(std::string_view path);
    /// Removes the key at `path` and everything below it; false when absent.
    bool Remove(std::string_view path);

private:
    Key m_root;
};

/// 1 to kMaxKeyNameLength bytes, no backslash, no control character.
bool IsValidKeyName(std::string_view name);
/// Valid names joined by single backslashes, at most kMaxKeyDepth of them.
bool IsValidKeyPath(std::string_view path);

/// The store's text for `tree`.
std::string Serialize(const Tree& tree);
/// Reads store text into `tree` (which should be empty). False with
/// "line N: what is wrong" in `problem` for text that is not a store.
bool Parse(std::span<const char> text, Tree& tree, std::string& problem);

/// The store file in use now (the environment is read on every call).
std::filesystem::path StorePath();

/// The system-wide stores in the order they are read (the environment is
/// read on every call).
std::vector<std::filesystem::path> SystemStorePaths();

/// Reads the user's store with the system-wide ones merged beneath it; a
/// missing file is an empty one. ERROR_CANTREAD, ERROR_REGISTRY_CORRUPT (for
/// any of the files, named in LastErrorDetail()).
DWORD Load(Tree& tree);
/// Reads the user's own store (never the system-wide ones) under its lock,
/// runs `edit` on it and, when `edit`
/// returns ERROR_SUCCESS and changed something, writes the result. The code
/// of `edit` is returned as it is; a failing edit writes nothing. Also
/// ERROR_TIMEOUT (lock not obtained in kStoreLockTimeoutMs), ERROR_CANTREAD,
/// ERROR_REGISTRY_CORRUPT, ERROR_CANTWRITE, ERROR_NOT_ENOUGH_MEMORY.
DWORD Update(const std::function<DWORD(Tree&)>& edit);

// One-step calls, each one Load or Update. Anything more (several keys, removal,
// enumeration) is one Update or Load on the tree. A bad path or name gives
// ERROR_BADKEY or ERROR_INVALID_PARAMETER.

/// Sets a value (name "" = default), creating the key as needed.
DWORD SetValue(std::string_view path, std::string_view name, std::string_view data);
/// ERROR_FILE_NOT_FOUND when the key or the value is absent.
DWORD QueryValue(std::string_view path, std::string_view name, std::string& data);
/// ERROR_SUCCESS when the key exists, else ERROR_FILE_NOT_FOUND.
DWORD OpenKey(std::string_view path);

/// Account of the calling thread's last failure ("cannot write ...: No space
/// left on device", "... line 7: value outside a key"); empty after success.
const std::string& LastErrorDetail();

}  // namespace marquen::registry
