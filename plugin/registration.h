// Registration of in-process COM servers: who serves a class, and running a
// server DLL's own DllRegisterServer / DllUnregisterServer. The host program
// uses it to register the plug-in beside it; tests use it to put a faulty
// plug-in in the real one's place.
#pragma once

#include <windows.h>

#include <string>

// The path in HKCR\CLSID\{clsid}\InprocServer32; empty when there is none.
std::string registeredServerPath(REFCLSID clsid);
bool isClassRegistered(REFCLSID clsid);

// The folder of a loaded module (null: the program), without a trailing backslash.
std::string moduleFolder(HMODULE module);

// Loads the DLL, calls its DllRegisterServer (or DllUnregisterServer) and
// unloads it again. A DLL that cannot be loaded gives its load error; one
// without the export gives HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND).
HRESULT callServerRegistration(const char* dllPath, bool registerServer);
