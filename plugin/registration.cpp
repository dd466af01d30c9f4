#include "registration.h"

#include <objbase.h>

#include <cstdio>

std::string registeredServerPath(REFCLSID clsid) {
    WCHAR wide[40];
    char text[40];
    StringFromGUID2(clsid, wide, 40);
    WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text, nullptr, nullptr);
    char keyName[96];
    snprintf(keyName, sizeof keyName, "CLSID\\%s\\InprocServer32", text);

    HKEY key;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, keyName, 0, KEY_READ, &key) != ERROR_SUCCESS) return std::string();
    char path[MAX_PATH + 1] = {};
    DWORD bytes = MAX_PATH;
    DWORD type = 0;
    LONG err = RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(path), &bytes);
    RegCloseKey(key);
    if (err != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return std::string();
    return std::string(path);
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
