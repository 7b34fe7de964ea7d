#pragma once
// The one guard every entry point of a component server runs its body
// through, so that no C++ exception leaves the module: the caller across the
// boundary (another module, a client written against the contract) cannot
// catch one, and an exception reaching a noexcept entry point would end the
// process.
#include "hresult.h"

#include <new>

namespace marquen::com {

/// Runs `body` (returning an HRESULT) and returns its result; an exception
/// becomes a code instead: std::bad_alloc E_OUTOFMEMORY, anything else
/// E_UNEXPECTED.
template <class Body>
HRESULT GuardedCall(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

}  // namespace marquen::com
