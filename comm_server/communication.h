#pragma once
// CCommunication: the Communication object. Its members run on the calling
// thread (any thread: the object aggregates the free-threaded marshaler);
// its events are raised on the thread that created it, from its hidden
// window, while that thread pumps messages.
//
// Locks of the whole server, in the one order they may be taken (a lock
// further down is never held while one further up is taken):
//   PortLock (m_portLock)   synchronous writes, and the reopening and closing
//                           of a USB port on device arrival and removal;
//   m_apiLock               opening, closing and setting up the connection;
//   m_writerLock            the packet writer in progress;
//   m_channelLock           the receive machinery's channel and read thread;
//   Shared().lock           what every object of the process shares;
//   leaf locks              the progress ledger, a channel's QueueLock, the
//                           connection point's sinks, the port lists, the
//                           notification registration, and below them all
//                           the message-window layer's own locks.
// No lock of the object is held while an event is raised. The compiler
// checks the GUARDED_BY, REQUIRES and EXCLUDES marks (clang -Wthread-safety).
#include "background.h"
#include "connection_point.h"
#include "com/entry_guard.h"
#include "devices/serial_config.h"
#include "kernel/timed_mutex.h"
#include "thread_annotations.h"
#include "icommunication.h"
#include "module_state.h"
#include "quorlink_typelib.h"
#include "window/device_notify.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace quorlink {

using marquen::com::GuardedCall;

/// ICommunication's description with external linkage, as a template
/// argument needs it (defined in communication.cpp from the type library).
extern const InterfaceDescription kCommunicationDispatch;

/// Whether a port name is a USB one ("USB" first, in any case).
bool PortNameIsUsb(const std::wstring& name);

/// A network printer's address from a port name "TCP:HOST:PORT" or
/// "TCP:HOST" (port 9100); "TCP" in any case, an IPv6 address in brackets.
/// False when the name is not of that shape (no host, a port that is not a
/// number from 1 to 65535).
bool ParseNetworkPortName(const std::string& name, std::string& host, int& port);

/// A timer period as the window layer takes it, for any PeriodOfOnComm.
inline UINT TimerPeriod(LONG period) {
    using marquen::window::USER_TIMER_MINIMUM;
    return period < static_cast<LONG>(USER_TIMER_MINIMUM) ? USER_TIMER_MINIMUM : static_cast<UINT>(period);
}

class CCommunication final : public DispatchImpl<ICommunication, kCommunicationDispatch>,
                             public IConnectionPointContainer {
public:
    /// New object aggregated by `outer` (null: stands alone), queried for
    /// `riid`. With an outer object only IID_IUnknown may be asked for.
    /// Creates the hidden window on the calling thread.
    static HRESULT Create(IUnknown* outer, REFIID riid, void** ppv) noexcept;

    /// The marshaler the object aggregates (IMarshal), for its
    /// non-delegating unknown.
    HRESULT QueryAggregated(REFIID riid, void** ppv);

    // IUnknown: the controlling unknown's.
    HRESULT QueryInterface(REFIID riid, void** ppv) noexcept override { return m_outer->QueryInterface(riid, ppv); }
    ULONG AddRef() noexcept override { return m_outer->AddRef(); }
    ULONG Release() noexcept override { return m_outer->Release(); }

    // ICommunication.
    HRESULT OpenPort(BSTR sPortName, LONG* pRC) noexcept override;
    HRESULT get_Baudrate(tBaudRate* pVal) noexcept override;
    HRESULT put_Baudrate(tBaudRate newVal) noexcept override;
    HRESULT get_Parity(tParity* pVal) noexcept override;
    HRESULT put_Parity(tParity newVal) noexcept override;
    HRESULT get_Stopbits(tStopBits* pVal) noexcept override;
    HRESULT put_Stopbits(tStopBits newVal) noexcept override;
    HRESULT get_Databits(tDataBits* pVal) noexcept override;
    HRESULT put_Databits(tDataBits newVal) noexcept override;
    HRESULT get_Handshaking(tHandshaking* pVal) noexcept override;
    HRESULT put_Handshaking(tHandshaking newVal) noexcept override;
    HRESULT ClosePort() noexcept override;
    HRESULT WritePort(SAFEARRAY** pBuffer, LONG lLength, LONG* plWritten, LONG lPacketSize,
                      LONG* pRC) noexcept override;
    HRESULT get_RealTime(LONG* pVal) noexcept override;
    HRESULT put_RealTime(LONG newVal) noexcept override;
    HRESULT get_Opened(LONG* pVal) noexcept override;
    HRESULT GetComPorts(VARIANT* plistComPorts, LONG* plNbPorts) noexcept override;
    HRESULT GetLptPorts(VARIANT* plistLptPorts, LONG* plNbPorts) noexcept override;
    HRESULT SearchUSBVantrexPrinter(BSTR* sDriver, LONG* bConnected) noexcept override;
    HRESULT WriteAndRead(VARIANT* pBuffer, LONG lWritten, LONG* plRead, LONG* pbResult) noexcept override;
    HRESULT AbortTransfert() noexcept override;
    HRESULT SetTimeout(LONG lReadTimeout, LONG lWriteTimeout) noexcept override;
    HRESULT GetTimeout(LONG* plReadTimeout, LONG* plWriteTimeout) noexcept override;
    HRESULT get_PeriodOfOnComm(LONG* pVal) noexcept override;
    HRESULT put_PeriodOfOnComm(LONG newVal) noexcept override;
    HRESULT UpdateUSBDriver(BSTR bstrDriverLocation, LONG* plResult) noexcept override;

    // IConnectionPointContainer.
    HRESULT EnumConnectionPoints(IEnumConnectionPoints** ppEnum) noexcept override;
    HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) noexcept override;


private:
    explicit CCommunication(IUnknown* outer);
    ~CCommunication();
    CCommunication(const CCommunication&) = delete;
    CCommunication& operator=(const CCommunication&) = delete;

    HRESULT Initialise();

    /// The non-delegating unknown; its count is the object's life.
    using InnerUnknown =
        marquen::com::NonDelegatingUnknown<CCommunication, ICommunication, IDispatch, IConnectionPointContainer>;
    friend InnerUnknown;
    friend class marquen::com::OwnReferenceCount;  // deletes the object at the last Release

    // Connection (connection.cpp).
    bool ConnectionSetup() REQUIRES(m_apiLock);
    bool TakeDefaultConfiguration(const marquen::devices::SerialDefaults& defaults) REQUIRES(m_apiLock);
    void FailOpen() REQUIRES(m_apiLock);
    bool IsOpenedAndConnected() const;
    HRESULT PutLineProperty(LineProperty property, LONG value);
    HANDLE AbortEventHandle() const { return m_abortEvent.load(); }
    /// A network printer that closed its connection is connected anew before
    /// the next command goes out (network_link.cpp). No-op for other kinds.
    void ReconnectDroppedNetworkPort() EXCLUDES(m_apiLock);

    // Writing (writing.cpp).
    LONG WriteSynchronously(SAFEARRAY* array, LONG length, LONG* plWritten, HRESULT& hr);
    HRESULT StartTransfer(SAFEARRAY* array, LONG length, LONG packetSize, LONG* pRC);
    void GatherReply(ReceiveChannel& channel, LONG expected);
    /// Ends the packet writer (stopped by the caller: no further progress
    /// event of it is raised). False when it did not end within read +
    /// write time-out. m_writerLock held.
    bool EndTransferLocked() REQUIRES(m_writerLock);
    void EndTransfer() EXCLUDES(m_writerLock);

    // Receiving and events (receiving.cpp).
    bool StartReceiving() REQUIRES(m_apiLock) EXCLUDES(m_channelLock);
    void StopReceiving() REQUIRES(m_apiLock) EXCLUDES(m_channelLock);
    std::shared_ptr<ReceiveChannel> CurrentChannel() EXCLUDES(m_channelLock);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);  // window thread
    void OnTimerTick();
    void OnPacketProgress(WPARAM percent, LPARAM errorFlag);
    void OnReceivedBlock(WPARAM count, LPARAM buffer);
    void RaiseOnComm(SAFEARRAY* array, LONG length);

    // Port lists (port_lists.cpp).
    void RefreshPortLists() REQUIRES(m_portListLock);
    HRESULT FillPortList(bool serial, VARIANT* list, LONG* count);

    // Window and device notifications (notification_window.cpp).
    HRESULT CreateHiddenWindow();
    void DestroyHiddenWindow();
    void OnDeviceChange(WPARAM event, LPARAM record) EXCLUDES(m_portLock, m_apiLock);

    InnerUnknown m_inner{*this};
    IUnknown* const m_outer;
    IUnknown* m_marshaler = nullptr;
    EventConnectionPoint m_eventPoint;

    HWND m_window = nullptr;
    marquen::kernel::TimedRecursiveMutex m_portLock;

    marquen::Mutex m_apiLock;
    std::wstring m_portName GUARDED_BY(m_apiLock);
    int m_serialIndex GUARDED_BY(m_apiLock) = 0;
    int m_parallelIndex GUARDED_BY(m_apiLock) = 0;
    std::string m_networkHost GUARDED_BY(m_apiLock);
    int m_networkPort GUARDED_BY(m_apiLock) = 9100;
    int m_realTimeFlag GUARDED_BY(m_apiLock) = 0;
    int m_usbDevice GUARDED_BY(m_apiLock) = 0;
    /// The two values Comm_UpdateConnection may update.
    int m_usbInterruptIn GUARDED_BY(m_apiLock) = 0;
    int m_usbInterruptOut GUARDED_BY(m_apiLock) = 1;
    /// Read without the lock by the gets and the background code.
    std::atomic<HANDLE> m_abortEvent{nullptr};
    std::atomic<int> m_baudCode{4};       // 9600
    std::atomic<int> m_parityCode{0};
    std::atomic<int> m_stopBitsCode{0};
    std::atomic<int> m_dataBitsCode{3};   // 8 bits
    std::atomic<int> m_handshakeCode{0};
    std::atomic<bool> m_settingsFlag{false};
    std::atomic<LONG> m_realTimeValue{0};
    std::atomic<LONG> m_periodOfOnComm{200};
    const std::shared_ptr<LinkState> m_link;

    marquen::Mutex m_writerLock;
    HANDLE m_writerThread GUARDED_BY(m_writerLock) = nullptr;
    std::shared_ptr<PacketTransfer> m_transfer GUARDED_BY(m_writerLock);
    const std::shared_ptr<ProgressLedger> m_ledger;

    marquen::Mutex m_channelLock;
    std::shared_ptr<ReceiveChannel> m_channel GUARDED_BY(m_channelLock);
    HANDLE m_readThread GUARDED_BY(m_channelLock) = nullptr;

    marquen::Mutex m_portListLock;
    std::vector<std::wstring> m_comPorts GUARDED_BY(m_portListLock);
    std::vector<std::wstring> m_lptPorts GUARDED_BY(m_portListLock);
};

}  // namespace quorlink
