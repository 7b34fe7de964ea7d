// Registry keys of a type library described statically.
#include "type_description.h"

#include "diagnostics/diagnostics.h"
#include "registry/registry.h"

#include <cstdio>
#include <filesystem>
#include <new>

namespace {

namespace registry = marquen::registry;
namespace diagnostics = marquen::diagnostics;

std::string VersionText(const TypeLibraryDescription& description) {
    return std::to_string(description.majorVersion) + "." + std::to_string(description.minorVersion);
}

std::string LocaleText(LCID lcid) {
    char text[16];
    std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(lcid));
    return text;
}

HRESULT FromRegistry(DWORD rc) {
    if (rc == ERROR_SUCCESS)
        return S_OK;
    diagnostics::Report(diagnostics::Level::kError, "component library: " + registry::LastErrorDetail());
    return HRESULT_FROM_WIN32(rc);
}

}  // namespace

HRESULT RegisterTypeLib(const TypeLibraryDescription& description, std::string_view modulePath) {
    try {
        std::string libid = GuidToString(description.libid);
        std::string versionKey = "TypeLib\\" + libid + "\\" + VersionText(description);
        std::string module(modulePath);
        std::string folder = std::filesystem::path(module).parent_path().string();
        return FromRegistry(registry::Update([&](registry::Tree& tree) {
            registry::Key* version = tree.Create(versionKey);
            version->SetValue("", description.helpString ? description.helpString : description.name);
            version->Child(LocaleText(description.lcid)).Child("linux").SetValue("", module);
            version->Child("FLAGS").SetValue("", "0");
            version->Child("HELPDIR").SetValue("", folder);
            for (const InterfaceDescription* interface : description.interfaces) {
                registry::Key* key = tree.Create("Interface\\" + GuidToString(interface->iid));
                key->SetValue("", interface->name);
                registry::Key& typeLib = key->Child("TypeLib");
                typeLib.SetValue("", libid);
                typeLib.SetValue("Version", VersionText(description));
            }
            return ERROR_SUCCESS;
        }));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT UnRegisterTypeLib(const TypeLibraryDescription& description) {
    try {
        std::string libid = GuidToString(description.libid);
        std::string libraryKey = "TypeLib\\" + libid;
        return FromRegistry(registry::Update([&](registry::Tree& tree) {
            tree.Remove(libraryKey + "\\" + VersionText(description));
            if (const registry::Key* library = tree.Find(libraryKey); library && library->Children().empty())
                tree.Remove(libraryKey);
            for (const InterfaceDescription* interface : description.interfaces) {
                std::string key = "Interface\\" + GuidToString(interface->iid);
                // Only the registration of this library: another library may
                // have taken the interface over since.
                const registry::Key* owner = tree.Find(key + "\\TypeLib");
                const std::string* ownerId = owner ? owner->FindValue("") : nullptr;
                if (ownerId && *ownerId == libid)
                    tree.Remove(key);
            }
            return ERROR_SUCCESS;
        }));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}
