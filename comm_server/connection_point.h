#pragma once
// The object's one connection point, for _ICommunicationEvents: any number
// of sinks in a growable array, each event delivered to every sink in the
// order they were advised.
#include "com/com.h"
#include "com/com_object.h"
#include "com/entry_guard.h"
#include "thread_annotations.h"

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace quorlink {

class EventConnectionPoint final
    : public marquen::com::ComObject<EventConnectionPoint, marquen::com::DelegatedReferenceCount, IConnectionPoint> {
public:
    /// `controlling` counts the references of this sub-object; `container`
    /// is what GetConnectionPointContainer hands out. Both are the object's.
    EventConnectionPoint(IUnknown* controlling, IConnectionPointContainer* container);
    ~EventConnectionPoint();
    EventConnectionPoint(const EventConnectionPoint&) = delete;
    EventConnectionPoint& operator=(const EventConnectionPoint&) = delete;

    HRESULT GetConnectionInterface(IID* pIID) noexcept override;
    HRESULT GetConnectionPointContainer(IConnectionPointContainer** ppCPC) noexcept override;
    /// Takes the sink's _ICommunicationEvents (or IDispatch) interface;
    /// CONNECT_E_CANNOTCONNECT when it has neither. Any thread.
    HRESULT Advise(IUnknown* pUnkSink, DWORD* pdwCookie) noexcept override;
    /// CONNECT_E_NOCONNECTION for an unknown cookie. Once it returns, the
    /// sink gets no further event: when another thread is delivering one to
    /// it, Unadvise waits for that call to end (at most 10 s).
    HRESULT Unadvise(DWORD dwCookie) noexcept override;
    HRESULT EnumConnections(IEnumConnections** ppEnum) noexcept override;

    /// Raises event `id` on every sink, in advice order, through
    /// IDispatch::Invoke with `args` (already in reverse order). Result and
    /// exception information are ignored. Called on the window's thread,
    /// with no lock of the object held (a sink may call back in).
    void Fire(DISPID id, VARIANTARG* args, UINT count);
    /// Drops every sink; for the object's end.
    void UnadviseAll();

private:
    struct Connection {
        DWORD cookie;
        IDispatch* sink;  // one reference held
    };
    struct Delivery {
        DWORD cookie;
        std::thread::id thread;
    };
    bool IsAdvised(DWORD cookie) const REQUIRES(m_lock);

    IConnectionPointContainer* const m_container;
    mutable marquen::Mutex m_lock;
    std::condition_variable_any m_deliveryEnded;
    std::vector<Connection> m_connections GUARDED_BY(m_lock);
    std::vector<Delivery> m_deliveries GUARDED_BY(m_lock);  ///< calls into sinks in progress
    DWORD m_nextCookie GUARDED_BY(m_lock) = 1;
};

/// An enumerator of one connection point, for EnumConnectionPoints.
HRESULT CreateConnectionPointEnumerator(IConnectionPoint* point, IEnumConnectionPoints** ppEnum);

}  // namespace quorlink
