// The enumerators of the framework (pins of a filter, media types of a pin)
// walk a list by position through a fetch step of the derived class; the
// list's holder is kept alive with one reference while an enumerator lives.
#pragma once

#include <new>

#include "filters/framework.h"

// Derived supplies: Derived(Holder*, int position) and
// bool fetch(int position, Item* item), which fills *item with a reference or
// a copy of its own, or answers false past the end of the list.
template <class Derived, class Itf, class Item, class Holder>
class PositionEnumerator : public ComObject, public Itf {
public:
    PositionEnumerator(const char* name, REFIID iid, Holder* holder, int position)
        : ComObject(name, nullptr), iid_(iid), holder_(holder), position_(position) {
        holder_->AddRef();
    }
    ~PositionEnumerator() override { holder_->Release(); }

    HW_DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == iid_) return returnInterface(static_cast<Itf*>(this), out);
        return ComObject::NonDelegatingQueryInterface(iid, out);
    }

    HRESULT STDMETHODCALLTYPE Next(ULONG count, Item* items, ULONG* fetched) override {
        if (!items || (count > 1 && !fetched)) return E_POINTER;
        ULONG got = 0;
        while (got < count && derived()->fetch(position_, &items[got])) {
            ++position_;
            ++got;
        }
        if (fetched) *fetched = got;
        return got == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        for (ULONG i = 0; i < count; ++i) {
            if (!derived()->exists(position_)) return S_FALSE;
            ++position_;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        position_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(Itf** copy) override { return open(holder_, position_, copy); }

    // A new enumerator at the position, handed out with one reference.
    static HRESULT open(Holder* holder, int position, Itf** out) {
        if (!out) return E_POINTER;
        auto* e = new (std::nothrow) Derived(holder, position);
        if (!e) {
            *out = nullptr;
            return E_OUTOFMEMORY;
        }
        return e->NonDelegatingQueryInterface(e->iid_, reinterpret_cast<void**>(out));
    }

protected:
    Holder* holder() const { return holder_; }

private:
    Derived* derived() { return static_cast<Derived*>(this); }

    const IID& iid_;
    Holder* holder_;
    int position_;
};
