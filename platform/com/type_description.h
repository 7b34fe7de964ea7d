#pragma once
// Static type descriptions: the type library of a component server, compiled
// into the server as constant tables. From an interface's description the
// library serves IDispatch (names to DISPIDs, Invoke through the interface's
// table), type information, and the type library's registry keys.
//
// A description is plain constant data, so a server writes it once:
//
//   constexpr ParamDescription kOpenPortParams[] = {
//       {"sPortName", VT_BSTR, PARAMFLAG_FIN},
//       {"pRC", VT_I4 | VT_BYREF, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}};
//   constexpr MemberDescription kMembers[] = {
//       {"OpenPort", 1, MemberKind::Method, 7, kOpenPortParams, "method OpenPort"}, ...};
//   constexpr InterfaceDescription kICommunication = {
//       "ICommunication", IID_ICommunication, InterfaceKind::Dual, "ICommunication Interface", kMembers};
//
// and derives its object from DispatchImpl<ICommunication, kICommunication>.
//
// Parameter types are variant types: VT_I4 for long and for enumerations,
// VT_BSTR, VT_I4|VT_BYREF for long*, VT_BSTR|VT_BYREF for BSTR*,
// VT_VARIANT|VT_BYREF for VARIANT*, VT_ARRAY|VT_UI1 for SAFEARRAY(unsigned
// char) and VT_ARRAY|VT_UI1|VT_BYREF for a pointer to one. Descriptions must
// outlive every type information and dispatch call made over them (static
// storage does).
#include "entry_guard.h"
#include "guid.h"
#include "hresult.h"
#include "interfaces.h"
#include "variant.h"
#include "win_types.h"

#include <span>
#include <string>
#include <string_view>

constexpr WORD PARAMFLAG_NONE = 0x00;
constexpr WORD PARAMFLAG_FIN = 0x01;
constexpr WORD PARAMFLAG_FOUT = 0x02;
constexpr WORD PARAMFLAG_FRETVAL = 0x08;
constexpr WORD PARAMFLAG_FOPT = 0x10;

/// Kinds of member; the values are the DISPATCH_ flags that select them.
enum class MemberKind : WORD {
    Method = DISPATCH_METHOD,
    PropertyGet = DISPATCH_PROPERTYGET,
    PropertyPut = DISPATCH_PROPERTYPUT,
};

enum class InterfaceKind : WORD {
    /// Table interface derived from IDispatch: members can be invoked.
    Dual,
    /// Dispatch-only interface (an event interface): names and ids only.
    Dispatch,
};

struct ParamDescription {
    /// Null for the unnamed value of a property put.
    const char* name;
    VARTYPE type;
    WORD flags;
};

struct MemberDescription {
    const char* name;
    DISPID id;
    MemberKind kind;
    /// Slot in the interface's table (0 is QueryInterface); unused for
    /// dispatch-only interfaces.
    UINT vtableSlot;
    std::span<const ParamDescription> params;
    const char* helpString;
};

struct InterfaceDescription {
    const char* name;
    IID iid;
    InterfaceKind kind;
    const char* helpString;
    std::span<const MemberDescription> members;
};

struct EnumMemberDescription {
    const char* name;
    LONG value;
    /// May be null.
    const char* helpString;
};

struct EnumDescription {
    const char* name;
    std::span<const EnumMemberDescription> members;
};

struct TypeLibraryDescription {
    const char* name;
    GUID libid;
    WORD majorVersion;
    WORD minorVersion;
    LCID lcid;
    const char* helpString;
    std::span<const InterfaceDescription* const> interfaces;
    std::span<const EnumDescription* const> enums;
};

/// Checks a description for the mistakes that would make dispatch go wrong:
/// missing names, a DISPID shared by members of different names or by two
/// members of one kind, table slots below 7 or used twice, a retval that is
/// not the last parameter or not by reference, optional parameters before
/// required ones, a property put without exactly one value, unsupported
/// parameter types. False with the first problem in `problem`.
bool CheckInterfaceDescription(const InterfaceDescription& description, std::string& problem);
/// Same for a whole library: every interface, and enumerations with unique
/// member names.
bool CheckTypeLibraryDescription(const TypeLibraryDescription& description, std::string& problem);

/// DISPIDs for a member name (names[0], compared without regard to ASCII
/// case) and its parameter names (ids are their positions). Unknown names
/// get DISPID_UNKNOWN and the result DISP_E_UNKNOWNNAME.
HRESULT DispGetIDsOfNames(const InterfaceDescription& description, LPOLESTR* names, UINT count, DISPID* ids);

/// Invokes member `id` on `instance` (a pointer to the described dual
/// interface) through its table slot. Arguments arrive in reverse order;
/// each is converted to its parameter's type: integer variants (by value or
/// by reference) to integer parameters with range checks (DISP_E_OVERFLOW);
/// a variant of the parameter's exact type or a reference to one; for a
/// by-reference parameter, a by-value argument of its base type is passed as
/// the address of its value inside `params`. A missing optional integer
/// parameter (or one given as VT_ERROR DISP_E_PARAMNOTFOUND) is 0. The
/// [retval] parameter is filled into `*result`. Property puts take their
/// value with or without the DISPID_PROPERTYPUT name. A member that fails
/// gives DISP_E_EXCEPTION with its HRESULT and message in `*exception`.
/// Errors: DISP_E_MEMBERNOTFOUND, DISP_E_BADPARAMCOUNT, DISP_E_TYPEMISMATCH
/// (with the argument's index in `*argumentError`), DISP_E_PARAMNOTOPTIONAL,
/// DISP_E_NONAMEDARGS, DISP_E_BADVARTYPE; DISP_E_MEMBERNOTFOUND for any
/// member of a dispatch-only interface.
HRESULT DispInvoke(const InterfaceDescription& description, void* instance, DISPID id, WORD flags,
                   DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception, UINT* argumentError);

/// New counted type information over `description`.
HRESULT CreateTypeInfo(const InterfaceDescription& description, ITypeInfo** typeInfo);

/// IDispatch of a dual interface served from its static description. The
/// object derives from DispatchImpl<Interface, Description> and implements
/// IUnknown and the interface's own members. Each member is an entry point of
/// the module that serves the object: no exception leaves it.
template <class Interface, const InterfaceDescription& Description>
class DispatchImpl : public Interface {
public:
    HRESULT GetTypeInfoCount(UINT* count) noexcept override {
        if (!count)
            return E_POINTER;
        *count = 1;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT index, LCID, ITypeInfo** typeInfo) noexcept override {
        if (!typeInfo)
            return E_POINTER;
        *typeInfo = nullptr;
        if (index != 0)
            return DISP_E_BADINDEX;
        return marquen::com::GuardedCall([&] { return CreateTypeInfo(Description, typeInfo); });
    }
    HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) noexcept override {
        if (!IsEqualIID(riid, IID_NULL))
            return DISP_E_UNKNOWNINTERFACE;
        return marquen::com::GuardedCall([&] { return DispGetIDsOfNames(Description, names, count, ids); });
    }
    HRESULT Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* exception, UINT* argumentError) noexcept override {
        if (!IsEqualIID(riid, IID_NULL))
            return DISP_E_UNKNOWNINTERFACE;
        return marquen::com::GuardedCall([&] {
            return DispInvoke(Description, static_cast<Interface*>(this), id, flags, params, result, exception,
                              argumentError);
        });
    }
};

/// Writes the registry keys of a type library served by the module at
/// `modulePath`: TypeLib\{libid}\<major.minor> (help string), its <lcid>\linux
/// (module path), FLAGS and HELPDIR, and for each interface
/// Interface\{iid} (name) with TypeLib (libid, named value Version). One
/// registry update; HRESULT_FROM_WIN32 of the registry's error on failure.
HRESULT RegisterTypeLib(const TypeLibraryDescription& description, std::string_view modulePath);
/// Removes the version key of the library (and the library key once no
/// version is left) and the Interface keys of its interfaces. Keys that are
/// already gone are not an error.
HRESULT UnRegisterTypeLib(const TypeLibraryDescription& description);
