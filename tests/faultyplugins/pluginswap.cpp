#include "pluginswap.h"

#include "harnwickamp.h"
#include "registration.h"

const char kAmpPlugin[] = "HarnwickAmp.dll";
const char kThreePinsPlugin[] = "HarnwickAmpThreePins.dll";
const char kTwoInputsPlugin[] = "HarnwickAmpTwoInputs.dll";
const char kNoPersistPlugin[] = "HarnwickAmpNoPersist.dll";
const char kNoPagesPlugin[] = "HarnwickAmpNoPages.dll";
const char kNoDirectPlugin[] = "HarnwickAmpNoDirect.dll";
const char kOtherSizePlugin[] = "HarnwickAmpOtherSize.dll";

std::string programFolder() {
    char path[MAX_PATH + 1] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    size_t slash = folder.find_last_of('\\');
    return slash == std::string::npos ? std::string(".") : folder.substr(0, slash);
}

std::string pluginPath(const std::string& dll) {
    return dll.find('\\') == std::string::npos ? programFolder() + "\\" + dll : dll;
}

PluginClassSwap::PluginClassSwap(const std::string& dll) : previous_(registeredServerPath(CLSID_HarnwickAmp)) {
    if (!previous_.empty()) callServerRegistration(previous_.c_str(), false);
    if (dll.empty()) {
        result_ = isClassRegistered(CLSID_HarnwickAmp) ? E_FAIL : S_OK;
        return;
    }
    current_ = pluginPath(dll);
    result_ = callServerRegistration(current_.c_str(), true);
    if (result_ == S_OK && registeredServerPath(CLSID_HarnwickAmp) != current_) result_ = E_FAIL;
}

PluginClassSwap::~PluginClassSwap() {
    // Objects of the swapped-in DLL are gone by now; let COM unload it.
    CoFreeUnusedLibraries();
    if (!current_.empty()) callServerRegistration(current_.c_str(), false);
    if (!previous_.empty()) callServerRegistration(previous_.c_str(), true);
}
