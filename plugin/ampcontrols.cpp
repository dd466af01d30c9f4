#include "ampcontrols.h"

#include <cstdio>

#include "ampstate.h"

HRESULT AmpControls::queryControls(REFIID iid, void** out) {
    IUnknown* itf = nullptr;
    if (!HW_AMP_NO_PERSIST && (iid == IID_IPersistStream))
        itf = static_cast<IPersistStream*>(this);
    else if (!HW_AMP_NO_PAGES && iid == IID_ISpecifyPropertyPages)
        itf = static_cast<ISpecifyPropertyPages*>(this);
    else if ((!HW_AMP_NO_DIRECT && iid == IID_IHarnwickAmpDirect) || iid == IID_HarnwickAmpPageLink)
        itf = static_cast<IHarnwickAmpDirect*>(this);
    if (!itf) {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    itf->AddRef();
    *out = itf;
    return S_OK;
}

HRESULT AmpControls::Load(IStream* stream) {
    if (!stream) return E_POINTER;
    unsigned char block[kAmpStateBytes];
    ULONG got = 0;
    HRESULT hr = stream->Read(block, sizeof block, &got);
    if (FAILED(hr)) return hr;
    if (got != sizeof block || !readAmpState(block, got, dsp_)) return E_FAIL;
    dsp_.requestReset();
    dirty_.store(false);
    return S_OK;
}

HRESULT AmpControls::Save(IStream* stream, BOOL clearDirty) {
    if (!stream) return E_POINTER;
    unsigned char block[kAmpStateBytes];
    writeAmpState(dsp_, block, sizeof block);
    ULONG written = 0;
    HRESULT hr = stream->Write(block, sizeof block, &written);
    if (FAILED(hr)) return hr;
    if (written != sizeof block) return STG_E_MEDIUMFULL;
    if (clearDirty) dirty_.store(false);
    return S_OK;
}

HRESULT AmpControls::GetSizeMax(ULARGE_INTEGER* size) {
    if (!size) return E_POINTER;
    size->QuadPart = kAmpStateBytes;
    return S_OK;
}

HRESULT AmpControls::GetPages(CAUUID* pages) {
    if (!pages) return E_POINTER;
    pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
    if (!pages->pElems) {
        pages->cElems = 0;
        return E_OUTOFMEMORY;
    }
    pages->cElems = 1;
    pages->pElems[0] = CLSID_HarnwickAmpPage;
    return S_OK;
}

HRESULT AmpControls::getParameterCount(int* count) {
    if (!count) return E_POINTER;
    *count = AMP_PARAMETER_COUNT;
    return S_OK;
}

HRESULT AmpControls::getParameter(int index, float* value) {
    if (!value) return E_POINTER;
    if (!ampParameterInfo(index)) return E_INVALIDARG;
    *value = dsp_.parameter(index);
    return S_OK;
}

HRESULT AmpControls::setParameter(int index, float value) {
    if (!ampParameterInfo(index)) return E_INVALIDARG;
    dsp_.setParameter(index, value);
    dirty_.store(true);
    return S_OK;
}

HRESULT AmpControls::getParameterName(int index, char* name, int nameBytes) {
    if (!name || nameBytes <= 0) return E_POINTER;
    const AmpParameterInfo* info = ampParameterInfo(index);
    if (!info) return E_INVALIDARG;
    int n = snprintf(name, size_t(nameBytes), "%s", info->name);
    return n < nameBytes ? S_OK : S_FALSE;  // S_FALSE: cut to fit
}

HRESULT AmpControls::resetState() {
    dsp_.requestReset();
    return S_OK;
}

HRESULT AmpControls::processBuffer(float* samples, int frames, int channels) {
    if (!samples) return E_POINTER;
    return dsp_.process(samples, frames, channels) ? S_OK : E_INVALIDARG;
}
