// A replaceable callback with its context, as tests install to watch the
// trace room (trace lines, the client's error reports). Two slots, so a call
// in flight on another thread never sees a half-written observer.
#pragma once

#include <atomic>

template <typename Fn>
class ObserverHolder {
public:
    void set(Fn fn, void* context) {
        if (!fn) {
            current_.store(nullptr);
            return;
        }
        Slot& slot = slots_[next_];
        next_ ^= 1;
        slot = {fn, context};
        current_.store(&slot);
    }

    template <typename... Args>
    void notify(Args... args) const {
        if (const Slot* slot = current_.load()) slot->fn(slot->context, args...);
    }

private:
    struct Slot {
        Fn fn;
        void* context;
    };
    std::atomic<Slot*> current_{nullptr};
    Slot slots_[2] = {};
    int next_ = 0;
};
