#pragma once
// One way to give a component object its IUnknown: QueryInterface over the
// list of interfaces the object answers, and a reference count chosen by the
// object's kind of life.
//
//   class TypeInfo final : public marquen::com::ComObject<TypeInfo, OwnReferenceCount, ITypeInfo> { ... };
//
// - OwnReferenceCount: a heap object counted from 1; the last Release
//   deletes it. Any thread.
// - DelegatedReferenceCount: a part of another object (a connection point,
//   an aggregated interface); its counts are the controlling unknown's.
// - A module's static objects (class factories) pass a count of their own
//   that counts the module's locks.
//
// An aggregatable object answers its interfaces through NonDelegatingUnknown,
// which the aggregating object holds; the interfaces' own IUnknown then
// delegates to the controlling unknown.
//
// Only templates and inline functions without static data, as every header
// of the component library (see interfaces.h).
#include "hresult.h"
#include "interfaces.h"

#include <atomic>

namespace marquen::com {

/// Writes the interface of `object` that `riid` names, with a reference, into
/// *ppv, trying `Interfaces` in order; IUnknown is answered by the first. An
/// interface's bases other than IUnknown are not answered unless listed
/// (list IDispatch beside a dual interface). E_POINTER, E_NOINTERFACE.
template <class First, class... Rest, class Object>
HRESULT QueryInterfaceOf(Object* object, REFIID riid, void** ppv) noexcept {
    if (!ppv)
        return E_POINTER;
    IUnknown* found = nullptr;
    auto match = [&]<class Interface>(bool identity) {
        if (!found && (identity || IsEqualIID(riid, Interface::iid()))) {
            Interface* answer = static_cast<Interface*>(object);
            found = answer;
            *ppv = answer;
        }
    };
    match.template operator()<First>(IsEqualIID(riid, IID_IUnknown));
    (match.template operator()<Rest>(false), ...);
    if (!found) {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    found->AddRef();
    return S_OK;
}

/// Count of a heap object: starts at 1, the last Release deletes the object.
class OwnReferenceCount {
public:
    ULONG AddRef() { return ++m_references; }
    template <class Object>
    ULONG Release(Object* object) {
        ULONG left = --m_references;
        if (left == 0)
            delete object;
        return left;
    }
    /// A reference only while the count has not reached 0 (an object whose
    /// destruction has begun gets none).
    bool TryAddRef() {
        ULONG current = m_references.load();
        while (current != 0) {
            if (m_references.compare_exchange_weak(current, current + 1))
                return true;
        }
        return false;
    }

private:
    std::atomic<ULONG> m_references{1};
};

/// Counts that belong to a controlling unknown (set before first use).
class DelegatedReferenceCount {
public:
    explicit DelegatedReferenceCount(IUnknown* controlling = nullptr) : m_controlling(controlling) {}
    void SetControlling(IUnknown* controlling) { m_controlling = controlling; }
    IUnknown* Controlling() const { return m_controlling; }
    ULONG AddRef() { return m_controlling->AddRef(); }
    template <class Object>
    ULONG Release(Object*) {
        return m_controlling->Release();
    }

private:
    IUnknown* m_controlling;
};

/// Count of a module's static object (a class factory): while referenced it
/// is a lock on the module, kept in `locks` (which DllCanUnloadNow reads).
template <class Counter>
class ModuleLockCount {
public:
    explicit ModuleLockCount(Counter& locks) : m_locks(locks) {}
    ULONG AddRef() { return static_cast<ULONG>(++m_locks); }
    template <class Object>
    ULONG Release(Object*) {
        return static_cast<ULONG>(--m_locks);
    }

private:
    Counter& m_locks;
};

/// IUnknown of an object answering `Interfaces`, with the count `Count`
/// (OwnReferenceCount, DelegatedReferenceCount or a module's own).
template <class Derived, class Count, class... Interfaces>
class ComObject : public Interfaces... {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) noexcept override {
        return QueryInterfaceOf<Interfaces...>(static_cast<Derived*>(this), riid, ppv);
    }
    ULONG AddRef() noexcept override { return m_count.AddRef(); }
    ULONG Release() noexcept override { return m_count.Release(static_cast<Derived*>(this)); }

protected:
    ComObject() = default;
    template <class... Arguments>
    explicit ComObject(Arguments&&... arguments) : m_count(static_cast<Arguments&&>(arguments)...) {}
    virtual ~ComObject() = default;
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    Count m_count;
};

/// The non-delegating unknown of an aggregatable `Owner`: it answers
/// IUnknown as itself and `Interfaces` as the owner's, and then, if the owner
/// has `HRESULT QueryAggregated(REFIID, void**)`, whatever that answers (an
/// object the owner aggregates in turn). Its count is the owner's life: the
/// last Release deletes the owner.
template <class Owner, class... Interfaces>
class NonDelegatingUnknown final : public IUnknown {
public:
    explicit NonDelegatingUnknown(Owner& owner) : m_owner(owner) {}

    HRESULT QueryInterface(REFIID riid, void** ppv) noexcept override {
        if (!ppv)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown)) {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        HRESULT hr = QueryInterfaceOf<Interfaces...>(&m_owner, riid, ppv);
        if constexpr (requires { m_owner.QueryAggregated(riid, ppv); }) {
            if (hr == E_NOINTERFACE)
                hr = m_owner.QueryAggregated(riid, ppv);
        }
        return hr;
    }
    ULONG AddRef() noexcept override { return m_count.AddRef(); }
    ULONG Release() noexcept override { return m_count.Release(&m_owner); }
    /// A reference only while the owner is not already being destroyed.
    bool TryAddRef() { return m_count.TryAddRef(); }

private:
    Owner& m_owner;
    OwnReferenceCount m_count;
};

}  // namespace marquen::com
