#pragma once
// _com_error: the exception that carries a failed HRESULT (and the interface
// whose member failed) on the caller's side of a component boundary. It never
// crosses a boundary itself: servers return HRESULTs.
#include "guid.h"
#include "hresult.h"
#include "interfaces.h"

#include <exception>
#include <memory>
#include <string>

class _com_error : public std::exception {
public:
    /// Never throws: without memory for the message text, the message is empty.
    explicit _com_error(HRESULT hr, const IID& iid = IID_NULL) noexcept : m_hr(hr), m_iid(iid) {
        try {
            m_message = std::make_shared<const std::string>(SystemMessageText(hr));
        } catch (...) {
        }
    }

    HRESULT Error() const noexcept { return m_hr; }
    /// Interface of the failed call (IID_NULL when not given).
    const IID& InterfaceId() const noexcept { return m_iid; }
    /// System message text of the HRESULT, without a trailing line break.
    const char* ErrorMessage() const noexcept { return m_message ? m_message->c_str() : ""; }
    const char* what() const noexcept override { return ErrorMessage(); }

private:
    HRESULT m_hr;
    IID m_iid;
    // Shared so that copying the exception cannot throw.
    std::shared_ptr<const std::string> m_message;
};

// The raising helpers are inline, so that the exception is thrown in the
// caller's own code and never unwinds out of the component library.

/// Throws _com_error(hr).
[[noreturn]] inline void _com_issue_error(HRESULT hr) { throw _com_error(hr); }
/// Throws _com_error(hr, riid); `object` is the failing interface (unused:
/// no error objects are kept).
[[noreturn]] inline void _com_issue_errorex(HRESULT hr, IUnknown*, REFIID riid) { throw _com_error(hr, riid); }

/// Throws _com_error for a failing `hr`; success codes (S_FALSE included)
/// return.
inline void ThrowIfFailed(HRESULT hr, REFIID riid = IID_NULL) {
    if (FAILED(hr))
        _com_issue_errorex(hr, nullptr, riid);
}
