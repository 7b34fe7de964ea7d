// The free-threaded marshaler. Everything is in one process, so the marshal
// data is the interface pointer itself, and unmarshaling hands back the very
// pointer that was marshaled: an object that aggregates this marshaler may
// be used from any thread without a proxy.
#include "apartment.h"
#include "com_object.h"

#include <new>

namespace {

class FreeThreadedMarshaler final : public IMarshal {
public:
    explicit FreeThreadedMarshaler(IUnknown* outer) : m_outer(outer ? outer : &m_inner) {}

    IUnknown* Inner() { return &m_inner; }

    // IUnknown of IMarshal delegates to the controlling unknown.
    HRESULT QueryInterface(REFIID riid, void** ppv) override { return m_outer->QueryInterface(riid, ppv); }
    ULONG AddRef() override { return m_outer->AddRef(); }
    ULONG Release() override { return m_outer->Release(); }

    HRESULT GetUnmarshalClass(REFIID, void*, DWORD, void*, DWORD, CLSID* pCid) override {
        if (!pCid)
            return E_POINTER;
        *pCid = CLSID_InProcFreeMarshaler;
        return S_OK;
    }
    HRESULT GetMarshalSizeMax(REFIID, void*, DWORD, void*, DWORD, DWORD* pSize) override {
        if (!pSize)
            return E_POINTER;
        *pSize = sizeof(void*);
        return S_OK;
    }
    HRESULT MarshalInterface(IStream* stream, REFIID riid, void* pv, DWORD, void*, DWORD) override {
        if (!stream || !pv)
            return E_INVALIDARG;
        // The marshal data holds one reference until it is unmarshaled or
        // released.
        IUnknown* object = nullptr;
        HRESULT hr = static_cast<IUnknown*>(pv)->QueryInterface(riid, reinterpret_cast<void**>(&object));
        if (FAILED(hr))
            return hr;
        ULONG written = 0;
        hr = stream->Write(&object, sizeof object, &written);
        if (FAILED(hr) || written != sizeof object) {
            object->Release();
            return FAILED(hr) ? hr : E_FAIL;
        }
        return S_OK;
    }
    HRESULT UnmarshalInterface(IStream* stream, REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        IUnknown* object = nullptr;
        HRESULT hr = ReadPointer(stream, object);
        if (FAILED(hr))
            return hr;
        hr = object->QueryInterface(riid, ppv);
        object->Release();
        return hr;
    }
    HRESULT ReleaseMarshalData(IStream* stream) override {
        IUnknown* object = nullptr;
        HRESULT hr = ReadPointer(stream, object);
        if (FAILED(hr))
            return hr;
        object->Release();
        return S_OK;
    }
    HRESULT DisconnectObject(DWORD) override { return S_OK; }

private:
    static HRESULT ReadPointer(IStream* stream, IUnknown*& object) {
        if (!stream)
            return E_INVALIDARG;
        ULONG read = 0;
        HRESULT hr = stream->Read(&object, sizeof object, &read);
        if (FAILED(hr))
            return hr;
        if (read != sizeof object || !object)
            return E_UNEXPECTED;
        return S_OK;
    }

    // The non-delegating unknown that the aggregating object holds.
    marquen::com::NonDelegatingUnknown<FreeThreadedMarshaler, IMarshal> m_inner{*this};
    IUnknown* m_outer;
};

}  // namespace

HRESULT CoCreateFreeThreadedMarshaler(IUnknown* outer, IUnknown** marshaler) {
    if (!marshaler)
        return E_POINTER;
    auto* created = new (std::nothrow) FreeThreadedMarshaler(outer);
    *marshaler = created ? created->Inner() : nullptr;
    return created ? S_OK : E_OUTOFMEMORY;
}
