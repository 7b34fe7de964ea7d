// The key tree and its text form.
//
// Text form, one item a line:
//   quorlink-registry 1              first line, the format and its version
//   ; comment                        ignored, as are blank lines
//   [CLSID\{...}\InprocServer32]     a key; every key is listed, empty ones too
//   @="/usr/lib/libquorlink.so"      the default value of the key above
//   "ThreadingModel"="Apartment"     a named value
// Quoted text escapes \\ \" \n \r \t and other control bytes as \xHH.
#include "registry.h"

#include <algorithm>
#include <unordered_set>

namespace marquen::registry {
namespace {

constexpr std::string_view kFirstLine = "quorlink-registry 1";

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Case-insensitive (ASCII) ordering, the order of keys and values.
int CompareNames(std::string_view a, std::string_view b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        unsigned char ca = static_cast<unsigned char>(LowerAscii(a[i]));
        unsigned char cb = static_cast<unsigned char>(LowerAscii(b[i]));
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool IsControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }

// Splits a path into its names; false for an invalid path.
bool SplitPath(std::string_view path, std::vector<std::string_view>& names) {
    names.clear();
    if (path.empty())
        return false;
    size_t start = 0;
    while (true) {
        size_t end = path.find('\\', start);
        std::string_view name = path.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (!IsValidKeyName(name) || names.size() == kMaxKeyDepth)
            return false;
        names.push_back(name);
        if (end == std::string_view::npos)
            return true;
        start = end + 1;
    }
}

void AppendQuoted(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    out += '"';
    for (char c : text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (IsControl(c)) {
                out += "\\x";
                out += kHex[(static_cast<unsigned char>(c) >> 4) & 0xF];
                out += kHex[static_cast<unsigned char>(c) & 0xF];
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

void SerializeKey(const Key& key, std::string& path, std::string& out) {
    for (const auto& child : key.Children()) {
        size_t mark = path.size();
        if (!path.empty())
            path += '\\';
        path += child->Name();
        out += '\n';
        out += '[';
        out += path;
        out += "]\n";
        for (const auto& [name, data] : child->Values()) {
            if (name.empty())
                out += '@';
            else
                AppendQuoted(out, name);
            out += '=';
            AppendQuoted(out, data);
            out += '\n';
        }
        SerializeKey(*child, path, out);
        path.resize(mark);
    }
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    c = LowerAscii(c);
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Reads a quoted text starting at line[pos] == '"'; pos ends after the
// closing quote. False with the problem.
bool ReadQuoted(std::string_view line, size_t& pos, size_t limit, std::string& text, std::string& problem) {
    text.clear();
    if (pos >= line.size() || line[pos] != '"') {
        problem = "expected a quoted text";
        return false;
    }
    ++pos;
    while (pos < line.size()) {
        char c = line[pos++];
        if (c == '"')
            return true;
        if (c == '\\') {
            if (pos >= line.size())
                break;
            char e = line[pos++];
            switch (e) {
            case '\\': text += '\\'; break;
            case '"': text += '"'; break;
            case 'n': text += '\n'; break;
            case 'r': text += '\r'; break;
            case 't': text += '\t'; break;
            case 'x': {
                int high = pos < line.size() ? HexDigit(line[pos]) : -1;
                int low = pos + 1 < line.size() ? HexDigit(line[pos + 1]) : -1;
                if (high < 0 || low < 0 || (high == 0 && low == 0)) {
                    problem = "bad \\x escape";
                    return false;
                }
                text += static_cast<char>(high * 16 + low);
                pos += 2;
                break;
            }
            default:
                problem = "unknown escape";
                return false;
            }
        } else if (IsControl(c)) {
            problem = "control character in a quoted text";
            return false;
        } else {
            text += c;
        }
        if (text.size() > limit) {
            problem = "quoted text too long";
            return false;
        }
    }
    problem = "quoted text not closed";
    return false;
}

}  // namespace

bool IsValidKeyName(std::string_view name) {
    if (name.empty() || name.size() > kMaxKeyNameLength)
        return false;
    return std::none_of(name.begin(), name.end(), [](char c) { return c == '\\' || IsControl(c); });
}

bool IsValidKeyPath(std::string_view path) {
    std::vector<std::string_view> names;
    return SplitPath(path, names);
}

Key* Key::FindChild(std::string_view name) {
    auto it = std::lower_bound(m_children.begin(), m_children.end(), name,
                               [](const std::unique_ptr<Key>& k, std::string_view n) { return CompareNames(k->m_name, n) < 0; });
    if (it != m_children.end() && CompareNames((*it)->m_name, name) == 0)
        return it->get();
    return nullptr;
}

const Key* Key::FindChild(std::string_view name) const { return const_cast<Key*>(this)->FindChild(name); }

Key& Key::Child(std::string_view name) {
    auto it = std::lower_bound(m_children.begin(), m_children.end(), name,
                               [](const std::unique_ptr<Key>& k, std::string_view n) { return CompareNames(k->m_name, n) < 0; });
    if (it != m_children.end() && CompareNames((*it)->m_name, name) == 0)
        return **it;
    return **m_children.insert(it, std::make_unique<Key>(std::string(name)));
}

bool Key::RemoveChild(std::string_view name) {
    auto it = std::find_if(m_children.begin(), m_children.end(),
                           [&](const std::unique_ptr<Key>& k) { return CompareNames(k->m_name, name) == 0; });
    if (it == m_children.end())
        return false;
    m_children.erase(it);
    return true;
}

const std::string* Key::FindValue(std::string_view name) const {
    for (const auto& [valueName, data] : m_values) {
        if (CompareNames(valueName, name) == 0)
            return &data;
    }
    return nullptr;
}

void Key::SetValue(std::string_view name, std::string data) {
    auto it = std::lower_bound(m_values.begin(), m_values.end(), name,
                               [](const auto& v, std::string_view n) { return CompareNames(v.first, n) < 0; });
    if (it != m_values.end() && CompareNames(it->first, name) == 0)
        it->second = std::move(data);
    else
        m_values.insert(it, {std::string(name), std::move(data)});
}

bool Key::RemoveValue(std::string_view name) {
    auto it = std::find_if(m_values.begin(), m_values.end(),
                           [&](const auto& v) { return CompareNames(v.first, name) == 0; });
    if (it == m_values.end())
        return false;
    m_values.erase(it);
    return true;
}

Key* Tree::Find(std::string_view path) {
    std::vector<std::string_view> names;
    if (!SplitPath(path, names))
        return nullptr;
    Key* key = &m_root;
    for (std::string_view name : names) {
        key = key->FindChild(name);
        if (!key)
            return nullptr;
    }
    return key;
}

const Key* Tree::Find(std::string_view path) const { return const_cast<Tree*>(this)->Find(path); }

Key* Tree::Create(std::string_view path) {
    std::vector<std::string_view> names;
    if (!SplitPath(path, names))
        return nullptr;
    Key* key = &m_root;
    for (std::string_view name : names)
        key = &key->Child(name);
    return key;
}

bool Tree::Remove(std::string_view path) {
    std::vector<std::string_view> names;
    if (!SplitPath(path, names))
        return false;
    Key* parent = &m_root;
    for (size_t i = 0; i + 1 < names.size(); ++i) {
        parent = parent->FindChild(names[i]);
        if (!parent)
            return false;
    }
    return parent->RemoveChild(names.back());
}

std::string Serialize(const Tree& tree) {
    std::string out(kFirstLine);
    out += "\n; The classes root of the component registry. Programs rewrite this file\n"
           "; as a whole; edit it only while none of them runs.\n";
    std::string path;
    SerializeKey(tree.Root(), path, out);
    return out;
}

bool Parse(std::span<const char> text, Tree& tree, std::string& problem) {
    std::string_view all(text.data(), text.size());
    if (all.size() > kMaxStoreBytes) {
        problem = "file too large";
        return false;
    }
    if (all.find('\0') != std::string_view::npos) {
        problem = "null byte in the file";
        return false;
    }
    std::unordered_set<const Key*> listed;
    Key* current = nullptr;
    size_t lineNumber = 0;
    size_t start = 0;
    std::string name;
    std::string data;
    while (start < all.size()) {
        size_t end = all.find('\n', start);
        std::string_view line = all.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        start = end == std::string_view::npos ? all.size() : end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        auto fail = [&](const std::string& what) {
            problem = "line " + std::to_string(lineNumber) + ": " + what;
            return false;
        };
        if (lineNumber == 1) {
            if (line != kFirstLine)
                return fail("not a registry file (expected \"" + std::string(kFirstLine) + "\")");
            continue;
        }
        if (line.empty() || line[0] == ';')
            continue;
        if (line[0] == '[') {
            if (line.size() < 3 || line.back() != ']')
                return fail("key line not closed by ]");
            std::string_view path = line.substr(1, line.size() - 2);
            current = tree.Create(path);
            if (!current)
                return fail("invalid key path");
            if (!listed.insert(current).second)
                return fail("key listed twice");
            continue;
        }
        if (!current)
            return fail("value outside a key");
        size_t pos = 0;
        if (line[0] == '@') {
            name.clear();
            pos = 1;
        } else {
            std::string what;
            if (!ReadQuoted(line, pos, kMaxValueNameLength, name, what))
                return fail(what);
            if (name.empty())
                return fail("empty value name (the default value is written @)");
        }
        if (pos >= line.size() || line[pos] != '=')
            return fail("expected = after the value name");
        ++pos;
        std::string what;
        if (!ReadQuoted(line, pos, kMaxValueLength, data, what))
            return fail(what);
        if (pos != line.size())
            return fail("text after the value");
        if (current->FindValue(name))
            return fail("value listed twice");
        current->SetValue(name, data);
    }
    if (lineNumber == 0) {
        problem = "line 1: empty file";
        return false;
    }
    return true;
}

}  // namespace marquen::registry
