// A stand-in for HarnwickLive.dll in the host program's tests: its
// MainEntryPoint writes what it found (the caller's COM apartment, the
// argument, whether the plug-in's class was registered) into
// "entry-called.txt" beside itself, and returns 1.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <string>

namespace {

HMODULE g_self = nullptr;

const char* apartment() {
    // Asking for the mode the caller should already have tells which one it has.
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (hr == RPC_E_CHANGED_MODE) return "MTA";
    CoUninitialize();
    return hr == S_FALSE ? "STA" : "none";
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH) g_self = instance;
    return TRUE;
}

extern "C" __declspec(dllexport) LONG WINAPI MainEntryPoint(LONG argument) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(g_self, path, MAX_PATH);
    std::string marker(path);
    marker = marker.substr(0, marker.find_last_of('\\')) + "\\entry-called.txt";
    HKEY key;
    bool registered = RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID\\{8C5FA956-AA2A-4623-8BDC-E495166C892E}\\InprocServer32",
                                    0, KEY_READ, &key) == ERROR_SUCCESS;
    if (registered) RegCloseKey(key);
    if (FILE* f = fopen(marker.c_str(), "w")) {
        fprintf(f, "apartment=%s arg=%ld registered=%s", apartment(), long(argument), registered ? "yes" : "no");
        fclose(f);
    }
    return 1;
}
