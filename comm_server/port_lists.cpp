// GetComPorts and GetLptPorts: the serial and parallel port names of the
// spooler's port list, kept per object between calls.
#include "communication.h"

#include "devices/spooler_ports.h"

#include <cctype>
#include <memory>
#include <new>

namespace quorlink {
namespace {

bool HasPrefixNoCase(const char* name, const char* prefix) {
    for (size_t i = 0; prefix[i] != '\0'; ++i) {
        if (name[i] == '\0' || std::toupper(static_cast<unsigned char>(name[i])) != prefix[i])
            return false;
    }
    return true;
}

}  // namespace

void CCommunication::RefreshPortLists() {
    // Asked again only while one list is empty: a machine with both kinds of
    // port keeps its first answer for the object's life.
    if (!m_comPorts.empty() && !m_lptPorts.empty())
        return;
    m_comPorts.clear();
    m_lptPorts.clear();
    DWORD needed = 0;
    DWORD returned = 0;
    EnumPorts(nullptr, 2, nullptr, 0, &needed, &returned);
    if (needed == 0)
        return;
    std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[needed]);
    if (!buffer || !EnumPorts(nullptr, 2, buffer.get(), needed, &needed, &returned))
        return;
    const auto* ports = reinterpret_cast<const PORT_INFO_2*>(buffer.get());
    for (DWORD i = 0; i < returned; ++i) {
        const char* name = ports[i].pPortName;
        if (!name)
            continue;
        if (HasPrefixNoCase(name, "COM"))
            m_comPorts.push_back(Utf8ToWide(name));
        else if (HasPrefixNoCase(name, "LPT"))
            m_lptPorts.push_back(Utf8ToWide(name));
    }
}

HRESULT CCommunication::FillPortList(bool serial, VARIANT* list, LONG* count) {
    if (!count)
        return E_POINTER;
    *count = 0;
    std::lock_guard guard(m_portListLock);
    try {
        RefreshPortLists();
    } catch (const std::bad_alloc&) {
        m_comPorts.clear();
        m_lptPorts.clear();
        return QUORLINK_E_OUTOFMEMORY;
    }
    const std::vector<std::wstring>& names = serial ? m_comPorts : m_lptPorts;
    if (names.empty())
        return S_OK;
    if (!list)
        return E_POINTER;
    // The variant's earlier content is the caller's: it is not freed here.
    VariantInit(list);
    SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(names.size()));
    if (!array)
        return QUORLINK_E_OUTOFMEMORY;
    list->vt = VT_ARRAY | VT_BSTR;
    list->parray = array;
    for (const std::wstring& name : names) {
        Bstr copy(name.c_str());
        LONG index = *count;
        if (!copy.Get() || FAILED(SafeArrayPutElement(array, &index, copy.Get())))
            break;
        ++*count;
    }
    return S_OK;
}

HRESULT CCommunication::GetComPorts(VARIANT* plistComPorts, LONG* plNbPorts) {
    return FillPortList(true, plistComPorts, plNbPorts);
}

HRESULT CCommunication::GetLptPorts(VARIANT* plistLptPorts, LONG* plNbPorts) {
    return FillPortList(false, plistLptPorts, plNbPorts);
}

}  // namespace quorlink
