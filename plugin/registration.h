// Registration of in-process COM servers: who serves a class, and running a
// server DLL's own DllRegisterServer / DllUnregisterServer. The host program
// uses it to register the plug-in beside it; tests use it to put a faulty
// plug-in in the real one's place.
#pragma once

#include <windows.h>

#include <string>

// The path in HKCR\CLSID\{clsid}\InprocServer32; empty when there is none.
std::string registeredServerPath(REFCLSID clsid);
// The same in the current user's own classes (HKCU\Software\Classes) only.
std::string userServerPath(REFCLSID clsid);
bool isClassRegistered(REFCLSID clsid);

// The folder of a loaded module (null: the program), without a trailing backslash.
std::string moduleFolder(HMODULE module);

// Loads the DLL, calls its DllRegisterServer (or DllUnregisterServer) and
// unloads it again. A DLL that cannot be loaded gives its load error; one
// without the export gives HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND).
HRESULT callServerRegistration(const char* dllPath, bool registerServer);

// The same, with what the DLL writes under HKEY_CLASSES_ROOT put into the
// current user's classes (HKCU\Software\Classes) instead: a registration that
// needs no administrator rights and serves only this user.
HRESULT callServerRegistrationForUser(const char* dllPath, bool registerServer);
