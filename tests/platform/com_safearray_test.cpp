// Safe arrays and variants: bounds, locks, element copies, ownership.
#include "com/com.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

namespace {

// Counts references; never deleted by Release, so tests can read the count.
class CountedObject final : public IUnknown {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!IsEqualIID(riid, IID_IUnknown))
            return E_NOINTERFACE;
        *ppv = this;
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++references; }
    ULONG Release() override { return --references; }
    ULONG references = 1;
};

struct ArrayOwner {
    SAFEARRAY* array;
    explicit ArrayOwner(SAFEARRAY* a) : array(a) {}
    ~ArrayOwner() {
        while (array && array->cLocks > 0)
            SafeArrayUnlock(array);
        SafeArrayDestroy(array);
    }
};

TEST(ComSafeArray, ByteVectorAsTheCommandsUseIt) {
    ArrayOwner owner(SafeArrayCreateVector(VT_UI1, 0, 4));
    SAFEARRAY* array = owner.array;
    ASSERT_NE(array, nullptr);
    EXPECT_EQ(SafeArrayGetDim(array), 1u);
    EXPECT_EQ(SafeArrayGetElemsize(array), 1u);
    LONG lower = -1, upper = -1;
    ASSERT_EQ(SafeArrayGetLBound(array, 1, &lower), S_OK);
    ASSERT_EQ(SafeArrayGetUBound(array, 1, &upper), S_OK);
    EXPECT_EQ(lower, 0);
    EXPECT_EQ(upper, 3);
    EXPECT_EQ(SafeArrayGetLBound(array, 2, &lower), DISP_E_BADINDEX);
    EXPECT_EQ(SafeArrayGetUBound(array, 0, &upper), DISP_E_BADINDEX);
    VARTYPE type = VT_EMPTY;
    ASSERT_EQ(SafeArrayGetVartype(array, &type), S_OK);
    EXPECT_EQ(type, VT_UI1);

    BYTE* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(array, reinterpret_cast<void**>(&data)), S_OK);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(data[i], 0) << "created zero-filled";
    const BYTE command[] = {0x1F, 0x65, 0x07, 0x00};
    std::memcpy(data, command, 4);
    EXPECT_EQ(array->cLocks, 1u);
    ASSERT_EQ(SafeArrayUnaccessData(array), S_OK);

    for (LONG i = 0; i < 4; ++i) {
        BYTE value = 0;
        ASSERT_EQ(SafeArrayGetElement(array, &i, &value), S_OK);
        EXPECT_EQ(value, command[i]);
    }
    LONG outside = 4;
    BYTE value = 0x55;
    EXPECT_EQ(SafeArrayPutElement(array, &outside, &value), DISP_E_BADINDEX);
    outside = -1;
    EXPECT_EQ(SafeArrayGetElement(array, &outside, &value), DISP_E_BADINDEX);
}

TEST(ComSafeArray, LockedArrayCannotBeDestroyed) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, 16);
    ASSERT_NE(array, nullptr);
    ASSERT_EQ(SafeArrayLock(array), S_OK);
    ASSERT_EQ(SafeArrayLock(array), S_OK);
    EXPECT_EQ(SafeArrayDestroy(array), DISP_E_ARRAYISLOCKED);
    ASSERT_EQ(SafeArrayUnlock(array), S_OK);
    EXPECT_EQ(SafeArrayDestroy(array), DISP_E_ARRAYISLOCKED);
    ASSERT_EQ(SafeArrayUnlock(array), S_OK);
    EXPECT_EQ(SafeArrayUnlock(array), E_UNEXPECTED) << "more unlocks than locks";
    EXPECT_EQ(SafeArrayDestroy(array), S_OK);
    EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
}

TEST(ComSafeArray, RefusesOverflowingOrUnsupportedShapes) {
    SAFEARRAYBOUND huge[2] = {{0x10000, 0}, {0x10000, 0}};
    EXPECT_EQ(SafeArrayCreate(VT_UI1, 2, huge), nullptr) << "4 GiB of data";
    EXPECT_EQ(SafeArrayCreateVector(VT_I4, 0, 0x40000000), nullptr) << "element size times count";
    SAFEARRAYBOUND wrap[3] = {{0xFFFFFFFF, 0}, {0xFFFFFFFF, 0}, {0xFFFFFFFF, 0}};
    EXPECT_EQ(SafeArrayCreate(VT_VARIANT, 3, wrap), nullptr) << "product beyond 64 bits";
    EXPECT_EQ(SafeArrayCreateVector(VT_UI1, 0x7FFFFFF0, 0x20), nullptr) << "upper bound past LONG";
    EXPECT_EQ(SafeArrayCreateVector(VT_EMPTY, 0, 1), nullptr);
    EXPECT_EQ(SafeArrayCreateVector(VT_RECORD, 0, 1), nullptr);
    EXPECT_EQ(SafeArrayCreate(VT_UI1, 0, huge), nullptr);

    ArrayOwner empty(SafeArrayCreateVector(VT_UI1, 5, 0));
    ASSERT_NE(empty.array, nullptr);
    LONG upper = 0;
    ASSERT_EQ(SafeArrayGetUBound(empty.array, 1, &upper), S_OK);
    EXPECT_EQ(upper, 4) << "an empty dimension ends before it starts";
}

TEST(ComSafeArray, TwoDimensionsKeepBoundsAndIndexOrder) {
    // First dimension 2..4 (3 elements), second 0..1 (2 elements).
    SAFEARRAYBOUND bounds[2] = {{3, 2}, {2, 0}};
    ArrayOwner owner(SafeArrayCreate(VT_I4, 2, bounds));
    SAFEARRAY* array = owner.array;
    ASSERT_NE(array, nullptr);
    EXPECT_EQ(SafeArrayGetDim(array), 2u);
    LONG lower = 0, upper = 0;
    SafeArrayGetLBound(array, 1, &lower);
    SafeArrayGetUBound(array, 1, &upper);
    EXPECT_EQ(lower, 2);
    EXPECT_EQ(upper, 4);
    SafeArrayGetLBound(array, 2, &lower);
    SafeArrayGetUBound(array, 2, &upper);
    EXPECT_EQ(lower, 0);
    EXPECT_EQ(upper, 1);

    // Index vectors name the last dimension first.
    for (LONG first = 2; first <= 4; ++first) {
        for (LONG second = 0; second <= 1; ++second) {
            LONG index[2] = {second, first};
            LONG value = first * 10 + second;
            ASSERT_EQ(SafeArrayPutElement(array, index, &value), S_OK);
        }
    }
    const LONG* data = static_cast<const LONG*>(array->pvData);
    for (LONG first = 2; first <= 4; ++first) {
        for (LONG second = 0; second <= 1; ++second) {
            LONG index[2] = {second, first};
            LONG value = 0;
            ASSERT_EQ(SafeArrayGetElement(array, index, &value), S_OK);
            EXPECT_EQ(value, first * 10 + second);
        }
    }
    // Every element landed in its own slot.
    std::set<LONG> seen(data, data + 6);
    EXPECT_EQ(seen.size(), 6u);
    LONG wrong[2] = {2, 2};
    LONG value = 0;
    EXPECT_EQ(SafeArrayGetElement(array, wrong, &value), DISP_E_BADINDEX);
}

TEST(ComSafeArray, StringElementsAreCopiedInAndOut) {
    ArrayOwner owner(SafeArrayCreateVector(VT_BSTR, 0, 3));
    SAFEARRAY* array = owner.array;
    ASSERT_NE(array, nullptr);
    EXPECT_EQ(array->fFeatures & FADF_BSTR, FADF_BSTR);
    Bstr com1(L"COM1");
    LONG index = 0;
    ASSERT_EQ(SafeArrayPutElement(array, &index, com1.Get()), S_OK);
    BSTR stored = static_cast<BSTR*>(array->pvData)[0];
    EXPECT_NE(stored, com1.Get()) << "the array keeps its own copy";
    EXPECT_EQ(std::wstring(stored), L"COM1");

    // Replacing frees the old element (ASan would see a leak otherwise).
    Bstr com2(L"COM2");
    ASSERT_EQ(SafeArrayPutElement(array, &index, com2.Get()), S_OK);
    BSTR out = nullptr;
    ASSERT_EQ(SafeArrayGetElement(array, &index, &out), S_OK);
    EXPECT_NE(out, static_cast<BSTR*>(array->pvData)[0]);
    EXPECT_EQ(std::wstring(out), L"COM2");
    SysFreeString(out);

    index = 2;
    ASSERT_EQ(SafeArrayGetElement(array, &index, &out), S_OK);
    EXPECT_EQ(out, nullptr) << "an unset string element is the null string";
}

TEST(ComSafeArray, CopyIsDeepAndInterfacesAreCounted) {
    CountedObject object;
    ArrayOwner objects(SafeArrayCreateVector(VT_UNKNOWN, 0, 2));
    LONG index = 1;
    ASSERT_EQ(SafeArrayPutElement(objects.array, &index, &object), S_OK);
    EXPECT_EQ(object.references, 2u);
    SAFEARRAY* copy = nullptr;
    ASSERT_EQ(SafeArrayCopy(objects.array, &copy), S_OK);
    EXPECT_EQ(object.references, 3u);
    EXPECT_EQ(SafeArrayDestroy(copy), S_OK);
    EXPECT_EQ(object.references, 2u);

    ArrayOwner strings(SafeArrayCreateVector(VT_BSTR, 1, 1));
    Bstr lpt(L"LPT1");
    index = 1;
    SafeArrayPutElement(strings.array, &index, lpt.Get());
    ASSERT_EQ(SafeArrayCopy(strings.array, &copy), S_OK);
    ArrayOwner copied(copy);
    BSTR original = static_cast<BSTR*>(strings.array->pvData)[0];
    BSTR duplicate = static_cast<BSTR*>(copy->pvData)[0];
    EXPECT_NE(original, duplicate);
    EXPECT_EQ(std::wstring(duplicate), L"LPT1");
    LONG lower = 0;
    SafeArrayGetLBound(copy, 1, &lower);
    EXPECT_EQ(lower, 1);

    ASSERT_EQ(SafeArrayCopy(nullptr, &copy), S_OK);
    EXPECT_EQ(copy, nullptr);
}

TEST(ComVariant, ClearFreesStringsArraysAndReferences) {
    CountedObject object;
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_UNKNOWN;
    v.punkVal = &object;
    object.AddRef();
    ASSERT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(object.references, 1u);
    EXPECT_EQ(v.vt, VT_EMPTY);

    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(L"freed by clear");
    ASSERT_EQ(VariantClear(&v), S_OK);

    v.vt = VT_ARRAY | VT_BSTR;
    v.parray = SafeArrayCreateVector(VT_BSTR, 0, 2);
    Bstr name(L"COM7");
    LONG index = 0;
    SafeArrayPutElement(v.parray, &index, name.Get());
    ASSERT_EQ(VariantClear(&v), S_OK);

    v.vt = 0x7FF;
    EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE);
}

TEST(ComVariant, ClearRefusesALockedArrayAndLeavesTheVariant) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_ARRAY | VT_UI1;
    v.parray = SafeArrayCreateVector(VT_UI1, 0, 4);
    ASSERT_EQ(SafeArrayLock(v.parray), S_OK);
    EXPECT_EQ(VariantClear(&v), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(v.vt, VT_ARRAY | VT_UI1);
    SafeArrayUnlock(v.parray);
    EXPECT_EQ(VariantClear(&v), S_OK);
}

TEST(ComVariant, ByReferenceContentBelongsToSomeoneElse) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, 8);
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BYREF | VT_ARRAY | VT_UI1;
    EXPECT_EQ(v.vt, 0x6011);
    v.pparray = &array;
    ASSERT_EQ(VariantClear(&v), S_OK);
    // Still there: clear did not destroy what the reference points at.
    EXPECT_EQ(SafeArrayGetDim(array), 1u);

    VARIANT copy;
    VariantInit(&copy);
    v.vt = VT_BYREF | VT_ARRAY | VT_UI1;
    v.pparray = &array;
    ASSERT_EQ(VariantCopy(&copy, &v), S_OK);
    EXPECT_EQ(copy.pparray, &array) << "references are copied shallow";
    EXPECT_EQ(SafeArrayDestroy(array), S_OK);
}

TEST(ComVariant, CopyOfArraysAndStringsIsDeep) {
    VARIANT source;
    VariantInit(&source);
    source.vt = VT_ARRAY | VT_UI1;
    source.parray = SafeArrayCreateVector(VT_UI1, 0, 3);
    static_cast<BYTE*>(source.parray->pvData)[2] = 0x6A;
    VARIANT copy;
    VariantInit(&copy);
    copy.vt = VT_BSTR;
    copy.bstrVal = SysAllocString(L"replaced: freed by the copy");
    ASSERT_EQ(VariantCopy(&copy, &source), S_OK);
    ASSERT_EQ(copy.vt, VT_ARRAY | VT_UI1);
    EXPECT_NE(copy.parray, source.parray);
    EXPECT_EQ(static_cast<BYTE*>(copy.parray->pvData)[2], 0x6A);
    EXPECT_EQ(VariantClear(&source), S_OK);
    EXPECT_EQ(VariantClear(&copy), S_OK);

    source.vt = VT_BSTR;
    source.bstrVal = SysAllocStringByteLen("odd", 3);
    ASSERT_EQ(VariantCopy(&copy, &source), S_OK);
    EXPECT_NE(copy.bstrVal, source.bstrVal);
    EXPECT_EQ(SysStringByteLen(copy.bstrVal), 3u);
    EXPECT_EQ(VariantCopy(&copy, &copy), S_OK);
    VariantClear(&source);
    VariantClear(&copy);

    CountedObject object;
    source.vt = VT_UNKNOWN;
    source.punkVal = &object;
    ASSERT_EQ(VariantCopy(&copy, &source), S_OK);
    EXPECT_EQ(object.references, 2u);
    VariantClear(&copy);
    EXPECT_EQ(object.references, 1u);
}

TEST(ComVariant, ArraysOfVariantsClearTheirElements) {
    ArrayOwner owner(SafeArrayCreateVector(VT_VARIANT, 0, 2));
    VARIANT element;
    VariantInit(&element);
    element.vt = VT_BSTR;
    element.bstrVal = SysAllocString(L"inside");
    LONG index = 1;
    ASSERT_EQ(SafeArrayPutElement(owner.array, &index, &element), S_OK);
    VariantClear(&element);
    VARIANT out;
    ASSERT_EQ(SafeArrayGetElement(owner.array, &index, &out), S_OK);
    ASSERT_EQ(out.vt, VT_BSTR);
    EXPECT_EQ(std::wstring(out.bstrVal), L"inside");
    VariantClear(&out);
}

}  // namespace
