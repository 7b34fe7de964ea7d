// Strings, identifiers, message texts and the error exception.
#include "com/com.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

uint32_t PrefixOf(BSTR text) {
    uint32_t prefix = 0;
    std::memcpy(&prefix, reinterpret_cast<const char*>(text) - 4, sizeof prefix);
    return prefix;
}

TEST(ComBstr, CarriesByteLengthPrefixAndTerminator) {
    Bstr text = Bstr::Adopt(SysAllocString(L"COM3"));
    ASSERT_NE(text.Get(), nullptr);
    EXPECT_EQ(SysStringLen(text.Get()), 4u);
    EXPECT_EQ(SysStringByteLen(text.Get()), 4 * sizeof(OLECHAR));
    EXPECT_EQ(PrefixOf(text.Get()), 4 * sizeof(OLECHAR));
    EXPECT_EQ(text.Get()[4], L'\0');
    EXPECT_EQ(std::wstring(text.Get()), L"COM3");
}

TEST(ComBstr, KeepsEmbeddedNullsAndOddByteLengths) {
    const OLECHAR withNull[] = {L'A', L'\0', L'B'};
    Bstr text = Bstr::Adopt(SysAllocStringLen(withNull, 3));
    EXPECT_EQ(text.Length(), 3u);
    EXPECT_EQ(text.Wide(), std::wstring(withNull, 3));

    BSTR odd = SysAllocStringByteLen("abcde", 5);
    ASSERT_NE(odd, nullptr);
    EXPECT_EQ(SysStringByteLen(odd), 5u);
    EXPECT_EQ(SysStringLen(odd), 1u);
    EXPECT_EQ(std::memcmp(odd, "abcde", 5), 0);
    // The terminator after the last whole character is in place.
    EXPECT_EQ(odd[2], L'\0');
    SysFreeString(odd);
}

TEST(ComBstr, NullIsTheEmptyStringAndAllocationsStartZeroed) {
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysStringByteLen(nullptr), 0u);
    SysFreeString(nullptr);

    Bstr blank = Bstr::Adopt(SysAllocStringLen(nullptr, 8));
    ASSERT_NE(blank.Get(), nullptr);
    for (UINT i = 0; i <= 8; ++i)
        EXPECT_EQ(blank.Get()[i], L'\0');
    Bstr empty = Bstr::Adopt(SysAllocString(L""));
    ASSERT_NE(empty.Get(), nullptr);
    EXPECT_EQ(empty.Length(), 0u);
}

TEST(ComBstr, RefusesLengthsThatOverflowThePrefix) {
    EXPECT_EQ(SysAllocStringLen(nullptr, 0xFFFFFFFFu), nullptr);
    EXPECT_EQ(SysAllocStringLen(nullptr, 0x40000000u), nullptr);
    EXPECT_EQ(SysAllocStringByteLen(nullptr, 0xFFFFFFFFu), nullptr);
}

TEST(ComBstr, Utf8RoundTripAndReplacementOfMalformedInput) {
    const std::string text = "Logo \xC3\xA9tiquette \xE2\x82\xAC \xF0\x9F\x96\xA8";
    Bstr wide = Bstr::FromUtf8(text);
    EXPECT_EQ(wide.Length(), 18u);
    EXPECT_EQ(wide.Get()[17], static_cast<OLECHAR>(0x1F5A8));
    EXPECT_EQ(wide.Utf8(), text);

    // Truncated, overlong, surrogate and stray continuation bytes.
    EXPECT_EQ(Utf8ToWide("a\xC3"), L"a\xFFFD");
    EXPECT_EQ(Utf8ToWide("\xC0\xAF"), L"\xFFFD");
    EXPECT_EQ(Utf8ToWide("\xED\xA0\x80z"), L"\xFFFDz");
    EXPECT_EQ(Utf8ToWide("\x80x"), L"\xFFFDx");
    // Wide characters that are not scalar values.
    EXPECT_EQ(WideToUtf8(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xEF\xBF\xBD");
    EXPECT_EQ(WideToUtf8(std::wstring(1, static_cast<wchar_t>(0x110000))), "\xEF\xBF\xBD");
}

TEST(ComGuid, StringFormRoundTrip) {
    constexpr GUID guid = {0x0123ABCD, 0x4567, 0x89EF, {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10}};
    EXPECT_EQ(GuidToString(guid), "{0123ABCD-4567-89EF-FEDC-BA9876543210}");
    EXPECT_EQ(GuidFromString("{0123ABCD-4567-89EF-FEDC-BA9876543210}"), guid);
    EXPECT_EQ(GuidFromString("{0123abcd-4567-89ef-fedc-ba9876543210}"), guid);
    EXPECT_EQ(GuidFromString("0123abcd-4567-89ef-fedc-ba9876543210"), guid);
    EXPECT_EQ(GuidToString(IID_IDispatch), "{00020400-0000-0000-C000-000000000046}");
    EXPECT_FALSE(IsEqualGUID(guid, GUID_NULL));
}

TEST(ComGuid, RejectsMalformedText) {
    for (const char* bad : {"", "{}", "{0123ABCD-4567-89EF-FEDC-BA9876543210", "0123ABCD-4567-89EF-FEDC-BA987654321",
                            "{0123ABCD-4567-89EF-FEDC-BA987654321G}", "{0123ABCD+4567-89EF-FEDC-BA9876543210}",
                            "[0123ABCD-4567-89EF-FEDC-BA9876543210]", "{0123ABCD-4567-89EF-FEDCBA-9876543210}"})
        EXPECT_FALSE(GuidFromString(bad).has_value()) << bad;
}

TEST(ComMessages, TextsOfCommonCodes) {
    EXPECT_EQ(SystemMessageText(REGDB_E_CLASSNOTREG), "Class not registered");
    EXPECT_EQ(SystemMessageText(E_NOINTERFACE), "No such interface supported");
    EXPECT_EQ(SystemMessageText(E_POINTER), "Invalid pointer");
    EXPECT_EQ(SystemMessageText(E_FAIL), "Unspecified error");
    EXPECT_EQ(SystemMessageText(E_NOTIMPL), "Not implemented");
    EXPECT_EQ(SystemMessageText(E_OUTOFMEMORY), "Out of memory");
    EXPECT_EQ(SystemMessageText(CO_E_NOTINITIALIZED), "CoInitialize has not been called.");
    EXPECT_EQ(SystemMessageText(DISP_E_MEMBERNOTFOUND), "Member not found.");
    // System error codes, raw and as HRESULTs.
    EXPECT_EQ(SystemMessageText(HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)), "The specified module could not be found.");
    EXPECT_EQ(SystemMessageText(static_cast<HRESULT>(ERROR_MOD_NOT_FOUND)), "The specified module could not be found.");
    EXPECT_EQ(SystemMessageText(120), "This function is not supported on this system.");
    EXPECT_EQ(SystemMessageText(HRESULT_FROM_WIN32(ERROR_REGISTRY_CORRUPT)), "The registry is corrupted.");
    EXPECT_EQ(SystemMessageText(static_cast<HRESULT>(0x8004ABCD)), "Unknown error 0x8004ABCD");
    EXPECT_EQ(SystemMessageText(HRESULT_FROM_WIN32(9999)), "Unknown error 0x8007270F");
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_SUCCESS), S_OK);
    EXPECT_EQ(HRESULT_FROM_WIN32(static_cast<DWORD>(E_FAIL)), E_FAIL) << "an HRESULT passes unchanged";
}

TEST(ComError, CarriesTheHresultTheInterfaceAndTheText) {
    try {
        ThrowIfFailed(REGDB_E_CLASSNOTREG, IID_IDispatch);
        FAIL() << "no exception";
    } catch (const _com_error& error) {
        EXPECT_EQ(error.Error(), REGDB_E_CLASSNOTREG);
        EXPECT_EQ(error.InterfaceId(), IID_IDispatch);
        EXPECT_STREQ(error.ErrorMessage(), "Class not registered");
        _com_error copy = error;
        EXPECT_STREQ(copy.what(), "Class not registered");
    }
    EXPECT_NO_THROW(ThrowIfFailed(S_FALSE));
    EXPECT_THROW(_com_issue_error(E_POINTER), _com_error);
}

}  // namespace
