#pragma once
// A Communication object in the test's own process, with the contract's
// table: it records every call, the bytes of every write and request,
// answers requests from a script, and raises the three events through the
// advised sink's IDispatch::Invoke exactly as the server does (arguments last
// first, the array by reference). Failing HRESULTs can be set per member.
// Single-threaded, like the page and the sink it serves.
#include "com/com.h"
#include "icommunication.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace comm_testing {

using Bytes = std::vector<uint8_t>;

struct RecordedWrite {
    Bytes bytes;             ///< the lLength bytes sent
    size_t arrayLength = 0;  ///< elements of the array they came in
    LONG packetSize = 0;
    SAFEARRAY* array = nullptr;  ///< the caller's array (packet writes only: it must stay alive)
};

struct RecordedRequest {
    Bytes bytes;
    size_t arrayLength = 0;
    LONG expected = 0;  ///< *plRead on entry
};

/// What a request gets back: pbResult, the bytes stored, and *plRead (the
/// number stored unless given).
struct ScriptedReply {
    bool result = true;
    Bytes bytes;
    std::optional<LONG> read;
};

class FakeCommunication : public ICommunication, public IConnectionPointContainer, public IConnectionPoint {
public:
    FakeCommunication() = default;
    FakeCommunication(const FakeCommunication&) = delete;
    FakeCommunication& operator=(const FakeCommunication&) = delete;

    // --- test controls ---------------------------------------------------------
    std::vector<std::string> calls;  ///< "OpenPort COM3", "put_Baudrate 9600", ...
    std::vector<RecordedWrite> writes;
    std::vector<RecordedRequest> requests;
    std::deque<ScriptedReply> replies;  ///< taken in order; an empty script answers nothing
    std::deque<LONG> writeResults;      ///< pRC of the next writes; -1 once empty
    std::map<std::string, HRESULT> failures;  ///< member name -> HRESULT it returns
    LONG opened = 0;
    bool openSucceeds = true;
    LONG usbConnected = 0;        ///< what SearchUSBVantrexPrinter answers
    std::string usbDriver;
    LONG updateResult = 0;        ///< what UpdateUSBDriver answers
    HRESULT adviseResult = S_OK;
    bool hasConnectionPoint = true;
    IDispatch* sink = nullptr;
    DWORD cookie = 0;
    ULONG references = 1;
    std::vector<std::wstring> comPorts{L"COM1", L"COM7"};
    std::vector<std::wstring> lptPorts{L"LPT1"};

    /// Every byte sent, writes and requests, in order.
    Bytes Wire() const { return m_wire; }
    /// The writes and requests as command texts ("1D 23 05"), in order.
    std::vector<std::string> Commands() const { return m_commands; }
    void ClearRecords()
    {
        calls.clear();
        writes.clear();
        requests.clear();
        m_wire.clear();
        m_commands.clear();
    }
    void Reply(Bytes bytes) { replies.push_back(ScriptedReply{true, std::move(bytes), std::nullopt}); }
    void NoReply() { replies.push_back(ScriptedReply{false, {}, 0}); }

    // --- events, as the server raises them ----------------------------------------
    void RaiseOnComm(const Bytes& bytes) { RaiseOnCommCount(bytes, static_cast<LONG>(bytes.size())); }
    void RaiseOnCommCount(const Bytes& bytes, LONG count)
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
    void RaiseProgress(LONG percent)
    {
        VARIANTARG arg;
        VariantInit(&arg);
        arg.vt = VT_I4;
        arg.lVal = percent;
        Raise(DISPID_OnUpdateProgress, &arg, 1);
    }
    void RaiseError() { Raise(DISPID_OnError, nullptr, 0); }

    // --- IUnknown -----------------------------------------------------------------
    HRESULT QueryInterface(REFIID riid, void** ppv) override
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
    ULONG AddRef() override { return ++references; }
    ULONG Release() override { return --references; }

    // --- IDispatch ------------------------------------------------------------------
    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }

    // --- ICommunication ---------------------------------------------------------------
    HRESULT OpenPort(BSTR sPortName, LONG* pRC) override
    {
        std::string name = BstrToUtf8(sPortName);
        if (HRESULT hr = Call("OpenPort", name); FAILED(hr))
            return hr;
        opened = openSucceeds ? 1 : 0;
        *pRC = opened;
        return S_OK;
    }
    HRESULT get_Baudrate(tBaudRate* pVal) override { *pVal = m_baud; return Call("get_Baudrate"); }
    HRESULT put_Baudrate(tBaudRate v) override { m_baud = v; return Call("put_Baudrate", std::to_string(v)); }
    HRESULT get_Parity(tParity* pVal) override { *pVal = PAR_NONE; return Call("get_Parity"); }
    HRESULT put_Parity(tParity v) override { return Call("put_Parity", std::to_string(v)); }
    HRESULT get_Stopbits(tStopBits* pVal) override { *pVal = SBITS_10; return Call("get_Stopbits"); }
    HRESULT put_Stopbits(tStopBits v) override { return Call("put_Stopbits", std::to_string(v)); }
    HRESULT get_Databits(tDataBits* pVal) override { *pVal = DBITS_8; return Call("get_Databits"); }
    HRESULT put_Databits(tDataBits v) override { return Call("put_Databits", std::to_string(v)); }
    HRESULT get_Handshaking(tHandshaking* pVal) override { *pVal = DTR_DSR; return Call("get_Handshaking"); }
    HRESULT put_Handshaking(tHandshaking v) override { return Call("put_Handshaking", std::to_string(v)); }
    HRESULT ClosePort() override
    {
        if (HRESULT hr = Call("ClosePort"); FAILED(hr))
            return hr;
        opened = 0;
        return S_OK;
    }
    HRESULT WritePort(SAFEARRAY** pBuffer, LONG lLength, LONG* plWritten, LONG lPacketSize, LONG* pRC) override
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
    HRESULT get_RealTime(LONG* pVal) override { *pVal = 0; return Call("get_RealTime"); }
    HRESULT put_RealTime(LONG v) override { return Call("put_RealTime", std::to_string(v)); }
    HRESULT get_Opened(LONG* pVal) override
    {
        if (HRESULT hr = Call("get_Opened"); FAILED(hr))
            return hr;
        *pVal = opened;
        return S_OK;
    }
    HRESULT GetComPorts(VARIANT* list, LONG* count) override { return Ports("GetComPorts", comPorts, list, count); }
    HRESULT GetLptPorts(VARIANT* list, LONG* count) override { return Ports("GetLptPorts", lptPorts, list, count); }
    HRESULT SearchUSBVantrexPrinter(BSTR* sDriver, LONG* bConnected) override
    {
        SysFreeString(*sDriver);
        *sDriver = SysAllocStringUtf8(usbDriver);
        *bConnected = usbConnected;
        return Call("SearchUSBVantrexPrinter");
    }
    HRESULT WriteAndRead(VARIANT* pBuffer, LONG lWritten, LONG* plRead, LONG* pbResult) override
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
    HRESULT AbortTransfert() override { return Call("AbortTransfert"); }
    HRESULT SetTimeout(LONG r, LONG w) override { return Call("SetTimeout", std::to_string(r) + " " + std::to_string(w)); }
    HRESULT GetTimeout(LONG* r, LONG* w) override
    {
        *r = 0;
        *w = 0;
        return Call("GetTimeout");
    }
    HRESULT get_PeriodOfOnComm(LONG* pVal) override { *pVal = 100; return Call("get_PeriodOfOnComm"); }
    HRESULT put_PeriodOfOnComm(LONG v) override { return Call("put_PeriodOfOnComm", std::to_string(v)); }
    HRESULT UpdateUSBDriver(BSTR bstrDriverLocation, LONG* plResult) override
    {
        *plResult = updateResult;
        return Call("UpdateUSBDriver", BstrToUtf8(bstrDriverLocation));
    }

    // --- IConnectionPointContainer / IConnectionPoint ----------------------------------
    HRESULT EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
    HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override
    {
        if (!IsEqualIID(riid, DIID__ICommunicationEvents)) {
            *ppCP = nullptr;
            return CONNECT_E_NOCONNECTION;
        }
        *ppCP = static_cast<IConnectionPoint*>(this);
        ++references;
        return S_OK;
    }
    HRESULT GetConnectionInterface(IID* pIID) override
    {
        *pIID = DIID__ICommunicationEvents;
        return S_OK;
    }
    HRESULT GetConnectionPointContainer(IConnectionPointContainer**) override { return E_NOTIMPL; }
    HRESULT Advise(IUnknown* pUnkSink, DWORD* pdwCookie) override
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
    HRESULT Unadvise(DWORD dwCookie) override
    {
        calls.push_back("Unadvise " + std::to_string(dwCookie));
        if (dwCookie != cookie || sink == nullptr)
            return CONNECT_E_NOCONNECTION;
        sink->Release();
        sink = nullptr;
        return S_OK;
    }
    HRESULT EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }

private:
    HRESULT Call(const std::string& name, const std::string& argument = {})
    {
        calls.push_back(argument.empty() ? name : name + " " + argument);
        auto failure = failures.find(name);
        return failure != failures.end() ? failure->second : S_OK;
    }
    void Record(const Bytes& bytes)
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
    void Raise(DISPID id, VARIANTARG* args, UINT count)
    {
        if (sink == nullptr)
            return;
        DISPPARAMS params{args, nullptr, count, 0};
        sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
    }
    HRESULT Ports(const char* name, const std::vector<std::wstring>& ports, VARIANT* list, LONG* count)
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

    tBaudRate m_baud = BR_9600;
    Bytes m_wire;
    std::vector<std::string> m_commands;
};

}  // namespace comm_testing
