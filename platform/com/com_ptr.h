#pragma once
// ComPtr: one counted reference to an interface. Copying adds a reference,
// destruction releases it. The interface type must carry its `iid()`.
#include "interfaces.h"

#include <cstddef>
#include <utility>

template <class Interface>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    /// Adds a reference to `pointer` (which the caller keeps).
    explicit ComPtr(Interface* pointer) : m_pointer(pointer) {
        if (m_pointer)
            m_pointer->AddRef();
    }
    ComPtr(const ComPtr& other) : ComPtr(other.m_pointer) {}
    ComPtr(ComPtr&& other) noexcept : m_pointer(other.Detach()) {}
    ~ComPtr() { Reset(); }
    ComPtr& operator=(const ComPtr& other) {
        ComPtr(other).Swap(*this);
        return *this;
    }
    ComPtr& operator=(ComPtr&& other) noexcept {
        ComPtr(std::move(other)).Swap(*this);
        return *this;
    }

    /// Takes over a reference the caller owns (no AddRef).
    static ComPtr Adopt(Interface* pointer) {
        ComPtr owner;
        owner.m_pointer = pointer;
        return owner;
    }

    Interface* Get() const { return m_pointer; }
    Interface* operator->() const { return m_pointer; }
    explicit operator bool() const { return m_pointer != nullptr; }

    /// Releases the reference held and hands out the slot for an out-argument.
    Interface** Put() {
        Reset();
        return &m_pointer;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }

    /// Gives up the reference without releasing it.
    Interface* Detach() { return std::exchange(m_pointer, nullptr); }
    void Reset() {
        if (Interface* old = std::exchange(m_pointer, nullptr))
            old->Release();
    }
    void Swap(ComPtr& other) noexcept { std::swap(m_pointer, other.m_pointer); }

    /// QueryInterface for `Other`; `result` is empty on failure.
    template <class Other>
    HRESULT As(ComPtr<Other>& result) const {
        if (!m_pointer) {
            result.Reset();
            return E_POINTER;
        }
        return m_pointer->QueryInterface(Other::iid(), result.PutVoid());
    }

private:
    Interface* m_pointer = nullptr;
};
