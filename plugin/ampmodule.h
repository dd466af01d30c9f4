// What the plug-in's parts share inside the DLL: the private class and
// interface ids, the module instance, the live-object count behind
// DllCanUnloadNow, and the compile-time switches that turn these sources
// into the deliberately faulty test plug-ins.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include "harnwickamp.h"

// Switches (each defined to 1 for a faulty variant, see plugin/CMakeLists.txt):
//   HW_AMP_THREE_PINS   a third pin, a second output
//   HW_AMP_TWO_INPUTS   two pins, both inputs
//   HW_AMP_NO_PERSIST   no IPersistStream
//   HW_AMP_NO_PAGES     no ISpecifyPropertyPages
//   HW_AMP_NO_DIRECT    no IHarnwickAmpDirect
//   HW_AMP_STATE_BYTES  the persisted size (ampstate.h)
#ifndef HW_AMP_THREE_PINS
#define HW_AMP_THREE_PINS 0
#endif
#ifndef HW_AMP_TWO_INPUTS
#define HW_AMP_TWO_INPUTS 0
#endif
#ifndef HW_AMP_NO_PERSIST
#define HW_AMP_NO_PERSIST 0
#endif
#ifndef HW_AMP_NO_PAGES
#define HW_AMP_NO_PAGES 0
#endif
#ifndef HW_AMP_NO_DIRECT
#define HW_AMP_NO_DIRECT 0
#endif

// The parameter page's class.
// {E8611201-637A-4F77-A7F8-35AD1274F774}
static const GUID CLSID_HarnwickAmpPage = {0xe8611201, 0x637a, 0x4f77, {0xa7, 0xf8, 0x35, 0xad, 0x12, 0x74, 0xf7, 0x74}};

// The page's private way to the plug-in's parameters: answered with the
// IHarnwickAmpDirect table even by a build that does not publish that
// interface, so the page works in every variant.
// {C6361287-749F-4C17-8233-2A2F8E76E6F0}
static const GUID IID_HarnwickAmpPageLink = {0xc6361287, 0x749f, 0x4c17, {0x82, 0x33, 0x2a, 0x2f, 0x8e, 0x76, 0xe6, 0xf0}};

HINSTANCE ampModuleInstance();
// Every COM object of the DLL (filter, pins' owner, page, factory) counts
// itself while alive.
void ampObjectCreated();
void ampObjectDestroyed();

// IUnknown for the DLL's plain COM objects (page, class factory): one
// interface besides IUnknown, created with one reference, counted in the
// module while alive.
template <class Itf>
class AmpComObject : public Itf {
public:
    explicit AmpComObject(REFIID iid) : iid_(iid) { ampObjectCreated(); }
    virtual ~AmpComObject() { ampObjectDestroyed(); }
    AmpComObject(const AmpComObject&) = delete;
    AmpComObject& operator=(const AmpComObject&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IUnknown || iid == iid_) {
            *out = static_cast<Itf*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG n = InterlockedDecrement(&refs_);
        if (n == 0) delete this;
        return ULONG(n);
    }

private:
    const IID& iid_;
    LONG refs_ = 1;
};

// Creators used by the class factory; each returns the object with one
// reference, or null when out of memory.
IUnknown* createAmpFilter();
IUnknown* createAmpPage();
// Removes the page's window class when the DLL is unloaded.
void ampPageModuleDetach();
