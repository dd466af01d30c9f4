// The graph builder's pin search, releases, traces and media type, on fakes
// and on Wine's graph manager.
#include <cstring>

#include "entry/entry.h"
#include "support/fakefilter.h"
#include "settings/settings.h"
#include "support/testenv.h"
#include "tracelog/trace.h"

namespace {

class GraphBuilderTest : public HarnwickTest {
protected:
    void SetUp() override {
        HarnwickTest::SetUp();
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    }
    void TearDown() override {
        CoUninitialize();
        HarnwickTest::TearDown();
    }
};

TEST_F(GraphBuilderTest, TwoPinsOfOppositeDirectionsAreSortedByDirection) {
    FakePin out(PINDIR_OUTPUT), in(PINDIR_INPUT);
    FakeFilter filter;
    filter.pins = {&out, &in};
    IPin* input = nullptr;
    IPin* output = nullptr;
    ASSERT_EQ(1, getPinsFromIBaseFilter(&filter, &input, &output));
    EXPECT_EQ(&in, input);
    EXPECT_EQ(&out, output);
    EXPECT_EQ(2, in.refs) << "the slot keeps the enumerator's reference";
    EXPECT_EQ(2, out.refs);
    EXPECT_EQ(1, filter.refs) << "the enumerator is given back";
}

TEST_F(GraphBuilderTest, UnsuitablePinsAreRefusedAndReleased) {
    struct Case {
        const char* name;
        std::vector<PIN_DIRECTION> directions;
        HRESULT directionResult;
        const char* traced;
    } cases[] = {
        {"three pins", {PINDIR_INPUT, PINDIR_OUTPUT, PINDIR_OUTPUT}, S_OK, "Filter has more than 2 pins. Not for us!"},
        {"two inputs", {PINDIR_INPUT, PINDIR_INPUT}, S_OK, "Pin directoins are same for both pins"},
        {"two outputs", {PINDIR_OUTPUT, PINDIR_OUTPUT}, S_OK, "Pin directoins are same for both pins"},
        {"one pin", {PINDIR_INPUT}, S_OK, "Not for us!"},
        {"direction unknown", {PINDIR_INPUT, PINDIR_OUTPUT}, E_FAIL, "Function returned HRESULT = 0x80004005"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<FakePin> pins;
        for (PIN_DIRECTION d : c.directions) pins.emplace_back(d, c.directionResult);
        FakeFilter filter;
        for (FakePin& p : pins) filter.pins.push_back(&p);
        TraceRecorder trace;
        IPin* input = reinterpret_cast<IPin*>(1);
        IPin* output = reinterpret_cast<IPin*>(1);
        EXPECT_EQ(0, getPinsFromIBaseFilter(&filter, &input, &output));
        EXPECT_EQ(nullptr, input);
        EXPECT_EQ(nullptr, output);
        EXPECT_TRUE(trace.contains(c.traced));
        for (FakePin& p : pins) EXPECT_EQ(1, p.refs) << "every pin reference is given back";
        EXPECT_EQ(1, filter.refs) << "and the enumerator";
    }
}

TEST_F(GraphBuilderTest, FirstPinKeepsItsReference) {
    FakePin a(PINDIR_OUTPUT), b(PINDIR_INPUT);
    FakeFilter filter;
    filter.pins = {&a, &b};
    IPin* pin = nullptr;
    EXPECT_EQ(1, getFirstPinFromIBaseFilter(&filter, &pin));
    EXPECT_EQ(&a, pin);
    EXPECT_EQ(2, a.refs);
    EXPECT_EQ(1, b.refs);
    EXPECT_EQ(1, filter.refs) << "the enumerator is given back";
    FakeFilter empty;
    EXPECT_EQ(0, getFirstPinFromIBaseFilter(&empty, &pin));
    EXPECT_EQ(nullptr, pin);
}

TEST_F(GraphBuilderTest, DestroyInterfaceNullsOnlyTheLastReference) {
    TraceRecorder trace;
    IPin* none = nullptr;
    EXPECT_EQ(1, destroyInterface(none, "none"));
    EXPECT_TRUE(trace.lines().empty()) << "a null slot is not traced";

    FakePin shared(PINDIR_INPUT);
    shared.refs = 2;
    IPin* slot = &shared;
    EXPECT_EQ(0, destroyInterface(slot, "pShared"));
    EXPECT_EQ(&shared, slot) << "another holder still has it";
    EXPECT_EQ(1, destroyInterface(slot, "pShared"));
    EXPECT_EQ(nullptr, slot);
    std::vector<std::string> info = trace.texts(TRACE_INFO);
    ASSERT_EQ(2u, info.size());
    EXPECT_EQ(0u, info[0].find("Releasing interface pShared = 0x"));
    std::vector<std::string> detail = trace.texts(TRACE_DETAIL);
    ASSERT_EQ(1u, detail.size());
    EXPECT_EQ("Interface pShared becomes unreferenced", detail[0]);
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

TEST_F(GraphBuilderTest, ExceptionsInReleaseAreShownOrTraced) {
    MessageBoxRecorder boxes;
    TraceRecorder trace;
    ThrowingPin comPin(true);
    IPin* slot = &comPin;
    EXPECT_EQ(0, destroyInterface(slot, "pBad"));
    EXPECT_EQ(&comPin, slot);
    ASSERT_EQ(1u, boxes.calls().size());
    EXPECT_EQ("Error in action destroyInterface: 0x80040201 IDispatch error #1\n", boxes.calls()[0].text);
    EXPECT_EQ("Harnwick", boxes.calls()[0].caption);
    EXPECT_EQ(static_cast<UINT>(MB_ICONERROR), boxes.calls()[0].flags & MB_ICONMASK);
    EXPECT_EQ(nullptr, boxes.calls()[0].owner);

    ThrowingPin otherPin(false);
    slot = &otherPin;
    EXPECT_EQ(0, destroyInterface(slot, "pOdd"));
    EXPECT_EQ(1u, boxes.calls().size()) << "only COM errors reach the user";
    std::vector<std::string> errors = trace.texts(TRACE_ERROR);
    ASSERT_EQ(1u, errors.size());
    EXPECT_EQ("Ellipsis exception", errors[0]);
}

TEST_F(GraphBuilderTest, ComErrorTexts) {
    MessageBoxRecorder boxes;
    showComError(ComError{static_cast<HRESULT>(0x12345678), nullptr}, "quillmarkCoCreateInstance");
    showComError(ComError{E_OUTOFMEMORY, nullptr}, "quillmarkCoCreateInstance");
    ASSERT_EQ(2u, boxes.calls().size());
    EXPECT_EQ("Error in action quillmarkCoCreateInstance: 0x12345678 Unknown error 0x12345678\n",
              boxes.calls()[0].text);
    const std::string& system = boxes.calls()[1].text;
    EXPECT_EQ(0u, system.find("Error in action quillmarkCoCreateInstance: 0x8007000E "));
    EXPECT_GT(system.size(), strlen("Error in action quillmarkCoCreateInstance: 0x8007000E \n"))
        << "the system's own text is shown";
    EXPECT_EQ(std::string::npos, system.find("\r")) << "its line break is removed";
}

TEST_F(GraphBuilderTest, UnregisteredClassIsTracedWithItsResult) {
    TraceRecorder trace;
    const CLSID nowhere = {0x0badc0de, 0x1, 0x2, {3, 4, 5, 6, 7, 8, 9, 10}};
    IBaseFilter* filter = reinterpret_cast<IBaseFilter*>(1);
    HRESULT hr = internalQuillmarkCoCreateInstance(nowhere, IID_IBaseFilter, reinterpret_cast<void**>(&filter),
                                                   "(void**)&pNowhere");
    EXPECT_EQ(REGDB_E_CLASSNOTREG, hr);
    EXPECT_EQ(nullptr, filter);
    std::vector<TraceRecorder::Line> lines = trace.lines();
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(TRACE_WARNING, lines[0].level);
    EXPECT_EQ("hrcheck.h", lines[0].file) << "the check line is filed under its header";
    EXPECT_NE(std::string::npos, lines[0].text.find("internalQuillmarkCoCreateInstance"));
    EXPECT_NE(std::string::npos, lines[0].text.find("Function returned HRESULT = 0x80040154"));
    EXPECT_EQ(TRACE_INFO, lines[1].level);
    EXPECT_EQ("Instanciated COM object (void**)&pNowhere = 0x00000000", lines[1].text);
}

TEST_F(GraphBuilderTest, ConnectionTypeFollowsTheSettings) {
    AM_MEDIA_TYPE type;
    WAVEFORMATEX format;
    writeSettingText("srate", "8000");
    writeSettingText("channels", "1");
    buildConnectionType(type, format);
    EXPECT_TRUE(IsEqualGUID(MEDIATYPE_Audio, type.majortype));
    EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_IEEE_FLOAT, type.subtype));
    EXPECT_TRUE(IsEqualGUID(FORMAT_WaveFormatEx, type.formattype));
    EXPECT_TRUE(type.bFixedSizeSamples);
    EXPECT_FALSE(type.bTemporalCompression);
    EXPECT_EQ(18u, type.cbFormat);
    EXPECT_EQ(reinterpret_cast<BYTE*>(&format), type.pbFormat);
    EXPECT_EQ(4u, type.lSampleSize);
    EXPECT_EQ(3, format.wFormatTag);
    EXPECT_EQ(1, format.nChannels);
    EXPECT_EQ(8000u, format.nSamplesPerSec);
    EXPECT_EQ(32000u, format.nAvgBytesPerSec);
    EXPECT_EQ(4, format.nBlockAlign);
    EXPECT_EQ(32, format.wBitsPerSample);
    EXPECT_EQ(0, format.cbSize);

    writeSettingText("srate", "50");
    writeSettingText("channels", "0");
    buildConnectionType(type, format);
    EXPECT_EQ(44100u, format.nSamplesPerSec);
    EXPECT_EQ(2, format.nChannels);
    EXPECT_EQ(8, format.nBlockAlign);
    EXPECT_EQ(352800u, format.nAvgBytesPerSec);
}

TEST_F(GraphBuilderTest, MediaControlAndEventComeFromWinesGraphManagerAndGoWithIt) {
    ASSERT_EQ(1, createGraph());
    ASSERT_TRUE(pGraphBuilder != nullptr);
    IGraphBuilder* graph = pGraphBuilder;
    EXPECT_EQ(1, createGraph()) << "an existing graph is reused";
    EXPECT_EQ(graph, pGraphBuilder);

    FakeFilter plugin;
    FakePin in(PINDIR_INPUT), out(PINDIR_OUTPUT);
    plugin.refs = 2;  // the test keeps one: the plug-in is not completely released
    pPlugin = &plugin;
    pInPin = &in;
    pOutPin = &out;
    TraceRecorder trace;
    EXPECT_EQ(1, createMC_ME());
    EXPECT_TRUE(pMC && pME);
    releaseFiltersAndMC();
    releaseInterfaces();

    std::vector<std::string> info = trace.texts(TRACE_INFO);
    ASSERT_GE(info.size(), 4u);
    EXPECT_EQ("Is pGraphBuilder completely released? TRUE", info[info.size() - 4]);
    EXPECT_EQ("Is pReader completely released? TRUE", info[info.size() - 3]);
    EXPECT_EQ("Is pWriter completely released? TRUE", info[info.size() - 2]);
    EXPECT_EQ("Is pPlugin completely released? FALSE", info[info.size() - 1]);

    EXPECT_EQ(nullptr, pGraphBuilder);
    EXPECT_EQ(nullptr, pMC) << "the graph manager's own interfaces go with it";
    EXPECT_EQ(nullptr, pME);
    EXPECT_EQ(nullptr, pInPin);
    EXPECT_EQ(nullptr, pOutPin);
    EXPECT_EQ(&plugin, pPlugin);
    EXPECT_EQ(1, plugin.refs);
    pPlugin = nullptr;
}

// A graph manager that offers no media control or no media event.
class FakeGraph : public FakeUnknown<IGraphBuilder> {
public:
    bool control = true, event = true;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        *out = nullptr;
        if (IsEqualIID(iid, IID_IMediaControl) && control) *out = &mediaControl;
        if (IsEqualIID(iid, IID_IMediaEvent) && event) *out = &mediaEvent;
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
    // Parts of the graph: only their references matter, and those count on the graph.
    struct Part : IUnknown {
        FakeGraph* graph;
        explicit Part(FakeGraph* g) : graph(g) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOTIMPL; }
        ULONG STDMETHODCALLTYPE AddRef() override { return graph->AddRef(); }
        ULONG STDMETHODCALLTYPE Release() override { return graph->Release(); }
    } mediaControl{this}, mediaEvent{this};
};

TEST_F(GraphBuilderTest, MissingMediaControlOrEventReleasesThePluginSideOnce) {
    for (bool control : {false, true}) {
        SCOPED_TRACE(control ? "no media event" : "no media control");
        FakeGraph graph;
        graph.control = control;
        graph.event = false;
        FakeFilter plugin;  // the test's reference, the slot's, and one for each pin slot
        FakePin in(PINDIR_INPUT, S_OK, &plugin.refs), out(PINDIR_OUTPUT, S_OK, &plugin.refs);
        plugin.refs = 4;
        pGraphBuilder = &graph;
        pPlugin = &plugin;
        pInPin = &in;
        pOutPin = &out;
        graph.refs = 2;  // the test's and the slot's
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
