// The fake Communication object's members, compiled once for every test
// program that talks to it.
#include "fake_communication.h"

#include <algorithm>
#include <cstdio>

namespace comm_testing {

void FakeCommunication::ClearRecords()
{
    calls.clear();
    writes.clear();
    requests.clear();
    m_wire.clear();
    m_commands.clear();
}

void FakeCommunication::RaiseOnCommCount(const Bytes& bytes, LONG count)
{
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
    ASSERT_NE(array, nullptr);
    if (!bytes.empty())
        std::memcpy(array->pvData, bytes.data(), bytes.size());
    VARIANTARG args[2];
    VariantInit(&args[0]);
    VariantInit(&args[1]);
    args[0].vt = VT_I4;
    args[0].lVal = count;
    args[1].vt = VT_BYREF | VT_ARRAY | VT_UI1;
    args[1].pparray = &array;
    Raise(DISPID_OnComm, args, 2);
    SafeArrayDestroy(array);
}

void FakeCommunication::RaiseProgress(LONG percent)
{
    VARIANTARG arg;
    VariantInit(&arg);
    arg.vt = VT_I4;
    arg.lVal = percent;
    Raise(DISPID_OnUpdateProgress, &arg, 1);
}

HRESULT FakeCommunication::QueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID_ICommunication))
        *ppv = static_cast<ICommunication*>(this);
    else if (IsEqualIID(riid, IID_IConnectionPointContainer) && hasConnectionPoint)
        *ppv = static_cast<IConnectionPointContainer*>(this);
    else {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ++references;
    return S_OK;
}

HRESULT FakeCommunication::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*)
{
    return E_NOTIMPL;
}

HRESULT FakeCommunication::OpenPort(BSTR sPortName, LONG* pRC)
{
    std::string name = BstrToUtf8(sPortName);
    if (HRESULT hr = Call("OpenPort", name); FAILED(hr))
        return hr;
    opened = openSucceeds ? 1 : 0;
    *pRC = opened;
    return S_OK;
}

HRESULT FakeCommunication::ClosePort()
{
    if (HRESULT hr = Call("ClosePort"); FAILED(hr))
        return hr;
    opened = 0;
    return S_OK;
}

HRESULT FakeCommunication::WritePort(SAFEARRAY** pBuffer, LONG lLength, LONG* plWritten, LONG lPacketSize, LONG* pRC)
{
    if (HRESULT hr = Call("WritePort"); FAILED(hr))
        return hr;
    EXPECT_NE(pBuffer, nullptr);
    EXPECT_NE(*pBuffer, nullptr);
    SAFEARRAY* array = *pBuffer;
    EXPECT_EQ(SafeArrayGetDim(array), 1u);
    size_t elements = array->rgsabound[0].cElements;
    EXPECT_LE(static_cast<size_t>(lLength), elements);
    RecordedWrite write;
    const uint8_t* data = static_cast<const uint8_t*>(array->pvData);
    write.bytes.assign(data, data + std::min<size_t>(elements, static_cast<size_t>(lLength)));
    write.arrayLength = elements;
    write.packetSize = lPacketSize;
    write.array = lPacketSize > 0 ? array : nullptr;
    Record(write.bytes);
    writes.push_back(std::move(write));
    LONG rc = -1;
    if (!writeResults.empty()) {
        rc = writeResults.front();
        writeResults.pop_front();
    }
    if (lPacketSize == 0 && rc == -1 && plWritten != nullptr)
        *plWritten = lLength;
    *pRC = rc;
    return S_OK;
}

HRESULT FakeCommunication::get_Opened(LONG* pVal)
{
    if (HRESULT hr = Call("get_Opened"); FAILED(hr))
        return hr;
    *pVal = opened;
    return S_OK;
}

HRESULT FakeCommunication::SearchUSBVantrexPrinter(BSTR* sDriver, LONG* bConnected)
{
    SysFreeString(*sDriver);
    *sDriver = SysAllocStringUtf8(usbDriver);
    *bConnected = usbConnected;
    return Call("SearchUSBVantrexPrinter");
}

HRESULT FakeCommunication::WriteAndRead(VARIANT* pBuffer, LONG lWritten, LONG* plRead, LONG* pbResult)
{
    if (HRESULT hr = Call("WriteAndRead"); FAILED(hr))
        return hr;
    EXPECT_EQ(pBuffer->vt, VT_ARRAY | VT_UI1);
    SAFEARRAY* array = pBuffer->parray;
    size_t elements = array->rgsabound[0].cElements;
    EXPECT_LE(static_cast<size_t>(lWritten), elements);
    uint8_t* data = static_cast<uint8_t*>(array->pvData);
    RecordedRequest request{Bytes(data, data + lWritten), elements, *plRead};
    Record(request.bytes);
    requests.push_back(request);
    *pbResult = 0;
    if (replies.empty())
        return S_OK;
    ScriptedReply reply = replies.front();
    replies.pop_front();
    size_t stored = std::min(reply.bytes.size(), elements);
    if (stored > 0)
        std::memcpy(data, reply.bytes.data(), stored);
    *plRead = reply.read.value_or(static_cast<LONG>(stored));
    *pbResult = reply.result ? 1 : 0;
    return S_OK;
}

HRESULT FakeCommunication::GetTimeout(LONG* r, LONG* w)
{
    *r = 0;
    *w = 0;
    return Call("GetTimeout");
}

HRESULT FakeCommunication::UpdateUSBDriver(BSTR bstrDriverLocation, LONG* plResult)
{
    *plResult = updateResult;
    return Call("UpdateUSBDriver", BstrToUtf8(bstrDriverLocation));
}

HRESULT FakeCommunication::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP)
{
    if (!IsEqualIID(riid, DIID__ICommunicationEvents)) {
        *ppCP = nullptr;
        return CONNECT_E_NOCONNECTION;
    }
    *ppCP = static_cast<IConnectionPoint*>(this);
    ++references;
    return S_OK;
}

HRESULT FakeCommunication::GetConnectionInterface(IID* pIID)
{
    *pIID = DIID__ICommunicationEvents;
    return S_OK;
}

HRESULT FakeCommunication::Advise(IUnknown* pUnkSink, DWORD* pdwCookie)
{
    calls.push_back("Advise");
    if (FAILED(adviseResult))
        return adviseResult;
    IDispatch* dispatch = nullptr;
    EXPECT_EQ(pUnkSink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
    sink = dispatch;
    cookie = 0x1234;
    *pdwCookie = cookie;
    return S_OK;
}

HRESULT FakeCommunication::Unadvise(DWORD dwCookie)
{
    calls.push_back("Unadvise " + std::to_string(dwCookie));
    if (dwCookie != cookie || sink == nullptr)
        return CONNECT_E_NOCONNECTION;
    sink->Release();
    sink = nullptr;
    return S_OK;
}

HRESULT FakeCommunication::Call(const std::string& name, const std::string& argument)
{
    calls.push_back(argument.empty() ? name : name + " " + argument);
    auto failure = failures.find(name);
    return failure != failures.end() ? failure->second : S_OK;
}

void FakeCommunication::Record(const Bytes& bytes)
{
    m_wire.insert(m_wire.end(), bytes.begin(), bytes.end());
    std::string text;
    for (uint8_t byte : bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X", byte);
        text += text.empty() ? hex : std::string(" ") + hex;
    }
    m_commands.push_back(text);
}

void FakeCommunication::Raise(DISPID id, VARIANTARG* args, UINT count)
{
    if (sink == nullptr)
        return;
    DISPPARAMS params{args, nullptr, count, 0};
    sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
}

HRESULT FakeCommunication::Ports(const char* name, const std::vector<std::wstring>& ports, VARIANT* list, LONG* count)
{
    if (HRESULT hr = Call(name); FAILED(hr))
        return hr;
    *count = static_cast<LONG>(ports.size());
    if (ports.empty())
        return S_OK;
    SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(ports.size()));
    for (LONG i = 0; i < static_cast<LONG>(ports.size()); ++i) {
        Bstr text(ports[static_cast<size_t>(i)].c_str());
        SafeArrayPutElement(array, &i, text.Get());
    }
    VariantClear(list);
    list->vt = VT_ARRAY | VT_BSTR;
    list->parray = array;
    return S_OK;
}

}  // namespace comm_testing
