#pragma once
// Inside of the port library: the guard every Comm_ entry point runs its body
// through. Callers of the library are C callers (the contract has no
// exceptions), so nothing may unwind out of it: an exception thrown inside
// (an allocation failure, a system error from a lock or the port map's
// directory scan) becomes the entry point's own failure value with the
// calling thread's last error set.
#include "kernel/last_error.h"

namespace fundaport {

/// Sets the calling thread's last error from the exception being handled:
/// ERROR_OUTOFMEMORY for std::bad_alloc, the mapped errno (kept as the
/// cause) for a std::system_error of the system's own codes, else
/// ERROR_INTERNAL_ERROR. Call only from inside a catch block.
void SetLastErrorFromCurrentException(const char* entry) noexcept;

#ifdef FUNDAPORT_ENTRY_FAULT_SEAM
/// Test builds only (never the shipped library): called first thing inside
/// the guard of every entry point with the entry point's name; a fault that
/// throws makes that call fail inside. Null removes it. Any thread.
using EntryFault = void (*)(const char* entry);
void SetEntryFaultForTesting(EntryFault fault);
void RaiseEntryFault(const char* entry);
#endif

/// Runs `body` and returns its result; `failure` when it throws.
template <typename Result, typename Body>
Result GuardEntry(const char* entry, Result failure, Body&& body) noexcept {
    try {
#ifdef FUNDAPORT_ENTRY_FAULT_SEAM
        RaiseEntryFault(entry);
#endif
        return body();
    } catch (...) {
        SetLastErrorFromCurrentException(entry);
        return failure;
    }
}

/// The same for an entry point without a result: the last error is all a
/// caller can see of a failure.
template <typename Body>
void GuardEntry(const char* entry, Body&& body) noexcept {
    try {
#ifdef FUNDAPORT_ENTRY_FAULT_SEAM
        RaiseEntryFault(entry);
#endif
        body();
    } catch (...) {
        SetLastErrorFromCurrentException(entry);
    }
}

}  // namespace fundaport
