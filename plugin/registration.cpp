#include "registration.h"

#include <objbase.h>

#include <cstdio>

namespace {

const char kUserClasses[] = "Software\\Classes";

// The server path below root\<prefix>CLSID\{clsid}\InprocServer32.
std::string serverPathBelow(HKEY root, const std::string& prefix, REFCLSID clsid) {
    WCHAR wide[40];
    char text[40];
    StringFromGUID2(clsid, wide, 40);
    WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text, nullptr, nullptr);
    char keyName[128];
    snprintf(keyName, sizeof keyName, "%sCLSID\\%s\\InprocServer32", prefix.c_str(), text);

    HKEY key;
    if (RegOpenKeyExA(root, keyName, 0, KEY_READ, &key) != ERROR_SUCCESS) return std::string();
    char path[MAX_PATH + 1] = {};
    DWORD bytes = MAX_PATH;
    DWORD type = 0;
    LONG err = RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(path), &bytes);
    RegCloseKey(key);
    if (err != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return std::string();
    return std::string(path);
}

}  // namespace

std::string registeredServerPath(REFCLSID clsid) { return serverPathBelow(HKEY_CLASSES_ROOT, "", clsid); }

std::string userServerPath(REFCLSID clsid) {
    return serverPathBelow(HKEY_CURRENT_USER, std::string(kUserClasses) + "\\", clsid);
}

std::string moduleFolder(HMODULE module) {
    char path[MAX_PATH + 1] = {};
    DWORD n = GetModuleFileNameA(module, path, MAX_PATH);
    std::string folder(path, n < MAX_PATH ? n : MAX_PATH);
    size_t slash = folder.find_last_of('\\');
    return slash == std::string::npos ? std::string(".") : folder.substr(0, slash);
}

bool isClassRegistered(REFCLSID clsid) { return !registeredServerPath(clsid).empty(); }

HRESULT callServerRegistration(const char* dllPath, bool registerServer) {
    HMODULE dll = LoadLibraryExA(dllPath, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!dll) return HRESULT_FROM_WIN32(GetLastError());
    typedef HRESULT(STDAPICALLTYPE * ServerCall)();
    auto call = reinterpret_cast<ServerCall>(
        reinterpret_cast<void*>(GetProcAddress(dll, registerServer ? "DllRegisterServer" : "DllUnregisterServer")));
    HRESULT hr = call ? call() : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    FreeLibrary(dll);
    return hr;
}

HRESULT callServerRegistrationForUser(const char* dllPath, bool registerServer) {
    HKEY userClasses;
    LONG err = RegCreateKeyExA(HKEY_CURRENT_USER, kUserClasses, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                               &userClasses, nullptr);
    if (err != ERROR_SUCCESS) return HRESULT_FROM_WIN32(err);
    // What the server writes under HKEY_CLASSES_ROOT lands in the user's own
    // classes for the length of the call; the view is restored right after.
    err = RegOverridePredefKey(HKEY_CLASSES_ROOT, userClasses);
    HRESULT hr = HRESULT_FROM_WIN32(err);
    if (err == ERROR_SUCCESS) {
        hr = callServerRegistration(dllPath, registerServer);
        RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    }
    RegCloseKey(userClasses);
    return hr;
}
