#include "comm_event_sink.h"

#include "command_ids.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace {

// Slot of each event's handler in ICommEventHandlers, by DISPID.
int HandlerSlot(DISPID dispid)
{
    switch (dispid) {
    case DISPID_OnComm:
        return 0;
    case DISPID_OnUpdateProgress:
        return 1;
    case DISPID_OnError:
        return 2;
    default:
        return -1;
    }
}

// The handlers run inside the server's call of Invoke, through the platform's
// call-by-description service: nothing the view throws may unwind into either
// module. An event whose handling failed that way ends there, as an event the
// sink cannot read does.
template <typename Send>
void Deliver(Send&& send) noexcept
{
    try {
        send();
    } catch (...) {
    }
}

}  // namespace

CCommEventSink::~CCommEventSink() = default;

HRESULT CCommEventSink::QueryInterface(REFIID riid, void** ppvObject)
{
    if (ppvObject == nullptr)
        return E_POINTER;
    if (IsEqualIID(riid, DIID__ICommunicationEvents) || IsEqualIID(riid, IID_IUnknown) ||
        IsEqualIID(riid, IID_IDispatch)) {
        *ppvObject = static_cast<IDispatch*>(this);
        return S_OK;
    }
    *ppvObject = nullptr;
    return E_NOINTERFACE;
}

HRESULT CCommEventSink::GetTypeInfoCount(UINT*)
{
    return E_NOTIMPL;
}

HRESULT CCommEventSink::GetTypeInfo(UINT, LCID, ITypeInfo**)
{
    return E_NOTIMPL;
}

HRESULT CCommEventSink::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*)
{
    return E_NOTIMPL;
}

HRESULT CCommEventSink::GetFuncInfoFromId(REFIID riid, DISPID dispid, LCID, CommEventDescription& info)
{
    if (!IsEqualIID(riid, DIID__ICommunicationEvents))
        return E_FAIL;
    info = CommEventDescription{};
    switch (dispid) {
    case DISPID_OnComm:
        info.argumentCount = 2;
        // The array comes by reference; on a 64-bit system its address is a
        // whole machine word and is passed as such, never cut to 32 bits.
        info.argumentTypes = {static_cast<VARTYPE>(VT_BYREF | VT_ARRAY | VT_UI1), VT_I4};
        return S_OK;
    case DISPID_OnUpdateProgress:
        info.argumentCount = 1;
        info.argumentTypes = {VT_I4, VT_EMPTY};
        return S_OK;
    case DISPID_OnError:
        info.argumentCount = 0;
        return S_OK;
    default:
        return E_FAIL;
    }
}

HRESULT CCommEventSink::Invoke(DISPID dispIdMember, REFIID, LCID lcid, WORD, DISPPARAMS* pDispParams, VARIANT*,
                               EXCEPINFO*, UINT*)
{
    CommEventDescription info;
    if (FAILED(GetFuncInfoFromId(DIID__ICommunicationEvents, dispIdMember, lcid, info)))
        return S_OK;
    int slot = HandlerSlot(dispIdMember);
    UINT given = pDispParams != nullptr ? pDispParams->cArgs : 0;
    // The handler would read arguments that are not there: such a call is no
    // event of this interface.
    if (slot < 0 || given != info.argumentCount || (given > 0 && pDispParams->rgvarg == nullptr))
        return S_OK;
    // The arguments come last first; the handler takes them first first.
    VARIANTARG* arguments[2] = {nullptr, nullptr};
    for (UINT i = 0; i < given; ++i)
        arguments[i] = &pDispParams->rgvarg[given - 1 - i];
    VARIANT result;
    VariantInit(&result);
    ICommEventHandlers* handlers = this;
    DispCallFunc(handlers, static_cast<ULONG_PTR>(slot) * sizeof(void*), info.callingConvention, info.returnType,
                 given, info.argumentTypes.data(), arguments, &result);
    VariantClear(&result);
    return S_OK;
}

void CCommEventSink::OnComm(SAFEARRAY** ppArray, LONG lLength)
{
    ICommMessageTarget* view = m_views.FindActiveView();
    if (view == nullptr || lLength < 1 || ppArray == nullptr || *ppArray == nullptr)
        return;
    SAFEARRAY* array = *ppArray;
    if (SafeArrayGetDim(array) != 1 || FAILED(SafeArrayLock(array)))
        return;
    // Never more than the array holds, whatever count came with it.
    size_t count = 0;
    if (SafeArrayGetElemsize(array) == 1)
        count = std::min<size_t>(static_cast<size_t>(lLength), array->rgsabound[0].cElements);
    std::vector<uint8_t> copy;
    void* data = nullptr;
    if (count > 0 && SUCCEEDED(SafeArrayAccessData(array, &data))) {
        // Without memory for the copy the event is dropped; the array is
        // given back either way.
        try {
            copy.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + count);
        } catch (const std::bad_alloc&) {
            copy.clear();
        }
        SafeArrayUnaccessData(array);
    }
    if (FAILED(SafeArrayUnlock(array)) || copy.empty())
        return;

    // Sent, not posted: the view handles each slice before the next one, so
    // one buffer serves them all. It lives on this call's stack, so an event
    // raised while the view handles a slice cannot overwrite it.
    uint8_t slice[kSliceBytes];
    Deliver([&] {
        for (size_t offset = 0; offset < copy.size(); offset += kSliceBytes) {
            size_t n = std::min(kSliceBytes, copy.size() - offset);
            std::memcpy(slice, copy.data() + offset, n);
            view->SendCommMessage(WM_COMM_BYTES, n, reinterpret_cast<LPARAM>(slice));
        }
    });
}

void CCommEventSink::OnUpdateProgress(LONG lPercent)
{
    if (ICommMessageTarget* view = m_views.FindActiveView())
        Deliver([&] { view->SendCommMessage(WM_COMM_PROGRESS, static_cast<WPARAM>(lPercent), 0); });
}

void CCommEventSink::OnError()
{
    if (ICommMessageTarget* view = m_views.FindActiveView())
        Deliver([&] { view->SendCommMessage(WM_COMM_ERROR, 0, 0); });
}

HRESULT AdviseCommEventSink(ICommunication* pComm, CCommEventSink& sink)
{
    if (pComm == nullptr)
        return E_POINTER;
    ComPtr<IConnectionPointContainer> container;
    HRESULT hr = pComm->QueryInterface(IID_IConnectionPointContainer, container.PutVoid());
    if (FAILED(hr))
        return hr;
    ComPtr<IConnectionPoint> point;
    hr = container->FindConnectionPoint(DIID__ICommunicationEvents, point.Put());
    if (FAILED(hr))
        return hr;
    if (!point)
        return E_POINTER;
    DWORD cookie = CCommEventSink::kNotConnected;
    hr = point->Advise(static_cast<IUnknown*>(static_cast<IDispatch*>(&sink)), &cookie);
    if (FAILED(hr))
        return hr;
    sink.m_dwCookie = cookie;
    return S_OK;
}

void UnadviseCommEventSink(ICommunication* pComm, CCommEventSink& sink)
{
    if (sink.m_dwCookie == CCommEventSink::kNotConnected)
        return;
    if (pComm != nullptr) {
        ComPtr<IConnectionPointContainer> container;
        ComPtr<IConnectionPoint> point;
        if (SUCCEEDED(pComm->QueryInterface(IID_IConnectionPointContainer, container.PutVoid())) &&
            SUCCEEDED(container->FindConnectionPoint(DIID__ICommunicationEvents, point.Put())) && point)
            point->Unadvise(sink.m_dwCookie);
    }
    sink.m_dwCookie = CCommEventSink::kNotConnected;
}
