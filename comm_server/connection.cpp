// Opening, closing and setting up the connection, and the line properties.
#include "communication.h"

#include "fundaport.h"
#include "port_failure.h"

#include <cctype>
#include <cstdio>
#include <string_view>

namespace quorlink {

using marquen::devices::ReadSerialDefaults;
using marquen::devices::SerialDefaults;
using marquen::devices::SerialParity;

namespace {

constexpr DWORD kBreakDownPause = 200;   // after a break-down, before the clean-up
constexpr DWORD kRebuildPause = 500;     // after a break-down, before reconnecting
constexpr int kConnectionOption = FUNDAPORT_OPTION_OVERLAPPED;

// Baud codes in code order: 0 = 115200 ... 5 = 4800.
constexpr LONG kBaudRates[] = {115200, 57600, 38400, 19200, 9600, 4800};

int BaudCodeOf(LONG rate) {
    for (int code = 0; code < 6; ++code) {
        if (kBaudRates[code] == rate)
            return code;
    }
    return -1;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(text[i])) != prefix[i])
            return false;
    }
    return true;
}

// The port number after the three letters of "COMn" / "LPTn", as "%d" reads it.
bool PortNumber(const std::string& name, int& number) {
    return std::sscanf(name.c_str() + 3, "%d", &number) == 1;
}

// The name as the system's narrow functions take it: up to the first null
// character (a BSTR may hold more).
std::string NarrowName(BSTR name) {
    std::string narrow = BstrToUtf8(name);
    narrow.resize(narrow.find('\0') == std::string::npos ? narrow.size() : narrow.find('\0'));
    return narrow;
}

}  // namespace

bool PortNameIsUsb(const std::wstring& name) {
    return StartsWithNoCase(WideToUtf8(name), "USB");
}

bool CCommunication::IsOpenedAndConnected() const { return Comm_IsOpened() == 1 && Comm_IsConnected() != 0; }

HRESULT CCommunication::get_Opened(LONG* pVal) noexcept {
    return GuardedCall([&]() -> HRESULT {
        if (!pVal)
            return E_POINTER;
        *pVal = IsOpenedAndConnected() ? 1 : 0;
        return S_OK;
    });
}

// ---- OpenPort -------------------------------------------------------------------------

bool CCommunication::TakeDefaultConfiguration(const SerialDefaults& defaults) {
    int baud = BaudCodeOf(static_cast<LONG>(defaults.baudRate));
    if (baud < 0 || defaults.parity > SerialParity::Even)
        return false;
    m_baudCode = baud;
    m_parityCode = static_cast<int>(defaults.parity);
    m_stopBitsCode = static_cast<int>(defaults.stopBits);
    if (defaults.dataBits >= 5 && defaults.dataBits <= 8)
        m_dataBitsCode = defaults.dataBits - 5;
    else if (defaults.dataBits == 4)
        m_dataBitsCode = 8;
    m_handshakeCode = defaults.xonXoff ? XON_XOFF : defaults.ctsFlow ? DTR_DSR : 0;
    return true;
}

void CCommunication::FailOpen() {
    // A receive thread of an earlier open uses AbortEvent: it ends first.
    StopReceiving();
    {
        std::lock_guard channel(m_channelLock);
        if (m_readThread) {
            CloseHandle(m_readThread);
            m_readThread = nullptr;
        }
        m_channel.reset();
    }
    if (HANDLE abort = m_abortEvent.exchange(nullptr))
        CloseHandle(abort);
}

HRESULT CCommunication::OpenPort(BSTR sPortName, LONG* pRC) noexcept {
    return GuardedCall([&]() -> HRESULT {
        if (!pRC)
            return E_POINTER;
        std::lock_guard api(m_apiLock);
        *pRC = 0;
        const std::string name = NarrowName(sPortName);
        m_portName = Utf8ToWide(name);
        if (!m_abortEvent.load())
            m_abortEvent = CreateEvent(nullptr, TRUE, FALSE, nullptr);

        if (StartsWithNoCase(name, "COM")) {
            m_link->portKind = kPortSerial;
            SerialDefaults defaults;
            int number = 0;
            // Without a default configuration the port is not there: the port
            // library is not touched at all.
            if (!ReadSerialDefaults(name, defaults) || !PortNumber(name, number) ||
                (!m_settingsFlag && !TakeDefaultConfiguration(defaults))) {
                ReportPortFailure("cannot open ", name);
                FailOpen();
                return S_OK;
            }
            m_serialIndex = number - 1;
        } else if (StartsWithNoCase(name, "USB")) {
            m_link->portKind = kPortUsb;
        } else if (StartsWithNoCase(name, "TCP:")) {
            m_link->portKind = kPortNetwork;
            if (!ParseNetworkPortName(name, m_networkHost, m_networkPort)) {
                ReportPortFailure("not a printer address: ", name);
                FailOpen();
                return S_OK;
            }
        } else if (StartsWithNoCase(name, "LPT")) {
            m_link->portKind = kPortParallel;
            int number = 0;
            if (!PortNumber(name, number)) {
                FailOpen();
                return S_OK;
            }
            m_parallelIndex = number - 1;
        }

        // The set-up succeeds even when the library refused or failed the
        // connection; the port is open only if the library says so.
        if (!ConnectionSetup() || !IsOpenedAndConnected()) {
            FailOpen();
            return S_OK;
        }
        StartReceiving();
        // A set-up that rebuilt the connection set AbortEvent; nothing is to be
        // aborted on a port that has just opened.
        ResetEvent(AbortEventHandle());
        *pRC = 1;
        return S_OK;
    });
}

// ---- ConnectionSetup ------------------------------------------------------------------

bool CCommunication::ConnectionSetup() {
    const int kind = m_link->portKind;
    HANDLE abort = AbortEventHandle();
    int lastKind;
    {
        std::lock_guard shared(Shared().lock);
        lastKind = Shared().lastSetupKind;
    }
    if (lastKind != kind && Comm_IsOpened() == 1) {
        if (Comm_IsConnected()) {
            SetEvent(abort);
            Comm_BreakDownCommPort();
            Sleep(kBreakDownPause);
        }
        Comm_CloseCleanuo();
    }

    auto recordKind = [kind] {
        std::lock_guard shared(Shared().lock);
        Shared().lastSetupKind = kind;
    };

    if (kind == kPortSerial || kind == kPortParallel) {
        const bool serial = kind == kPortSerial;
        const int index = serial ? m_serialIndex : m_parallelIndex;
        if (!Comm_IsOpened())
            Comm_OpenSetup(nullptr, serial ? FUNDAPORT_KIND_SERIAL : FUNDAPORT_KIND_PARALLEL, 1);
        int baud = 0, parity = 0, handshake = 0, dataBits = 0, stopBits = 0;
        if (serial) {
            baud = m_baudCode;
            parity = m_parityCode;
            handshake = m_handshakeCode;
            dataBits = m_dataBitsCode;
            stopBits = m_stopBitsCode;
        }
        unsigned verdict = Comm_IsConnectionValid(index, kConnectionOption, baud, parity, handshake, dataBits, stopBits);
        if (verdict == FUNDAPORT_CONNECTION_REBUILD) {
            if (Comm_IsConnected()) {
                SetEvent(abort);
                Comm_BreakDownCommPort();
            }
            Sleep(kRebuildPause);
        }
        if (verdict == FUNDAPORT_CONNECTION_REBUILD || verdict == FUNDAPORT_CONNECTION_SET)
            Comm_UpdateConnection(0, index, baud, parity, handshake, dataBits, stopBits);
    } else if (kind == kPortNetwork) {
        // No line settings apply: a property put finds the connection
        // unchanged and leaves it alone.
        if (!Comm_IsOpened())
            Comm_OpenSetup(nullptr, FUNDAPORT_KIND_NETWORK, 1);
        Comm_SetNetworkAddress(m_networkHost.c_str(), m_networkPort);
        unsigned verdict = Comm_IsConnectionValid(0, kConnectionOption, 0, 0, 0, 0, 0);
        if (verdict == FUNDAPORT_CONNECTION_REBUILD && Comm_IsConnected()) {
            SetEvent(abort);
            Comm_BreakDownCommPort();
        }
        int unused = 0;
        if (verdict == FUNDAPORT_CONNECTION_REBUILD || verdict == FUNDAPORT_CONNECTION_SET)
            Comm_UpdateConnection(0, 0, unused, unused, unused, unused, unused);
    } else if (kind == kPortUsb) {
        m_usbDevice = 0;
        const bool wasOpened = Comm_IsOpened() != 0;
        if (!wasOpened)
            Comm_OpenSetup(nullptr, FUNDAPORT_KIND_USB, 1);
        if (Comm_IsConnectionValid(kConnectionOption, 0, m_realTimeFlag, 0, 0, 0, 0) == 1) {
            int scratch1 = 0, scratch2 = 0;
            if (Comm_UpdateConnection(wasOpened ? 1 : 0, m_usbDevice, m_realTimeFlag, m_usbInterruptIn,
                                      m_usbInterruptOut, scratch1, scratch2) == 0) {
                recordKind();
                return false;
            }
        }
    } else {
        return false;
    }
    recordKind();
    Comm_SetConnect(Comm_IsPortAvailable());
    return true;
}

// ---- ClosePort --------------------------------------------------------------------------

HRESULT CCommunication::ClosePort() noexcept {
    return GuardedCall([&]() -> HRESULT {
        // A transfer in progress reads the port: it ends before the port goes.
        EndTransfer();
        std::lock_guard api(m_apiLock);
        StopReceiving();
        if (Comm_IsOpened() == 1) {
            if (Comm_IsConnected()) {
                Comm_BreakDownCommPort();
                Sleep(kBreakDownPause);
            }
            Comm_CloseCleanuo();
            // The device is closed: no write of ours is pending any more.
            std::lock_guard shared(Shared().lock);
            Shared().pendingWrite.reset();
        }
        if (HANDLE abort = m_abortEvent.exchange(nullptr))
            CloseHandle(abort);
        {
            std::lock_guard channel(m_channelLock);
            if (m_readThread) {
                CloseHandle(m_readThread);
                m_readThread = nullptr;
            }
            m_channel.reset();
        }
        m_settingsFlag = false;
        return S_OK;
    });
}

// ---- line properties -----------------------------------------------------------------------

HRESULT CCommunication::get_Baudrate(tBaudRate* pVal) noexcept {
    return GuardedCall([&]() -> HRESULT {
        if (!pVal)
            return E_POINTER;
        int code = m_baudCode;
        if (code >= 0 && code < 6)
            *pVal = static_cast<tBaudRate>(kBaudRates[code]);
        return S_OK;
    });
}

HRESULT CCommunication::get_Parity(tParity* pVal) noexcept {
    return GuardedCall([&]() -> HRESULT {
        if (!pVal)
            return E_POINTER;
        int code = m_parityCode;
        if (code >= PAR_NONE && code <= PAR_EVEN)
            *pVal = static_cast<tParity>(code);
        return S_OK;
    });
}

HRESULT CCommunication::get_Stopbits(tStopBits* pVal) noexcept {
    return GuardedCall([&]() -> HRESULT {
        if (!pVal)
            return E_POINTER;
        int code = m_stopBitsCode;
        if (code >= SBITS_10 && code <= SBITS_20)
            *pVal = static_cast<tStopBits>(code);
        return S_OK;
    });
}

HRESULT CCommunication::get_Databits(tDataBits* pVal) noexcept {
    return GuardedCall([&]() -> HRESULT {
        if (!pVal)
            return E_POINTER;
        int code = m_dataBitsCode;
        if (code >= 0 && code <= 3)
            *pVal = static_cast<tDataBits>(code + 5);
        return S_OK;
    });
}

HRESULT CCommunication::get_Handshaking(tHandshaking* pVal) noexcept {
    return GuardedCall([&]() -> HRESULT {
        if (!pVal)
            return E_POINTER;
        int code = m_handshakeCode;
        if (code >= 0 && code <= XON_XOFF)
            *pVal = static_cast<tHandshaking>(code);
        return S_OK;
    });
}

HRESULT CCommunication::put_Baudrate(tBaudRate newVal) noexcept {
    return GuardedCall([&] { return PutLineProperty(LineProperty::Baudrate, newVal); });
}
HRESULT CCommunication::put_Parity(tParity newVal) noexcept {
    return GuardedCall([&] { return PutLineProperty(LineProperty::Parity, newVal); });
}
HRESULT CCommunication::put_Stopbits(tStopBits newVal) noexcept {
    return GuardedCall([&] { return PutLineProperty(LineProperty::Stopbits, newVal); });
}
HRESULT CCommunication::put_Databits(tDataBits newVal) noexcept {
    return GuardedCall([&] { return PutLineProperty(LineProperty::Databits, newVal); });
}
HRESULT CCommunication::put_Handshaking(tHandshaking newVal) noexcept {
    return GuardedCall([&]() -> HRESULT {
        return PutLineProperty(LineProperty::Handshaking, newVal);
    });
}

HRESULT CCommunication::PutLineProperty(LineProperty property, LONG value) {
    std::lock_guard api(m_apiLock);
    m_settingsFlag = true;

    std::atomic<int>* code = nullptr;
    int current = 0;   // this object's value of the property, in the put's terms
    int stored = 0;    // the code the put leaves
    switch (property) {
    case LineProperty::Baudrate: {
        code = &m_baudCode;
        int now = *code;
        current = now >= 0 && now < 6 ? kBaudRates[now] : -1;
        int wanted = BaudCodeOf(value);
        stored = wanted >= 0 ? wanted : now;  // an unlisted rate changes nothing
        break;
    }
    case LineProperty::Parity:
        code = &m_parityCode;
        current = *code;
        stored = value >= PAR_NONE && value <= PAR_EVEN ? value : current;
        break;
    case LineProperty::Stopbits:
        code = &m_stopBitsCode;
        current = *code;
        stored = value;
        break;
    case LineProperty::Databits:
        code = &m_dataBitsCode;
        current = *code + 5;
        stored = value - 5;
        break;
    case LineProperty::Handshaking:
        code = &m_handshakeCode;
        current = *code;
        stored = value;
        break;
    default:
        return E_INVALIDARG;
    }

    {
        // The same value as last put in the process needs no new set-up --
        // provided this object already has it: the last put may have been
        // another object's, or a default configuration may have replaced
        // this object's code since.
        std::lock_guard shared(Shared().lock);
        std::optional<LONG>& last = Shared().lastPut[static_cast<int>(property)];
        if (!last)
            last = current;
        if (*last == value && stored == *code)
            return S_OK;
    }
    *code = stored;
    // A network printer has no line to set: a put must not reconnect it
    // (each attempt may wait the whole connect time-out).
    if (Comm_IsOpened() && m_link->portKind.load() != kPortNetwork)
        ConnectionSetup();
    std::lock_guard shared(Shared().lock);
    Shared().lastPut[static_cast<int>(property)] = value;
    return S_OK;
}

// ---- RealTime ---------------------------------------------------------------------------------

HRESULT CCommunication::get_RealTime(LONG* pVal) noexcept {
    return GuardedCall([&]() -> HRESULT {
        if (!pVal)
            return E_POINTER;
        *pVal = m_realTimeValue;
        return S_OK;
    });
}

HRESULT CCommunication::put_RealTime(LONG newVal) noexcept {
    return GuardedCall([&]() -> HRESULT {
        std::lock_guard api(m_apiLock);
        m_realTimeValue = newVal;
        {
            std::lock_guard shared(Shared().lock);
            if (newVal != 0) {
                m_realTimeFlag = 1;
                Shared().savedHandshake = m_handshakeCode;
                m_handshakeCode = 0;
            } else {
                m_realTimeFlag = 0;
                m_handshakeCode = Shared().savedHandshake;
            }
        }
        ConnectionSetup();
        ResetEvent(AbortEventHandle());
        return S_OK;
    });
}

}  // namespace quorlink
