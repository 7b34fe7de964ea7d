#pragma once
// Apartment initialisation per thread, instance creation by class id, the
// free-threaded marshaler and the run-object service.
//
// A class is found through the registry: the default value of
// CLSID\{clsid}\InprocServer32 under the classes root names the module. The
// module is loaded once per process and kept in a table until
// CoFreeUnusedLibraries finds that its DllCanUnloadNow answers S_OK.
#include "guid.h"
#include "hresult.h"
#include "interfaces.h"
#include "win_types.h"

#include <string>

constexpr DWORD COINIT_MULTITHREADED = 0x0;
constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;
constexpr DWORD COINIT_DISABLE_OLE1DDE = 0x4;
constexpr DWORD COINIT_SPEED_OVER_MEMORY = 0x8;

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_REMOTE_SERVER = 0x10;
constexpr DWORD CLSCTX_SERVER = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;
constexpr DWORD CLSCTX_ALL = CLSCTX_SERVER | CLSCTX_INPROC_HANDLER;

/// Initialises the component library for the calling thread. S_OK the first
/// time, S_FALSE for a nested call with the same model (each needs its
/// CoUninitialize), RPC_E_CHANGED_MODE for a nested call with the other
/// model (not counted), E_INVALIDARG for a non-null `reserved`.
HRESULT CoInitializeEx(void* reserved, DWORD flags);
/// CoInitializeEx with COINIT_APARTMENTTHREADED.
HRESULT CoInitialize(void* reserved);
/// Ends one successful CoInitialize(Ex) of the calling thread. When the last
/// thread of the process ends its last one, modules that can unload are
/// unloaded. Ignored on a thread that is not initialised.
void CoUninitialize();
/// Whether the calling thread is initialised.
bool CoIsInitialized();

/// Class object of `clsid` from its registered in-process module.
/// CO_E_NOTINITIALIZED without CoInitialize on this thread;
/// REGDB_E_CLASSNOTREG when the class has no InprocServer32 (or `context`
/// excludes in-process servers); REGDB_E_READREGDB when the registry cannot
/// be read; HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND) when the module file is
/// missing; CO_E_ERRORINDLL when it cannot be loaded;
/// HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND) when it lacks DllGetClassObject;
/// otherwise what DllGetClassObject returns. A caller that keeps the class
/// object should LockServer it, or the module may be unloaded.
HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void* serverInfo, REFIID riid, void** ppv);
/// New instance of `clsid`, created by its class factory with `outer` as the
/// controlling unknown (aggregation). Errors as CoGetClassObject, then those
/// of IClassFactory::CreateInstance. `*ppv` is null on failure.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** ppv);
/// Unloads the loaded modules whose DllCanUnloadNow answers S_OK.
void CoFreeUnusedLibraries();

/// Puts an object into the running state. In-process objects already run:
/// S_OK for any object, E_INVALIDARG for null.
HRESULT OleRun(IUnknown* object);

/// New free-threaded marshaler aggregated by `outer` (its controlling
/// unknown; null makes it stand alone). `*marshaler` receives the inner,
/// non-delegating IUnknown, which hands out IMarshal. Everything here is in
/// one process, so marshaling passes the interface pointer itself through
/// the stream.
HRESULT CoCreateFreeThreadedMarshaler(IUnknown* outer, IUnknown** marshaler);

/// Canonical path of the loaded module (program or shared library) that
/// contains `address`; empty when it cannot be found.
std::string ModuleFileName(const void* address);
