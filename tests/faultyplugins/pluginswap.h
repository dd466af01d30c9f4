// Test helper: puts a plug-in DLL under the Harnwick plug-in's class id for
// the life of a scope, then gives the class back to whichever DLL served it
// before (or leaves it unregistered when none did).
//
//   PluginClassSwap swap(kNoPagesPlugin);  // now CLSID_HarnwickAmp creates the faulty one
//   ASSERT_EQ(swap.result(), S_OK);
//
// The DLLs lie in the test programs' folder (bin/), beside the product.
#pragma once

#include <windows.h>

#include <string>

extern const char kAmpPlugin[];        // the real one
extern const char kThreePinsPlugin[];  // a third pin (second output)
extern const char kTwoInputsPlugin[];  // two pins, both inputs
extern const char kNoPersistPlugin[];  // no IPersistStream
extern const char kNoPagesPlugin[];    // no ISpecifyPropertyPages
extern const char kNoDirectPlugin[];   // no IHarnwickAmpDirect
extern const char kOtherSizePlugin[];  // persisted size 96 instead of 64

// A name without a backslash is taken from the running program's folder.
std::string pluginPath(const std::string& dll);

class PluginClassSwap {
public:
    // dll: the plug-in to register; empty unregisters the class for the scope.
    explicit PluginClassSwap(const std::string& dll);
    ~PluginClassSwap();
    PluginClassSwap(const PluginClassSwap&) = delete;
    PluginClassSwap& operator=(const PluginClassSwap&) = delete;

    // The registration's result (S_OK when the class now points at the DLL).
    HRESULT result() const { return result_; }

private:
    std::string previous_;
    std::string current_;
    HRESULT result_;
};
