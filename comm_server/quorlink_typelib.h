#pragma once
// The type library QUORLINKLib as static descriptions: the server serves
// IDispatch of ICommunication from them and registers the library from them;
// a client may use the event interface's description to answer
// GetIDsOfNames on its own sink. Constant data with internal linkage only
// (see icommunication.h).
#include "icommunication.h"

namespace quorlink_typelib {

// ---- ICommunication ------------------------------------------------------------

constexpr WORD kIn = PARAMFLAG_FIN;
constexpr WORD kOut = PARAMFLAG_FOUT;
constexpr WORD kRetval = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;
constexpr VARTYPE kLongRef = VT_I4 | VT_BYREF;

constexpr ParamDescription kOpenPortParams[] = {{"sPortName", VT_BSTR, kIn}, {"pRC", kLongRef, kRetval}};
constexpr ParamDescription kGetValueParams[] = {{"pVal", kLongRef, kRetval}};
constexpr ParamDescription kPutValueParams[] = {{nullptr, VT_I4, kIn}};
constexpr ParamDescription kWritePortParams[] = {
    {"pBuffer", VT_ARRAY | VT_UI1 | VT_BYREF, kIn},
    {"lLength", VT_I4, kIn},
    {"plWritten", kLongRef, kIn | kOut},
    {"lPacketSize", VT_I4, kIn | PARAMFLAG_FOPT},
    {"pRC", kLongRef, kRetval},
};
constexpr ParamDescription kGetComPortsParams[] = {{"plistComPorts", VT_VARIANT | VT_BYREF, kIn | kOut},
                                                    {"plNbPorts", kLongRef, kRetval}};
constexpr ParamDescription kGetLptPortsParams[] = {{"plistLptPorts", VT_VARIANT | VT_BYREF, kIn | kOut},
                                                    {"plNbPorts", kLongRef, kRetval}};
constexpr ParamDescription kSearchParams[] = {{"sDriver", VT_BSTR | VT_BYREF, kIn | kOut},
                                               {"bConnected", kLongRef, kRetval}};
constexpr ParamDescription kWriteAndReadParams[] = {
    {"pBuffer", VT_VARIANT | VT_BYREF, kIn | kOut},
    {"lWritten", VT_I4, kIn},
    {"plRead", kLongRef, kIn | kOut},
    {"pbResult", kLongRef, kRetval},
};
constexpr ParamDescription kSetTimeoutParams[] = {{"lReadTimeout", VT_I4, kIn}, {"lWriteTimeout", VT_I4, kIn}};
constexpr ParamDescription kGetTimeoutParams[] = {{"plReadTimeout", kLongRef, kOut},
                                                   {"plWriteTimeout", kLongRef, kOut}};
constexpr ParamDescription kUpdateUsbDriverParams[] = {{"bstrDriverLocation", VT_BSTR, kIn},
                                                        {"plResult", kLongRef, kRetval}};

constexpr MemberKind kMethod = MemberKind::Method;
constexpr MemberKind kGet = MemberKind::PropertyGet;
constexpr MemberKind kPut = MemberKind::PropertyPut;

constexpr MemberDescription kCommunicationMembers[] = {
    {"OpenPort", DISPID_OpenPort, kMethod, 7, kOpenPortParams, "method OpenPort"},
    {"Baudrate", DISPID_Baudrate, kGet, 8, kGetValueParams, "property Baudrate"},
    {"Baudrate", DISPID_Baudrate, kPut, 9, kPutValueParams, "property Baudrate"},
    {"Parity", DISPID_Parity, kGet, 10, kGetValueParams, "property Parity"},
    {"Parity", DISPID_Parity, kPut, 11, kPutValueParams, "property Parity"},
    {"Stopbits", DISPID_Stopbits, kGet, 12, kGetValueParams, "property Stopbits"},
    {"Stopbits", DISPID_Stopbits, kPut, 13, kPutValueParams, "property Stopbits"},
    {"Databits", DISPID_Databits, kGet, 14, kGetValueParams, "property Databits"},
    {"Databits", DISPID_Databits, kPut, 15, kPutValueParams, "property Databits"},
    {"Handshaking", DISPID_Handshaking, kGet, 16, kGetValueParams, "property Handshaking"},
    {"Handshaking", DISPID_Handshaking, kPut, 17, kPutValueParams, "property Handshaking"},
    {"ClosePort", DISPID_ClosePort, kMethod, 18, {}, "method ClosePort"},
    {"WritePort", DISPID_WritePort, kMethod, 19, kWritePortParams, "method WritePort"},
    {"RealTime", DISPID_RealTime, kGet, 20, kGetValueParams, "property RealTime"},
    {"RealTime", DISPID_RealTime, kPut, 21, kPutValueParams, "property RealTime"},
    {"Opened", DISPID_Opened, kGet, 22, kGetValueParams, "property Opened"},
    {"GetComPorts", DISPID_GetComPorts, kMethod, 23, kGetComPortsParams, "method GetComPorts"},
    {"GetLptPorts", DISPID_GetLptPorts, kMethod, 24, kGetLptPortsParams, "method GetLptPorts"},
    {"SearchUSBVantrexPrinter", DISPID_SearchUSBVantrexPrinter, kMethod, 25, kSearchParams,
     "method SearchUSBVantrexPrinter"},
    {"WriteAndRead", DISPID_WriteAndRead, kMethod, 26, kWriteAndReadParams, "method WriteAndRead"},
    {"AbortTransfert", DISPID_AbortTransfert, kMethod, 27, {}, "method AbortTransfert"},
    {"SetTimeout", DISPID_SetTimeout, kMethod, 28, kSetTimeoutParams, "method SetTimeout"},
    {"GetTimeout", DISPID_GetTimeout, kMethod, 29, kGetTimeoutParams, "method GetTimeout"},
    {"PeriodOfOnComm", DISPID_PeriodOfOnComm, kGet, 30, kGetValueParams, "property PeriodOfOnComm"},
    {"PeriodOfOnComm", DISPID_PeriodOfOnComm, kPut, 31, kPutValueParams, "property PeriodOfOnComm"},
    {"UpdateUSBDriver", DISPID_UpdateUSBDriver, kMethod, 32, kUpdateUsbDriverParams, "method UpdateUSBDriver"},
};

constexpr InterfaceDescription kICommunication = {"ICommunication", IID_ICommunication, InterfaceKind::Dual,
                                                  "ICommunication Interface", kCommunicationMembers};

// ---- _ICommunicationEvents --------------------------------------------------------

constexpr ParamDescription kOnCommParams[] = {{"pBuffer", VT_ARRAY | VT_UI1 | VT_BYREF, kIn},
                                               {"lLength", VT_I4, kIn}};
constexpr ParamDescription kOnUpdateProgressParams[] = {{"lPercent", VT_I4, kIn}};

constexpr MemberDescription kEventMembers[] = {
    {"OnComm", DISPID_OnComm, kMethod, 0, kOnCommParams, "method OnComm"},
    {"OnUpdateProgress", DISPID_OnUpdateProgress, kMethod, 0, kOnUpdateProgressParams, "method OnUpdateProgress"},
    {"OnError", DISPID_OnError, kMethod, 0, {}, "method OnError"},
};

constexpr InterfaceDescription kICommunicationEvents = {"_ICommunicationEvents", DIID__ICommunicationEvents,
                                                        InterfaceKind::Dispatch, "_ICommunicationEvents Interface",
                                                        kEventMembers};

// ---- enumerations -------------------------------------------------------------------

constexpr EnumMemberDescription kBaudRateMembers[] = {
    {"BR_4800", BR_4800, nullptr},   {"BR_9600", BR_9600, nullptr},   {"BR_19200", BR_19200, nullptr},
    {"BR_38400", BR_38400, nullptr}, {"BR_57600", BR_57600, nullptr}, {"BR_115200", BR_115200, nullptr},
};
constexpr EnumMemberDescription kParityMembers[] = {
    {"PAR_NONE", PAR_NONE, nullptr}, {"PAR_ODD", PAR_ODD, nullptr}, {"PAR_EVEN", PAR_EVEN, nullptr}};
constexpr EnumMemberDescription kStopBitsMembers[] = {
    {"SBITS_10", SBITS_10, nullptr}, {"SBITS_15", SBITS_15, nullptr}, {"SBITS_20", SBITS_20, nullptr}};
constexpr EnumMemberDescription kDataBitsMembers[] = {
    {"DBITS_5", DBITS_5, nullptr}, {"DBITS_6", DBITS_6, nullptr}, {"DBITS_7", DBITS_7, nullptr},
    {"DBITS_8", DBITS_8, nullptr}};
// The value 0 is written out rather than spelt `None`: a file that includes
// the X headers first would see the macro there.
constexpr EnumMemberDescription kHandshakingMembers[] = {
    {"DTR_DSR", DTR_DSR, "DTR/DSR"}, {"DSR", DSR, "DSR"},   {"CTS", CTS, "CTS"},
    {"XON_XOFF", XON_XOFF, "XON/XOFF"}, {"None", 0, "None"},
};

constexpr EnumDescription kBaudRate = {"tBaudRate", kBaudRateMembers};
constexpr EnumDescription kParity = {"tParity", kParityMembers};
constexpr EnumDescription kStopBits = {"tStopBits", kStopBitsMembers};
constexpr EnumDescription kDataBits = {"tDataBits", kDataBitsMembers};
constexpr EnumDescription kHandshaking = {"tHandshaking", kHandshakingMembers};

// ---- the library ----------------------------------------------------------------------

/// Declaration order: the event interface, (the coclass), ICommunication.
constexpr const InterfaceDescription* kInterfaces[] = {&kICommunicationEvents, &kICommunication};
constexpr const EnumDescription* kEnums[] = {&kBaudRate, &kParity, &kStopBits, &kDataBits, &kHandshaking};

constexpr TypeLibraryDescription kLibrary = {
    "QUORLINKLib", LIBID_QUORLINKLib, 1, 0, 0x0409, "Quorlink 1.0 Type Library", kInterfaces, kEnums};

/// The coclass, which the static descriptions have no table for.
constexpr const char* kCoclassName = "Communication";
constexpr const char* kCoclassHelpString = "Communication Class";

}  // namespace quorlink_typelib
