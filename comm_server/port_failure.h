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

/// Reports "Quorlink: <what>: <the last error in words>"; leaves the last
/// error as it was. Any thread.
inline void ReportPortFailure(std::string_view what,
                              marquen::diagnostics::Level level = marquen::diagnostics::Level::kError) {
    const DWORD code = GetLastError();
    const int cause = GetLastErrno();
    marquen::diagnostics::Report(level, "Quorlink: " + std::string(what) + ": " + LastErrorInWords());
    SetLastErrorWithErrno(code, cause);
}

}  // namespace quorlink
