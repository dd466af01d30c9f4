// The graph builder: creates the graph manager, both own filters and the
// plug-in, finds their pins, connects reader -> plug-in -> dump and takes it
// all apart. Everything runs on the host's calling thread; every COM result
// other than S_OK is traced, and only the creation steps decide whether a
// hosting period starts.
#include <cstdio>

#include "entry/entry.h"
#include "entry/hrcheck.h"
#include "plugin/harnwickamp.h"
#include "platform/platform.h"
#include "settings/settings.h"
#include "tracelog/trace.h"

namespace {

// Both release helpers and the creation helper treat exceptions alike.
template <typename Call>
HRESULT guarded(const char* action, Call call, HRESULT onException) {
    try {
        return call();
    } catch (const ComError& error) {
        showComError(error, action);
    } catch (...) {
        TRACE(TRACE_ERROR, "Ellipsis exception");
    }
    return onException;
}

// Releases three pins that were not wanted.
void releaseCandidates(IPin*& unwanted, IPin*& first, IPin*& second) {
    destroyInterface(unwanted, "pUnwantedPin");
    destroyInterface(first, "pPin_1");
    destroyInterface(second, "pPin_2");
}

}  // namespace

HRESULT internalQuillmarkCoCreateInstance(REFCLSID classId, REFIID interfaceId, void** object, const char* name) {
    *object = nullptr;
    HRESULT hr = guarded(
        "quillmarkCoCreateInstance",
        [&] { return CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, interfaceId, object); }, S_FALSE);
    CHECK_HR(hr);
    TRACE(TRACE_INFO, "Instanciated COM object %s = " PTR_FMT, name, PTR_ARG(*object));
    return hr;
}

int destroyUnknown(IUnknown* object, void** slot, const char* name) {
    if (!*slot) return 1;
    TRACE(TRACE_INFO, "Releasing interface %s = " PTR_FMT, name, PTR_ARG(*slot));
    ULONG count = 1;
    HRESULT hr = guarded(
        "destroyInterface",
        [&] {
            count = object->Release();
            return S_OK;
        },
        E_FAIL);
    if (hr != S_OK) return 0;
    if (count != 0) return 0;
    TRACE(TRACE_DETAIL, "Interface %s becomes unreferenced", name);
    *slot = nullptr;
    return 1;
}

int createGraph() {
    if (pGraphBuilder) return 1;
    HRESULT hr = internalQuillmarkCoCreateInstance(CLSID_FilterGraph, IID_IGraphBuilder,
                                                   reinterpret_cast<void**>(&pGraphBuilder), "(void **) &pGraphBuilder");
    if (hr == S_OK) {
        TRACE(TRACE_INFO, "Created GraphBuilder = " PTR_FMT, PTR_ARG(pGraphBuilder));
        return 1;
    }
    CHECK_HR(hr);
    TRACE(TRACE_ERROR, "Could not create GraphBuilder");
    return 0;
}

namespace {

// The reader and the dump are created alike: reuse, create, take the first pin.
int createOwnFilter(REFCLSID classId, IBaseFilter*& filter, IPin*& pin, const char* slotName, const char* createdFormat,
                    const char* function, const char* failure) {
    if (filter) return 1;
    HRESULT hr =
        internalQuillmarkCoCreateInstance(classId, IID_IBaseFilter, reinterpret_cast<void**>(&filter), slotName);
    if (hr == S_OK) {
        TRACE(TRACE_INFO, createdFormat, PTR_ARG(filter));
        getFirstPinFromIBaseFilter(filter, &pin);
        return 1;
    }
    checkResult(hr, __FILE__, function, __LINE__);
    TRACE(TRACE_ERROR, "%s", failure);
    return 0;
}

}  // namespace

int createSynth() {
    return createOwnFilter(CLSID_HarnwickReader, pReader, pReaderPin, "(void**)&pReader",
                           "Created Synth = " PTR_FMT, "createSynth", "Could not create Synth");
}

int createDump() {
    return createOwnFilter(CLSID_HarnwickDump, pWriter, pWriterPin, "(void**)&pWriter", "Created Dump = " PTR_FMT,
                           "createDump", "Could not create Dump");
}

int createPlugin() {
    HRESULT hr = internalQuillmarkCoCreateInstance(CLSID_HarnwickAmp, IID_IBaseFilter,
                                                   reinterpret_cast<void**>(&pPlugin), "(void**)&pPlugin");
    if (hr != S_OK || !pPlugin) {
        TRACE(TRACE_ERROR, "Could not create Plugin");
        return 0;
    }
    TRACE(TRACE_INFO, "Created pPlugin = " PTR_FMT, PTR_ARG(pPlugin));
    getPinsFromIBaseFilter(pPlugin, &pInPin, &pOutPin);
    return 1;
}

namespace {

// A pin counts on its filter, so its own release rarely reaches 0; once its
// filter is completely released the pin pointer points to nothing either.
void forgetPinsOfReleasedFilters() {
    if (!pReader) pReaderPin = nullptr;
    if (!pWriter) pWriterPin = nullptr;
    if (!pPlugin) pInPin = pOutPin = nullptr;
}

}  // namespace

int createFilters() {
    if (!createGraph()) return 0;
    if (!createSynth()) {
        destroyInterface(pGraphBuilder, "pGraphBuilder");
        return 0;
    }
    if (!createDump()) {
        destroyInterface(pGraphBuilder, "pGraphBuilder");
        destroyInterface(pReaderPin, "pReaderPin");
        destroyInterface(pReader, "pReader");
        forgetPinsOfReleasedFilters();
        return 0;
    }
    if (!createPlugin()) {
        destroyInterface(pGraphBuilder, "pGraphBuilder");
        destroyInterface(pReaderPin, "pReaderPin");
        destroyInterface(pReader, "pReader");
        destroyInterface(pWriterPin, "pWriterPin");
        destroyInterface(pWriter, "pWriter");
        forgetPinsOfReleasedFilters();
        return 0;
    }
    return 1;
}

int getFirstPinFromIBaseFilter(IBaseFilter* filter, IPin** pin) {
    *pin = nullptr;
    IEnumPins* iPinEnumerator = nullptr;
    HRESULT hr = filter->EnumPins(&iPinEnumerator);
    if (hr != S_OK) {
        CHECK_HR(hr);
        return 0;
    }
    CHECK_HR(iPinEnumerator->Reset());
    ULONG count = 0;
    CHECK_HR(iPinEnumerator->Next(1, pin, &count));
    destroyInterface(iPinEnumerator, "iPinEnumerator");
    return count == 1 && *pin ? 1 : 0;
}

int getPinsFromIBaseFilter(IBaseFilter* filter, IPin** input, IPin** output) {
    *input = nullptr;
    *output = nullptr;
    IEnumPins* iPinEnumerator = nullptr;
    HRESULT hr = filter->EnumPins(&iPinEnumerator);
    if (hr != S_OK) {
        CHECK_HR(hr);
        return 0;
    }
    IPin* first = nullptr;
    IPin* second = nullptr;
    IPin* unwanted = nullptr;
    ULONG count = 0;
    CHECK_HR(iPinEnumerator->Reset());
    CHECK_HR(iPinEnumerator->Next(1, &first, &count));
    CHECK_HR(iPinEnumerator->Next(1, &second, &count));
    count = 0;
    iPinEnumerator->Next(1, &unwanted, &count);
    destroyInterface(iPinEnumerator, "iPinEnumerator");

    if (count == 1 || unwanted) {
        TRACE(TRACE_WARNING, "Filter has more than 2 pins. Not for us!");
        releaseCandidates(unwanted, first, second);
        return 0;
    }
    // Fewer than two pins is refused like too many: neither slot may hold a
    // pin that cannot be connected as the plug-in's input or output.
    if (!first || !second) {
        TRACE(TRACE_WARNING, "Filter has less than 2 pins. Not for us!");
        releaseCandidates(unwanted, first, second);
        return 0;
    }
    // A pin whose direction cannot be asked counts as neither direction.
    const int unknown = -1;
    PIN_DIRECTION direction;
    int firstDirection = unknown, secondDirection = unknown;
    hr = first->QueryDirection(&direction);
    CHECK_HR(hr);
    if (hr == S_OK) firstDirection = direction;
    hr = second->QueryDirection(&direction);
    CHECK_HR(hr);
    if (hr == S_OK) secondDirection = direction;

    if (firstDirection == secondDirection) {
        TRACE(TRACE_WARNING, "Pin directoins are same for both pins");
        releaseCandidates(unwanted, first, second);
        return 0;
    }
    if (firstDirection == unknown || secondDirection == unknown) {
        TRACE(TRACE_WARNING, "Pin direction could not be asked");
        releaseCandidates(unwanted, first, second);
        return 0;
    }
    *input = firstDirection == PINDIR_INPUT ? first : second;
    *output = firstDirection == PINDIR_INPUT ? second : first;
    return 1;
}

namespace {

// The plug-in side's slots give their references back; a pin counts on its
// filter, so its release rarely reaches 0, and the slots are emptied here so
// that the final release does not give the same references back again.
void releasePluginSide() {
    destroyInterface(pInPin, "pInPin");
    destroyInterface(pOutPin, "pOutPin");
    destroyInterface(pPlugin, "pPlugin");
    pInPin = pOutPin = nullptr;
    pPlugin = nullptr;
}

}  // namespace

int createMC_ME() {
    TraceScope scope(__FILE__, __LINE__, "createMC_ME");
    HRESULT hr = pGraphBuilder->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&pMC));
    if (hr != S_OK) {
        pMC = nullptr;
        releasePluginSide();
        TRACE(TRACE_ERROR, "pGraphBuilder->QueryInterface(IID_IMediaControl fails");
        return 0;
    }
    hr = pGraphBuilder->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&pME));
    if (hr != S_OK) {
        destroyInterface(pMC, "pMC");
        pMC = nullptr;
        pME = nullptr;
        releasePluginSide();
        TRACE(TRACE_ERROR, "pGraphBuilder->QueryInterface(IID_IMediaEvent fails");
        return 0;
    }
    return 1;
}

void buildConnectionType(AM_MEDIA_TYPE& type, WAVEFORMATEX& format) {
    const int rate = readSampleRate();
    const int channels = readChannels();
    format = WAVEFORMATEX{};
    format.wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
    format.nChannels = static_cast<WORD>(channels);
    format.nSamplesPerSec = static_cast<DWORD>(rate);
    format.nBlockAlign = static_cast<WORD>(channels * 32 / 8);
    format.nAvgBytesPerSec = static_cast<DWORD>(rate) * format.nBlockAlign;
    format.wBitsPerSample = 32;
    format.cbSize = 0;

    type = AM_MEDIA_TYPE{};
    type.majortype = MEDIATYPE_Audio;
    type.subtype = MEDIASUBTYPE_IEEE_FLOAT;
    type.formattype = FORMAT_WaveFormatEx;
    type.bFixedSizeSamples = TRUE;
    type.bTemporalCompression = FALSE;
    type.lSampleSize = format.nBlockAlign;
    type.pUnk = nullptr;
    type.cbFormat = sizeof(WAVEFORMATEX);
    type.pbFormat = reinterpret_cast<BYTE*>(&format);
}

namespace {

// A pin call the graph manager is not asked to make for a pin that was never
// found: it fails as the platform answers a null pin, and is traced the same.
template <typename Call>
HRESULT withPin(IPin* pin, Call call) {
    return pin ? call() : E_POINTER;
}

}  // namespace

int connectFilterToGraph() {
    TraceScope scope(__FILE__, __LINE__, "connectFilterToGraph");
    // The format block lives on this stack frame: nothing to free afterwards.
    AM_MEDIA_TYPE type;
    WAVEFORMATEX format;
    buildConnectionType(type, format);
    CHECK_HR(pGraphBuilder->AddFilter(pPlugin, L"Filter"));
    CHECK_HR(pGraphBuilder->AddFilter(pReader, L"Reader"));
    CHECK_HR(pGraphBuilder->AddFilter(pWriter, L"Writer"));
    CHECK_HR(withPin(pInPin, [&] { return pGraphBuilder->ConnectDirect(pReaderPin, pInPin, &type); }));
    CHECK_HR(withPin(pOutPin, [&] { return pGraphBuilder->ConnectDirect(pOutPin, pWriterPin, &type); }));
    return 1;
}

int disconnectFilterFromGraph() {
    TraceScope scope(__FILE__, __LINE__, "disconnectFilterFromGraph");
    CHECK_HR(withPin(pWriterPin, [] { return pGraphBuilder->Disconnect(pWriterPin); }));
    CHECK_HR(withPin(pOutPin, [] { return pGraphBuilder->Disconnect(pOutPin); }));
    CHECK_HR(withPin(pReaderPin, [] { return pGraphBuilder->Disconnect(pReaderPin); }));
    CHECK_HR(withPin(pInPin, [] { return pGraphBuilder->Disconnect(pInPin); }));
    CHECK_HR(pGraphBuilder->RemoveFilter(pPlugin));
    CHECK_HR(pGraphBuilder->RemoveFilter(pReader));
    CHECK_HR(pGraphBuilder->RemoveFilter(pWriter));
    return 1;
}

int releaseFiltersAndMC() {
    TraceScope scope(__FILE__, __LINE__, "releaseFiltersAndMC");
    destroyInterface(pME, "pME");
    destroyInterface(pMC, "pMC");
    return 1;
}

void releaseInterfaces() {
    destroyInterface(pGraphBuilder, "pGraphBuilder");
    destroyInterface(pInPin, "pInPin");
    destroyInterface(pOutPin, "pOutPin");
    destroyInterface(pPlugin, "pPlugin");
    destroyInterface(pReaderPin, "pReaderPin");
    destroyInterface(pWriterPin, "pWriterPin");
    destroyInterface(pWriter, "pWriter");
    destroyInterface(pReader, "pReader");
    // Pins, media control and media event are parts of their objects: once
    // those are completely released they point to nothing.
    forgetPinsOfReleasedFilters();
    if (!pGraphBuilder) pMC = nullptr, pME = nullptr;
    TRACE(TRACE_INFO, "Is pGraphBuilder completely released? %s", pGraphBuilder ? "FALSE" : "TRUE");
    TRACE(TRACE_INFO, "Is pReader completely released? %s", pReader ? "FALSE" : "TRUE");
    TRACE(TRACE_INFO, "Is pWriter completely released? %s", pWriter ? "FALSE" : "TRUE");
    TRACE(TRACE_INFO, "Is pPlugin completely released? %s", pPlugin ? "FALSE" : "TRUE");
}
