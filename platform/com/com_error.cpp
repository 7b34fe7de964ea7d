// The error exception.
#include "com_error.h"

_com_error::_com_error(HRESULT hr, const IID& iid)
    : m_hr(hr), m_iid(iid), m_message(std::make_shared<const std::string>(SystemMessageText(hr))) {}

void _com_issue_error(HRESULT hr) { throw _com_error(hr); }

void _com_issue_errorex(HRESULT hr, IUnknown*, REFIID riid) { throw _com_error(hr, riid); }
