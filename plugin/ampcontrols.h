// The plug-in's control interfaces, apart from its filter and pins: the
// persisted state (IPersistStream), the parameter page list
// (ISpecifyPropertyPages) and direct processing (IHarnwickAmpDirect), all
// over one AmpDsp. The filter object derives from this and supplies IUnknown;
// which of these interfaces it answers is decided by queryControls and the
// build's switches.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <objidl.h>

#include <atomic>

#include "ampdsp.h"
#include "ampmodule.h"

class AmpControls : public IPersistStream, public ISpecifyPropertyPages, public IHarnwickAmpDirect {
public:
    // The interface for iid when this build offers it (reference added), else E_NOINTERFACE.
    HRESULT queryControls(REFIID iid, void** out);

    // IPersistStream (IPersist::GetClassID comes from the filter)
    HRESULT STDMETHODCALLTYPE IsDirty() override { return dirty_.load() ? S_OK : S_FALSE; }
    HRESULT STDMETHODCALLTYPE Load(IStream* stream) override;
    HRESULT STDMETHODCALLTYPE Save(IStream* stream, BOOL clearDirty) override;
    HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER* size) override;

    // ISpecifyPropertyPages
    HRESULT STDMETHODCALLTYPE GetPages(CAUUID* pages) override;

    // IHarnwickAmpDirect
    HRESULT STDMETHODCALLTYPE getParameterCount(int* count) override;
    HRESULT STDMETHODCALLTYPE getParameter(int index, float* value) override;
    HRESULT STDMETHODCALLTYPE setParameter(int index, float value) override;
    HRESULT STDMETHODCALLTYPE getParameterName(int index, char* name, int nameBytes) override;
    HRESULT STDMETHODCALLTYPE resetState() override;
    HRESULT STDMETHODCALLTYPE processBuffer(float* samples, int frames, int channels) override;

protected:
    AmpDsp dsp_;

private:
    std::atomic<bool> dirty_{false};
};
