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
    void ClearRecords();
    void Reply(Bytes bytes) { replies.push_back(ScriptedReply{true, std::move(bytes), std::nullopt}); }
    void NoReply() { replies.push_back(ScriptedReply{false, {}, 0}); }

    // --- events, as the server raises them ----------------------------------------
    void RaiseOnComm(const Bytes& bytes) { RaiseOnCommCount(bytes, static_cast<LONG>(bytes.size())); }
    void RaiseOnCommCount(const Bytes& bytes, LONG count);
    void RaiseProgress(LONG percent);
    void RaiseError() { Raise(DISPID_OnError, nullptr, 0); }

    // --- IUnknown -----------------------------------------------------------------
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override { return ++references; }
    ULONG Release() override { return --references; }

    // --- IDispatch ------------------------------------------------------------------
    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override;

    // --- ICommunication ---------------------------------------------------------------
    HRESULT OpenPort(BSTR sPortName, LONG* pRC) override;
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
    HRESULT ClosePort() override;
    HRESULT WritePort(SAFEARRAY** pBuffer, LONG lLength, LONG* plWritten, LONG lPacketSize, LONG* pRC) override;
    HRESULT get_RealTime(LONG* pVal) override { *pVal = 0; return Call("get_RealTime"); }
    HRESULT put_RealTime(LONG v) override { return Call("put_RealTime", std::to_string(v)); }
    HRESULT get_Opened(LONG* pVal) override;
    HRESULT GetComPorts(VARIANT* list, LONG* count) override { return Ports("GetComPorts", comPorts, list, count); }
    HRESULT GetLptPorts(VARIANT* list, LONG* count) override { return Ports("GetLptPorts", lptPorts, list, count); }
    HRESULT SearchUSBVantrexPrinter(BSTR* sDriver, LONG* bConnected) override;
    HRESULT WriteAndRead(VARIANT* pBuffer, LONG lWritten, LONG* plRead, LONG* pbResult) override;
    HRESULT AbortTransfert() override { return Call("AbortTransfert"); }
    HRESULT SetTimeout(LONG r, LONG w) override { return Call("SetTimeout", std::to_string(r) + " " + std::to_string(w)); }
    HRESULT GetTimeout(LONG* r, LONG* w) override;
    HRESULT get_PeriodOfOnComm(LONG* pVal) override { *pVal = 100; return Call("get_PeriodOfOnComm"); }
    HRESULT put_PeriodOfOnComm(LONG v) override { return Call("put_PeriodOfOnComm", std::to_string(v)); }
    HRESULT UpdateUSBDriver(BSTR bstrDriverLocation, LONG* plResult) override;

    // --- IConnectionPointContainer / IConnectionPoint ----------------------------------
    HRESULT EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
    HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override;
    HRESULT GetConnectionInterface(IID* pIID) override;
    HRESULT GetConnectionPointContainer(IConnectionPointContainer**) override { return E_NOTIMPL; }
    HRESULT Advise(IUnknown* pUnkSink, DWORD* pdwCookie) override;
    HRESULT Unadvise(DWORD dwCookie) override;
    HRESULT EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }

private:
    HRESULT Call(const std::string& name, const std::string& argument = {});
    void Record(const Bytes& bytes);
    void Raise(DISPID id, VARIANTARG* args, UINT count);
    HRESULT Ports(const char* name, const std::vector<std::wstring>& ports, VARIANT* list, LONG* count);

    tBaudRate m_baud = BR_9600;
    Bytes m_wire;
    std::vector<std::string> m_commands;
};

}  // namespace comm_testing
