#pragma once
// The contract of the communication server libquorlink.so: the identifiers
// of its type library, class and interfaces, the line-setting enumerations,
// the ICommunication table (slot order and argument types), the DISPIDs of
// its members and events, and the window messages its hidden window answers.
// The program and the server both compile against this header, and the
// program never links the server: it creates a Communication object by its
// class id through the component library. Change it only deliberately.
//
// Like the component library's headers, this one defines no inline variables
// and no static data members (in a server module those become unique symbols
// and the module could never be unloaded): everything is constexpr with
// internal linkage.
//
// Using the object (any thread that initialised the component library; the
// events arrive on the thread that created the object, while it pumps its
// message queue):
//
//   ComPtr<ICommunication> comm;
//   CoCreateInstance(CLSID_Communication, nullptr, CLSCTX_INPROC_SERVER, ICommunication::iid(), comm.PutVoid());
//   ComPtr<IConnectionPointContainer> container;   comm.As(container);
//   ComPtr<IConnectionPoint> point;
//   container->FindConnectionPoint(DIID__ICommunicationEvents, point.Put());
//   DWORD cookie;  point->Advise(mySink, &cookie);   // mySink: an IDispatch
//   comm->put_Baudrate(BR_115200);  LONG rc;  comm->OpenPort(Bstr(L"COM1").Get(), &rc);
//   ... pump: poll MessageQueueWakeFd(), then PumpPendingMessages() ...
//   comm->ClosePort();  point->Unadvise(cookie);
#include "com/com.h"

// ---- identifiers ------------------------------------------------------------

/// The type library QUORLINKLib, version 1.0.
constexpr GUID LIBID_QUORLINKLib = {0x626CDEEF, 0x7248, 0x4049, {0xB4, 0x55, 0x19, 0xC3, 0x3C, 0x8B, 0x9A, 0x81}};
/// The creatable class Communication.
constexpr CLSID CLSID_Communication = {0xD982E207, 0xAC14, 0x4E7B, {0xB9, 0x80, 0x3A, 0xDD, 0xFC, 0xC8, 0xE5, 0xF9}};
/// The dual interface ICommunication.
constexpr IID IID_ICommunication = {0xB905F25E, 0xF515, 0x46EA, {0xBA, 0xD4, 0xD8, 0x38, 0xCE, 0x8C, 0x0E, 0xB3}};
/// The event dispinterface _ICommunicationEvents, the object's one source.
constexpr IID DIID__ICommunicationEvents = {0x5FA303B4, 0xE8C8, 0x4F6D, {0x86, 0xDF, 0xF8, 0x60, 0xAC, 0xB6, 0x92, 0xB9}};

/// ProgIDs under the classes root.
constexpr const char* kQuorlinkProgId = "Quorlink.Communication.1";
constexpr const char* kQuorlinkVersionIndependentProgId = "Quorlink.Communication";

// ---- enumerations -------------------------------------------------------------
// 32-bit values, passed as VT_I4 through dispatch.

enum tBaudRate : LONG {
    BR_4800 = 4800,
    BR_9600 = 9600,
    BR_19200 = 19200,
    BR_38400 = 38400,
    BR_57600 = 57600,
    BR_115200 = 115200,
};

enum tParity : LONG {
    PAR_NONE = 0,
    PAR_ODD = 1,
    PAR_EVEN = 2,
};

enum tStopBits : LONG {
    SBITS_10 = 0,  ///< one stop bit
    SBITS_15 = 1,  ///< one and a half
    SBITS_20 = 2,  ///< two
};

enum tDataBits : LONG {
    DBITS_5 = 5,
    DBITS_6 = 6,
    DBITS_7 = 7,
    DBITS_8 = 8,
};

// X11's headers define None as a macro (0L). The member keeps its name, so
// the macro is set aside around the enumeration and restored after it: this
// header may be included before or after the X headers. After the X headers,
// `None` in code means the macro, which has the same value, 0.
#pragma push_macro("None")
#undef None
enum tHandshaking : LONG {
    DTR_DSR = 1,   ///< "DTR/DSR"
    DSR = 2,       ///< "DSR"
    CTS = 3,       ///< "CTS"
    XON_XOFF = 4,  ///< "XON/XOFF"
    None = 0,      ///< "None"
};
#pragma pop_macro("None")

// ---- DISPIDs ------------------------------------------------------------------
// A property's get and put share one DISPID.

constexpr DISPID DISPID_OpenPort = 1;
constexpr DISPID DISPID_Baudrate = 2;
constexpr DISPID DISPID_Parity = 3;
constexpr DISPID DISPID_Stopbits = 4;
constexpr DISPID DISPID_Databits = 5;
constexpr DISPID DISPID_Handshaking = 6;
constexpr DISPID DISPID_ClosePort = 7;
constexpr DISPID DISPID_WritePort = 8;
constexpr DISPID DISPID_RealTime = 9;
constexpr DISPID DISPID_Opened = 10;
constexpr DISPID DISPID_GetComPorts = 11;
constexpr DISPID DISPID_GetLptPorts = 12;
constexpr DISPID DISPID_SearchUSBVantrexPrinter = 13;
constexpr DISPID DISPID_WriteAndRead = 14;
constexpr DISPID DISPID_AbortTransfert = 15;
constexpr DISPID DISPID_SetTimeout = 16;
constexpr DISPID DISPID_GetTimeout = 17;
constexpr DISPID DISPID_PeriodOfOnComm = 18;
constexpr DISPID DISPID_UpdateUSBDriver = 19;

/// Events of _ICommunicationEvents, raised through the sink's
/// IDispatch::Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, ...)
/// with the arguments in reverse order and no named arguments.
/// OnComm(SAFEARRAY(unsigned char)* pBuffer, long lLength): rgvarg[0] VT_I4
/// lLength, rgvarg[1] VT_BYREF|VT_ARRAY|VT_UI1 pointing at the variable that
/// holds a one-dimensional byte array of exactly lLength elements from index
/// 0. The array is the server's and is destroyed when Invoke returns.
constexpr DISPID DISPID_OnComm = 1;
/// OnUpdateProgress(long lPercent): rgvarg[0] VT_I4, 0 to 100.
constexpr DISPID DISPID_OnUpdateProgress = 2;
/// OnError(): no arguments. A packet of a background write failed.
constexpr DISPID DISPID_OnError = 3;

// ---- results ------------------------------------------------------------------

/// WritePort's pRC: success (or, with a packet size, the transfer started).
constexpr LONG WRITEPORT_RC_SUCCESS = -1;
/// Port not open or not connected.
constexpr LONG WRITEPORT_RC_NOT_CONNECTED = 8;
/// Port never opened, write failed, or a length the array does not hold.
constexpr LONG WRITEPORT_RC_FAILED = 10;
/// Write incomplete or timed out.
constexpr LONG WRITEPORT_RC_INCOMPLETE = 12;
/// Aborted.
constexpr LONG WRITEPORT_RC_ABORTED = 14;

/// Automation error of GetComPorts / GetLptPorts when the name array cannot
/// be made (code 1004, "Out of Memory").
constexpr HRESULT QUORLINK_E_OUTOFMEMORY = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 1004);

// ---- window messages of the object's hidden window ------------------------------

/// Posted by the packet writer: wParam percent 0..100, lParam error flag 0/1.
constexpr UINT WM_PACKET_PROGRESS = 0x8006;
/// May be posted by an outside sender: wParam byte count N, lParam a buffer
/// of N bytes from malloc, which the window frees. Raised as one OnComm.
constexpr UINT WM_RECEIVED_BLOCK = 0x0465;
/// Title of the hidden window, for FindWindow.
constexpr const char* kQuorlinkWindowTitle = "CVantrexAPIWnd";

// ---- the interface --------------------------------------------------------------

/// ICommunication: dual, derived from IDispatch; slots 7 to 32 in this order.
/// Every member returns S_OK and reports its outcome in out-values, except
/// WritePort (S_FALSE for an array that is not one-dimensional or cannot be
/// locked) and the port lists (QUORLINK_E_OUTOFMEMORY).
struct ICommunication : IDispatch {
    static constexpr IID iid() { return IID_ICommunication; }

    /// Opens "COMn", "LPTn" or "USB" and sets the connection up; *pRC 1 when
    /// the port is open and connected, else 0. Waits up to about 1 s for the
    /// port library's pauses.
    virtual HRESULT OpenPort(BSTR sPortName, LONG* pRC) = 0;                     // 7
    virtual HRESULT get_Baudrate(tBaudRate* pVal) = 0;                           // 8
    virtual HRESULT put_Baudrate(tBaudRate newVal) = 0;                          // 9
    virtual HRESULT get_Parity(tParity* pVal) = 0;                               // 10
    virtual HRESULT put_Parity(tParity newVal) = 0;                              // 11
    virtual HRESULT get_Stopbits(tStopBits* pVal) = 0;                           // 12
    virtual HRESULT put_Stopbits(tStopBits newVal) = 0;                          // 13
    virtual HRESULT get_Databits(tDataBits* pVal) = 0;                           // 14
    virtual HRESULT put_Databits(tDataBits newVal) = 0;                          // 15
    virtual HRESULT get_Handshaking(tHandshaking* pVal) = 0;                     // 16
    virtual HRESULT put_Handshaking(tHandshaking newVal) = 0;                    // 17
    /// Ends a background transfer and the receive thread, closes the port.
    virtual HRESULT ClosePort() = 0;                                             // 18
    /// Writes the first lLength bytes of the one-dimensional byte array
    /// *pBuffer: at once (lPacketSize 0; waits at most 1 s; *plWritten gets
    /// the count), or with lPacketSize > 0 in packets on a background thread
    /// that raises OnUpdateProgress / OnError. The bytes are copied when the
    /// call starts. *pRC: WRITEPORT_RC_*.
    virtual HRESULT WritePort(SAFEARRAY** pBuffer, LONG lLength, LONG* plWritten, LONG lPacketSize,
                              LONG* pRC) = 0;                                    // 19
    virtual HRESULT get_RealTime(LONG* pVal) = 0;                                // 20
    virtual HRESULT put_RealTime(LONG newVal) = 0;                               // 21
    /// 1 when the port library reports the port opened and connected.
    virtual HRESULT get_Opened(LONG* pVal) = 0;                                  // 22
    /// Puts a new VT_ARRAY|VT_BSTR of the serial port names into the variant
    /// (left untouched when there is none); *plNbPorts the count.
    virtual HRESULT GetComPorts(VARIANT* plistComPorts, LONG* plNbPorts) = 0;    // 23
    virtual HRESULT GetLptPorts(VARIANT* plistLptPorts, LONG* plNbPorts) = 0;    // 24
    /// *bConnected 1 when a printer of the maker is on USB; *sDriver "" or the
    /// description of the other driver it is bound to.
    virtual HRESULT SearchUSBVantrexPrinter(BSTR* sDriver, LONG* bConnected) = 0;  // 25
    /// Writes lWritten bytes of the byte array in *pBuffer at once, waits at
    /// most the read time-out for a reply and moves up to *plRead received
    /// bytes into the same array from index 0. *pbResult 1 when at least one
    /// byte came back; *plRead the count.
    virtual HRESULT WriteAndRead(VARIANT* pBuffer, LONG lWritten, LONG* plRead, LONG* pbResult) = 0;  // 26
    /// Ends a background transfer (waits at most read + write time-out); no
    /// further progress event of it is raised.
    virtual HRESULT AbortTransfert() = 0;                                        // 27
    virtual HRESULT SetTimeout(LONG lReadTimeout, LONG lWriteTimeout) = 0;       // 28
    virtual HRESULT GetTimeout(LONG* plReadTimeout, LONG* plWriteTimeout) = 0;   // 29
    virtual HRESULT get_PeriodOfOnComm(LONG* pVal) = 0;                          // 30
    virtual HRESULT put_PeriodOfOnComm(LONG newVal) = 0;                         // 31
    /// Binds the USB printer to a driver, by information-file path or by
    /// driver description.
    virtual HRESULT UpdateUSBDriver(BSTR bstrDriverLocation, LONG* plResult) = 0;  // 32
};
