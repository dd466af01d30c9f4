// The base filter: identity, the three states, graph membership, pin lookup
// and the pin enumerator.
#include "filters/framework.h"

#include <new>

namespace {

// Walks the filter's pins by index; holds the filter while it lives.
class PinEnumerator : public ComObject, public IEnumPins {
public:
    PinEnumerator(BaseFilter* filter, int position)
        : ComObject("Pin enumerator", nullptr), filter_(filter), position_(position) {
        filter_->AddRef();
    }
    ~PinEnumerator() override { filter_->Release(); }

    HW_DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_IEnumPins) return returnInterface(static_cast<IEnumPins*>(this), out);
        return ComObject::NonDelegatingQueryInterface(iid, out);
    }

    HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin** pins, ULONG* fetched) override {
        if (!pins || (count > 1 && !fetched)) return E_POINTER;
        ULONG got = 0;
        while (got < count) {
            BasePin* pin = filter_->pin(position_);
            if (!pin) break;
            ++position_;
            pins[got] = pin;
            pin->AddRef();
            ++got;
        }
        if (fetched) *fetched = got;
        return got == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        int total = filter_->pinCount();
        if (position_ + static_cast<int>(count) > total) {
            position_ = total;
            return S_FALSE;
        }
        position_ += static_cast<int>(count);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        position_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumPins** copy) override {
        if (!copy) return E_POINTER;
        auto* e = new (std::nothrow) PinEnumerator(filter_, position_);
        if (!e) {
            *copy = nullptr;
            return E_OUTOFMEMORY;
        }
        return e->NonDelegatingQueryInterface(IID_IEnumPins, reinterpret_cast<void**>(copy));
    }

private:
    BaseFilter* filter_;
    int position_;
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

HRESULT STDMETHODCALLTYPE BaseFilter::EnumPins(IEnumPins** pins) {
    if (!pins) return E_POINTER;
    auto* e = new (std::nothrow) PinEnumerator(this, 0);
    if (!e) {
        *pins = nullptr;
        return E_OUTOFMEMORY;
    }
    return e->NonDelegatingQueryInterface(IID_IEnumPins, reinterpret_cast<void**>(pins));
}

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
