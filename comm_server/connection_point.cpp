#include "connection_point.h"

#include "icommunication.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <new>

namespace quorlink {

using marquen::com::GuardedCall;
namespace {

constexpr auto kUnadviseWait = std::chrono::seconds(10);

// Enumerators hand out a snapshot taken when they were made. `Traits`
// counts the references of one element (AddRef/Release).
template <class Interface, class Element, class Traits>
class SnapshotEnumerator final
    : public marquen::com::ComObject<SnapshotEnumerator<Interface, Element, Traits>, marquen::com::OwnReferenceCount,
                                     Interface> {
public:
    explicit SnapshotEnumerator(std::vector<Element> items) : m_items(std::move(items)) {}
    ~SnapshotEnumerator() {
        for (Element& item : m_items)
            Traits::Drop(item);
    }

    HRESULT Next(ULONG count, Element* out, ULONG* fetched) noexcept override {
        if (!out || (count > 1 && !fetched))
            return E_POINTER;
        ULONG n = 0;
        while (n < count && m_position < m_items.size()) {
            out[n] = m_items[m_position++];
            Traits::Keep(out[n]);
            ++n;
        }
        if (fetched)
            *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG count) noexcept override {
        size_t left = m_items.size() - m_position;
        m_position += std::min<size_t>(count, left);
        return count <= left ? S_OK : S_FALSE;
    }
    HRESULT Reset() noexcept override {
        m_position = 0;
        return S_OK;
    }
    HRESULT Clone(Interface** ppEnum) noexcept override {
        return marquen::com::GuardedCall([&]() -> HRESULT {
            if (!ppEnum)
                return E_POINTER;
            *ppEnum = nullptr;
            std::vector<Element> copy = m_items;
            auto* clone = new (std::nothrow) SnapshotEnumerator(std::move(copy));
            if (!clone)
                return E_OUTOFMEMORY;
            // References are taken only once nothing can fail any more.
            for (Element& item : clone->m_items)
                Traits::Keep(item);
            clone->m_position = m_position;
            *ppEnum = clone;
            return S_OK;
        });
    }

private:
    std::vector<Element> m_items;
    size_t m_position = 0;
};

struct ConnectDataTraits {
    static void Keep(CONNECTDATA& data) { data.pUnk->AddRef(); }
    static void Drop(CONNECTDATA& data) { data.pUnk->Release(); }
};
struct PointTraits {
    static void Keep(IConnectionPoint*& point) { point->AddRef(); }
    static void Drop(IConnectionPoint*& point) { point->Release(); }
};

using ConnectionEnumerator = SnapshotEnumerator<IEnumConnections, CONNECTDATA, ConnectDataTraits>;
using PointEnumerator = SnapshotEnumerator<IEnumConnectionPoints, IConnectionPoint*, PointTraits>;

}  // namespace

EventConnectionPoint::EventConnectionPoint(IUnknown* controlling, IConnectionPointContainer* container)
    : ComObject(controlling), m_container(container) {}

EventConnectionPoint::~EventConnectionPoint() { UnadviseAll(); }

HRESULT EventConnectionPoint::GetConnectionInterface(IID* pIID) noexcept {
    return GuardedCall([&]() -> HRESULT {
        if (!pIID)
            return E_POINTER;
        *pIID = DIID__ICommunicationEvents;
        return S_OK;
    });
}

HRESULT EventConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** ppCPC) noexcept {
    return GuardedCall([&]() -> HRESULT {
        if (!ppCPC)
            return E_POINTER;
        m_container->AddRef();
        *ppCPC = m_container;
        return S_OK;
    });
}

HRESULT EventConnectionPoint::Advise(IUnknown* pUnkSink, DWORD* pdwCookie) noexcept {
    return GuardedCall([&]() -> HRESULT {
        if (!pdwCookie)
            return E_POINTER;
        *pdwCookie = 0;
        if (!pUnkSink)
            return E_POINTER;
        IDispatch* sink = nullptr;
        if (FAILED(pUnkSink->QueryInterface(DIID__ICommunicationEvents, reinterpret_cast<void**>(&sink))) &&
            FAILED(pUnkSink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&sink))))
            return CONNECT_E_CANNOTCONNECT;
        if (!sink)
            return CONNECT_E_CANNOTCONNECT;
        try {
            std::lock_guard guard(m_lock);
            DWORD cookie = m_nextCookie++;
            if (m_nextCookie == 0)
                m_nextCookie = 1;
            m_connections.push_back({cookie, sink});
            *pdwCookie = cookie;
        } catch (const std::bad_alloc&) {
            sink->Release();
            return E_OUTOFMEMORY;
        }
        return S_OK;
    });
}

HRESULT EventConnectionPoint::Unadvise(DWORD dwCookie) noexcept {
    return GuardedCall([&]() -> HRESULT {
        IDispatch* sink = nullptr;
        {
            std::unique_lock guard(m_lock);
            auto found = std::find_if(m_connections.begin(), m_connections.end(),
                                      [&](const Connection& c) { return c.cookie == dwCookie; });
            if (found == m_connections.end())
                return CONNECT_E_NOCONNECTION;
            sink = found->sink;
            m_connections.erase(found);
            // A call into this sink on another thread is let finish; one on this
            // thread is the caller itself, unadvising from inside its handler.
            const auto self = std::this_thread::get_id();
            const auto deadline = std::chrono::steady_clock::now() + kUnadviseWait;
            while (std::any_of(m_deliveries.begin(), m_deliveries.end(),
                               [&](const Delivery& d) { return d.cookie == dwCookie && d.thread != self; })) {
                if (m_deliveryEnded.wait_until(guard, deadline) == std::cv_status::timeout)
                    break;
            }
        }
        sink->Release();
        return S_OK;
    });
}

HRESULT EventConnectionPoint::EnumConnections(IEnumConnections** ppEnum) noexcept {
    return GuardedCall([&]() -> HRESULT {
        if (!ppEnum)
            return E_POINTER;
        *ppEnum = nullptr;
        try {
            std::vector<CONNECTDATA> items;
            {
                std::lock_guard guard(m_lock);
                for (const Connection& c : m_connections) {
                    items.push_back({c.sink, c.cookie});
                    c.sink->AddRef();
                }
            }
            auto* enumerator = new (std::nothrow) ConnectionEnumerator(std::move(items));
            if (!enumerator)
                return E_OUTOFMEMORY;
            *ppEnum = enumerator;
            return S_OK;
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    });
}

bool EventConnectionPoint::IsAdvised(DWORD cookie) const {
    return std::any_of(m_connections.begin(), m_connections.end(),
                       [&](const Connection& c) { return c.cookie == cookie; });
}

void EventConnectionPoint::Fire(DISPID id, VARIANTARG* args, UINT count) {
    std::vector<Connection> snapshot;
    try {
        std::lock_guard guard(m_lock);
        snapshot = m_connections;
        for (const Connection& c : snapshot)
            c.sink->AddRef();
    } catch (const std::bad_alloc&) {
        return;
    }
    const auto self = std::this_thread::get_id();
    for (const Connection& c : snapshot) {
        bool deliver = false;
        {
            std::lock_guard guard(m_lock);
            // A sink unadvised while the event went round (by an earlier
            // sink, or by another thread) gets nothing more.
            if (IsAdvised(c.cookie)) {
                try {
                    m_deliveries.push_back({c.cookie, self});
                    deliver = true;
                } catch (const std::bad_alloc&) {
                }
            }
        }
        if (deliver) {
            DISPPARAMS params{args, nullptr, count, 0};
            VARIANT result;
            VariantInit(&result);
            EXCEPINFO exception{};
            UINT argumentError = 0;
            c.sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, &exception,
                           &argumentError);
            VariantClear(&result);
            ClearExcepInfo(&exception);
            {
                std::lock_guard guard(m_lock);
                auto mine = std::find_if(m_deliveries.begin(), m_deliveries.end(),
                                         [&](const Delivery& d) { return d.cookie == c.cookie && d.thread == self; });
                if (mine != m_deliveries.end())
                    m_deliveries.erase(mine);
            }
            m_deliveryEnded.notify_all();
        }
        c.sink->Release();
    }
}

void EventConnectionPoint::UnadviseAll() {
    std::vector<Connection> dropped;
    {
        std::lock_guard guard(m_lock);
        dropped.swap(m_connections);
    }
    for (const Connection& c : dropped)
        c.sink->Release();
}

HRESULT CreateConnectionPointEnumerator(IConnectionPoint* point, IEnumConnectionPoints** ppEnum) {
    if (!ppEnum)
        return E_POINTER;
    *ppEnum = nullptr;
    try {
        point->AddRef();
        auto* enumerator = new (std::nothrow) PointEnumerator({point});
        if (!enumerator) {
            point->Release();
            return E_OUTOFMEMORY;
        }
        *ppEnum = enumerator;
        return S_OK;
    } catch (const std::bad_alloc&) {
        point->Release();
        return E_OUTOFMEMORY;
    }
}

}  // namespace quorlink
