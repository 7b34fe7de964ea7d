#pragma once
// Component strings. OLECHAR is wchar_t (32 bits here, one code point per
// character). A BSTR points at the first character of a block that starts
// four bytes earlier with the 32-bit length in bytes and ends with a null
// character. Every BSTR of the process comes from these functions, which use
// malloc/free from the one copy of this library, so a string allocated by the
// program may be freed by a component server and the other way round.
// A null BSTR is a valid empty string.
#include "win_types.h"

#include <string>
#include <string_view>

using OLECHAR = wchar_t;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
using BSTR = OLECHAR*;

/// Copy of a null-terminated string; null for a null argument or when memory
/// runs out.
BSTR SysAllocString(const OLECHAR* text);
/// String of `length` characters copied from `text`, or zero-filled when
/// `text` is null. Null when memory runs out or the byte length would not fit
/// in 32 bits.
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
/// String of `byteLength` bytes copied from `bytes` (zero-filled when null);
/// keeps odd byte lengths, so copies of any BSTR are exact.
BSTR SysAllocStringByteLen(const char* bytes, UINT byteLength);
/// Frees a string of these functions; null is ignored.
void SysFreeString(BSTR text);
/// Length in characters (0 for null).
UINT SysStringLen(BSTR text);
/// Length in bytes as stored in the prefix (0 for null).
UINT SysStringByteLen(BSTR text);

/// UTF-8 form of `length` wide characters; characters that are not Unicode
/// scalar values become U+FFFD.
std::string WideToUtf8(std::wstring_view text);
/// Wide form of UTF-8 text; malformed sequences become U+FFFD.
std::wstring Utf8ToWide(std::string_view text);
/// UTF-8 form of a BSTR, all of its characters (embedded nulls included).
std::string BstrToUtf8(BSTR text);
/// New BSTR from UTF-8 text; null when memory runs out.
BSTR SysAllocStringUtf8(std::string_view text);

/// Owner of one BSTR: frees it when it goes. Move-only.
class Bstr {
public:
    Bstr() = default;
    /// Copy of a null-terminated wide string.
    explicit Bstr(const OLECHAR* text) : m_text(SysAllocString(text)) {}
    ~Bstr() { SysFreeString(m_text); }
    Bstr(Bstr&& other) noexcept : m_text(other.Detach()) {}
    Bstr& operator=(Bstr&& other) noexcept {
        if (this != &other)
            Attach(other.Detach());
        return *this;
    }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;

    /// Takes ownership of a string that the caller allocated.
    static Bstr Adopt(BSTR text) {
        Bstr owner;
        owner.m_text = text;
        return owner;
    }
    static Bstr FromUtf8(std::string_view text) { return Adopt(SysAllocStringUtf8(text)); }

    BSTR Get() const { return m_text; }
    /// Frees the current string and hands out the slot for an out-argument.
    BSTR* Out() {
        Attach(nullptr);
        return &m_text;
    }
    /// Gives up ownership without freeing.
    BSTR Detach() {
        BSTR text = m_text;
        m_text = nullptr;
        return text;
    }
    /// Frees the current string and takes ownership of `text`.
    void Attach(BSTR text) {
        if (text != m_text)
            SysFreeString(m_text);
        m_text = text;
    }
    UINT Length() const { return SysStringLen(m_text); }
    std::string Utf8() const { return BstrToUtf8(m_text); }
    std::wstring Wide() const { return std::wstring(m_text ? m_text : L"", Length()); }

private:
    BSTR m_text = nullptr;
};
