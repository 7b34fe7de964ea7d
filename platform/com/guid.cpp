// String forms of identifiers.
#include "guid.h"

#include <cstdio>

std::string GuidToString(REFGUID guid) {
    char text[39];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
                  guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads `digits` hex digits at text[pos]; false when one is not a digit.
bool ReadHex(std::string_view text, size_t pos, size_t digits, uint32_t& value) {
    value = 0;
    for (size_t i = 0; i < digits; ++i) {
        int v = HexValue(text[pos + i]);
        if (v < 0)
            return false;
        value = value * 16 + static_cast<uint32_t>(v);
    }
    return true;
}

}  // namespace

std::optional<GUID> GuidFromString(std::string_view text) {
    if (text.size() == 38) {
        if (text.front() != '{' || text.back() != '}')
            return std::nullopt;
        text = text.substr(1, 36);
    }
    // xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx
    if (text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-')
        return std::nullopt;
    GUID guid{};
    uint32_t value = 0;
    if (!ReadHex(text, 0, 8, value))
        return std::nullopt;
    guid.Data1 = value;
    if (!ReadHex(text, 9, 4, value))
        return std::nullopt;
    guid.Data2 = static_cast<WORD>(value);
    if (!ReadHex(text, 14, 4, value))
        return std::nullopt;
    guid.Data3 = static_cast<WORD>(value);
    static constexpr size_t kBytePositions[8] = {19, 21, 24, 26, 28, 30, 32, 34};
    for (int i = 0; i < 8; ++i) {
        if (!ReadHex(text, kBytePositions[i], 2, value))
            return std::nullopt;
        guid.Data4[i] = static_cast<BYTE>(value);
    }
    return guid;
}
