// An in-place pass-through effect for tests: each sample its pin "In" receives goes on through its pin
// "Out" on the receiving thread. It counts what it sees, and it can be told to keep samples instead.
#pragma once

#include <atomic>

#include "filters/framework.h"

extern const CLSID CLSID_TestPassThrough;

class PassThroughFilter;

class PassThroughInput : public BaseInputPin {
public:
    explicit PassThroughInput(PassThroughFilter* filter);
    HRESULT checkMediaType(const AM_MEDIA_TYPE* mt) override;
    HRESULT receive(IMediaSample* sample) override;
    HRESULT STDMETHODCALLTYPE EndOfStream() override;

private:
    PassThroughFilter* owner_;
};

class PassThroughOutput : public BaseOutputPin {
public:
    explicit PassThroughOutput(PassThroughFilter* filter);
    HRESULT checkMediaType(const AM_MEDIA_TYPE* mt) override;
    HRESULT getMediaType(int position, AM_MEDIA_TYPE* mt) override;
    HRESULT decideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* requested) override;

private:
    PassThroughFilter* owner_;
};

class PassThroughFilter : public BaseFilter {
public:
    PassThroughFilter();
    ~PassThroughFilter() override;

    int pinCount() override { return 2; }
    BasePin* pin(int index) override;

    PassThroughInput input;
    PassThroughOutput output;

    // What went through, for the tests.
    std::atomic<int> samplesReceived{0};
    std::atomic<int> endsOfStream{0};
    std::atomic<LONGLONG> firstStart{-1}, firstStop{-1}, secondStart{-1}, secondStop{-1};
    std::atomic<long> secondLength{-1};
    std::atomic<HRESULT> lastDeliverResult{S_OK};
    // Set: samples are kept (one reference each) instead of delivered.
    std::atomic<bool> keepSamples{false};
    // Set: every pass-through input refuses every media type offered.
    static std::atomic<bool> refuseTypes;
    // Releases the kept samples.
    void releaseKept();

private:
    CRITICAL_SECTION lock_;
    static const int kMaxKept = 16;
    IMediaSample* kept_[kMaxKept] = {};
    std::atomic<int> keptCount_{0};
    friend class PassThroughInput;
};

// Makes CLSID_TestPassThrough creatable in this process (and apartment) for the life of the object.
class PassThroughRegistration {
public:
    PassThroughRegistration();
    ~PassThroughRegistration();
    bool ok() const { return cookie_ != 0; }

private:
    DWORD cookie_ = 0;
};
