// The three-filter graph in the platform's graph manager: reader → test pass-through → dump, connected with
// the IEEE-float audio type. Taking it apart checks that every object's count reaches 0.
#pragma once

#include <gtest/gtest.h>

#include "filters/filters.h"
#include "passthrough.h"
#include "support/testenv.h"

// The connection type the entry uses: float, 18-byte format, no extra bytes.
AM_MEDIA_TYPE floatAudioType(int channels, int sampleRate, WORD formatTag = WAVE_FORMAT_IEEE_FLOAT);

// A filter created the way COM creates it: DllGetClassObject, then the factory.
IBaseFilter* createOurFilter(REFCLSID clsid);

// The single pin of a filter with one pin, with a reference.
IPin* onlyPin(IBaseFilter* filter);

class GraphTest : public HarnwickTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Adds the three filters and connects them.
    void connectAll(int channels, int sampleRate);
    // Disconnects, removes and releases everything, checking each count reaches 0.
    void takeApart();
    // Waits (up to waitMs) until the condition holds.
    template <class Cond>
    static bool waitFor(Cond cond, DWORD waitMs = 5000) {
        for (DWORD waited = 0; waited < waitMs; waited += 5) {
            if (cond()) return true;
            Sleep(5);
        }
        return cond();
    }

    SynthFilter* synth() { return synthFilterOf(reader_); }
    Dump* dump() { return dumpOf(writer_); }

    IGraphBuilder* graph_ = nullptr;
    IMediaControl* control_ = nullptr;
    IBaseFilter* reader_ = nullptr;
    IBaseFilter* writer_ = nullptr;
    IBaseFilter* plugin_ = nullptr;
    PassThroughFilter* pass_ = nullptr;
    IPin* readerPin_ = nullptr;
    IPin* writerPin_ = nullptr;
    PassThroughRegistration* registration_ = nullptr;
    bool comReady_ = false;
    bool takenApart_ = false;
};
