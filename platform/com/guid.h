#pragma once
// Globally unique identifiers: interface ids, class ids, library ids. The
// layout is the contract's (32-bit, two 16-bit fields, eight bytes); the
// string form is "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" as the registry
// stores it.
#include "win_types.h"

#include <optional>
#include <string>
#include <string_view>

struct GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];

    friend constexpr bool operator==(const GUID& a, const GUID& b) {
        if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3)
            return false;
        for (int i = 0; i < 8; ++i) {
            if (a.Data4[i] != b.Data4[i])
                return false;
        }
        return true;
    }
};

using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
constexpr IID IID_NULL = GUID_NULL;
constexpr CLSID CLSID_NULL = GUID_NULL;

constexpr bool IsEqualGUID(REFGUID a, REFGUID b) { return a == b; }
constexpr bool IsEqualIID(REFIID a, REFIID b) { return a == b; }
constexpr bool IsEqualCLSID(REFCLSID a, REFCLSID b) { return a == b; }

/// Braced upper-case string form, 38 characters.
std::string GuidToString(REFGUID guid);
/// Parses the braced form (hex digits in either case); the braces may be
/// left out. Nothing for any other text.
std::optional<GUID> GuidFromString(std::string_view text);
