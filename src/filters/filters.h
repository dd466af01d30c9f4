// The live host's own filters and its COM server.
//
// - The reader filter (SynthFilter, "Harnwick reader"): the graph's source.
//   Its output pin "Audio Synth Stream" runs a worker thread that reads one
//   chunk of soundcard input (readInput) into each sample and delivers it.
//   The filter object holds the input stream.
// - The dump filter ("Dump"): the graph's renderer. The outer object Dump
//   owns the filter (DumpFilter), its input pin "Input" (DumpInputPin), the
//   filter-wide and receive locks and the output stream; each received sample
//   goes straight to writeOutput.
// - The COM server: the factory table of both filters, DllGetClassObject,
//   DllCanUnloadNow, DllRegisterServer and DllUnregisterServer (registry keys
//   and the filter mapper).
//
// How the entry reaches them: create both with CoCreateInstance (class ids
// below, IBaseFilter), then synthFilterOf(pReader)->input and
// dumpOf(pWriter)->output / ->filter->outputOpen are the streams that
// openInput/closeInput and openOutput/closeOutput work on.
#pragma once

#include "audio/audio.h"
#include "engine/outputstream.h"
#include "filters/framework.h"
#include "input/inputstream.h"

// {6A1C6D21-3F0B-4E4B-9C5A-2B7E8D10A4C1}
extern const CLSID CLSID_HarnwickReader;
// {6A1C6D22-3F0B-4E4B-9C5A-2B7E8D10A4C1}
extern const CLSID CLSID_HarnwickDump;

// ---------------------------------------------------------------- graph pointers

// The ten interface pointers of a hosting period, each owning one reference.
// The entry's graph builder sets and releases them. They live in this room,
// below the entry, because the reader filter reads pWriterPin while it is
// connected (the hand-over of the agreed format).
extern IGraphBuilder* pGraphBuilder;
extern IBaseFilter* pReader;
extern IBaseFilter* pWriter;
extern IBaseFilter* pPlugin;
extern IPin* pReaderPin;
extern IPin* pWriterPin;
extern IPin* pInPin;
extern IPin* pOutPin;
extern IMediaControl* pMC;
extern IMediaEvent* pME;

// ---------------------------------------------------------------- reader filter

class SynthStream;

class SynthFilter : public SourceFilter {
public:
    // The factory's create function: a new filter, or null with the failure in *result.
    static ComObject* create(IUnknown* outer, HRESULT* result);
    ~SynthFilter() override;

    // The input stream; input.channels, input.sampleRate and input.chunkFrames
    // are the filter's channel count, sample rate and chunk size.
    InputStream input;
    SynthStream* stream = nullptr;

private:
    SynthFilter(IUnknown* outer, HRESULT* result);
};

class SynthStream : public SourceStream {
public:
    explicit SynthStream(SynthFilter* filter);

    HRESULT fillBuffer(IMediaSample* sample) override;
    HRESULT checkMediaType(const AM_MEDIA_TYPE* mt) override;
    HRESULT setMediaType(const AM_MEDIA_TYPE* mt) override;
    HRESULT decideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* requested) override;

    // The worker is the graph's audio thread: raised for its life.
    HRESULT onThreadCreate() override;
    HRESULT onThreadDestroy() override;

    REFERENCE_TIME lastStopTime() const { return lastStop_; }

private:
    SynthFilter* synth_;  // the filter that owns this pin
    REFERENCE_TIME lastStop_ = 0;
    AudioThreadPriority priority_;
};

// The reader filter behind an IBaseFilter, or null when it is not ours.
SynthFilter* synthFilterOf(IBaseFilter* filter);

// ---------------------------------------------------------------- dump filter

class DumpFilter;
class DumpInputPin;

class Dump : public ComObject {
public:
    static ComObject* create(IUnknown* outer, HRESULT* result);
    ~Dump() override;

    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** out) override;

    DumpFilter* filter = nullptr;
    DumpInputPin* pin = nullptr;
    CRITICAL_SECTION filterLock;
    CRITICAL_SECTION receiveLock;
    PositionPassThru* position = nullptr;  // made on the first position request
    OutputStream output;

private:
    Dump(IUnknown* outer, HRESULT* result);
};

class DumpFilter : public BaseFilter {
public:
    DumpFilter(Dump* dump, IUnknown* outer, CRITICAL_SECTION* lock);

    int pinCount() override { return 1; }
    BasePin* pin(int index) override;
    const FilterSetup* setupData() override;
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override;

    Dump* dump;  // the outer object that owns this filter
    // Set by openOutput, cleared by closeOutput.
    int outputOpen = 0;
};

class DumpInputPin : public RenderedInputPin {
public:
    DumpInputPin(Dump* dump, DumpFilter* filter, CRITICAL_SECTION* lock, CRITICAL_SECTION* receiveLock);

    HRESULT activate() override;
    HRESULT deactivate() override;
    HRESULT checkMediaType(const AM_MEDIA_TYPE* mt) override;
    HRESULT getMediaType(int position, AM_MEDIA_TYPE* mt) override;
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override;
    HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override;

    // The format the reader filter handed over when it was connected.
    WAVEFORMATEX storedFormat;

private:
    Dump* dump_;  // the outer object that owns this pin
    CRITICAL_SECTION* receiveLock_;
};

// The dump's outer object behind an IBaseFilter, or null when it is not ours.
Dump* dumpOf(IBaseFilter* filter);
// The dump's input pin behind an IPin, or null when it is not ours.
DumpInputPin* dumpInputPinOf(IPin* pin);

// ---------------------------------------------------------------- COM server

// One entry of the factory table.
struct FactoryEntry {
    const WCHAR* name;
    const CLSID* clsid;
    ComObject* (*create)(IUnknown* outer, HRESULT* result);
    void (*init)(BOOL loading);  // none here
    const FilterSetup* setup;
};
const FactoryEntry* factoryTable();
int factoryCount();
const FilterSetup& readerSetup();
const FilterSetup& dumpSetup();

// Registers (true) or unregisters (false) the COM server keys and both filters.
HRESULT registerServer(bool registering);

// The DLL entry's work, kept apart so tests can run it: remembers the module
// instance on attach and runs the init routines.
void moduleAttach(HINSTANCE instance);
void moduleDetach();

// The exports (also callable inside the module).
extern "C" {
HRESULT WINAPI DllRegisterServer();
HRESULT WINAPI DllUnregisterServer();
HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out);
HRESULT WINAPI DllCanUnloadNow();
}
