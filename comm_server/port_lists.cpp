// GetComPorts and GetLptPorts: the serial and parallel port names of the
// port map, kept per object between calls.
#include "communication.h"

#include "devices/port_map.h"

#include <string_view>

namespace quorlink {

void CCommunication::RefreshPortLists() {
    // Asked again only while one list is empty: a machine with both kinds of
    // port keeps its first answer for the object's life.
    if (!m_comPorts.empty() && !m_lptPorts.empty())
        return;
    m_comPorts.clear();
    m_lptPorts.clear();
    // Map names are upper case already.
    for (const marquen::devices::PortMapping& port : marquen::devices::LoadPortMap()) {
        std::string_view name = port.name;
        if (name.starts_with("COM"))
            m_comPorts.push_back(Utf8ToWide(port.name));
        else if (name.starts_with("LPT"))
            m_lptPorts.push_back(Utf8ToWide(port.name));
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

HRESULT CCommunication::GetComPorts(VARIANT* plistComPorts, LONG* plNbPorts) noexcept {
    return GuardedCall([&]() -> HRESULT {
        return FillPortList(true, plistComPorts, plNbPorts);
    });
}

HRESULT CCommunication::GetLptPorts(VARIANT* plistLptPorts, LONG* plNbPorts) noexcept {
    return GuardedCall([&]() -> HRESULT {
        return FillPortList(false, plistLptPorts, plNbPorts);
    });
}

}  // namespace quorlink
