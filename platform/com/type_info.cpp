// Dispatch served from static type descriptions: checks, name lookup,
// invocation through the interface's table, and type information objects.
#include "type_description.h"

#include "call.h"
#include "com_internal.h"
#include "com_object.h"
#include "entry_guard.h"

#include <atomic>
#include <cstring>
#include <limits>
#include <new>

namespace {

char LowerAscii(wchar_t c) {
    return static_cast<char>((c >= L'A' && c <= L'Z') ? c - L'A' + 'a' : c);
}

// Case-insensitive (ASCII) equality of a wide name and a description name.
bool SameName(const OLECHAR* wide, const char* narrow) {
    if (!wide || !narrow)
        return false;
    for (; *wide && *narrow; ++wide, ++narrow) {
        if (*wide > 0x7F || LowerAscii(*wide) != LowerAscii(static_cast<unsigned char>(*narrow)))
            return false;
    }
    return *wide == 0 && *narrow == 0;
}

bool SameName(const char* a, const char* b) {
    if (!a || !b)
        return false;
    for (; *a && *b; ++a, ++b) {
        if (LowerAscii(static_cast<unsigned char>(*a)) != LowerAscii(static_cast<unsigned char>(*b)))
            return false;
    }
    return *a == 0 && *b == 0;
}

bool IsIntegerType(VARTYPE type) {
    switch (type) {
    case VT_I1:
    case VT_UI1:
    case VT_I2:
    case VT_UI2:
    case VT_I4:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_INT:
    case VT_UINT:
    case VT_BOOL:
    case VT_ERROR:
        return true;
    default:
        return false;
    }
}

bool IsPointerValueType(VARTYPE type) {
    return type == VT_BSTR || type == VT_UNKNOWN || type == VT_DISPATCH ||
           ((type & VT_ARRAY) && (type & ~VT_ARRAY) != 0 && !(type & VT_BYREF));
}

bool IsSupportedParamType(VARTYPE type) {
    if (type & VT_BYREF) {
        VARTYPE base = type & static_cast<VARTYPE>(~VT_BYREF);
        return base == VT_VARIANT || IsIntegerType(base) || IsPointerValueType(base);
    }
    return IsIntegerType(type) || IsPointerValueType(type);
}

bool IsRetval(const ParamDescription& param) { return (param.flags & PARAMFLAG_FRETVAL) != 0; }

size_t InputCount(const MemberDescription& member) {
    size_t count = member.params.size();
    if (count > 0 && IsRetval(member.params.back()))
        --count;
    return count;
}

bool CheckMember(const InterfaceDescription& description, const MemberDescription& member, std::string& problem) {
    std::string where = std::string(description.name) + "." + (member.name ? member.name : "?");
    if (!member.name || !member.name[0]) {
        problem = std::string(description.name) + ": member without a name";
        return false;
    }
    if (member.kind != MemberKind::Method && member.kind != MemberKind::PropertyGet &&
        member.kind != MemberKind::PropertyPut) {
        problem = where + ": unknown member kind";
        return false;
    }
    if (description.kind == InterfaceKind::Dual && member.vtableSlot < 7) {
        problem = where + ": table slot below 7 (IUnknown and IDispatch come first)";
        return false;
    }
    if (member.params.size() > kMaxCallArguments) {
        problem = where + ": more parameters than a call can take";
        return false;
    }
    bool optionalSeen = false;
    for (size_t i = 0; i < member.params.size(); ++i) {
        const ParamDescription& param = member.params[i];
        std::string at = where + " parameter " + std::to_string(i + 1);
        if (!IsSupportedParamType(param.type)) {
            problem = at + ": unsupported type";
            return false;
        }
        if (IsRetval(param)) {
            if (i + 1 != member.params.size() || !(param.type & VT_BYREF)) {
                problem = at + ": a retval must be the last parameter and by reference";
                return false;
            }
            continue;
        }
        if (param.flags & PARAMFLAG_FOPT) {
            optionalSeen = true;
        } else if (optionalSeen) {
            problem = at + ": required after optional";
            return false;
        }
        if (!param.name && member.kind != MemberKind::PropertyPut) {
            problem = at + ": parameter without a name";
            return false;
        }
    }
    if (member.kind == MemberKind::PropertyPut &&
        (member.params.size() != 1 || IsRetval(member.params[0]))) {
        problem = where + ": a property put takes exactly one value";
        return false;
    }
    return true;
}

const MemberDescription* FindMember(const InterfaceDescription& description, DISPID id, MemberKind kind) {
    for (const MemberDescription& member : description.members) {
        if (member.id == id && member.kind == kind)
            return &member;
    }
    return nullptr;
}

const MemberDescription* FindInvoked(const InterfaceDescription& description, DISPID id, WORD flags) {
    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF))
        return FindMember(description, id, MemberKind::PropertyPut);
    if (flags & DISPATCH_METHOD) {
        if (const MemberDescription* member = FindMember(description, id, MemberKind::Method))
            return member;
    }
    if (flags & DISPATCH_PROPERTYGET)
        return FindMember(description, id, MemberKind::PropertyGet);
    return nullptr;
}

// Range of an integer parameter type.
void RangeOf(VARTYPE type, int64_t& low, int64_t& high) {
    switch (type) {
    case VT_I1: low = INT8_MIN, high = INT8_MAX; break;
    case VT_UI1: low = 0, high = UINT8_MAX; break;
    case VT_I2: low = INT16_MIN, high = INT16_MAX; break;
    case VT_UI2: low = 0, high = UINT16_MAX; break;
    case VT_I4:
    case VT_INT:
    case VT_ERROR: low = INT32_MIN, high = INT32_MAX; break;
    case VT_UI4:
    case VT_UINT: low = 0, high = UINT32_MAX; break;
    case VT_UI8: low = 0, high = INT64_MAX; break;
    default: low = INT64_MIN, high = INT64_MAX; break;
    }
}

bool IsMissing(const VARIANT* argument) {
    return !argument || (argument->vt == VT_ERROR && argument->scode == DISP_E_PARAMNOTFOUND);
}

// Builds in `passed` the value handed to the member for one parameter.
// `local` is storage for a missing optional by-reference parameter;
// `usesLocal` says whether it was used.
HRESULT ConvertArgument(const ParamDescription& param, VARIANT* argument, VARIANT& passed, VARIANT& local,
                        bool& usesLocal) {
    VariantInit(&passed);
    VARTYPE base = param.type & static_cast<VARTYPE>(~VT_BYREF);
    if (IsMissing(argument)) {
        if (!(param.flags & PARAMFLAG_FOPT))
            return DISP_E_PARAMNOTOPTIONAL;
        passed.vt = param.type;
        if (param.type & VT_BYREF) {
            usesLocal = true;
            if (base == VT_VARIANT) {
                local.vt = VT_ERROR;
                local.scode = DISP_E_PARAMNOTFOUND;
                passed.byref = &local;
            } else {
                passed.byref = &local.llVal;
            }
        } else if (IsIntegerType(param.type)) {
            passed.vt = VT_I8;
            passed.llVal = 0;
        }
        return S_OK;
    }

    if (param.type & VT_BYREF) {
        passed.vt = param.type;
        if (argument->vt == param.type)
            passed.byref = argument->byref;
        else if (base == VT_VARIANT)
            passed.byref = argument;  // the argument itself is the VARIANT referred to
        else if (argument->vt == base)
            passed.byref = &argument->llVal;  // by-value argument: the address of its value
        else
            return DISP_E_TYPEMISMATCH;
        return S_OK;
    }

    // By value; a reference to a value of the right kind is followed.
    VARIANT value = *argument;
    if (value.vt & VT_BYREF) {
        if (!value.byref)
            return E_POINTER;
        VARTYPE target = value.vt & static_cast<VARTYPE>(~VT_BYREF);
        if (target == VT_VARIANT) {
            value = *argument->pvarVal;
            if (value.vt & VT_BYREF)
                return DISP_E_TYPEMISMATCH;
        } else if (IsIntegerType(target) || IsPointerValueType(target)) {
            VARIANT loaded;
            VariantInit(&loaded);
            loaded.vt = target;
            size_t size = IsPointerValueType(target) ? sizeof(void*) : 8;
            switch (target) {
            case VT_I1:
            case VT_UI1: size = 1; break;
            case VT_I2:
            case VT_UI2:
            case VT_BOOL: size = 2; break;
            case VT_I4:
            case VT_UI4:
            case VT_INT:
            case VT_UINT:
            case VT_ERROR: size = 4; break;
            default: break;
            }
            std::memcpy(&loaded.llVal, value.byref, size);
            value = loaded;
        } else {
            return DISP_E_TYPEMISMATCH;
        }
    }

    if (IsIntegerType(param.type)) {
        int64_t integer = 0;
        if (!VariantIntegerValue(value, integer))
            return DISP_E_TYPEMISMATCH;
        if (param.type == VT_BOOL) {
            integer = integer ? VARIANT_TRUE : VARIANT_FALSE;
        } else {
            int64_t low = 0;
            int64_t high = 0;
            RangeOf(param.type, low, high);
            if (value.vt == VT_UI8 && value.ullVal > static_cast<uint64_t>(INT64_MAX))
                return DISP_E_OVERFLOW;
            if (integer < low || integer > high)
                return DISP_E_OVERFLOW;
        }
        passed.vt = VT_I8;
        passed.llVal = integer;
        return S_OK;
    }
    passed.vt = param.type;
    if (value.vt == param.type || (value.vt == VT_EMPTY && !(param.type & VT_ARRAY)) ||
        (param.type == VT_UNKNOWN && value.vt == VT_DISPATCH)) {
        passed.byref = value.vt == VT_EMPTY ? nullptr : value.byref;
        return S_OK;
    }
    return DISP_E_TYPEMISMATCH;
}

void FillException(EXCEPINFO* exception, const InterfaceDescription& description, HRESULT hr) {
    if (!exception)
        return;
    std::memset(exception, 0, sizeof *exception);
    exception->bstrSource = SysAllocStringUtf8(description.name);
    exception->bstrDescription = SysAllocStringUtf8(SystemMessageText(hr));
    exception->scode = hr;
}

class StaticTypeInfo final
    : public marquen::com::ComObject<StaticTypeInfo, marquen::com::OwnReferenceCount, ITypeInfo> {
public:
    explicit StaticTypeInfo(const InterfaceDescription& description) : m_description(description) {}

    HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) noexcept override {
        return marquen::com::GuardedCall([&]() -> HRESULT {
            return DispGetIDsOfNames(m_description, names, count, ids);
        });
    }
    HRESULT Invoke(void* instance, MEMBERID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* exception, UINT* argumentError) noexcept override {
        return marquen::com::GuardedCall([&]() -> HRESULT {
            return DispInvoke(m_description, instance, id, flags, params, result, exception, argumentError);
        });
    }
    HRESULT GetDocumentation(MEMBERID id, BSTR* name, BSTR* docString, DWORD* helpContext,
                             BSTR* helpFile) noexcept override {
        return marquen::com::GuardedCall([&]() -> HRESULT {
            const char* foundName = nullptr;
            const char* foundHelp = nullptr;
            if (id == MEMBERID_NIL) {
                foundName = m_description.name;
                foundHelp = m_description.helpString;
            } else {
                for (const MemberDescription& member : m_description.members) {
                    if (member.id == id) {
                        foundName = member.name;
                        foundHelp = member.helpString;
                        break;
                    }
                }
                if (!foundName)
                    return TYPE_E_ELEMENTNOTFOUND;
            }
            BSTR nameText = nullptr;
            BSTR helpText = nullptr;
            if (name && !(nameText = SysAllocStringUtf8(foundName)))
                return E_OUTOFMEMORY;
            if (docString && foundHelp && !(helpText = SysAllocStringUtf8(foundHelp))) {
                SysFreeString(nameText);
                return E_OUTOFMEMORY;
            }
            if (name)
                *name = nameText;
            if (docString)
                *docString = helpText;
            if (helpContext)
                *helpContext = 0;
            if (helpFile)
                *helpFile = nullptr;
            return S_OK;
        });
    }
    HRESULT GetNames(MEMBERID id, BSTR* names, UINT maxNames, UINT* count) noexcept override {
        return marquen::com::GuardedCall([&]() -> HRESULT {
            if (!names || !count)
                return E_POINTER;
            *count = 0;
            const MemberDescription* found = nullptr;
            for (const MemberDescription& member : m_description.members) {
                if (member.id == id) {
                    found = &member;
                    break;
                }
            }
            if (!found)
                return TYPE_E_ELEMENTNOTFOUND;
            auto add = [&](const char* text) {
                if (*count >= maxNames || !text)
                    return true;
                names[*count] = SysAllocStringUtf8(text);
                if (!names[*count])
                    return false;
                ++*count;
                return true;
            };
            bool ok = add(found->name);
            for (const ParamDescription& param : found->params)
                ok = ok && add(param.name);
            if (!ok) {
                for (UINT i = 0; i < *count; ++i)
                    SysFreeString(names[i]);
                *count = 0;
                return E_OUTOFMEMORY;
            }
            return S_OK;
        });
    }
    HRESULT GetGuid(GUID* guid) noexcept override {
        return marquen::com::GuardedCall([&]() -> HRESULT {
            if (!guid)
                return E_POINTER;
            *guid = m_description.iid;
            return S_OK;
        });
    }

private:
    const InterfaceDescription& m_description;
};

}  // namespace

bool CheckInterfaceDescription(const InterfaceDescription& description, std::string& problem) {
    if (!description.name || !description.name[0]) {
        problem = "interface without a name";
        return false;
    }
    const auto& members = description.members;
    for (size_t i = 0; i < members.size(); ++i) {
        if (!CheckMember(description, members[i], problem))
            return false;
        for (size_t j = 0; j < i; ++j) {
            const MemberDescription& a = members[i];
            const MemberDescription& b = members[j];
            std::string pair = std::string(description.name) + ": " + a.name + " and " + b.name;
            bool sameName = SameName(a.name, b.name);
            if (sameName != (a.id == b.id)) {
                problem = pair + ": one DISPID per name and one name per DISPID";
                return false;
            }
            if (a.id == b.id && (a.kind == b.kind || a.kind == MemberKind::Method || b.kind == MemberKind::Method)) {
                problem = pair + ": only a property get and put may share a DISPID";
                return false;
            }
            if (description.kind == InterfaceKind::Dual && a.vtableSlot == b.vtableSlot) {
                problem = pair + ": same table slot";
                return false;
            }
        }
    }
    return true;
}

bool CheckTypeLibraryDescription(const TypeLibraryDescription& description, std::string& problem) {
    if (!description.name || !description.name[0]) {
        problem = "type library without a name";
        return false;
    }
    for (size_t i = 0; i < description.interfaces.size(); ++i) {
        const InterfaceDescription* interface = description.interfaces[i];
        if (!interface) {
            problem = std::string(description.name) + ": null interface";
            return false;
        }
        if (!CheckInterfaceDescription(*interface, problem))
            return false;
        for (size_t j = 0; j < i; ++j) {
            if (description.interfaces[j]->iid == interface->iid) {
                problem = std::string(description.name) + ": two interfaces with one IID";
                return false;
            }
        }
    }
    for (const EnumDescription* enumeration : description.enums) {
        if (!enumeration || !enumeration->name || !enumeration->name[0]) {
            problem = std::string(description.name) + ": enumeration without a name";
            return false;
        }
        const auto& members = enumeration->members;
        for (size_t i = 0; i < members.size(); ++i) {
            if (!members[i].name || !members[i].name[0]) {
                problem = std::string(enumeration->name) + ": member without a name";
                return false;
            }
            for (size_t j = 0; j < i; ++j) {
                if (SameName(members[i].name, members[j].name)) {
                    problem = std::string(enumeration->name) + ": " + members[i].name + " listed twice";
                    return false;
                }
            }
        }
    }
    return true;
}

HRESULT DispGetIDsOfNames(const InterfaceDescription& description, LPOLESTR* names, UINT count, DISPID* ids) {
    if (!names || !ids)
        return E_POINTER;
    if (count == 0)
        return E_INVALIDARG;
    for (UINT i = 0; i < count; ++i)
        ids[i] = DISPID_UNKNOWN;
    // Among members of that name (a property's get and put), take the first
    // that knows every parameter name asked for.
    const MemberDescription* chosen = nullptr;
    UINT bestResolved = 0;
    for (const MemberDescription& member : description.members) {
        if (!SameName(names[0], member.name))
            continue;
        UINT resolved = 0;
        for (UINT i = 1; i < count; ++i) {
            for (size_t p = 0; p < member.params.size(); ++p) {
                if (SameName(names[i], member.params[p].name)) {
                    ++resolved;
                    break;
                }
            }
        }
        if (!chosen || resolved > bestResolved) {
            chosen = &member;
            bestResolved = resolved;
        }
        if (resolved == count - 1)
            break;
    }
    if (!chosen)
        return DISP_E_UNKNOWNNAME;
    ids[0] = chosen->id;
    bool allKnown = true;
    for (UINT i = 1; i < count; ++i) {
        for (size_t p = 0; p < chosen->params.size(); ++p) {
            if (SameName(names[i], chosen->params[p].name)) {
                ids[i] = static_cast<DISPID>(p);
                break;
            }
        }
        allKnown = allKnown && ids[i] != DISPID_UNKNOWN;
    }
    return allKnown ? S_OK : DISP_E_UNKNOWNNAME;
}

HRESULT DispInvoke(const InterfaceDescription& description, void* instance, DISPID id, WORD flags,
                   DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception, UINT* argumentError) {
    if (result)
        VariantInit(result);
    if (description.kind != InterfaceKind::Dual)
        return DISP_E_MEMBERNOTFOUND;
    if (!instance || !params)
        return E_POINTER;
    const MemberDescription* member = FindInvoked(description, id, flags);
    if (!member)
        return DISP_E_MEMBERNOTFOUND;
    if (params->cArgs > 0 && !params->rgvarg)
        return E_INVALIDARG;
    if (params->cNamedArgs > 0) {
        bool isPut = member->kind == MemberKind::PropertyPut;
        if (!params->rgdispidNamedArgs)
            return E_INVALIDARG;
        if (!isPut || params->cNamedArgs != 1 || params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
            return DISP_E_NONAMEDARGS;
    }

    size_t inputs = InputCount(*member);
    size_t required = 0;
    while (required < inputs && !(member->params[required].flags & PARAMFLAG_FOPT))
        ++required;
    if (params->cArgs > inputs || params->cArgs < required)
        return DISP_E_BADPARAMCOUNT;

    // One slot per parameter: the value handed over, and storage for a
    // missing optional by-reference parameter or the retval.
    struct Slot {
        VARIANT passed;
        VARIANT local;
        bool usesLocal;
    };
    Slot slots[kMaxCallArguments];
    VARIANT* pointers[kMaxCallArguments];
    VARTYPE types[kMaxCallArguments];
    size_t count = member->params.size();
    for (size_t i = 0; i < count; ++i) {
        VariantInit(&slots[i].passed);
        VariantInit(&slots[i].local);
        slots[i].usesLocal = false;
        pointers[i] = &slots[i].passed;
        types[i] = member->params[i].type;
    }

    for (size_t i = 0; i < inputs; ++i) {
        UINT position = params->cArgs - 1 - static_cast<UINT>(i);
        VARIANT* argument = i < params->cArgs ? &params->rgvarg[position] : nullptr;
        HRESULT hr = ConvertArgument(member->params[i], argument, slots[i].passed, slots[i].local, slots[i].usesLocal);
        if (FAILED(hr)) {
            if (argumentError && argument)
                *argumentError = position;
            return hr;
        }
    }
    bool hasRetval = inputs < count;
    if (hasRetval) {
        Slot& slot = slots[inputs];
        VARTYPE base = types[inputs] & static_cast<VARTYPE>(~VT_BYREF);
        slot.passed.vt = types[inputs];
        slot.passed.byref = base == VT_VARIANT ? static_cast<void*>(&slot.local) : static_cast<void*>(&slot.local.llVal);
        slot.usesLocal = true;
    }

    VARIANT returned;
    HRESULT hr = DispCallFunc(instance, static_cast<ULONG_PTR>(member->vtableSlot) * sizeof(void*), CC_STDCALL,
                              VT_HRESULT, static_cast<UINT>(count), types, pointers, &returned);
    if (FAILED(hr))
        return hr;
    HRESULT memberResult = returned.scode;
    if (FAILED(memberResult)) {
        // Out-values of a failed call are undefined; nothing is taken over.
        FillException(exception, description, memberResult);
        return DISP_E_EXCEPTION;
    }
    for (size_t i = 0; i < count; ++i) {
        Slot& slot = slots[i];
        if (!slot.usesLocal)
            continue;
        VARTYPE base = types[i] & static_cast<VARTYPE>(~VT_BYREF);
        if (base != VT_VARIANT)
            slot.local.vt = base;
        if (hasRetval && i == inputs && result) {
            *result = slot.local;
        } else {
            VariantClear(&slot.local);
        }
    }
    return memberResult;
}

HRESULT CreateTypeInfo(const InterfaceDescription& description, ITypeInfo** typeInfo) {
    if (!typeInfo)
        return E_POINTER;
    *typeInfo = new (std::nothrow) StaticTypeInfo(description);
    return *typeInfo ? S_OK : E_OUTOFMEMORY;
}
