// The source filter and its stream pins, each with a worker thread.
//
// How it works
// - Leaving Stopped (activate) commits the allocator, creates the worker and
//   sends it init and pause; entering Stopped (deactivate) decommits the
//   allocator first, which releases a worker blocked in GetBuffer, then sends
//   stop and exit and waits for the thread to end.
// - Commands travel through a one-slot channel: the control side writes the
//   command, sets commandEvent_ (manual reset) and waits for replyEvent_;
//   the worker reads it, clears commandEvent_ and answers. Only one control
//   call is in flight at a time (callLock_).
// - The worker's processing loop polls the channel between samples; it takes
//   no lock of the filter.
#include "filters/framework.h"

#include <cwchar>
#include <new>

#include "tracelog/trace.h"

// ---------------------------------------------------------------- SourceFilter

SourceFilter::SourceFilter(const char* name, IUnknown* outer, REFCLSID clsid)
    : BaseFilter(name, outer, &stateLock_, clsid) {
    InitializeCriticalSection(&stateLock_);
}

SourceFilter::~SourceFilter() {
    for (int i = 0; i < streamCount_; ++i) delete streams_[i];
    delete[] streams_;
    DeleteCriticalSection(&stateLock_);
}

bool SourceFilter::reserveStreams(int slots) {
    auto* table = new (std::nothrow) SourceStream*[slots];
    if (!table) return false;
    for (int i = 0; i < streamCount_; ++i) table[i] = streams_[i];
    delete[] streams_;
    streams_ = table;
    streamSlots_ = slots;
    return true;
}

bool SourceFilter::addStream(SourceStream* stream) {
    LockHold hold(&stateLock_);
    if (streamCount_ >= streamSlots_) return false;
    streams_[streamCount_++] = stream;
    return true;
}

int SourceFilter::streamIndex(const SourceStream* stream) const {
    for (int i = 0; i < streamCount_; ++i) {
        if (streams_[i] == stream) return i;
    }
    return -1;
}

int SourceFilter::pinCount() { return streamCount_; }

BasePin* SourceFilter::pin(int index) {
    if (index < 0 || index >= streamCount_) return nullptr;
    return streams_[index];
}

HRESULT STDMETHODCALLTYPE SourceFilter::FindPin(LPCWSTR id, IPin** found) {
    if (!id || !found) return E_POINTER;
    LockHold hold(&stateLock_);
    *found = nullptr;
    wchar_t* end = nullptr;
    long k = wcstol(id, &end, 10);
    if (end == id || *end != 0) return VFW_E_NOT_FOUND;
    BasePin* p = pin(static_cast<int>(k) - 1);
    if (!p) return VFW_E_NOT_FOUND;
    *found = p;
    p->AddRef();
    return S_OK;
}

// ---------------------------------------------------------------- SourceStream

SourceStream::SourceStream(const char* objectName, SourceFilter* filter, const WCHAR* pinName)
    : BaseOutputPin(objectName, filter, filter->stateLock(), pinName), source_(filter) {
    InitializeCriticalSection(&callLock_);
    commandEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    replyEvent_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    filter->addStream(this);
}

void SourceStream::stopWorker() {
    if (!thread_) return;
    if (allocator_) allocator_->Decommit();
    callWorker(CMD_STOP);
    callWorker(CMD_EXIT);
    endWorker();
}

SourceStream::~SourceStream() {
    // Normally the worker has ended at Stop; a pin destroyed while active ends it here.
    stopWorker();
    if (commandEvent_) CloseHandle(commandEvent_);
    if (replyEvent_) CloseHandle(replyEvent_);
    DeleteCriticalSection(&callLock_);
}

HRESULT SourceStream::getSingleMediaType(AM_MEDIA_TYPE*) { return E_UNEXPECTED; }

HRESULT SourceStream::getMediaType(int position, AM_MEDIA_TYPE* mt) {
    LockHold hold(lock_);
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    return getSingleMediaType(mt);
}

HRESULT SourceStream::checkMediaType(const AM_MEDIA_TYPE* mt) {
    LockHold hold(lock_);
    AM_MEDIA_TYPE own = {};
    HRESULT hr = getSingleMediaType(&own);
    bool same = hr == S_OK && mediaTypesEqual(own, *mt);
    freeMediaType(own);
    return same ? S_OK : E_FAIL;
}

HRESULT STDMETHODCALLTYPE SourceStream::QueryId(LPWSTR* id) {
    if (!id) return E_POINTER;
    *id = nullptr;
    int index = source_->streamIndex(this);
    if (index < 0) return VFW_E_NOT_FOUND;
    WCHAR text[16];
    wsprintfW(text, L"%d", index + 1);
    size_t bytes = (lstrlenW(text) + 1) * sizeof(WCHAR);
    *id = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (!*id) return E_OUTOFMEMORY;
    CopyMemory(*id, text, bytes);
    return S_OK;
}

HRESULT SourceStream::activate() {
    LockHold hold(lock_);
    if (!filter_->isStopped()) return S_FALSE;
    if (!isConnected()) return S_OK;
    HRESULT hr = BaseOutputPin::activate();
    if (FAILED(hr)) return hr;
    if (!commandEvent_ || !replyEvent_) return E_FAIL;
    thread_ = CreateThread(nullptr, 0, threadStart, this, 0, nullptr);
    if (!thread_) return E_FAIL;
    hr = callWorker(CMD_INIT);
    if (FAILED(hr)) {
        endWorker();
        return hr;
    }
    return callWorker(CMD_PAUSE);
}

HRESULT SourceStream::deactivate() {
    LockHold hold(lock_);
    if (!isConnected()) return S_OK;
    // Decommitting first releases a worker that waits for a free sample.
    HRESULT hr = BaseOutputPin::deactivate();
    if (thread_) {
        callWorker(CMD_STOP);
        callWorker(CMD_EXIT);
    }
    endWorker();
    return hr;
}

void SourceStream::endWorker() {
    if (!thread_) return;
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    thread_ = nullptr;
}

HRESULT SourceStream::callWorker(Command cmd) {
    LockHold hold(&callLock_);
    command_ = cmd;
    SetEvent(commandEvent_);
    // A worker that has already ended cannot answer.
    HANDLE waits[2] = {replyEvent_, thread_};
    DWORD woke = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    if (woke == WAIT_OBJECT_0) return replyResult_;
    ResetEvent(commandEvent_);
    return E_FAIL;
}

SourceStream::Command SourceStream::waitCommand() {
    WaitForSingleObject(commandEvent_, INFINITE);
    return command_;
}

bool SourceStream::commandPending(Command* cmd) {
    if (WaitForSingleObject(commandEvent_, 0) != WAIT_OBJECT_0) return false;
    *cmd = command_;
    return true;
}

void SourceStream::reply(HRESULT hr) {
    replyResult_ = hr;
    ResetEvent(commandEvent_);
    SetEvent(replyEvent_);
}

DWORD WINAPI SourceStream::threadStart(void* self) { return static_cast<SourceStream*>(self)->threadBody(); }

DWORD SourceStream::threadBody() {
    while (waitCommand() != CMD_INIT) reply(E_UNEXPECTED);
    HRESULT hr = onThreadCreate();
    if (FAILED(hr)) {
        onThreadDestroy();
        reply(hr);
        return 1;
    }
    reply(S_OK);

    Command cmd;
    do {
        cmd = waitCommand();
        switch (cmd) {
            case CMD_PAUSE:
            case CMD_RUN:
                reply(S_OK);
                processingLoop();
                break;
            case CMD_STOP:
            case CMD_EXIT:
                reply(S_OK);
                break;
            default:
                reply(E_NOTIMPL);
                break;
        }
    } while (cmd != CMD_EXIT);
    onThreadDestroy();
    return 0;
}

HRESULT SourceStream::processingLoop() {
    onThreadStartPlay();
    Command cmd;
    for (;;) {
        while (!commandPending(&cmd)) {
            IMediaSample* sample = nullptr;
            if (FAILED(getDeliveryBuffer(&sample, nullptr, nullptr, 0))) {
                Sleep(1);
                continue;
            }
            HRESULT hr = fillBuffer(sample);
            if (hr == S_OK) {
                hr = deliver(sample);
                sample->Release();
                if (hr != S_OK) {
                    TRACE(TRACE_DETAIL, "Delivery ended the stream: 0x%08lx", static_cast<unsigned long>(hr));
                    return S_OK;
                }
            } else if (hr == S_FALSE) {
                sample->Release();
                deliverEndOfStream();
                return S_OK;
            } else {
                sample->Release();
                deliverEndOfStream();
                filter_->notifyEvent(EC_ERRORABORT, hr, 0);
                return hr;
            }
        }
        if (cmd == CMD_PAUSE || cmd == CMD_RUN) {
            reply(S_OK);
        } else if (cmd == CMD_STOP) {
            return S_OK;  // answered by the thread body
        } else {
            reply(E_UNEXPECTED);
        }
    }
}
