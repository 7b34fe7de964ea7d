#pragma once
// The four entry points of an in-process component server module. A module
// includes this header and defines them (noexcept: nothing may be thrown
// across the module's edge, see entry_guard.h); the declarations make them exported
// even when the module hides its other symbols. The component library finds
// DllGetClassObject and DllCanUnloadNow with dlsym, and regsvr calls the two
// registration functions.
#include "guid.h"
#include "hresult.h"

#define COM_SERVER_EXPORT __attribute__((visibility("default")))

extern "C" {
/// Class object for `clsid`; CLASS_E_CLASSNOTAVAILABLE for a class the module
/// does not serve.
COM_SERVER_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) noexcept;
/// S_OK when no object, server lock or other reference of the module remains.
COM_SERVER_EXPORT HRESULT DllCanUnloadNow() noexcept;
/// Writes the module's registry keys.
COM_SERVER_EXPORT HRESULT DllRegisterServer() noexcept;
/// Removes them.
COM_SERVER_EXPORT HRESULT DllUnregisterServer() noexcept;
}

using DllGetClassObjectFunction = HRESULT (*)(REFCLSID, REFIID, void**);
using DllCanUnloadNowFunction = HRESULT (*)();
using DllRegisterServerFunction = HRESULT (*)();
