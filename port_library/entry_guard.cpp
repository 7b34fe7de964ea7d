#include "entry_guard.h"

#include "diagnostics/diagnostics.h"

#include <atomic>
#include <exception>
#include <new>
#include <string>
#include <system_error>

namespace fundaport {

void SetLastErrorFromCurrentException(const char* entry) noexcept {
    const char* what = "an exception of unknown type";
    try {
        throw;
    } catch (const std::bad_alloc& error) {
        SetLastError(ERROR_OUTOFMEMORY);
        what = error.what();
    } catch (const std::system_error& error) {
        const std::error_category& category = error.code().category();
        if (category == std::generic_category() || category == std::system_category()) {
            SetLastErrorFromErrno(error.code().value());
        } else {
            SetLastError(ERROR_INTERNAL_ERROR);
        }
        what = error.what();
    } catch (const std::exception& error) {
        SetLastError(ERROR_INTERNAL_ERROR);
        what = error.what();
    } catch (...) {
        SetLastError(ERROR_INTERNAL_ERROR);
    }
    // Reporting allocates, which may fail again when memory ran out: it
    // then drops the message, and the last error is kept either way.
    const DWORD error = GetLastError();
    const int cause = GetLastErrno();
    try {
        marquen::diagnostics::Report(marquen::diagnostics::Level::kError,
                                     std::string("port library: ") + entry + " failed inside: " + what);
    } catch (...) {
    }
    SetLastErrorWithErrno(error, cause);
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
