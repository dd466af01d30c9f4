// The graph builder's pin search, releases, messages, media type and media
// control, on fakes.
#include "entry/entry.h"
#include "settings/settings.h"
#include "support/fakefilter.h"
#include "support/testenv.h"
#include "tracelog/trace.h"

namespace {

using GraphBuilderTest = HarnwickTest;

TEST_F(GraphBuilderTest, PinsAreSortedByDirectionAndUnsuitableOnesRefusedAndReleased) {
    struct Case {
        std::vector<PIN_DIRECTION> directions;
        HRESULT directionResult;
        const char* traced;  // null: accepted
    } cases[] = {
        {{PINDIR_OUTPUT, PINDIR_INPUT}, S_OK, nullptr},
        {{PINDIR_INPUT, PINDIR_OUTPUT, PINDIR_OUTPUT}, S_OK, "Filter has more than 2 pins. Not for us!"},
        {{PINDIR_INPUT, PINDIR_INPUT}, S_OK, "Pin directoins are same for both pins"},
        {{PINDIR_OUTPUT, PINDIR_OUTPUT}, S_OK, "Pin directoins are same for both pins"},
        {{PINDIR_INPUT}, S_OK, "Not for us!"},
        {{PINDIR_INPUT, PINDIR_OUTPUT}, E_FAIL, "Function returned HRESULT = 0x80004005"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.traced ? c.traced : "accepted");
        std::vector<FakePin> pins;
        for (PIN_DIRECTION d : c.directions) pins.emplace_back(d, c.directionResult);
        FakeFilter filter;
        for (FakePin& p : pins) filter.pins.push_back(&p);
        TraceRecorder trace;
        IPin *input = reinterpret_cast<IPin*>(1), *output = input;
        EXPECT_EQ(c.traced ? 0 : 1, getPinsFromIBaseFilter(&filter, &input, &output));
        EXPECT_EQ(c.traced ? nullptr : &pins[1], input);
        EXPECT_EQ(c.traced ? nullptr : &pins[0], output);
        EXPECT_TRUE(!c.traced || trace.contains(c.traced));
        for (FakePin& p : pins) EXPECT_EQ(c.traced ? 1 : 2, p.refs) << "a kept pin keeps the enumerator's reference";
        EXPECT_EQ(1, filter.refs) << "the enumerator is given back";
    }
}

// A pin whose Release raises a COM error or something else entirely.
class ThrowingPin : public FakePin {
public:
    explicit ThrowingPin(bool comError) : FakePin(PINDIR_INPUT), com(comError) {}
    ULONG STDMETHODCALLTYPE Release() override {
        if (com) throw ComError{static_cast<HRESULT>(0x80040201), nullptr};
        throw 42;
    }
    bool com;
};

TEST_F(GraphBuilderTest, DestroyInterfaceNullsOnlyTheLastReference) {
    IPin* none = nullptr;
    EXPECT_EQ(1, destroyInterface(none, "none"));
    FakePin shared(PINDIR_INPUT);
    shared.refs = 2;
    IPin* slot = &shared;
    EXPECT_EQ(0, destroyInterface(slot, "pShared"));
    EXPECT_EQ(&shared, slot) << "another holder still has it";
    EXPECT_EQ(1, destroyInterface(slot, "pShared"));
    EXPECT_EQ(nullptr, slot);
}

TEST_F(GraphBuilderTest, ComErrorsReachTheUserWithTheirTextOtherExceptionsOnlyTheTrace) {
    MessageBoxRecorder boxes;
    TraceRecorder trace;
    ThrowingPin comPin(true), otherPin(false);
    for (ThrowingPin* pin : {&comPin, &otherPin}) {
        IPin* slot = pin;
        EXPECT_EQ(0, destroyInterface(slot, "pBad"));
        EXPECT_EQ(pin, slot);
    }
    EXPECT_EQ(std::vector<std::string>{"Ellipsis exception"}, trace.texts(TRACE_ERROR));
    showComError(ComError{static_cast<HRESULT>(0x12345678), nullptr}, "quillmarkCoCreateInstance");
    showComError(ComError{E_OUTOFMEMORY, nullptr}, "quillmarkCoCreateInstance");
    ASSERT_EQ(3u, boxes.calls().size());
    EXPECT_EQ("Harnwick", boxes.calls()[0].caption);
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), boxes.calls()[0].flags & MB_ICONMASK);
    EXPECT_EQ("Error in action destroyInterface: 0x80040201 IDispatch error #1\n", boxes.calls()[0].text);
    EXPECT_EQ("Error in action quillmarkCoCreateInstance: 0x12345678 Unknown error 0x12345678\n",
              boxes.calls()[1].text);
    const std::string& system = boxes.calls()[2].text;
    const std::string start = "Error in action quillmarkCoCreateInstance: 0x8007000E ";
    EXPECT_EQ(0u, system.find(start));
    EXPECT_GT(system.size(), start.size() + 1) << "the system's own text is shown";
    EXPECT_EQ(std::string::npos, system.find("\r")) << "its line break is removed";
}

TEST_F(GraphBuilderTest, ConnectionTypeFollowsTheSettings) {
    struct Case {
        const char *srate, *channels;
        DWORD rate;
        WORD expectedChannels;
    } cases[] = {{"8000", "1", 8000, 1}, {"50", "0", 44100, 2}};
    for (const Case& c : cases) {
        writeSettingText("srate", c.srate);
        writeSettingText("channels", c.channels);
        AM_MEDIA_TYPE type;
        WAVEFORMATEX format;
        buildConnectionType(type, format);
        EXPECT_EQ(18u, type.cbFormat);
        EXPECT_EQ(reinterpret_cast<BYTE*>(&format), type.pbFormat);
        const DWORD blockAlign = 4 * c.expectedChannels;
        EXPECT_EQ(blockAlign, type.lSampleSize);
        EXPECT_EQ(std::vector<DWORD>({WAVE_FORMAT_IEEE_FLOAT, c.expectedChannels, c.rate, c.rate * blockAlign,
                                      blockAlign, 32, 0}),
                  std::vector<DWORD>({format.wFormatTag, format.nChannels, format.nSamplesPerSec,
                                      format.nAvgBytesPerSec, format.nBlockAlign, format.wBitsPerSample, format.cbSize}))
            << c.srate << " " << c.channels;
    }
}

// A graph manager that offers no media control or no media event.
class FakeGraph : public FakeUnknown<IGraphBuilder> {
public:
    bool control = true;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        *out = IsEqualIID(iid, IID_IMediaControl) && control ? &part : nullptr;
        if (!*out) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE AddFilter(IBaseFilter*, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RemoveFilter(IBaseFilter*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumFilters(IEnumFilters**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE FindFilterByName(LPCWSTR, IBaseFilter**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ConnectDirect(IPin*, IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reconnect(IPin*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Disconnect(IPin*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetDefaultSyncSource() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Connect(IPin*, IPin*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Render(IPin*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RenderFile(LPCWSTR, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AddSourceFilter(LPCWSTR, LPCWSTR, IBaseFilter**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetLogFile(DWORD_PTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Abort() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ShouldOperationContinue() override { return E_NOTIMPL; }
    // The media control: only its references matter, and those count on the graph.
    struct Part : IUnknown {
        FakeGraph* graph;
        explicit Part(FakeGraph* g) : graph(g) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOTIMPL; }
        ULONG STDMETHODCALLTYPE AddRef() override { return graph->AddRef(); }
        ULONG STDMETHODCALLTYPE Release() override { return graph->Release(); }
    } part{this};
};

TEST_F(GraphBuilderTest, MissingMediaControlOrEventReleasesThePluginSideOnce) {
    for (bool control : {false, true}) {
        SCOPED_TRACE(control ? "no media event" : "no media control");
        FakeGraph graph;
        graph.control = control;
        FakeFilter plugin;  // the test's reference, the slot's, and one for each pin slot
        FakePin in(PINDIR_INPUT, S_OK, &plugin.refs), out(PINDIR_OUTPUT, S_OK, &plugin.refs);
        plugin.refs = 4;
        graph.refs = 2;  // the test's and the slot's
        pGraphBuilder = &graph;
        pPlugin = &plugin;
        pInPin = &in;
        pOutPin = &out;
        EXPECT_EQ(0, createMC_ME());
        releaseInterfaces();  // what the entry does next
        EXPECT_EQ(1, plugin.refs) << "each reference of the plug-in side is given back exactly once";
        EXPECT_EQ(1, graph.refs);
        EXPECT_EQ(nullptr, pPlugin);
        EXPECT_EQ(nullptr, pInPin);
        EXPECT_EQ(nullptr, pOutPin);
        pGraphBuilder = nullptr;
        pMC = nullptr;
        pME = nullptr;
    }
}

}  // namespace
