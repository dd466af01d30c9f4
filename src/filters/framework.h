// The filter framework: our own base classes for DirectShow filters, written
// from the published interface contracts (strmif.h).
//
// How it works
// - ComObject: reference counting and a separate non-delegating lookup, so an
//   object can be aggregated. Every framework object counts itself in the
//   module's live-object count while it exists (DllCanUnloadNow reads it).
// - BaseFilter: IBaseFilter with the three states. The derived filter supplies
//   the pins (pinCount/pin) and the filter-wide lock; Stop/Pause/Run walk the
//   connected pins in index order (deactivate / activate / run).
// - BasePin: IPin and the connection protocol. A pin keeps no count of its
//   own: AddRef/Release go to the filter's owner, so a held pin keeps its
//   filter alive. The connected peer is held with one reference.
// - BaseOutputPin: the allocator decision at connect, commit on activate,
//   decommit on deactivate, delivery to the peer's IMemInputPin.
// - BaseInputPin: IMemInputPin; Receive tests the streaming state and reads
//   the sample properties before the derived receive hook runs.
// - RenderedInputPin: an input pin at the end of a graph; tells the graph
//   when the stream is complete.
// - SourceFilter / SourceStream: a filter whose output pins each run a worker
//   thread. Control calls (activate, deactivate) talk to the worker through a
//   one-slot command channel and wait for its answer; the worker fills and
//   delivers samples without holding the filter-wide lock.
// - PositionPassThru: answers IMediaPosition/IMediaSeeking for a renderer by
//   forwarding to the upstream output pin.
//
// Lock order: a filter-wide lock may be held while a worker is told to stop
// and waited for; the worker itself never takes the filter-wide lock.
#pragma once

#include <windows.h>
#include <strmif.h>
#include <control.h>
#include <uuids.h>
#include <mmreg.h>
#include <evcode.h>
#include <vfwmsgs.h>

#include <atomic>

// ---------------------------------------------------------------- objects

// The module's count of live framework objects and of server locks.
long liveObjectCount();
long serverLockCount();
void lockServer(bool lock);

// The lookup and counting of an object itself, apart from the outer object's.
struct INonDelegatingUnknown {
    virtual HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** out) = 0;
    virtual ULONG STDMETHODCALLTYPE NonDelegatingAddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE NonDelegatingRelease() = 0;
};

// Hands out an interface pointer with a reference added.
HRESULT returnInterface(IUnknown* itf, void** out);

class ComObject : public INonDelegatingUnknown {
public:
    // outer: the aggregating object, or null for a stand-alone object.
    ComObject(const char* name, IUnknown* outer);
    virtual ~ComObject();
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE NonDelegatingAddRef() override;
    ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;

    // The object that answers for this one's identity and count.
    IUnknown* owner() const { return owner_; }
    IUnknown* nonDelegatingUnknown() {
        return reinterpret_cast<IUnknown*>(static_cast<INonDelegatingUnknown*>(this));
    }
    const char* objectName() const { return name_; }

private:
    const char* name_;
    // Not counted: the outer object owns us, not the other way round.
    IUnknown* owner_;
    std::atomic<LONG> refs_{0};
};

// IUnknown of a class that implements COM interfaces: everything goes to the owner.
// IUnknown of a pin: its own lookup, counted on its filter.
#define HW_DECLARE_PIN_IUNKNOWN                                                                \
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {              \
        return NonDelegatingQueryInterface(iid, out);                                        \
    }                                                                                        \
    ULONG STDMETHODCALLTYPE AddRef() override { return filter_->owner()->AddRef(); }         \
    ULONG STDMETHODCALLTYPE Release() override { return filter_->owner()->Release(); }

#define HW_DECLARE_IUNKNOWN                                                                   \
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {              \
        return owner()->QueryInterface(iid, out);                                            \
    }                                                                                        \
    ULONG STDMETHODCALLTYPE AddRef() override { return owner()->AddRef(); }                  \
    ULONG STDMETHODCALLTYPE Release() override { return owner()->Release(); }

// ---------------------------------------------------------------- media types

// Frees the format block and the object pointer of a record, leaving it empty.
void freeMediaType(AM_MEDIA_TYPE& mt);
// Frees a record allocated with the COM task allocator, and its contents.
void deleteMediaType(AM_MEDIA_TYPE* mt);
// Deep copy into dst (which must hold nothing); E_OUTOFMEMORY when the format block cannot be had.
HRESULT copyMediaType(AM_MEDIA_TYPE& dst, const AM_MEDIA_TYPE& src);
// A COM-task-allocated deep copy, or null.
AM_MEDIA_TYPE* createMediaTypeCopy(const AM_MEDIA_TYPE& src);
bool mediaTypesEqual(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b);
// A type with no major type or no format type leaves the choice to the pins.
bool isPartiallySpecified(const AM_MEDIA_TYPE& mt);
// Whether full matches what partial does specify.
bool matchesPartial(const AM_MEDIA_TYPE& full, const AM_MEDIA_TYPE& partial);

// Audio media type from a wave format: major type audio, subtype from the
// format tag (or the extensible sub-format), fixed-size samples of one block.
// With withFormat the record gets a copy of the format (18 bytes for PCM).
HRESULT buildAudioMediaType(const WAVEFORMATEX& wfx, bool withFormat, AM_MEDIA_TYPE& mt);

// ---------------------------------------------------------------- filter

class BasePin;

// The filter mapper's registration record of one filter.
struct FilterSetup {
    const CLSID* clsid;
    const WCHAR* name;
    DWORD merit;
    UINT pinCount;
    const REGFILTERPINS* pins;
};

class BaseFilter : public ComObject, public IBaseFilter {
public:
    BaseFilter(const char* name, IUnknown* outer, CRITICAL_SECTION* lock, REFCLSID clsid);
    ~BaseFilter() override;

    HW_DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** out) override;

    // Hooks: the pins, 0-based; an index out of range gives null.
    virtual int pinCount() = 0;
    virtual BasePin* pin(int index) = 0;
    // The filter mapper's record, or null.
    virtual const FilterSetup* setupData() { return nullptr; }

    // IPersist
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override;
    // IMediaFilter
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Pause() override;
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override;
    HRESULT STDMETHODCALLTYPE GetState(DWORD waitMs, FILTER_STATE* state) override;
    HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock* clock) override;
    HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** clock) override;
    // IBaseFilter
    HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** pins) override;
    HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin** pin) override;
    HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) override;
    HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
    HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR* info) override;

    FILTER_STATE state() const { return state_; }
    bool isStopped() const { return state_ == State_Stopped; }
    bool isRunning() const { return state_ == State_Running; }
    CRITICAL_SECTION* filterLock() const { return lock_; }
    IFilterGraph* graph() const { return graph_; }
    // Hands an event to the graph's event sink; E_NOTIMPL when not in a graph.
    HRESULT notifyEvent(long code, LONG_PTR param1, LONG_PTR param2);

protected:
    CRITICAL_SECTION* lock_;  // supplied by the derived filter
    FILTER_STATE state_ = State_Stopped;
    REFERENCE_TIME startTime_ = 0;

private:
    CLSID clsid_;
    IReferenceClock* clock_ = nullptr;
    // Neither is counted: the graph holds the filter, so it outlives the membership.
    IFilterGraph* graph_ = nullptr;
    IMediaEventSink* eventSink_ = nullptr;
    WCHAR graphName_[MAX_FILTER_NAME] = {};
};

// Holds a critical section for a scope.
class LockHold {
public:
    explicit LockHold(CRITICAL_SECTION* lock) : lock_(lock) { EnterCriticalSection(lock_); }
    ~LockHold() { LeaveCriticalSection(lock_); }
    LockHold(const LockHold&) = delete;
    LockHold& operator=(const LockHold&) = delete;

private:
    CRITICAL_SECTION* lock_;
};

// ---------------------------------------------------------------- pins

class BasePin : public ComObject, public IPin, public IQualityControl {
public:
    BasePin(const char* objectName, BaseFilter* filter, CRITICAL_SECTION* lock, const WCHAR* pinName,
            PIN_DIRECTION direction);
    ~BasePin() override;

    HW_DECLARE_PIN_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** out) override;

    // Hooks.
    // S_OK accepts the type; anything else refuses it.
    virtual HRESULT checkMediaType(const AM_MEDIA_TYPE* mt) = 0;
    // Position 0 up; VFW_S_NO_MORE_ITEMS past the list.
    virtual HRESULT getMediaType(int position, AM_MEDIA_TYPE* mt);
    virtual HRESULT setMediaType(const AM_MEDIA_TYPE* mt);
    // Direction and transport of the peer.
    virtual HRESULT checkConnect(IPin* peer);
    virtual HRESULT completeConnect(IPin* peer);
    virtual HRESULT breakConnect();
    virtual HRESULT activate();
    virtual HRESULT deactivate();
    virtual HRESULT run(REFERENCE_TIME start);

    // IPin
    HRESULT STDMETHODCALLTYPE Connect(IPin* peer, const AM_MEDIA_TYPE* mt) override;
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) override;
    HRESULT STDMETHODCALLTYPE Disconnect() override;
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** peer) override;
    HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* mt) override;
    HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* info) override;
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* direction) override;
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override;
    HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* mt) override;
    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** types) override;
    HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin** pins, ULONG* count) override;
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override = 0;
    HRESULT STDMETHODCALLTYPE EndFlush() override = 0;
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;
    // IQualityControl
    HRESULT STDMETHODCALLTYPE Notify(IBaseFilter* sender, Quality q) override;
    HRESULT STDMETHODCALLTYPE SetSink(IQualityControl* sink) override;

    bool isConnected() const { return peer_ != nullptr; }
    IPin* peer() const { return peer_; }
    const AM_MEDIA_TYPE& connectionType() const { return mt_; }
    const WCHAR* name() const { return name_; }
    BaseFilter* filter() const { return filter_; }
    void setTryOwnTypesFirst(bool yes) { tryOwnTypesFirst_ = yes; }
    void setCanReconnectWhenActive(bool yes) { canReconnectWhenActive_ = yes; }

protected:
    HRESULT agreeMediaType(IPin* peer, const AM_MEDIA_TYPE* mt);
    HRESULT tryMediaTypes(IPin* peer, const AM_MEDIA_TYPE* partial, IEnumMediaTypes* types);
    HRESULT attemptConnection(IPin* peer, const AM_MEDIA_TYPE* mt);
    void dropConnection();

    BaseFilter* filter_;  // not counted: the filter owns its pins
    CRITICAL_SECTION* lock_;
    PIN_DIRECTION direction_;
    IPin* peer_ = nullptr;
    AM_MEDIA_TYPE mt_ = {};
    bool canReconnectWhenActive_ = false;
    bool tryOwnTypesFirst_ = false;
    REFERENCE_TIME segmentStart_ = 0;
    REFERENCE_TIME segmentStop_ = MAXLONGLONG;
    double segmentRate_ = 1.0;

private:
    WCHAR name_[MAX_PIN_NAME] = {};
};

class BaseOutputPin : public BasePin {
public:
    BaseOutputPin(const char* objectName, BaseFilter* filter, CRITICAL_SECTION* lock, const WCHAR* pinName);
    ~BaseOutputPin() override;

    // Hook: set count/size/alignment on the allocator and check what it granted.
    virtual HRESULT decideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* requested) = 0;

    HRESULT checkConnect(IPin* peer) override;
    HRESULT completeConnect(IPin* peer) override;
    HRESULT breakConnect() override;
    HRESULT activate() override;
    HRESULT deactivate() override;

    HRESULT STDMETHODCALLTYPE BeginFlush() override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE EndFlush() override { return E_UNEXPECTED; }

    // A free sample from the agreed allocator; blocks until one is free.
    HRESULT getDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop, DWORD flags);
    HRESULT deliver(IMediaSample* sample);
    HRESULT deliverEndOfStream();
    IMemAllocator* allocator() const { return allocator_; }

protected:
    HRESULT decideAllocator(IMemInputPin* peer, IMemAllocator** allocator);
    HRESULT tryAllocator(IMemInputPin* peer, IMemAllocator* allocator, ALLOCATOR_PROPERTIES requested);

    IMemInputPin* inputPin_ = nullptr;  // the peer's transport, counted
    IMemAllocator* allocator_ = nullptr;
};

class BaseInputPin : public BasePin, public IMemInputPin {
public:
    BaseInputPin(const char* objectName, BaseFilter* filter, CRITICAL_SECTION* lock, const WCHAR* pinName);
    ~BaseInputPin() override;

    HW_DECLARE_PIN_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** out) override;

    // Hook: one sample that passed the streaming test.
    virtual HRESULT receive(IMediaSample* sample);

    HRESULT breakConnect() override;
    HRESULT activate() override;
    HRESULT deactivate() override;

    // IPin
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;
    // IMemInputPin
    HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator** allocator) override;
    HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
    HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) override;
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override;
    HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample** samples, LONG count, LONG* done) override;
    HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override;

    // Stopped: VFW_E_WRONG_STATE; flushing: S_FALSE; a recorded error: VFW_E_RUNTIME_ERROR.
    HRESULT checkStreaming();
    void setRunTimeError() { runTimeError_ = true; }
    bool isFlushing() const { return flushing_; }
    // The properties of the sample being received.
    const AM_SAMPLE2_PROPERTIES& sampleProps() const { return sampleProps_; }

protected:
    HRESULT readSampleProps(IMediaSample* sample);

    IMemAllocator* allocator_ = nullptr;
    bool readOnly_ = false;
    std::atomic<bool> flushing_{false};
    std::atomic<bool> runTimeError_{false};
    AM_SAMPLE2_PROPERTIES sampleProps_ = {};
};

// An input pin at the end of a graph: tells the graph when its stream is complete.
class RenderedInputPin : public BaseInputPin {
public:
    RenderedInputPin(const char* objectName, BaseFilter* filter, CRITICAL_SECTION* lock, const WCHAR* pinName);

    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;
    HRESULT run(REFERENCE_TIME start) override;
    HRESULT activate() override;

    bool atEndOfStream() const { return atEndOfStream_; }

protected:
    void notifyCompletion();

    bool atEndOfStream_ = false;
    bool completeNotified_ = false;
};

// ---------------------------------------------------------------- source filter

class SourceStream;

class SourceFilter : public BaseFilter {
public:
    SourceFilter(const char* name, IUnknown* outer, REFCLSID clsid);
    ~SourceFilter() override;

    int pinCount() override;
    BasePin* pin(int index) override;
    // Pin k is found by the decimal text k (1-based).
    HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin** pin) override;

    // Makes room for this many stream pins; false when out of memory.
    bool reserveStreams(int slots);
    // Puts a stream into the next free slot; false when the table is full.
    bool addStream(SourceStream* stream);
    // 0-based slot of the stream, or -1.
    int streamIndex(const SourceStream* stream) const;
    CRITICAL_SECTION* stateLock() { return &stateLock_; }

private:
    CRITICAL_SECTION stateLock_;
    SourceStream** streams_ = nullptr;
    int streamSlots_ = 0;
    int streamCount_ = 0;
};

// An output pin with a worker thread that fills and delivers samples.
class SourceStream : public BaseOutputPin {
public:
    enum Command { CMD_INIT = 0, CMD_PAUSE = 1, CMD_RUN = 2, CMD_STOP = 3, CMD_EXIT = 4 };

    // Attaches itself to the filter's stream table.
    SourceStream(const char* objectName, SourceFilter* filter, const WCHAR* pinName);
    ~SourceStream() override;

    // Hooks.
    // Write the data, its length and times: S_OK delivers, S_FALSE ends the stream, a failure aborts.
    virtual HRESULT fillBuffer(IMediaSample* sample) = 0;
    virtual HRESULT onThreadCreate() { return S_OK; }
    virtual HRESULT onThreadDestroy() { return S_OK; }
    virtual HRESULT onThreadStartPlay() { return S_OK; }
    // The one type the pin offers; E_UNEXPECTED offers none.
    virtual HRESULT getSingleMediaType(AM_MEDIA_TYPE* mt);

    HRESULT getMediaType(int position, AM_MEDIA_TYPE* mt) override;
    HRESULT checkMediaType(const AM_MEDIA_TYPE* mt) override;
    HRESULT activate() override;
    HRESULT deactivate() override;
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override;

    bool hasWorker() const { return thread_ != nullptr; }
    // Ends a worker still running (normally it ends at Stop); waits for it.
    void stopWorker();

protected:
    SourceFilter* source_;

private:
    static DWORD WINAPI threadStart(void* self);
    DWORD threadBody();
    HRESULT processingLoop();
    // Control side: sends a command and waits for the worker's answer.
    HRESULT callWorker(Command cmd);
    // Worker side.
    Command waitCommand();
    bool commandPending(Command* cmd);
    void reply(HRESULT hr);
    void endWorker();

    HANDLE thread_ = nullptr;
    HANDLE commandEvent_ = nullptr;  // manual reset: set while a command waits
    HANDLE replyEvent_ = nullptr;    // auto reset: the answer is there
    CRITICAL_SECTION callLock_;      // one control call at a time
    volatile Command command_ = CMD_INIT;
    volatile HRESULT replyResult_ = S_OK;
};

// ---------------------------------------------------------------- position pass-through

// Answers IMediaPosition and IMediaSeeking for a filter by passing each call
// to the upstream output pin connected to the bound input pin.
class PositionPassThru : public ComObject, public IMediaSeeking, public IMediaPosition {
public:
    PositionPassThru(const char* name, IUnknown* outer, IPin* boundInput);

    HW_DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** out) override;

    // IMediaSeeking
    HRESULT STDMETHODCALLTYPE GetCapabilities(DWORD* caps) override;
    HRESULT STDMETHODCALLTYPE CheckCapabilities(DWORD* caps) override;
    HRESULT STDMETHODCALLTYPE IsFormatSupported(const GUID* format) override;
    HRESULT STDMETHODCALLTYPE QueryPreferredFormat(GUID* format) override;
    HRESULT STDMETHODCALLTYPE GetTimeFormat(GUID* format) override;
    HRESULT STDMETHODCALLTYPE IsUsingTimeFormat(const GUID* format) override;
    HRESULT STDMETHODCALLTYPE SetTimeFormat(const GUID* format) override;
    HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG* duration) override;
    HRESULT STDMETHODCALLTYPE GetStopPosition(LONGLONG* stop) override;
    HRESULT STDMETHODCALLTYPE GetCurrentPosition(LONGLONG* current) override;
    HRESULT STDMETHODCALLTYPE ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                                                const GUID* sourceFormat) override;
    HRESULT STDMETHODCALLTYPE SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                                           DWORD stopFlags) override;
    HRESULT STDMETHODCALLTYPE GetPositions(LONGLONG* current, LONGLONG* stop) override;
    HRESULT STDMETHODCALLTYPE GetAvailable(LONGLONG* earliest, LONGLONG* latest) override;
    HRESULT STDMETHODCALLTYPE SetRate(double rate) override;
    HRESULT STDMETHODCALLTYPE GetRate(double* rate) override;
    HRESULT STDMETHODCALLTYPE GetPreroll(LONGLONG* preroll) override;

    // IDispatch (not offered: the type library is not part of this module)
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* info, UINT* argError) override;
    // IMediaPosition
    HRESULT STDMETHODCALLTYPE get_Duration(REFTIME* length) override;
    HRESULT STDMETHODCALLTYPE put_CurrentPosition(REFTIME time) override;
    HRESULT STDMETHODCALLTYPE get_CurrentPosition(REFTIME* time) override;
    HRESULT STDMETHODCALLTYPE get_StopTime(REFTIME* time) override;
    HRESULT STDMETHODCALLTYPE put_StopTime(REFTIME time) override;
    HRESULT STDMETHODCALLTYPE get_PrerollTime(REFTIME* time) override;
    HRESULT STDMETHODCALLTYPE put_PrerollTime(REFTIME time) override;
    HRESULT STDMETHODCALLTYPE put_Rate(double rate) override;
    HRESULT STDMETHODCALLTYPE get_Rate(double* rate) override;
    HRESULT STDMETHODCALLTYPE CanSeekForward(LONG* can) override;
    HRESULT STDMETHODCALLTYPE CanSeekBackward(LONG* can) override;

private:
    template <class Itf, class Call>
    HRESULT forward(REFIID iid, Call call);

    IPin* boundInput_;  // not counted: the pin's filter owns this object
};
