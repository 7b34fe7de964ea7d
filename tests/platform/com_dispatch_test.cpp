// Dispatch from a static description, type information, description checks,
// the call-by-description service and the type library's registry keys.
#include "com/com.h"
#include "registry/registry.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace {

constexpr IID IID_ITestMeter = {0x5D0E1F20, 0x1111, 0x2222, {0x33, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x66}};

// A dual interface shaped like the communication contract: retvals, a
// property pair, a read-only property, strings, a by-reference byte array
// with an optional last argument, a VARIANT* that receives an array.
struct ITestMeter : IDispatch {
    static constexpr IID iid() { return IID_ITestMeter; }
    virtual HRESULT Scale(LONG value, LONG factor, LONG* result) = 0;
    virtual HRESULT get_Level(LONG* level) = 0;
    virtual HRESULT put_Level(LONG level) = 0;
    virtual HRESULT Echo(BSTR text, BSTR* copy) = 0;
    virtual HRESULT Fill(SAFEARRAY** buffer, LONG length, LONG* filled, LONG pattern, LONG* rc) = 0;
    virtual HRESULT Names(VARIANT* list, LONG* count) = 0;
    virtual HRESULT Fail() = 0;
    virtual HRESULT get_Opened(LONG* opened) = 0;
};

constexpr ParamDescription kScaleParams[] = {
    {"value", VT_I4, PARAMFLAG_FIN},
    {"factor", VT_I4, PARAMFLAG_FIN},
    {"result", VT_I4 | VT_BYREF, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}};
constexpr ParamDescription kGetLevelParams[] = {{"pVal", VT_I4 | VT_BYREF, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}};
constexpr ParamDescription kPutLevelParams[] = {{nullptr, VT_I4, PARAMFLAG_FIN}};
constexpr ParamDescription kEchoParams[] = {
    {"text", VT_BSTR, PARAMFLAG_FIN}, {"copy", VT_BSTR | VT_BYREF, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}};
constexpr ParamDescription kFillParams[] = {
    {"buffer", VT_ARRAY | VT_UI1 | VT_BYREF, PARAMFLAG_FIN},
    {"length", VT_I4, PARAMFLAG_FIN},
    {"filled", VT_I4 | VT_BYREF, PARAMFLAG_FIN | PARAMFLAG_FOUT},
    {"pattern", VT_I4, PARAMFLAG_FIN | PARAMFLAG_FOPT},
    {"rc", VT_I4 | VT_BYREF, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}};
constexpr ParamDescription kNamesParams[] = {
    {"list", VT_VARIANT | VT_BYREF, PARAMFLAG_FIN | PARAMFLAG_FOUT},
    {"count", VT_I4 | VT_BYREF, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}};
constexpr ParamDescription kOpenedParams[] = {{"pVal", VT_I4 | VT_BYREF, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}};
constexpr MemberDescription kMeterMembers[] = {
    {"Scale", 1, MemberKind::Method, 7, kScaleParams, "method Scale"},
    {"Level", 2, MemberKind::PropertyGet, 8, kGetLevelParams, "property Level"},
    {"Level", 2, MemberKind::PropertyPut, 9, kPutLevelParams, "property Level"},
    {"Echo", 3, MemberKind::Method, 10, kEchoParams, "method Echo"},
    {"Fill", 4, MemberKind::Method, 11, kFillParams, "method Fill"},
    {"Names", 5, MemberKind::Method, 12, kNamesParams, "method Names"},
    {"Fail", 6, MemberKind::Method, 13, {}, "method Fail"},
    {"Opened", 7, MemberKind::PropertyGet, 14, kOpenedParams, "property Opened"},
};
constexpr InterfaceDescription kMeterDescription = {"ITestMeter", IID_ITestMeter, InterfaceKind::Dual,
                                                    "ITestMeter Interface", kMeterMembers};

class Meter final : public DispatchImpl<ITestMeter, kMeterDescription> {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID_ITestMeter)) {
            *ppv = static_cast<ITestMeter*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }

    HRESULT Scale(LONG value, LONG factor, LONG* result) override {
        *result = value * factor;
        return S_OK;
    }
    HRESULT get_Level(LONG* value) override {
        *value = level;
        return S_OK;
    }
    HRESULT put_Level(LONG value) override {
        level = value;
        return S_OK;
    }
    HRESULT Echo(BSTR text, BSTR* copy) override {
        *copy = SysAllocStringLen(text, SysStringLen(text));
        return S_OK;
    }
    HRESULT Fill(SAFEARRAY** buffer, LONG length, LONG* filled, LONG pattern, LONG* rc) override {
        BYTE* data = nullptr;
        if (FAILED(SafeArrayAccessData(*buffer, reinterpret_cast<void**>(&data))))
            return S_FALSE;
        for (LONG i = 0; i < length; ++i)
            data[i] = static_cast<BYTE>(pattern + i);
        SafeArrayUnaccessData(*buffer);
        *filled = length;
        *rc = -1;
        return S_OK;
    }
    HRESULT Names(VARIANT* list, LONG* count) override {
        list->vt = VT_ARRAY | VT_BSTR;
        list->parray = SafeArrayCreateVector(VT_BSTR, 0, 2);
        Bstr com1(L"COM1"), com2(L"COM2");
        LONG index = 0;
        SafeArrayPutElement(list->parray, &index, com1.Get());
        index = 1;
        SafeArrayPutElement(list->parray, &index, com2.Get());
        *count = 2;
        return S_OK;
    }
    HRESULT Fail() override { return E_FAIL; }
    HRESULT get_Opened(LONG* opened) override {
        *opened = 1;
        return S_OK;
    }

    LONG level = 0;
};

VARIANT Int(LONG value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

struct Invocation {
    std::vector<VARIANT> args;  // in declaration order; reversed when invoked
    std::vector<DISPID> named;
    VARIANT result;
    EXCEPINFO exception{};
    UINT argumentError = 99;

    Invocation() { VariantInit(&result); }
    ~Invocation() {
        VariantClear(&result);
        ClearExcepInfo(&exception);
    }
    HRESULT Run(IDispatch* target, DISPID id, WORD flags) {
        std::vector<VARIANT> reversed(args.rbegin(), args.rend());
        DISPPARAMS params{reversed.data(), named.empty() ? nullptr : named.data(), static_cast<UINT>(reversed.size()),
                          static_cast<UINT>(named.size())};
        VariantClear(&result);
        return target->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, &result, &exception, &argumentError);
    }
};

TEST(ComDispatch, NamesToDispids) {
    Meter meter;
    std::wstring scale = L"Scale", level = L"level", factor = L"FACTOR", value = L"value", nope = L"Nope";
    LPOLESTR names[3] = {scale.data(), factor.data(), value.data()};
    DISPID ids[3] = {};
    ASSERT_EQ(meter.GetIDsOfNames(IID_NULL, names, 3, LOCALE_USER_DEFAULT, ids), S_OK);
    EXPECT_EQ(ids[0], 1);
    EXPECT_EQ(ids[1], 1) << "parameters are numbered by position";
    EXPECT_EQ(ids[2], 0);

    names[0] = level.data();
    ASSERT_EQ(meter.GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, ids), S_OK);
    EXPECT_EQ(ids[0], 2) << "get and put share one DISPID, names ignore case";

    names[0] = nope.data();
    EXPECT_EQ(meter.GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], DISPID_UNKNOWN);
    names[0] = scale.data();
    names[1] = nope.data();
    EXPECT_EQ(meter.GetIDsOfNames(IID_NULL, names, 2, LOCALE_USER_DEFAULT, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], 1);
    EXPECT_EQ(ids[1], DISPID_UNKNOWN);
    EXPECT_EQ(meter.GetIDsOfNames(IID_ITestMeter, names, 1, LOCALE_USER_DEFAULT, ids), DISP_E_UNKNOWNINTERFACE);
}

TEST(ComDispatch, MethodWithRetvalTakesArgumentsInReverse) {
    Meter meter;
    Invocation call;
    VARIANT shortValue;
    VariantInit(&shortValue);
    shortValue.vt = VT_I2;
    shortValue.iVal = 7;
    LONG factor = -6;
    VARIANT byReference;
    VariantInit(&byReference);
    byReference.vt = VT_I4 | VT_BYREF;
    byReference.plVal = &factor;
    call.args = {shortValue, byReference};
    ASSERT_EQ(call.Run(&meter, 1, DISPATCH_METHOD), S_OK);
    ASSERT_EQ(call.result.vt, VT_I4);
    EXPECT_EQ(call.result.lVal, -42);
}

TEST(ComDispatch, PropertyGetAndPutShareTheDispid) {
    Meter meter;
    Invocation put;
    put.args = {Int(3)};
    put.named = {DISPID_PROPERTYPUT};
    ASSERT_EQ(put.Run(&meter, 2, DISPATCH_PROPERTYPUT), S_OK);
    EXPECT_EQ(meter.level, 3);
    put.named.clear();
    put.args = {Int(5)};
    ASSERT_EQ(put.Run(&meter, 2, DISPATCH_PROPERTYPUT), S_OK) << "the put name may be left out";
    EXPECT_EQ(meter.level, 5);

    Invocation get;
    ASSERT_EQ(get.Run(&meter, 2, DISPATCH_METHOD | DISPATCH_PROPERTYGET), S_OK);
    ASSERT_EQ(get.result.vt, VT_I4);
    EXPECT_EQ(get.result.lVal, 5);

    Invocation readOnly;
    readOnly.args = {Int(0)};
    EXPECT_EQ(readOnly.Run(&meter, 7, DISPATCH_PROPERTYPUT), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(readOnly.Run(&meter, 1, DISPATCH_PROPERTYGET), DISP_E_MEMBERNOTFOUND) << "a method is no property";
}

TEST(ComDispatch, StringsInAndOut) {
    Meter meter;
    Invocation call;
    VARIANT text;
    VariantInit(&text);
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocString(L"USB");
    call.args = {text};
    ASSERT_EQ(call.Run(&meter, 3, DISPATCH_METHOD), S_OK);
    ASSERT_EQ(call.result.vt, VT_BSTR);
    EXPECT_EQ(std::wstring(call.result.bstrVal), L"USB");
    EXPECT_NE(call.result.bstrVal, text.bstrVal);
    VariantClear(&text);
}

TEST(ComDispatch, ByReferenceArrayInOutLongAndOptionalArgument) {
    Meter meter;
    SAFEARRAY* buffer = SafeArrayCreateVector(VT_UI1, 0, 4);
    LONG filled = 0;
    VARIANT arrayRef;
    VariantInit(&arrayRef);
    arrayRef.vt = VT_BYREF | VT_ARRAY | VT_UI1;
    arrayRef.pparray = &buffer;
    VARIANT filledRef;
    VariantInit(&filledRef);
    filledRef.vt = VT_BYREF | VT_I4;
    filledRef.plVal = &filled;

    Invocation withoutPattern;
    withoutPattern.args = {arrayRef, Int(3), filledRef};
    ASSERT_EQ(withoutPattern.Run(&meter, 4, DISPATCH_METHOD), S_OK);
    EXPECT_EQ(withoutPattern.result.lVal, -1);
    EXPECT_EQ(filled, 3);
    const BYTE* data = static_cast<const BYTE*>(buffer->pvData);
    EXPECT_EQ(data[0], 0) << "a missing optional long is 0";
    EXPECT_EQ(data[2], 2);

    // The array may also come by value; the optional argument given.
    VARIANT arrayValue;
    VariantInit(&arrayValue);
    arrayValue.vt = VT_ARRAY | VT_UI1;
    arrayValue.parray = buffer;
    Invocation withPattern;
    withPattern.args = {arrayValue, Int(4), filledRef, Int(0x10)};
    ASSERT_EQ(withPattern.Run(&meter, 4, DISPATCH_METHOD), S_OK);
    EXPECT_EQ(data[3], 0x13);
    EXPECT_EQ(filled, 4);
    EXPECT_EQ(buffer->cLocks, 0u);
    SafeArrayDestroy(buffer);
}

TEST(ComDispatch, VariantPointerReceivesAnArrayOfStrings) {
    Meter meter;
    VARIANT list;
    VariantInit(&list);
    VARIANT listRef;
    VariantInit(&listRef);
    listRef.vt = VT_BYREF | VT_VARIANT;
    listRef.pvarVal = &list;
    Invocation call;
    call.args = {listRef};
    ASSERT_EQ(call.Run(&meter, 5, DISPATCH_METHOD), S_OK);
    EXPECT_EQ(call.result.lVal, 2);
    ASSERT_EQ(list.vt, VT_ARRAY | VT_BSTR);
    LONG index = 1;
    BSTR second = nullptr;
    ASSERT_EQ(SafeArrayGetElement(list.parray, &index, &second), S_OK);
    EXPECT_EQ(std::wstring(second), L"COM2");
    SysFreeString(second);
    VariantClear(&list);
}

TEST(ComDispatch, ErrorsOfCountsTypesNamesAndMembers) {
    Meter meter;
    Invocation call;
    EXPECT_EQ(call.Run(&meter, 99, DISPATCH_METHOD), DISP_E_MEMBERNOTFOUND);
    call.args = {Int(1)};
    EXPECT_EQ(call.Run(&meter, 1, DISPATCH_METHOD), DISP_E_BADPARAMCOUNT);
    call.args = {Int(1), Int(2), Int(3)};
    EXPECT_EQ(call.Run(&meter, 1, DISPATCH_METHOD), DISP_E_BADPARAMCOUNT);

    VARIANT text;
    VariantInit(&text);
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocString(L"7");
    call.args = {Int(1), text};
    EXPECT_EQ(call.Run(&meter, 1, DISPATCH_METHOD), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(call.argumentError, 0u) << "index in the reversed argument array";
    VariantClear(&text);

    VARIANT big;
    VariantInit(&big);
    big.vt = VT_I8;
    big.llVal = 0x100000000LL;
    call.args = {big, Int(1)};
    EXPECT_EQ(call.Run(&meter, 1, DISPATCH_METHOD), DISP_E_OVERFLOW);
    EXPECT_EQ(call.argumentError, 1u);

    VARIANT missing;
    VariantInit(&missing);
    missing.vt = VT_ERROR;
    missing.scode = DISP_E_PARAMNOTFOUND;
    call.args = {missing, Int(1)};
    EXPECT_EQ(call.Run(&meter, 1, DISPATCH_METHOD), DISP_E_PARAMNOTOPTIONAL);

    call.args = {Int(1), Int(2)};
    call.named = {0};
    EXPECT_EQ(call.Run(&meter, 1, DISPATCH_METHOD), DISP_E_NONAMEDARGS);
    call.named.clear();

    // A by-reference parameter refuses a value of another type.
    VARIANT wrong;
    VariantInit(&wrong);
    wrong.vt = VT_I4 | VT_BYREF;
    LONG dummy = 0;
    wrong.plVal = &dummy;
    Invocation fill;
    fill.args = {wrong, Int(1), wrong};
    EXPECT_EQ(fill.Run(&meter, 4, DISPATCH_METHOD), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(fill.argumentError, 2u);
}

TEST(ComDispatch, FailingMemberGivesAnExceptionWithItsHresult) {
    Meter meter;
    Invocation call;
    ASSERT_EQ(call.Run(&meter, 6, DISPATCH_METHOD), DISP_E_EXCEPTION);
    EXPECT_EQ(call.exception.scode, E_FAIL);
    ASSERT_NE(call.exception.bstrDescription, nullptr);
    EXPECT_EQ(std::wstring(call.exception.bstrDescription), L"Unspecified error");
    EXPECT_EQ(std::wstring(call.exception.bstrSource), L"ITestMeter");
}

TEST(ComDispatch, TypeInformationFromTheDescription) {
    Meter meter;
    UINT count = 0;
    ASSERT_EQ(meter.GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    ITypeInfo* info = nullptr;
    EXPECT_EQ(meter.GetTypeInfo(1, 0, &info), DISP_E_BADINDEX);
    ASSERT_EQ(meter.GetTypeInfo(0, 0, &info), S_OK);
    ComPtr<ITypeInfo> typeInfo = ComPtr<ITypeInfo>::Adopt(info);

    Bstr name, help;
    ASSERT_EQ(typeInfo->GetDocumentation(MEMBERID_NIL, name.Out(), help.Out(), nullptr, nullptr), S_OK);
    EXPECT_EQ(name.Utf8(), "ITestMeter");
    EXPECT_EQ(help.Utf8(), "ITestMeter Interface");
    ASSERT_EQ(typeInfo->GetDocumentation(2, name.Out(), help.Out(), nullptr, nullptr), S_OK);
    EXPECT_EQ(name.Utf8(), "Level");
    EXPECT_EQ(help.Utf8(), "property Level");
    EXPECT_EQ(typeInfo->GetDocumentation(42, name.Out(), nullptr, nullptr, nullptr), TYPE_E_ELEMENTNOTFOUND);

    BSTR names[4] = {};
    UINT got = 0;
    ASSERT_EQ(typeInfo->GetNames(1, names, 4, &got), S_OK);
    ASSERT_EQ(got, 4u);
    EXPECT_EQ(BstrToUtf8(names[0]), "Scale");
    EXPECT_EQ(BstrToUtf8(names[3]), "result");
    for (BSTR n : names)
        SysFreeString(n);
    GUID guid = GUID_NULL;
    ASSERT_EQ(typeInfo->GetGuid(&guid), S_OK);
    EXPECT_EQ(guid, IID_ITestMeter);

    // Invoke through the type information, on the interface pointer.
    Invocation call;
    call.args = {Int(6), Int(7)};
    std::vector<VARIANT> reversed(call.args.rbegin(), call.args.rend());
    DISPPARAMS params{reversed.data(), nullptr, 2, 0};
    ASSERT_EQ(typeInfo->Invoke(static_cast<ITestMeter*>(&meter), 1, DISPATCH_METHOD, &params, &call.result, nullptr,
                               nullptr), S_OK);
    EXPECT_EQ(call.result.lVal, 42);
}

TEST(ComDispatch, EventInterfaceDescriptionAnswersNamesOnly) {
    static constexpr ParamDescription onCommParams[] = {{"pBuffer", VT_ARRAY | VT_UI1 | VT_BYREF, PARAMFLAG_FIN},
                                                 {"lLength", VT_I4, PARAMFLAG_FIN}};
    static constexpr MemberDescription events[] = {
        {"OnComm", 1, MemberKind::Method, 0, onCommParams, "method OnComm"},
        {"OnError", 3, MemberKind::Method, 0, {}, "method OnError"}};
    static constexpr InterfaceDescription description = {"_TestEvents", IID_ITestMeter, InterfaceKind::Dispatch,
                                                         "_TestEvents Interface", events};
    std::string problem;
    EXPECT_TRUE(CheckInterfaceDescription(description, problem)) << problem;
    std::wstring onComm = L"OnComm";
    LPOLESTR names[1] = {onComm.data()};
    DISPID id = 0;
    ASSERT_EQ(DispGetIDsOfNames(description, names, 1, &id), S_OK);
    EXPECT_EQ(id, 1);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    Meter meter;
    EXPECT_EQ(DispInvoke(description, &meter, 1, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
}

TEST(ComDispatch, DescriptionChecksCatchMistakes) {
    std::string problem;
    EXPECT_TRUE(CheckInterfaceDescription(kMeterDescription, problem)) << problem;

    auto check = [&](std::initializer_list<MemberDescription> members) {
        std::vector<MemberDescription> list(members);
        InterfaceDescription description = {"IBad", IID_ITestMeter, InterfaceKind::Dual, "", list};
        problem.clear();
        return CheckInterfaceDescription(description, problem);
    };
    constexpr ParamDescription retvalFirst[] = {{"r", VT_I4 | VT_BYREF, PARAMFLAG_FRETVAL}, {"a", VT_I4, PARAMFLAG_FIN}};
    constexpr ParamDescription retvalByValue[] = {{"r", VT_I4, PARAMFLAG_FRETVAL}};
    constexpr ParamDescription twoValues[] = {{"a", VT_I4, PARAMFLAG_FIN}, {"b", VT_I4, PARAMFLAG_FIN}};
    constexpr ParamDescription optionalFirst[] = {{"a", VT_I4, PARAMFLAG_FOPT}, {"b", VT_I4, PARAMFLAG_FIN}};
    constexpr ParamDescription floating[] = {{"a", VT_R8, PARAMFLAG_FIN}};
    constexpr ParamDescription variantByValue[] = {{"a", VT_VARIANT, PARAMFLAG_FIN}};
    EXPECT_FALSE(check({{"A", 1, MemberKind::Method, 7, {}, ""}, {"B", 2, MemberKind::Method, 7, {}, ""}}));
    EXPECT_NE(problem.find("slot"), std::string::npos) << problem;
    EXPECT_FALSE(check({{"A", 1, MemberKind::Method, 6, {}, ""}}));
    EXPECT_FALSE(check({{"A", 1, MemberKind::Method, 7, {}, ""}, {"B", 1, MemberKind::Method, 8, {}, ""}}));
    EXPECT_FALSE(check({{"A", 1, MemberKind::Method, 7, {}, ""}, {"A", 2, MemberKind::Method, 8, {}, ""}}));
    EXPECT_FALSE(check({{"A", 1, MemberKind::PropertyGet, 7, {}, ""}, {"A", 1, MemberKind::Method, 8, {}, ""}}));
    EXPECT_FALSE(check({{"A", 1, MemberKind::Method, 7, retvalFirst, ""}}));
    EXPECT_FALSE(check({{"A", 1, MemberKind::Method, 7, retvalByValue, ""}}));
    EXPECT_FALSE(check({{"A", 1, MemberKind::PropertyPut, 7, twoValues, ""}}));
    EXPECT_FALSE(check({{"A", 1, MemberKind::Method, 7, optionalFirst, ""}}));
    EXPECT_FALSE(check({{"A", 1, MemberKind::Method, 7, floating, ""}}));
    EXPECT_FALSE(check({{"A", 1, MemberKind::Method, 7, variantByValue, ""}}));
    EXPECT_FALSE(check({{nullptr, 1, MemberKind::Method, 7, {}, ""}}));
    EXPECT_TRUE(check({{"A", 1, MemberKind::PropertyGet, 7, kGetLevelParams, ""},
                       {"a", 1, MemberKind::PropertyPut, 8, kPutLevelParams, ""}}))
        << problem;

    static constexpr EnumMemberDescription parity[] = {{"PAR_NONE", 0, nullptr}, {"PAR_ODD", 1, nullptr}, {"par_none", 2, nullptr}};
    static constexpr EnumDescription parityEnum = {"tParity", parity};
    const EnumDescription* enums[] = {&parityEnum};
    const InterfaceDescription* interfaces[] = {&kMeterDescription};
    TypeLibraryDescription library = {"TESTLib", GUID_NULL, 1, 0, 0x409, "Test Type Library", interfaces, enums};
    EXPECT_FALSE(CheckTypeLibraryDescription(library, problem));
    EXPECT_NE(problem.find("par_none"), std::string::npos) << problem;
}

// Handlers called through the call service, as an event sink calls its own.
LONG g_lastCount = 0;
BYTE g_lastByte = 0;
int64_t g_lastWide = 0;
void OnNothing() { g_lastCount = -100; }
void OnProgress(LONG percent) { g_lastCount = percent; }
void OnBytes(SAFEARRAY** array, LONG count) {
    g_lastCount = count;
    g_lastByte = static_cast<const BYTE*>((*array)->pvData)[count - 1];
}
LONG AddThree(LONG a, int64_t b, BYTE c) {
    g_lastWide = b;
    return a + static_cast<LONG>(b) + c;
}

ULONG_PTR AddressOf(auto function) { return reinterpret_cast<ULONG_PTR>(function); }

TEST(ComCall, ZeroToThreeArgumentsOfTheDescribedTypes) {
    VARIANT result;
    ASSERT_EQ(DispCallFunc(nullptr, AddressOf(&OnNothing), CC_STDCALL, VT_EMPTY, 0, nullptr, nullptr, &result), S_OK);
    EXPECT_EQ(g_lastCount, -100);
    EXPECT_EQ(result.vt, VT_EMPTY);

    VARIANT percent = Int(60);
    VARIANT* one[] = {&percent};
    VARTYPE oneType[] = {VT_I4};
    ASSERT_EQ(DispCallFunc(nullptr, AddressOf(&OnProgress), CC_STDCALL, VT_EMPTY, 1, oneType, one, nullptr), S_OK);
    EXPECT_EQ(g_lastCount, 60);

    // The event's array arrives by reference; the pointer is passed whole.
    SAFEARRAY* bytes = SafeArrayCreateVector(VT_UI1, 0, 3);
    static_cast<BYTE*>(bytes->pvData)[2] = 0xA5;
    VARIANT arrayRef;
    VariantInit(&arrayRef);
    arrayRef.vt = VT_BYREF | VT_ARRAY | VT_UI1;
    arrayRef.pparray = &bytes;
    VARIANT count = Int(3);
    VARIANT* two[] = {&arrayRef, &count};
    VARTYPE twoTypes[] = {VT_BYREF | VT_ARRAY | VT_UI1, VT_I4};
    ASSERT_EQ(DispCallFunc(nullptr, AddressOf(&OnBytes), CC_STDCALL, VT_EMPTY, 2, twoTypes, two, nullptr), S_OK);
    EXPECT_EQ(g_lastCount, 3);
    EXPECT_EQ(g_lastByte, 0xA5);

    // Sign extension into a 64-bit parameter, narrowing to a byte.
    VARIANT minusFive = Int(-5);
    VARIANT wide;
    VariantInit(&wide);
    wide.vt = VT_I4;
    wide.lVal = -1000000;
    VARIANT byteValue = Int(0x1FF);
    VARIANT* three[] = {&minusFive, &wide, &byteValue};
    VARTYPE threeTypes[] = {VT_I4, VT_I8, VT_UI1};
    ASSERT_EQ(DispCallFunc(nullptr, AddressOf(&AddThree), CC_CDECL, VT_I4, 3, threeTypes, three, &result), S_OK);
    EXPECT_EQ(g_lastWide, -1000000);
    ASSERT_EQ(result.vt, VT_I4);
    EXPECT_EQ(result.lVal, -5 - 1000000 + 0xFF);

    // A pointer described as a 32-bit value is refused rather than cut.
    VARTYPE asLongs[] = {VT_I4, VT_I4};
    EXPECT_EQ(DispCallFunc(nullptr, AddressOf(&OnBytes), CC_STDCALL, VT_EMPTY, 2, asLongs, two, nullptr),
              DISP_E_TYPEMISMATCH);
    SafeArrayDestroy(bytes);
}

TEST(ComCall, RefusesWhatItCannotCall) {
    VARIANT value = Int(1);
    VARIANT* args[9] = {&value, &value, &value, &value, &value, &value, &value, &value, &value};
    VARTYPE types[9] = {VT_I4, VT_I4, VT_I4, VT_I4, VT_I4, VT_I4, VT_I4, VT_I4, VT_I4};
    EXPECT_EQ(DispCallFunc(nullptr, AddressOf(&OnProgress), CC_STDCALL, VT_EMPTY, 9, types, args, nullptr),
              E_INVALIDARG);
    EXPECT_EQ(DispCallFunc(nullptr, AddressOf(&OnProgress), CC_FASTCALL, VT_EMPTY, 1, types, args, nullptr),
              E_INVALIDARG);
    EXPECT_EQ(DispCallFunc(nullptr, 0, CC_STDCALL, VT_EMPTY, 0, nullptr, nullptr, nullptr), E_INVALIDARG);
    VARTYPE floating[] = {VT_R8};
    EXPECT_EQ(DispCallFunc(nullptr, AddressOf(&OnProgress), CC_STDCALL, VT_EMPTY, 1, floating, args, nullptr),
              DISP_E_BADVARTYPE);
    EXPECT_EQ(DispCallFunc(nullptr, AddressOf(&OnProgress), CC_STDCALL, VT_R8, 0, nullptr, nullptr, nullptr),
              DISP_E_BADVARTYPE);
    Meter meter;
    EXPECT_EQ(DispCallFunc(&meter, 3, CC_STDCALL, VT_HRESULT, 0, nullptr, nullptr, nullptr), E_INVALIDARG)
        << "a table offset between slots";
}

TEST(ComCall, SlotOfAnInterfaceTable) {
    Meter meter;
    VARIANT value = Int(9);
    VARIANT* args[] = {&value};
    VARTYPE types[] = {VT_I4};
    VARIANT result;
    ITestMeter* instance = &meter;
    ASSERT_EQ(DispCallFunc(instance, 9 * sizeof(void*), CC_STDCALL, VT_HRESULT, 1, types, args, &result), S_OK);
    EXPECT_EQ(meter.level, 9) << "slot 9 is put_Level";
    EXPECT_EQ(result.vt, VT_ERROR);
    EXPECT_EQ(result.scode, S_OK);
    ASSERT_EQ(DispCallFunc(instance, 13 * sizeof(void*), CC_STDCALL, VT_HRESULT, 0, nullptr, nullptr, &result), S_OK);
    EXPECT_EQ(result.scode, E_FAIL) << "slot 13 is Fail";
}

class ComTypeLibraryRegistration : public ::testing::Test {
protected:
    void SetUp() override { setenv("XDG_CONFIG_HOME", m_dir.path().c_str(), 1); }
    void TearDown() override { unsetenv("XDG_CONFIG_HOME"); }
    testing_support::TempDir m_dir;
};

TEST_F(ComTypeLibraryRegistration, KeysWrittenAndRemoved) {
    namespace registry = marquen::registry;
    constexpr GUID libid = {0x11112222, 0x3333, 0x4444, {0x55, 0x55, 0x66, 0x66, 0x77, 0x77, 0x88, 0x88}};
    const InterfaceDescription* interfaces[] = {&kMeterDescription};
    TypeLibraryDescription library = {"TESTLib", libid, 1, 0, 0x409, "Test 1.0 Type Library", interfaces, {}};
    ASSERT_EQ(registry::SetValue("TypeLib\\{00000000-0000-0000-0000-00000000ABCD}\\1.0", "", "another"), ERROR_SUCCESS);

    ASSERT_EQ(RegisterTypeLib(library, "/opt/test/libtest.so"), S_OK);
    std::string lib = "TypeLib\\" + GuidToString(libid) + "\\1.0";
    std::string value;
    ASSERT_EQ(registry::QueryValue(lib, "", value), ERROR_SUCCESS);
    EXPECT_EQ(value, "Test 1.0 Type Library");
    ASSERT_EQ(registry::QueryValue(lib + "\\409\\linux", "", value), ERROR_SUCCESS);
    EXPECT_EQ(value, "/opt/test/libtest.so");
    ASSERT_EQ(registry::QueryValue(lib + "\\HELPDIR", "", value), ERROR_SUCCESS);
    EXPECT_EQ(value, "/opt/test");
    std::string interfaceKey = "Interface\\" + GuidToString(IID_ITestMeter);
    ASSERT_EQ(registry::QueryValue(interfaceKey, "", value), ERROR_SUCCESS);
    EXPECT_EQ(value, "ITestMeter");
    ASSERT_EQ(registry::QueryValue(interfaceKey + "\\TypeLib", "Version", value), ERROR_SUCCESS);
    EXPECT_EQ(value, "1.0");

    ASSERT_EQ(UnRegisterTypeLib(library), S_OK);
    EXPECT_EQ(registry::OpenKey("TypeLib\\" + GuidToString(libid)), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(registry::OpenKey(interfaceKey), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(registry::OpenKey("TypeLib\\{00000000-0000-0000-0000-00000000ABCD}\\1.0"), ERROR_SUCCESS)
        << "other libraries stay";
    EXPECT_EQ(UnRegisterTypeLib(library), S_OK) << "already gone is no error";
}

}  // namespace
