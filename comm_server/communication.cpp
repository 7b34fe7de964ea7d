// The Communication object's identity, life and small members.
#include "communication.h"

#include "fundaport.h"
#include "usb_search.h"

#include <new>

namespace quorlink {

const InterfaceDescription kCommunicationDispatch = quorlink_typelib::kICommunication;

HRESULT CCommunication::Create(IUnknown* outer, REFIID riid, void** ppv) noexcept {
    return GuardedCall([&]() -> HRESULT {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (outer && !IsEqualIID(riid, IID_IUnknown))
            return CLASS_E_NOAGGREGATION;
        CCommunication* object = nullptr;
        try {
            object = new CCommunication(outer);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        HRESULT hr = object->Initialise();
        if (SUCCEEDED(hr))
            hr = object->m_inner.QueryInterface(riid, ppv);
        object->m_inner.Release();
        return hr;
    });
}

CCommunication::CCommunication(IUnknown* outer)
    : m_outer(outer ? outer : &m_inner),
      m_eventPoint(m_outer, this),
      m_link(std::make_shared<LinkState>()),
      m_ledger(std::make_shared<ProgressLedger>()) {
    ++LiveObjectCount();
}

HRESULT CCommunication::Initialise() {
    HRESULT hr = CreateHiddenWindow();
    if (FAILED(hr))
        return hr;
    return CoCreateFreeThreadedMarshaler(m_outer, &m_marshaler);
}

CCommunication::~CCommunication() {
    // Releasing the object closes no port (the client calls ClosePort), but
    // no thread of it may go on: the writer and the read thread end first.
    EndTransfer();
    {
        std::lock_guard api(m_apiLock);
        StopReceiving();
        {
            std::lock_guard channel(m_channelLock);
            m_channel.reset();
            if (m_readThread) {
                CloseHandle(m_readThread);
                m_readThread = nullptr;
            }
        }
        if (HANDLE abort = m_abortEvent.exchange(nullptr))
            CloseHandle(abort);
    }
    m_eventPoint.UnadviseAll();
    DestroyHiddenWindow();
    if (m_marshaler)
        m_marshaler->Release();
    --LiveObjectCount();
}

HRESULT CCommunication::QueryAggregated(REFIID riid, void** ppv) {
    if (IsEqualIID(riid, IID_IMarshal) && m_marshaler)
        return m_marshaler->QueryInterface(riid, ppv);
    return E_NOINTERFACE;
}

// ---- connection points ---------------------------------------------------------

HRESULT CCommunication::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) noexcept {
    return GuardedCall([&]() -> HRESULT {
        return CreateConnectionPointEnumerator(&m_eventPoint, ppEnum);
    });
}

HRESULT CCommunication::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) noexcept {
    return GuardedCall([&]() -> HRESULT {
        if (!ppCP)
            return E_POINTER;
        *ppCP = nullptr;
        if (!IsEqualIID(riid, DIID__ICommunicationEvents))
            return CONNECT_E_NOCONNECTION;
        m_eventPoint.AddRef();
        *ppCP = &m_eventPoint;
        return S_OK;
    });
}

// ---- time-outs and the OnComm period ------------------------------------------------

HRESULT CCommunication::SetTimeout(LONG lReadTimeout, LONG lWriteTimeout) noexcept {
    return GuardedCall([&]() -> HRESULT {
        m_link->readTimeout = lReadTimeout;
        m_link->writeTimeout = lWriteTimeout;
        return S_OK;
    });
}

HRESULT CCommunication::GetTimeout(LONG* plReadTimeout, LONG* plWriteTimeout) noexcept {
    return GuardedCall([&]() -> HRESULT {
        if (plReadTimeout)
            *plReadTimeout = m_link->readTimeout;
        if (plWriteTimeout)
            *plWriteTimeout = m_link->writeTimeout;
        return S_OK;
    });
}

HRESULT CCommunication::get_PeriodOfOnComm(LONG* pVal) noexcept {
    return GuardedCall([&]() -> HRESULT {
        if (!pVal)
            return E_POINTER;
        *pVal = m_periodOfOnComm;
        return S_OK;
    });
}

HRESULT CCommunication::put_PeriodOfOnComm(LONG newVal) noexcept {
    return GuardedCall([&]() -> HRESULT {
        m_periodOfOnComm = newVal;
        KillTimer(m_window, 0);
        std::lock_guard channel(m_channelLock);
        if (m_readThread)
            SetTimer(m_window, 0, TimerPeriod(newVal));
        return S_OK;
    });
}

// ---- USB --------------------------------------------------------------------------------

HRESULT CCommunication::SearchUSBVantrexPrinter(BSTR* sDriver, LONG* bConnected) noexcept {
    return GuardedCall([&]() -> HRESULT {
        if (!bConnected)
            return E_POINTER;
        UsbSearchResult result = SearchUsbPrinter();
        *bConnected = result.found ? 1 : 0;
        if (sDriver) {
            SysFreeString(*sDriver);
            *sDriver = SysAllocStringUtf8(result.text);
        }
        return S_OK;
    });
}

HRESULT CCommunication::UpdateUSBDriver(BSTR bstrDriverLocation, LONG* plResult) noexcept {
    return GuardedCall([&]() -> HRESULT {
        if (!plResult)
            return E_POINTER;
        *plResult = UpdateUsbDriver(BstrToUtf8(bstrDriverLocation));
        return S_OK;
    });
}

}  // namespace quorlink
