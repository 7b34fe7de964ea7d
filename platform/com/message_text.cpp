// The system message table: the text shown for an HRESULT or a system error.
#include "hresult.h"

#include <cstdio>

namespace {

struct MessageEntry {
    HRESULT code;
    const char* text;
};

// HRESULTs outside the FACILITY_WIN32 range.
constexpr MessageEntry kHresultMessages[] = {
    {S_OK, "The operation completed successfully."},
    {E_NOTIMPL, "Not implemented"},
    {E_NOINTERFACE, "No such interface supported"},
    {E_POINTER, "Invalid pointer"},
    {E_ABORT, "Operation aborted"},
    {E_FAIL, "Unspecified error"},
    {E_UNEXPECTED, "Catastrophic failure"},
    {RPC_E_CHANGED_MODE, "Cannot change thread mode after it is set."},
    {DISP_E_UNKNOWNINTERFACE, "Unknown interface."},
    {DISP_E_MEMBERNOTFOUND, "Member not found."},
    {DISP_E_PARAMNOTFOUND, "Parameter not found."},
    {DISP_E_TYPEMISMATCH, "Type mismatch."},
    {DISP_E_UNKNOWNNAME, "Unknown name."},
    {DISP_E_NONAMEDARGS, "No named arguments."},
    {DISP_E_BADVARTYPE, "Bad variable type."},
    {DISP_E_EXCEPTION, "Exception occurred."},
    {DISP_E_OVERFLOW, "Out of present range."},
    {DISP_E_BADINDEX, "Invalid index."},
    {DISP_E_ARRAYISLOCKED, "Memory is locked."},
    {DISP_E_BADPARAMCOUNT, "Invalid number of parameters."},
    {DISP_E_PARAMNOTOPTIONAL, "Parameter not optional."},
    {TYPE_E_REGISTRYACCESS, "Error accessing the OLE registry."},
    {TYPE_E_LIBNOTREGISTERED, "Library not registered."},
    {TYPE_E_ELEMENTNOTFOUND, "Element not found."},
    {CLASS_E_NOAGGREGATION, "Class does not support aggregation (or class object is remote)"},
    {CLASS_E_CLASSNOTAVAILABLE, "ClassFactory cannot supply requested class"},
    {REGDB_E_READREGDB, "Could not read key from registry"},
    {REGDB_E_WRITEREGDB, "Could not write key to registry"},
    {REGDB_E_CLASSNOTREG, "Class not registered"},
    {CONNECT_E_NOCONNECTION, "No connection exists for this cookie"},
    {CONNECT_E_ADVISELIMIT, "The connection point cannot take more connections"},
    {CONNECT_E_CANNOTCONNECT, "The sink does not support the interface of the connection point"},
    {CO_E_NOTINITIALIZED, "CoInitialize has not been called."},
    {CO_E_DLLNOTFOUND, "Module for class not found"},
    {CO_E_ERRORINDLL, "Error in the module"},
    // Automation error 1004 of the communication server's port lists.
    {MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 1004), "Out of Memory"},
};

// System error codes, raw or as HRESULT_FROM_WIN32.
constexpr MessageEntry kSystemMessages[] = {
    {1, "Incorrect function."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {4, "The system cannot open the file."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {8, "Not enough memory resources are available to process this command."},
    {13, "The data is invalid."},
    {14, "Out of memory"},
    {21, "The device is not ready."},
    {29, "The system cannot write to the specified device."},
    {30, "The system cannot read from the specified device."},
    {31, "A device attached to the system is not functioning."},
    {32, "The process cannot access the file because it is being used by another process."},
    {38, "Reached the end of the file."},
    {39, "The disk is full."},
    {50, "The request is not supported."},
    {80, "The file exists."},
    {87, "The parameter is incorrect."},
    {109, "The pipe has been ended."},
    {120, "This function is not supported on this system."},
    {122, "The data area passed to a system call is too small."},
    {126, "The specified module could not be found."},
    {127, "The specified procedure could not be found."},
    {170, "The requested resource is in use."},
    {183, "Cannot create a file when that file already exists."},
    {232, "The pipe is being closed."},
    {258, "The wait operation timed out."},
    {288, "Attempt to release mutex not owned by caller."},
    {995, "The I/O operation has been aborted because of either a thread exit or an application request."},
    {996, "Overlapped I/O event is not in a signaled state."},
    {997, "Overlapped I/O operation is in progress."},
    {998, "Invalid access to memory location."},
    {1010, "The configuration registry key is invalid."},
    {1012, "The configuration registry key could not be read."},
    {1013, "The configuration registry key could not be written."},
    {1015, "The registry is corrupted."},
    {1167, "The device is not connected."},
    {1168, "Element not found."},
    {1359, "An internal error occurred."},
    {1400, "Invalid window handle."},
    {1407, "Cannot find window class."},
    {1410, "Class already exists."},
    {1411, "Class does not exist."},
    {1460, "This operation returned because the timeout period expired."},
};

const char* Find(const MessageEntry* begin, const MessageEntry* end, HRESULT code) {
    for (const MessageEntry* entry = begin; entry != end; ++entry) {
        if (entry->code == code)
            return entry->text;
    }
    return nullptr;
}

}  // namespace

std::string SystemMessageText(HRESULT code) {
    if (const char* text = Find(std::begin(kHresultMessages), std::end(kHresultMessages), code))
        return text;
    HRESULT systemCode = -1;
    if (code > 0 && code <= 0xFFFF)
        systemCode = code;
    else if (HRESULT_FACILITY(code) == FACILITY_WIN32 && FAILED(code))
        systemCode = static_cast<HRESULT>(HRESULT_CODE(code));
    if (systemCode > 0) {
        if (const char* text = Find(std::begin(kSystemMessages), std::end(kSystemMessages), systemCode))
            return text;
    }
    char unknown[32];
    std::snprintf(unknown, sizeof unknown, "Unknown error 0x%08X", static_cast<unsigned>(code));
    return unknown;
}
