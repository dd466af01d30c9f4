// Shared by the plug-in's COM tests: a fixture with COM (single-threaded
// apartment) and the real plug-in registered, and small helpers.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <ocidl.h>
#include <strmif.h>

#include <vector>

#include "harnwickamp.h"
#include "pluginswap.h"
#include "support/testenv.h"

class AmpComTest : public HarnwickTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // A new plug-in object from whatever DLL serves the class now; null on failure.
    IBaseFilter* createAmp();
};

// The object's interface iid with a reference, or null.
template <class T>
T* query(IUnknown* object, REFIID iid) {
    void* out = nullptr;
    return SUCCEEDED(object->QueryInterface(iid, &out)) ? static_cast<T*>(out) : nullptr;
}

// The plug-in's parameters through its direct interface.
std::vector<float> parametersOf(IUnknown* amp);

template <class T>
void releaseAndNull(T*& p) {
    if (p) p->Release();
    p = nullptr;
}
