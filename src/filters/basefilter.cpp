// The base filter: identity, the three states, graph membership, pin lookup
// and the pin enumerator.
#include "filters/enumerator.h"

namespace {

class PinEnumerator : public PositionEnumerator<PinEnumerator, IEnumPins, IPin*, BaseFilter> {
public:
    PinEnumerator(BaseFilter* filter, int position)
        : PositionEnumerator("Pin enumerator", IID_IEnumPins, filter, position) {}
    bool exists(int position) { return holder()->pin(position) != nullptr; }
    bool fetch(int position, IPin** pin) {
        BasePin* found = holder()->pin(position);
        if (!found) return false;
        found->AddRef();
        *pin = found;
        return true;
    }
};

}  // namespace

BaseFilter::BaseFilter(const char* name, IUnknown* outer, CRITICAL_SECTION* lock, REFCLSID clsid)
    : ComObject(name, outer), lock_(lock), clsid_(clsid) {}

BaseFilter::~BaseFilter() {
    if (clock_) clock_->Release();
}

HRESULT STDMETHODCALLTYPE BaseFilter::NonDelegatingQueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    if (iid == IID_IBaseFilter || iid == IID_IMediaFilter || iid == IID_IPersist) {
        return returnInterface(static_cast<IBaseFilter*>(this), out);
    }
    return ComObject::NonDelegatingQueryInterface(iid, out);
}

HRESULT STDMETHODCALLTYPE BaseFilter::GetClassID(CLSID* clsid) {
    if (!clsid) return E_POINTER;
    *clsid = clsid_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE BaseFilter::Stop() {
    LockHold hold(lock_);
    HRESULT result = S_OK;
    if (state_ != State_Stopped) {
        // Every connected pin is told, even after one has failed.
        for (int i = 0; i < pinCount(); ++i) {
            BasePin* p = pin(i);
            if (!p || !p->isConnected()) continue;
            HRESULT hr = p->deactivate();
            if (FAILED(hr) && SUCCEEDED(result)) result = hr;
        }
    }
    state_ = State_Stopped;
    return result;
}

HRESULT STDMETHODCALLTYPE BaseFilter::Pause() {
    LockHold hold(lock_);
    if (state_ == State_Stopped) {
        for (int i = 0; i < pinCount(); ++i) {
            BasePin* p = pin(i);
            if (!p || !p->isConnected()) continue;
            HRESULT hr = p->activate();
            if (FAILED(hr)) return hr;
        }
    }
    state_ = State_Paused;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE BaseFilter::Run(REFERENCE_TIME start) {
    LockHold hold(lock_);
    startTime_ = start;
    if (state_ == State_Stopped) {
        HRESULT hr = Pause();
        if (FAILED(hr)) return hr;
    }
    if (state_ != State_Running) {
        for (int i = 0; i < pinCount(); ++i) {
            BasePin* p = pin(i);
            if (!p || !p->isConnected()) continue;
            HRESULT hr = p->run(start);
            if (FAILED(hr)) return hr;
        }
    }
    state_ = State_Running;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE BaseFilter::GetState(DWORD, FILTER_STATE* state) {
    if (!state) return E_POINTER;
    *state = state_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE BaseFilter::SetSyncSource(IReferenceClock* clock) {
    LockHold hold(lock_);
    if (clock) clock->AddRef();
    if (clock_) clock_->Release();
    clock_ = clock;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE BaseFilter::GetSyncSource(IReferenceClock** clock) {
    if (!clock) return E_POINTER;
    LockHold hold(lock_);
    *clock = clock_;
    if (clock_) clock_->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE BaseFilter::EnumPins(IEnumPins** pins) { return PinEnumerator::open(this, 0, pins); }

HRESULT STDMETHODCALLTYPE BaseFilter::FindPin(LPCWSTR id, IPin** found) {
    if (!id || !found) return E_POINTER;
    LockHold hold(lock_);
    for (int i = 0; i < pinCount(); ++i) {
        BasePin* p = pin(i);
        if (p && lstrcmpW(p->name(), id) == 0) {
            *found = p;
            p->AddRef();
            return S_OK;
        }
    }
    *found = nullptr;
    return VFW_E_NOT_FOUND;
}

HRESULT STDMETHODCALLTYPE BaseFilter::QueryFilterInfo(FILTER_INFO* info) {
    if (!info) return E_POINTER;
    lstrcpynW(info->achName, graphName_, MAX_FILTER_NAME);
    info->pGraph = graph_;
    if (graph_) graph_->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE BaseFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
    LockHold hold(lock_);
    graph_ = graph;
    eventSink_ = nullptr;
    if (graph) {
        // Kept without a count, like the graph itself (see above).
        IMediaEventSink* sink = nullptr;
        if (SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink)))) {
            eventSink_ = sink;
            sink->Release();
        }
    }
    if (name) {
        lstrcpynW(graphName_, name, MAX_FILTER_NAME);
    } else {
        graphName_[0] = 0;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE BaseFilter::QueryVendorInfo(LPWSTR*) { return E_NOTIMPL; }

HRESULT BaseFilter::notifyEvent(long code, LONG_PTR param1, LONG_PTR param2) {
    IMediaEventSink* sink = eventSink_;
    if (!sink) return E_NOTIMPL;
    // Completion names the filter that completed.
    if (code == EC_COMPLETE && param2 == 0) param2 = reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this));
    return sink->Notify(code, param1, param2);
}
