// Component strings and their UTF-8 forms.
#include "bstr.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <type_traits>

namespace {

// Bytes before the characters: the 32-bit byte length.
constexpr size_t kPrefixBytes = sizeof(uint32_t);
static_assert(kPrefixBytes % alignof(OLECHAR) == 0, "characters must stay aligned after the prefix");

// Block of `byteLength` bytes of text, zero-filled, with its prefix and a
// terminating null character. Null when it cannot be allocated.
BSTR AllocateBlock(uint32_t byteLength) {
    // Room for a whole terminator after any byte length, odd ones included.
    size_t total = kPrefixBytes + static_cast<size_t>(byteLength) + 2 * sizeof(OLECHAR);
    total -= total % sizeof(OLECHAR);
    auto* block = static_cast<unsigned char*>(std::calloc(1, total));
    if (!block)
        return nullptr;
    std::memcpy(block, &byteLength, sizeof byteLength);
    return reinterpret_cast<BSTR>(block + kPrefixBytes);
}

unsigned char* BlockOf(BSTR text) { return reinterpret_cast<unsigned char*>(text) - kPrefixBytes; }

void AppendUtf8(std::string& out, char32_t c) {
    if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF)
        c = 0xFFFD;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

BSTR SysAllocString(const OLECHAR* text) {
    if (!text)
        return nullptr;
    size_t length = std::wcslen(text);
    if (length > UINT32_MAX)
        return nullptr;
    return SysAllocStringLen(text, static_cast<UINT>(length));
}

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
    // The byte length must fit in the 32-bit prefix.
    if (length > (UINT32_MAX - 2 * sizeof(OLECHAR)) / sizeof(OLECHAR))
        return nullptr;
    BSTR result = AllocateBlock(static_cast<uint32_t>(length * sizeof(OLECHAR)));
    if (result && text)
        std::memcpy(result, text, length * sizeof(OLECHAR));
    return result;
}

BSTR SysAllocStringByteLen(const char* bytes, UINT byteLength) {
    if (byteLength > UINT32_MAX - 2 * sizeof(OLECHAR))
        return nullptr;
    BSTR result = AllocateBlock(byteLength);
    if (result && bytes)
        std::memcpy(result, bytes, byteLength);
    return result;
}

void SysFreeString(BSTR text) {
    if (text)
        std::free(BlockOf(text));
}

UINT SysStringByteLen(BSTR text) {
    if (!text)
        return 0;
    uint32_t byteLength;
    std::memcpy(&byteLength, BlockOf(text), sizeof byteLength);
    return byteLength;
}

UINT SysStringLen(BSTR text) { return SysStringByteLen(text) / sizeof(OLECHAR); }

std::string WideToUtf8(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t c : text)
        AppendUtf8(out, static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(c)));
    return out;
}

std::wstring Utf8ToWide(std::string_view text) {
    std::wstring out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        auto byte = static_cast<unsigned char>(text[i]);
        size_t extra = 0;
        char32_t c = 0;
        char32_t minimum = 0;
        if (byte < 0x80) {
            c = byte;
        } else if ((byte & 0xE0) == 0xC0) {
            extra = 1, c = byte & 0x1F, minimum = 0x80;
        } else if ((byte & 0xF0) == 0xE0) {
            extra = 2, c = byte & 0x0F, minimum = 0x800;
        } else if ((byte & 0xF8) == 0xF0) {
            extra = 3, c = byte & 0x07, minimum = 0x10000;
        } else {
            out += L'\xFFFD';
            ++i;
            continue;
        }
        size_t taken = 1;
        bool valid = true;
        for (; taken <= extra; ++taken) {
            if (i + taken >= text.size() || (static_cast<unsigned char>(text[i + taken]) & 0xC0) != 0x80) {
                valid = false;
                break;
            }
            c = (c << 6) | (static_cast<unsigned char>(text[i + taken]) & 0x3F);
        }
        if (!valid || c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            // A malformed sequence costs one replacement for what was read of it.
            out += L'\xFFFD';
            i += valid ? taken : std::max<size_t>(taken, 1);
            continue;
        }
        out += static_cast<wchar_t>(c);
        i += taken;
    }
    return out;
}

std::string BstrToUtf8(BSTR text) { return WideToUtf8(std::wstring_view(text ? text : L"", SysStringLen(text))); }

BSTR SysAllocStringUtf8(std::string_view text) {
    std::wstring wide = Utf8ToWide(text);
    if (wide.size() > UINT32_MAX)
        return nullptr;
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}
