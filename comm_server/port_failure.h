#pragma once
// Naming the system error behind a failed port operation in a diagnostic, so
// that an unplugged adapter's "Input/output error" reaches whoever reads the
// diagnostics as what it is.
#include "com/com.h"
#include "diagnostics/diagnostics.h"
#include "kernel/kernel.h"

#include <string>
#include <string_view>

namespace quorlink {

/// The calling thread's last error in words: the errno's text when a system
/// call failed ("Input/output error (EIO)"), else the code's system message.
inline std::string LastErrorInWords() {
    if (GetLastErrno() != 0)
        return LastErrorText();
    const DWORD code = GetLastError();
    if (code == ERROR_HANDLE_EOF)
        return "the device hung up";
    return SystemMessageText(HRESULT_FROM_WIN32(code)) + " (system error " + std::to_string(code) + ")";
}

/// Reports "Quorlink: <what><subject>: <the last error in words>" as an
/// error; leaves the last error as it was. Any thread; never throws (the
/// background threads call it), a message it cannot build is dropped.
inline void ReportPortFailure(std::string_view what, std::string_view subject = {}) noexcept {
    const DWORD code = GetLastError();
    const int cause = GetLastErrno();
    try {
        std::string message = "Quorlink: ";
        message.append(what).append(subject).append(": ").append(LastErrorInWords());
        marquen::diagnostics::Report(marquen::diagnostics::Level::kError, message);
    } catch (...) {
    }
    SetLastErrorWithErrno(code, cause);
}

/// Reports that the port did not take `bytes` bytes within `milliseconds`.
/// Any thread; never throws.
inline void ReportPortWriteTimeout(DWORD bytes, DWORD milliseconds) noexcept {
    try {
        marquen::diagnostics::Report(marquen::diagnostics::Level::kError,
                                     "Quorlink: the port did not take " + std::to_string(bytes) + " bytes within " +
                                         std::to_string(milliseconds) + " ms");
    } catch (...) {
    }
}

}  // namespace quorlink
