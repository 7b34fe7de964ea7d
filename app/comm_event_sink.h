#pragma once
// CCommEventSink: the application's sink for the events of its
// Communication object (_ICommunicationEvents). It turns each event into a
// window message sent to the view:
// - OnComm(bytes, count)   -> WM_COMM_BYTES, in slices of at most 1024 bytes,
//                             in order, each copied into one 1024-byte buffer
//                             that lParam points at during the call;
// - OnUpdateProgress(p)    -> WM_COMM_PROGRESS (p, 0);
// - OnError()              -> WM_COMM_ERROR (0, 0).
// An event that finds no view is dropped.
//
// The sink is not reference-counted: AddRef and Release answer 1 and the
// application object creates and destroys it. Events arrive on the thread
// that created the Communication object, while it pumps its messages; the
// sink and the view's handlers run there and nowhere else.
#include "com/com.h"
#include "icommunication.h"
#include "window/message_window.h"

#include <array>
#include <cstdint>

/// Where the sink sends its messages: the view. The message is handled before
/// the call returns; lParam's bytes are valid during the call only.
class ICommMessageTarget {
public:
    virtual ~ICommMessageTarget() = default;
    virtual LRESULT SendCommMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;
};

/// Finds the view for each event: the active view of the active frame of the
/// main window, or null when there is none (the event is then dropped).
class ICommViewLocator {
public:
    virtual ~ICommViewLocator() = default;
    virtual ICommMessageTarget* FindActiveView() = 0;
};

/// What the sink's argument-description lookup fills in for one event: how
/// its handler is called.
struct CommEventDescription {
    CALLCONV callingConvention = CC_STDCALL;
    VARTYPE returnType = VT_EMPTY;
    UINT argumentCount = 0;
    /// One machine word each: the count and the percentage as 32-bit values,
    /// the array reference as the full pointer it is.
    std::array<VARTYPE, 2> argumentTypes{};
};

/// The handlers the sink calls, by their slots, through the call-by-description
/// service. Declaration order is slot order.
class ICommEventHandlers {
public:
    virtual void OnComm(SAFEARRAY** ppArray, LONG lLength) = 0;
    virtual void OnUpdateProgress(LONG lPercent) = 0;
    virtual void OnError() = 0;

protected:
    ~ICommEventHandlers() = default;
};

class CCommEventSink : public IDispatch, private ICommEventHandlers {
public:
    /// The value of m_dwCookie while the sink is not connected.
    static constexpr DWORD kNotConnected = 0xFEFEFEFE;
    /// Longest slice of one WM_COMM_BYTES message.
    static constexpr size_t kSliceBytes = 1024;

    /// views must outlive the sink.
    explicit CCommEventSink(ICommViewLocator& views) : m_views(views) {}
    virtual ~CCommEventSink();
    CCommEventSink(const CCommEventSink&) = delete;
    CCommEventSink& operator=(const CCommEventSink&) = delete;

    // --- IUnknown --------------------------------------------------------------
    /// The sink itself for _ICommunicationEvents, IUnknown and IDispatch;
    /// E_POINTER for a null out pointer, E_NOINTERFACE otherwise.
    HRESULT QueryInterface(REFIID riid, void** ppvObject) override;
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }

    // --- IDispatch -------------------------------------------------------------
    HRESULT GetTypeInfoCount(UINT* pctinfo) override;
    HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
    HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) override;
    /// Calls the handler of DISPID 1, 2 or 3 with the event's arguments in
    /// declaration order; other DISPIDs are ignored. Always S_OK.
    HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                   VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;

    /// The call description of an event of _ICommunicationEvents; E_FAIL for
    /// another interface or an unknown DISPID.
    virtual HRESULT GetFuncInfoFromId(REFIID riid, DISPID dispid, LCID lcid, CommEventDescription& info);

    /// Advise cookie; kNotConnected while not connected.
    DWORD m_dwCookie = kNotConnected;

private:
    void OnComm(SAFEARRAY** ppArray, LONG lLength) override;
    void OnUpdateProgress(LONG lPercent) override;
    void OnError() override;

    ICommViewLocator& m_views;
};

/// Connects sink to the _ICommunicationEvents point of pComm and stores the
/// cookie in sink.m_dwCookie. The HRESULT of the first step that failed.
HRESULT AdviseCommEventSink(ICommunication* pComm, CCommEventSink& sink);
/// Disconnects sink when it is connected and sets its cookie to kNotConnected
/// (also when the object refuses).
void UnadviseCommEventSink(ICommunication* pComm, CCommEventSink& sink);
