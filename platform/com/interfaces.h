#pragma once
// The component interfaces the system uses. Each is an abstract struct whose
// virtual functions, in declaration order, are the slots of its table; no
// interface declares a destructor, so slot numbers are exactly the
// contract's (IUnknown 0-2, IDispatch 3-6, then the interface's own).
// Each carries its identifier as `iid()`, which ComPtr uses.
//
// Headers of the component library define no inline variables or static data
// members: in a server module those become unique symbols, and the loader
// then never unloads the module. Identifiers are functions and constants
// with internal linkage; a server's own headers should do the same.
//
// IStream and ITypeInfo are cut down to what this system calls on them; the
// others have their full tables.
#include "guid.h"
#include "hresult.h"
#include "variant.h"
#include "win_types.h"

struct IUnknown {
    static constexpr IID iid() { return {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}}; }
    virtual HRESULT QueryInterface(REFIID riid, void** ppvObject) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
};

struct ITypeInfo;

struct IDispatch : IUnknown {
    static constexpr IID iid() { return {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}}; }
    virtual HRESULT GetTypeInfoCount(UINT* pctinfo) = 0;
    virtual HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) = 0;
    virtual HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                  DISPID* rgDispId) = 0;
    virtual HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                           VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) = 0;
};

/// Type information of one interface, as far as IDispatch callers use it.
struct ITypeInfo : IUnknown {
    static constexpr IID iid() { return {0x00020401, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}}; }
    /// Member name first, then parameter names (their positions as ids).
    virtual HRESULT GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames, MEMBERID* pMemId) = 0;
    /// Calls the member on `pvInstance`, an interface pointer of this type.
    virtual HRESULT Invoke(void* pvInstance, MEMBERID memid, WORD wFlags, DISPPARAMS* pDispParams,
                           VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) = 0;
    /// Name and help string of a member, or of the interface for MEMBERID_NIL.
    /// Null out-pointers are skipped.
    virtual HRESULT GetDocumentation(MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString,
                                     DWORD* pdwHelpContext, BSTR* pBstrHelpFile) = 0;
    /// Member name then parameter names, at most `cMaxNames`.
    virtual HRESULT GetNames(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames, UINT* pcNames) = 0;
    /// Identifier of the described interface.
    virtual HRESULT GetGuid(GUID* pGuid) = 0;
};

struct IClassFactory : IUnknown {
    static constexpr IID iid() { return {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}}; }
    virtual HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) = 0;
    virtual HRESULT LockServer(BOOL fLock) = 0;
};

struct IConnectionPoint;
struct IConnectionPointContainer;

struct CONNECTDATA {
    IUnknown* pUnk;
    DWORD dwCookie;
};

struct IEnumConnections : IUnknown {
    static constexpr IID iid() { return {0xB196B287, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}}; }
    virtual HRESULT Next(ULONG cConnections, CONNECTDATA* rgcd, ULONG* pcFetched) = 0;
    virtual HRESULT Skip(ULONG cConnections) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumConnections** ppEnum) = 0;
};

struct IEnumConnectionPoints : IUnknown {
    static constexpr IID iid() { return {0xB196B285, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}}; }
    virtual HRESULT Next(ULONG cConnections, IConnectionPoint** ppCP, ULONG* pcFetched) = 0;
    virtual HRESULT Skip(ULONG cConnections) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumConnectionPoints** ppEnum) = 0;
};

struct IConnectionPointContainer : IUnknown {
    static constexpr IID iid() { return {0xB196B284, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}}; }
    virtual HRESULT EnumConnectionPoints(IEnumConnectionPoints** ppEnum) = 0;
    virtual HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) = 0;
};

struct IConnectionPoint : IUnknown {
    static constexpr IID iid() { return {0xB196B286, 0xBAB4, 0x101A, {0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07}}; }
    virtual HRESULT GetConnectionInterface(IID* pIID) = 0;
    virtual HRESULT GetConnectionPointContainer(IConnectionPointContainer** ppCPC) = 0;
    virtual HRESULT Advise(IUnknown* pUnkSink, DWORD* pdwCookie) = 0;
    virtual HRESULT Unadvise(DWORD dwCookie) = 0;
    virtual HRESULT EnumConnections(IEnumConnections** ppEnum) = 0;
};

/// Byte stream that marshal data is written to and read from (the sequential
/// part of a stream: read and write only).
struct IStream : IUnknown {
    static constexpr IID iid() { return {0x0000000C, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}}; }
    /// Reads up to `cb` bytes; `*pcbRead` (when given) gets the count read.
    virtual HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) = 0;
    /// Writes `cb` bytes; `*pcbWritten` (when given) gets the count written.
    virtual HRESULT Write(const void* pv, ULONG cb, ULONG* pcbWritten) = 0;
};

struct IMarshal : IUnknown {
    static constexpr IID iid() { return {0x00000003, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}}; }
    virtual HRESULT GetUnmarshalClass(REFIID riid, void* pv, DWORD dwDestContext, void* pvDestContext,
                                      DWORD mshlflags, CLSID* pCid) = 0;
    virtual HRESULT GetMarshalSizeMax(REFIID riid, void* pv, DWORD dwDestContext, void* pvDestContext,
                                      DWORD mshlflags, DWORD* pSize) = 0;
    virtual HRESULT MarshalInterface(IStream* pStm, REFIID riid, void* pv, DWORD dwDestContext,
                                     void* pvDestContext, DWORD mshlflags) = 0;
    virtual HRESULT UnmarshalInterface(IStream* pStm, REFIID riid, void** ppv) = 0;
    virtual HRESULT ReleaseMarshalData(IStream* pStm) = 0;
    virtual HRESULT DisconnectObject(DWORD dwReserved) = 0;
};

constexpr IID IID_IUnknown = IUnknown::iid();
constexpr IID IID_IDispatch = IDispatch::iid();
constexpr IID IID_ITypeInfo = ITypeInfo::iid();
constexpr IID IID_IClassFactory = IClassFactory::iid();
constexpr IID IID_IEnumConnections = IEnumConnections::iid();
constexpr IID IID_IEnumConnectionPoints = IEnumConnectionPoints::iid();
constexpr IID IID_IConnectionPointContainer = IConnectionPointContainer::iid();
constexpr IID IID_IConnectionPoint = IConnectionPoint::iid();
constexpr IID IID_IStream = IStream::iid();
constexpr IID IID_IMarshal = IMarshal::iid();

/// Class of the free-threaded marshaler, as IMarshal::GetUnmarshalClass names it.
constexpr CLSID CLSID_InProcFreeMarshaler = {0x0000033A, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// Marshaling contexts and flags (everything is in-process here).
constexpr DWORD MSHCTX_LOCAL = 0;
constexpr DWORD MSHCTX_INPROC = 3;
constexpr DWORD MSHLFLAGS_NORMAL = 0;
