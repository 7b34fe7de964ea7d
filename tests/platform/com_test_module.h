#pragma once
// The small component server the tests build (com_test_module): one class,
// TestCounter, with the dual interface ITestCounter served from a static
// description, aggregatable, with the free-threaded marshaler aggregated.
#include "com/com.h"

constexpr CLSID CLSID_TestCounter = {0x6A1C2F10, 0x3B4D, 0x4E5F, {0x90, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0x01}};

struct ITestCounter : IDispatch {
    static constexpr IID iid() { return {0x6A1C2F11, 0x3B4D, 0x4E5F, {0x90, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0x01}}; }
    /// Adds `step` and returns the new value.
    virtual HRESULT Increment(LONG step, LONG* value) = 0;
    virtual HRESULT get_Value(LONG* value) = 0;
    virtual HRESULT put_Value(LONG value) = 0;
};

constexpr ParamDescription kIncrementParams[] = {
    {"step", VT_I4, PARAMFLAG_FIN},
    {"value", VT_I4 | VT_BYREF, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL},
};
constexpr ParamDescription kGetValueParams[] = {{"pVal", VT_I4 | VT_BYREF, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}};
constexpr ParamDescription kPutValueParams[] = {{nullptr, VT_I4, PARAMFLAG_FIN}};
constexpr MemberDescription kTestCounterMembers[] = {
    {"Increment", 1, MemberKind::Method, 7, kIncrementParams, "method Increment"},
    {"Value", 2, MemberKind::PropertyGet, 8, kGetValueParams, "property Value"},
    {"Value", 2, MemberKind::PropertyPut, 9, kPutValueParams, "property Value"},
};
constexpr InterfaceDescription kTestCounterDescription = {
    "ITestCounter", ITestCounter::iid(), InterfaceKind::Dual, "ITestCounter Interface", kTestCounterMembers};
