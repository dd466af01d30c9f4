#include "hostlaunch.h"

#include <windows.h>
#include <objbase.h>

#include <cstdio>

#include "harnwickamp.h"
#include "platform/platform.h"
#include "registration.h"
#include "tracelog/trace.h"

const char kLiveDllName[] = "HarnwickLive.dll";
const char kPluginDllName[] = "HarnwickAmp.dll";

namespace {

const char kCaption[] = "Harnwick Live";

// The entry of HarnwickLive.dll: one 32-bit argument (unused), returns 1.
typedef LONG(WINAPI* MainEntryPointFn)(LONG);

bool fileExists(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The 32-bit build may export the stdcall name decorated.
MainEntryPointFn findEntry(HMODULE dll) {
    const char* names[] = {"MainEntryPoint", "_MainEntryPoint@4", "MainEntryPoint@4"};
    for (const char* name : names) {
        FARPROC proc = GetProcAddress(dll, name);
        if (proc) return reinterpret_cast<MainEntryPointFn>(reinterpret_cast<void*>(proc));
    }
    return nullptr;
}

// A standard user may not register machine-wide: the plug-in, and the live
// host's filters that its entry registers (machine-wide, in vain), are
// registered for this user instead. The plug-in's registration decides.
HRESULT registerForUser(const std::string& folder, const std::string& plugin) {
    HRESULT hr = callServerRegistrationForUser(plugin.c_str(), true);
    TRACE(TRACE_INFO, "Registering %s for the current user: HRESULT = 0x%08x", plugin.c_str(), unsigned(hr));
    if (FAILED(hr)) return hr;
    if (userServerPath(CLSID_HarnwickAmp) != plugin) return REGDB_E_CLASSNOTREG;
    std::string live = folder + "\\" + kLiveDllName;
    HRESULT liveHr = callServerRegistrationForUser(live.c_str(), true);
    TRACE(liveHr == S_OK ? TRACE_INFO : TRACE_WARNING, "Registering %s for the current user: HRESULT = 0x%08x",
          live.c_str(), unsigned(liveHr));
    return S_OK;
}

}  // namespace

void showHostError(const char* text) { showMessage(nullptr, text, kCaption, MB_OK | MB_ICONERROR); }

bool ensurePluginRegistered(const std::string& folder, TellUserFn tell) {
    // A registration whose DLL is gone (a moved or deleted installation)
    // counts as none: the plug-in beside the program takes its place.
    std::string registered = registeredServerPath(CLSID_HarnwickAmp);
    if (!registered.empty() && fileExists(registered)) return true;
    std::string plugin = folder + "\\" + kPluginDllName;
    char text[MAX_PATH + 256];
    if (!fileExists(plugin)) {
        snprintf(text, sizeof text,
                 "The Harnwick amplifier plug-in is not installed, and %s was not found beside Harnwick Live in\n%s\n"
                 "Please reinstall Harnwick Live.",
                 kPluginDllName, folder.c_str());
        tell(text);
        return false;
    }
    HRESULT hr = callServerRegistration(plugin.c_str(), true);
    TRACE(TRACE_INFO, "Registering %s: HRESULT = 0x%08x", plugin.c_str(), unsigned(hr));
    if (hr == E_ACCESSDENIED) hr = registerForUser(folder, plugin);
    else if (SUCCEEDED(hr) && !isClassRegistered(CLSID_HarnwickAmp)) hr = REGDB_E_CLASSNOTREG;
    if (FAILED(hr)) {
        snprintf(text, sizeof text,
                 "The Harnwick amplifier plug-in\n%s\ncould not be registered (error 0x%08X).\n"
                 "Please start Harnwick Live once with administrator rights.",
                 plugin.c_str(), unsigned(hr));
        tell(text);
        return false;
    }
    return true;
}

bool runLiveEntry(const std::string& folder) {
    std::string path = folder + "\\" + kLiveDllName;
    char text[MAX_PATH + 256];
    HMODULE dll = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!dll) {
        snprintf(text, sizeof text, "Harnwick Live could not load\n%s\n(error %lu). Please reinstall Harnwick Live.",
                 path.c_str(), GetLastError());
        showHostError(text);
        return false;
    }
    MainEntryPointFn entry = findEntry(dll);
    if (!entry) {
        snprintf(text, sizeof text, "%s\nhas no entry MainEntryPoint. Please reinstall Harnwick Live.", path.c_str());
        showHostError(text);
        FreeLibrary(dll);
        return false;
    }
    LONG result = entry(0);
    TRACE(TRACE_INFO, "MainEntryPoint returned %ld", long(result));
    FreeLibrary(dll);
    return true;
}

int hostMain() {
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(hr)) {
        char text[128];
        snprintf(text, sizeof text, "Harnwick Live could not start COM (error 0x%08X).", unsigned(hr));
        showHostError(text);
        return 1;
    }
    std::string folder = moduleFolder(nullptr);
    bool ran = ensurePluginRegistered(folder) && runLiveEntry(folder);
    CoUninitialize();
    return ran ? 0 : 1;
}
