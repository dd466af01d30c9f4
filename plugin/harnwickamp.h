// The Harnwick amplifier plug-in's public face, shared by the plug-in and the
// live host: its class id and its private direct-processing interface.
#pragma once

#include <windows.h>
#include <unknwn.h>

// {8C5FA956-AA2A-4623-8BDC-E495166C892E}
static const GUID CLSID_HarnwickAmp = {0x8c5fa956, 0xaa2a, 0x4623, {0x8b, 0xdc, 0xe4, 0x95, 0x16, 0x6c, 0x89, 0x2e}};

// {750601E4-EF34-4F45-B763-C128B91FA2C1}
static const GUID IID_IHarnwickAmpDirect = {0x750601e4, 0xef34, 0x4f45, {0xb7, 0x63, 0xc1, 0x28, 0xb9, 0x1f, 0xa2, 0xc1}};

// Direct processing without a running graph. processBuffer must stay the
// ninth entry of the method table (after IUnknown's three and the five below):
// hosts call it by that position.
struct IHarnwickAmpDirect : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE getParameterCount(int* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE getParameter(int index, float* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE setParameter(int index, float value) = 0;
    virtual HRESULT STDMETHODCALLTYPE getParameterName(int index, char* name, int nameBytes) = 0;
    virtual HRESULT STDMETHODCALLTYPE resetState() = 0;
    // Processes interleaved float frames in place; full scale is +-1.0.
    virtual HRESULT STDMETHODCALLTYPE processBuffer(float* samples, int frames, int channels) = 0;
};
