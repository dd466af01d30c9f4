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

std::string pluginPath(const std::string& dll) {
    return dll.find('\\') == std::string::npos ? moduleFolder(nullptr) + "\\" + dll : dll;
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
