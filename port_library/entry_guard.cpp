#include "entry_guard.h"

#include <atomic>
#include <new>
#include <system_error>

namespace fundaport {

void SetLastErrorFromCurrentException(const char* /*entry*/) noexcept {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_OUTOFMEMORY);
    } catch (const std::system_error& error) {
        const std::error_category& category = error.code().category();
        if (category == std::generic_category() || category == std::system_category()) {
            SetLastErrorFromErrno(error.code().value());
        } else {
            SetLastError(ERROR_INTERNAL_ERROR);
        }
    } catch (...) {
        SetLastError(ERROR_INTERNAL_ERROR);
    }
}

#ifdef FUNDAPORT_ENTRY_FAULT_SEAM
namespace {
std::atomic<EntryFault> g_entryFault{nullptr};
}

void SetEntryFaultForTesting(EntryFault fault) { g_entryFault = fault; }

void RaiseEntryFault(const char* entry) {
    if (EntryFault fault = g_entryFault.load()) {
        fault(entry);
    }
}
#endif

}  // namespace fundaport
