// Reference-counted objects, the module's live-object count, and the media
// type record helpers.
#include "filters/framework.h"

#include <new>

namespace {
std::atomic<long> g_liveObjects{0};
std::atomic<long> g_serverLocks{0};
}  // namespace

long liveObjectCount() { return g_liveObjects.load(); }
long serverLockCount() { return g_serverLocks.load(); }

void lockServer(bool lock) {
    if (lock) {
        ++g_serverLocks;
    } else {
        --g_serverLocks;
    }
}

HRESULT returnInterface(IUnknown* itf, void** out) {
    *out = itf;
    itf->AddRef();
    return S_OK;
}

ComObject::ComObject(const char* name, IUnknown* outer)
    : name_(name), owner_(outer ? outer : nonDelegatingUnknown()) {
    ++g_liveObjects;
}

ComObject::~ComObject() { --g_liveObjects; }

HRESULT STDMETHODCALLTYPE ComObject::NonDelegatingQueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown) return returnInterface(nonDelegatingUnknown(), out);
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE ComObject::NonDelegatingAddRef() { return ++refs_; }

ULONG STDMETHODCALLTYPE ComObject::NonDelegatingRelease() {
    LONG left = --refs_;
    if (left == 0) {
        // A count of 1 while the destructor runs keeps a stray AddRef/Release
        // pair inside it from deleting the object a second time.
        refs_ = 1;
        delete this;
        return 0;
    }
    return static_cast<ULONG>(left);
}

// ---------------------------------------------------------------- media types

void freeMediaType(AM_MEDIA_TYPE& mt) {
    if (mt.cbFormat != 0 || mt.pbFormat) {
        CoTaskMemFree(mt.pbFormat);
        mt.cbFormat = 0;
        mt.pbFormat = nullptr;
    }
    if (mt.pUnk) {
        mt.pUnk->Release();
        mt.pUnk = nullptr;
    }
}

void deleteMediaType(AM_MEDIA_TYPE* mt) {
    if (!mt) return;
    freeMediaType(*mt);
    CoTaskMemFree(mt);
}

HRESULT copyMediaType(AM_MEDIA_TYPE& dst, const AM_MEDIA_TYPE& src) {
    dst = src;
    if (src.cbFormat != 0) {
        dst.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(src.cbFormat));
        if (!dst.pbFormat) {
            dst.cbFormat = 0;
            dst.pUnk = nullptr;
            return E_OUTOFMEMORY;
        }
        CopyMemory(dst.pbFormat, src.pbFormat, src.cbFormat);
    } else {
        dst.pbFormat = nullptr;
    }
    if (dst.pUnk) dst.pUnk->AddRef();
    return S_OK;
}

AM_MEDIA_TYPE* createMediaTypeCopy(const AM_MEDIA_TYPE& src) {
    auto* mt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (!mt) return nullptr;
    if (FAILED(copyMediaType(*mt, src))) {
        CoTaskMemFree(mt);
        return nullptr;
    }
    return mt;
}

bool mediaTypesEqual(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b) {
    return a.majortype == b.majortype && a.subtype == b.subtype && a.formattype == b.formattype &&
           a.cbFormat == b.cbFormat && (a.cbFormat == 0 || memcmp(a.pbFormat, b.pbFormat, a.cbFormat) == 0);
}

bool isPartiallySpecified(const AM_MEDIA_TYPE& mt) {
    return mt.majortype == GUID_NULL || mt.formattype == GUID_NULL;
}

bool matchesPartial(const AM_MEDIA_TYPE& full, const AM_MEDIA_TYPE& partial) {
    if (partial.majortype != GUID_NULL && partial.majortype != full.majortype) return false;
    if (partial.subtype != GUID_NULL && partial.subtype != full.subtype) return false;
    if (partial.formattype != GUID_NULL) {
        if (partial.formattype != full.formattype || partial.cbFormat != full.cbFormat) return false;
        if (partial.cbFormat != 0 && memcmp(partial.pbFormat, full.pbFormat, partial.cbFormat) != 0) return false;
    }
    return true;
}

HRESULT buildAudioMediaType(const WAVEFORMATEX& wfx, bool withFormat, AM_MEDIA_TYPE& mt) {
    ZeroMemory(&mt, sizeof(mt));
    mt.majortype = MEDIATYPE_Audio;
    if (wfx.wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
        mt.subtype = reinterpret_cast<const WAVEFORMATEXTENSIBLE&>(wfx).SubFormat;
    } else {
        // The audio base identifier with the format tag in its first 32 bits.
        mt.subtype = MEDIASUBTYPE_PCM;
        mt.subtype.Data1 = wfx.wFormatTag;
    }
    mt.formattype = FORMAT_WaveFormatEx;
    mt.bFixedSizeSamples = TRUE;
    mt.bTemporalCompression = FALSE;
    mt.lSampleSize = wfx.nBlockAlign;
    mt.pUnk = nullptr;
    if (!withFormat) return S_OK;

    ULONG formatBytes = sizeof(WAVEFORMATEX);
    if (wfx.wFormatTag != WAVE_FORMAT_PCM) formatBytes += wfx.cbSize;
    mt.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(formatBytes));
    if (!mt.pbFormat) return E_OUTOFMEMORY;
    mt.cbFormat = formatBytes;
    CopyMemory(mt.pbFormat, &wfx, formatBytes);
    if (wfx.wFormatTag == WAVE_FORMAT_PCM) reinterpret_cast<WAVEFORMATEX*>(mt.pbFormat)->cbSize = 0;
    return S_OK;
}
